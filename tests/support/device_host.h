#pragma once

#include "core/engine.h"
#include "support/disk_device.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// The frame loop's host on a disk device's own timeline: the timer is what the
// driver has written, scaled by `clockRate` (a timer running that much faster
// than the device) and put ahead by `lag` (a device fallen that far behind),
// so a run passes the loop end in seconds and picture and music can be
// compared exactly. The sound's renders are timed by the same timer, as the
// steady clock times them on a real machine, each late by an exponential
// `jitter` on average (a scheduler waking the device's thread late). Keys
// are pressed by frame number.
class DeviceHost final : public FrameHost {
  public:
    DeviceHost(const DiskDevice& device, double clockRate);
    ~DeviceHost() override;
    DeviceHost(const DeviceHost&) = delete;
    DeviceHost& operator=(const DeviceHost&) = delete;

    double now() override;
    void beginFrame() override { clockReadAt = -1.0; }
    // The device's own time: what it has written.
    double deviceSeconds();
    // The timer, without marking the frame's reading.
    double timerSeconds() { return clockRate * deviceSeconds() + lag; }
    // The timer as the driver's thread renders.
    double renderSeconds();
    int takePresses(int key) override;
    bool shouldClose() override { return closeRequested; }
    void requestClose() override { closeRequested = true; }
    void swapAndPoll() override;
    void sleepFor(double seconds) override;

    std::map<std::pair<int, int>, int> presses; // (frame, key) -> presses
    std::function<void(int)> onFrame;           // after each frame's swap
    // The device's time when the frame read its clock (the first reading of
    // the frame).
    double clockReadAt = -1.0;
    bool closeRequested = false;
    int frame = 0;
    // Read by the sound's thread too.
    std::atomic<double> lag{0.0};
    std::atomic<double> jitter{0.0};

  private:
    using Clock = std::chrono::steady_clock;
    void watchWrites();
    std::size_t writtenFrames() const;

    const DiskDevice& device;
    const double clockRate;
    // Each write of the driver as a thread of ours sees it at once (the frame
    // loop may be busy drawing when it happens).
    std::mutex mutex;
    std::size_t lastWritten = 0;
    Clock::time_point lastChange = Clock::now();
    double secondsPerWrite = 0.0; // the driver's own pace, measured
    int notifyFd = -1;
    std::atomic<bool> stopping{false};
    std::thread watcher;
};

// Stops and starts the sound devices that are open: a stopped one writes
// silence without asking for sound, as a stalled device does.
void holdSoundDevices(bool hold);

// Where each output frame of a recording comes from in the track, found by
// exact match and followed through the loop, a pause, a skip or a seek.
class Recording {
  public:
    // `from`: the earliest track time the recording may hold.
    Recording(const std::vector<float>& out, double from, double loopStart, double end);
    // Track seconds at output frame `o`; NaN for silence or an unknown frame.
    double musicAt(double o) const;
    // Where the track does not go on where it left off (its flow from the end
    // into the loop start aside): the output second, and how far the track
    // moved, in seconds (forward for a skip, back for music played again).
    std::vector<std::pair<double, double>> jumps() const;

  private:
    struct Stretch {
        long out = 0;
        long length = 0;
        long track = 0; // track frame of the stretch's first output frame
    };
    std::vector<Stretch> stretches;
    long loopFrame = 0;
    long endFrame = 0;
};

// The music heard at a device time: the device plays each buffer a period
// after it was handed, as SDL counts its devices, and `latency` later still.
double heardAt(const Recording& recording, double deviceSeconds, double latency);

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

// A run of many short loops at the track's end on a device whose clock runs
// off the timer by `clockRate`, falling `lag` seconds behind after the fifth
// wrap, judged in the played output.
struct WrapRun {
    // Per wrap (from 1), the worst distance over the 0.3 s after it between
    // what the device plays and the picture's clock, in seconds: positive when
    // the music is ahead; NaN where the output could not be read.
    std::vector<double> offsets;
    // Where the music does not loop on unbroken (Recording::jumps).
    std::vector<std::pair<double, double>> jumps;
};
WrapRun runWraps(Engine& engine, DiskDevice& device, double clockRate, double lag, int wraps,
                 double loopSeconds);
