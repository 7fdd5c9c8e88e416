#include "base/clock.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>

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
    // No music: the timer carries the clock. Timer 100 s was demo time 0.
    ClockState clock;
    clock.startOffset = 100.0;
    ClockInput in;
    in.range = {0.0, 120.0};
    in.now = 107.5;
    EXPECT_DOUBLE_EQ(decideClock(clock, in).time, 7.5);
    // P at timer 107.6: the time of the press, frozen.
    in.event = ClockEvent::TogglePause;
    in.now = 107.6;
    EXPECT_EQ(decideClock(clock, in).music, MusicAction::Pause);
    EXPECT_TRUE(clock.paused);
    in.event = ClockEvent::Frame;
    in.now = 117.6;
    EXPECT_NEAR(decideClock(clock, in).time, 7.6, 1e-12);
    // Resume 20 s later: the clock reads 7.6 s again and runs on from there.
    in.event = ClockEvent::TogglePause;
    in.now = 127.6;
    EXPECT_EQ(decideClock(clock, in).music, MusicAction::Resume);
    EXPECT_FALSE(clock.paused);
    in.event = ClockEvent::Frame;
    in.now = 128.6;
    EXPECT_NEAR(decideClock(clock, in).time, 8.6, 1e-12);
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

namespace {

// The clock frame by frame with the music heard as a device plays it, in the
// shipped loop (53 s to 193 s); a skip the clock asks for lands before the
// next reading.
struct Listening {
    ClockState clock;
    ClockInput in;
    double skip = 0.0; // asked for, not yet landed

    explicit Listening(double at) {
        in.range = {53.0, 193.0};
        in.musicKnown = true;
        in.music.seconds = at;
        frame(0.0, 0.0);
    }
    void play(double seconds) {
        in.music.seconds += seconds;
        for (; in.music.seconds >= in.range.end; ++in.music.loops) {
            in.music.seconds -= in.range.end - in.range.start;
        }
    }
    // A frame `dt` after the last, the device having played `played`
    // meanwhile; `dry`: silent for the rest, having run out of music.
    ClockStep frame(double dt, double played, bool dry = false) {
        in.now += dt;
        in.music.gaps += dry ? dt - played : 0.0;
        play(played + skip);
        skip = 0.0;
        in.event = ClockEvent::Frame;
        const ClockStep step = decideClock(clock, in);
        if (step.music == MusicAction::Skip) {
            skip = step.musicSeconds;
        }
        return step;
    }
    ClockStep press() {
        in.event = ClockEvent::TogglePause;
        return decideClock(clock, in);
    }
    // The picture minus the music the device goes on with.
    double ahead() const {
        return std::remainder(clock.currentTime - in.music.seconds - skip, 140.0);
    }
};

constexpr double kFrame = 1.0 / 60.0;

} // namespace

// A device fed only between frames (the browser's worklet, 85 ms ahead) runs
// dry in frames slower than that: whatever their length, what it plays after
// a frame starts at that frame's picture. Up to kLongFrameSeconds the picture
// keeps real time and the music skips what was never played; past it, the
// picture goes on by what was heard.
TEST(Clock, FramesSlowerThanADryDeviceKeepThePictureOnTheMusicPlayedNext) {
    for (const double slow : {0.45, 1.0, 3.0}) {
        Listening run(60.0);
        for (int i = 0; i < 30; ++i) {
            run.frame(kFrame, kFrame);
        }
        for (int i = 0; i < 8; ++i) {
            const double before = run.clock.currentTime;
            run.frame(slow, 0.085, true);
            EXPECT_NEAR(run.ahead(), 0.0, 0.002) << slow << " s frames, frame " << i;
            EXPECT_NEAR(run.clock.currentTime - before,
                        slow < ClockState::kLongFrameSeconds ? slow : 0.085, 1e-6)
                << slow << " s frames, frame " << i;
        }
    }
}

// Readings late by an exponential 4 ms (the device's thread woken late) and
// frames 10 to 24 ms apart: the clock is only paced, never more than 5 %
// faster or slower than the timer, and stays within a frame of the music.
TEST(Clock, JitteredReadingsPaceTheClockWithinFivePercent) {
    Listening run(60.0);
    std::mt19937 random(33);
    std::exponential_distribution<double> late(1.0 / 0.004);
    std::uniform_real_distribution<double> gap(0.010, 0.024);
    double truth = 60.0;
    for (int i = 0; i < 3000; ++i) {
        const double dt = gap(random);
        truth += dt;
        const double before = run.clock.currentTime;
        run.in.music.seconds = truth - std::min(late(random), 0.04);
        run.frame(dt, 0.0);
        const double step = run.clock.currentTime - before;
        ASSERT_GE(step, 0.95 * dt - 1e-9) << "frame " << i;
        ASSERT_LE(step, 1.05 * dt + 1e-9) << "frame " << i;
        EXPECT_EQ(run.skip, 0.0);
    }
    EXPECT_NEAR(run.clock.currentTime, truth, kFrame);
}

