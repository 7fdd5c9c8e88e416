#pragma once

#include <cstdint>

// The demo clock's arithmetic, kept apart from the timer so it can be tested.

struct LoopRange {
    double start = 0.0;
    double end = 0.0;
};

// Loop end: the music's length, or the timeline's end without music. A loop
// start that is negative or not before the end restarts from 0.
LoopRange loopRange(double musicLength, double timelineEnd, double loopTime);

// Where a time at or past the loop end lands: start + fmod(t - end, end - start).
double wrapTime(double t, const LoopRange& range);

// The running frame number at a demo time (60 per second, truncated).
std::int32_t frameNumberAt(double t);

// One pacing decision for a frame at 60 per second without catch-up.
struct PaceStep {
    double lastTarget = 0.0; // the next frame's reference
    double target = 0.0;     // busy-wait until the timer reaches this (when waiting)
    double sleepSeconds = 0.0;
    bool wait = false;
};
PaceStep paceFrame(double lastTarget, double now);

// The same rule where the display sets the rhythm (the browser's animation
// frames, at 60, 120 or 144 Hz): a frame is drawn only once the next 1/60 s
// target is reached, give or take a display's jitter; a frame more than 1/60 s
// late starts the targets anew from now, without catch-up. False: skip this
// animation frame.
bool animationFrameDue(double& lastTarget, double now);

// P toggles pause: pausing freezes the previous frame's demo time, resuming
// moves the timer origin so the clock continues from it.
void togglePause(bool& paused, double& pauseTime, double& startOffset, double currentTime,
                 double now);
