#include "scene_fixture.h"
#include "scenes/fluid_scene.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace {

class FluidSceneTest : public SceneTest<FluidScene> {
  protected:
    void steps(int count, double time, float alpha = 1.0f) {
        for (int i = 0; i < count; ++i) {
            scene.render(time, time, alpha);
        }
    }

    // Pixel at a texture coordinate of the simulation (y up).
    std::array<std::uint8_t, 4> at(float u, float v) const {
        const int x = static_cast<int>(u * 320.0f);
        const int y = 179 - static_cast<int>(v * 180.0f);
        return canvas.pixelTopDown(x, y);
    }

    void saveShot(const char* name) const {
        if (const char* dir = std::getenv("QUEX_SCENE_SHOTS")) {
            writePng(std::string(dir) + "/" + name + ".png", canvas.read(), 320, 180);
        }
    }
};

// Centroid of the red channel left of x = 160 (the cyan injected later adds
// no red).
struct Centroid {
    double x = 0.0, y = 0.0, weight = 0.0;
};

Centroid redCentroid(const std::vector<std::uint8_t>& rgba) {
    Centroid c;
    for (int y = 0; y < 180; ++y) {
        for (int x = 0; x < 160; ++x) {
            const std::uint8_t* p = &rgba[(static_cast<std::size_t>(y) * 320 + x) * 4];
            const double w = std::max(0, p[0] - 40);
            c.x += w * x;
            c.y += w * y;
            c.weight += w;
        }
    }
    if (c.weight > 0.0) {
        c.x /= c.weight;
        c.y /= c.weight;
    }
    return c;
}

} // namespace

TEST_F(FluidSceneTest, InjectsComplementaryDyeAtBothPumpCentresWithoutAudio) {
    steps(4, 0.0);
    saveShot("fluid_4_steps");
    // At time 0 the left pump sits at (0.30, 0.62) with hue 0 (red) and the
    // right one at (0.80, 0.50) with the opposite hue (cyan).
    const auto left = at(0.30f, 0.62f);
    const auto right = at(0.80f, 0.50f);
    EXPECT_GT(left[0], 120);
    EXPECT_LT(left[1], 20);
    EXPECT_LT(right[0], 20);
    EXPECT_GT(right[1], 120);
    EXPECT_GT(right[2], 120);
    const auto corner = at(0.05f, 0.05f);
    EXPECT_LT(corner[0] + corner[1] + corner[2], 3);
}

TEST_F(FluidSceneTest, EveryRenderCallAdvancesOneStep) {
    steps(1, 0.0);
    const int once = at(0.30f, 0.62f)[0];
    // A second entry in the same frame: same time, one more step of dye.
    steps(1, 0.0);
    const int twice = at(0.30f, 0.62f)[0];
    EXPECT_NEAR(once, 46, 3);
    EXPECT_NEAR(twice, 92, 4);
}

TEST_F(FluidSceneTest, DyeIsCarriedByTheFlow) {
    // Spin up the left pump in place, then move it away: the red dye left at
    // its old centre must be swept round the pump's new position.
    steps(30, 0.0);
    const Centroid before = redCentroid(canvas.read());
    ASSERT_GT(before.weight, 0.0);
    // At t = 8.27 the left pump has moved to about (0.40, 0.52).
    steps(45, 8.267);
    saveShot("fluid_moved_pump");
    const Centroid after = redCentroid(canvas.read());
    ASSERT_GT(after.weight, 0.0);
    // Counter-clockwise round the new centre, which lies below right of the
    // old one: the old dye moves left and down (rows read bottom up here).
    EXPECT_LT(after.x, before.x - 3.0);
    EXPECT_LT(after.y, before.y - 2.5);
}

TEST_F(FluidSceneTest, FadeScalesColourAndAlphaBeforeTheBlend) {
    FluidScene reference;
    reference.init(320, 180);
    TestTarget full;
    full.create(320, 180);
    full.clear(0.0f, 0.0f, 0.0f, 0.0f);
    reference.render(0.0, 0.0, 1.0f);

    canvas.clear(0.4f, 0.4f, 0.4f, 1.0f);
    scene.render(0.0, 0.0, 0.5f);

    // colour * 0.5 with alpha 0.5 under the source-alpha blend:
    // colour * 0.25 + destination * 0.5, alpha 0.25 + 0.5.
    const auto ref = full.pixelTopDown(96, 68);
    const auto got = canvas.pixelTopDown(96, 68);
    ASSERT_GT(ref[0], 40);
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(got[c], ref[c] * 0.25 + 102 * 0.5, 2.0) << "channel " << c;
    }
    EXPECT_NEAR(got[3], 191, 2);
    reference.release();
    full.release();
}

TEST_F(FluidSceneTest, ReturnsWithTheCanvasBoundAndBlendingOn) {
    steps(1, 0.0);
    GLint bound = 0;
    GLint viewport[4] = {};
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(static_cast<GLuint>(bound), canvas.framebuffer);
    EXPECT_EQ(viewport[2], 320);
    EXPECT_EQ(viewport[3], 180);
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
}

TEST_F(FluidSceneTest, ReleaseTwiceAndRenderAfterReleaseAreHarmless) {
    while (glGetError() != GL_NO_ERROR) {
    }
    scene.release();
    scene.release();
    scene.render(0.0, 0.0, 1.0f);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}
