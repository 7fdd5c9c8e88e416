#pragma once

// The framebuffer and viewport a scene finds on entry (the canvas), captured
// before it draws into targets of its own and put back for its final draw.
struct SavedRenderTarget {
    int framebuffer = 0;
    int viewport[4] = {0, 0, 0, 0};

    static SavedRenderTarget capture();
    void restore() const;
};
