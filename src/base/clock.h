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

// Where the music is being heard, as the sound device tells it: a time inside
// the track, how many times it has flowed from its end into the loop start to
// get there, how long the device has played past the end of what it was
// handed (silence, or it stopped asking; the time stands where the music
// stopped), the delay from handing to hearing that the platform reported with
// it, and how much later, in all, the device has gone on than what it was
// handed before would have ended (silence between buffers: a stall, a queue
// that ran dry; or a delay that grew).
struct MusicPosition {
    double seconds = 0.0;
    std::uint64_t loops = 0;
    double silentFor = 0.0;
    double latency = 0.0;
    double gaps = 0.0;
};

// The demo clock: its time and what its rules remember between frames.
struct ClockState {
    double startOffset = 0.0; // the timer at demo time 0, as the timer carries the clock
    double currentTime = 0.0; // the last frame's demo time
    double pauseTime = 0.0;   // the demo time shown while paused
    bool paused = false;

    double lastNow = 0.0; // the timer at the last frame
    bool framed = false;
    double lastHeard = -1.0;   // the music heard by the last frame, loops counted; -1: none
    double lastLatency = -1.0; // the latency reported with it
    // The device's gaps when the picture was last on the music: those since
    // are music it never played, which may be left out.
    double gapsSeen = -1.0;
    // How much later the music is heard than before, since the picture was
    // last on it, because the output's delay grew.
    double latencyGrowth = 0.0;
    bool waiting = false; // the picture waits for the music to reach it
    // Since when the picture has been more than kStepSeconds off the music,
    // one way: a lone reading off by that much is the scheduler's noise.
    bool off = false;
    bool offAhead = false;
    double offSince = 0.0;
    // Until the music is first heard after a start or a seek (the clock takes
    // it, either way), a resume or a process that stood still (the clock goes
    // forward to it, or waits).
    enum class Settle { No, AnyWay, Forward } settle = Settle::AnyWay;

    // Above this the picture is off the music heard and closes the distance
    // at once; below it, by pacing the clock at most kPace faster or slower.
    static constexpr double kStepSeconds = 0.05;
    static constexpr double kPace = 0.05;
    // A distance over kStepSeconds is real once it has lasted this long (a
    // device's thread woken late misplaces the music for one render at the
    // most), or when the frames themselves are this far apart.
    static constexpr double kConfirmSeconds = 0.1;
    // A gap between two frames longer than this is a process that stood still
    // (stopped, a sleeping machine) or frames so slow that a device fed only
    // between them ran dry: the picture goes on by the music heard meanwhile.
    static constexpr double kLongFrameSeconds = 2.5;
    // A device silent this long has stopped asking: the timer carries the
    // clock; until then the picture waits where the music stopped.
    static constexpr double kHoldSeconds = 0.5;
};

enum class ClockEvent { Frame, TogglePause, Seek };

struct ClockInput {
    ClockEvent event = ClockEvent::Frame;
    double now = 0.0; // the timer
    LoopRange range;
    bool musicKnown = false; // music plays and the device told where (no seek on its way)
    MusicPosition music;
    double seekTo = 0.0; // Seek: the demo time asked for, finite
    // TogglePause: pause at the last frame's time rather than at the music
    // heard now (a host holding the clock while it works).
    bool pauseAtFrame = false;
};

enum class MusicAction { None, Skip, Seek, Pause, Resume };

struct ClockStep {
    double time = 0.0;    // the demo time to draw
    bool restart = false; // wrapped at the loop end or sought: frame numbers count from `time`
    MusicAction music = MusicAction::None;
    double musicSeconds = 0.0; // Skip: how much to leave out; Seek: the demo time to be heard
};

// Every decision of the demo clock, for a frame, a press of P or a seek: the
// time to draw and what to do with the music. The music heard is the clock.
// The timer carries it between the device's updates and where nothing is
// heard (no music, a seek on its way, a device silent for more than
// kHoldSeconds). A picture off the music by less than kStepSeconds is paced
// to it; by more, it steps forward to it, or the music skips what the device
// never played, or the picture waits for music that the output's grown delay
// holds back. The picture goes back only at the loop end, a seek or a pause.
// Pausing freezes the picture at the music heard at the press; resuming lets
// the music go on after what was heard, and the picture with it.
ClockStep decideClock(ClockState& state, const ClockInput& in);
