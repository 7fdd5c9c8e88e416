#include "support/stderr_capture.h"
#include "text/scroll_manager.h"
#include "text/stab_manager.h"
#include "text_fixtures.h"

#include <unistd.h>

namespace {

class TextResync : public GlTest {
  protected:
    void SetUp() override {
        GlTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        atlas = writeTestAtlas();
        other = writeTestAtlas("other.png");
        missing = testDir() + "/missing.png";
        unlink(missing.c_str());
    }

    std::string atlas;
    std::string other;
    std::string missing;
};

std::vector<int> ids(const auto& records) {
    std::vector<int> out;
    for (const auto& r : records) {
        out.push_back(r.id);
    }
    return out;
}

} // namespace

TEST_F(TextResync, ScrollTextsFollowTheEditedScript) {
    DemoScript script;
    script.scrollTexts.push_back(scrollEntry(1, 0.0, 100.0f, 10.0f, atlas, "ONE"));
    script.scrollTexts.push_back(scrollEntry(2, 1.0, 100.0f, 20.0f, atlas, "TWO"));
    script.scrollTexts.push_back(scrollEntry(3, 2.0, 100.0f, 30.0f, atlas, "THREE"));
    ScrollManager manager;
    manager.init(kCanvasWidth, kCanvasHeight, script);
    ASSERT_EQ(ids(manager.scrolls), (std::vector<int>{1, 2, 3}));
    EXPECT_FLOAT_EQ(manager.scrolls[2].width, 80.0f);
    const std::uint32_t firstTexture = manager.scrolls[0].font.atlas.id;
    const std::uint32_t middleTexture = manager.scrolls[1].font.atlas.id;
    EXPECT_NE(firstTexture, middleTexture) << "no sharing between records";

    StderrCapture capture;
    manager.update(script);
    EXPECT_EQ(ids(manager.scrolls), (std::vector<int>{1, 2, 3})) << "unchanged script";
    EXPECT_EQ(manager.scrolls[0].font.atlas.id, firstTexture);

    // Drop the middle one, move and retext the first, add a new one.
    script.scrollTexts.erase(script.scrollTexts.begin() + 1);
    script.scrollTexts[0] = scrollEntry(1, 5.0, 40.0f, 99.0f, atlas, "LONGER TEXT");
    script.scrollTexts.push_back(scrollEntry(7, 0.0, 10.0f, 0.0f, other, "NEW"));
    manager.update(script);
    ASSERT_EQ(ids(manager.scrolls), (std::vector<int>{1, 3, 7}));
    EXPECT_FALSE(glIsTexture(middleTexture)) << "removed record's texture deleted";
    const ScrollText& first = manager.scrolls[0];
    EXPECT_DOUBLE_EQ(first.start, 5.0);
    EXPECT_FLOAT_EQ(first.speed, 40.0f);
    EXPECT_FLOAT_EQ(first.y, 99.0f);
    EXPECT_EQ(first.text, "LONGER TEXT");
    EXPECT_FLOAT_EQ(first.width, 176.0f);
    EXPECT_EQ(first.font.atlas.id, firstTexture) << "not reloaded";
    EXPECT_EQ(manager.scrolls[2].fontPath, other);
    EXPECT_EQ(capture.take(), "");

    // A font path that cannot be loaded: released, old path kept, retried each frame.
    setField(script.scrollTexts[0].font, missing);
    manager.update(script);
    manager.update(script);
    EXPECT_EQ(manager.scrolls[0].font.atlas.id, 0u);
    EXPECT_EQ(manager.scrolls[0].fontPath, atlas);
    EXPECT_EQ(countOf(capture.take(), "[ScrollManager] failed to load font: " + missing + "\n"), 2);

    // It is not drawn meanwhile.
    TestTarget canvas;
    canvas.create(kCanvasWidth, kCanvasHeight);
    canvas.clear(0.4f, 0.4f, 0.4f, 1); // grey, so neither white glyphs nor black blocks hide
    script.scrollTexts[0].start = 0.0;
    script.scrollTexts[0].speed = 100.0f;
    script.scrollTexts[2].start = 100.0; // keep the others off the canvas
    script.scrollTexts[1].start = 100.0;
    manager.update(script);
    capture.take();
    manager.render(1.0);
    const Frame frame(canvas);
    EXPECT_EQ(frame.litBox()[1], -1);
    const int middleRow = static_cast<int>(99.0f + waveOffset(220.0f, 1.0f)) + 8;
    EXPECT_EQ(frame.red(228, middleRow), frame.red(0, 0)) << "no block where the text would be";
    canvas.release();

    setField(script.scrollTexts[0].font, other);
    manager.update(script);
    EXPECT_NE(manager.scrolls[0].font.atlas.id, 0u);
    EXPECT_EQ(manager.scrolls[0].fontPath, other);
    EXPECT_EQ(capture.take(), "");

    script.scrollTexts.clear();
    manager.update(script);
    EXPECT_TRUE(manager.scrolls.empty());
    manager.release();
}

TEST_F(TextResync, StabsFollowTheEditedScript) {
    DemoScript script;
    script.textStabs.push_back(stabEntry(4, 0.0, 9.0, 160.0f, 60.0f, atlas, "A"));
    script.textStabs.push_back(stabEntry(5, 1.0, 8.0, 100.0f, 40.0f, atlas, "B"));
    StabManager manager;
    manager.init(kCanvasWidth, kCanvasHeight, script);
    ASSERT_EQ(ids(manager.stabs), (std::vector<int>{4, 5}));
    const std::uint32_t firstTexture = manager.stabs[0].font.atlas.id;

    StderrCapture capture;
    script.textStabs[0] = stabEntry(4, 2.0, 3.0, 50.0f, 70.0f, atlas, "NEW%TEXT");
    script.textStabs[0].fadeIn = 0.5f;
    script.textStabs[0].fadeOut = 0.25f;
    script.textStabs.push_back(stabEntry(6, 0.0, 1.0, 0.0f, 0.0f, atlas, "C"));
    manager.update(script);
    ASSERT_EQ(ids(manager.stabs), (std::vector<int>{4, 5, 6}));
    const TextStab& first = manager.stabs[0];
    EXPECT_DOUBLE_EQ(first.start, 2.0);
    EXPECT_DOUBLE_EQ(first.end, 3.0);
    EXPECT_FLOAT_EQ(first.fadeIn, 0.5f);
    EXPECT_FLOAT_EQ(first.fadeOut, 0.25f);
    EXPECT_FLOAT_EQ(first.x, 50.0f);
    EXPECT_FLOAT_EQ(first.y, 70.0f);
    EXPECT_EQ(first.text, "NEW%TEXT");
    EXPECT_EQ(first.font.atlas.id, firstTexture) << "not reloaded";

    const std::uint32_t secondTexture = manager.stabs[1].font.atlas.id;
    script.textStabs.erase(script.textStabs.begin() + 1);
    setField(script.textStabs[0].font, missing);
    manager.update(script);
    manager.update(script);
    ASSERT_EQ(ids(manager.stabs), (std::vector<int>{4, 6}));
    EXPECT_FALSE(glIsTexture(secondTexture));
    EXPECT_EQ(manager.stabs[0].font.atlas.id, 0u);
    EXPECT_EQ(manager.stabs[0].fontPath, atlas);
    EXPECT_EQ(countOf(capture.take(), "[StabManager] failed to load font: " + missing + "\n"), 2);

    setField(script.textStabs[0].font, other);
    manager.update(script);
    EXPECT_NE(manager.stabs[0].font.atlas.id, 0u);
    EXPECT_EQ(manager.stabs[0].fontPath, other);
    manager.release();
}
