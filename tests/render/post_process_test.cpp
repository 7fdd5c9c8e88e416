#include "core/asset_archive.h"
#include "render/post_process.h"
#include "support/gl_test.h"
#include "support/stderr_capture.h"

#include <array>
#include <cmath>
#include <filesystem>
#include <stb/stb_image_write.h>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

namespace fs = std::filesystem;

constexpr int kW = 320;
constexpr int kH = 180;

// An archive holding nothing, so the mask can only come from the working directory.
const ArchiveBlob& emptyArchive() {
    static std::vector<unsigned char> data = [] {
        std::vector<unsigned char> out(64);
        uLongf length = out.size();
        compress(out.data(), &length, nullptr, 0);
        out.resize(length);
        return out;
    }();
    static const ArchiveBlob blob{data.data(), data.size(), 0, nullptr, 0};
    return blob;
}

// The burst envelope of the final pass, evaluated on the CPU in float.
float shaderRand(float x, float y) {
    const float v = std::sin(x * 12.9898f + y * 78.233f) * 43758.5453f;
    return v - std::floor(v);
}

// A time in the middle of a 3 s window that clearly does not flare (the GPU's
// sin may differ slightly, hence the margin).
float calmTime(int startBucket) {
    for (int bucket = startBucket;; ++bucket) {
        const float b = static_cast<float>(bucket);
        if (shaderRand(b, b * 0.61f + 7.0f) > 0.4f) {
            return b * 3.0f + 1.5f;
        }
    }
}

int paletteByte(float v) {
    return static_cast<int>(std::lround(v * 255.0f));
}

const float kPalette[16][3] = {
    {0.000f, 0.000f, 0.000f}, {1.000f, 1.000f, 1.000f}, {0.506f, 0.200f, 0.220f},
    {0.459f, 0.808f, 0.784f}, {0.557f, 0.235f, 0.592f}, {0.337f, 0.675f, 0.302f},
    {0.180f, 0.173f, 0.608f}, {0.929f, 0.945f, 0.443f}, {0.557f, 0.314f, 0.161f},
    {0.333f, 0.220f, 0.000f}, {0.769f, 0.424f, 0.443f}, {0.290f, 0.290f, 0.290f},
    {0.482f, 0.482f, 0.482f}, {0.663f, 1.000f, 0.624f}, {0.439f, 0.427f, 0.922f},
    {0.698f, 0.698f, 0.698f},
};

bool isPaletteColour(const std::uint8_t* px) {
    for (const auto& entry : kPalette) {
        if (std::abs(px[0] - paletteByte(entry[0])) <= 1 &&
            std::abs(px[1] - paletteByte(entry[1])) <= 1 &&
            std::abs(px[2] - paletteByte(entry[2])) <= 1) {
            return true;
        }
    }
    return false;
}

class PostProcessTest : public GlTest {
  protected:
    void SetUp() override {
        GlTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        workDir = fs::temp_directory_path() / "quex_post_process";
        fs::remove_all(workDir);
        fs::create_directories(workDir / "assets" / "textures");
        previousDir = fs::current_path();
        fs::current_path(workDir);
        AssetArchive::useSource(emptyArchive());
    }

    void TearDown() override {
        if (!previousDir.empty()) {
            post.release();
            window.release();
            fs::current_path(previousDir);
            AssetArchive::useSource(embeddedArchive());
            fs::remove_all(workDir);
        }
    }

    // Canvas contents given top row first, as a sprite-drawing scene would
    // leave them; then the canvas is ended, as a frame ends it.
    void fillCanvas(const std::vector<std::uint8_t>& topDown) {
        std::vector<std::uint8_t> bottomUp(topDown.size());
        const std::size_t row = static_cast<std::size_t>(kW) * 4;
        for (int y = 0; y < kH; ++y) {
            std::copy_n(topDown.begin() + y * row, row, bottomUp.begin() + (kH - 1 - y) * row);
        }
        glBindTexture(GL_TEXTURE_2D, post.canvas.texture);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, kW, kH, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
        glBindTexture(GL_TEXTURE_2D, 0);
        post.end();
    }

    // The fallback mask is logged as missing; keep that out of the test output.
    bool initQuietly(int screenW, int screenH) {
        StderrCapture capture;
        return post.init(kW, kH, screenW, screenH);
    }

    void present(int windowW, int windowH, float time, float bass, bool palette) {
        window.release();
        window.create(windowW, windowH);
        window.clear(0, 0, 0, 1);
        post.present(time, bass, palette);
    }

    PostProcess post;
    TestTarget window;
    fs::path workDir;
    fs::path previousDir;
};

