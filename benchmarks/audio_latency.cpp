// Measures, on the real Audio, how long after the callback hands a sound's
// first samples to the device the bass level reacts, and what share of a CPU
// the audio thread takes while playing.
//
//   audio_latency latency MP3 RAW SECONDS   (SDL disk driver, paced in real time)
//   audio_latency cpu MP3 SECONDS           (whatever SDL_AUDIODRIVER says)
//
// For latency the MP3 must hold bursts of loud sound after silences of a
// couple of seconds; the disk driver writes each period to RAW right after
// the callback returns, so a watcher thread sees the burst leave it.
#include "audio/audio.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point origin, Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(t - origin).count();
}

std::vector<unsigned char> readAll(const char* path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// Nanoseconds on a CPU of the thread whose name starts with "SDLAudio".
long long audioThreadNs() {
    DIR* dir = opendir("/proc/self/task");
    if (dir == nullptr) {
        return -1;
    }
    long long ns = -1;
    while (dirent* entry = readdir(dir)) {
        const std::string task = std::string("/proc/self/task/") + entry->d_name;
        std::string name;
        std::getline(std::ifstream(task + "/comm"), name);
        if (name.rfind("SDLAudio", 0) == 0) {
            std::ifstream(task + "/schedstat") >> ns;
        }
    }
    closedir(dir);
    return ns;
}

// Sleeps and spins to the next 1/60 s, as the demo's frame loop does.
void frameLoop(Audio& audio, double seconds, Clock::time_point origin, std::vector<double>* rises) {
    const auto frame = std::chrono::duration<double>(1.0 / 60.0);
    auto next = Clock::now();
    const auto end = next + std::chrono::duration<double>(seconds);
    float previous = 0.0f;
    while (Clock::now() < end) {
        audio.update();
        const float bass = audio.bass();
        // Any rise counts: in the silence before a burst the level only falls.
        if (rises != nullptr && bass - previous > 0.01f) {
            rises->push_back(msSince(origin, Clock::now()));
        }
        previous = bass;
        next += std::chrono::duration_cast<Clock::duration>(frame);
        std::this_thread::sleep_until(next);
    }
}

int latency(const char* mp3, const char* raw, double seconds) {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", raw, 1);
    const std::vector<unsigned char> bytes = readAll(mp3);
    Audio audio;
    if (!audio.loadMemory(bytes.data(), bytes.size())) {
        return 1;
    }
    const auto origin = Clock::now();
    std::vector<double> bursts;
    std::atomic<bool> quit{false};
    // Watches the device's output for the first loud frame after a silence.
    std::thread watcher([&] {
        std::ifstream file(raw, std::ios::binary);
        std::size_t quiet = 0;
        float frame[2];
        while (!quit.load()) {
            if (!file.read(reinterpret_cast<char*>(frame), sizeof frame)) {
                file.clear();
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                continue;
            }
            const bool loud = std::fabs(frame[0]) > 0.1f || std::fabs(frame[1]) > 0.1f;
            if (loud && quiet > 48000) {
                bursts.push_back(msSince(origin, Clock::now()));
            }
            quiet = loud ? 0 : quiet + 1;
        }
    });
    audio.play();
    std::vector<double> rises;
    frameLoop(audio, seconds, origin, &rises);
    quit.store(true);
    watcher.join();
    audio.unload();

    std::vector<double> delays;
    for (double b : bursts) {
        // The ring is filled before SDL writes the file, so a rise may come first.
        auto rise = std::find_if(rises.begin(), rises.end(), [b](double r) { return r > b - 5.0; });
        if (rise == rises.end() || *rise > b + 200.0) {
            std::printf("burst at %8.1f ms: no rise of bass within 200 ms\n", b);
        } else {
            delays.push_back(*rise - b);
            std::printf("burst at %8.1f ms -> bass rises at %8.1f ms: %6.2f ms\n", b, *rise,
                        *rise - b);
        }
    }
    if (delays.empty()) {
        std::printf("no bursts seen\n");
        return 1;
    }
    double sum = 0.0;
    for (double d : delays) {
        sum += d;
    }
    std::printf("%zu bursts: min %.2f ms, mean %.2f ms, max %.2f ms\n", delays.size(),
                *std::min_element(delays.begin(), delays.end()), sum / delays.size(),
                *std::max_element(delays.begin(), delays.end()));
    return 0;
}

int cpu(const char* mp3, double seconds) {
    const std::vector<unsigned char> bytes = readAll(mp3);
    Audio audio;
    if (!audio.loadMemory(bytes.data(), bytes.size())) {
        return 1;
    }
    audio.play();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const long long before = audioThreadNs();
    const auto start = Clock::now();
    frameLoop(audio, seconds, start, nullptr);
    const long long after = audioThreadNs();
    const double wallNs = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    audio.unload();
    if (before < 0 || after < 0) {
        std::printf("audio thread not found\n");
        return 1;
    }
    std::printf("audio thread: %.1f ms CPU in %.1f s: %.3f %% of one CPU\n", (after - before) / 1e6,
                wallNs / 1e9, 100.0 * (after - before) / wallNs);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "latency") {
        return latency(argv[2], argv[3], std::atof(argv[4]));
    }
    if (argc == 4 && std::string(argv[1]) == "cpu") {
        return cpu(argv[2], std::atof(argv[3]));
    }
    std::fprintf(stderr,
                 "[Bench] usage: audio_latency latency MP3 RAW SECONDS | cpu MP3 SECONDS\n");
    return 2;
}
