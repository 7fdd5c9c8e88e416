// Prints the music's length and, per section of the shipped script, how often
// the bass and treble levels that drive the effects go above 0.6. The levels
// come from AudioAnalyzer fed in 1/60 s slices, as the demo's frames see them.
//
// usage: quex_music_levels [tune.mp3 [FROM TO]]   (default: the embedded archive's music);
// with FROM and TO (seconds) it also lists every frame's levels in that range.

#include "audio/mp3_stream.h"
#include "audio/offline_music.h"
#include "base/log.h"
#include "core/asset_archive.h"
#include "script/script.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The scene boundaries of the shipped script, for when no script could be parsed.
const double kFallbackBoundaries[] = {8.13,   8.35,   22.13,  22.30,  38.20,  38.23,  52.73,
                                      53.00,  69.13,  69.35,  85.28,  101.22, 131.67, 131.80,
                                      162.07, 162.30, 170.47, 171.30, 178.80};

bool readFile(const char* path, std::vector<unsigned char>& bytes) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) {
        return false;
    }
    unsigned char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        bytes.insert(bytes.end(), buf, buf + n);
    }
    std::fclose(f);
    return true;
}

// The music file named on the command line, or the archive's.
bool readMusic(int argc, char** argv, std::vector<unsigned char>& bytes) {
    if (argc > 1) {
        if (!readFile(argv[1], bytes)) {
            logLine(stderr, "[Levels] cannot open: %s\n", argv[1]);
            return false;
        }
        return true;
    }
    std::size_t size = 0;
    const unsigned char* p = AssetArchive::find("assets/music/tune.mp3", &size);
    if (!p) {
        logLine(stderr, "[Levels] no assets/music/tune.mp3 in the archive\n");
        return false;
    }
    bytes.assign(p, p + size);
    return true;
}

DemoScript shippedScript() {
    DemoScript script;
    std::size_t scriptSize = 0;
    if (const unsigned char* s = AssetArchive::find("assets/demo.txt", &scriptSize)) {
        Script::load_mem(reinterpret_cast<const char*>(s), scriptSize, script);
    }
    return script;
}

// Section edges: the scene boundaries from 0 to the music's end.
std::vector<double> sectionEdges(const DemoScript& script, double length) {
    std::vector<double> cuts;
    for (const SceneEntry& e : script.scenes) {
        cuts.push_back(e.start);
        cuts.push_back(e.end);
    }
    if (cuts.empty()) {
        cuts.assign(std::begin(kFallbackBoundaries), std::end(kFallbackBoundaries));
    }
    cuts.push_back(0.0);
    cuts.push_back(length);
    std::sort(cuts.begin(), cuts.end());
    // A cross-fade between two scenes is one boundary, not a section of its own.
    std::vector<double> edges;
    for (double c : cuts) {
        if (c <= length && (edges.empty() || c - edges.back() >= 1.0)) {
            edges.push_back(c);
        }
    }
    if (edges.back() < length) {
        edges.back() = length;
    }
    return edges;
}

// The scenes showing in the middle of a section, joined with '+'.
std::string scenesAt(const DemoScript& script, double mid) {
    std::string names;
    for (const SceneEntry& e : script.scenes) {
        if (e.start <= mid && mid < e.end) {
            if (!names.empty()) {
                names += '+';
            }
            names += e.name;
        }
    }
    if (names.empty()) {
        names = script.scenes.empty() ? "?" : "(no scene)";
    }
    return names;
}

void printSection(const DemoScript& script, double a, double b, const std::vector<float>& bass,
                  const std::vector<float>& treble) {
    int n = 0, nb = 0, nt = 0;
    double sb = 0.0, st = 0.0;
    for (std::size_t k = static_cast<std::size_t>(a * 60.0); k < bass.size() && k < b * 60.0; ++k) {
        ++n;
        nb += bass[k] > 0.6f;
        nt += treble[k] > 0.6f;
        sb += bass[k];
        st += treble[k];
    }
    if (n == 0) {
        return;
    }
    std::printf("%8.2f %8.2f  %-28s %6.1f%% %6.1f%% %9.3f %9.3f\n", a, b,
                scenesAt(script, 0.5 * (a + b)).c_str(), 100.0 * nb / n, 100.0 * nt / n, sb / n,
                st / n);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<unsigned char> bytes;
    if (!readMusic(argc, argv, bytes)) {
        return 1;
    }
    // The same frame-by-frame analysis the capture and inspector tools use:
    // one analyser update per demo frame.
    OfflineMusic music;
    if (!decodeMp3(bytes.data(), bytes.size(), music.samples, music.rate, music.channels) ||
        music.channels <= 0 || music.rate <= 0) {
        logLine(stderr, "[Levels] not an MP3\n");
        return 1;
    }
    const std::size_t frames = music.samples.size() / music.channels;
    const double length = static_cast<double>(frames) / music.rate;
    music.analyzer.setSampleRate(static_cast<float>(music.rate));
    std::vector<float> bass, treble;
    music.levels(60, bass, treble);

    if (argc > 3) {
        const double from = std::atof(argv[2]), to = std::atof(argv[3]);
        for (std::size_t k = 0; k < bass.size(); ++k) {
            if (k >= from * 60.0 && k < to * 60.0) {
                std::printf("%8.3f  bass %.3f  treble %.3f\n", k / 60.0, bass[k], treble[k]);
            }
        }
    }
    std::printf("length      %.3f s (%zu frames at %d Hz, %d channels)\n", length, frames,
                music.rate, music.channels);
    std::printf("%8s %8s  %-28s %7s %7s %9s %9s\n", "from", "to", "scenes", "bass>.6", "treb>.6",
                "bass avg", "treb avg");
    const DemoScript script = shippedScript();
    const std::vector<double> edges = sectionEdges(script, length);
    for (std::size_t i = 0; i + 1 < edges.size(); ++i) {
        printSection(script, edges[i], edges[i + 1], bass, treble);
    }
    return 0;
}
