#include "support/device_host.h"

#include "audio/mp3_stream.h"
#include "core/asset_archive.h"

#include <algorithm>
#include <thread>

namespace {
constexpr double kRate = Audio::kEngineRate;
}

DeviceHost::DeviceHost(const DiskDevice& d, double rate) : device(d), clockRate(rate) {}

// Between the device's writes time runs on at the device's pace, up to a
// period, so two readings in one frame are as close as on a real timer.
double DeviceHost::now() {
    const std::size_t written = device.framesWritten();
    const auto real = std::chrono::steady_clock::now();
    if (written != lastWritten) {
        lastWritten = written;
        lastChange = real;
    }
    const double since = std::chrono::duration<double>(real - lastChange).count();
    const double frames =
        std::min(since * device.speed() * kRate, static_cast<double>(Audio::kPeriodFrames));
    return clockRate * (static_cast<double>(written) + frames) / kRate;
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
