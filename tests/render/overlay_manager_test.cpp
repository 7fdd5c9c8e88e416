#include "render/overlay_manager.h"
#include "support/gl_test.h"
#include "support/stderr_capture.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <stb/stb_image_write.h>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Px = std::array<std::uint8_t, 4>;

constexpr int kW = 64;
constexpr int kH = 48;
const Px kBlack{0, 0, 0, 255};

std::string solidPng(const char* name, int w, int h, std::uint8_t r, std::uint8_t g,
                     std::uint8_t b) {
    const fs::path dir = fs::temp_directory_path() / "quex_overlays";
    fs::create_directories(dir);
    const std::string path = (dir / name).string();
    std::vector<std::uint8_t> pixels;
    for (int i = 0; i < w * h; ++i) {
        pixels.insert(pixels.end(), {r, g, b, 255});
    }
    stbi_write_png(path.c_str(), w, h, 4, pixels.data(), w * 4);
    return path;
}

OverlayEntry entry(int id, const std::string& path, float x, float y, double start, double end) {
    OverlayEntry e;
    e.id = id;
    std::snprintf(e.path, sizeof e.path, "%s", path.c_str());
    e.x = x;
    e.y = y;
    e.start = start;
    e.end = end;
    return e;
}

class OverlayManagerTest : public GlTest {
  protected:
    void SetUp() override {
        GlTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        canvas.create(kW, kH);
    }

    void TearDown() override {
        overlays.release();
        canvas.release();
    }

    void start() {
        overlays.build(script);
        ASSERT_TRUE(overlays.init(kW, kH));
    }

    // One frame into a freshly cleared canvas.
    void frame(double t, float treble) {
        canvas.clear(0, 0, 0, 1);
        overlays.render(t, treble);
    }

    DemoScript script;
    OverlayManager overlays;
    TestTarget canvas;
};

TEST_F(OverlayManagerTest, DrawsAtNativeSizeAndFades) {
    const std::string red = solidPng("red16x8.png", 16, 8, 255, 0, 0);
    script.overlays.push_back(entry(5, red, 8, 8, 1.0, 3.0));
    script.overlays.back().fadeIn = 0.5f;
    start();
    ASSERT_EQ(overlays.sprites.size(), 1u);
    EXPECT_EQ(overlays.sprites[0].width, 16.0f);
    EXPECT_EQ(overlays.sprites[0].height, 8.0f);

    frame(2.0, 0.0f);
    const Px solid{255, 0, 0, 255};
    EXPECT_EQ(canvas.pixelTopDown(8, 8), solid);
    EXPECT_EQ(canvas.pixelTopDown(23, 8), solid);
    EXPECT_EQ(canvas.pixelTopDown(8, 15), solid);
    EXPECT_EQ(canvas.pixelTopDown(23, 15), solid);
    EXPECT_EQ(canvas.pixelTopDown(7, 8), kBlack);
    EXPECT_EQ(canvas.pixelTopDown(24, 8), kBlack);
    EXPECT_EQ(canvas.pixelTopDown(8, 7), kBlack);
    EXPECT_EQ(canvas.pixelTopDown(8, 16), kBlack);

    frame(1.25, 0.0f); // half way through the fade-in
    EXPECT_NEAR(canvas.pixelTopDown(12, 12)[0], 128, 2);

    frame(1.0, 0.0f); // start, with a fade-in: nothing yet
    EXPECT_EQ(canvas.pixelTopDown(12, 12), kBlack);
    frame(3.0, 0.0f); // end, without a fade-out: still fully there
    EXPECT_EQ(canvas.pixelTopDown(12, 12), solid);
    frame(3.01, 0.0f);
    EXPECT_EQ(canvas.pixelTopDown(12, 12), kBlack);
}

