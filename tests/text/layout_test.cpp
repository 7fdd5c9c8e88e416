#include "render/font.h"
#include "text/scroll_manager.h"
#include "text/scroll_scene.h"
#include "text/stab_manager.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

void expectCell(const std::array<float, 4>& uv, int col, int row, float inset = 1.0f / 512.0f) {
    EXPECT_FLOAT_EQ(uv[0], col / 16.0f + inset);
    EXPECT_FLOAT_EQ(uv[1], row / 16.0f + inset);
    EXPECT_FLOAT_EQ(uv[2], (col + 1) / 16.0f - inset);
    EXPECT_FLOAT_EQ(uv[3], (row + 1) / 16.0f - inset);
}

ScrollText scrollText(double start, float speed, int bytes) {
    ScrollText s;
    s.start = start;
    s.speed = speed;
    s.y = 50.0f;
    s.text.assign(static_cast<std::size_t>(bytes), 'A');
    s.width = static_cast<float>(bytes * 16);
    return s;
}

} // namespace

TEST(GlyphUv, ControlBytesShareTheSpaceCell) {
    const Font font;
    expectCell(font.glyphUv(' '), 0, 0);
    EXPECT_EQ(font.glyphUv(0), font.glyphUv(' '));
    EXPECT_EQ(font.glyphUv(10), font.glyphUv(' '));
}

TEST(GlyphUv, CellsFollowTheByteOrder) {
    const Font font;
    expectCell(font.glyphUv('A'), 1, 2);
    expectCell(font.glyphUv('_'), 15, 3);
    expectCell(font.glyphUv('a'), 1, 4);
    expectCell(font.glyphUv(255), 15, 13);
}

TEST(GlyphUv, InsetComesFromTheNominalGlyphSize) {
    Font font;
    font.glyphW = 16;
    font.glyphH = 4;
    const std::array<float, 4> uv = font.glyphUv('A');
    EXPECT_FLOAT_EQ(uv[0], 1 / 16.0f + 1 / 1024.0f);
    EXPECT_FLOAT_EQ(uv[1], 2 / 16.0f + 1 / 256.0f);
}

TEST(ScrollCulling, GlyphSpanMustOverlapTheOpenCanvas) {
    EXPECT_TRUE(glyphOnCanvas(-15.9f, 16.0f, 320));
    EXPECT_FALSE(glyphOnCanvas(-16.0f, 16.0f, 320));
    EXPECT_TRUE(glyphOnCanvas(319.9f, 16.0f, 320));
    EXPECT_FALSE(glyphOnCanvas(320.0f, 16.0f, 320));
}

TEST(ScrollCulling, TextEntersAtTheRightEdgeAndLeavesPastTheLeft) {
    const ScrollText s = scrollText(2.0, 100.0f, 10);
    EXPECT_TRUE(scrollTextGlyphs(s, 1.99, 320).empty()) << "before its start";
    EXPECT_TRUE(scrollTextGlyphs(s, 2.0, 320).empty()) << "first glyph sits at x = 320";
    const std::vector<GlyphQuad> entering = scrollTextGlyphs(s, 2.001, 320);
    ASSERT_EQ(entering.size(), 1u);
    EXPECT_NEAR(entering[0].x, 319.9f, 1e-3f);

    const std::vector<GlyphQuad> leaving = scrollTextGlyphs(s, 2.0 + 4.79, 320);
    ASSERT_EQ(leaving.size(), 1u) << "only the last glyph is left";
    EXPECT_NEAR(leaving[0].x, -15.0f, 1e-3f);
    EXPECT_TRUE(scrollTextGlyphs(s, 2.0 + 4.8, 320).empty()) << "(320 + 160) / 100 s after start";
}

TEST(ScrollCulling, LeftEdgeBoundaryThroughTheWalk) {
    const ScrollText s = scrollText(0.0, 1.0f, 3);
    std::vector<GlyphQuad> g = scrollTextGlyphs(s, 335.9, 320);
    ASSERT_EQ(g.size(), 3u);
    EXPECT_NEAR(g[0].x, -15.9f, 1e-3f);
    g = scrollTextGlyphs(s, 336.0, 320);
    ASSERT_EQ(g.size(), 2u);
    EXPECT_FLOAT_EQ(g[0].x, 0.0f);
}

