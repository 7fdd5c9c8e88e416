#include "audio/tap_node.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

// Frame k holds (k, -k): order and frame integrity are both checkable.
std::vector<float> countingFrames(std::size_t first, std::size_t frames) {
    std::vector<float> out(frames * 2);
    for (std::size_t f = 0; f < frames; ++f) {
        out[f * 2] = static_cast<float>(first + f);
        out[f * 2 + 1] = -static_cast<float>(first + f);
    }
    return out;
}

} // namespace

TEST(TapNode, PassesFramesThroughAndQueuesThemInOrder) {
    TapNode tap;
    EXPECT_EQ(tap.channelCount(), 2u);
    ASSERT_TRUE(tap.init(2));
    const std::vector<float> in = countingFrames(0, 700);
    std::vector<float> out(in.size(), 9.0f);
    EXPECT_EQ(tap.process(in.data(), out.data(), 700), 700u);
    EXPECT_EQ(out, in);
    // In place, as the device callback uses it.
    std::vector<float> inPlace = countingFrames(700, 300);
    const std::vector<float> copy = inPlace;
    EXPECT_EQ(tap.process(inPlace.data(), inPlace.data(), 300), 300u);
    EXPECT_EQ(inPlace, copy);

    std::vector<float> got(512 * 2);
    EXPECT_EQ(tap.read(got.data(), 512), 512u);
    EXPECT_EQ(got, countingFrames(0, 512));
    EXPECT_EQ(tap.read(got.data(), 512), 488u);
    got.resize(488 * 2);
    EXPECT_EQ(got, countingFrames(512, 488));
    EXPECT_EQ(tap.read(got.data(), 512), 0u);
}

TEST(TapNode, DropsWholeFramesThatDoNotFit) {
    TapNode tap;
    ASSERT_TRUE(tap.init(2));
    const std::vector<float> in = countingFrames(0, 10000);
    std::vector<float> out(in.size());
    EXPECT_EQ(tap.process(in.data(), out.data(), 5000), 5000u);
    // Only 8192 frames fit; the rest is dropped but still played.
    EXPECT_EQ(tap.process(in.data() + 10000, out.data() + 10000, 5000), 3192u);
    EXPECT_EQ(out, in);
    EXPECT_EQ(tap.process(in.data(), out.data(), 10), 0u);

    std::vector<float> drained;
    std::vector<float> chunk(512 * 2);
    while (std::size_t n = tap.read(chunk.data(), 512)) {
        drained.insert(drained.end(), chunk.begin(), chunk.begin() + n * 2);
    }
    EXPECT_EQ(drained, countingFrames(0, TapNode::kCapacityFrames));
}

TEST(TapNode, WithoutRingStillPlaysAndQueuesNothing) {
    TapNode tap;
    EXPECT_FALSE(tap.init(0));
    EXPECT_FALSE(tap.init(TapNode::kMaxChannels + 1));
    EXPECT_FALSE(tap.ready());
    const std::vector<float> in = countingFrames(0, 64);
    std::vector<float> out(in.size());
    EXPECT_EQ(tap.process(in.data(), out.data(), 64), 0u);
    EXPECT_EQ(out, in);
    EXPECT_EQ(tap.read(out.data(), 64), 0u);

    ASSERT_TRUE(tap.init(1, 16));
    EXPECT_EQ(tap.process(in.data(), out.data(), 20), 16u);
    tap.release();
    tap.release();
    EXPECT_EQ(tap.read(out.data(), 64), 0u);
}

TEST(TapNode, ProducerAndConsumerThreadsSeeAnOrderedSubsequence) {
    TapNode tap;
    ASSERT_TRUE(tap.init(2));
    constexpr std::size_t kTotal = 2048 * 200;
    std::atomic<bool> done{false};
    std::size_t dropped = 0;
    std::thread producer([&] {
        std::vector<float> out(2048 * 2);
        for (std::size_t first = 0; first < kTotal; first += 2048) {
            const std::vector<float> in = countingFrames(first, 2048);
            dropped += 2048 - tap.process(in.data(), out.data(), 2048);
        }
        done.store(true, std::memory_order_release);
    });
    std::vector<float> chunk(512 * 2);
    std::size_t received = 0;
    float last = -1.0f;
    bool ordered = true;
    bool intact = true;
    for (;;) {
        const bool finished = done.load(std::memory_order_acquire);
        const std::size_t n = tap.read(chunk.data(), 512);
        for (std::size_t f = 0; f < n; ++f) {
            ordered = ordered && chunk[f * 2] > last;
            intact = intact && chunk[f * 2 + 1] == -chunk[f * 2];
            last = chunk[f * 2];
        }
        received += n;
        if (n == 0 && finished) {
            break;
        }
    }
    producer.join();
    EXPECT_TRUE(ordered);
    EXPECT_TRUE(intact);
    EXPECT_EQ(received + dropped, kTotal);
}
