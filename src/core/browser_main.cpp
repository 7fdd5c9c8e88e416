#include "base/clock.h"
#include "core/engine.h"

#include <GLFW/glfw3.h>
#include <cstdint>
#include <emscripten.h>
#include <emscripten/html5.h>
#include <memory>

// The browser's process entry and frame loop. The page calls quex_start on
// the click that starts the demo; from then on the browser's animation frames
// drive Engine::step, at most 60 a second. When the run ends (Escape, or the
// page ending it: full screen left, a lost WebGL context, a two-finger tap)
// everything is released and the page is told, so that the next click starts
// afresh at demo time 0 through the same init paths.

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
};

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
