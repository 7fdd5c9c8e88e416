#include "audio/audio.h"

#include "audio/audio_analyzer.h"
#include "audio/mp3_stream.h"
#include "audio/sound.h"
#include "audio/sound_output.h"
#include "audio/tap_node.h"
#include "base/log.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <vector>

struct Audio::Block {
    SoundOutput engine;
    Sound sound{Audio::kEngineRate, Audio::kEngineChannels};
    Mp3Stream decoder;
    TapNode tap;
    bool engineReady = false;
    bool soundReady = false;
    bool tapReady = false;
    bool decoderReady = false;
    AudioAnalyzer analyzer;
    // Published to the audio thread once the tap is set up.
    std::atomic<bool> tapLive{false};
    // A delay after the device that the platform cannot see, in frames.
    std::atomic<int> extraLatencyFrames{0};
};

namespace {

// The audio thread: the music into the device's buffer, then the same frames
// into the tap.
void deviceCallback(void* user, float* out, std::size_t frames) {
    auto* block = static_cast<Audio::Block*>(user);
    block->sound.render(out, frames,
                        block->engine.latencyFrames.load(std::memory_order_relaxed) +
                            block->extraLatencyFrames.load(std::memory_order_relaxed));
    if (block->tapLive.load(std::memory_order_acquire)) {
        block->tap.process(out, out, frames);
    }
}

} // namespace

Audio::Audio() : state(std::make_unique<Block>()) {}

Audio::~Audio() {
    unload();
}

bool Audio::setUpEngine() {
    // Runs from now on, silent until the sound starts.
    if (!state->engine.open(kEngineRate, kEngineChannels, kPeriodFrames, deviceCallback,
                            state.get())) {
        logLine(stderr, "[Audio] engine init failed\n");
        return false;
    }
    state->engineReady = true;
    return true;
}

void Audio::setUpTap() {
    Block& b = *state;
    b.soundReady = true;
    if (b.tap.init(kEngineChannels)) {
        b.tapReady = true;
        b.tapLive.store(true, std::memory_order_release);
    } else {
        logLine(stderr, "[Audio] tap node failed \u2014 analysis unavailable\n");
    }
    b.analyzer = AudioAnalyzer{};
    b.analyzer.setSampleRate(static_cast<float>(kEngineRate));
}

bool Audio::loadFile(const char* path) {
    unload();
    if (!setUpEngine()) {
        return false;
    }
    const char* name = path != nullptr ? path : "(null)";
    std::vector<unsigned char> bytes;
    if (std::FILE* file = path != nullptr ? std::fopen(path, "rb") : nullptr) {
        unsigned char buffer[65536];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            bytes.insert(bytes.end(), buffer, buffer + n);
        }
        std::fclose(file);
    } else {
        logLine(stderr, "[Audio] failed to load: %s\n", name);
        return false;
    }
    std::vector<float> pcm;
    int rate = 0;
    int channels = 0;
    if (!decodeMp3(bytes.data(), bytes.size(), pcm, rate, channels) ||
        !state->sound.initPcm(std::move(pcm), rate, static_cast<unsigned>(channels))) {
        logLine(stderr, "[Audio] failed to load: %s\n", name);
        return false;
    }
    setUpTap();
    return true;
}

bool Audio::loadMemory(const void* bytes, std::size_t size) {
    return loadStream([&](Mp3Stream& decoder) { return decoder.open(bytes, size); },
                      "[Audio] failed to decode from memory\n");
}

bool Audio::loadArriving(const ArrivingBytes& bytes) {
    return loadStream([&](Mp3Stream& decoder) { return decoder.open(bytes); },
                      "[Audio] failed to decode the music as it arrives\n");
}

template <typename Open> bool Audio::loadStream(Open open, const char* failure) {
    unload();
    if (!setUpEngine()) {
        return false;
    }
    if (!open(state->decoder)) {
        logLine(stderr, "%s", failure);
        return false;
    }
    state->decoderReady = true;
    if (!state->sound.initStream(&state->decoder)) {
        logLine(stderr, "[Audio] failed to init sound from memory decoder\n");
        return false;
    }
    setUpTap();
    return true;
}

void Audio::play() {
    paused = false;
    if (state->soundReady) {
        state->sound.start();
    }
}

void Audio::pause() {
    if (!paused && state->soundReady) {
        state->sound.stop();
        paused = true;
    }
}

void Audio::resume() {
    if (paused && state->soundReady) {
        paused = false;
        state->sound.start();
    }
}

void Audio::seek(double seconds) {
    if (!state->soundReady || !state->engineReady) {
        return;
    }
    if (std::isnan(seconds)) {
        logLine(stderr, "[Audio] seek to an invalid time ignored\n");
        return;
    }
    state->sound.seekSeconds(seconds);
}

