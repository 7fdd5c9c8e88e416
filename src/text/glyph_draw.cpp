#include "text/glyph_draw.h"

#include "base/log.h"

#include <cmath>

float waveOffset(float x, float t) {
    return 14.0f * std::sin(0.018f * x + 0.7f * t) + 8.0f * std::sin(0.06f * x + 3.0f * t);
}

std::vector<GlyphQuad> waveGlyphs(std::string_view text, float x0, float baseY, float t,
                                  float advance, float glyphHeight, int canvasWidth) {
    std::vector<GlyphQuad> glyphs;
    float x = x0;
    for (const char ch : text) {
        if (glyphOnCanvas(x, advance, canvasWidth)) {
            glyphs.push_back({static_cast<unsigned char>(ch), x, baseY + waveOffset(x, t), advance,
                              glyphHeight});
        }
        x += advance;
        if (x > static_cast<float>(canvasWidth)) {
            break;
        }
    }
    return glyphs;
}

void initGlyphProgram(Shader& shader, QuadMesh& quad, Mat4& projection, int width, int height) {
    // A failed build has already been logged by the shader; drawing then does nothing.
    shader.load(kSpriteVS, kSpriteFS);
    quad.init();
    projection = spriteProjection(width, height);
}

void beginGlyphs(const Shader& shader, const Mat4& projection) {
    shader.use();
    shader.setMat4("u_proj", projection.data());
    shader.setInt("u_tex", 0);
}

void drawGlyphs(const Shader& shader, const QuadMesh& quad, const Font& font,
                const std::vector<GlyphQuad>& glyphs, float alpha) {
    for (const GlyphQuad& g : glyphs) {
        const std::array<float, 4> uv = font.glyphUv(g.c);
        const Mat4 model = spriteModel(g.x, g.y, g.w, g.h);
        shader.setMat4("u_model", model.data());
        shader.setVec2("u_uv_offset", uv[0], uv[1]);
        shader.setVec2("u_uv_scale", uv[2] - uv[0], uv[3] - uv[1]);
        shader.setVec4("u_color", 1.0f, 1.0f, 1.0f, alpha);
        quad.draw();
    }
}

bool loadEntryFont(Font& font, const std::string& path, const char* owner) {
    if (font.loadNamed(path.c_str(), kGlyphSize, kGlyphSize)) {
        return true;
    }
    logLine(stderr, "[%s] failed to load font: %s\n", owner, path.c_str());
    return false;
}
