#include "test_music.h"

#include "audio/mp3_stream.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// Synthesised here and encoded by ffmpeg (aevalsrc is far slower).
template <typename Signal>
std::unique_ptr<TestMusic> make(const char* name, int rate, int channels, double seconds,
                                Signal signal) {
    auto music = std::make_unique<TestMusic>();
    const std::string base = "/tmp/quex_audio_test_" + std::to_string(getpid()) + "_" + name;
    music->path = base + ".mp3";
    const std::string raw = base + ".raw";
    {
        const std::size_t frames = static_cast<std::size_t>(seconds * rate);
        std::vector<float> samples(frames * channels);
        for (std::size_t f = 0; f < frames; ++f) {
            signal(static_cast<double>(f) / rate, &samples[f * channels]);
        }
        std::ofstream(raw, std::ios::binary)
            .write(reinterpret_cast<const char*>(samples.data()),
                   static_cast<std::streamsize>(samples.size() * sizeof(float)));
    }
    char command[1024];
    std::snprintf(command, sizeof command,
                  "ffmpeg -v error -nostdin -y -f f32le -ar %d -ac %d -i '%s' "
                  "-c:a libmp3lame -b:a 192k '%s'",
                  rate, channels, raw.c_str(), music->path.c_str());
    const int status = std::system(command);
    unlink(raw.c_str());
    if (status != 0) {
        return nullptr;
    }
    std::ifstream file(music->path, std::ios::binary);
    music->mp3.assign(std::istreambuf_iterator<char>(file), {});
    if (!decodeMp3(music->mp3.data(), music->mp3.size(), music->pcm, music->rate,
                   music->channels)) {
        return nullptr;
    }
    return music;
}

// Removes the encoded files when the test program ends.
struct Cleanup {
    std::vector<std::string> paths;
    ~Cleanup() {
        for (const std::string& p : paths) {
            unlink(p.c_str());
        }
    }
};

const TestMusic* keep(std::unique_ptr<TestMusic>& music) {
    static Cleanup cleanup;
    if (music) {
        cleanup.paths.push_back(music->path);
    }
    return music.get();
}

} // namespace

const TestMusic* longStereoMusic() {
    static std::unique_ptr<TestMusic> music = make("long", 48000, 2, 56.0, [](double t, float* f) {
        f[0] = static_cast<float>(0.4 * std::sin(2 * M_PI * (90 + t) * t) +
                                  0.15 * std::sin(2 * M_PI * 5000 * t));
        f[1] = static_cast<float>(0.3 * std::sin(2 * M_PI * (130 + 2 * t) * t) +
                                  0.1 * std::sin(2 * M_PI * 7000 * t));
    });
    static const TestMusic* kept = keep(music);
    return kept;
}

const TestMusic* shortMonoMusic() {
    static std::unique_ptr<TestMusic> music = make("mono", 44100, 1, 3.0, [](double t, float* f) {
        f[0] = static_cast<float>(0.5 * std::sin(2 * M_PI * (300 + 40 * t) * t));
    });
    static const TestMusic* kept = keep(music);
    return kept;
}

long findBlock(const std::vector<float>& out, const TestMusic& ref, std::size_t refFrame,
               std::size_t count, std::size_t from) {
    if (refFrame + count > ref.frames()) {
        return -1;
    }
    return findFrames(out, ref.frame(refFrame), ref.channels, count, from);
}