void Audio::setLoopStart(double seconds) {
    Sound& s = state->sound;
    if (!state->soundReady || !(seconds > 0.0)) {
        if (state->soundReady) {
            s.setLoopStartFrame(0);
        }
        return;
    }
    const double frame = std::floor(seconds * static_cast<double>(s.sampleRate()));
    s.setLoopStartFrame(
        frame < static_cast<double>(s.lengthFrames()) ? static_cast<std::uint64_t>(frame) : 0);
}

double Audio::positionSeconds() const {
    if (!state->soundReady || state->sound.sampleRate() <= 0) {
        return 0.0;
    }
    return static_cast<double>(state->sound.cursorFrame()) /
           static_cast<double>(state->sound.sampleRate());
}

void Audio::skip(double seconds) {
    if (!state->soundReady || !(seconds > 0.0) || !std::isfinite(seconds)) {
        return;
    }
    state->sound.skipFrames(
        static_cast<std::uint64_t>(std::llround(seconds * state->sound.sampleRate())));
}

double Audio::outputLatency() const {
    return static_cast<double>(state->engine.latencyFrames.load(std::memory_order_relaxed) +
                               state->extraLatencyFrames.load(std::memory_order_relaxed)) /
           kEngineRate;
}

void Audio::setExtraLatency(double seconds) {
    const double frames = std::isfinite(seconds) ? std::max(seconds, 0.0) * kEngineRate : 0.0;
    state->extraLatencyFrames.store(static_cast<int>(std::lround(std::min(frames, 1e9))),
                                    std::memory_order_relaxed);
}

bool Audio::playPosition(MusicPosition& out) const {
    const Block& b = *state;
    Sound::Playhead head;
    if (!b.soundReady || !b.engineReady || paused || !b.sound.isPlaying() ||
        !b.sound.playhead(head)) {
        return false;
    }
    const Sound& s = b.sound;
    // Output frames heard of that buffer by now (negative: the device is
    // still before it). It cannot play past what it was handed.
    const double played =
        static_cast<double>(Sound::steadyNs() - head.heardNs) * kEngineRate * 1e-9;
    const double handed = static_cast<double>(head.frames);
    out.silentFor = std::max(played - handed, 0.0) / kEngineRate;
    out.latency = static_cast<double>(head.latencyFrames) / kEngineRate;
    out.gaps = static_cast<double>(head.gapNs) * 1e-9;
    const double rate = static_cast<double>(s.sampleRate());
    double frame = static_cast<double>(head.frame) + std::min(played, handed) * rate / kEngineRate;
    out.loops = head.loops;
    const double length = static_cast<double>(s.lengthFrames());
    const double loopStart = static_cast<double>(s.loopStartFrame());
    if (frame >= length) {
        frame = loopStart + (frame - length);
        ++out.loops;
    } else if (frame < loopStart && head.loops > 0 &&
               static_cast<double>(head.frame) >= loopStart) {
        // Still hearing the end from before the last flow into the loop start.
        frame = length - (loopStart - frame);
        --out.loops;
    }
    out.seconds = std::max(frame, 0.0) / rate;
    return true;
}

void Audio::update() {
    Block& b = *state;
    if (!b.tapReady) {
        return;
    }
    constexpr std::size_t kChunk = 512;
    float frames[kChunk * kEngineChannels];
    b.analyzer.begin();
    // Bounded by the ring's size so a producer faster than us cannot keep us here.
    std::size_t total = 0;
    while (total < TapNode::kCapacityFrames) {
        const std::size_t n = b.tap.read(frames, kChunk);
        if (n == 0) {
            break;
        }
        b.analyzer.feed(frames, n, kEngineChannels);
        total += n;
    }
    b.analyzer.finish();
}

float Audio::bass() const {
    return state ? state->analyzer.bass : 0.0f;
}

float Audio::treble() const {
    return state ? state->analyzer.treble : 0.0f;
}

double Audio::lengthSeconds() const {
    if (!state || !state->soundReady) {
        return 0.0;
    }
    const Sound& s = state->sound;
    if (s.sampleRate() <= 0) {
        return 0.0;
    }
    return static_cast<double>(static_cast<float>(s.lengthFrames()) /
                               static_cast<float>(s.sampleRate()));
}

void Audio::unload() {
    if (!state) {
        return;
    }
    Block& b = *state;
    // The device goes first: once it is closed the audio thread has stopped,
    // so nothing it reads can be freed under it.
    b.engine.close();
    if (b.tapReady) {
        b.tapLive.store(false, std::memory_order_relaxed);
        b.tap.release();
        b.tapReady = false;
    }
    b.sound.release();
    b.soundReady = false;
    if (b.decoderReady) {
        b.decoder.close();
        b.decoderReady = false;
    }
    b.engineReady = false;
    b.analyzer = AudioAnalyzer{};
    paused = false;
}
