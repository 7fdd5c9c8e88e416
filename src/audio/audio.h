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
    void update();
    float bass() const;
    float treble() const;
    double lengthSeconds() const;
    void unload();

    struct Block;

    // The device's format: the analysis and the sound convert to it.
    static constexpr int kEngineRate = 48000;
    static constexpr unsigned kEngineChannels = 2;
    static constexpr int kPeriodFrames = 2048;

  private:
    bool setUpEngine();
    void setUpTap();

    std::unique_ptr<Block> state;
    bool paused = false;
};
