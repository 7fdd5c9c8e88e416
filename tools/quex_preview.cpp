// Plays the demo in a window with its music and follows edits of a script
// file as they are saved: the timeline, overlays, scroll texts and stabs pick
// up the new entries by id. Every frame shows what a viewer sees at its time:
// after a seek the clock and the music wait while the simulated scenes are
// rebuilt at that time, the same way quex_capture rebuilds them.
#include "base/file_watch.h"
#include "base/log.h"
#include "command_line.h"
#include "core/engine.h"
#include "core/offline_frames.h"
#include "render/gl.h"
#include "render/gl_context.h"
#include "script/script_reload.h"

#include <GLFW/glfw3.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace {

const char* const kUsage =
    "usage: quex_preview [SCRIPT] [--at SECONDS] [--size WxH] [--stills DIR]\n"
    "  SCRIPT          a script file, read again whenever it is saved\n"
    "                  (default: the script embedded in the demo, not watched)\n"
    "  --at SECONDS    start at this demo time (default 0)\n"
    "  --size WxH      window size (default 960x540)\n"
    "  --stills DIR    after every seek or reload, the canvas of the frame it\n"
    "                  lands on as DIR/canvas_NNNNNN.png (frames at 60 a second)\n"
    "keys: Space pause, Left/Right -/+1 s (Shift: 5 s), Home 0 s, L loop point,\n"
    "      R read the script again, C palette, Escape quit\n";

const ToolHelp kHelp = {
    "quex_preview",
    "Plays the quex_invi demo in a window with its music and follows edits of a\n"
    "script file as they are saved: the timeline, overlays, scroll texts and stabs\n"
    "pick up the new entries. After a seek the clock and the music wait while the\n"
    "simulated scenes are rebuilt at the new time, so the picture is the one a\n"
    "viewer of the demo sees there; while paused it holds that frame.\n",
    kUsage,
    "Exit status: 0 when the window is closed, 1 when the window or the script\n"
    "cannot be opened, 2 for a bad argument.\n",
};

// A saved file is read once it has been quiet this long, so an editor's
// several steps of one save make one reload.
constexpr double kSettleSeconds = 0.1;
constexpr double kTitleSeconds = 0.25;
// The most a frame spends rebuilding state before the clock waits for it.
constexpr double kRebuildSlice = 0.1;
// Steps worth this many seconds behind the clock while playing send the clock
// back to the picture instead.
constexpr double kLagSeconds = 1.0;
constexpr int kFramesPerSecond = 60;

struct Options {
    std::string script;
    double at = 0.0;
    int width = 960;
    int height = 540;
    std::string stills;
};

bool parseOptions(int argc, char** argv, Options& o) {
    auto bad = [](const char* why, const char* arg) {
        std::fprintf(stderr, "quex_preview: %s%s%s\n", why, arg ? ": " : "", arg ? arg : "");
        return false;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--at" || a == "--size" || a == "--stills") {
            if (value == nullptr) {
                return bad("missing value", argv[i]);
            }
            ++i;
            if (a == "--at") {
                char* end = nullptr;
                o.at = std::strtod(value, &end);
                if (end == value || *end != '\0' || !std::isfinite(o.at) || o.at < 0.0) {
                    return bad("--at needs seconds, 0 or more", value);
                }
            } else if (a == "--stills") {
                o.stills = value;
            } else {
                char tail = 0;
                if (std::sscanf(value, "%dx%d%c", &o.width, &o.height, &tail) != 2 ||
                    o.width < 16 || o.height < 16 || o.width > 8192 || o.height > 8192) {
                    return bad("--size needs WxH, each 16 to 8192", value);
                }
            }
        } else if (a == "-h" || a == "--help") {
            return false;
        } else if (a.rfind("-", 0) == 0 && a != "-") {
            return bad("unknown option", argv[i]);
        } else if (o.script.empty()) {
            o.script = a;
        } else {
            return bad("only one script", argv[i]);
        }
    }
    return true;
}

// Key presses with their modifiers as the window reports them, kept until the
// frame loop takes them, so a tap shorter than a frame still acts once.
class PressQueue {
  public:
    struct Press {
        int key = 0;
        int mods = 0;
    };
    void push(int key, int mods) { presses.push_back({key, mods}); }
    std::vector<Press> take() {
        std::vector<Press> out;
        out.swap(presses);
        return out;
    }

