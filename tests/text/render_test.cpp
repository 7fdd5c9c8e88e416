#include "core/asset_archive.h"
#include "support/stderr_capture.h"
#include "text/scroll_manager.h"
#include "text/scroll_scene.h"
#include "text/stab_manager.h"
#include "text_fixtures.h"

#include <cmath>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <zlib.h>

namespace {

class TextRender : public GlTest {
  protected:
    void SetUp() override {
        GlTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        atlas = writeTestAtlas();
        canvas.create(kCanvasWidth, kCanvasHeight);
        canvas.clear(0, 0, 0, 1);
    }
    void TearDown() override { canvas.release(); }

    std::string atlas;
    TestTarget canvas;
};

} // namespace

TEST_F(TextRender, FontLoadsTheAtlasWithItsGlyphSize) {
    Font font;
    ASSERT_TRUE(font.load(atlas.c_str(), 8, 8));
    EXPECT_NE(font.atlas.id, 0u);
    EXPECT_EQ(font.atlas.width, 128);
    EXPECT_EQ(font.glyphW, 8);
    font.atlas.release();

    std::ifstream in(atlas, std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), {}};
    ASSERT_TRUE(font.load_mem(bytes.data(), static_cast<std::int32_t>(bytes.size()), 8, 8));
    EXPECT_NE(font.atlas.id, 0u);
    font.atlas.release();
}

TEST_F(TextRender, FontFailuresAreLogged) {
    const std::string missing = testDir() + "/no_such_font.png";
    StderrCapture capture;
    Font font;
    EXPECT_FALSE(font.load(missing.c_str(), 8, 8));
    EXPECT_EQ(capture.take(),
              "[Texture] failed: " + missing + "\n[Font] failed to load atlas: " + missing + "\n");
    const unsigned char junk[] = "not a png";
    EXPECT_FALSE(font.load_mem(junk, sizeof junk, 8, 8));
    EXPECT_EQ(capture.take(),
              "[Texture] load_mem failed\n[Font] failed to load atlas from memory\n");
    EXPECT_EQ(font.atlas.id, 0u);
}

TEST_F(TextRender, ScrollGlyphsRideTheWave) {
    DemoScript script;
    script.scrollTexts.push_back(scrollEntry(1, 2.0, 100.0f, 60.0f, atlas, "AAAA"));
    ScrollManager manager;
    manager.init(kCanvasWidth, kCanvasHeight, script);
    ASSERT_EQ(manager.scrolls.size(), 1u);
    canvas.bind();
    manager.render(3.0);
    const Frame frame(canvas);
    manager.release();

    // One second in: glyphs start at 220 and rise and fall with their screen x.
    for (int i = 0; i < 4; ++i) {
        const float x = 220.0f + 16.0f * static_cast<float>(i);
        const float y = 60.0f + waveOffset(x, 1.0f);
        const int column = static_cast<int>(x) + 8;
        int top = -1;
        int bottom = -1;
        for (int row = 0; row < kCanvasHeight; ++row) {
            if (frame.lit(column, row)) {
                top = top < 0 ? row : top;
                bottom = row;
            }
        }
        EXPECT_NEAR(top, y, 1.0) << "glyph " << i;
        EXPECT_EQ(bottom - top, 15) << "glyph " << i;
    }
    const std::array<int, 4> box = frame.litBox();
    EXPECT_EQ(box[0], 220);
    EXPECT_EQ(box[1], 283);
}

TEST_F(TextRender, StabIsCentredAndPunchesAboutItsCentre) {
    DemoScript script;
    script.textStabs.push_back(stabEntry(1, 1.0, 5.0, 160.0f, 60.0f, atlas, "AB%ABC"));
    StabManager manager;
    manager.init(kCanvasWidth, kCanvasHeight, script);
    canvas.bind();
    manager.render(2.0, 0.0f, 0.0f);
    const Frame rest(canvas);
    EXPECT_EQ(rest.litBox(0, 77), (std::array<int, 4>{144, 175, 60, 75}));
    EXPECT_EQ(rest.litBox(78, 179), (std::array<int, 4>{136, 183, 80, 95}));

    canvas.clear(0, 0, 0, 1);
    manager.render(2.0, 1.0f, 1.0f);
    const Frame punched(canvas);
    // 18.4 px glyphs from x 141.6 and y 58.8; the second line 23 px below.
    EXPECT_EQ(punched.litBox(0, 78), (std::array<int, 4>{142, 177, 59, 76}));
    EXPECT_EQ(punched.litBox(79, 179)[2], 82);

    canvas.clear(0, 0, 0, 1);
    manager.render(5.5, 0.0f, 0.0f);
    EXPECT_EQ(Frame(canvas).litCount(), 0) << "after its end";
    manager.release();
}

TEST_F(TextRender, StabFadesInWithAlpha) {
    DemoScript script;
    script.textStabs.push_back(stabEntry(1, 1.0, 5.0, 160.0f, 60.0f, atlas, "A"));
    script.textStabs[0].fadeIn = 1.0f;
    StabManager manager;
    manager.init(kCanvasWidth, kCanvasHeight, script);
    canvas.bind();
    manager.render(1.5, 0.0f, 0.0f);
    EXPECT_NEAR(Frame(canvas).red(160, 68), 128, 2);
    manager.release();
}

