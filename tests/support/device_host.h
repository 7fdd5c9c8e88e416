#pragma once

#include "core/engine.h"
#include "support/disk_device.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <utility>
#include <vector>

// The frame loop's host on a disk device's own timeline: the clock is what the
// driver has written, scaled by `clockRate`, so a run passes the loop end in
// seconds and picture and music can be compared exactly. Keys are pressed by
// frame number.
class DeviceHost final : public FrameHost {
  public:
    DeviceHost(const DiskDevice& device, double clockRate);

    double now() override;
    int takePresses(int key) override;
    bool shouldClose() override { return closeRequested; }
    void requestClose() override { closeRequested = true; }
    void swapAndPoll() override;
    void sleepFor(double seconds) override;

    std::map<std::pair<int, int>, int> presses; // (frame, key) -> presses
    std::function<void(int)> onFrame;           // after each frame's swap
    bool closeRequested = false;
    int frame = 0;

  private:
    const DiskDevice& device;
    const double clockRate;
    std::size_t lastWritten = 0;
    std::chrono::steady_clock::time_point lastChange = std::chrono::steady_clock::now();
};

struct FrameRecord {
    double time;  // the demo time the frame drew
    double clock; // the demo clock at the frame's end
    double music; // where the music is being handed to the device then
};

FrameRecord recordFrame(Engine& engine, FrameHost& host);

// Stereo frames of the shipped music from `first` on (empty if unavailable).
std::vector<float> shippedMusicFrames(std::uint64_t first, std::size_t count);

// Starts the engine's clock and its music at `seconds`.
void startAt(Engine& engine, FrameHost& host, double seconds);
