#pragma once

#include <string>

// Captures what the code under test writes to stderr (the log lines).
class StderrCapture {
  public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // Everything written since construction or the last take().
    std::string take();

  private:
    int savedFd = -1;
    int fileFd = -1;
    long readOffset = 0;
};