TEST_F(TextRender, MissingFontIsReportedEveryFrameUntilItAppears) {
    const std::string path = testDir() + "/later.png";
    unlink(path.c_str());
    DemoScript script;
    script.scrollTexts.push_back(scrollEntry(1, 0.0, 100.0f, 60.0f, path, "AB"));
    script.textStabs.push_back(stabEntry(2, 0.0, 9.0, 160.0f, 60.0f, path, "AB"));
    ScrollManager scrolls;
    StabManager stabs;
    StderrCapture capture;
    scrolls.init(kCanvasWidth, kCanvasHeight, script);
    stabs.init(kCanvasWidth, kCanvasHeight, script);
    const std::string atInit = capture.take();
    EXPECT_NE(atInit.find("[Texture] failed: " + path + "\n[Font] failed to load atlas: " + path +
                          "\n[ScrollManager] failed to load font: " + path + "\n"),
              std::string::npos)
        << atInit;
    EXPECT_EQ(countOf(atInit, "[StabManager] failed to load font: " + path + "\n"), 1);
    EXPECT_TRUE(scrolls.scrolls.empty());
    EXPECT_TRUE(stabs.stabs.empty());

    for (int frame = 0; frame < 3; ++frame) {
        scrolls.update(script);
        stabs.update(script);
        canvas.bind();
        scrolls.render(1.0);
        stabs.render(1.0, 0.0f, 0.0f);
    }
    const std::string perFrame = capture.take();
    EXPECT_EQ(countOf(perFrame, "[ScrollManager] failed to load font: " + path + "\n"), 3);
    EXPECT_EQ(countOf(perFrame, "[StabManager] failed to load font: " + path + "\n"), 3);
    EXPECT_EQ(Frame(canvas).litCount(), 0);

    writeTestAtlas("later.png");
    scrolls.update(script);
    stabs.update(script);
    scrolls.update(script);
    stabs.update(script);
    EXPECT_EQ(capture.take(), "");
    EXPECT_EQ(scrolls.scrolls.size(), 1u);
    EXPECT_EQ(stabs.stabs.size(), 1u);
    scrolls.release();
    stabs.release();
}

TEST_F(TextRender, EmptyManagersLeaveTheProgramAlone) {
    const DemoScript script;
    ScrollManager scrolls;
    StabManager stabs;
    scrolls.init(kCanvasWidth, kCanvasHeight, script);
    stabs.init(kCanvasWidth, kCanvasHeight, script);
    glUseProgram(0);
    scrolls.render(1.0);
    stabs.render(1.0, 0.0f, 0.0f);
    GLint current = -1;
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ(current, 0);
    scrolls.release();
    stabs.release();
    EXPECT_EQ(scrolls.shader.program, 0u);
    EXPECT_EQ(stabs.quad.vao, 0u);
}

namespace {

// Serves a one-entry archive holding the given bytes as the shipped font,
// or an empty archive, for as long as it lives.
class FontArchive {
  public:
    explicit FontArchive(const std::vector<unsigned char>& png) : inflated(png) {
        uLongf size = compressBound(static_cast<uLong>(inflated.size() + 1));
        packed.resize(size);
        compress(packed.data(), &size, inflated.data(), static_cast<uLong>(inflated.size()));
        packed.resize(size);
        entry = {"assets/textures/font.png", 0, inflated.size()};
        blob = {packed.data(), packed.size(), inflated.size(), &entry, inflated.empty() ? 0u : 1u};
        AssetArchive::useSource(blob);
    }
    ~FontArchive() { AssetArchive::useSource(embeddedArchive()); }
    FontArchive(const FontArchive&) = delete;
    FontArchive& operator=(const FontArchive&) = delete;

  private:
    std::vector<unsigned char> inflated;
    std::vector<unsigned char> packed;
    ArchiveEntry entry{};
    ArchiveBlob blob{};
};

std::vector<unsigned char> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

} // namespace

TEST_F(TextRender, ScrollerDrawsTheMessageAlongItsBaseLine) {
    const FontArchive archive(fileBytes(atlas));
    ScrollScene scroller;
    scroller.init(kCanvasWidth, kCanvasHeight);
    EXPECT_FLOAT_EQ(scroller.loopLength, 2000.0f);
    ASSERT_NE(scroller.font.atlas.id, 0u);
    scroller.update(0.0, 0.0);
    canvas.bind();
    scroller.render(0.0, 0.0, 1.0f);
    const Frame frame(canvas);
    scroller.release();

    // The first glyph ("Q") is at 293.9 with its top on the wave.
    const float y = 140.0f + waveOffset(293.9f, 0.0f);
    EXPECT_TRUE(frame.lit(301, static_cast<int>(y) + 8));
    EXPECT_FALSE(frame.lit(291, static_cast<int>(y) + 8));
    EXPECT_EQ(frame.litBox()[0], 294);
}

TEST_F(TextRender, ScrollerWithoutAFontStaysDark) {
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(testDir().c_str()), 0); // no assets/ beside us either
    {
        const FontArchive archive({});
        StderrCapture capture;
        ScrollScene scroller;
        scroller.init(kCanvasWidth, kCanvasHeight);
        scroller.update(3.0, 3.0);
        canvas.bind();
        scroller.render(3.0, 3.0, 1.0f);
        EXPECT_NE(capture.take().find("[Font] failed to load atlas: assets/textures/font.png"),
                  std::string::npos);
        EXPECT_LT(scroller.x, 320.0f) << "the position still moves";
        scroller.release();
    }
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_EQ(Frame(canvas).litCount(), 0);
}
