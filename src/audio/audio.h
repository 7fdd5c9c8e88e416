#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// Where the music is being played: a time inside the track, and how many
// times it has flowed from its end into the loop start to get there.
struct MusicPosition {
    double seconds = 0.0;
    std::uint64_t loops = 0;
};

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
    // The music time that the device is handed next (0 without music).
    double positionSeconds() const;
    // Where the music is being played now: the start of the buffer the device
    // was last handed plus the time since, at the device's own pace. False
    // when that cannot be told: no music, paused, a seek not yet carried out,
    // or a device that has stopped asking for sound.
    bool playPosition(MusicPosition& out) const;
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
    // A device that has not asked for sound for this long is taken as stopped.
    static constexpr double kStalledSeconds = 0.5;

  private:
    bool setUpEngine();
    void setUpTap();

    std::unique_ptr<Block> state;
    bool paused = false;
};