  private:
    std::vector<Press> presses;
};

struct WindowState {
    PressQueue keys;
    int width = 0;
    int height = 0;
    bool resized = false;
};

void onKey(GLFWwindow* window, int key, int /*scancode*/, int action, int mods) {
    auto* state = static_cast<WindowState*>(glfwGetWindowUserPointer(window));
    // Holding an arrow scrubs; every other key acts once per press.
    const bool scrub = key == GLFW_KEY_LEFT || key == GLFW_KEY_RIGHT;
    if (action == GLFW_PRESS || (action == GLFW_REPEAT && scrub)) {
        state->keys.push(key, mods);
    }
}

void onFramebufferSize(GLFWwindow* window, int width, int height) {
    auto* state = static_cast<WindowState*>(glfwGetWindowUserPointer(window));
    state->width = width;
    state->height = height;
    state->resized = true;
}

GLFWwindow* openWindow(const Options& o, WindowState& state) {
    if (!glfwInit()) {
        logLine(stderr, "[Preview] glfwInit failed\n");
        return nullptr;
    }
    GLFWwindow* window =
        openGlWindow({"[Preview]", "quex_preview", o.width, o.height, nullptr, true, true});
    if (window == nullptr) {
        return nullptr;
    }
    // The demo paces its own frames; the canvas keeps its shape.
    glfwSwapInterval(0);
    glfwSetWindowAspectRatio(window, kCanvasWidth, kCanvasHeight);
    glfwSetWindowUserPointer(window, &state);
    glfwSetKeyCallback(window, onKey);
    glfwSetFramebufferSizeCallback(window, onFramebufferSize);
    glfwGetFramebufferSize(window, &state.width, &state.height);
    return window;
}

// "12.345 s  frame 740 @60  road 1.00 + fluid 0.42  58 fps  paused", or
// "rebuilding 40 %" while the clock waits for the scenes.
std::string titleText(const Engine& engine, double t, double fps, const std::string& status) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "quex_preview  %.3f s  frame %ld @%d  ", t,
                  static_cast<long>(std::floor(t * engine.script.fps)), engine.script.fps);
    std::string title = buffer;
    bool any = false;
    for (const ActiveScene& a : engine.timeline.active) {
        if (!(a.start <= t && t <= a.end)) {
            continue;
        }
        const auto entry = std::find_if(engine.script.scenes.begin(), engine.script.scenes.end(),
                                        [&a](const SceneEntry& e) { return e.id == a.id; });
        if (entry == engine.script.scenes.end()) {
            continue;
        }
        std::snprintf(buffer, sizeof buffer, "%s%.*s %.2f", any ? " + " : "",
                      static_cast<int>(sizeof entry->name), entry->name, sceneAlpha(a, t));
        title += buffer;
        any = true;
    }
    if (!any) {
        title += "(no scene)";
    }
    std::snprintf(buffer, sizeof buffer, "  %.0f fps", fps);
    return title + buffer + (status.empty() ? "" : "  " + status);
}

class Preview {
  public:
    Engine engine;
    std::string scriptPath;
    FileWatch watch;
    std::string lastBytes; // of the script file as last accepted
    bool pending = false;
    double lastEvent = 0.0;
    OfflineMusic music;
    FrameSchedule schedule;
    SceneRebuild rebuild;
    std::string stills; // where the canvas goes after a seek or reload, when set
    bool userPaused = false;
    bool stale = false;   // an edit changed what the shown frame should be
    bool landing = false; // a seek or reload whose frame has not been shown yet
    long wanted = -1;     // the frame the clock is at, at the schedule's rate, counting loop passes
    long shownFrame = -1; // the frame on screen
    int passes = 0;       // loop wraps since the last seek
    double lastClock = 0.0;
    double landStart = 0.0;   // when the landing began
    long landSteps = 0;       // the rebuild's step count then
    double drawSeconds = 0.0; // the last frame's drawing

    // The clock and the music wait exactly while the frame wanted is not the
    // frame shown.
    bool held() const { return stale || wanted != shownFrame; }

    // The frames follow the capture's schedule: the decoded music gives the
    // levels, so the picture does not depend on the sound device.
    void initFrames() {
        if (music.load()) {
            engine.musicLength = music.lengthSeconds();
        }
        schedule.init(kFramesPerSecond, engine.loopRangeNow(), analyseFrames(music));
        rebuild.init(engine.timeline, engine.overlays, schedule);
    }