// The frame loop blocked for 120 s while the device played on (a window
// dragged, a hidden tab): the picture goes on by the music heard, through
// the loop end, leaving nothing out. A process that stood still 3 s (its
// device played what it held) goes on from where it stood, as does a frame
// of 14 s after a reading that found the device silent a moment.
TEST(Clock, AFrameAfterALongBlockGoesOnByTheMusicHeardMeanwhile) {
    Listening run(150.0);
    for (int i = 0; i < 30; ++i) {
        run.frame(kFrame, kFrame);
    }
    ClockStep step = run.frame(120.0, 120.0);
    EXPECT_EQ(step.music, MusicAction::None);
    EXPECT_TRUE(step.restart) << "wrapped";
    EXPECT_NEAR(step.time, run.in.music.seconds, 1e-6);
    for (int i = 0; i < 30; ++i) {
        run.frame(kFrame, kFrame);
    }
    step = run.frame(3.0, 0.04, true);
    EXPECT_EQ(step.music, MusicAction::None);
    EXPECT_NEAR(step.time, run.in.music.seconds, 1e-6);
    // Read as the device was silent a moment, then a frame of 14 s (a browser
    // compiling shaders, its device fed only between frames).
    run.in.music.silentFor = 0.02;
    run.frame(kFrame, 0.0);
    run.in.music.silentFor = 0.0;
    step = run.frame(14.0, 0.085, true);
    EXPECT_EQ(step.music, MusicAction::None);
    EXPECT_NEAR(step.time, run.in.music.seconds, 1e-6);
}

// P between frames half a second apart, ten times: the picture freezes at the
// music heard at the press, not at the last frame. The device plays on
// through what it held, and the resume lets the music go on after it (no
// seek back), the picture going forward to it.
TEST(Clock, PauseHoldsTheMusicHeardAtThePressAndResumeNeverGoesBack) {
    Listening run(60.0);
    for (int cycle = 0; cycle < 10; ++cycle) {
        run.frame(0.5, 0.5);
        run.in.now += 0.3;
        run.play(0.3);
        ClockStep step = run.press();
        EXPECT_EQ(step.music, MusicAction::Pause);
        EXPECT_DOUBLE_EQ(step.time, run.in.music.seconds);
        const double paused = step.time;
        run.play(0.1);
        run.in.musicKnown = false;
        EXPECT_DOUBLE_EQ(run.frame(0.5, 0.0).time, paused);
        EXPECT_EQ(run.press().music, MusicAction::Resume);
        EXPECT_GE(run.frame(kFrame, 0.0).time, paused) << "before the music is heard again";
        run.in.musicKnown = true;
        step = run.frame(kFrame, kFrame);
        EXPECT_DOUBLE_EQ(step.time, run.in.music.seconds) << "cycle " << cycle;
        EXPECT_EQ(step.music, MusicAction::None);
    }
}

// The output's delay grows by 180 ms (a headset plugged in): everything is
// still played, only later, so the picture waits for it instead of the music
// skipping. When the delay shrinks back the music heard jumps ahead, and the
// picture steps to it.
TEST(Clock, AGrownLatencyIsWaitedForAndAShrunkOneSteppedOver) {
    Listening run(60.0);
    run.in.music.latency = 0.02;
    for (int i = 0; i < 30; ++i) {
        run.frame(kFrame, kFrame);
    }
    run.in.music.latency = 0.2;
    run.in.music.gaps += 0.18;
    run.play(-0.18);
    double last = run.clock.currentTime;
    for (int i = 0; i < 30; ++i) {
        const ClockStep step = run.frame(kFrame, kFrame);
        EXPECT_EQ(step.music, MusicAction::None) << "frame " << i;
        EXPECT_GE(step.time, last);
        last = step.time;
    }
    EXPECT_NEAR(run.ahead(), 0.0, 0.002);
    run.in.music.latency = 0.02;
    run.play(0.18);
    for (double t = 0.0; t < ClockState::kConfirmSeconds + 2.0 * kFrame; t += kFrame) {
        EXPECT_EQ(run.frame(kFrame, kFrame).music, MusicAction::None);
    }
    EXPECT_NEAR(run.ahead(), 0.0, 0.002);
}

// A device 10 % slower than the timer, which pacing at 5 % cannot follow: it
// plays everything, so the picture waits for it now and then, and nothing is
// left out.
TEST(Clock, ADeviceTooSlowToPaceIsWaitedForNotSkipped) {
    Listening run(60.0);
    double last = run.clock.currentTime;
    for (int i = 0; i < 600; ++i) {
        const ClockStep step = run.frame(kFrame, 0.9 * kFrame);
        ASSERT_EQ(step.music, MusicAction::None) << "frame " << i;
        ASSERT_GE(step.time, last);
        last = step.time;
        // A step, and what it falls behind while that is confirmed.
        ASSERT_LE(std::fabs(run.ahead()), ClockState::kStepSeconds + 0.02) << "frame " << i;
    }
}
