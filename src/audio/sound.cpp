#include "audio/sound.h"

#include "audio/mp3_stream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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
    playing.store(false, std::memory_order_relaxed);
    seekTarget.store(kNoSeek, std::memory_order_relaxed);
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
    seekTarget.store(std::min(frame, length), std::memory_order_release);
}

std::size_t Sound::readSource(float* out, std::size_t frames) {
    if (stream != nullptr) {
        return stream->read(out, frames);
    }
    const std::uint64_t left = length - std::min(pcmPosition, length);
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(frames, left));
    std::memcpy(out, pcm.data() + pcmPosition * channels, n * channels * sizeof(float));
    pcmPosition += n;
    return n;
}

void Sound::seekSource(std::uint64_t frame) {
    if (stream != nullptr) {
        stream->seek(frame);
    } else {
        pcmPosition = std::min(frame, length);
    }
}

// Reads from the source, going back to its start at the end; silence if the
// source gives nothing even from its start.
std::size_t Sound::readLooping(float* out, std::size_t frames) {
    std::size_t got = 0;
    bool rewound = false;
    while (got < frames) {
        const std::size_t n = readSource(out + got * channels, frames - got);
        got += n;
        if (got == frames || (n == 0 && rewound)) {
            break;
        }
        seekSource(0);
        rewound = true;
    }
    std::fill(out + got * channels, out + frames * channels, 0.0f);
    return got;
}

const float* Sound::nextFrame() {
    if (chunkPosition >= chunkFrames) {
        chunkFrames = readLooping(chunk.data(), kChunkFrames);
        chunkPosition = 0;
        if (chunkFrames == 0) {
            // Nothing to play at all: hold silence.
            std::fill(chunk.begin(), chunk.begin() + channels, 0.0f);
            return chunk.data();
        }
    }
    return chunk.data() + (chunkPosition++) * channels;
}

void Sound::prime() {
    const float* a = nextFrame();
    std::copy(a, a + channels, current.begin());
    const float* b = nextFrame();
    std::copy(b, b + channels, next.begin());
    fraction = 0.0;
    primed = true;
}

void Sound::render(float* out, std::size_t frames) {
    if (!live.load(std::memory_order_acquire)) {
        std::fill(out, out + frames * outputChannels, 0.0f);
        return;
    }
    const std::uint64_t target = seekTarget.exchange(kNoSeek, std::memory_order_acq_rel);
    if (target != kNoSeek) {
        seekSource(target);
        chunkFrames = 0;
        chunkPosition = 0;
        primed = false;
    }
    if (!playing.load(std::memory_order_acquire)) {
        std::fill(out, out + frames * outputChannels, 0.0f);
        return;
    }
    if (!primed) {
        prime();
    }
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
            const float* b = nextFrame();
            std::copy(b, b + channels, next.begin());
        }
    }
}
