#include "support/device_host.h"

#include "audio/mp3_stream.h"
#include "audio/sound.h"
#include "core/asset_archive.h"

#include <SDL2/SDL.h>
#include <algorithm>
#include <cmath>
#include <poll.h>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr double kRate = Audio::kEngineRate;

// The host whose device times the sound's renders.
std::atomic<DeviceHost*> timing{nullptr};

std::int64_t deviceNs() {
    DeviceHost* host = timing.load();
    return host != nullptr ? static_cast<std::int64_t>(host->deviceSeconds() * 1e9) : 0;
}

} // namespace

DeviceHost::DeviceHost(const DiskDevice& d, double rate) : device(d), clockRate(rate) {
    secondsPerWrite = Audio::kPeriodFrames / kRate / device.speed();
    lastWritten = device.framesWritten();
    notifyFd = inotify_init1(IN_CLOEXEC);
    if (notifyFd >= 0 && inotify_add_watch(notifyFd, device.file().c_str(), IN_MODIFY) >= 0) {
        watcher = std::thread([this] { watchWrites(); });
    }
    timing.store(this);
    Sound::useClock(deviceNs);
}

DeviceHost::~DeviceHost() {
    Sound::useClock(nullptr);
    timing.store(nullptr);
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
        if (written <= lastWritten) {
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
    const double device = deviceSeconds();
    if (clockReadAt < 0.0) {
        clockReadAt = device;
    }
    return clockRate * device + lag;
}

double DeviceHost::deviceSeconds() {
    constexpr double kPeriod = Audio::kPeriodFrames;
    const std::size_t written = device.framesWritten();
    const Clock::time_point real = Clock::now();
    std::lock_guard<std::mutex> lock(mutex);
    // A write the watcher has not seen yet (it may be held up too) counts
    // from now.
    if (written > lastWritten) {
        lastWritten = written;
        lastChange = real;
    }
    const double since = std::chrono::duration<double>(real - lastChange).count();
    const double frames = std::min(since / secondsPerWrite * kPeriod, kPeriod);
    return (static_cast<double>(lastWritten) + frames) / kRate;
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
    return {engine.clock.currentTime, host.now() - engine.clock.startOffset,
            engine.audio.positionSeconds()};
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

void holdSoundDevices(bool hold) {
    // SDL numbers the devices it opens from 2.
    for (SDL_AudioDeviceID id = 2; id < 64; ++id) {
        if (SDL_GetAudioDeviceStatus(id) != SDL_AUDIO_STOPPED) {
            SDL_PauseAudioDevice(id, hold ? 1 : 0);
        }
    }
}

Recording::Recording(const std::vector<float>& out, double from, double loopStart, double end) {
    const auto first = static_cast<long>(std::max(0.0, std::min(from, loopStart)) * kRate);
    const auto last = static_cast<long>(std::llround(end * kRate));
    const auto loop = static_cast<long>(loopStart * kRate);
    const std::vector<float> track = shippedMusicFrames(static_cast<std::uint64_t>(first),
                                                        static_cast<std::size_t>(last - first));
    const long frames = static_cast<long>(track.size() / 2);
    const long outFrames = static_cast<long>(out.size() / 2);
    auto same = [&](long o, long t) {
        return t >= 0 && t < frames && out[2 * o] == track[2 * t] &&
               out[2 * o + 1] == track[2 * t + 1];
    };
    // A stretch starts where 64 frames match.
    auto startsAt = [&](long o, long t) {
        for (long i = 0; i < 64; ++i) {
            if (o + i >= outFrames || !same(o + i, t + i)) {
                return false;
            }
        }
        return true;
    };
    auto search = [&](long o, long lo, long hi) {
        for (long t = std::max(lo, 0L); t < std::min(hi, frames); ++t) {
            if (startsAt(o, t)) {
                return t;
            }
        }
        return -1L;
    };
    long next = -1; // track frame that continues the current stretch
    for (long o = 0; o < outFrames;) {
        if (out[2 * o] == 0.0f && out[2 * o + 1] == 0.0f && !same(o, next)) {
            ++o;
            continue;
        }
        if (next >= 0 && same(o, next)) {
            if (o != stretches.back().out + stretches.back().length) {
                // Going on where it stopped, after silence.
                stretches.push_back({o, 0, next});
            }
            ++stretches.back().length;
            ++o;
            ++next;
            if (next + first == last) {
                next = loop - first;
                stretches.push_back({o, 0, next});
            }
            continue;
        }
        // Near where it was (a pause, a skip), at the loop start, or anywhere.
        const long wide = static_cast<long>(6 * kRate);
        long t = next >= 0 ? search(o, next - wide / 6, next + wide) : -1;
        if (t < 0) {
            t = search(o, loop - first, loop - first + wide);
        }
        if (t < 0) {
            t = search(o, 0, frames);
        }
        if (t < 0) {
            // Not from the track's part in question (what played before a
            // seek): passed over in steps.
            o += 480;
            next = -1;
            continue;
        }
        stretches.push_back({o, 0, t});
        next = t;
    }
    for (Stretch& st : stretches) {
        st.track += first;
    }
}

double Recording::musicAt(double o) const {
    const auto frame = static_cast<long>(std::floor(o));
    auto it = std::upper_bound(stretches.begin(), stretches.end(), frame,
                               [](long f, const Stretch& st) { return f < st.out; });
    if (it == stretches.begin()) {
        return std::nan("");
    }
    --it;
    if (frame >= it->out + it->length) {
        return std::nan("");
    }
    return static_cast<double>(it->track + (frame - it->out)) / kRate;
}

double heardAt(const Recording& recording, double deviceSeconds, double latency) {
    return recording.musicAt((deviceSeconds - latency) * kRate - 2.0 * Audio::kPeriodFrames);
}

namespace {

// The first output frame at which the recording stops following the track
// from `first` on, going from the track's end to `loopStart` each time; the
// output's size if it never does, -1 if `first` is never played. `started`:
// where `first` is played.
long firstBreak(const std::vector<float>& out, std::uint64_t first, std::uint64_t loopStart,
                std::uint64_t end, long& started) {
    started = -1;
    const std::vector<float> track = shippedMusicFrames(loopStart, end - loopStart);
    if (track.size() != 2 * (end - loopStart) || first < loopStart || first >= end) {
        return -1;
    }
    started = findFrames(out, &track[2 * (first - loopStart)], 2, 480);
    if (started < 0) {
        return -1;
    }
    std::uint64_t at = first;
    for (std::size_t o = static_cast<std::size_t>(started); o < out.size() / 2; ++o) {
        const float* t = &track[2 * (at - loopStart)];
        if (out[2 * o] != t[0] || out[2 * o + 1] != t[1]) {
            return static_cast<long>(o);
        }
        at = at + 1 == end ? loopStart : at + 1;
    }
    return static_cast<long>(out.size() / 2);
}

} // namespace

WrapRun runWraps(Engine& engine, DiskDevice& device, double clockRate, double lag, int wraps,
                 double loopSeconds) {
    constexpr double kPeriod = Audio::kPeriodFrames / kRate;
    const double loopStart = engine.musicLength - loopSeconds;
    engine.script.loopTime = loopStart;
    DeviceHost host(device, clockRate);
    // A little before the loop start, so that the music plays through it
    // however far ahead of the picture it is sought.
    startAt(engine, host, loopStart - 0.1);

    // Each frame's clock and the device's output position at that moment.
    struct Sample {
        int wrap;
        double clock;
        double written; // output frames
    };
    std::vector<Sample> samples;
    int wrap = 0;
    double wrappedAt = 0.0;
    double last = engine.clock.currentTime;
    // A loaded machine holds the frame loop now and then, the timer jumping
    // ahead as after a stall: half a second to settle after each.
    double lastFrame = -1.0;
    double held = -1.0;
    host.onFrame = [&](int) {
        const double now = host.now();
        if (lastFrame >= 0.0 && now - lastFrame > 0.1) {
            held = now;
        }
        lastFrame = now;
        if (engine.clock.currentTime < last) {
            ++wrap;
            wrappedAt = now;
        }
        last = engine.clock.currentTime;
        if (wrap == 5 && host.lag == 0.0 && now - wrappedAt > 0.4) {
            host.lag = lag;
        }
        if (wrap > 0 && wrap <= wraps && now - wrappedAt < 0.3 &&
            (held < 0.0 || now > held + 0.5)) {
            samples.push_back({wrap, now - engine.clock.startOffset, host.deviceSeconds() * kRate});
        }
        if (wrap > wraps) {
            host.requestClose();
        }
    };
    engine.run(host);
    engine.audio.unload(); // closes the device, so the file is complete

    WrapRun run;
    run.offsets.assign(static_cast<std::size_t>(wraps) + 1, std::nan(""));
    const std::vector<float> out = device.samples();
    run.outputFrames = static_cast<long>(out.size() / 2);
    const auto first = static_cast<std::uint64_t>(loopStart * kRate);
    const auto end = static_cast<std::uint64_t>(std::llround(engine.musicLength * kRate));
    long start = -1;
    run.brokenAt = firstBreak(out, first, first, end, start);
    if (start < 0) {
        return run;
    }
    // What the device plays at each frame, read off the recording while it is
    // unbroken: this host counts a buffer as written once it is handed, and it
    // is heard a period later, so music in step with the clock is two periods
    // ahead of what was written.
    const double span = static_cast<double>(end - first);
    for (const Sample& f : samples) {
        const double played = f.written - static_cast<double>(start);
        if (played < 0.0 || played >= static_cast<double>(run.brokenAt - start)) {
            continue;
        }
        const double music = (static_cast<double>(first) + std::fmod(played, span)) / kRate;
        const double offset = std::remainder(music - f.clock, span / kRate) - 2.0 * kPeriod;
        double& worst = run.offsets[static_cast<std::size_t>(f.wrap)];
        if (std::isnan(worst) || std::fabs(offset) > std::fabs(worst)) {
            worst = offset;
        }
    }
    return run;
}