TEST_F(PostProcessTest, CanvasIsARenderTargetAndAMissingMaskFallsBackToWhite) {
    StderrCapture capture;
    ASSERT_TRUE(post.init(kW, kH, 640, 360));
    EXPECT_NE(capture.take().find("[Texture] failed: assets/textures/overlay.png\n"),
              std::string::npos);
    EXPECT_NE(post.overlay.id, 0u);
    EXPECT_EQ(post.overlay.width, 1);
    EXPECT_EQ(post.overlay.height, 1);

    // begin/end switch target and viewport.
    post.begin();
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], kW);
    EXPECT_EQ(viewport[3], kH);
    glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    window.create(64, 36);
    post.outputFramebuffer = window.framebuffer;
    post.end();
    GLint bound = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
    EXPECT_EQ(static_cast<GLuint>(bound), window.framebuffer);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 640);
    EXPECT_EQ(viewport[3], 360);

    // What was drawn into the canvas reaches the window untouched by the white mask.
    present(64, 36, calmTime(0), 0.0f, false);
    EXPECT_EQ(window.pixelTopDown(32, 18), (std::array<std::uint8_t, 4>{0, 255, 0, 255}));
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
}

TEST_F(PostProcessTest, MaskImageMultipliesThePicture) {
    std::vector<std::uint8_t> grey(4 * 4 * 3, 128);
    ASSERT_NE(stbi_write_png("assets/textures/overlay.png", 4, 4, 3, grey.data(), 12), 0);
    ASSERT_TRUE(post.init(kW, kH, 64, 36));
    EXPECT_EQ(post.overlay.width, 4);
    fillCanvas(std::vector<std::uint8_t>(kW * kH * 4, 255));
    present(64, 36, calmTime(0), 0.0f, false);
    const auto px = window.pixelTopDown(20, 20);
    EXPECT_NEAR(px[0], 128, 1);
    EXPECT_NEAR(px[1], 128, 1);
    EXPECT_NEAR(px[2], 128, 1);
    EXPECT_EQ(px[3], 255);
}

TEST_F(PostProcessTest, EachCanvasPixelBecomesASolidBlock) {
    ASSERT_TRUE(initQuietly(1280, 720));
    // Green is sampled without the colour split, and differs between neighbours.
    std::vector<std::uint8_t> canvas(kW * kH * 4, 0);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            std::uint8_t* px = &canvas[(y * kW + x) * 4];
            px[1] = static_cast<std::uint8_t>(x * 37 + y * 91);
            px[3] = 255;
        }
    }
    fillCanvas(canvas);
    present(1280, 720, calmTime(0), 0.0f, false);

    const auto out = window.read(); // bottom row first
    int mismatches = 0;
    for (int wy = 0; wy < 720; ++wy) {
        const int cy = kH - 1 - wy / 4; // canvas row, top down
        for (int wx = 0; wx < 1280; ++wx) {
            const int cx = wx / 4;
            const std::uint8_t expected = canvas[(cy * kW + cx) * 4 + 1];
            mismatches += out[(static_cast<std::size_t>(wy) * 1280 + wx) * 4 + 1] != expected;
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST_F(PostProcessTest, PaletteQuantisesEveryColourAndKeepsBlackAndWhite) {
    ASSERT_TRUE(initQuietly(kW, kH));
    std::vector<std::uint8_t> canvas(kW * kH * 4, 255);
    unsigned state = 12345u;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            std::uint8_t* px = &canvas[(y * kW + x) * 4];
            if (x < 80 && y < 60) {
                px[0] = px[1] = px[2] = 0; // black corner
            } else if (x >= 240 && y >= 120) {
                px[0] = px[1] = px[2] = 255; // white corner
            } else {
                for (int c = 0; c < 3; ++c) {
                    state = state * 1664525u + 1013904223u;
                    px[c] = static_cast<std::uint8_t>(state >> 24);
                }
            }
        }
    }
    fillCanvas(canvas);
    present(kW, kH, calmTime(2), 0.5f, true);

    const auto out = window.read();
    int offPalette = 0;
    for (std::size_t i = 0; i < out.size(); i += 4) {
        offPalette += isPaletteColour(&out[i]) ? 0 : 1;
    }
    EXPECT_EQ(offPalette, 0);
    using Px = std::array<std::uint8_t, 4>;
    EXPECT_EQ(window.pixelTopDown(40, 30), (Px{0, 0, 0, 255}));
    EXPECT_EQ(window.pixelTopDown(280, 150), (Px{255, 255, 255, 255}));

    // With the palette off the random colours come through.
    present(kW, kH, calmTime(2), 0.5f, false);
    const auto raw = window.read();
    offPalette = 0;
    for (std::size_t i = 0; i < raw.size(); i += 4) {
        offPalette += isPaletteColour(&raw[i]) ? 0 : 1;
    }
    EXPECT_GT(offPalette, kW * kH / 2);
}

