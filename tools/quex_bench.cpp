// Per-scene cost: each of the seven scenes rendered alone at full opacity
// into the canvas and shown with the final pass; the frame timed on the CPU
// (with glFinish), each pass by the GPU's timer queries and by the clocks.
// Beside the final pass, the floor: a pass that reads the canvas once per
// pixel at the same size, what no final pass can beat. Under Mesa's
// GALLIUM_NOOP=1 the driver draws nothing, so the frame's time is the API and
// driver work alone and is reported as that, without the passes' times.
#include "command_line.h"
#include "core/engine.h"
#include "render/gl.h"
#include "render/headless_context.h"
#include "render/render_target.h"
#include "render/shader.h"
#include "render/shaders.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

const char* const kUsage =
    "usage: quex_bench [--frames N] [--warmup N] [--size WxH] [--json] [--scene NAME]...\n"
    "  --frames N          frames measured per scene (default 120)\n"
    "  --warmup N          frames drawn first, not measured (default 10)\n"
    "  --size WxH          size of the final pass (default 1920x1080)\n"
    "  --json              the results as JSON on standard output\n"
    "  --scene NAME        only this scene; may be given more than once\n";

const ToolHelp kHelp = {
    "quex_bench",
    "Measures what each of the quex_invi demo's seven effect scenes costs: each\n"
    "scene is rendered alone at full opacity into the 320 x 180 canvas and shown\n"
    "with the final pass at the chosen size. It prints the medians as a table, or\n"
    "as JSON. It draws offscreen (EGL), so it needs no window.\n\n"
    "Beside the final pass it times the floor: a pass that reads the canvas once\n"
    "per pixel at the same size, drawn after each frame's time is taken.\n",
    kUsage,
    "Scenes: fluid, rd2, road, bloodcells, dblobs, smoke, blittertornado.\n\n"
    "The frame's wall time runs until glFinish. Each pass (the scene, the final\n"
    "pass with what ending the canvas does for it, the floor) is timed alone in\n"
    "the pipeline three ways: the GPU's timer query, the wall time, and the CPU\n"
    "time of all the process's threads, which on a software renderer is the work\n"
    "it did whatever else the machine runs. (Mesa's llvmpipe times a query by its\n"
    "last tiles: read its passes by the clocks.)\n\n"
    "Under Mesa's GALLIUM_NOOP=1 the driver draws nothing: the frame's time is then\n"
    "the API and driver work alone, reported without the passes' times.\n\n"
    "Exit status: 0 after the measurements, 1 when no OpenGL 3.3 context could be\n"
    "made, 2 for a bad argument.\n",
};

// The floor: the canvas scaled to the output with one read a pixel.
const char* const kFloorFS = R"(
#version 330 core
uniform sampler2D u_tex;
uniform vec2 u_screen_res;

out vec4 frag_color;

void main() {
    frag_color = vec4(texture(u_tex, gl_FragCoord.xy / u_screen_res).rgb, 1.0);
}
)";

const char* const kScenes[] = {"fluid",  "rd2",   "road",          "bloodcells",
                               "dblobs", "smoke", "blittertornado"};

// A pass's cost by the clocks, the pass alone in the pipeline (glFinish on
// both sides): wall time, and the CPU time of all the process's threads,
// which for a software renderer is the work its threads did, whatever else
// the machine runs. (llvmpipe's timer queries time its last tiles, not the
// pass.)
struct PassClock {
    std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
    std::clock_t cpu = std::clock();
    double wallMs = 0.0;
    double cpuMs = 0.0;

    void stop() {
        glFinish();
        wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall)
                     .count();
        cpuMs = 1000.0 * static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
    }
};

struct Pass {
    double gpuMs = 0.0;  // timer query
    double wallMs = 0.0; // see PassClock
    double cpuMs = 0.0;
};

struct Result {
    std::string name;
    double cpuMs = 0.0; // whole frame, after glFinish
    Pass scene;         // the scene's render
    Pass final;         // the final pass, with what end() does for it
    Pass floor;         // the floor pass
};

