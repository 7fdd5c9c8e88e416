#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

// A file that arrives over time, as a download does, kept whole: its size is
// known from the start, its bytes come in order, and readers see what has
// arrived so far. One thread adds bytes; readers on any thread see a byte
// once `arrived` counts it, and the bytes never move.
class ArrivingBytes {
  public:
    // Room for `total` bytes, none arrived; false when there is none to be had.
    bool begin(std::size_t total);
    // Appends up to what is left of the total; returns how many were taken.
    std::size_t append(const void* bytes, std::size_t size);
    // The rest will not come (the download broke off for good).
    void fail() { broken.store(true, std::memory_order_release); }

    bool begun() const { return storage != nullptr; }
    const unsigned char* data() const { return storage.get(); }
    std::size_t total() const { return size; }
    std::size_t arrived() const { return count.load(std::memory_order_acquire); }
    bool complete() const { return size > 0 && arrived() == size; }
    bool failed() const { return broken.load(std::memory_order_acquire); }

  private:
    std::unique_ptr<unsigned char[]> storage;
    std::size_t size = 0;
    std::atomic<std::size_t> count{0};
    std::atomic<bool> broken{false};
};

// The music as the browser's page downloads it beside the program (its
// archive leaves the music out). Process-wide like the archive, so that every
// run of the page plays the one download; never begun on the desktop.
ArrivingBytes& musicDownload();

// How long a run playing music that is still arriving must wait before it
// plays on, in seconds: 0 to play on, infinity while nothing arrives. The
// wait is long enough that the music, arriving at `arrivalRate` (seconds of
// music a second), never runs out again before all of it is there: it holds
// once rather than stutter. `ahead`: seconds of music there beyond what plays
// now; `missing`: seconds still to come; `holding`: the run waits already.
double musicWait(double ahead, double missing, double arrivalRate, bool holding);
