#include "audio/audio_analyzer.h"

#include <algorithm>
#include <cmath>

namespace {

// 2 pi 200 and 2 pi 4000, as the single-precision constants the levels were tuned with.
constexpr float kTwoPi200 = 1256.636f;
constexpr float kTwoPi4000 = 25132.72f;

float smooth(float level, float target) {
    if (target > level) {
        return level * 0.2f + target * 0.8f;
    }
    return level * 0.95f + target * 0.05f;
}

} // namespace

void AudioAnalyzer::setSampleRate(float fs) {
    lowAlpha = kTwoPi200 / (fs + kTwoPi200);
    highAlpha = kTwoPi4000 / (fs + kTwoPi4000);
}

void AudioAnalyzer::begin() {
    sumLow = 0.0f;
    sumHigh = 0.0f;
    count = 0;
}

void AudioAnalyzer::feed(const float* interleaved, std::size_t frames, unsigned channels) {
    if (channels == 0) {
        return;
    }
    for (std::size_t f = 0; f < frames; ++f) {
        const float* frame = interleaved + f * channels;
        float sum = 0.0f;
        for (unsigned c = 0; c < channels; ++c) {
            sum += frame[c];
        }
        const float m = sum / static_cast<float>(channels);
        lowState = lowState + (m - lowState) * lowAlpha;
        sumLow += lowState * lowState;
        highState = highState + (m - highState) * highAlpha;
        const float h = m - highState;
        sumHigh += h * h;
    }
    count += frames;
}

void AudioAnalyzer::finish() {
    if (count == 0) {
        return;
    }
    const float n = static_cast<float>(count);
    const float targetBass = std::min(std::sqrt(sumLow / n) * 4.0f, 1.0f);
    const float targetTreble = std::min(std::sqrt(sumHigh / n) * 8.0f, 1.0f);
    bass = smooth(bass, targetBass);
    treble = smooth(treble, targetTreble);
}

void AudioAnalyzer::analyse(const float* interleaved, std::size_t frames, unsigned channels) {
    begin();
    feed(interleaved, frames, channels);
    finish();
}
