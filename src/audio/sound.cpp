#include "audio/sound.h"

#include "audio/mp3_stream.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

Sound::Sound(int outRate, unsigned outChannels)
    : outputRate(outRate > 0 ? outRate : 1), outputChannels(outChannels > 0 ? outChannels : 1) {}

bool Sound::setUp(int sourceRate, unsigned sourceChannels, std::uint64_t frames) {
    if (sourceRate <= 0 || sourceChannels == 0) {
        return false;
    }
    rate = sourceRate;
    channels = sourceChannels;
    length = frames;
    step = static_cast<double>(rate) / static_cast<double>(outputRate);
    fraction = 0.0;
    primed = false;
    // Everything the audio thread touches is allocated here, never there.
    chunk.assign(kChunkFrames * channels, 0.0f);
    chunkFrames = 0;
    chunkPosition = 0;
    current.assign(channels, 0.0f);
    next.assign(channels, 0.0f);
    sourcePosition = 0;
    currentFrame = 0;
    nextSourceFrame = 0;
    playing.store(false, std::memory_order_relaxed);
    seekTarget.store(kNoSeek, std::memory_order_relaxed);
    skipRequest.store(0, std::memory_order_relaxed);
    loopStart.store(0, std::memory_order_relaxed);
    cursor.store(0, std::memory_order_relaxed);
    headFrames.store(0, std::memory_order_relaxed);
    lastRenderFrames = 0;
    lineNs = 0.0;
    gapNs = 0.0;
    outputLoops = 0;
    live.store(true, std::memory_order_release);
    return true;
}

bool Sound::initStream(Mp3Stream* source) {
    release();
    if (source == nullptr || !source->isOpen()) {
        return false;
    }
    stream = source;
    if (!setUp(source->sampleRate(), static_cast<unsigned>(source->channelCount()),
               source->lengthFrames())) {
        stream = nullptr;
        return false;
    }
    return true;
}

bool Sound::initPcm(std::vector<float> interleaved, int sourceRate, unsigned sourceChannels) {
    release();
    if (sourceChannels == 0) {
        return false;
    }
    pcm = std::move(interleaved);
    pcmPosition = 0;
    if (!setUp(sourceRate, sourceChannels, pcm.size() / sourceChannels)) {
        pcm.clear();
        return false;
    }
    return true;
}

void Sound::release() {
    live.store(false, std::memory_order_release);
    playing.store(false, std::memory_order_relaxed);
    stream = nullptr;
    pcm = {};
    pcmPosition = 0;
    rate = 0;
    channels = 0;
    length = 0;
    chunk = {};
    current = {};
    next = {};
}

void Sound::seekSeconds(double t) {
    if (!(t > 0.0)) {
        t = 0.0;
    }
    const double frame = std::floor(t * static_cast<double>(rate));
    // Compared in double so a huge time cannot overflow the conversion.
    seekFrame(frame >= static_cast<double>(length) ? length : static_cast<std::uint64_t>(frame));
}

void Sound::seekFrame(std::uint64_t frame) {
    // Before the target: a render that sees the target sees no skip made
    // before it, and a skip made after it goes on from it.
    skipRequest.store(0, std::memory_order_release);
    seekTarget.store(std::min(frame, length), std::memory_order_release);
    // After the target: a render that sees this count also sees the target.
    seeksRequested.fetch_add(1, std::memory_order_release);
}

void Sound::skipFrames(std::uint64_t frames) {
    if (frames == 0) {
        return;
    }
    skipRequest.fetch_add(frames, std::memory_order_release);
    seeksRequested.fetch_add(1, std::memory_order_release);
}

namespace {
std::atomic<Sound::ClockNs> clockOverride{nullptr};
// Counts the changes of clock, so a render can start its timing anew.
std::atomic<int> clockChanges{0};
} // namespace

void Sound::useClock(ClockNs clock) {
    clockOverride.store(clock, std::memory_order_release);
    clockChanges.fetch_add(1, std::memory_order_acq_rel);
}

