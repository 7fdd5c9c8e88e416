// The smoke scene's two halves timed apart: the 25 volume passes of one
// simulation step, and the raymarched display into the canvas.
//
//   bench_smoke [STEPS]
#include "render/gl.h"
#include "render/headless_context.h"
#include "render/render_target.h"
#include "scenes/smoke_scene.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

template <typename Work> double timedMs(Work work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    glFinish();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int steps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    HeadlessContext context;
    if (!context.create()) {
        return 1;
    }
    RenderTarget canvas;
    canvas.create(320, 180, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, GL_NEAREST, GL_CLAMP_TO_EDGE);

    SmokeScene smoke;
    smoke.init(320, 180);
    // The scene leaves framebuffer 0 bound after init; draw into a canvas of our own.
    canvas.bind();
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    smoke.setAudio(0.6f, 0.3f);

    std::vector<double> stepMs, displayMs;
    for (int i = 0; i < steps; ++i) {
        const double t = i / 60.0;
        stepMs.push_back(timedMs([&] { smoke.step(t); }));
        displayMs.push_back(timedMs([&] { smoke.display(t, 1.0f); }));
    }
    std::printf("renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    std::printf("smoke volume passes (one step): median %.1f ms over %d steps\n", median(stepMs),
                steps);
    std::printf("smoke raymarched display:       median %.1f ms\n", median(displayMs));
    smoke.release();
    canvas.release();
    return 0;
}
