#include "base/clock.h"

#include <algorithm>
#include <cmath>

LoopRange loopRange(double musicLength, double timelineEnd, double loopTime) {
    LoopRange range;
    range.end = musicLength > 0.0 ? musicLength : timelineEnd;
    range.start = loopTime;
    if (range.start < 0.0 || !(range.start < range.end)) {
        range.start = 0.0;
    }
    return range;
}

double wrapTime(double t, const LoopRange& range) {
    const double span = range.end - range.start;
    if (!(span > 0.0)) {
        return range.start;
    }
    return range.start + std::fmod(t - range.end, span);
}

std::int32_t frameNumberAt(double t) {
    return static_cast<std::int32_t>(t * 60.0);
}

PaceStep paceFrame(double lastTarget, double now) {
    PaceStep step;
    const double target = lastTarget + 1.0 / 60.0;
    const double remaining = target - now;
    if (remaining <= 0.0) {
        // Late: no catch-up, the next frame counts from now.
        step.lastTarget = now;
        return step;
    }
    step.lastTarget = target;
    step.target = target;
    step.wait = true;
    step.sleepSeconds = remaining > 0.0015 ? remaining - 0.001 : 0.0;
    return step;
}

bool animationFrameDue(double& lastTarget, double now) {
    // Well under half of a 240 Hz display's frame, well over a timestamp's jitter.
    constexpr double kJitter = 0.002;
    const double target = lastTarget + 1.0 / 60.0;
    if (now < target - kJitter) {
        return false;
    }
    // The display's frames rarely land on the targets: one that comes within
    // a frame after its target keeps the 1/60 s grid (at 144 Hz the drawn
    // frames then alternate between 2 and 3 display frames, 60 a second on
    // average); one later than that starts the grid anew, without catch-up.
    lastTarget = now - target < 1.0 / 60.0 ? target : now;
    return true;
}

