#pragma once

#include "support/disk_device.h"

#include <cstddef>
#include <string>
#include <vector>

// An MP3 made with ffmpeg on first use, and the decoder's own samples of it.
struct TestMusic {
    std::string path;
    std::vector<unsigned char> mp3;
    std::vector<float> pcm;
    int rate = 0;
    int channels = 0;

    std::size_t frames() const { return pcm.size() / static_cast<std::size_t>(channels); }
    const float* frame(std::size_t f) const { return pcm.data() + f * channels; }
};

// 56 s of stereo at 48 kHz: gliding low tones plus steady high ones, different
// per channel, so any wrong position or channel shows.
const TestMusic* longStereoMusic();
// 3 s of mono at 44.1 kHz.
const TestMusic* shortMonoMusic();

// Index of the first frame of `out` from which `count` frames equal the
// reference from `refFrame` on, searching from `from`; -1 if none.
long findBlock(const std::vector<float>& out, const TestMusic& ref, std::size_t refFrame,
               std::size_t count, std::size_t from = 0);