TEST_F(OverlayManagerTest, GlowLightsAroundTheImageOnlyWithinTheHold) {
    const std::string white = solidPng("white8.png", 8, 8, 255, 255, 255);
    OverlayEntry e = entry(9, white, 24, 16, 0.0, 10.0);
    e.fadeIn = 1.0f;
    e.fadeOut = 1.0f;
    e.glow = true;
    e.glowColor = {0.0f, 0.0f, 1.0f};
    e.glowRadius = 4.0f;
    script.overlays.push_back(e);
    start();

    frame(5.0, 1.0f);
    const Px halo = canvas.pixelTopDown(22, 20); // 1.5 px left of the image
    EXPECT_EQ(halo[0], 0);
    EXPECT_GT(halo[2], 40);
    EXPECT_EQ(canvas.pixelTopDown(26, 20), (Px{255, 255, 255, 255})); // image on top
    EXPECT_EQ(canvas.pixelTopDown(40, 20), kBlack);                   // beyond the radius
    EXPECT_EQ(canvas.pixelTopDown(27, 4), kBlack);

    // The usual blending is back for whatever draws next.
    GLint src = 0;
    GLint dst = 0;
    glGetIntegerv(GL_BLEND_SRC_RGB, &src);
    glGetIntegerv(GL_BLEND_DST_RGB, &dst);
    EXPECT_EQ(src, GL_SRC_ALPHA);
    EXPECT_EQ(dst, GL_ONE_MINUS_SRC_ALPHA);

    frame(5.0, 0.0f); // silent treble: no halo
    EXPECT_EQ(canvas.pixelTopDown(22, 20), kBlack);
    frame(0.5, 1.0f); // fading in: image only
    EXPECT_EQ(canvas.pixelTopDown(22, 20), kBlack);
    EXPECT_GT(canvas.pixelTopDown(26, 20)[0], 100);
    frame(9.5, 1.0f); // fading out
    EXPECT_EQ(canvas.pixelTopDown(22, 20), kBlack);
}

TEST_F(OverlayManagerTest, FollowsScriptEditsById) {
    const std::string red = solidPng("red4.png", 4, 4, 255, 0, 0);
    const std::string green = solidPng("green4.png", 4, 4, 0, 255, 0);
    script.overlays.push_back(entry(1, red, 0, 0, 0.0, 100.0));
    script.overlays.push_back(entry(2, green, 10, 0, 0.0, 100.0));
    start();
    ASSERT_EQ(overlays.sprites.size(), 2u);
    const std::uint32_t redTex = overlays.sprites[0].texture.id;
    const std::uint32_t greenTex = overlays.sprites[1].texture.id;
    ASSERT_NE(redTex, 0u);
    ASSERT_NE(greenTex, 0u);

    // As loaded: nothing changes.
    overlays.update(script);
    EXPECT_EQ(overlays.sprites[0].texture.id, redTex);
    EXPECT_EQ(overlays.sprites[1].texture.id, greenTex);

    // Drop the first line and move the second: deleted, and moved without a reload.
    DemoScript edited = script;
    edited.overlays.erase(edited.overlays.begin());
    edited.overlays[0].x = 20;
    StderrCapture capture;
    overlays.update(edited);
    ASSERT_EQ(overlays.sprites.size(), 1u);
    EXPECT_EQ(overlays.sprites[0].id, 2);
    EXPECT_EQ(glIsTexture(redTex), GL_FALSE);
    EXPECT_EQ(overlays.sprites[0].texture.id, greenTex);
    EXPECT_EQ(capture.take(), "");
    frame(1.0, 0.0f);
    EXPECT_EQ(canvas.pixelTopDown(21, 1), (Px{0, 255, 0, 255}));
    EXPECT_EQ(canvas.pixelTopDown(11, 1), kBlack);

    // A path that cannot be loaded: one attempt, then the sprite stays invisible.
    const std::string missing = (fs::temp_directory_path() / "quex_overlays/gone.png").string();
    std::snprintf(edited.overlays[0].path, sizeof edited.overlays[0].path, "%s", missing.c_str());
    overlays.update(edited);
    EXPECT_NE(capture.take().find("[Texture] failed: " + missing + "\n"), std::string::npos);
    for (int i = 0; i < 3; ++i) {
        overlays.update(edited);
    }
    EXPECT_EQ(capture.take(), "");
    EXPECT_EQ(overlays.sprites[0].texture.id, 0u);
    EXPECT_EQ(overlays.sprites[0].width, 0.0f);
    frame(1.0, 0.0f);
    EXPECT_EQ(canvas.pixelTopDown(21, 1), kBlack);

    // A new line is appended behind the others and loaded at once.
    edited.overlays.push_back(entry(7, red, 30, 30, 0.0, 100.0));
    overlays.update(edited);
    ASSERT_EQ(overlays.sprites.size(), 2u);
    EXPECT_EQ(overlays.sprites[1].id, 7);
    EXPECT_EQ(overlays.sprites[1].width, 4.0f);
    frame(1.0, 0.0f);
    EXPECT_EQ(canvas.pixelTopDown(31, 31), (Px{255, 0, 0, 255}));
}

} // namespace
