#pragma once

#include "audio/audio_analyzer.h"

#include <cstddef>
#include <vector>

// The embedded music decoded in full, analysed frame by frame without a sound
// device: what the player would measure, reproducible from run to run.
class OfflineMusic {
  public:
    std::vector<float> samples; // interleaved
    int rate = 0;
    int channels = 0;
    AudioAnalyzer analyzer;

    // The archive's "assets/music/tune.mp3", else the file of that name.
    bool load();
    std::size_t frames() const;
    // The length as the player reports it (a float division).
    double lengthSeconds() const;
    // Feeds the samples played during the frame that ends at music time t.
    void analyseFrame(double t, double frameSeconds);
    // Bass and treble at `updatesPerSecond`, from the start.
    void levels(int updatesPerSecond, std::vector<float>& bass, std::vector<float>& treble);

  private:
    std::size_t frameAt(double t) const;
};
