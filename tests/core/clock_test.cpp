#include "base/clock.h"

#include <gtest/gtest.h>

TEST(Clock, WrapsPastTheMusicEndToTheLoopPoint) {
    const LoopRange range = loopRange(180.0, 120.0, 30.0);
    EXPECT_DOUBLE_EQ(range.start, 30.0);
    EXPECT_DOUBLE_EQ(range.end, 180.0);
    const double n = wrapTime(180.02, range);
    EXPECT_NEAR(n, 30.02, 1e-9);
    EXPECT_EQ(frameNumberAt(n), 1801);

    // Far past the end (a long stall) still lands inside the loop.
    EXPECT_NEAR(wrapTime(180.0 + 150.0 * 2 + 1.5, range), 31.5, 1e-9);
    EXPECT_DOUBLE_EQ(wrapTime(180.0, range), 30.0);
}

TEST(Clock, LoopRangeFallsBackToTheTimelineAndToZero) {
    // No music: the timeline's end is the loop end.
    EXPECT_DOUBLE_EQ(loopRange(0.0, 120.0, 53.0).end, 120.0);
    EXPECT_DOUBLE_EQ(loopRange(0.0, 178.8, 53.0).start, 53.0);
    // A loop point at or beyond the end, or negative, restarts from the beginning.
    EXPECT_DOUBLE_EQ(loopRange(180.0, 120.0, 180.0).start, 0.0);
    EXPECT_DOUBLE_EQ(loopRange(180.0, 120.0, 400.0).start, 0.0);
    EXPECT_DOUBLE_EQ(loopRange(180.0, 120.0, -1.0).start, 0.0);
    EXPECT_DOUBLE_EQ(loopRange(0.0, 120.0, 130.0).start, 0.0);

    const LoopRange fromZero = loopRange(10.0, 0.0, 0.0);
    EXPECT_NEAR(wrapTime(10.25, fromZero), 0.25, 1e-12);
    // A degenerate span cannot divide by zero.
    EXPECT_DOUBLE_EQ(wrapTime(5.0, LoopRange{0.0, 0.0}), 0.0);
}

// Frames drawn in 10 s of animation frames at `hz`, each timestamp off by up
// to `jitter` seconds.
int framesDrawn(double hz, double jitter) {
    double lastTarget = -1.0;
    int drawn = 0;
    for (int i = 0; i < static_cast<int>(10.0 * hz); ++i) {
        const double wobble = jitter * ((i * 7919) % 11 - 5) / 5.0;
        drawn += animationFrameDue(lastTarget, i / hz + wobble) ? 1 : 0;
    }
    return drawn;
}

TEST(Clock, AnimationFramesDrawAtMostSixtyASecondWithoutDroppingAt60Hz) {
    EXPECT_EQ(framesDrawn(60.0, 0.0005), 600);
    EXPECT_EQ(framesDrawn(59.94, 0.0), 599);
    EXPECT_EQ(framesDrawn(120.0, 0.0005), 600);
    const int at144 = framesDrawn(144.0, 0.0);
    EXPECT_LE(at144, 600);
    EXPECT_GE(at144, 570);
    // A slow display draws every frame it gets.
    EXPECT_EQ(framesDrawn(30.0, 0.0), 300);
}

TEST(Clock, PauseFreezesAndResumeContinuesFromThePausedTime) {
    bool paused = false;
    double pauseTime = 0.0;
    double startOffset = 100.0; // timer 100 s was demo time 0
    // Demo time 7.5 s on the previous frame; P at timer 107.6.
    togglePause(paused, pauseTime, startOffset, 7.5, 107.6);
    EXPECT_TRUE(paused);
    EXPECT_DOUBLE_EQ(pauseTime, 7.5);
    EXPECT_DOUBLE_EQ(startOffset, 100.0);
    // Resume 20 s later: the clock reads 7.5 s again and runs on from there.
    togglePause(paused, pauseTime, startOffset, 7.5, 127.6);
    EXPECT_FALSE(paused);
    EXPECT_NEAR(127.6 - startOffset, 7.5, 1e-12);
    EXPECT_NEAR(128.6 - startOffset, 8.5, 1e-12);
}

TEST(Clock, PacingSleepsThenSpinsAndNeverCatchesUp) {
    // Early with plenty of time: sleep until 1 ms before the target.
    PaceStep step = paceFrame(10.0, 10.005);
    EXPECT_TRUE(step.wait);
    EXPECT_DOUBLE_EQ(step.target, 10.0 + 1.0 / 60.0);
    EXPECT_DOUBLE_EQ(step.lastTarget, step.target);
    EXPECT_NEAR(step.sleepSeconds, 10.0 + 1.0 / 60.0 - 10.005 - 0.001, 1e-12);

    // Within 1.5 ms of the target: spin only.
    step = paceFrame(10.0, 10.0 + 1.0 / 60.0 - 0.001);
    EXPECT_TRUE(step.wait);
    EXPECT_DOUBLE_EQ(step.sleepSeconds, 0.0);

    // Late: no wait, and the next frame counts from now rather than the missed target.
    step = paceFrame(10.0, 10.05);
    EXPECT_FALSE(step.wait);
    EXPECT_DOUBLE_EQ(step.lastTarget, 10.05);
    step = paceFrame(10.0, 10.0 + 1.0 / 60.0);
    EXPECT_FALSE(step.wait);
}
