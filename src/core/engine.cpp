#include "core/engine.h"

#include "core/asset_archive.h"
#include "core/clock.h"
#include "core/log.h"
#include "core/types.h"
#include "render/gl.h"

#include <GLFW/glfw3.h>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace {

const char* const kScriptName = "assets/demo.txt";
const char* const kMusicName = "assets/music/tune.mp3";

// A key acts only on the frame it goes down.
bool pressed(GLFWwindow* handle, int key, bool& wasDown) {
    const bool down = glfwGetKey(handle, key) == GLFW_PRESS;
    const bool edge = down && !wasDown;
    wasDown = down;
    return edge;
}

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
        log(stderr, "[Engine] failed to unpack embedded assets\n");
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
        const unsigned char* music = AssetArchive::find(kMusicName, &size);
        const bool loaded =
            music != nullptr ? audio.loadMemory(music, size) : audio.loadFile(kMusicName);
        if (loaded) {
            audio.play();
        } else {
            log(stderr, "[Engine] running without audio\n");
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
    GLFWwindow* handle = window.handle;
    double lastTarget = glfwGetTime();
    bool f1Down = false;
    bool escapeDown = false;
    bool spaceDown = false;
    bool pDown = false;
    bool cDown = false;
    if (window.shouldClose()) {
        return;
    }

    do {
        // Keys, in a fixed order; with the inert editor Escape always quits
        // and Space is never read.
        if (pressed(handle, GLFW_KEY_F1, f1Down)) {
            editor.toggle();
        }
        if (pressed(handle, GLFW_KEY_ESCAPE, escapeDown)) {
            if (editor.isOpen()) {
                if (!editor.wantsKeyboard()) {
                    editor.close();
                }
            } else {
                glfwSetWindowShouldClose(handle, GLFW_TRUE);
            }
        }
        if (editor.isOpen() && !editor.wantsKeyboard()) {
            if (pressed(handle, GLFW_KEY_SPACE, spaceDown)) {
                togglePause(paused, pauseTime, startOffset, currentTime, glfwGetTime());
                paused ? audio.pause() : audio.resume();
            }
        } else {
            spaceDown = false;
        }
        if (!editor.isOpen()) {
            const bool p = pressed(handle, GLFW_KEY_P, pDown);
            const bool c = pressed(handle, GLFW_KEY_C, cDown);
            if (c) {
                paletteEnabled = !paletteEnabled;
            }
            if (p) {
                togglePause(paused, pauseTime, startOffset, currentTime, glfwGetTime());
                paused ? audio.pause() : audio.resume();
            }
        }

        const LoopRange range = loopRange(musicLength, timeline.endTime, script.loopTime);
        double t;
        if (!paused) {
            t = glfwGetTime() - startOffset;
            currentTime = t;
            if (t >= range.end) {
                const double n = wrapTime(t, range);
                startOffset = glfwGetTime() - n;
                currentTime = n;
                audio.seek(n);
                frameCounter = frameNumberAt(n);
                t = n;
            }
        } else {
            t = pauseTime;
            currentTime = pauseTime;
        }

        audio.update();
        drawFrame(t, audio.bass(), audio.treble());

        editor.draw(*this, t);
        double seekTo = 0.0;
        if (editor.takeSeek(seekTo)) {
            startOffset = glfwGetTime() - seekTo;
            if (paused) {
                pauseTime = seekTo;
            }
            audio.seek(seekTo);
            frameCounter = frameNumberAt(seekTo);
        }

        window.swapAndPoll();
        if (!paused) {
            ++frameCounter;
        }

        const PaceStep step = paceFrame(lastTarget, glfwGetTime());
        lastTarget = step.lastTarget;
        if (step.wait) {
            if (step.sleepSeconds > 0.0) {
                std::this_thread::sleep_for(std::chrono::duration<double>(step.sleepSeconds));
            }
            while (glfwGetTime() < step.target) {
            }
        }
    } while (!window.shouldClose());
}

void Engine::seek(double seconds, double now) {
    if (!std::isfinite(seconds)) {
        log(stderr, "[Engine] seek to an invalid time ignored\n");
        return;
    }
    seconds = std::max(seconds, 0.0);
    startOffset = now - seconds;
    currentTime = seconds;
    if (paused) {
        pauseTime = seconds;
    }
    audio.seek(seconds);
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