double median(std::vector<double> v) {
    if (v.empty()) {
        return 0.0;
    }
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// GPU nanoseconds of one bracketed stretch of commands, in milliseconds.
double queryMs(GLuint query) {
    GLuint64 ns = 0;
    glGetQueryObjectui64v(query, GL_QUERY_RESULT, &ns);
    return static_cast<double>(ns) / 1.0e6;
}

// Without `clocked` (the no-op driver) the frame runs as the demo's does,
// with no glFinish between its passes.
Result benchScene(Engine& engine, const Shader& floorPass, const char* name, int warmup, int frames,
                  bool clocked) {
    IScene* scene = engine.timeline.find(name);
    Result result;
    result.name = name;
    if (scene == nullptr) {
        return result;
    }
    // The palette and camera of the scene's first scripted entry, if any.
    for (const SceneEntry& e : engine.script.scenes) {
        if (std::strcmp(e.name, name) == 0) {
            scene->setPalette(e.hasPalette, e.palette.low, e.palette.mid, e.palette.high);
            scene->setSmokeParams(e.hasSmokeParams, e.cam, e.fov, e.lightDir, e.shadow, e.lightPow);
            break;
        }
    }
    GLuint queries[3] = {0, 0, 0};
    glGenQueries(3, queries);
    // GPU, wall and CPU milliseconds of the scene, the final pass and the floor.
    std::vector<double> cpu, ms[3][3];
    for (int i = 0; i < warmup + frames; ++i) {
        const double t = i / 60.0;
        // A beat-like level so the audio-driven paths run.
        const float bass = 0.5f + 0.5f * static_cast<float>(std::sin(t * 8.0));
        const float treble = 0.3f;
        const auto start = std::chrono::steady_clock::now();
        scene->setAudio(bass, treble);
        engine.post.begin();
        glClear(GL_COLOR_BUFFER_BIT);
        if (clocked) {
            glFinish();
        }
        PassClock clocks[3];
        glBeginQuery(GL_TIME_ELAPSED, queries[0]);
        scene->render(t, t, 1.0f);
        glEndQuery(GL_TIME_ELAPSED);
        if (clocked) {
            clocks[0].stop();
            clocks[1] = PassClock();
        }
        engine.post.end();
        glClear(GL_COLOR_BUFFER_BIT);
        glBeginQuery(GL_TIME_ELAPSED, queries[1]);
        engine.post.present(static_cast<float>(t), bass, false);
        glEndQuery(GL_TIME_ELAPSED);
        clocks[1].stop();
        const double frameMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        // Drawn as the final pass is: after a clear, without blending.
        clocks[2] = PassClock();
        glClear(GL_COLOR_BUFFER_BIT);
        glDisable(GL_BLEND);
        floorPass.use();
        glBeginQuery(GL_TIME_ELAPSED, queries[2]);
        drawFullscreenTriangle();
        glEndQuery(GL_TIME_ELAPSED);
        glEnable(GL_BLEND);
        clocks[2].stop();
        if (i >= warmup) {
            cpu.push_back(frameMs);
            for (int p = 0; p < 3; ++p) {
                ms[p][0].push_back(queryMs(queries[p]));
                ms[p][1].push_back(clocks[p].wallMs);
                ms[p][2].push_back(clocks[p].cpuMs);
            }
        }
    }
    glDeleteQueries(3, queries);
    result.cpuMs = median(cpu);
    Pass* passes[3] = {&result.scene, &result.final, &result.floor};
    for (int p = 0; p < 3; ++p) {
        *passes[p] = {median(ms[p][0]), median(ms[p][1]), median(ms[p][2])};
    }
    return result;
}

} // namespace