std::int64_t Sound::steadyNs() {
    if (const ClockNs clock = clockOverride.load(std::memory_order_acquire)) {
        return clock();
    }
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void Sound::publishHead(std::uint64_t seeks, std::size_t frames, int latencyFrames) {
    const std::uint32_t s = headSequence.load(std::memory_order_relaxed);
    headSequence.store(s + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    headFrame.store(currentFrame, std::memory_order_relaxed);
    headLoops.store(outputLoops, std::memory_order_relaxed);
    headSeeks.store(seeks, std::memory_order_relaxed);
    headFrames.store(static_cast<std::uint32_t>(frames), std::memory_order_relaxed);
    headNs.store(static_cast<std::int64_t>(lineNs), std::memory_order_relaxed);
    headLatency.store(latencyFrames, std::memory_order_relaxed);
    headGap.store(static_cast<std::int64_t>(gapNs), std::memory_order_relaxed);
    headSequence.store(s + 2, std::memory_order_release);
}

bool Sound::playhead(Playhead& out) const {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        if (attempt >= 8) {
            // The audio thread was stopped half-way through: let it finish.
            std::this_thread::yield();
        }
        const std::uint32_t before = headSequence.load(std::memory_order_acquire);
        if ((before & 1u) != 0) {
            continue;
        }
        Playhead p;
        p.frame = headFrame.load(std::memory_order_relaxed);
        p.loops = headLoops.load(std::memory_order_relaxed);
        const std::uint64_t seeks = headSeeks.load(std::memory_order_relaxed);
        p.frames = headFrames.load(std::memory_order_relaxed);
        p.heardNs = headNs.load(std::memory_order_relaxed);
        p.latencyFrames = headLatency.load(std::memory_order_relaxed);
        p.gapNs = headGap.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (headSequence.load(std::memory_order_relaxed) != before) {
            continue;
        }
        // A buffer handed before the last seek, skip or start was carried out
        // says nothing about where the music is now.
        if (p.frames == 0 || seeks != seeksRequested.load(std::memory_order_acquire)) {
            return false;
        }
        out = p;
        return true;
    }
    return false;
}

void Sound::setLoopStartFrame(std::uint64_t frame) {
    loopStart.store(frame < length ? frame : 0, std::memory_order_release);
}

std::size_t Sound::readSource(float* out, std::size_t frames) {
    std::size_t n = 0;
    if (stream != nullptr) {
        n = stream->read(out, frames);
    } else {
        const std::uint64_t left = length - std::min(pcmPosition, length);
        n = static_cast<std::size_t>(std::min<std::uint64_t>(frames, left));
        std::memcpy(out, pcm.data() + pcmPosition * channels, n * channels * sizeof(float));
        pcmPosition += n;
    }
    sourcePosition += n;
    return n;
}

void Sound::seekSource(std::uint64_t frame) {
    frame = std::min(frame, length);
    if (stream != nullptr) {
        stream->seek(frame);
    } else {
        pcmPosition = frame;
    }
    sourcePosition = frame;
}

// One run of consecutive source frames; at the source's end the next run
// starts at the loop start, so the end flows straight into it. Nothing when
// the source gives nothing even from there, or its bytes have not come yet
// (a download), which is no end: the music waits there for them.
std::size_t Sound::readChunk(float* out, std::size_t frames) {
    chunkFirst = sourcePosition;
    std::size_t n = readSource(out, frames);
    if (n == 0 && (stream == nullptr || !stream->starved())) {
        seekSource(loopStart.load(std::memory_order_acquire));
        chunkFirst = sourcePosition;
        n = readSource(out, frames);
    }
    return n;
}

// The next source frame, and its position in the source through `frame`.
const float* Sound::nextFrame(std::uint64_t& frame) {
    if (chunkPosition >= chunkFrames) {
        chunkFrames = readChunk(chunk.data(), kChunkFrames);
        chunkPosition = 0;
        if (chunkFrames == 0) {
            // Nothing to play: hold silence where the music stands.
            std::fill(chunk.begin(), chunk.begin() + channels, 0.0f);
            frame = chunkFirst;
            return chunk.data();
        }
    }
    frame = chunkFirst + chunkPosition;
    return chunk.data() + (chunkPosition++) * channels;
}

void Sound::prime() {
    const float* a = nextFrame(currentFrame);
    std::copy(a, a + channels, current.begin());
    const float* b = nextFrame(nextSourceFrame);
    std::copy(b, b + channels, next.begin());
    fraction = 0.0;
    primed = true;
}

// When each render's first frame is heard: the time of the render plus the
// latency, at the device's nominal rate. A wake-up is late by a varying
// amount and never early, so the earliest reading wins and one a little later
// than the line moves it a quarter of the way (a device a little slower than
// the timer). One later by more than two renders is the device going on after
// a gap (a stall, a queue that ran dry) or with a longer delay: taken as it
// is, and counted.
// Where requests vary in size (the browser's), the line is the same: what
// the platform reports as queued ahead is in the latency.
void Sound::followLine(std::size_t frames, int latencyFrames) {
    const int changes = clockChanges.load(std::memory_order_acquire);
    if (changes != clockSeen) {
        clockSeen = changes;
        lastRenderFrames = 0;
    }
    const double frameNs = 1e9 / static_cast<double>(outputRate);
    const double heard =
        static_cast<double>(steadyNs()) + static_cast<double>(latencyFrames) * frameNs;
    if (lastRenderFrames > 0) {
        const double last = static_cast<double>(lastRenderFrames) * frameNs;
        const double late = heard - (lineNs + last);
        const bool drifts = late > 0.0 && late <= std::max(2.0 * last, 10e6);
        if (late > 0.0 && !drifts) {
            gapNs += late;
        }
        lineNs = drifts ? lineNs + last + late / 4.0 : heard;
    } else {
        lineNs = heard;
    }
    lastRenderFrames = frames;
}

void Sound::render(float* out, std::size_t frames, int latencyFrames) {
    if (!live.load(std::memory_order_acquire)) {
        std::fill(out, out + frames * outputChannels, 0.0f);
        return;
    }
    followLine(frames, latencyFrames);

    const std::uint64_t seeks = seeksRequested.load(std::memory_order_acquire);
    std::uint64_t target = seekTarget.exchange(kNoSeek, std::memory_order_acq_rel);
    const std::uint64_t skip = skipRequest.exchange(0, std::memory_order_acq_rel);
    if (skip > 0 && length > 0) {
        // From the frame the output goes on with, after a seek made with it.
        std::uint64_t at = target != kNoSeek ? target : primed ? currentFrame : sourcePosition;
        at += skip;
        if (at >= length) {
            const std::uint64_t from = loopStart.load(std::memory_order_acquire);
            at = from + (at - length) % (length - from);
            ++outputLoops;
        }
        target = at;
    }
    if (target != kNoSeek) {
        seekSource(target);
        chunkFrames = 0;
        chunkPosition = 0;
        primed = false;
        cursor.store(sourcePosition, std::memory_order_release);
    }
    if (!playing.load(std::memory_order_acquire)) {
        std::fill(out, out + frames * outputChannels, 0.0f);
        return;
    }
    if (!primed) {
        prime();
    }
    publishHead(seeks, frames, latencyFrames);
    const bool exact = step == 1.0;
    for (std::size_t f = 0; f < frames; ++f) {
        float* o = out + f * outputChannels;
        const float t = static_cast<float>(fraction);
        for (unsigned c = 0; c < outputChannels; ++c) {
            // Mono goes to every channel; extra source channels are left out.
            const unsigned s = std::min(c, channels - 1);
            o[c] = exact ? current[s] : current[s] + (next[s] - current[s]) * t;
        }
        fraction += step;
        while (fraction >= 1.0) {
            fraction -= 1.0;
            std::copy(next.begin(), next.end(), current.begin());
            if (nextSourceFrame < currentFrame) {
                ++outputLoops;
            }
            currentFrame = nextSourceFrame;
            const float* b = nextFrame(nextSourceFrame);
            std::copy(b, b + channels, next.begin());
        }
    }
    cursor.store(currentFrame, std::memory_order_release);
}
