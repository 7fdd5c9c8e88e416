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
    // The music's loop count as the last frame saw it, to tell when it has
    // flowed from its end into the loop start.
    std::uint64_t musicLoops = 0;
    bool musicLoopsSeen = false;

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

    // The demo clock for this frame: the timer since startOffset, held while
    // paused. At the loop end, and whenever the music flows from its end into
    // the loop start, the clock is set to where the music is being played: the
    // music runs on untouched, and whatever drift the sound device's clock
    // built up against the timer goes at the wrap, where the picture jumps
    // anyway.
    double advanceClock(FrameHost& host);
    // Pausing freezes the clock at the last frame's time; resuming restarts
    // the music from there too, whatever the device had buffered.
    void togglePause(double now);
    // A live frame up to the swap: the clock, Audio::update and drawFrame with
    // the music's levels. Returns the frame's demo time.
    double renderFrame(FrameHost& host);
};
