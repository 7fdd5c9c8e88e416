#include "base/key_latch.h"
#include "core/engine.h"
#include "support/device_host.h"
#include "support/gl_test.h"

#include <GLFW/glfw3.h>
#include <cmath>

namespace {

constexpr int kSpeed = 4; // the disk device plays this many times faster than real time
constexpr double kRate = Audio::kEngineRate;

class EngineLoop : public GlTest {
  protected:
    void SetUp() override {
        GlTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        target.create(64, 36);
        target.bind();
        ASSERT_TRUE(engine.initSystems(64, 36, true));
        ASSERT_GT(engine.musicLength, 150.0) << "the music did not load";
    }
    void TearDown() override {
        engine.releaseSystems();
        target.release();
    }

    DiskDevice device{kSpeed};
    TestTarget target;
    Engine engine;
};

// Runs from 191.5 s through the loop end to 1.5 s past the loop start.
std::vector<FrameRecord> runThroughLoopEnd(Engine& engine, DeviceHost& host) {
    std::vector<FrameRecord> frames;
    host.onFrame = [&](int) {
        frames.push_back(recordFrame(engine, host));
        if (frames.size() > 1 && engine.currentTime > 54.5 && engine.currentTime < 60.0) {
            host.requestClose();
        }
    };
    engine.run(host);
    return frames;
}

double meanOffset(const std::vector<FrameRecord>& frames, double from, double to) {
    double sum = 0.0;
    int n = 0;
    for (const FrameRecord& f : frames) {
        if (f.time >= from && f.time < to) {
            sum += f.music - f.clock;
            ++n;
        }
    }
    return n > 0 ? sum / n : NAN;
}

} // namespace

TEST(KeyLatchTest, EveryPressCountsOnceAndHoldingIsOnePress) {
    KeyLatch keys;
    keys.onKey(GLFW_KEY_P, GLFW_PRESS);
    keys.onKey(GLFW_KEY_P, GLFW_RELEASE);
    keys.onKey(GLFW_KEY_C, GLFW_PRESS);
    keys.onKey(GLFW_KEY_C, GLFW_REPEAT);
    keys.onKey(GLFW_KEY_C, GLFW_REPEAT);
    keys.onKey(GLFW_KEY_P, GLFW_PRESS);
    keys.onKey(GLFW_KEY_UNKNOWN, GLFW_PRESS);
    keys.onKey(100000, GLFW_PRESS);
    EXPECT_EQ(keys.takePresses(GLFW_KEY_P), 2);
    EXPECT_EQ(keys.takePresses(GLFW_KEY_P), 0);
    EXPECT_EQ(keys.takePresses(GLFW_KEY_C), 1);
    EXPECT_EQ(keys.takePresses(GLFW_KEY_UNKNOWN), 0);
}

TEST_F(EngineLoop, TheMusicFlowsFromItsEndIntoTheLoopStartWithThePicture) {
    DeviceHost host(device, 1.0);
    startAt(engine, host, 191.5);
    const std::vector<FrameRecord> frames = runThroughLoopEnd(engine, host);
    engine.audio.unload(); // closes the device, so the file is complete
    ASSERT_FALSE(frames.empty());
    EXPECT_GT(frames.back().time, 54.5) << "the clock did not wrap to the loop start";

    // In the played output: the track's last 10 ms, then 53.0 s at once.
    const auto end = static_cast<std::uint64_t>(std::llround(engine.musicLength * kRate));
    const std::vector<float> out = device.samples();
    const std::vector<float> last = shippedMusicFrames(end - 480, 480);
    const std::vector<float> loop = shippedMusicFrames(53 * 48000, 4800);
    ASSERT_EQ(last.size(), 960u);
    ASSERT_EQ(loop.size(), 9600u);
    const long seam = findFrames(out, last.data(), 2, 480);
    ASSERT_GE(seam, 0) << "the track's end was never played";
    EXPECT_EQ(findFrames(out, loop.data(), 2, 4800, seam), seam + 480)
        << "the loop start does not follow the track's end";

    // The picture keeps the music's distance through the wrap.
    const double before = meanOffset(frames, 191.7, 192.9);
    const double after = meanOffset(frames, 53.2, 60.0);
    EXPECT_NEAR(after, before, 1.0 / 60.0);
}

TEST_F(EngineLoop, AtTheWrapTheMusicIsBroughtBackToAClockItDriftedFrom) {
    // A clock 10 % faster than the device: 0.3 s apart by the loop end.
    DeviceHost host(device, 1.1);
    startAt(engine, host, 190.0);
    const std::vector<FrameRecord> frames = runThroughLoopEnd(engine, host);
    ASSERT_FALSE(frames.empty());
    EXPECT_LT(meanOffset(frames, 192.0, 192.9), -0.2);
    // Within the drift the clock gains in the frames after the wrap.
    EXPECT_NEAR(meanOffset(frames, 53.3, 53.6), 0.0, Audio::kSyncTolerance + 0.06);
}

TEST_F(EngineLoop, KeysActOnceAndPauseFreezesPictureAndMusicTogether) {
    DeviceHost host(device, 1.0);
    startAt(engine, host, 60.0);
    const int kCycles = 5;
    const int kFirst = 20;
    const int kSpan = 30; // frames of a pause and of the play after it
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        host.presses[{kFirst + 2 * cycle * kSpan, GLFW_KEY_P}] = 1;
        host.presses[{kFirst + (2 * cycle + 1) * kSpan, GLFW_KEY_P}] = 1;
    }
    host.presses[{5, GLFW_KEY_C}] = 1;
    host.presses[{6, GLFW_KEY_C}] = 2; // two taps in one frame leave it as it was
    const int kLast = kFirst + 2 * kCycles * kSpan + kSpan;
    host.presses[{kLast, GLFW_KEY_ESCAPE}] = 1;

    std::vector<FrameRecord> frames;
    std::vector<bool> palette;
    host.onFrame = [&](int) {
        frames.push_back(recordFrame(engine, host));
        palette.push_back(engine.paletteEnabled);
    };
    engine.run(host);
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(kLast + 1)) << "Escape ends that frame";
    EXPECT_FALSE(palette[4]);
    EXPECT_TRUE(palette[5]);
    EXPECT_TRUE(palette[6]);

    const double before = frames[kFirst - 1].music - frames[kFirst - 1].clock;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        const int pause = kFirst + 2 * cycle * kSpan;
        // Frozen picture; the music stops within two periods of the press.
        for (int f = pause + 1; f < pause + kSpan; ++f) {
            EXPECT_EQ(frames[f].time, frames[pause].time) << "frame " << f;
        }
        EXPECT_EQ(frames[pause + kSpan - 1].music, frames[pause + kSpan / 2].music);
        EXPECT_GT(frames[pause + 2 * kSpan - 1].time, frames[pause + kSpan].time);
    }
    // After every resume the music is where the picture is, as at the start.
    const double after = frames[kLast].music - frames[kLast].clock;
    EXPECT_NEAR(after, before, 2.0 * Audio::kPeriodFrames / kRate);
}
