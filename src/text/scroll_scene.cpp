#include "text/scroll_scene.h"

#include <cmath>

namespace {

constexpr char kMessage[] = "QUEX INVI SAYS HELLO! GREETINGS TO ALL CODERS, PIXEL PUSHERS AND "
                            "TRACKER FOLK... KEEP THE BITS FLOWING!  ";
static_assert(sizeof(kMessage) - 1 == 105, "the loop length is tuned to a 105-byte message");

constexpr const char* kFontName = "assets/textures/font.png";

} // namespace

const std::string_view kScrollMessage{kMessage, sizeof(kMessage) - 1};

float scrollerX(double time, int width, float loopLength, float speed) {
    const float t = static_cast<float>(time);
    const float d = 250.0f * std::sin(0.18f * t) + speed * t + 28.0f * std::sin(0.07f * t + 1.2f);
    return static_cast<float>(width) - std::fmod(d, loopLength);
}

std::vector<GlyphQuad> scrollerGlyphs(float x, double time, int width, int height, int glyphW,
                                      int glyphH, int scale) {
    const float advance = static_cast<float>(scale * glyphW);
    const float glyphHeight = static_cast<float>(scale * glyphH);
    // The base line sits 24 pixels above the bottom edge.
    const float baseY = static_cast<float>(height) - glyphHeight - 24.0f;
    return waveGlyphs(kScrollMessage, x, baseY, static_cast<float>(time), advance, glyphHeight,
                      width);
}

void ScrollScene::init(int w, int h) {
    width = w;
    height = h;
    initGlyphProgram(shader, quad, projection, w, h);
    // A missing font is logged by the font; the scroller then stays dark.
    font.loadNamed(kFontName, kGlyphSize, kGlyphSize);
    loopLength = static_cast<float>(width) +
                 static_cast<float>(kGlyphSize * scale) * static_cast<float>(kScrollMessage.size());
}

void ScrollScene::setAudio(float, float) {}

void ScrollScene::update(double time, double) {
    if (loopLength <= 0.0f) {
        return;
    }
    x = scrollerX(time, width, loopLength, speed);
}

void ScrollScene::render(double time, double, float alpha) {
    if (font.atlas.id == 0) {
        return;
    }
    beginGlyphs(shader, projection);
    font.atlas.bind(0);
    drawGlyphs(shader, quad, font,
               scrollerGlyphs(x, time, width, height, font.glyphW, font.glyphH, scale), alpha);
}

void ScrollScene::release() {
    font.atlas.release();
    quad.release();
    shader.release();
}
