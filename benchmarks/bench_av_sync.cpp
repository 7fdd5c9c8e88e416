// Measures how the picture keeps to the music heard: the seam at the loop
// end (judged in the played output itself), the distance between music and
// clock after ten pauses, and, over every frame of a run through the loop
// end, the picture minus the music heard (read off the recording) on a
// device whose clock runs off the timer by some parts per million, one that
// stalls for 2 s, a process that stands still for 3 s, a device 200 ms behind
// what it is handed, frames of 0.45, 1 and 3 s with a device fed only between
// them (as the browser's worklet is: it runs dry), renders woken late by an
// exponential 10 ms, a frame loop blocked for 120 s while the device plays
// on (its renders late too), and an output delay that grows from 20 to 200 ms and shrinks back. The
// frame loop runs on SDL's disk driver's own timeline, four times faster than
// real time.
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
#include <string>
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
        if (s.engine.clock.currentTime > 54.0 && s.engine.clock.currentTime < 60.0) {
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

struct Scenario {
    const char* name;
    double clockRate = 1.0;  // the timer against the device
    double stall = 0.0;      // seconds the device stops asking, mid-run
    double stop = 0.0;       // seconds the whole process stands still, mid-run
    double latency = 0.0;    // seconds the device is behind what it is handed
    double latencyTo = -1.0; // ... from mid-run on (-1: unchanged)
    double slowFrame = 0.0;  // mid-run, 10 s of frames this long with a device fed between them
    double block = 0.0;      // seconds the frame loop is held mid-run, the device playing on
    double jitter = 0.0;     // renders late by an exponential this long on average
};

constexpr double kSlowFor = 10.0;
// What a device fed only between frames holds: the browser worklet's queue.
constexpr double kQueued = 4096.0 / kRate;

// From 180 s through the loop end to 60 s (about 20 s of music), every
// frame's picture minus the music heard then (where silence is heard then,
// the first music heard before the next frame, less the time until it); the
// disturbance 4 s in.
void measureEveryFrame(const Scenario& sc) {
    Session s;
    if (!s.start()) {
        std::printf("%s: no music\n", sc.name);
        return;
    }
    s.engine.audio.setExtraLatency(sc.latency);
    DeviceHost host(s.device, sc.clockRate);
    host.jitter = sc.jitter;
    startAt(s.engine, host, 180.0);
    const double begin = host.deviceSeconds();
    struct Seen {
        double time;
        double device;
    };
    std::vector<Seen> frames;
    double disturbed = -1.0;
    double calm = -1.0; // when the disturbance is over
    host.onFrame = [&](int) {
        frames.push_back({s.engine.clock.currentTime, host.clockReadAt});
        const double now = host.deviceSeconds();
        if (disturbed < 0.0 && now > begin + 4.0) {
            disturbed = now;
            if (sc.latencyTo >= 0.0) {
                s.engine.audio.setExtraLatency(sc.latencyTo);
            }
            if (sc.block > 0.0) {
                s.device.waitMore(static_cast<std::size_t>(sc.block * kRate), 120.0);
            }
            if (sc.stall > 0.0 || sc.stop > 0.0) {
                holdSoundDevices(true);
            }
            if (sc.stop > 0.0) {
                // Nothing runs: no frame, no sound; the device plays silence.
                s.device.waitMore(static_cast<std::size_t>(sc.stop * kRate), 60.0);
                holdSoundDevices(false);
            }
            calm = host.deviceSeconds();
        }
        if (sc.stall > 0.0 && disturbed >= 0.0 && now > disturbed + sc.stall &&
            now < disturbed + sc.stall + 1.0) {
            holdSoundDevices(false);
            calm = now;
        }
        if (sc.slowFrame > 0.0 && disturbed >= 0.0 && now < disturbed + kSlowFor) {
            // A slow frame, drawn before it is shown (as in a browser): the
            // device plays what it was given, then nothing until it is fed
            // again, just before the next frame. The frame is judged as it is
            // shown, once drawn.
            s.device.waitMore(static_cast<std::size_t>(kQueued * kRate));
            holdSoundDevices(true);
            s.device.waitMore(static_cast<std::size_t>((sc.slowFrame - kQueued) * kRate));
            holdSoundDevices(false);
            s.device.waitMore(Audio::kPeriodFrames);
            frames.back().device = host.deviceSeconds();
            calm = frames.back().device;
        }
        if (s.engine.clock.currentTime > 60.0 && s.engine.clock.currentTime < 100.0) {
            host.requestClose();
        }
    };
    s.engine.run(host);
    const LoopRange range = s.engine.loopRangeNow();
    s.engine.audio.unload();
    const Recording recording(s.device.samples(), 178.0, range.start, range.end);
    std::vector<double> all, during, settled;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Seen& f = frames[i];
        const double next = i + 1 < frames.size() ? frames[i + 1].device : f.device;
        double heard = std::nan("");
        for (double d = f.device; std::isnan(heard) && d <= next; d += 0.001) {
            const bool changed = sc.latencyTo >= 0.0 && disturbed >= 0.0 && d >= disturbed;
            heard = heardAt(recording, d, changed ? sc.latencyTo : sc.latency) - (d - f.device);
        }
        if (std::isnan(heard) || f.device < begin + 1.0) {
            continue;
        }
        const double offset = std::remainder(f.time - heard, range.end - range.start);
        all.push_back(offset);
        if (disturbed < 0.0 || f.device < disturbed || f.device > calm + 0.5) {
            settled.push_back(offset);
        } else if (f.device <= calm) {
            during.push_back(offset);
        }
    }
    auto report = [](std::vector<double> v) {
        if (v.empty()) {
            return std::string("no frames");
        }
        std::vector<double> sizes;
        for (const double x : v) {
            sizes.push_back(std::fabs(x));
        }
        std::sort(sizes.begin(), sizes.end());
        const auto worst = std::max_element(
            v.begin(), v.end(), [](double a, double b) { return std::fabs(a) < std::fabs(b); });
        char text[160];
        std::snprintf(text, sizeof text, "median %.1f ms, worst %+.1f ms, %zu over a frame",
                      1000.0 * sizes[sizes.size() / 2], 1000.0 * *worst,
                      static_cast<std::size_t>(std::count_if(
                          sizes.begin(), sizes.end(), [](double x) { return x > 1.0 / 60.0; })));
        return std::string(text);
    };
    double leftOut = 0.0, again = 0.0;
    for (const auto& jump : recording.jumps()) {
        (jump.second > 0.0 ? leftOut : again) += std::fabs(jump.second);
    }
    std::printf("%-26s picture minus heard over %zu frames: %s; during the disturbance: %s; "
                "from 0.5 s after it: %s; music left out %.2f s, played again %.2f s\n",
                sc.name, all.size(), report(all).c_str(), report(during).c_str(),
                report(settled).c_str(), leftOut, again);
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
    std::vector<std::string> names;
    for (const double ppm : ppms) {
        char name[32];
        std::snprintf(name, sizeof name, "%+.0f ppm", ppm);
        names.push_back(name);
    }
    for (std::size_t i = 0; i < ppms.size(); ++i) {
        measureEveryFrame({names[i].c_str(), 1.0 + ppms[i] * 1e-6});
    }
    measureEveryFrame({"2 s stall", 1.0, 2.0});
    measureEveryFrame({"3 s process stop", 1.0, 0.0, 3.0});
    measureEveryFrame({"200 ms latency", 1.0, 0.0, 0.0, 0.2});
    measureEveryFrame({"latency 20 to 200 ms", 1.0, 0.0, 0.0, 0.02, 0.2});
    measureEveryFrame({"latency 200 to 20 ms", 1.0, 0.0, 0.0, 0.2, 0.02});
    for (const double slow : {0.45, 1.0, 3.0}) {
        char name[40];
        std::snprintf(name, sizeof name, "%.2g s frames, dry device", slow);
        measureEveryFrame({name, 1.0, 0.0, 0.0, 0.0, -1.0, slow});
    }
    measureEveryFrame({"renders late by exp 10 ms", 1.0, 0.0, 0.0, 0.0, -1.0, 0.0, 0.0, 0.01});
    measureEveryFrame({"120 s block, renders late", 1.0, 0.0, 0.0, 0.0, -1.0, 0.0, 120.0, 0.01});
    return 0;
}
