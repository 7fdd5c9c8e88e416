#pragma once

#include "base/key_latch.h"

#include <cstdint>

struct GLFWwindow;

// The full-screen window on the primary monitor with its GL 3.3 core context.
class Window {
  public:
    GLFWwindow* handle = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
    // Fed by the key callback while events are polled.
    KeyLatch keys;

    bool create(const char* title);
    bool shouldClose() const;
    void swapAndPoll();
    void destroy();
#if defined(__EMSCRIPTEN__)
    // Takes the size of the page's canvas box; true when it changed.
    bool followPageSize();
#endif
};