namespace {

using Settle = ClockState::Settle;

// The picture off the music heard by `error` (the music minus the
// timer-carried time `t`).
double closeDistance(ClockState& s, ClockStep& step, const MusicPosition& music, double t,
                     double error, double now, double dt) {
    s.waiting = s.waiting && error < 0.0;
    if (!s.waiting && std::fabs(error) <= ClockState::kStepSeconds) {
        s.off = false;
        s.latencyGrowth = 0.0;
        s.gapsSeen = music.gaps;
        return t + std::clamp(error, -ClockState::kPace * dt, ClockState::kPace * dt);
    }
    if (error < 0.0 && -error <= s.latencyGrowth + ClockState::kStepSeconds) {
        // The output's delay grew (another device, a headset): nothing was
        // left out, it is heard later.
        s.waiting = true;
    }
    if (s.waiting) {
        // The picture waits until the music is there.
        s.off = false;
        return t + error;
    }
    const bool ahead = error > 0.0;
    if (!s.off || ahead != s.offAhead) {
        s.off = true;
        s.offAhead = ahead;
        s.offSince = now;
    }
    if (now - s.offSince < ClockState::kConfirmSeconds && dt < ClockState::kConfirmSeconds) {
        return t;
    }
    // Closed at once, by the latest distance.
    s.off = false;
    if (ahead) {
        return t + error;
    }
    // Music the device never played while the picture ran on (its gaps since
    // the picture was on the music: a stall, a device fed only between slow
    // frames) is left out, so the two go on together. The picture waits for
    // the rest: a device slower than the timer, a delay that grew.
    const double unplayed =
        s.gapsSeen >= 0.0 ? std::max(0.0, music.gaps - s.gapsSeen - s.latencyGrowth) : 0.0;
    const double skip = std::min(-error, unplayed);
    if (skip > 0.0) {
        step.music = MusicAction::Skip;
        step.musicSeconds = skip;
        s.gapsSeen += skip;
    }
    s.waiting = -error - skip > ClockState::kStepSeconds;
    return t + error + skip;
}

ClockStep frame(ClockState& s, const ClockInput& in) {
    ClockStep step;
    const double dt = s.framed ? in.now - s.lastNow : 0.0;
    s.lastNow = in.now;
    s.framed = true;
    if (s.paused) {
        s.currentTime = s.pauseTime;
        step.time = s.pauseTime;
        return step;
    }
    const LoopRange& range = in.range;
    const double span = range.end - range.start;
    const MusicPosition& music = in.music;
    const bool known = in.musicKnown && span > 0.0;
    const bool heard = known && music.silentFor == 0.0;
    // The timer carries the clock from the last frame (or the last seek).
    double t = in.now - s.startOffset;
    const double heardSoFar = known ? static_cast<double>(music.loops) * span + music.seconds : 0.0;
    if (known && s.lastHeard >= 0.0 && dt > ClockState::kLongFrameSeconds) {
        t = s.currentTime + std::max(0.0, heardSoFar - s.lastHeard);
        if (!heard && s.settle == Settle::No) {
            // A process that stood still, reading before its device has
            // played again: the picture stands where the music stopped and
            // waits for it to go on.
            s.settle = Settle::Forward;
        }
    }
    // Where the music stopped, while the device is silent.
    s.lastHeard = known ? heardSoFar : -1.0;
    bool back = false;
    if (heard) {
        if (s.lastLatency >= 0.0) {
            s.latencyGrowth = std::max(0.0, s.latencyGrowth + music.latency - s.lastLatency);
        }
        s.lastLatency = music.latency;
        const double error = std::remainder(music.seconds - t, span);
        const Settle settling = s.settle;
        if (settling == Settle::AnyWay) {
            // The first music heard after a start or a seek: the clock takes
            // it as it is, a part of the jump that is being made.
            t = music.seconds;
            back = true;
            step.restart = t < s.currentTime;
            s.settle = Settle::No;
        } else if (settling == Settle::Forward) {
            // After a resume the music goes on after what was heard; the
            // picture waits for it rather than going back.
            const double ahead = std::remainder(music.seconds - s.currentTime, span);
            t = s.currentTime + std::max(0.0, ahead);
            s.settle = ahead >= 0.0 ? Settle::No : Settle::Forward;
        } else {
            t = closeDistance(s, step, music, t, error, in.now, dt);
        }
        if (settling != Settle::No) {
            s.off = false;
            s.latencyGrowth = 0.0;
            s.waiting = false;
            s.gapsSeen = music.gaps;
        }
    } else {
        s.off = false;
        if (known && music.silentFor < ClockState::kHoldSeconds) {
            // Late or stalled a moment: the picture waits for the music, not
            // going back.
            t = std::min(t, s.currentTime +
                                std::max(0.0, std::remainder(music.seconds - s.currentTime, span)));
        }
    }
    if (!back) {
        // Never back, whatever the timer did.
        t = std::max(t, s.currentTime);
    }
    if (t >= range.end) {
        t = wrapTime(t, range);
        step.restart = true;
    }
    s.startOffset = in.now - t;
    s.currentTime = t;
    step.time = t;
    return step;
}

// Forgets the music heard so far: it moves, or stops being heard.
void forgetMusic(ClockState& s) {
    s.lastHeard = -1.0;
    s.lastLatency = -1.0;
    s.latencyGrowth = 0.0;
    s.waiting = false;
    s.gapsSeen = -1.0;
    s.off = false;
}

ClockStep togglePause(ClockState& s, const ClockInput& in) {
    ClockStep step;
    forgetMusic(s);
    if (s.paused) {
        s.paused = false;
        s.startOffset = in.now - s.pauseTime;
        if (s.settle == Settle::No) {
            s.settle = Settle::Forward;
        }
        step.music = MusicAction::Resume;
        step.time = s.pauseTime;
        return step;
    }
    // At the music heard at the press, not at the last frame: the device
    // plays on to the press and then through what it holds, and the resume
    // goes on after all of that.
    const double span = in.range.end - in.range.start;
    const MusicPosition& music = in.music;
    double at = in.now - s.startOffset;
    if (in.pauseAtFrame) {
        at = s.currentTime;
    } else if (in.musicKnown && span > 0.0 && music.silentFor < ClockState::kHoldSeconds) {
        at = music.seconds;
    } else if (at >= in.range.end) {
        at = wrapTime(at, in.range);
        step.restart = true;
    }
    s.paused = true;
    s.pauseTime = at;
    s.currentTime = at;
    step.music = MusicAction::Pause;
    step.time = at;
    return step;
}

ClockStep seek(ClockState& s, const ClockInput& in) {
    ClockStep step;
    double seconds = std::max(in.seekTo, 0.0);
    // Past the loop end it lands where the running clock would wrap to, so a
    // paused seek never draws a time beyond the end.
    if (seconds >= in.range.end) {
        seconds = wrapTime(seconds, in.range);
    }
    forgetMusic(s);
    s.startOffset = in.now - seconds;
    s.currentTime = seconds;
    s.settle = Settle::AnyWay;
    if (s.paused) {
        s.pauseTime = seconds;
    }
    step.time = seconds;
    step.restart = true;
    step.music = MusicAction::Seek;
    step.musicSeconds = seconds;
    return step;
}

} // namespace

ClockStep decideClock(ClockState& state, const ClockInput& in) {
    switch (in.event) {
    case ClockEvent::TogglePause:
        return togglePause(state, in);
    case ClockEvent::Seek:
        return seek(state, in);
    case ClockEvent::Frame:
        break;
    }
    return frame(state, in);
}
