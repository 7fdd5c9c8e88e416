#include "core/engine.h"

#include "audio/arriving_bytes.h"
#include "base/log.h"
#include "base/types.h"
#include "core/asset_archive.h"
#include "render/gl.h"

#include <GLFW/glfw3.h>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace {

const char* const kScriptName = "assets/demo.txt";
const char* const kMusicName = "assets/music/tune.mp3";

// The demo's window as the frame loop's host.
class WindowHost final : public FrameHost {
  public:
    explicit WindowHost(Window& w) : window(w) {}
    double now() override { return glfwGetTime(); }
    int takePresses(int key) override { return window.keys.takePresses(key); }
    bool shouldClose() override { return window.shouldClose(); }
    void requestClose() override { glfwSetWindowShouldClose(window.handle, GLFW_TRUE); }
    void swapAndPoll() override { window.swapAndPoll(); }
    void sleepFor(double seconds) override {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }

  private:
    Window& window;
};

} // namespace

bool Engine::init() {
    if (!window.create("quex_invi")) {
        return false;
    }
    if (!initSystems(window.width, window.height, true)) {
        return false;
    }
    editor.init(window.handle);
    clock.startOffset = glfwGetTime();
    return true;
}

bool Engine::initSystems(int screenWidth, int screenHeight, bool withMusic) {
    if (!AssetArchive::unpack()) {
        logLine(stderr, "[Engine] failed to unpack embedded assets\n");
        return false;
    }

    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_DEPTH_TEST);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);

    std::size_t size = 0;
    const unsigned char* bytes = AssetArchive::find(kScriptName, &size);
    const bool scriptLoaded =
        bytes != nullptr ? Script::load_mem(reinterpret_cast<const char*>(bytes), size, script)
                         : Script::load(kScriptName, script);
    if (!scriptLoaded) {
        return false;
    }

    if (!post.init(kCanvasWidth, kCanvasHeight, screenWidth, screenHeight)) {
        return false;
    }
    timeline.init(kCanvasWidth, kCanvasHeight, script);
    scroller.init(kCanvasWidth, kCanvasHeight);
    scrollTexts.init(kCanvasWidth, kCanvasHeight, script);
    stabs.init(kCanvasWidth, kCanvasHeight, script);
    overlays.build(script);
    overlays.init(kCanvasWidth, kCanvasHeight);

    if (withMusic) {
        // The browser's archive leaves the music out: its page downloads it.
        const unsigned char* music = AssetArchive::find(kMusicName, &size);
        const bool loaded = music != nullptr          ? audio.loadMemory(music, size)
                            : musicDownload().begun() ? audio.loadArriving(musicDownload())
                                                      : audio.loadFile(kMusicName);
        if (loaded) {
            audio.play();
        } else {
            logLine(stderr, "[Engine] running without audio\n");
        }
    }
    musicLength = audio.lengthSeconds();
    return true;
}

void Engine::drawFrame(double t, float bass, float treble) {
    timeline.update(script);
    overlays.update(script);
    scrollTexts.update(script);
    stabs.update(script);

    timeline.setAudio(t, bass, treble);
    scroller.update(t, t);

    post.begin();
    glClear(GL_COLOR_BUFFER_BIT);
    timeline.render(t);
    overlays.render(t, treble);
    if (script.scroll) {
        scroller.render(t, t, 1.0f);
    }
    scrollTexts.render(t);
    stabs.render(t, bass, treble);
    post.end();

    glClear(GL_COLOR_BUFFER_BIT);
    post.present(static_cast<float>(t), bass, paletteEnabled);
}

void Engine::run() {
    WindowHost host(window);
    run(host);
}

void Engine::run(FrameHost& host) {
    double lastTarget = host.now();
    if (host.shouldClose()) {
        return;
    }
    do {
        step(host);
        paceNextFrame(host, lastTarget);
    } while (!host.shouldClose());
}

