// Progress of a long run on standard error, for whoever is looking: a bar
// redrawn a few times a second on a terminal; in a log file or a pipe, a plain
// line every 10 % instead, so a captured log stays readable. Either way a last
// line gives the totals.
#pragma once

#include <chrono>
#include <cstdio>
#include <unistd.h>

class Progress {
  public:
    Progress(const char* tool, long total)
        : tool(tool), total(total), terminal(isatty(fileno(stderr)) != 0) {}

    // `done` of `total` units are finished.
    void update(long done) {
        const double elapsed = seconds();
        if (terminal) {
            // A few updates a second are enough to read.
            if (elapsed - lastShown >= 0.25 || done == total) {
                bar(done, elapsed);
                lastShown = elapsed;
            }
            return;
        }
        const long tenth = total > 0 ? done * 10 / total : 10;
        if (tenth > lastTenth && done < total) {
            std::fprintf(stderr, "%s: %ld/%ld frames (%ld %%), %.1f fps, %.0f s left\n", tool, done,
                         total, done * 100 / total, rate(done, elapsed), left(done, elapsed));
            std::fflush(stderr);
            lastTenth = tenth;
        }
    }

    void finish(long done) {
        const double elapsed = seconds();
        if (terminal) {
            std::fputc('\n', stderr);
        }
        std::fprintf(stderr, "%s: %ld frames in %.1f s (%.1f fps)\n", tool, done, elapsed,
                     rate(done, elapsed));
        std::fflush(stderr);
    }

  private:
    const char* tool;
    long total;
    bool terminal;
    std::chrono::steady_clock::time_point began = std::chrono::steady_clock::now();
    double lastShown = -1.0;
    long lastTenth = 0;

    double seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    }
    static double rate(long done, double elapsed) { return elapsed > 0.0 ? done / elapsed : 0.0; }
    double left(long done, double elapsed) const {
        const double fps = rate(done, elapsed);
        return fps > 0.0 ? (total - done) / fps : 0.0;
    }
    void bar(long done, double elapsed) const {
        const int width = 30;
        const int filled = total ? static_cast<int>(width * done / total) : width;
        std::fprintf(stderr, "\r[%.*s%*s] %ld/%ld frames  %.1f fps  %.0f s left   ", filled,
                     "##############################", width - filled, "", done, total,
                     rate(done, elapsed), left(done, elapsed));
        std::fflush(stderr);
    }
};