TEST(ScrollCulling, WalkStopsPastTheRightEdgeAndSpacesAdvance) {
    ScrollText s = scrollText(0.0, 320.0f, 40);
    s.text[1] = ' ';
    const std::vector<GlyphQuad> g = scrollTextGlyphs(s, 1.0, 320);
    ASSERT_EQ(g.size(), 20u);
    EXPECT_EQ(g[1].c, ' ');
    for (std::size_t i = 0; i < g.size(); ++i) {
        EXPECT_FLOAT_EQ(g[i].x, 16.0f * static_cast<float>(i));
        EXPECT_FLOAT_EQ(g[i].w, 16.0f);
        EXPECT_FLOAT_EQ(g[i].y, 50.0f + waveOffset(g[i].x, 1.0f)) << "wave follows the screen x";
    }
}

TEST(ScrollCulling, DegenerateSpeedsAndTextsDrawNothing) {
    EXPECT_TRUE(scrollTextGlyphs(scrollText(0.0, 0.0f, 5), 100.0, 320).empty());
    EXPECT_TRUE(scrollTextGlyphs(scrollText(0.0, -50.0f, 5), 3.0, 320).empty());
    EXPECT_TRUE(scrollTextGlyphs(scrollText(0.0, 100.0f, 0), 1.0, 320).empty());
}

namespace {

TextStab stab(const std::string& text) {
    TextStab s;
    s.x = 160.0f;
    s.y = 60.0f;
    s.text = text;
    return s;
}

} // namespace

TEST(StabLayout, LinesAreCentredAndSplitAtPercent) {
    const std::vector<GlyphQuad> g = stabGlyphs(stab("AB%CDE"), 0.0f);
    ASSERT_EQ(g.size(), 5u);
    EXPECT_FLOAT_EQ(g[0].x, 144.0f);
    EXPECT_FLOAT_EQ(g[1].x + g[1].w, 176.0f);
    EXPECT_FLOAT_EQ(g[0].y, 60.0f);
    EXPECT_FLOAT_EQ(g[2].x, 136.0f);
    EXPECT_FLOAT_EQ(g[4].x + g[4].w, 184.0f);
    EXPECT_FLOAT_EQ(g[2].y, 80.0f);
    EXPECT_EQ(g[2].c, 'C');
    EXPECT_FLOAT_EQ(g[0].w, 16.0f);
    EXPECT_FLOAT_EQ(g[0].h, 16.0f);
}

TEST(StabLayout, BassGrowsTheFirstLineAboutItsCentre) {
    const std::vector<GlyphQuad> g = stabGlyphs(stab("AB%CDE"), 1.0f);
    ASSERT_EQ(g.size(), 5u);
    EXPECT_NEAR(g[0].w, 18.4f, 1e-4f);
    EXPECT_NEAR(g[0].h, 18.4f, 1e-4f);
    EXPECT_NEAR(g[0].y, 60.0f - 1.2f, 1e-4f);
    EXPECT_NEAR(g[2].y - g[0].y, 23.0f, 1e-4f);
    EXPECT_NEAR(g[0].x, 160.0f - 18.4f, 1e-4f);
    EXPECT_NEAR(g[0].y + g[0].h / 2, 68.0f, 1e-4f) << "resting centre kept";
}

TEST(StabLayout, EmptyLinesKeepTheirPlace) {
    EXPECT_TRUE(stabGlyphs(stab(""), 0.0f).empty());
    EXPECT_TRUE(stabGlyphs(stab("%%%"), 0.0f).empty());
    const std::vector<GlyphQuad> g = stabGlyphs(stab("A%%B%"), 0.0f);
    ASSERT_EQ(g.size(), 2u);
    EXPECT_FLOAT_EQ(g[1].y - g[0].y, 40.0f);
}

