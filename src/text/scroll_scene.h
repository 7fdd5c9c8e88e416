#pragma once

#include "render/font.h"
#include "render/quad_mesh.h"
#include "render/shader.h"
#include "render/shaders.h"
#include "scenes/iscene.h"
#include "text/glyph_draw.h"

#include <string_view>
#include <vector>

// The scroller's built-in message: bytes 32..95 only, which the atlas holds.
extern const std::string_view kScrollMessage;

// The endless scroller the script can switch on.
class ScrollScene : public IScene {
  public:
    void init(int width, int height) override;
    void setAudio(float bass, float treble) override;
    void update(double time, double localTime) override;
    void render(double time, double localTime, float alpha) override;
    void release() override;

    int width = 0;
    int height = 0;
    Shader shader;
    Font font;
    QuadMesh quad;
    Mat4 projection{};
    float x = 0.0f;
    float loopLength = 0.0f;
    int scale = 2;
    float speed = 150.0f;
};

// Left edge of the message's first glyph at demo time: a swaying, never
// reversing drift that wraps every loopLength pixels.
float scrollerX(double time, int width, float loopLength, float speed);
// The message glyphs on the canvas with the first one at x.
std::vector<GlyphQuad> scrollerGlyphs(float x, double time, int width, int height, int glyphW,
                                      int glyphH, int scale);
