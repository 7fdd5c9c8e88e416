#include "scenes/blittertornado_scene.h"
#include "support/gl_test.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace {

using Pixels = std::vector<std::uint8_t>;
constexpr int W = kCanvasWidth;
constexpr int H = kCanvasHeight;

void savePicture(const std::string& name, const Pixels& pixels) {
    if (const char* dir = std::getenv("QUEX_SCENE_PNG_DIR")) {
        writePng(std::string(dir) + "/" + name + ".png", pixels, W, H);
    }
}

// Rows bottom first, like gl_FragCoord.
Pixels readState(std::uint32_t texture) {
    Pixels pixels(static_cast<std::size_t>(W) * H * 4);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    return pixels;
}

void writeState(std::uint32_t texture, const Pixels& pixels) {
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, W, H, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
}

Pixels filledState(std::uint8_t r, std::uint8_t g) {
    Pixels pixels(static_cast<std::size_t>(W) * H * 4);
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = r;
        pixels[i + 1] = g;
        pixels[i + 2] = 0;
        pixels[i + 3] = 255;
    }
    return pixels;
}

double uvDistance(int x, int y) {
    const double u = (x + 0.5) / W - 0.5;
    const double v = (y + 0.5) / H - 0.5;
    return std::sqrt(u * u + v * v);
}

struct PlaneStats {
    int count = 0;
    double maxDistance = 0.0;
    double meanDistance = 0.0;
};

// Set pixels of one plane (0 red, 1 green) at least minDistance from the centre.
PlaneStats planeStats(const Pixels& state, int plane, double minDistance = 0.0) {
    PlaneStats s;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const double d = uvDistance(x, y);
            if (d < minDistance || state[(static_cast<std::size_t>(y) * W + x) * 4 + plane] < 128) {
                continue;
            }
            ++s.count;
            s.maxDistance = std::max(s.maxDistance, d);
            s.meanDistance += d;
        }
    }
    if (s.count > 0) {
        s.meanDistance /= s.count;
    }
    return s;
}

class TornadoSceneTest : public GlTest {
  protected:
    void SetUp() override {
        GlTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        canvas.create(W, H);
        canvas.clear(0.0f, 0.0f, 0.0f, 1.0f);
        scene.init(W, H);
        ASSERT_NE(scene.stateTexture(), 0u);
    }
    void TearDown() override {
        scene.release();
        canvas.release();
    }

    void step(float bass, float treble, int count = 1) {
        scene.setAudio(bass, treble);
        for (int i = 0; i < count; ++i) {
            canvas.clear(0.0f, 0.0f, 0.0f, 1.0f);
            scene.render(10.0, 0.0, 1.0f);
        }
    }

    TestTarget canvas;
    BlitterTornadoScene scene;
};