TEST(StabAlpha, FadesAndSpan) {
    TextStab s = stab("A");
    s.start = 10.0;
    s.end = 20.0;
    EXPECT_FLOAT_EQ(stabAlpha(s, 10.0), 1.0f) << "no fades: full from start";
    EXPECT_FLOAT_EQ(stabAlpha(s, 20.0), 1.0f) << "no fades: full up to end";
    EXPECT_FLOAT_EQ(stabAlpha(s, 9.99), 0.0f);
    EXPECT_FLOAT_EQ(stabAlpha(s, 20.01), 0.0f);

    s.fadeIn = 2.0f;
    s.fadeOut = 4.0f;
    EXPECT_FLOAT_EQ(stabAlpha(s, 10.0), 0.0f);
    EXPECT_FLOAT_EQ(stabAlpha(s, 11.0), 0.5f);
    EXPECT_FLOAT_EQ(stabAlpha(s, 15.0), 1.0f);
    EXPECT_FLOAT_EQ(stabAlpha(s, 19.0), 0.25f);
    EXPECT_FLOAT_EQ(stabAlpha(s, 20.0), 0.0f);

    s.end = 11.0; // ramps overlap: the smaller wins
    EXPECT_FLOAT_EQ(stabAlpha(s, 10.8), 0.05f);

    s.start = 12.0; // start after end
    EXPECT_FLOAT_EQ(stabAlpha(s, 11.5), 0.0f);
}

TEST(Scroller, MessageFitsTheAtlas) {
    EXPECT_EQ(kScrollMessage.size(), 105u);
    for (const char c : kScrollMessage) {
        EXPECT_GE(static_cast<unsigned char>(c), 32);
        EXPECT_LE(static_cast<unsigned char>(c), 95);
    }
}

TEST(Scroller, StartsPartlyOnScreen) {
    EXPECT_NEAR(scrollerX(0.0, 320, 2000.0f, 150.0f), 320.0f - 28.0f * std::sin(1.2f), 1e-3f);
    EXPECT_NEAR(scrollerX(0.0, 320, 2000.0f, 150.0f), 293.9f, 0.05f);
    const std::vector<GlyphQuad> g = scrollerGlyphs(293.9f, 0.0, 320, 180, 8, 8, 2);
    ASSERT_EQ(g.size(), 2u);
    EXPECT_EQ(g[0].c, kScrollMessage[0]);
    EXPECT_FLOAT_EQ(g[0].y, 140.0f + waveOffset(293.9f, 0.0f));
}

TEST(Scroller, NeverReversesAndWrapsOnlyWhileOffScreen) {
    const float loop = 2000.0f;
    float previous = scrollerX(0.0, 320, loop, 150.0f);
    int wraps = 0;
    for (int ms = 1; ms <= 40000; ++ms) {
        const double t = ms / 1000.0;
        const float x = scrollerX(t, 320, loop, 150.0f);
        if (x > previous) {
            ++wraps;
            EXPECT_LT(previous, 320.0f - loop + 0.25f);
            EXPECT_GT(x, 320.0f - 0.25f);
            // At most a sub-pixel sliver of the last glyph before, of the first after.
            for (const GlyphQuad& g : scrollerGlyphs(previous, t - 0.001, 320, 180, 8, 8, 2)) {
                EXPECT_LT(g.x + g.w, 0.25f);
            }
            for (const GlyphQuad& g : scrollerGlyphs(x, t, 320, 180, 8, 8, 2)) {
                EXPECT_GT(g.x, 319.75f);
            }
        } else {
            EXPECT_LT(previous - x, 0.2f) << "at " << t;
        }
        previous = x;
    }
    EXPECT_GE(wraps, 2);
}

TEST(Scroller, WaveStaysInItsBand) {
    for (int step = 0; step < 2000; ++step) {
        const double t = step * 0.37;
        for (const GlyphQuad& g : scrollerGlyphs(0.0f, t, 320, 180, 8, 8, 2)) {
            EXPECT_GE(g.y, 118.0f);
            EXPECT_LE(g.y, 162.0f);
        }
    }
}
