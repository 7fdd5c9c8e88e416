#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

struct SystemSound;

// The device the music is heard on. It pulls interleaved float frames from
// `fill` in periods, on its own schedule: on the desktop the platform's own
// sound system where it answers (audio/system_sound.h), else SDL's audio
// thread; the page's Web Audio callback in the browser. Nothing else here
// differs between them.
class SoundOutput {
  public:
    using Fill = void (*)(void* user, float* out, std::size_t frames);

    // Starts pulling at once; the object must stay where it is until close.
    // False when no device can be opened.
    bool open(int rate, unsigned channelCount, int periodFrames, Fill callback, void* context);
    // Once it returns, `fill` is no longer called.
    void close();
    bool isOpen() const { return device != 0 || system != nullptr; }

    // Frames between a buffer's handing and its first frame being heard, as
    // the platform tells it: written by the platform layer, read by the main
    // thread.
    std::atomic<int> latencyFrames{0};

    // What the device's callback calls.
    Fill fill = nullptr;
    void* user = nullptr;
    unsigned channels = 0;

  private:
    std::uint32_t device = 0;
    SystemSound* system = nullptr;
};
