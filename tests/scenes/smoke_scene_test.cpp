#include "scenes/smoke_scene.h"
#include "support/gl_test.h"
#include "support/stderr_capture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

namespace {

constexpr int GX = SmokeScene::kGridX;
constexpr int GY = SmokeScene::kGridY;
constexpr int GZ = SmokeScene::kGridZ;

std::size_t cell(int x, int y, int z) {
    return ((static_cast<std::size_t>(z) * GY + y) * GX + x) * 2;
}

// Row centres above this height lie where the injection band is zero.
constexpr int kFirstRowAboveBand = 26; // (26 + 0.5) / 160 > 0.16

void uploadDensity(const SmokeScene& scene, const std::vector<float>& rg) {
    glBindTexture(GL_TEXTURE_3D, scene.densityVolume());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexSubImage3D(GL_TEXTURE_3D, 0, 0, 0, 0, GX, GY, GZ, GL_RG, GL_FLOAT, rg.data());
    glBindTexture(GL_TEXTURE_3D, 0);
}

std::vector<float> uniformValues(std::uint32_t program, const char* name, int count) {
    std::vector<float> values(4, 0.0f);
    glGetUniformfv(program, glGetUniformLocation(program, name), values.data());
    values.resize(count);
    return values;
}

// A float colour target, so NaNs would survive to the read-back.
struct FloatTarget {
    RenderTarget target;

    void create() {
        target.create(kCanvasWidth, kCanvasHeight, GL_RGBA32F, GL_RGBA, GL_FLOAT, GL_NEAREST,
                      GL_CLAMP_TO_EDGE);
        target.bind();
    }
    std::vector<float> read() const {
        std::vector<float> values(static_cast<std::size_t>(kCanvasWidth) * kCanvasHeight * 4);
        glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer);
        glReadPixels(0, 0, kCanvasWidth, kCanvasHeight, GL_RGBA, GL_FLOAT, values.data());
        return values;
    }
    void clear() const {
        glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer);
        const float black[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        glClearBufferfv(GL_COLOR, 0, black);
    }
    void release() { target.release(); }
};

class SmokeSceneTest : public GlTest {
  protected:
    void SetUp() override {
        GlTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        canvas.create(kCanvasWidth, kCanvasHeight);
        canvas.clear(0.0f, 0.0f, 0.0f, 1.0f);
        scene.init(kCanvasWidth, kCanvasHeight);
        ASSERT_NE(scene.densityVolume(), 0u);
        ASSERT_NE(scene.displayProgramName(), 0u);
    }
    void TearDown() override {
        scene.release();
        canvas.release();
    }

    TestTarget canvas;
    SmokeScene scene;
};

