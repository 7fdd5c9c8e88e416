#pragma once

#include <boost/lockfree/spsc_queue.hpp>
#include <cstddef>
#include <memory>

// Pass-through tap between the music and the device: what is played is also
// copied into a single-producer single-consumer lock-free ring buffer that
// the main thread drains. The audio thread never waits, locks or allocates;
// frames that do not fit are dropped.
class TapNode {
  public:
    static constexpr std::size_t kCapacityFrames = 8192;
    static constexpr unsigned kMaxChannels = 8;

    TapNode();
    ~TapNode();
    TapNode(const TapNode&) = delete;
    TapNode& operator=(const TapNode&) = delete;

    // Main thread, while the audio thread does not use the tap.
    bool init(unsigned channels, std::size_t capacityFrames = kCapacityFrames);
    void release();
    bool ready() const { return ring != nullptr; }
    unsigned channelCount() const { return channels; }

    // Audio thread: copies `frames` frames from `in` to `out` (they may be the
    // same buffer) and as many as fit into the ring. Returns the frames queued.
    std::size_t process(const float* in, float* out, std::size_t frames);

    // Main thread: up to `maxFrames` whole frames into `out`; returns how many.
    std::size_t read(float* out, std::size_t maxFrames);

  private:
    std::unique_ptr<boost::lockfree::spsc_queue<float>> ring;
    unsigned channels = 2;
};
