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
    // The demo clock (its time, the timer origin, pause) and its rules' memory.
    ClockState clock;
    double musicLength = 0.0;
    std::int32_t frameCounter = 0;
    bool paletteEnabled = false;

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

    // The demo clock for this frame (decideClock with the music heard now),
    // and what it says to do with the music done.
    double advanceClock(FrameHost& host);
    // Moves the music so that `seconds` is heard when the clock shows it.
    void seekMusic(double seconds);
    // Pausing freezes the clock at the music heard now (`atFrame`: at the
    // last frame's time, for a host holding the clock while it works);
    // resuming lets the music go on after what was heard, and the clock with
    // it.
    void togglePause(double now, bool atFrame = false);
    // A live frame up to the swap: the clock, Audio::update and drawFrame with
    // the music's levels. Returns the frame's demo time.
    double renderFrame(FrameHost& host);

  private:
    ClockInput clockInput(ClockEvent event, double now) const;
    // Carries out a clock decision; returns its time.
    double apply(const ClockStep& step);
};
