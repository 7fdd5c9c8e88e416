#pragma once

#include <cstddef>
#include <memory>

// The music player: plays one track on the sound device, copies what is
// played into a lock-free ring buffer on the audio thread, and measures bass
// and treble from it on the main thread.
class Audio {
  public:
    Audio();
    ~Audio();
    Audio(const Audio&) = delete;
    Audio& operator=(const Audio&) = delete;

    bool loadFile(const char* path);
    // The bytes must stay valid while the sound exists (they are not copied).
    bool loadMemory(const void* bytes, std::size_t size);
    void play();
    void pause();
    void resume();
    void seek(double seconds);
    // Where the music goes on, without a gap, when it reaches its end.
    void setLoopStart(double seconds);
    // The demo clock wrapped to `seconds`. The music loops by itself at the
    // same point, so it is moved only when it has drifted from the clock by
    // more than kSyncTolerance: a seek here would otherwise be heard twice.
    void syncLoop(double seconds);
    // The music time that the device is handed next (0 without music).
    double positionSeconds() const;
    void update();
    float bass() const;
    float treble() const;
    double lengthSeconds() const;
    void unload();

    struct Block;

    // The device's format: the analysis and the sound convert to it.
    static constexpr int kEngineRate = 48000;
    static constexpr unsigned kEngineChannels = 2;
    // 40 ms, which SDL's pacing (in whole milliseconds) keeps exactly.
    static constexpr int kPeriodFrames = 1920;
    // How far ahead of the clock the music may be handed to the device in
    // steady play: two periods and a frame.
    static constexpr double kSyncTolerance = 2.0 * kPeriodFrames / kEngineRate + 1.0 / 60.0;

  private:
    bool setUpEngine();
    void setUpTap();

    std::unique_ptr<Block> state;
    bool paused = false;
};
