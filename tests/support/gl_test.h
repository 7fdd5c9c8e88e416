#pragma once

#include "render/gl.h"
#include "render/headless_context.h"
#include "render/render_target.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

// One headless GL context for the whole test program, created on first use.
bool ensureGlContext();

// A colour target of its own to render into and read back.
struct TestTarget {
    std::uint32_t framebuffer = 0;
    std::uint32_t texture = 0;
    int width = 0;
    int height = 0;

    void create(int w, int h);
    void bind() const; // binds it and sets the viewport
    void clear(float r, float g, float b, float a) const;
    // RGBA8 rows, bottom row first (as glReadPixels gives them).
    std::vector<std::uint8_t> read() const;
    // Pixel (x, y) with y counted from the top row.
    std::array<std::uint8_t, 4> pixelTopDown(int x, int y) const;
    void release();
};

// Writes RGBA8 rows (bottom first) as a PNG, top row first.
bool writePng(const std::string& path, const std::vector<std::uint8_t>& rgbaBottomUp, int width,
              int height);

// Sets the blend and clear state the demo sets at start-up.
void applyDemoGlState();

// Fixture for tests that draw: skips when no GL context can be made.
class GlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!ensureGlContext()) {
            GTEST_SKIP() << "no OpenGL 3.3 context available";
        }
        applyDemoGlState();
    }
};
