#include "base/key_latch.h"

#include <GLFW/glfw3.h>

static_assert(KeyLatch::kKeyCount == GLFW_KEY_LAST + 1);

void KeyLatch::onKey(int key, int action) {
    if (key < 0 || key >= kKeyCount || action != GLFW_PRESS) {
        return;
    }
    if (presses[key] < UINT16_MAX) {
        ++presses[key];
    }
}

int KeyLatch::takePresses(int key) {
    if (key < 0 || key >= kKeyCount) {
        return 0;
    }
    const int n = presses[key];
    presses[key] = 0;
    return n;
}

void KeyLatch::clear() {
    presses.fill(0);
}
