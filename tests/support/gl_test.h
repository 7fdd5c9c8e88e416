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

// An RGBA8 target to render into and read back; bound once created.
struct TestTarget : RenderTarget {
    void create(int w, int h);
    // Binds it and clears it to (r, g, b, a).
    void clear(float r, float g, float b, float a) const;
    // RGBA8 rows, bottom row first (as glReadPixels gives them).
    std::vector<std::uint8_t> read() const;
    // Pixel (x, y) with y counted from the top row.
    std::array<std::uint8_t, 4> pixelTopDown(int x, int y) const;
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
