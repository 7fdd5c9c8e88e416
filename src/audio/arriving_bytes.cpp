#include "audio/arriving_bytes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

bool ArrivingBytes::begin(std::size_t total) {
    storage.reset(total > 0 ? new (std::nothrow) unsigned char[total] : nullptr);
    size = storage ? total : 0;
    count.store(0, std::memory_order_release);
    broken.store(false, std::memory_order_release);
    return storage != nullptr;
}

std::size_t ArrivingBytes::append(const void* bytes, std::size_t n) {
    const std::size_t at = count.load(std::memory_order_relaxed);
    n = std::min(n, size - at);
    if (n > 0) {
        std::memcpy(storage.get() + at, bytes, n);
        count.store(at + n, std::memory_order_release);
    }
    return n;
}

ArrivingBytes& musicDownload() {
    static ArrivingBytes download;
    return download;
}

namespace {
// A run plays on with at least this much music there, and holds below the
// smaller amount: enough for the decoder's read-ahead and the device's queue.
constexpr double kPlaySeconds = 2.0;
constexpr double kHoldSeconds = 1.0;
} // namespace

double musicWait(double ahead, double missing, double arrivalRate, bool holding) {
    if (!(missing > 0.0) || (!holding && ahead >= kHoldSeconds)) {
        return 0.0;
    }
    if (!(arrivalRate > 0.0)) {
        return std::numeric_limits<double>::infinity();
    }
    // Playing on, the music there runs out before the rest has come unless
    // ahead >= missing x (1 - rate) / rate. While the run waits, `ahead`
    // grows and `missing` shrinks at the rate, so that wait is shorter than
    // it looks; and it ends at the latest when everything is there.
    double wait = (kPlaySeconds - ahead) / arrivalRate;
    if (arrivalRate < 1.0) {
        wait = std::max(wait, missing * (1.0 - arrivalRate) / arrivalRate + kHoldSeconds - ahead);
    }
    return std::clamp(wait, 0.0, missing / arrivalRate);
}
