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
    startOffset = glfwGetTime();
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
    if (!paused) {
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

double Engine::advanceClock(FrameHost& host) {
    const LoopRange range = loopRangeNow();
    audio.setLoopStart(range.start);
    const double now = host.now();
    const double sinceLast = framed ? now - lastFrameNow : 0.0;
    lastFrameNow = now;
    framed = true;
    if (paused) {
        currentTime = pauseTime;
        return pauseTime;
    }
    MusicPosition music;
    const bool playing = musicLength > 0.0 && audio.playPosition(music);
    const double span = range.end - range.start;
    const bool heard = playing && music.silentFor == 0.0 && span > 0.0;
    const bool holding = playing && !heard && music.silentFor < kHoldSeconds;
    // The timer carries the clock from the last frame (or the last seek), at
    // the pace the device plays when it is heard.
    const double pace = heard ? std::clamp(music.rate, 0.8, 1.25) : 1.0;
    double t = currentTime + (now - startOffset - currentTime) * pace;
    // A long gap between frames in which the music did not play on either:
    // the whole process stood still (stopped, a sleeping machine), so the
    // picture goes on from where it stood, as the music does.
    const double heardSoFar = static_cast<double>(music.loops) * span + music.seconds;
    const double played = heard && lastHeard >= 0.0 ? heardSoFar - lastHeard : 0.0;
    if (playing && sinceLast > kStoodStillSeconds && played < 0.5 * sinceLast) {
        t = currentTime;
    }
    lastHeard = heard ? heardSoFar : -1.0;
    const bool snaps = heard && settling;
    if (snaps) {
        // The first music heard after a start, a seek or a resume: the clock
        // takes it as it is, a part of the jump that is being made.
        t += std::remainder(music.seconds - t, span);
        settling = false;
        offFrames = 0;
    } else if (heard) {
        const double error = std::remainder(music.seconds - t, span);
        const bool off = std::fabs(error) > kStepSeconds;
        if (off && offFrames > 0 && (error > 0.0) == (offLeast > 0.0)) {
            ++offFrames;
            offLeast = std::fabs(error) < std::fabs(offLeast) ? error : offLeast;
        } else {
            offFrames = off ? 1 : 0;
            offLeast = error;
        }
        if (offFrames >= kOffFrames) {
            if (offLeast > 0.0) {
                t += offLeast;
            } else {
                // Music the device never played while the picture ran on (a
                // stall, a late start): skipped, so the two go on together.
                audio.skip(-offLeast);
            }
            offFrames = 0;
        } else if (!off) {
            t += std::clamp(error, -kPace * sinceLast, kPace * sinceLast);
        }
    } else {
        offFrames = 0;
        if (holding && span > 0.0) {
            // Late or stalled a moment: the picture waits for the music, not
            // going back.
            t = std::min(t, currentTime +
                                std::max(0.0, std::remainder(music.seconds - currentTime, span)));
        }
    }
    if (!snaps) {
        // Never back, whatever the timer did.
        t = std::max(t, currentTime);
    }
    const bool wraps = t >= range.end;
    if (wraps) {
        t = wrapTime(t, range);
        frameCounter = frameNumberAt(t);
    }
    startOffset = now - t;
    currentTime = t;
    return t;
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

void Engine::togglePause(double now) {
    ::togglePause(paused, pauseTime, startOffset, currentTime, now);
    if (paused) {
        audio.pause();
    } else {
        seekMusic(pauseTime);
        settling = true;
        audio.resume();
    }
}

void Engine::seek(double seconds, double now) {
    if (!std::isfinite(seconds)) {
        logLine(stderr, "[Engine] seek to an invalid time ignored\n");
        return;
    }
    seconds = std::max(seconds, 0.0);
    // Past the loop end it lands where the running clock would wrap to, so a
    // paused seek never draws a time beyond the end.
    const LoopRange range = loopRangeNow();
    if (seconds >= range.end) {
        seconds = wrapTime(seconds, range);
    }
    startOffset = now - seconds;
    currentTime = seconds;
    lastHeard = -1.0;
    settling = true;
    if (paused) {
        pauseTime = seconds;
    }
    seekMusic(seconds);
    frameCounter = frameNumberAt(seconds);
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
