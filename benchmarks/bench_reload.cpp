// Measures how long the live preview's reading of a saved script holds the
// frame loop (it runs between two frames): the shipped script, the shipped
// script repeated to just under 1 MiB, and a 200 MB file.
//
// Usage: bench_reload [DIR]  (writes its files to DIR, default /tmp)
#include "core/asset_archive.h"
#include "script/script_reload.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

double secondsToRead(const std::string& path, int runs) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        DemoScript script;
        const auto start = std::chrono::steady_clock::now();
        readScriptUpdate(
            path.c_str(), [](const char*) { return true; }, script);
        best = std::min(
            best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

void measure(const char* what, const std::string& path, const std::string& text, int runs) {
    std::ofstream(path, std::ios::binary) << text;
    std::printf("%-36s %10zu bytes  %9.2f ms\n", what, text.size(),
                1000.0 * secondsToRead(path, runs));
    unlink(path.c_str());
}

} // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : "/tmp";
    std::size_t size = 0;
    const unsigned char* bytes =
        AssetArchive::unpack() ? AssetArchive::find("assets/demo.txt", &size) : nullptr;
    if (bytes == nullptr) {
        std::fprintf(stderr, "[Bench] no embedded script\n");
        return 1;
    }
    const std::string shipped(reinterpret_cast<const char*>(bytes), size);
    std::string mib;
    while (mib.size() + shipped.size() < (1u << 20)) {
        mib += shipped;
    }
    std::string huge;
    while (huge.size() < 200u * 1000u * 1000u) {
        huge += mib;
    }
    // The refusals' lines are not what is measured.
    std::fclose(stderr);
    const std::string path = dir + "/bench_reload_" + std::to_string(getpid()) + ".txt";
    measure("shipped script", path, shipped, 5);
    measure("shipped script to just under 1 MiB", path, mib, 3);
    measure("200 MB", path, huge, 1);
    return 0;
}
