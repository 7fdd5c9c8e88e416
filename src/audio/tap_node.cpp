#include "audio/tap_node.h"

#include <algorithm>
#include <cstring>

TapNode::TapNode() = default;

TapNode::~TapNode() = default;

bool TapNode::init(unsigned channelCount, std::size_t capacityFrames) {
    release();
    if (channelCount == 0 || channelCount > kMaxChannels || capacityFrames == 0) {
        return false;
    }
    channels = channelCount;
    // Whole frames only: the capacity in samples is a multiple of the channel
    // count, so free space and filled space always are too.
    ring = std::make_unique<boost::lockfree::spsc_queue<float>>(capacityFrames * channels);
    return true;
}

void TapNode::release() {
    ring.reset();
}

std::size_t TapNode::process(const float* in, float* out, std::size_t frames) {
    const std::size_t samples = frames * channels;
    if (in != out) {
        std::memcpy(out, in, samples * sizeof(float));
    }
    if (!ring) {
        return 0;
    }
    const std::size_t fit = std::min(frames, ring->write_available() / channels);
    if (fit > 0) {
        ring->push(in == out ? out : in, fit * channels);
    }
    return fit;
}

std::size_t TapNode::read(float* out, std::size_t maxFrames) {
    if (!ring) {
        return 0;
    }
    const std::size_t frames = std::min(maxFrames, ring->read_available() / channels);
    if (frames > 0) {
        ring->pop(out, frames * channels);
    }
    return frames;
}