TEST_F(SmokeSceneTest, FirstRenderHoldsOneStepOfInjectionAtTheFloor) {
    scene.setAudio(1.0f, 0.0f);
    scene.render(2.0, 2.0, 1.0f);

    const std::vector<float> rg = scene.readDensity();
    float maxR = 0.0f;
    float maxG = 0.0f;
    float maxAboveBand = 0.0f;
    for (int z = 0; z < GZ; ++z) {
        for (int y = 0; y < GY; ++y) {
            for (int x = 0; x < GX; ++x) {
                const float r = rg[cell(x, y, z)];
                const float g = rg[cell(x, y, z) + 1];
                maxR = std::max(maxR, r);
                maxG = std::max(maxG, g);
                if (y >= kFirstRowAboveBand) {
                    maxAboveBand = std::max({maxAboveBand, r, g});
                }
            }
        }
    }
    // One step at full bass injects at most 2.5 x (0.018, 0.020).
    EXPECT_GT(maxR, 0.03f);
    EXPECT_LE(maxR, 0.045f * 1.001f);
    EXPECT_LE(maxG, 0.050f * 1.001f);
    EXPECT_EQ(maxAboveBand, 0.0f);

    // The canvas is bound again with its viewport and blending.
    GLint bound = 0;
    GLint viewport[4] = {};
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(static_cast<GLuint>(bound), canvas.framebuffer);
    EXPECT_EQ(viewport[2], kCanvasWidth);
    EXPECT_EQ(viewport[3], kCanvasHeight);
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// A hot blob well above the floor: buoyancy lifts it within one step, and the
// stored values are clamped to 3 however hot the input.
TEST_F(SmokeSceneTest, HotSmokeRisesAndNothingExceedsThree) {
    std::vector<float> rg(static_cast<std::size_t>(GX) * GY * GZ * 2, 0.0f);
    for (int z = 30; z < 66; ++z) {
        for (int y = 60; y < 80; ++y) {
            for (int x = 40; x < 88; ++x) {
                rg[cell(x, y, z)] = 1.0f;
                rg[cell(x, y, z) + 1] = 10.0f;
            }
        }
    }
    uploadDensity(scene, rg);
    scene.setAudio(0.0f, 0.0f);
    scene.step(1.0);

    const std::vector<float> after = scene.readDensity();
    double mass = 0.0;
    double moment = 0.0;
    float maxValue = 0.0f;
    for (int z = 0; z < GZ; ++z) {
        for (int y = 0; y < GY; ++y) {
            for (int x = 0; x < GX; ++x) {
                maxValue = std::max({maxValue, after[cell(x, y, z)], after[cell(x, y, z) + 1]});
                if (y >= kFirstRowAboveBand) {
                    mass += after[cell(x, y, z)];
                    moment += after[cell(x, y, z)] * (y + 0.5);
                }
            }
        }
    }
    EXPECT_LE(maxValue, 3.0f);
    EXPECT_FLOAT_EQ(after[cell(64, 70, 48) + 1], 3.0f);
    // The row above the blob picks up smoke; the centre of mass moves up.
    EXPECT_GT(after[cell(64, 80, 48)], 0.001f);
    EXPECT_EQ(after[cell(64, 59, 48)], 0.0f);
    EXPECT_GT(moment / mass, 70.0 + 0.005);
}

TEST_F(SmokeSceneTest, CameraLightAndPaletteReachTheShaderOnlyFromEnabledCalls) {
    const std::uint32_t program = scene.displayProgramName();
    auto expectUniform = [&](const char* name, std::vector<float> want) {
        const std::vector<float> got = uniformValues(program, name, static_cast<int>(want.size()));
        for (std::size_t i = 0; i < want.size(); ++i) {
            EXPECT_FLOAT_EQ(got[i], want[i]) << name << "[" << i << "]";
        }
    };

    scene.render(0.5, 0.5, 1.0f);
    expectUniform("u_cam", {0.0f, 0.0f, -2.2f});
    expectUniform("u_fov", {1.3f});
    expectUniform("u_light_dir", {0.45f, 0.35f, 0.85f});
    expectUniform("u_shadow_k", {0.6f});
    expectUniform("u_light_pow", {3.6f});
    expectUniform("u_smoke_color", {0.32f, 0.34f, 0.38f});
    expectUniform("u_ambient_color", {0.02f, 0.02f, 0.05f});
    expectUniform("u_light_color", {1.0f, 0.65f, 0.35f});

    scene.setPalette(true, {1.0f, 1.0f, 1.0f}, {0.0f, 0.04f, 0.21f}, {0.0f, 0.65f, 1.0f});
    scene.setSmokeParams(true, {0.0f, 0.0f, -1.0f}, 1.59f, {-0.35f, 0.036f, 1.0f}, 0.496f, 2.81f);
    scene.display(0.6, 1.0f);
    scene.setPalette(false, {0.5f, 0.5f, 0.5f}, {0.5f, 0.5f, 0.5f}, {0.5f, 0.5f, 0.5f});
    scene.setSmokeParams(false, {9.0f, 9.0f, 9.0f}, 9.0f, {0.0f, 1.0f, 0.0f}, 9.0f, 9.0f);
    scene.display(0.7, 1.0f);
    expectUniform("u_cam", {0.0f, 0.0f, -1.0f});
    expectUniform("u_fov", {1.59f});
    expectUniform("u_light_dir", {-0.35f, 0.036f, 1.0f});
    expectUniform("u_shadow_k", {0.496f});
    expectUniform("u_light_pow", {2.81f});
    expectUniform("u_smoke_color", {1.0f, 1.0f, 1.0f});
    expectUniform("u_ambient_color", {0.0f, 0.04f, 0.21f});
    expectUniform("u_light_color", {0.0f, 0.65f, 1.0f});
}

TEST_F(SmokeSceneTest, ZeroLightDirectionFallsBackToTheDefaultWithoutNaNs) {
    // Smoke in the middle of the box, where the camera looks.
    std::vector<float> rg(static_cast<std::size_t>(GX) * GY * GZ * 2, 0.0f);
    for (int z = 20; z < 60; ++z) {
        for (int y = 50; y < 110; ++y) {
            for (int x = 30; x < 98; ++x) {
                rg[cell(x, y, z)] = 0.2f;
            }
        }
    }
    uploadDensity(scene, rg);
    FloatTarget target;
    target.create();
    auto picture = [&](const Float3& lightDir) {
        scene.setSmokeParams(true, {0.0f, 0.0f, -2.2f}, 1.3f, lightDir, 0.6f, 3.6f);
        target.clear();
        scene.display(3.0, 1.0f);
        return target.read();
    };

    const std::vector<float> lit = picture({0.45f, 0.35f, 0.85f});
    // Only the direction counts, not the length.
    const std::vector<float> longer = picture({4.5f, 3.5f, 8.5f});
    for (std::size_t i = 0; i < lit.size(); ++i) {
        ASSERT_NEAR(longer[i], lit[i], 1e-4f) << i;
    }

    StderrCapture log;
    const std::vector<float> zero = picture({0.0f, 0.0f, 0.0f});
    picture({0.0f, 0.0f, 0.0f}); // the same bad value every frame: logged once
    const std::string lines = log.take();
    EXPECT_NE(lines.find("[SmokeScene] light direction"), std::string::npos);
    EXPECT_EQ(lines.find("[SmokeScene]"), lines.rfind("[SmokeScene]"));

    float maxAlpha = 0.0f;
    for (std::size_t i = 0; i < zero.size(); ++i) {
        ASSERT_TRUE(std::isfinite(zero[i])) << i;
        ASSERT_NEAR(zero[i], lit[i], 1e-4f) << i;
        if (i % 4 == 3) {
            maxAlpha = std::max(maxAlpha, zero[i]);
        }
    }
    EXPECT_GT(maxAlpha, 0.5f);
    target.release();

    EXPECT_EQ(smokeLightDirection({0.0f, 0.0f, 0.0f}), (Float3{0.45f, 0.35f, 0.85f}));
    EXPECT_EQ(smokeLightDirection({NAN, 0.0f, 1.0f}), (Float3{0.45f, 0.35f, 0.85f}));
    EXPECT_EQ(smokeLightDirection({0.0f, -2.0f, 0.0f}), (Float3{0.0f, -2.0f, 0.0f}));
}

TEST_F(SmokeSceneTest, ReleaseZeroesEverythingAndLaterCallsAreHarmless) {
    scene.release();
    EXPECT_EQ(scene.densityVolume(), 0u);
    EXPECT_EQ(scene.displayProgramName(), 0u);
    const std::vector<std::uint8_t> before = canvas.read();
    scene.render(1.0, 1.0, 1.0f);
    EXPECT_EQ(canvas.read(), before);
    EXPECT_TRUE(scene.readDensity().empty());
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

} // namespace