// First window column whose channel reads the bright half of a canvas split
// vertically at canvas x = 240.
int firstBrightColumn(const std::vector<std::uint8_t>& rgba, int width, int row, int channel) {
    for (int x = 0; x < width; ++x) {
        if (rgba[(static_cast<std::size_t>(row) * width + x) * 4 + channel] > 127) {
            return x;
        }
    }
    return -1;
}

// Same, computed: the channel samples the canvas at u - k (u - 0.5) (red) or
// u + k (u - 0.5) (blue).
int expectedFirstColumn(int width, float k, float sign) {
    for (int x = 0; x < width; ++x) {
        const float u = (static_cast<float>(x) + 0.5f) / static_cast<float>(width);
        if ((u + sign * (u - 0.5f) * k) * kW >= 240.0f) {
            return x;
        }
    }
    return -1;
}

TEST_F(PostProcessTest, BassWidensTheColourSplit) {
    ASSERT_TRUE(initQuietly(1280, 720));
    std::vector<std::uint8_t> canvas(kW * kH * 4, 0);
    for (int y = 0; y < kH; ++y) {
        for (int x = 240; x < kW; ++x) {
            std::uint8_t* px = &canvas[(y * kW + x) * 4];
            px[0] = px[1] = px[2] = 255;
        }
        canvas[(y * kW) * 4 + 3] = 255;
    }
    fillCanvas(canvas);
    const int row = 360;
    const float t = calmTime(0);

    for (const auto& [bass, k] : {std::pair{0.0f, 0.002f}, std::pair{1.0f, 0.034f}}) {
        SCOPED_TRACE(bass);
        present(1280, 720, t, bass, false);
        const auto out = window.read();
        EXPECT_EQ(firstBrightColumn(out, 1280, row, 1), 960);
        EXPECT_EQ(firstBrightColumn(out, 1280, row, 0), expectedFirstColumn(1280, k, -1.0f));
        EXPECT_EQ(firstBrightColumn(out, 1280, row, 2), expectedFirstColumn(1280, k, 1.0f));
    }
    // The two settings really are told apart at this resolution.
    EXPECT_NE(expectedFirstColumn(1280, 0.002f, -1.0f), expectedFirstColumn(1280, 0.034f, -1.0f));
    EXPECT_NE(expectedFirstColumn(1280, 0.002f, -1.0f), 960);
}

// Every frame present() draws, whichever program it takes, is the full pass's
// frame; and the full pass glitches only where a burst is said to be possible.
TEST_F(PostProcessTest, CheaperProgramsDrawWhatTheFullPassDraws) {
    // A mask of the canvas's size, so that the pack of green and mask is used.
    std::vector<std::uint8_t> mask(kW * kH * 3);
    std::vector<std::uint8_t> canvas(kW * kH * 4);
    unsigned state = 99u;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<std::uint8_t>(state >> 24);
    };
    for (auto& v : mask) {
        v = static_cast<std::uint8_t>(96 + next() % 160);
    }
    for (auto& v : canvas) {
        v = next();
    }
    ASSERT_NE(stbi_write_png("assets/textures/overlay.png", kW, kH, 3, mask.data(), kW * 3), 0);
    ASSERT_TRUE(post.init(kW, kH, 480, 270));
    ASSERT_NE(post.greenMask.framebuffer, 0u);
    fillCanvas(canvas);
    window.create(480, 270);
    const auto draw = [&](bool full, float time, bool palette) {
        window.clear(0, 0, 0, 1);
        if (full) {
            post.presentFull(time, 0.6f, palette);
        } else {
            post.present(time, 0.6f, palette);
        }
        return window.read();
    };

    float calm = -1.0f;
    for (int w = 0; w < 64 && calm < 0.0f; ++w) {
        calm = post.burstsPossible(w * 3.0f + 1.5f) ? -1.0f : w * 3.0f + 1.5f;
    }
    ASSERT_GE(calm, 0.0f);
    int glitched = 0;
    for (const bool palette : {false, true}) {
        const auto unglitched = draw(true, calm, palette);
        for (int w = 0; w < 64; ++w) {
            // Early in each window, where a flaring one glitches most; later
            // in a flaring one, where glitches come and go.
            std::vector<float> times = {w * 3.0f + 0.1f};
            if (post.burstsPossible(w * 3.0f + 1.5f)) {
                times.insert(times.end(), {w * 3.0f + 0.6f, w * 3.0f + 1.2f, w * 3.0f + 2.5f});
            }
            for (const float t : times) {
                const auto full = draw(true, t, palette);
                EXPECT_TRUE(draw(false, t, palette) == full) << "at " << t << " s";
                if (full != unglitched) {
                    ++glitched;
                    EXPECT_TRUE(post.burstsPossible(t) && post.glitchesAct(t))
                        << "at " << t << " s";
                }
            }
        }
    }
    EXPECT_GT(glitched, 0);
}

} // namespace