    long frameFor(double clock) const { return schedule.frameAt(clock + passes * loopLength()); }

    // The script's entries as the next frame will use them; the rebuild drops
    // the state that the change made wrong.
    void applyScript() {
        engine.timeline.update(engine.script);
        engine.overlays.update(engine.script);
        schedule.setRange(engine.loopRangeNow());
        rebuild.scheduleChanged();
        stale = true;
        // A later pass that the edit made wrong would be rebuilt through every
        // pass before it: the first pass at the same time, where seeks land,
        // is the frame shown then, when it costs less.
        const double clock = clockNow();
        if (passes > 0 &&
            rebuild.stepsTo(frameFor(clock)) > rebuild.stepsTo(schedule.frameAt(clock))) {
            passes = 0;
        }
        markLanding();
    }

    // The script file at start-up; a file that is there but unusable leaves
    // the embedded script playing until it is fixed.
    bool loadStartScript() {
        struct stat st {};
        if (::stat(scriptPath.c_str(), &st) != 0) {
            logLine(stderr, "[Preview] cannot read %s: %s\n", scriptPath.c_str(),
                    std::strerror(errno));
            return false;
        }
        reload(true);
        watch.start(scriptPath);
        return true;
    }

    // Reads the script file again. A save (or a touch) that leaves its bytes
    // as they were says nothing; R reads it whatever it holds.
    void reload(bool first = false, bool asked = false) {
        DemoScript next;
        const auto known = [this](const char* name) {
            return engine.timeline.find(name) != nullptr;
        };
        if (asked) {
            lastBytes.clear();
        }
        if (!readScriptUpdate(scriptPath.c_str(), known, next, &lastBytes)) {
            return;
        }
        const ScriptChanges c = compareScripts(engine.script, next);
        engine.script = std::move(next);
        applyScript();
        if (first) {
            logLine(stderr, "[Preview] playing %s: %d entries\n", scriptPath.c_str(),
                    engine.script.nextId);
            return;
        }
        if (!asked && c.added == 0 && c.changed == 0 && c.removed == 0 && !c.settingsChanged) {
            return; // only comments or spacing changed
        }
        logLine(stderr, "[Preview] reloaded %s: %d added, %d changed, %d removed%s\n",
                scriptPath.c_str(), c.added, c.changed, c.removed,
                c.settingsChanged ? "; fps, loop or scroll changed" : "");
    }

    // A save is read once the file has been quiet a moment and no writer
    // holds it half-written.
    void followScript(double now) {
        if (scriptPath.empty()) {
            return;
        }
        if (watch.poll()) {
            pending = true;
            lastEvent = now;
        }
        if (pending && now - lastEvent >= kSettleSeconds && !watch.beingWritten()) {
            pending = false;
            reload();
        }
    }

    double clockNow() const {
        return engine.clock.paused ? engine.clock.pauseTime
                                   : glfwGetTime() - engine.clock.startOffset;
    }

    // Past the loop end Engine::seek wraps; before 0 it stops at 0. A seek
    // lands in the first pass, where quex_capture --at finds the same time.
    void seekTo(double t) {
        engine.seek(t, glfwGetTime());
        passes = 0;
        lastClock = engine.clock.currentTime;
        markLanding();
    }

    // What the log line and the still after a seek or reload count from.
    void markLanding() {
        landing = true;
        landStart = glfwGetTime();
        landSteps = rebuild.stepsTaken();
    }

    // A hold for a rebuild pauses at the frame shown, not at the music heard.
    void setPaused(bool paused, bool hold = false) {
        if (engine.clock.paused != paused) {
            engine.togglePause(glfwGetTime(), hold);
        }
    }

    double loopLength() const { return schedule.range().end - schedule.range().start; }

    // The clock (and the music) to frame k, in whichever loop pass k is.
    void moveClockTo(long k) {
        wanted = k;
        engine.seek(schedule.timeOf(k), glfwGetTime());
        const double length = loopLength();
        const double passed = static_cast<double>(k) / schedule.fps() - engine.clock.currentTime;
        passes = length > 0.0 ? static_cast<int>(std::lround(passed / length)) : 0;
        lastClock = engine.clock.currentTime;
    }

