#pragma once

#include <cstddef>
#include <string>
#include <vector>

// SDL's disk driver writing what is played into a file (stereo float), pacing
// itself at about `speed` times real time.
class DiskDevice {
  public:
    explicit DiskDevice(int speed = 20);
    ~DiskDevice();
    DiskDevice(const DiskDevice&) = delete;
    DiskDevice& operator=(const DiskDevice&) = delete;

    std::size_t framesWritten() const;
    // Waits until at least `frames` more frames than now have been written.
    bool waitMore(std::size_t frames, double timeoutSeconds = 20.0) const;
    std::vector<float> samples() const;
    int speed() const { return pace; }
    const std::string& file() const { return path; }

  private:
    std::string path;
    int pace = 1;
};

// Index of the first stereo frame of `out` from which `count` frames equal
// `ref` (interleaved, mono going to both channels), searching from `from`;
// -1 if none.
long findFrames(const std::vector<float>& out, const float* ref, int refChannels, std::size_t count,
                std::size_t from = 0);
