#include "audio/arriving_bytes.h"
#include "audio/mp3_stream.h"
#include "base/clock.h"
#include "core/engine.h"

#include <GLFW/glfw3.h>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <emscripten.h>
#include <emscripten/html5.h>
#include <memory>
#include <utility>

// The browser's process entry and frame loop. The page calls quex_start on
// the click that starts the demo; from then on the browser's animation frames
// drive Engine::step, at most 60 a second. When the run ends (Escape, or the
// page ending it: full screen left, a lost WebGL context, a two-finger tap)
// everything is released and the page is told, so that the next click starts
// afresh at demo time 0 through the same init paths.
//
// The music is not in the program: the page downloads it beside it and hands
// it over as it arrives (quex_music_*), and a run plays it as far as it has
// come. Where the download is slower than the music, the run pauses until
// enough is there to play on to the end, and the page says so.

namespace {

// The page's canvas as the frame loop's host. The browser paces the frames,
// so there is never anything to sleep for.
class AnimationFrameHost final : public FrameHost {
  public:
    explicit AnimationFrameHost(Engine& e) : engine(e) {}
    double now() override { return glfwGetTime(); }
    int takePresses(int key) override { return engine.window.keys.takePresses(key); }
    bool shouldClose() override { return engine.window.shouldClose(); }
    void requestClose() override { glfwSetWindowShouldClose(engine.window.handle, GLFW_TRUE); }
    void swapAndPoll() override { engine.window.swapAndPoll(); }
    void sleepFor(double) override {}
    void beginFrame() override {
        if (engine.window.followPageSize()) {
            engine.post.resize(engine.window.width, engine.window.height);
        }
    }

  private:
    Engine& engine;
};

// A frame gap longer than this is no GPU's doing: the page tells the viewer.
constexpr double kSlowFrameMs = 500.0;

struct Run {
    Engine engine;
    AnimationFrameHost host{engine};
    double lastTarget = 0.0;
    double lastStepMs = -1.0;
    // Paused to wait for the music's download, and the wait last told.
    bool waiting = false;
    double toldWait = -1.0;
    // The download broke off and the run has played what came.
    bool musicCut = false;
};

// The music's download: how fast it arrives, from its progress over the
// last few seconds, and whether its format can be read yet.
struct Download {
    std::deque<std::pair<double, std::size_t>> progress; // (seconds, bytes arrived)
    bool playable = false;

    static constexpr double kWindowSeconds = 4.0;

    void arrived(double now, std::size_t bytes) {
        progress.emplace_back(now, bytes);
        while (progress.size() > 2 && progress[1].first < now - kWindowSeconds) {
            progress.pop_front();
        }
    }
    // Bytes a second up to now: a download that stopped slows to 0. Judged
    // over a quarter of a second at least, so the first pieces do not count
    // as a flood.
    double rate(double now, std::size_t bytes) const {
        if (progress.empty() || !(now > progress.front().first)) {
            return 0.0;
        }
        return static_cast<double>(bytes - progress.front().second) /
               std::max(now - progress.front().first, 0.25);
    }
};
Download download;

std::unique_ptr<Run> run;
// Which run an animation frame loop belongs to: a run ended outside a frame
// leaves its loop scheduled, and that loop must not drive the next run.
std::intptr_t runNumber = 0;

// clang-format off
EM_JS(void, tellSlowFrame, (double gapMs), {
    if (Module.onSlowFrame) {
        Module.onSlowFrame(gapMs);
    }
});
// clang-format on

// clang-format off
EM_JS(void, tellMusicWait, (double seconds), {
    if (Module.onMusicWait) {
        Module.onMusicWait(seconds);
    }
});

EM_JS(void, tellMusicCut, (double seconds), {
    if (Module.onMusicCut) {
        Module.onMusicCut(seconds);
    }
});
// clang-format on

double nowSeconds() {
    return emscripten_get_now() / 1000.0;
}

// Before each frame: a run that would play music not there yet waits for it
// (through the demo's own pause, so the picture and the music stop together),
// and goes on once enough has come that it need not stop again.
void followMusicDownload(Run& r) {
    const ArrivingBytes& music = musicDownload();
    Engine& e = r.engine;
    const bool arriving = music.begun() && !music.complete() && e.musicLength > 0.0 && !r.musicCut;
    const double there =
        arriving ? e.musicLength * static_cast<double>(music.arrived()) / music.total() : 0.0;
    const double ahead = there - e.clock.currentTime;
    double wait = 0.0;
    if (arriving && music.failed()) {
        // Nothing more will come: play what did, then go on without music.
        if (ahead < 0.1) {
            r.musicCut = true;
            e.audio.unload();
            tellMusicCut(there);
        }
    } else if (arriving && (!e.clock.paused || r.waiting)) {
        const double rate = download.rate(nowSeconds(), music.arrived()) * e.musicLength /
                            static_cast<double>(music.total());
        wait = musicWait(ahead, e.musicLength - there, rate, r.waiting);
    }
    const double now = r.host.now();
    if (wait > 0.0) {
        // Also when the viewer pressed P during the wait: it goes on after it.
        if (!e.clock.paused) {
            e.togglePause(now);
        }
        // Told when it changes by a second or more, or becomes known.
        if (!r.waiting || std::isinf(wait) != std::isinf(r.toldWait) ||
            std::fabs(wait - r.toldWait) >= 1.0) {
            r.toldWait = wait;
            tellMusicWait(wait);
        }
        r.waiting = true;
    } else if (r.waiting) {
        r.waiting = false;
        if (e.clock.paused) {
            e.togglePause(now);
        }
        tellMusicWait(-1.0);
    }
}

void finish() {
    run->engine.shutdown();
    run.reset();
    EM_ASM({
        if (Module.onDemoEnd) {
            Module.onDemoEnd();
        }
    });
}

EM_BOOL animationFrame(double timeMs, void* loop) {
    if (!run || reinterpret_cast<std::intptr_t>(loop) != runNumber) {
        return EM_FALSE;
    }
    if (!run->engine.window.shouldClose()) {
        if (!animationFrameDue(run->lastTarget, timeMs / 1000.0)) {
            return EM_TRUE;
        }
        if (run->lastStepMs >= 0.0 && timeMs - run->lastStepMs > kSlowFrameMs) {
            tellSlowFrame(timeMs - run->lastStepMs);
        }
        run->lastStepMs = timeMs;
        followMusicDownload(*run);
        run->engine.step(run->host);
    }
    if (run->engine.window.shouldClose()) {
        finish();
        return EM_FALSE;
    }
    return EM_TRUE;
}

} // namespace

