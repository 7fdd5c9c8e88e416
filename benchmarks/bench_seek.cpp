// Time to the exact picture after a seek: the simulated scenes rebuilt at a
// time, as quex_preview and quex_capture rebuild them, and the frame drawn
// into the canvas. Cold: fresh scenes and no checkpoints. Back: after playing
// on 10 s from there (stepped, as the preview's play takes checkpoints), the
// same seek again.
//
//   bench_seek [SECONDS...]        (default 30 75 120 180)
//   bench_seek --trip SECONDS...   one seek after another, as an author scrubs
//   bench_seek --passes N          N passes of the loop played from its start:
//                                  the checkpoints' memory after each
#include "core/engine.h"
#include "core/offline_frames.h"
#include "render/gl.h"
#include "render/headless_context.h"
#include "render/render_target.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
    const bool trip = argc > 1 && std::strcmp(argv[1], "--trip") == 0;
    const bool passes = argc > 2 && std::strcmp(argv[1], "--passes") == 0;
    std::vector<double> times;
    for (int i = trip || passes ? 2 : 1; i < argc; ++i) {
        times.push_back(std::atof(argv[i]));
    }
    if (times.empty()) {
        times = {30.0, 75.0, 120.0, 180.0};
    }
    HeadlessContext context;
    Engine engine;
    if (!context.create() || !engine.initSystems(kCanvasWidth, kCanvasHeight, false)) {
        return 1;
    }
    OfflineMusic music;
    if (music.load()) {
        engine.musicLength = music.lengthSeconds();
    }
    RenderTarget output;
    output.create(kCanvasWidth, kCanvasHeight, GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, GL_NEAREST,
                  GL_CLAMP_TO_EDGE);
    engine.post.outputFramebuffer = output.framebuffer;
    FrameSchedule schedule;
    schedule.init(60, engine.loopRangeNow(), analyseFrames(music));
    SceneRebuild rebuild;
    rebuild.init(engine.timeline, engine.overlays, schedule);

    // Seconds to the drawn frame k, and the steps it took.
    const auto exact = [&](long k, long& steps) {
        const auto start = std::chrono::steady_clock::now();
        const long before = rebuild.stepsTaken();
        rebuild.bringTo(k, HUGE_VAL);
        drawScheduledFrame(engine, rebuild, schedule, k);
        glFinish();
        steps = rebuild.stepsTaken() - before;
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };

    const auto megabytes = [&] {
        return static_cast<double>(rebuild.checkpointBytes()) / (1 << 20);
    };
    if (trip) {
        std::printf("%8s %10s %7s %16s\n", "seek s", "seconds", "steps", "checkpoints MB");
        for (const double t : times) {
            long steps = 0;
            const double seconds = exact(schedule.frameAt(t), steps);
            std::printf("%8.2f %10.2f %7ld %16.1f\n", t, seconds, steps, megabytes());
            std::fflush(stdout);
        }
    } else if (passes) {
        // Played as the preview plays: every frame brought and drawn, from the
        // loop start on, counting frames across the wraps.
        const long first = schedule.frameAt(schedule.range().start);
        const long length = schedule.frameAt(schedule.range().end) - first;
        const long count = std::lround(times.empty() ? 3.0 : times[0]);
        long steps = 0;
        exact(first, steps);
        std::printf("%6s %10s %16s\n", "pass", "seconds", "checkpoints MB");
        for (long pass = 1; pass <= count; ++pass) {
            const auto start = std::chrono::steady_clock::now();
            for (long k = first + (pass - 1) * length + 1; k <= first + pass * length; ++k) {
                exact(k, steps);
            }
            std::printf(
                "%6ld %10.2f %16.1f\n", pass,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                megabytes());
            std::fflush(stdout);
        }
    }
    if (trip || passes) {
        rebuild.release();
        output.release();
        engine.releaseSystems();
        return 0;
    }
    std::printf("%8s %10s %7s %10s %7s %16s\n", "seek s", "cold s", "steps", "back s", "steps",
                "checkpoints MB");
    for (const double t : times) {
        const long k = schedule.frameAt(t);
        rebuild.restart(0);
        long coldSteps = 0;
        const double cold = exact(k, coldSteps);
        for (long j = k + 1; j <= k + 600; ++j) {
            rebuild.bringTo(j, HUGE_VAL); // every scene drawn on the way steps
        }
        long backSteps = 0;
        const double back = exact(k, backSteps);
        std::printf("%8.2f %10.2f %7ld %10.2f %7ld %16.1f\n", t, cold, coldSteps, back, backSteps,
                    megabytes());
        std::fflush(stdout);
    }
    rebuild.release();
    output.release();
    engine.releaseSystems();
    return 0;
}
