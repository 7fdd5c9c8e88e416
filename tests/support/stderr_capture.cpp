#include "support/stderr_capture.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

StderrCapture::StderrCapture() {
    std::fflush(stderr);
    char name[] = "/tmp/quex_stderr_XXXXXX";
    fileFd = mkstemp(name);
    unlink(name);
    savedFd = dup(STDERR_FILENO);
    dup2(fileFd, STDERR_FILENO);
}

StderrCapture::~StderrCapture() {
    std::fflush(stderr);
    dup2(savedFd, STDERR_FILENO);
    close(savedFd);
    close(fileFd);
}

std::string StderrCapture::take() {
    std::fflush(stderr);
    std::string out;
    char buffer[4096];
    for (;;) {
        const ssize_t n = pread(fileFd, buffer, sizeof buffer, readOffset);
        if (n <= 0) {
            break;
        }
        out.append(buffer, static_cast<std::size_t>(n));
        readOffset += n;
    }
    return out;
}
