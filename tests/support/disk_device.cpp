#include "support/disk_device.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

DiskDevice::DiskDevice(int speed) : pace(std::max(1, speed)) {
    static int serial = 0;
    path = "/tmp/quex_audio_disk_" + std::to_string(getpid()) + "_" + std::to_string(serial++) +
           ".raw";
    // One period is 40 ms.
    const int delayMs = std::max(1, 40 / std::max(1, speed));
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", std::to_string(delayMs).c_str(), 1);
}

DiskDevice::~DiskDevice() {
    unsetenv("SDL_AUDIODRIVER");
    unsetenv("SDL_DISKAUDIOFILE");
    unsetenv("SDL_DISKAUDIODELAY");
    unlink(path.c_str());
}

std::size_t DiskDevice::framesWritten() const {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return 0;
    }
    return static_cast<std::size_t>(info.st_size) / (2 * sizeof(float));
}

bool DiskDevice::waitMore(std::size_t frames, double timeoutSeconds) const {
    const std::size_t target = framesWritten() + frames;
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (framesWritten() < target) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::vector<float> DiskDevice::samples() const {
    std::vector<float> out(framesWritten() * 2);
    std::ifstream(path, std::ios::binary)
        .read(reinterpret_cast<char*>(out.data()),
              static_cast<std::streamsize>(out.size() * sizeof(float)));
    return out;
}

long findFrames(const std::vector<float>& out, const float* ref, int refChannels, std::size_t count,
                std::size_t from) {
    const std::size_t outFrames = out.size() / 2;
    if (outFrames < count) {
        return -1;
    }
    auto matches = [&](std::size_t o, std::size_t n) {
        for (std::size_t f = 0; f < n; ++f) {
            const float* r = ref + f * refChannels;
            for (int c = 0; c < 2; ++c) {
                if (out[(o + f) * 2 + c] != r[c < refChannels ? c : 0]) {
                    return false;
                }
            }
        }
        return true;
    };
    for (std::size_t o = from; o + count <= outFrames; ++o) {
        if (matches(o, 4) && matches(o, count)) {
            return static_cast<long>(o);
        }
    }
    return -1;
}
