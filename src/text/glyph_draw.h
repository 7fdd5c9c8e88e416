#pragma once

#include "render/font.h"
#include "render/quad_mesh.h"
#include "render/shader.h"
#include "render/shaders.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Glyph drawing shared by the scroll texts, the stabs and the forever scroller:
// one sprite quad per byte, sized and placed in canvas pixels.

// Every text effect draws the 8 x 8 atlas glyphs doubled.
constexpr int kGlyphSize = 8;
constexpr int kTextScale = 2;

struct GlyphQuad {
    unsigned char c = 0;
    float x = 0.0f;
    float y = 0.0f;
    float w = 0.0f;
    float h = 0.0f;
};

// Vertical offset of the travelling double sine wave at screen x, t seconds in.
float waveOffset(float x, float t);

// A glyph is drawn when its span [x, x + advance) overlaps the open canvas (0, width).
inline bool glyphOnCanvas(float x, float advance, int canvasWidth) {
    return x + advance > 0.0f && x < static_cast<float>(canvasWidth);
}

// Right-to-left walk of a wavy line of text whose first glyph starts at x0:
// off-canvas glyphs are skipped and the walk stops past the right edge.
std::vector<GlyphQuad> waveGlyphs(std::string_view text, float x0, float baseY, float t,
                                  float advance, float glyphHeight, int canvasWidth);

// A script string field as a std::string, never reading past the array.
template <std::size_t N> std::string fieldString(const char (&field)[N]) {
    const char* end = std::find(field, field + N, '\0');
    return std::string(field, end);
}

// The sprite program, quad and canvas projection every text effect owns.
void initGlyphProgram(Shader& shader, QuadMesh& quad, Mat4& projection, int width, int height);
// Program current with projection and texture unit 0 set.
void beginGlyphs(const Shader& shader, const Mat4& projection);
void drawGlyphs(const Shader& shader, const QuadMesh& quad, const Font& font,
                const std::vector<GlyphQuad>& glyphs, float alpha);

// A script entry's font by name (archive, then file) with 8 x 8 glyphs; logs
// "[<owner>] failed to load font: <path>" when it cannot be had.
bool loadEntryFont(Font& font, const std::string& path, const char* owner);