int main(int argc, char** argv) {
    if (answeredHelpOrVersion(argc, argv, kHelp)) {
        return 0;
    }
    int frames = 120;
    int warmup = 10;
    int width = 1920;
    int height = 1080;
    bool json = false;
    std::vector<std::string> only;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        char tail = 0;
        if (a == "--json") {
            json = true;
        } else if (a == "--frames" && value && std::sscanf(value, "%d%c", &frames, &tail) == 1 &&
                   frames > 0) {
            ++i;
        } else if (a == "--warmup" && value && std::sscanf(value, "%d%c", &warmup, &tail) == 1 &&
                   warmup >= 0) {
            ++i;
        } else if (a == "--size" && value &&
                   std::sscanf(value, "%dx%d%c", &width, &height, &tail) == 2 && width > 0 &&
                   height > 0 && width <= 8192 && height <= 8192) {
            ++i;
        } else if (a == "--scene" && value) {
            only.emplace_back(value);
            ++i;
        } else {
            std::fprintf(stderr, "quex_bench: bad argument: %s\n%s", argv[i], kUsage);
            return 2;
        }
    }

    HeadlessContext context;
    if (!context.create()) {
        return 1;
    }
    Engine engine;
    if (!engine.initSystems(width, height, false)) {
        return 1;
    }
    // A headless context has no window to draw into: the final pass goes to
    // a target of the window's size, so that it is drawn and timed at all.
    RenderTarget output;
    if (!output.create(width, height, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, GL_NEAREST,
                       GL_CLAMP_TO_EDGE)) {
        std::fprintf(stderr, "quex_bench: cannot render to a %dx%d target\n", width, height);
        return 1;
    }
    engine.post.outputFramebuffer = output.framebuffer;
    Shader floorPass;
    if (!floorPass.load(kFullscreenVS, kFloorFS)) {
        return 1;
    }
    floorPass.use();
    floorPass.setInt("u_tex", 0);
    floorPass.setVec2("u_screen_res", static_cast<float>(width), static_cast<float>(height));
    const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    // Mesa's no-op driver names itself so.
    const bool driverOnly = renderer != nullptr && std::strcmp(renderer, "NOOP") == 0;
    std::vector<Result> results;
    for (const char* name : kScenes) {
        if (!only.empty() && std::find(only.begin(), only.end(), name) == only.end()) {
            continue;
        }
        if (!json) {
            std::fprintf(stderr, "benchmarking %s...\n", name);
        }
        results.push_back(benchScene(engine, floorPass, name, warmup, frames, !driverOnly));
    }

    if (json) {
        std::printf("{\"renderer\": \"%s\", \"size\": [%d, %d], \"frames\": %d, "
                    "\"gallium_noop\": %s, \"scenes\": [",
                    renderer ? renderer : "", width, height, frames, driverOnly ? "true" : "false");
        for (std::size_t i = 0; i < results.size(); ++i) {
            const Result& r = results[i];
            if (driverOnly) {
                std::printf("%s\n  {\"scene\": \"%s\", \"driver_ms\": %.3f}", i ? "," : "",
                            r.name.c_str(), r.cpuMs);
            } else {
                std::printf("%s\n  {\"scene\": \"%s\", \"cpu_ms\": %.3f", i ? "," : "",
                            r.name.c_str(), r.cpuMs);
                const std::pair<const char*, const Pass*> passes[] = {
                    {"scene", &r.scene}, {"final", &r.final}, {"floor", &r.floor}};
                for (const auto& [pass, p] : passes) {
                    std::printf(", \"gpu_%s_ms\": %.3f, \"wall_%s_ms\": %.3f, "
                                "\"cpu_%s_ms\": %.3f",
                                pass, p->gpuMs, pass, p->wallMs, pass, p->cpuMs);
                }
                std::printf("}");
            }
        }
        std::printf("\n]}\n");
    } else if (driverOnly) {
        std::printf("renderer: %s with GALLIUM_NOOP (nothing drawn), final pass %dx%d, %d frames "
                    "after %d warm-up (medians)\n",
                    renderer ? renderer : "?", width, height, frames, warmup);
        std::printf("%-16s %18s\n", "scene", "api+driver ms");
        for (const Result& r : results) {
            std::printf("%-16s %18.3f\n", r.name.c_str(), r.cpuMs);
        }
    } else {
        std::printf("renderer: %s, final pass %dx%d, %d frames after %d warm-up (medians)\n",
                    renderer ? renderer : "?", width, height, frames, warmup);
        std::printf("%-16s %10s |", "", "frame");
        for (const char* pass : {"scene", "final pass", "floor"}) {
            std::printf(" %-22s|", pass);
        }
        std::printf("\n%-16s %10s |", "scene", "wall ms");
        for (int p = 0; p < 3; ++p) {
            std::printf(" %6s %7s %6s |", "gpu ms", "wall ms", "cpu ms");
        }
        std::printf("\n");
        for (const Result& r : results) {
            std::printf("%-16s %10.2f |", r.name.c_str(), r.cpuMs);
            for (const Pass* p : {&r.scene, &r.final, &r.floor}) {
                std::printf(" %6.2f %7.2f %6.2f |", p->gpuMs, p->wallMs, p->cpuMs);
            }
            std::printf("\n");
        }
    }
    floorPass.release();
    output.release();
    engine.releaseSystems();
    return 0;
}
