#include "render/quad_mesh.h"
#include "render/shader.h"
#include "render/shaders.h"
#include "render/texture.h"
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

std::string tempPng(const char* name) {
    return (fs::temp_directory_path() / (std::string("quex_render_") + name)).string();
}

// The texture's pixels as GL holds them, row 0 first.
std::vector<std::uint8_t> textureRgba(const Texture& texture) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(texture.width) * texture.height * 4);
    glBindTexture(GL_TEXTURE_2D, texture.id);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    return pixels;
}

const char* const kBrokenVS = R"(
#version 330 core
void main() {
    gl_Position = vec4(0.0) +;
}
)";

const char* const kConstantFS = R"(
#version 330 core
out vec4 frag_color;
void main() {
    frag_color = vec4(0.25);
}
)";

class GlHelpersTest : public GlTest {};

TEST_F(GlHelpersTest, BrokenShaderReportsCompileThenLinkAndLeavesNoProgram) {
    StderrCapture capture;
    Shader shader;
    EXPECT_FALSE(shader.load(kBrokenVS, kSpriteFS));
    EXPECT_EQ(shader.program, 0u);
    const std::string out = capture.take();
    const auto compile = out.find("[Shader] compile error:\n");
    const auto link = out.find("[Shader] link error:\n");
    ASSERT_NE(compile, std::string::npos) << out;
    ASSERT_NE(link, std::string::npos) << out;
    EXPECT_LT(compile, link);
    // Setters and release on the empty shader are harmless.
    shader.use();
    shader.setFloat("u_anything", 1.0f);
    shader.release();
    EXPECT_EQ(shader.program, 0u);
    glUseProgram(0);
}

TEST_F(GlHelpersTest, GreyAndRgbPngsLoadAsOpaqueRgba) {
    const std::string greyPath = tempPng("grey.png");
    const std::string rgbPath = tempPng("rgb.png");
    const std::uint8_t grey[6] = {0, 40, 80, 120, 160, 255}; // 3 x 2
    const std::uint8_t rgb[6] = {10, 20, 30, 200, 150, 100}; // 2 x 1
    ASSERT_NE(stbi_write_png(greyPath.c_str(), 3, 2, 1, grey, 3), 0);
    ASSERT_NE(stbi_write_png(rgbPath.c_str(), 2, 1, 3, rgb, 6), 0);

    Texture greyTex;
    ASSERT_TRUE(greyTex.load(greyPath.c_str(), true));
    EXPECT_EQ(greyTex.width, 3);
    EXPECT_EQ(greyTex.height, 2);
    const auto g = textureRgba(greyTex);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(g[i * 4 + 0], grey[i]);
        EXPECT_EQ(g[i * 4 + 1], grey[i]);
        EXPECT_EQ(g[i * 4 + 2], grey[i]);
        EXPECT_EQ(g[i * 4 + 3], 255);
    }

    Texture rgbTex;
    ASSERT_TRUE(rgbTex.load(rgbPath.c_str(), false));
    const auto c = textureRgba(rgbTex);
    EXPECT_EQ((std::vector<std::uint8_t>{10, 20, 30, 255, 200, 150, 100, 255}), c);

    greyTex.release();
    rgbTex.release();
    EXPECT_EQ(greyTex.id, 0u);
    std::remove(greyPath.c_str());
    std::remove(rgbPath.c_str());
}

TEST_F(GlHelpersTest, UnreadableImagesAreLoggedAndLeaveTheTextureEmpty) {
    StderrCapture capture;
    Texture texture;
    EXPECT_FALSE(texture.load("no/such/dir/missing.png", true));
    EXPECT_EQ(texture.id, 0u);
    EXPECT_NE(capture.take().find("[Texture] failed: no/such/dir/missing.png\n"),
              std::string::npos);

    const unsigned char junk[16] = {'n', 'o', 't', ' ', 'a', ' ', 'p', 'n', 'g'};
    EXPECT_FALSE(texture.load_mem(junk, sizeof junk, true));
    EXPECT_FALSE(texture.load_mem(nullptr, 0, true));
    EXPECT_EQ(texture.id, 0u);
    const std::string out = capture.take();
    EXPECT_NE(out.find("[Texture] load_mem failed\n"), std::string::npos);

    // Nothing to give back on objects that never held anything.
    texture.release();
    QuadMesh quad;
    quad.release();
    EXPECT_EQ(quad.vao, 0u);
}

TEST_F(GlHelpersTest, FullCanvasSpriteShowsTheImageUpright) {
    // 2 x 2: red, green on the top row; blue, white below.
    const std::uint8_t image[16] = {255, 0, 0,   255, 0,   255, 0,   255,
                                    0,   0, 255, 255, 255, 255, 255, 255};
    const std::string path = tempPng("upright.png");
    ASSERT_NE(stbi_write_png(path.c_str(), 2, 2, 4, image, 8), 0);
    Texture texture;
    ASSERT_TRUE(texture.load(path.c_str(), true));

    TestTarget canvas;
    canvas.create(320, 180);
    canvas.clear(0, 0, 0, 1);
    Shader shader;
    ASSERT_TRUE(shader.load(kSpriteVS, kSpriteFS));
    QuadMesh quad;
    quad.init();
    const Mat4 proj = spriteProjection(320, 180);
    const Mat4 model = spriteModel(0, 0, 320, 180);
    shader.use();
    shader.setMat4("u_proj", proj.data());
    shader.setInt("u_tex", 0);
    shader.setVec2("u_uv_offset", 0, 0);
    shader.setVec2("u_uv_scale", 1, 1);
    shader.setMat4("u_model", model.data());
    shader.setVec4("u_color", 1, 1, 1, 1);
    texture.bind(0);
    quad.draw();

    using Px = std::array<std::uint8_t, 4>;
    EXPECT_EQ(canvas.pixelTopDown(0, 0), (Px{255, 0, 0, 255}));
    EXPECT_EQ(canvas.pixelTopDown(319, 0), (Px{0, 255, 0, 255}));
    EXPECT_EQ(canvas.pixelTopDown(0, 179), (Px{0, 0, 255, 255}));
    EXPECT_EQ(canvas.pixelTopDown(319, 179), (Px{255, 255, 255, 255}));

    quad.release();
    shader.release();
    texture.release();
    canvas.release();
    std::remove(path.c_str());
}

TEST_F(GlHelpersTest, FullscreenTriangleCoversEveryPixelOnce) {
    TestTarget target;
    target.create(320, 180);
    target.clear(0, 0, 0, 0);
    Shader shader;
    ASSERT_TRUE(shader.load(kFullscreenVS, kConstantFS));
    GLuint vao = 0;
    glGenVertexArrays(1, &vao);
    glBindVertexArray(vao);
    shader.use();
    // Additive: a pixel drawn twice would read 128, one missed 0.
    glBlendFunc(GL_ONE, GL_ONE);
    glDrawArrays(GL_TRIANGLES, 0, 3);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glBindVertexArray(0);

    const auto pixels = target.read();
    int wrong = 0;
    for (std::uint8_t v : pixels) {
        wrong += (v < 63 || v > 65) ? 1 : 0;
    }
    EXPECT_EQ(wrong, 0);

    glDeleteVertexArrays(1, &vao);
    shader.release();
    target.release();
}

} // namespace