TEST_F(TornadoSceneTest, FirstSixStepsSeedTheCentreInBothPlanes) {
    step(0.0f, 0.0f);
    for (int plane = 0; plane < 2; ++plane) {
        const PlaneStats s = planeStats(readState(scene.stateTexture()), plane);
        EXPECT_GT(s.count, 3) << "plane " << plane;
        EXPECT_LT(s.maxDistance, 0.011) << "plane " << plane;
    }
    step(0.0f, 0.0f, 5);
    EXPECT_EQ(scene.steps(), 6);
    const Pixels state = readState(scene.stateTexture());
    savePicture("tornado_step6", canvas.read());
    for (int plane = 0; plane < 2; ++plane) {
        const PlaneStats s = planeStats(state, plane);
        EXPECT_GT(s.count, 20) << "plane " << plane;
        EXPECT_LT(s.maxDistance, 0.05) << "plane " << plane;
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// After the start-up steps, count what one step seeds into an empty state.
TEST_F(TornadoSceneTest, LevelsAtOrBelowThresholdSeedOnlyAtTheBaseRate) {
    step(0.0f, 0.0f, 6);
    auto seededOver = [&](float bass, float treble, int plane) {
        int total = 0;
        for (int i = 0; i < 10; ++i) {
            writeState(scene.stateTexture(), filledState(0, 0));
            step(bass, treble);
            total += planeStats(readState(scene.stateTexture()), plane).count;
        }
        return total;
    };
    // About 50 pixels of disc at a 1 % chance each, per step.
    EXPECT_LE(seededOver(0.6f, 0.6f, 0), 15);
    EXPECT_LE(seededOver(0.6f, 0.6f, 1), 15);
    EXPECT_LE(seededOver(0.0f, 0.0f, 0), 15);
    // Full levels raise the chance to 21 % on a wider disc.
    EXPECT_GE(seededOver(1.0f, 1.0f, 0), 80);
    EXPECT_GE(seededOver(1.0f, 1.0f, 1), 80);
}

TEST_F(TornadoSceneTest, BothPlanesFlowOutwards) {
    step(0.0f, 0.0f, 6);
    Pixels state = filledState(0, 0);
    for (int y = 85; y < 95; ++y) {
        for (int x = 235; x < 245; ++x) {
            state[(static_cast<std::size_t>(y) * W + x) * 4] = 255;
            state[(static_cast<std::size_t>(y) * W + x) * 4 + 1] = 255;
        }
    }
    writeState(scene.stateTexture(), state);
    const PlaneStats before = planeStats(state, 0, 0.1);

    step(0.0f, 0.0f, 5);
    const Pixels after = readState(scene.stateTexture());
    for (int plane = 0; plane < 2; ++plane) {
        const PlaneStats s = planeStats(after, plane, 0.1);
        EXPECT_GT(s.count, 50) << "plane " << plane;
        EXPECT_GT(s.meanDistance, before.meanDistance + 0.03) << "plane " << plane;
    }
}

// The step is tied to the render call, not to the time it is given.
TEST_F(TornadoSceneTest, TwoRendersInOneFrameTakeTwoSteps) {
    BlitterTornadoScene other;
    other.init(W, H);
    scene.setAudio(0.0f, 0.0f);
    other.setAudio(0.0f, 0.0f);
    for (int frame = 0; frame < 8; ++frame) {
        scene.render(3.0, 0.0, 1.0f);
        scene.render(3.0, 0.0, 0.5f);
        other.render(3.0 + frame / 60.0, 0.0, 1.0f);
        other.render(3.0 + (frame + 0.5) / 60.0, 0.0, 1.0f);
    }
    EXPECT_EQ(scene.steps(), 16);
    EXPECT_EQ(readState(scene.stateTexture()), readState(other.stateTexture()));
    other.release();
}

TEST_F(TornadoSceneTest, CheckerboardRemovesPlaneOneOnOddPixels) {
    const Float3 red{1.0f, 0.0f, 0.0f};
    const Float3 green{0.0f, 1.0f, 0.0f};
    const Float3 blue{0.0f, 0.0f, 1.0f};
    scene.setPalette(true, red, green, blue);

    struct Case {
        std::uint8_t plane0, plane1;
        Float3 even, odd;
    };
    const Case cases[] = {{0, 255, green, {0, 0, 0}}, {255, 255, blue, red}};
    for (const Case& c : cases) {
        // Uniform planes stay uniform under the warp, up to the decay.
        writeState(scene.stateTexture(), filledState(c.plane0, c.plane1));
        canvas.clear(1.0f, 1.0f, 1.0f, 1.0f);
        // No palette: the last one stays in force.
        scene.setPalette(false, Float3{}, Float3{}, Float3{});
        scene.render(1.0, 0.0, 1.0f);
        const Pixels picture = canvas.read();
        savePicture("tornado_checker", picture);
        int matches = 0;
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x) {
                const Float3& want = (x + y) % 2 == 0 ? c.even : c.odd;
                const std::uint8_t* px = &picture[(static_cast<std::size_t>(y) * W + x) * 4];
                bool same = true;
                for (int k = 0; k < 3; ++k) {
                    same = same && px[k] == static_cast<std::uint8_t>(want[k] * 255.0f);
                }
                matches += same ? 1 : 0;
            }
        }
        EXPECT_GT(matches, W * H * 99 / 100);
    }
}

} // namespace
