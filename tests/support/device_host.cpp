#include "support/device_host.h"

#include "audio/mp3_stream.h"
#include "audio/sound.h"
#include "core/asset_archive.h"

#include <SDL2/SDL.h>
#include <algorithm>
#include <cmath>
#include <poll.h>
#include <random>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr double kRate = Audio::kEngineRate;

// The host whose timer times the sound's renders, and the thread whose
// readings are not renders.
std::atomic<DeviceHost*> timing{nullptr};
std::thread::id mainThread;

std::int64_t timerNs() {
    DeviceHost* host = timing.load();
    if (host == nullptr) {
        return 0;
    }
    if (std::this_thread::get_id() == mainThread) {
        return static_cast<std::int64_t>(host->timerSeconds() * 1e9);
    }
    // A render: the driver's thread asks once it has written what it was last
    // handed and waited a period, so its time is exact.
    double late = 0.0;
    if (host->jitter > 0.0) {
        static std::mt19937 random(33);
        late = std::exponential_distribution<double>(1.0 / host->jitter)(random);
    }
    return static_cast<std::int64_t>((host->renderSeconds() + late) * 1e9);
}

} // namespace

DeviceHost::DeviceHost(const DiskDevice& d, double rate) : device(d), clockRate(rate) {
    secondsPerWrite = Audio::kPeriodFrames / kRate / device.speed();
    lastWritten = writtenFrames();
    notifyFd = inotify_init1(IN_CLOEXEC);
    if (notifyFd >= 0 && inotify_add_watch(notifyFd, device.file().c_str(), IN_MODIFY) >= 0) {
        watcher = std::thread([this] { watchWrites(); });
    }
    mainThread = std::this_thread::get_id();
    timing.store(this);
    Sound::useClock(timerNs);
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
        const std::size_t written = writtenFrames();
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
    const std::size_t written = writtenFrames();
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

std::size_t DeviceHost::writtenFrames() const {
    // The driver writes whole periods through a buffered file, which holds
    // back the last part of one until the next.
    constexpr std::size_t kPeriod = Audio::kPeriodFrames;
    return (device.framesWritten() + kPeriod - 1) / kPeriod * kPeriod;
}

double DeviceHost::renderSeconds() {
    return clockRate * static_cast<double>(writtenFrames() + Audio::kPeriodFrames) / kRate + lag;
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
    loopFrame = loop;
    endFrame = last;
}

std::vector<std::pair<double, double>> Recording::jumps() const {
    std::vector<std::pair<double, double>> found;
    for (std::size_t i = 1; i < stretches.size(); ++i) {
        const Stretch& a = stretches[i - 1];
        const Stretch& b = stretches[i];
        const long next = a.track + a.length == endFrame ? loopFrame : a.track + a.length;
        if (b.track != next) {
            // Through the loop end, the short way.
            found.emplace_back(static_cast<double>(b.out) / kRate,
                               std::remainder(static_cast<double>(b.track - next),
                                              static_cast<double>(endFrame - loopFrame)) /
                                   kRate);
        }
    }
    return found;
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
    const Recording recording(device.samples(), loopStart - 0.1, loopStart, engine.musicLength);
    run.jumps = recording.jumps();
    // What the device plays at each frame: this host counts a buffer as
    // written once it is handed, and it is heard a period later, so music in
    // step with the clock is two periods ahead of what was written.
    for (const Sample& f : samples) {
        const double music = recording.musicAt(f.written);
        if (std::isnan(music)) {
            continue;
        }
        const double offset = std::remainder(music - f.clock, loopSeconds) - 2.0 * kPeriod;
        double& worst = run.offsets[static_cast<std::size_t>(f.wrap)];
        if (std::isnan(worst) || std::fabs(offset) > std::fabs(worst)) {
            worst = offset;
        }
    }
    return run;
}
