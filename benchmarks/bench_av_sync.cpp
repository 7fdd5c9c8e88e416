// Measures how the music keeps to the picture where the frame loop moves it:
// the seam at the loop end (judged in the played output itself), the
// distance between music and clock after ten pauses, and the distance after
// each of 100 wraps of a 0.6 s loop on a device whose clock runs off the
// timer by some parts per million. The frame loop runs on SDL's disk
// driver's own timeline, four times faster than real time.
//
// Usage: bench_av_sync [PPM...]  (headless; default 100 -100 1000 -1000: the
// timer that much faster than the device, so positive is a slow device)
#include "core/engine.h"
#include "render/headless_context.h"
#include "support/device_host.h"
#include "support/gl_test.h"

#include <GLFW/glfw3.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

namespace {

constexpr int kSpeed = 4;
constexpr double kRate = Audio::kEngineRate;

struct Session {
    DiskDevice device{kSpeed};
    TestTarget target;
    Engine engine;

    bool start() {
        target.create(64, 36);
        target.bind();
        return engine.initSystems(64, 36, true) && engine.musicLength > 60.0;
    }
    ~Session() {
        engine.releaseSystems();
        target.release();
    }
};

// The seam: what follows the track's last 10 ms in the output.
void measureSeam() {
    Session s;
    if (!s.start()) {
        std::printf("seam: no music\n");
        return;
    }
    DeviceHost host(s.device, 1.0);
    startAt(s.engine, host, 191.5);
    host.onFrame = [&](int) {
        if (s.engine.currentTime > 54.0 && s.engine.currentTime < 60.0) {
            host.requestClose();
        }
    };
    s.engine.run(host);
    const double loopStart = s.engine.script.loopTime;
    const auto end = static_cast<std::uint64_t>(std::llround(s.engine.musicLength * kRate));
    s.engine.audio.unload();
    const std::vector<float> out = s.device.samples();
    // The latest 10 ms of the track's end that were played, and what follows.
    long seam = -1;
    int cut = 0;
    for (; cut < 50 && seam < 0; ++cut) {
        const std::vector<float> tail = shippedMusicFrames(end - 480 * (cut + 1), 480);
        seam = findFrames(out, tail.data(), 2, 480);
    }
    if (seam < 0) {
        std::printf("seam: the track's last 0.5 s were not played\n");
        return;
    }
    const auto after = static_cast<std::size_t>(seam) + 480;
    if (cut > 1) {
        std::printf("seam: the track's last %d ms were cut\n", (cut - 1) * 10);
    } else {
        std::printf("seam: the track was played to its end\n");
    }

    // Where each output frame after the seam comes from in the second after
    // the loop start, by its first four samples.
    const auto first = static_cast<std::uint64_t>(std::llround(loopStart * kRate));
    const std::vector<float> loop = shippedMusicFrames(first, 48000);
    std::unordered_map<std::uint64_t, std::size_t> where;
    auto key = [](const float* f) {
        std::uint64_t k = 0;
        for (int i = 0; i < 4; ++i) {
            std::uint32_t bits = 0;
            std::memcpy(&bits, f + i, 4);
            k = k * 1000003u ^ bits;
        }
        return k;
    };
    for (std::size_t i = 0; i + 2 < loop.size() / 2; ++i) {
        where.emplace(key(&loop[i * 2]), i);
    }
    std::size_t silent = 0, longest = 0;
    for (std::size_t o = after; o + 2 < out.size() / 2 && o < after + 96000; ++o) {
        const bool zero = out[o * 2] == 0.0f && out[o * 2 + 1] == 0.0f;
        silent = zero ? silent + 1 : 0;
        longest = std::max(longest, silent);
        const auto it = where.find(key(&out[o * 2]));
        if (!zero && it != where.end() &&
            findFrames(out, loop.data() + it->second * 2, 2, 480, o) == static_cast<long>(o)) {
            std::printf("seam: %.1f ms played between the track's end and the loop music, "
                        "which enters %.1f ms past %.3f s; longest silence %.1f ms\n",
                        1000.0 * static_cast<double>(o - after) / kRate,
                        1000.0 * static_cast<double>(it->second) / kRate, loopStart,
                        1000.0 * static_cast<double>(longest) / kRate);
            return;
        }
    }
    std::printf("seam: the loop music did not follow within 2 s\n");
}

// Ten pauses of half a second, each after half a second of play.
void measurePauseDrift() {
    Session s;
    if (!s.start()) {
        std::printf("pause: no music\n");
        return;
    }
    DeviceHost host(s.device, 1.0);
    startAt(s.engine, host, 60.0);
    constexpr int kFirst = 30, kSpan = 30, kCycles = 10;
    for (int c = 0; c < kCycles; ++c) {
        host.presses[{kFirst + 2 * c * kSpan, GLFW_KEY_P}] = 1;
        host.presses[{kFirst + (2 * c + 1) * kSpan, GLFW_KEY_P}] = 1;
    }
    const int last = kFirst + 2 * kCycles * kSpan + kSpan;
    double before = 0.0, after = 0.0;
    host.onFrame = [&](int frame) {
        const FrameRecord r = recordFrame(s.engine, host);
        if (frame == kFirst - 1) {
            before = r.music - r.clock;
        } else if (frame == last) {
            after = r.music - r.clock;
            host.requestClose();
        }
    };
    s.engine.run(host);
    std::printf("pause: music ahead of the clock %.1f ms before, %.1f ms after %d pauses: "
                "drift %.1f ms (one device period is %.1f ms)\n",
                1000.0 * before, 1000.0 * after, kCycles, 1000.0 * (after - before),
                1000.0 * Audio::kPeriodFrames / kRate);
}

// 100 wraps on a device `ppm` slower than the timer.
void measureDrift(double ppm) {
    Session s;
    if (!s.start()) {
        std::printf("drift: no music\n");
        return;
    }
    constexpr int kWraps = 100;
    const WrapRun run = runWraps(s.engine, s.device, 1.0 + ppm * 1e-6, 0.0, kWraps, 0.6);
    std::vector<double> sizes;
    int late = 0;
    for (int w = 1; w <= kWraps; ++w) {
        if (!std::isnan(run.offsets[w])) {
            sizes.push_back(std::fabs(run.offsets[w]));
            late += sizes.back() > 1.0 / 60.0;
        }
    }
    std::sort(sizes.begin(), sizes.end());
    const double median = sizes.empty() ? NAN : sizes[sizes.size() / 2];
    const double worst = sizes.empty() ? NAN : sizes.back();
    std::printf("drift %+6.0f ppm: music minus picture after wrap 1 %+.1f ms, 10 %+.1f ms, "
                "100 %+.1f ms; median %.1f ms, largest %.1f ms, %d wraps over a frame; music %s\n",
                ppm, 1000.0 * run.offsets[1], 1000.0 * run.offsets[10],
                1000.0 * run.offsets[kWraps], 1000.0 * median, 1000.0 * worst, late,
                run.unbroken() ? "unbroken" : "broken");
}

} // namespace

int main(int argc, char** argv) {
    if (!ensureGlContext()) {
        std::fprintf(stderr, "[Bench] no OpenGL 3.3 context\n");
        return 1;
    }
    applyDemoGlState();
    measureSeam();
    measurePauseDrift();
    std::vector<double> ppms;
    for (int i = 1; i < argc; ++i) {
        ppms.push_back(std::atof(argv[i]));
    }
    if (ppms.empty()) {
        ppms = {100.0, -100.0, 1000.0, -1000.0};
    }
    for (const double ppm : ppms) {
        measureDrift(ppm);
    }
    return 0;
}