    // Drawing frame k would take steps worth more than kLagSeconds.
    bool farBehind(long k) {
        // A step costs at most a frame drawn with it, before one was timed.
        const double perStep = rebuild.stepSeconds() > 0.0 ? rebuild.stepSeconds() : drawSeconds;
        return static_cast<double>(rebuild.stepsTo(k)) * perStep > kLagSeconds;
    }

    // One frame: the clock, then the frame it wants brought and drawn, or
    // while that is not there yet, the clock held and the last frame shown.
    // Returns the time the title shows.
    double frame(FrameHost& host) {
        const double clock = engine.advanceClock(host);
        engine.audio.update();
        // The clock wrapped at the loop end; a step back at the first music
        // heard after a seek (a slow sound server) is shorter.
        if (!engine.clock.paused && clock < lastClock - 0.5 * loopLength()) {
            ++passes;
        }
        lastClock = clock;
        wanted = frameFor(clock);
        if (!engine.clock.paused && !landing && shownFrame >= 0 && wanted > shownFrame + 1 &&
            farBehind(wanted)) {
            // A draw slower than the steps it let pass (the smoke on a slow
            // renderer): the clock goes back to the next frame and waits for
            // it, so the simulations play slowly instead of being rebuilt.
            moveClockTo(shownFrame + 1);
        }
        const bool drawn = held() && rebuild.bringTo(wanted, kRebuildSlice);
        if (drawn) {
            draw(host);
        } else {
            present();
        }
        if (landing && !held()) {
            land(host);
        }
        setPaused(userPaused || held(), !userPaused);
        return schedule.timeOf(wanted);
    }

    void draw(FrameHost& host) {
        if (userPaused) {
            rebuild.keep(wanted); // an edit while paused draws it again
        }
        const double drawStart = host.now();
        drawScheduledFrame(engine, rebuild, schedule, wanted);
        glFinish();
        drawSeconds = host.now() - drawStart;
        shownFrame = wanted;
        stale = false;
    }

    // The frame a seek or reload wanted is on screen, drawn or already there.
    void land(FrameHost& host) {
        landing = false;
        // A landing that took steps says what it cost, however short.
        const long steps = rebuild.stepsTaken() - landSteps;
        if (steps > 0) {
            logLine(stderr, "[Preview] %.3f s rebuilt in %.2f s (%ld steps)\n",
                    schedule.timeOf(shownFrame), host.now() - landStart, steps);
        }
        writeStill(shownFrame);
    }

    // The last frame's canvas again, through the final pass of this moment
    // (the palette key, the window's size).
    void present() {
        engine.post.end();
        glClear(GL_COLOR_BUFFER_BIT);
        if (shownFrame >= 0) {
            float bass = 0.0f;
            float treble = 0.0f;
            schedule.levelsAt(shownFrame, bass, treble);
            engine.post.present(static_cast<float>(schedule.timeOf(shownFrame)), bass,
                                engine.paletteEnabled);
        }
    }

