// Plays the demo in a window with its music and follows edits of a script
// file as they are saved: the timeline, overlays, scroll texts and stabs pick
// up the new entries by id while the scenes' simulations run on.
#include "base/file_watch.h"
#include "base/log.h"
#include "command_line.h"
#include "core/engine.h"
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

namespace {

const char* const kUsage =
    "usage: quex_preview [SCRIPT] [--at SECONDS] [--size WxH]\n"
    "  SCRIPT          a script file, read again whenever it is saved\n"
    "                  (default: the script embedded in the demo, not watched)\n"
    "  --at SECONDS    start at this demo time (default 0)\n"
    "  --size WxH      window size (default 960x540)\n"
    "keys: Space pause, Left/Right -/+1 s (Shift: 5 s), Home 0 s, L loop point,\n"
    "      R read the script again, C palette, Escape quit\n";

const ToolHelp kHelp = {
    "quex_preview",
    "Plays the quex_invi demo in a window with its music and follows edits of a\n"
    "script file as they are saved: the timeline, overlays, scroll texts and stabs\n"
    "pick up the new entries while the scenes' simulations run on.\n",
    kUsage,
    "Exit status: 0 when the window is closed, 1 when the window or the script\n"
    "cannot be opened, 2 for a bad argument.\n",
};

// A saved file is read once it has been quiet this long, so an editor's
// several steps of one save make one reload.
constexpr double kSettleSeconds = 0.1;
constexpr double kTitleSeconds = 0.25;

struct Options {
    std::string script;
    double at = 0.0;
    int width = 960;
    int height = 540;
};

bool parseOptions(int argc, char** argv, Options& o) {
    auto bad = [](const char* why, const char* arg) {
        std::fprintf(stderr, "quex_preview: %s%s%s\n", why, arg ? ": " : "", arg ? arg : "");
        return false;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--at" || a == "--size") {
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

// "12.345 s  frame 740 @60  road 1.00 + fluid 0.42  58 fps  paused"
std::string titleText(const Engine& engine, double t, double fps) {
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
    std::snprintf(buffer, sizeof buffer, "  %.0f fps%s", fps, engine.paused ? "  paused" : "");
    return title + buffer;
}

class Preview {
  public:
    Engine engine;
    std::string scriptPath;
    FileWatch watch;
    std::string lastBytes; // of the script file as last accepted
    bool pending = false;
    double lastEvent = 0.0;

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

    void followScript(double now) {
        if (scriptPath.empty()) {
            return;
        }
        if (watch.poll()) {
            pending = true;
            lastEvent = now;
        }
        if (pending && now - lastEvent >= kSettleSeconds) {
            pending = false;
            reload();
        }
    }

    double clockNow() const {
        return engine.paused ? engine.pauseTime : glfwGetTime() - engine.startOffset;
    }

    // Past the loop end Engine::seek wraps; before 0 it stops at 0.
    void seekTo(double t) { engine.seek(t, glfwGetTime()); }

    void handleKeys(GLFWwindow* window, PressQueue& keys) {
        for (const PressQueue::Press& p : keys.take()) {
            const double step = (p.mods & GLFW_MOD_SHIFT) != 0 ? 5.0 : 1.0;
            switch (p.key) {
            case GLFW_KEY_ESCAPE:
                glfwSetWindowShouldClose(window, GLFW_TRUE);
                break;
            case GLFW_KEY_SPACE:
            case GLFW_KEY_P:
                engine.togglePause(glfwGetTime());
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
            glfwSetWindowTitle(window, titleText(preview.engine, t, fps).c_str());
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
    if (!o.script.empty() && !preview.loadStartScript()) {
        engine.releaseSystems();
        glfwDestroyWindow(window);
        glfwTerminate();
        return 1;
    }
    preview.seekTo(o.at);

    PreviewHost host(window, state, preview);
    engine.run(host);
    engine.releaseSystems();
    glfwDestroyWindow(window);
    glfwTerminate();
    return 0;
}
