#pragma once

#include <array>
#include <cstdint>

// Presses reported by the window's key events since the frame loop last
// asked. Polling the key state misses a tap whose press and release both fall
// between two polls, which a slow frame makes likely; counting the press
// events does not. Holding a key counts once: repeats are not presses.
class KeyLatch {
  public:
    // GLFW's key codes run up to GLFW_KEY_LAST (348).
    static constexpr int kKeyCount = 349;

    // From the key callback: GLFW's key code and action (release 0, press 1, repeat 2).
    void onKey(int key, int action);
    // Presses of `key` since the last call for it; 0 for an unknown key.
    int takePresses(int key);
    void clear();

  private:
    std::array<std::uint16_t, kKeyCount> presses{};
};
