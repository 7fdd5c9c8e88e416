#include "audio/offline_music.h"

#include "audio/mp3_stream.h"
#include "core/asset_archive.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>

namespace {
const char* const kMusicName = "assets/music/tune.mp3";
}

bool OfflineMusic::load() {
    std::size_t size = 0;
    const unsigned char* bytes = AssetArchive::find(kMusicName, &size);
    std::vector<unsigned char> file;
    if (bytes == nullptr) {
        std::ifstream in(kMusicName, std::ios::binary);
        file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        bytes = file.data();
        size = file.size();
    }
    if (!decodeMp3(bytes, size, samples, rate, channels)) {
        rate = 0;
        channels = 0;
        samples.clear();
        return false;
    }
    analyzer.setSampleRate(static_cast<float>(rate));
    return true;
}

std::size_t OfflineMusic::frames() const {
    return channels > 0 ? samples.size() / static_cast<std::size_t>(channels) : 0;
}

double OfflineMusic::lengthSeconds() const {
    if (rate <= 0) {
        return 0.0;
    }
    return static_cast<double>(static_cast<float>(frames()) / static_cast<float>(rate));
}

std::size_t OfflineMusic::frameAt(double t) const {
    const double f = std::floor(std::max(t, 0.0) * rate);
    return std::min(static_cast<std::size_t>(f), frames());
}

void OfflineMusic::analyseFrame(double t, double frameSeconds) {
    if (rate <= 0) {
        return;
    }
    const std::size_t a = frameAt(t - frameSeconds);
    const std::size_t b = frameAt(t);
    analyzer.analyse(samples.data() + a * channels, b > a ? b - a : 0,
                     static_cast<unsigned>(channels));
}

void OfflineMusic::levels(int updatesPerSecond, std::vector<float>& bass,
                          std::vector<float>& treble) {
    bass.clear();
    treble.clear();
    if (rate <= 0 || updatesPerSecond <= 0) {
        return;
    }
    const double step = 1.0 / updatesPerSecond;
    const std::size_t updates = static_cast<std::size_t>(
        std::ceil(static_cast<double>(frames()) / rate * updatesPerSecond));
    for (std::size_t i = 1; i <= updates; ++i) {
        analyseFrame(static_cast<double>(i) * step, step);
        bass.push_back(analyzer.bass);
        treble.push_back(analyzer.treble);
    }
}
