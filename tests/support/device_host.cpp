#include "support/device_host.h"

#include "audio/mp3_stream.h"
#include "core/asset_archive.h"

#include <algorithm>
#include <poll.h>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr double kRate = Audio::kEngineRate;
}

DeviceHost::DeviceHost(const DiskDevice& d, double rate) : device(d), clockRate(rate) {
    secondsPerWrite = Audio::kPeriodFrames / kRate / device.speed();
    lastWritten = device.framesWritten();
    notifyFd = inotify_init1(IN_CLOEXEC);
    if (notifyFd >= 0 && inotify_add_watch(notifyFd, device.file().c_str(), IN_MODIFY) >= 0) {
        watcher = std::thread([this] { watchWrites(); });
    }
}

DeviceHost::~DeviceHost() {
    stopping.store(true);
    if (watcher.joinable()) {
        watcher.join();
    }
    if (notifyFd >= 0) {
        close(notifyFd);
    }
}

void DeviceHost::watchWrites() {
    alignas(inotify_event) char buffer[4096];
    while (!stopping.load()) {
        pollfd p{notifyFd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0 || read(notifyFd, buffer, sizeof buffer) <= 0) {
            continue;
        }
        const std::size_t written = device.framesWritten();
        const Clock::time_point at = Clock::now();
        std::lock_guard<std::mutex> lock(mutex);
        if (written == lastWritten) {
            continue;
        }
        if (written == lastWritten + Audio::kPeriodFrames) {
            const double interval = std::chrono::duration<double>(at - lastChange).count();
            secondsPerWrite += (std::clamp(interval, 0.5 * secondsPerWrite, 2.0 * secondsPerWrite) -
                                secondsPerWrite) /
                               8.0;
        }
        lastWritten = written;
        lastChange = at;
    }
}

// Between the device's writes time runs on at the device's measured pace (its
// sleeps overshoot), up to a period, so two readings in one frame are as close
// as on a real timer.
double DeviceHost::now() {
    constexpr double kPeriod = Audio::kPeriodFrames;
    const std::size_t written = device.framesWritten();
    const Clock::time_point real = Clock::now();
    std::lock_guard<std::mutex> lock(mutex);
    if (written != lastWritten && !watcher.joinable()) {
        lastWritten = written;
        lastChange = real;
    }
    const double since = std::chrono::duration<double>(real - lastChange).count();
    const double frames = std::min(since / secondsPerWrite * kPeriod, kPeriod);
    return clockRate * (static_cast<double>(lastWritten) + frames) / kRate + lag;
}

int DeviceHost::takePresses(int key) {
    const auto it = presses.find({frame, key});
    return it == presses.end() ? 0 : it->second;
}

void DeviceHost::swapAndPoll() {
    if (onFrame) {
        onFrame(frame);
    }
    ++frame;
}

void DeviceHost::sleepFor(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds / device.speed()));
}

FrameRecord recordFrame(Engine& engine, FrameHost& host) {
    return {engine.currentTime, host.now() - engine.startOffset, engine.audio.positionSeconds()};
}

void startAt(Engine& engine, FrameHost& host, double seconds) {
    engine.seek(seconds, host.now());
}

std::vector<float> shippedMusicFrames(std::uint64_t first, std::size_t count) {
    std::size_t size = 0;
    const unsigned char* mp3 = AssetArchive::find("assets/music/tune.mp3", &size);
    Mp3Stream stream;
    std::vector<float> frames(count * 2);
    if (mp3 == nullptr || !stream.open(mp3, size) || !stream.seek(first)) {
        return {};
    }
    frames.resize(stream.read(frames.data(), count) * 2);
    return frames;
}
