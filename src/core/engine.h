#pragma once

#include "audio/audio.h"
#include "base/clock.h"
#include "base/frame_host.h"
#include "core/editor_hook.h"
#include "core/window.h"
#include "render/overlay_manager.h"
#include "render/post_process.h"
#include "script/script.h"
#include "script/timeline.h"
#include "text/scroll_manager.h"
#include "text/scroll_scene.h"
#include "text/stab_manager.h"

#include <cstdint>

// Owns every part of the demo and runs it.
class Engine {
  public:
    DemoScript script;
    Window window;
    Audio audio;
    Timeline timeline;
    OverlayManager overlays;
    PostProcess post;
    ScrollScene scroller;
    ScrollManager scrollTexts;
    StabManager stabs;
    EditorHook editor;
    double startOffset = 0.0;
    double currentTime = 0.0;
    double musicLength = 0.0;
    double pauseTime = 0.0;
    std::int32_t frameCounter = 0;
    bool paused = false;
    bool paletteEnabled = false;
    // The timer at the last frame, to pace the clock and to tell a process
    // that stood still from one that ran.
    double lastFrameNow = 0.0;
    bool framed = false;
    double lastHeard = -1.0; // the music heard by the last frame, loops counted; -1: none
    // Frames in a row on which the picture was more than kStepSeconds off the
    // music, one way, and the least of those distances: a lone reading off by
    // that much is the scheduler's noise, not the music.
    int offFrames = 0;
    double offLeast = 0.0;
    // Until the music is first heard after a start, a seek or a resume.
    bool settling = true;

    // Above this the picture is off the music heard and closes the distance
    // at once; below it, by pacing the clock at most kPace faster or slower.
    static constexpr double kStepSeconds = 0.05;
    static constexpr double kPace = 0.05;
    static constexpr int kOffFrames = 3;
    // A gap between two frames longer than this, the music not playing on
    // either, is a process that stood still (stopped, a sleeping machine);
    // shorter ones are slow frames, which in the browser starve the music.
    static constexpr double kStoodStillSeconds = 2.5;
    // A device silent this long has stopped asking: the timer carries the
    // clock; until then the picture waits where the music stopped.
    static constexpr double kHoldSeconds = 0.5;

    bool init();
    // The frame loop on the demo's window until its close flag is set.
    void run();
    // The same loop on any host: its timer, keys, swap and sleep.
    void run(FrameHost& host);
    // One pass of that loop without the pacing: the keys, the frame, the swap.
    void step(FrameHost& host);
    void shutdown();

    // Start-up once a GL context is current, from the archive to the music's
    // length. Offline tools call it with a context of their own and may leave
    // the music unplayed.
    bool initSystems(int screenWidth, int screenHeight, bool withMusic);

    // Everything a frame does after the clock and Audio::update: the parts'
    // updates, the canvas drawing and the final pass into the bound window.
    void drawFrame(double t, float bass, float treble);

    // Releases what initSystems created, in shutdown order (no window).
    void releaseSystems();

    // Moves the demo clock and the music to `seconds` (0 at the least; past
    // the loop end it wraps as the running clock would), paused or not; `now`
    // is the timer reading the clock is counted from.
    void seek(double seconds, double now);

    // This frame's loop range: the music's length (or the timeline's end) and
    // the script's loop point.
    LoopRange loopRangeNow() const;

    // The demo clock for this frame: where the music is being heard. The
    // timer (since startOffset) carries it between the device's updates and
    // where no music is heard: none, paused, a seek on its way, a device that
    // has stopped asking. A picture behind the music steps to it (more than
    // kStepSeconds) or is paced to it; music behind the picture skips what the
    // device never played. The clock goes back only at the loop end, a seek
    // or a pause.
    double advanceClock(FrameHost& host);
    // Moves the music so that `seconds` is heard when the clock shows it.
    void seekMusic(double seconds);
    // Pausing freezes the clock at the last frame's time; resuming restarts
    // the music from there too, whatever the device had buffered.
    void togglePause(double now);
    // A live frame up to the swap: the clock, Audio::update and drawFrame with
    // the music's levels. Returns the frame's demo time.
    double renderFrame(FrameHost& host);
};
