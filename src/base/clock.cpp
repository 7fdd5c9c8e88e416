#include "base/clock.h"

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

void togglePause(bool& paused, double& pauseTime, double& startOffset, double currentTime,
                 double now) {
    if (!paused) {
        paused = true;
        pauseTime = currentTime;
    } else {
        paused = false;
        startOffset = now - pauseTime;
    }
}
