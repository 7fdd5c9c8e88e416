#include "audio/audio_analyzer.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace {

constexpr float kRate = 48000.0f;

std::vector<float> tone(float hz, float amplitude, std::size_t frames, unsigned channels = 2) {
    std::vector<float> out(frames * channels);
    for (std::size_t f = 0; f < frames; ++f) {
        const float v =
            amplitude * std::sin(2.0f * 3.14159265f * hz * static_cast<float>(f) / kRate);
        for (unsigned c = 0; c < channels; ++c) {
            out[f * channels + c] = v;
        }
    }
    return out;
}

AudioAnalyzer analyzerAt48k() {
    AudioAnalyzer a;
    a.setSampleRate(kRate);
    return a;
}

} // namespace

TEST(AudioAnalyzer, CoefficientsAreOnePoleLowPassesAt200HzAnd4kHz) {
    const AudioAnalyzer a = analyzerAt48k();
    EXPECT_FLOAT_EQ(a.lowAlpha, 1256.636f / (48000.0f + 1256.636f));
    EXPECT_FLOAT_EQ(a.highAlpha, 25132.72f / (48000.0f + 25132.72f));
}

TEST(AudioAnalyzer, FullScaleLowSquareDrivesBassToEightTenthsInOneUpdate) {
    AudioAnalyzer a = analyzerAt48k();
    // 20 Hz, full scale, 0.1 s: two whole periods.
    std::vector<float> square(4800 * 2);
    for (std::size_t f = 0; f < 4800; ++f) {
        const float v = (f / 1200) % 2 == 0 ? 1.0f : -1.0f;
        square[f * 2] = v;
        square[f * 2 + 1] = v;
    }
    a.analyse(square.data(), 4800, 2);
    // Target clamps at 1; fast attack takes 0.8 of the way from 0.
    EXPECT_FLOAT_EQ(a.bass, 0.8f);
    a.analyse(square.data(), 4800, 2);
    EXPECT_FLOAT_EQ(a.bass, 0.8f * 0.2f + 0.8f);
}

TEST(AudioAnalyzer, SilenceReleasesByFivePercentPerUpdateWithSamples) {
    AudioAnalyzer a = analyzerAt48k();
    a.bass = 0.5f;
    a.treble = 0.25f;
    const std::vector<float> silence(800 * 2, 0.0f);
    float bass = 0.5f;
    float treble = 0.25f;
    for (int i = 0; i < 10; ++i) {
        a.analyse(silence.data(), 800, 2);
        bass *= 0.95f;
        treble *= 0.95f;
        EXPECT_FLOAT_EQ(a.bass, bass);
        EXPECT_FLOAT_EQ(a.treble, treble);
    }
    // An update without samples keeps the levels where they are.
    a.begin();
    a.finish();
    a.analyse(silence.data(), 0, 2);
    EXPECT_FLOAT_EQ(a.bass, bass);
    EXPECT_FLOAT_EQ(a.treble, treble);
}

TEST(AudioAnalyzer, BandsSeparateLowAndHighTones) {
    AudioAnalyzer low = analyzerAt48k();
    const std::vector<float> hum = tone(50.0f, 0.5f, 9600);
    low.analyse(hum.data(), 9600, 2);
    EXPECT_GT(low.bass, 0.7f);
    EXPECT_LT(low.treble, 0.1f);

    AudioAnalyzer high = analyzerAt48k();
    const std::vector<float> hiss = tone(10000.0f, 0.5f, 9600);
    high.analyse(hiss.data(), 9600, 2);
    EXPECT_LT(high.bass, 0.1f);
    EXPECT_GT(high.treble, 0.7f);
}

TEST(AudioAnalyzer, MixesChannelsToMonoBeforeFiltering) {
    AudioAnalyzer a = analyzerAt48k();
    std::vector<float> opposite = tone(50.0f, 0.5f, 4800);
    for (std::size_t f = 0; f < 4800; ++f) {
        opposite[f * 2 + 1] = -opposite[f * 2];
    }
    a.analyse(opposite.data(), 4800, 2);
    EXPECT_EQ(a.bass, 0.0f);
    EXPECT_EQ(a.treble, 0.0f);

    // Fed in chunks across one update, as Audio::update does.
    AudioAnalyzer whole = analyzerAt48k();
    AudioAnalyzer chunked = analyzerAt48k();
    const std::vector<float> hum = tone(120.0f, 0.3f, 2000, 1);
    whole.analyse(hum.data(), 2000, 1);
    chunked.begin();
    for (std::size_t f = 0; f < 2000; f += 512) {
        chunked.feed(hum.data() + f, std::min<std::size_t>(512, 2000 - f), 1);
    }
    chunked.feed(hum.data(), 10, 0); // no channels: ignored
    chunked.finish();
    EXPECT_EQ(whole.bass, chunked.bass);
    EXPECT_EQ(whole.treble, chunked.treble);
}
