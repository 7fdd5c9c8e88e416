#pragma once

#include "render/font.h"
#include "render/quad_mesh.h"
#include "render/shader.h"
#include "render/shaders.h"
#include "script/script.h"
#include "text/glyph_draw.h"

#include <string>
#include <vector>

struct ScrollText {
    double start = 0.0;
    float speed = 0.0f;
    float y = 0.0f;
    std::string text;
    Font font;
    std::string fontPath;
    float width = 0.0f;
    int scale = 2;
    int id = -1;
};

// The script's one-shot scroll texts.
class ScrollManager {
  public:
    Shader shader;
    QuadMesh quad;
    Mat4 projection{};
    int canvasWidth = 0;
    int canvasHeight = 0;
    std::vector<ScrollText> scrolls;

    bool init(int width, int height, const DemoScript& script);
    void update(const DemoScript& script);
    void render(double time);
    void release();
};

// The glyphs of one scroll text at demo time, in canvas pixels; empty before
// its start and once it has left the left edge.
std::vector<GlyphQuad> scrollTextGlyphs(const ScrollText& scroll, double time, int canvasWidth);
