#pragma once

#include "render/font.h"
#include "render/quad_mesh.h"
#include "render/shader.h"
#include "render/shaders.h"
#include "script/script.h"
#include "text/glyph_draw.h"

#include <string>
#include <vector>

struct TextStab {
    double start = 0.0;
    double end = 0.0;
    float fadeIn = 0.0f;
    float fadeOut = 0.0f;
    float x = 0.0f;
    float y = 0.0f;
    std::string text;
    Font font;
    std::string fontPath;
    int scale = 2;
    int id = -1;
};

// The script's text stabs: centred lines that fade and punch with the bass.
class StabManager {
  public:
    Shader shader;
    QuadMesh quad;
    Mat4 projection{};
    int canvasWidth = 0;
    int canvasHeight = 0;
    std::vector<TextStab> stabs;

    bool init(int width, int height, const DemoScript& script);
    void update(const DemoScript& script);
    void render(double time, float bass, float treble);
    void release();
};

// Opacity of a stab at demo time: 0 outside start..end, else the smaller of
// the fade-in and fade-out ramps.
float stabAlpha(const TextStab& stab, double time);
// The stab's glyphs: lines split at "%", each centred on x, the first line
// grown by the bass about its resting centre.
std::vector<GlyphQuad> stabGlyphs(const TextStab& stab, float bass);
