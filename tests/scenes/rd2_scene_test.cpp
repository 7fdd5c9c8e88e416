#include "scene_fixture.h"
#include "scenes/rd2_scene.h"

#include <cstdlib>
#include <string>

namespace {

constexpr Float3 kLow{1.00f, 0.80f, 0.50f};
constexpr Float3 kMid{1.00f, 0.25f, 0.00f};
constexpr Float3 kHigh{0.10f, 0.00f, 0.00f};

// RGBA8 contents of a texture, bottom row first.
std::vector<std::uint8_t> readTexture(std::uint32_t texture, int width, int height) {
    GLuint fb = 0;
    GLint previous = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previous);
    glGenFramebuffers(1, &fb);
    glBindFramebuffer(GL_FRAMEBUFFER, fb);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previous));
    glDeleteFramebuffers(1, &fb);
    return pixels;
}

struct ChannelStats {
    int min = 255;
    int max = 0;
    double mean = 0.0;
};

ChannelStats channelStats(const std::vector<std::uint8_t>& rgba, int channel) {
    ChannelStats s;
    const std::size_t count = rgba.size() / 4;
    for (std::size_t i = 0; i < count; ++i) {
        const int v = rgba[i * 4 + channel];
        s.min = std::min(s.min, v);
        s.max = std::max(s.max, v);
        s.mean += v;
    }
    s.mean /= static_cast<double>(count);
    return s;
}

class Rd2SceneTest : public SceneTest<Rd2Scene> {
  protected:
    void step(Rd2Scene& s, double time, bool customPalette) {
        s.setPalette(customPalette, kLow, kMid, kHigh);
        s.render(time, time, 1.0f);
    }

    void saveShot(const std::string& name) const {
        if (const char* dir = std::getenv("QUEX_SCENE_SHOTS")) {
            writePng(std::string(dir) + "/" + name + ".png", canvas.read(), 320, 180);
        }
    }
};

} // namespace

TEST_F(Rd2SceneTest, SeedsNoiseInAllChannelsForTenStepsThenKeepsOnlyRed) {
    for (int i = 0; i < Rd2Scene::kSeedSteps; ++i) {
        step(scene, i / 60.0, false);
        if (i == 0 || i == Rd2Scene::kSeedSteps - 1) {
            const auto field = readTexture(scene.fieldTexture(), 320, 180);
            for (int c = 0; c < 4; ++c) {
                const ChannelStats s = channelStats(field, c);
                EXPECT_LT(s.min, 10) << "step " << i << " channel " << c;
                EXPECT_GT(s.max, 245) << "step " << i << " channel " << c;
                EXPECT_NEAR(s.mean, 127.5, 8.0) << "step " << i << " channel " << c;
            }
        }
    }
    step(scene, 10 / 60.0, false);
    EXPECT_EQ(scene.steps(), Rd2Scene::kSeedSteps + 1);
    const auto field = readTexture(scene.fieldTexture(), 320, 180);
    const ChannelStats red = channelStats(field, 0);
    EXPECT_GT(red.max - red.min, 100);
    for (int c = 1; c < 3; ++c) {
        const ChannelStats s = channelStats(field, c);
        EXPECT_EQ(s.max, 0) << "channel " << c;
    }
    EXPECT_EQ(channelStats(field, 3).min, 255);
}

TEST_F(Rd2SceneTest, EntryWithoutPaletteShowsTheBuiltInPaletteEvenAfterOneWasGiven) {
    // Same field history in both instances; only the palette calls differ.
    Rd2Scene plain;
    plain.init(320, 180);
    TestTarget plainCanvas;
    plainCanvas.create(320, 180);
    plainCanvas.clear(0.0f, 0.0f, 0.0f, 1.0f);
    for (int i = 0; i < 12; ++i) {
        step(plain, i / 60.0, false);
    }
    canvas.bind();
    for (int i = 0; i < 11; ++i) {
        step(scene, i / 60.0, true);
    }
    const auto custom = canvas.read();
    step(scene, 11 / 60.0, false);
    EXPECT_EQ(canvas.read(), plainCanvas.read());
    EXPECT_NE(custom, plainCanvas.read());
    plain.release();
    plainCanvas.release();
}

TEST_F(Rd2SceneTest, CustomPaletteRunsFromLowThroughMidToHigh) {
    for (int i = 0; i < 40; ++i) {
        step(scene, i / 60.0, true);
    }
    saveShot("rd2_custom_40");
    // Every lit pixel is a blend of the three warm colours: never blue, and
    // red at least as strong as green.
    const auto pixels = canvas.read();
    int lit = 0;
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
        if (pixels[i] > 20) {
            ++lit;
            EXPECT_LE(pixels[i + 1], pixels[i] + 2);
            ASSERT_LE(pixels[i + 2], pixels[i] / 2 + 2);
        }
    }
    EXPECT_GT(lit, 1000);
}

TEST_F(Rd2SceneTest, FadeScalesColourAndAlphaAndTheCanvasStateIsRestored) {
    Rd2Scene reference;
    reference.init(320, 180);
    TestTarget full;
    full.create(320, 180);
    full.clear(0.0f, 0.0f, 0.0f, 0.0f);
    reference.render(0.0, 0.0, 1.0f);

    canvas.clear(0.4f, 0.4f, 0.4f, 1.0f);
    scene.render(0.0, 0.0, 0.5f);
    GLint bound = 0;
    GLint viewport[4] = {};
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(static_cast<GLuint>(bound), canvas.framebuffer);
    EXPECT_EQ(viewport[2], 320);
    EXPECT_EQ(viewport[3], 180);
    EXPECT_TRUE(glIsEnabled(GL_BLEND));

    const auto ref = full.read();
    const auto got = canvas.read();
    for (std::size_t i = 0; i < ref.size(); i += 4 * 997) {
        for (int c = 0; c < 3; ++c) {
            ASSERT_NEAR(got[i + c], ref[i + c] * 0.25 + 102 * 0.5, 2.0);
        }
        ASSERT_NEAR(got[i + 3], 191, 2);
    }
    reference.release();
    full.release();
}
