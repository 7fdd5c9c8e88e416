#pragma once

#include <cstdint>

// A 2-D colour texture of its own size and format, attached as colour
// attachment 0 of its own framebuffer: one half of a ping-pong pair, or a
// scene's offscreen picture.
struct RenderTarget {
    std::uint32_t texture = 0;
    std::uint32_t framebuffer = 0;
    int width = 0;
    int height = 0;

    // GL enums as ints so callers need not pull in the loader here. False when
    // the driver cannot render to the format.
    bool create(int w, int h, int internalFormat, int format, int type, int filter, int wrap);
    // Sets every texel to (r, g, b, a) without touching the clear colour.
    void clear(float r, float g, float b, float a) const;
    // Binds the framebuffer and sets the viewport to the whole texture.
    void bind() const;
    void bindTexture(int unit) const;
    void release();
};

// The framebuffer and viewport a scene found bound on entry, so that its own
// passes can go elsewhere and its final draw still lands in the caller's target.
struct SavedTarget {
    std::uint32_t framebuffer = 0;
    int viewport[4] = {0, 0, 0, 0};

    void capture();
    void restore() const;
};

// Attribute-less full-screen triangle; needs an empty vertex array bound.
void drawFullscreenTriangle();
