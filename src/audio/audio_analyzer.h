#pragma once

#include <cstddef>

// Bass and treble levels from played samples: two one-pole low-passes at
// 200 Hz and 4 kHz, RMS per update, scaled and smoothed with a fast attack
// and a slow release. Pure arithmetic, so tools can feed it decoded audio.
class AudioAnalyzer {
  public:
    float lowState = 0.0f;
    float highState = 0.0f;
    float lowAlpha = 0.0f;
    float highAlpha = 0.0f;
    float bass = 0.0f;
    float treble = 0.0f;

    void setSampleRate(float sampleRate);

    // One update's worth of interleaved frames is fed in chunks, then finish()
    // publishes the levels (unchanged when no frame arrived).
    void begin();
    void feed(const float* interleaved, std::size_t frames, unsigned channels);
    void finish();

    // begin + feed + finish.
    void analyse(const float* interleaved, std::size_t frames, unsigned channels);

  private:
    float sumLow = 0.0f;
    float sumHigh = 0.0f;
    std::size_t count = 0;
};