void Engine::step(FrameHost& host) {
    host.beginFrame();
    // Every press since the last frame acts once, in a fixed order, so a tap
    // shorter than a frame is not lost. With the inert editor Escape always
    // quits and Space is never read.
    for (int n = host.takePresses(GLFW_KEY_F1); n > 0; --n) {
        editor.toggle();
    }
    for (int n = host.takePresses(GLFW_KEY_ESCAPE); n > 0; --n) {
        if (editor.isOpen()) {
            if (!editor.wantsKeyboard()) {
                editor.close();
            }
        } else {
            host.requestClose();
        }
    }
    // Presses of keys that are not read now are dropped, not kept for later.
    const int space = host.takePresses(GLFW_KEY_SPACE);
    const int p = host.takePresses(GLFW_KEY_P);
    const int c = host.takePresses(GLFW_KEY_C);
    if (editor.isOpen() && !editor.wantsKeyboard()) {
        for (int n = space; n > 0; --n) {
            togglePause(host.now());
        }
    }
    if (!editor.isOpen()) {
        if (c % 2 != 0) {
            paletteEnabled = !paletteEnabled;
        }
        for (int n = p; n > 0; --n) {
            togglePause(host.now());
        }
    }

    const double t = renderFrame(host);
    editor.draw(*this, t);
    double seekTo = 0.0;
    if (editor.takeSeek(seekTo)) {
        seek(seekTo, host.now());
    }

    host.swapAndPoll();
    if (!clock.paused) {
        ++frameCounter;
    }
    host.endFrame(t);
}

double Engine::renderFrame(FrameHost& host) {
    const double t = advanceClock(host);
    audio.update();
    drawFrame(t, audio.bass(), audio.treble());
    return t;
}

LoopRange Engine::loopRangeNow() const {
    return loopRange(musicLength, timeline.endTime, script.loopTime);
}

ClockInput Engine::clockInput(ClockEvent event, double now) const {
    ClockInput in;
    in.event = event;
    in.now = now;
    in.range = loopRangeNow();
    in.musicKnown = musicLength > 0.0 && audio.playPosition(in.music);
    return in;
}

double Engine::apply(const ClockStep& step) {
    switch (step.music) {
    case MusicAction::Skip:
        audio.skip(step.musicSeconds);
        break;
    case MusicAction::Seek:
        seekMusic(step.musicSeconds);
        break;
    case MusicAction::Pause:
        audio.pause();
        break;
    case MusicAction::Resume:
        audio.resume();
        break;
    case MusicAction::None:
        break;
    }
    if (step.restart) {
        frameCounter = frameNumberAt(step.time);
    }
    return step.time;
}

double Engine::advanceClock(FrameHost& host) {
    audio.setLoopStart(loopRangeNow().start);
    return apply(decideClock(clock, clockInput(ClockEvent::Frame, host.now())));
}

void Engine::seekMusic(double seconds) {
    // The seek is carried out at the device's next request, half a period
    // away on average, and heard the output latency later.
    double music =
        seconds + audio.outputLatency() + 0.5 * Audio::kPeriodFrames / Audio::kEngineRate;
    const LoopRange range = loopRangeNow();
    if (music >= range.end) {
        music = wrapTime(music, range);
    }
    audio.seek(music);
}

void Engine::togglePause(double now, bool atFrame) {
    ClockInput in = clockInput(ClockEvent::TogglePause, now);
    in.pauseAtFrame = atFrame;
    apply(decideClock(clock, in));
}

void Engine::seek(double seconds, double now) {
    if (!std::isfinite(seconds)) {
        logLine(stderr, "[Engine] seek to an invalid time ignored\n");
        return;
    }
    ClockInput in = clockInput(ClockEvent::Seek, now);
    in.seekTo = seconds;
    apply(decideClock(clock, in));
}

void Engine::releaseSystems() {
    scroller.release();
    scrollTexts.release();
    stabs.release();
    post.release();
    overlays.release();
    timeline.release();
    audio.unload();
}

void Engine::shutdown() {
    editor.shutdown();
    releaseSystems();
    window.destroy();
}
