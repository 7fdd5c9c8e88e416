// Finds where in the music each stretch of a sound device's recorded output
// comes from, by exact sample match against a decode of the embedded track:
// a seek shows as a jump between two stretches, a pause as silence between.
//
//   music_segments OUT.raw  ->  one line per stretch:
//   "OUT_START OUT_END TRACK_START TRACK_END" in seconds of the output and of
//   the track. OUT.raw is 32-bit float stereo at the track's rate.
#include "audio/offline_music.h"
#include "core/asset_archive.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kConfirm = 256; // frames that must match to start a stretch

std::uint32_t bits(float f) {
    std::uint32_t u = 0;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: music_segments OUT.raw\n");
        return 2;
    }
    OfflineMusic music;
    if (!AssetArchive::unpack() || !music.load() || music.channels != 2) {
        std::fprintf(stderr, "music_segments: cannot decode the embedded stereo track\n");
        return 1;
    }
    std::vector<float> out;
    if (std::FILE* f = std::fopen(argv[1], "rb")) {
        float buffer[8192];
        std::size_t n = 0;
        while ((n = std::fread(buffer, sizeof(float), 8192, f)) > 0) {
            out.insert(out.end(), buffer, buffer + n);
        }
        std::fclose(f);
    } else {
        std::fprintf(stderr, "music_segments: cannot read %s\n", argv[1]);
        return 1;
    }
    const std::vector<float>& track = music.samples;
    const std::size_t trackFrames = track.size() / 2;
    const std::size_t outFrames = out.size() / 2;

    // Track frames sorted by their left sample, to find candidates quickly.
    std::vector<std::uint32_t> index(trackFrames);
    for (std::size_t i = 0; i < trackFrames; ++i) {
        index[i] = static_cast<std::uint32_t>(i);
    }
    std::sort(index.begin(), index.end(), [&track](std::uint32_t a, std::uint32_t b) {
        return bits(track[2 * a]) < bits(track[2 * b]);
    });
    auto sameFrame = [&](std::size_t o, std::size_t t) {
        return bits(out[2 * o]) == bits(track[2 * t]) &&
               bits(out[2 * o + 1]) == bits(track[2 * t + 1]);
    };
    const double rate = music.rate;

    std::size_t o = 0;
    while (o + kConfirm <= outFrames) {
        if (out[2 * o] == 0.0f && out[2 * o + 1] == 0.0f) {
            ++o;
            continue;
        }
        const std::uint32_t key = bits(out[2 * o]);
        auto first = std::lower_bound(
            index.begin(), index.end(), key,
            [&track](std::uint32_t i, std::uint32_t k) { return bits(track[2 * i]) < k; });
        std::size_t found = trackFrames;
        for (auto it = first; it != index.end() && bits(track[2 * *it]) == key; ++it) {
            std::size_t j = 0;
            while (j < kConfirm && *it + j < trackFrames && sameFrame(o + j, *it + j)) {
                ++j;
            }
            if (j == kConfirm) {
                found = *it;
                break;
            }
        }
        if (found == trackFrames) {
            ++o;
            continue;
        }
        std::size_t j = 0;
        while (o + j < outFrames && found + j < trackFrames && sameFrame(o + j, found + j)) {
            ++j;
        }
        std::printf("%.6f %.6f %.6f %.6f\n", o / rate, (o + j) / rate, found / rate,
                    (found + j) / rate);
        o += j;
    }
    return 0;
}