// Starts the demo at demo time 0 (or at `startAt` seconds, for tests). False
// when start-up failed; the page then shows the log.
extern "C" EMSCRIPTEN_KEEPALIVE int quex_start(double startAt) {
    if (run) {
        return 1;
    }
    run = std::make_unique<Run>();
    if (!run->engine.init()) {
        // Unlike a process, the page lives on: release what start-up made.
        run->engine.releaseSystems();
        run->engine.window.destroy();
        run.reset();
        return 0;
    }
    if (startAt > 0.0) {
        run->engine.seek(startAt, glfwGetTime());
    }
    run->lastTarget = emscripten_get_now() / 1000.0 - 1.0;
    emscripten_request_animation_frame_loop(animationFrame, reinterpret_cast<void*>(++runNumber));
    return 1;
}

// Ends the run now, music included: a hidden tab gets no animation frame to
// end it in, and a lost context draws nothing more.
extern "C" EMSCRIPTEN_KEEPALIVE void quex_stop() {
    if (run) {
        finish();
    }
}

// P's press, for a page without a keyboard (a tap).
extern "C" EMSCRIPTEN_KEEPALIVE void quex_toggle_pause() {
    if (run) {
        run->engine.window.keys.onKey(GLFW_KEY_P, GLFW_PRESS);
        run->engine.window.keys.onKey(GLFW_KEY_P, GLFW_RELEASE);
    }
}

// What the tests read: the demo clock of the last frame, the music position
// handed to the sound device, and the bass level.
extern "C" EMSCRIPTEN_KEEPALIVE double quex_demo_time() {
    return run ? run->engine.clock.currentTime : -1.0;
}

extern "C" EMSCRIPTEN_KEEPALIVE double quex_music_position() {
    return run ? run->engine.audio.positionSeconds() : -1.0;
}

extern "C" EMSCRIPTEN_KEEPALIVE double quex_bass() {
    return run ? run->engine.audio.bass() : 0.0;
}

extern "C" EMSCRIPTEN_KEEPALIVE int quex_frames() {
    return run ? run->engine.frameCounter : 0;
}

// The music's download, from the page. It begins with the file's size; the
// bytes come in order, each piece with the time it arrived (the page may
// hold some back until the program runs; the same clock as
// emscripten_get_now). The answer to each piece: 1 once the music can be
// played from (its format is read), -1 when all of it has come and it cannot
// (a damaged file), 0 otherwise.
extern "C" EMSCRIPTEN_KEEPALIVE int quex_music_begin(double totalBytes) {
    download = Download{};
    return totalBytes >= 1.0 && musicDownload().begin(static_cast<std::size_t>(totalBytes)) ? 1 : 0;
}

extern "C" EMSCRIPTEN_KEEPALIVE int quex_music_add(const unsigned char* bytes, int size,
                                                   double arrivedMs) {
    ArrivingBytes& music = musicDownload();
    if (!music.begun() || size < 0) {
        return 0;
    }
    music.append(bytes, static_cast<std::size_t>(size));
    download.arrived(arrivedMs / 1000.0, music.arrived());
    if (!download.playable) {
        Mp3Stream probe;
        download.playable = probe.open(music);
    }
    return download.playable ? 1 : music.complete() ? -1 : 0;
}

// The rest of the music will not come.
extern "C" EMSCRIPTEN_KEEPALIVE void quex_music_failed() {
    musicDownload().fail();
}
