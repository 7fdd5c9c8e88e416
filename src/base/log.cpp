#include "base/log.h"

#include <algorithm>
#include <cstdarg>
#include <mutex>

namespace {

// The sound thread may log while start-up is still copying.
std::mutex copyMutex;
bool copying = false;
std::string copied;
constexpr std::size_t kCopyLimit = 16384;

} // namespace

void logLine(std::FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::unique_lock lock(copyMutex);
    if (copying && stream == stderr && copied.size() < kCopyLimit) {
        va_list again;
        va_copy(again, args);
        char line[1024];
        const int n = std::vsnprintf(line, sizeof line, format, again);
        va_end(again);
        if (n > 0) {
            copied.append(line,
                          std::min<std::size_t>(static_cast<std::size_t>(n), sizeof line - 1));
        }
    }
    lock.unlock();
    std::vfprintf(stream, format, args);
    va_end(args);
    std::fflush(stream);
}

void copyStderrLines(bool on) {
    const std::lock_guard lock(copyMutex);
    copying = on;
    copied.clear();
}

std::string copiedStderrLines() {
    const std::lock_guard lock(copyMutex);
    return copied;
}
