// Measures start-up: the archive's inflation alone, and the demo's own
// start-up up to its first swapped frame (needs a display, e.g. xvfb-run).
//
//   bench_startup [RUNS]
#include "core/asset_archive.h"
#include "core/engine.h"
#include "render/gl.h"

#include <GLFW/glfw3.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

void report(const char* what, std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    double sum = 0.0;
    for (double s : samples) {
        sum += s;
    }
    std::printf("%-34s median %8.2f ms  min %8.2f ms  mean %8.2f ms  (%zu runs)\n", what,
                samples[samples.size() / 2], samples.front(), sum / samples.size(), samples.size());
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    const ArchiveBlob& blob = embeddedArchive();
    std::printf("archive: %zu bytes compressed, %zu bytes inflated, %zu entries\n",
                blob.compressedSize, blob.inflatedSize, blob.entryCount);
    std::vector<double> unpackTimes;
    for (int i = 0; i < runs; ++i) {
        AssetArchive::useSource(blob); // drops the inflated buffer
        const auto start = std::chrono::steady_clock::now();
        if (!AssetArchive::unpack()) {
            std::fprintf(stderr, "unpack failed\n");
            return 1;
        }
        unpackTimes.push_back(millisecondsSince(start));
    }
    report("archive unpack", unpackTimes);

    std::vector<double> startupTimes;
    for (int i = 0; i < runs; ++i) {
        AssetArchive::useSource(blob);
        const auto start = std::chrono::steady_clock::now();
        Engine engine;
        if (!engine.init()) {
            return 1;
        }
        engine.audio.update();
        engine.drawFrame(0.0, engine.audio.bass(), engine.audio.treble());
        engine.window.swapAndPoll();
        glFinish();
        startupTimes.push_back(millisecondsSince(start));
        engine.shutdown();
    }
    report("start-up to first swapped frame", startupTimes);
    return 0;
}