    void writeStill(long k) const {
        if (stills.empty()) {
            return;
        }
        const RenderTarget& canvas = engine.post.canvas;
        const int w = canvas.width;
        const int h = canvas.height;
        std::vector<unsigned char> rgba(static_cast<std::size_t>(w) * h * 4);
        glBindFramebuffer(GL_READ_FRAMEBUFFER, canvas.framebuffer);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
        std::vector<unsigned char> rgb(static_cast<std::size_t>(w) * h * 3);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                for (int c = 0; c < 3; ++c) {
                    rgb[(static_cast<std::size_t>(y) * w + x) * 3 + c] =
                        rgba[(static_cast<std::size_t>(h - 1 - y) * w + x) * 4 + c];
                }
            }
        }
        char name[64];
        std::snprintf(name, sizeof name, "/canvas_%06ld.png", k);
        const std::string path = stills + name;
        if (stbi_write_png(path.c_str(), w, h, 3, rgb.data(), w * 3) == 0) {
            logLine(stderr, "[Preview] cannot write %s\n", path.c_str());
        }
    }

    std::string status() const {
        char buffer[48] = "";
        if (held()) {
            std::snprintf(buffer, sizeof buffer, "rebuilding %.0f %%", rebuild.progress() * 100.0);
        } else if (userPaused) {
            std::snprintf(buffer, sizeof buffer, "paused");
        }
        return buffer;
    }

    void handleKeys(GLFWwindow* window, PressQueue& keys) {
        for (const PressQueue::Press& p : keys.take()) {
            const double step = (p.mods & GLFW_MOD_SHIFT) != 0 ? 5.0 : 1.0;
            switch (p.key) {
            case GLFW_KEY_ESCAPE:
                glfwSetWindowShouldClose(window, GLFW_TRUE);
                break;
            case GLFW_KEY_SPACE:
            case GLFW_KEY_P:
                userPaused = !userPaused;
                setPaused(userPaused || held());
                if (userPaused && !held() && shownFrame >= 0) {
                    // The state before the frame on screen is gone; the next
                    // frame is drawn from the live state, and kept for edits
                    // (the music, paused first, only moves with the clock).
                    moveClockTo(shownFrame + 1);
                }
                break;
            case GLFW_KEY_LEFT:
                seekTo(clockNow() - step);
                break;
            case GLFW_KEY_RIGHT:
                seekTo(clockNow() + step);
                break;
            case GLFW_KEY_HOME:
                seekTo(0.0);
                break;
            case GLFW_KEY_L:
                seekTo(engine.loopRangeNow().start);
                break;
            case GLFW_KEY_C:
                engine.paletteEnabled = !engine.paletteEnabled;
                break;
            case GLFW_KEY_R:
                if (!scriptPath.empty()) {
                    reload(false, true);
                }
                break;
            default:
                break;
            }
        }
    }
};

// The preview's window as the frame loop's host. Its keys are its own, read
// before each frame; the engine's keys never reach the engine.
class PreviewHost final : public FrameHost {
  public:
    PreviewHost(GLFWwindow* w, WindowState& s, Preview& p) : window(w), state(s), preview(p) {}
    double now() override { return glfwGetTime(); }
    int takePresses(int) override { return 0; }
    bool shouldClose() override { return glfwWindowShouldClose(window) != 0; }
    void requestClose() override { glfwSetWindowShouldClose(window, GLFW_TRUE); }
    void swapAndPoll() override {
        glfwSwapBuffers(window);
        glfwPollEvents();
    }
    void sleepFor(double seconds) override {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }

    void beginFrame() override {
        preview.handleKeys(window, state.keys);
        if (state.resized) {
            state.resized = false;
            preview.engine.post.screenWidth = std::max(state.width, 1);
            preview.engine.post.screenHeight = std::max(state.height, 1);
        }
        preview.followScript(now());
    }

    // The title shows the time, the scenes and the frame rate.
    void endFrame(double t) override {
        ++framesSinceTitle;
        const double time = now();
        if (time - lastTitle >= kTitleSeconds) {
            fps = lastTitle < 0.0 ? 0.0 : framesSinceTitle / (time - lastTitle);
            glfwSetWindowTitle(window, titleText(preview.engine, t, fps, preview.status()).c_str());
            lastTitle = time;
            framesSinceTitle = 0;
        }
    }

  private:
    GLFWwindow* window;
    WindowState& state;
    Preview& preview;
    double lastTitle = -1.0;
    int framesSinceTitle = 0;
    double fps = 0.0;
};

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (const std::optional<int> done = readCommandLine(argc, argv, kHelp, parseOptions, o)) {
        return *done;
    }
    WindowState state;
    GLFWwindow* window = openWindow(o, state);
    if (window == nullptr) {
        return 1;
    }
    Preview preview;
    Engine& engine = preview.engine;
    if (!engine.initSystems(state.width, state.height, true)) {
        glfwDestroyWindow(window);
        glfwTerminate();
        return 1;
    }
    preview.scriptPath = o.script;
    preview.stills = o.stills;
    preview.initFrames();
    if (!o.script.empty() && !preview.loadStartScript()) {
        preview.rebuild.release();
        engine.releaseSystems();
        glfwDestroyWindow(window);
        glfwTerminate();
        return 1;
    }
    preview.seekTo(o.at);

    PreviewHost host(window, state, preview);
    double lastTarget = host.now();
    while (!host.shouldClose()) {
        host.beginFrame();
        const double t = preview.frame(host);
        host.swapAndPoll();
        host.endFrame(t);
        paceNextFrame(host, lastTarget);
    }
    preview.rebuild.release();
    engine.releaseSystems();
    glfwDestroyWindow(window);
    glfwTerminate();
    return 0;
}
