#include "script/script.h"
#include "support/stderr_capture.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {

DemoScript parse(const std::string& text) {
    DemoScript script;
    EXPECT_TRUE(Script::load_mem(text.data(), text.size(), script));
    return script;
}

// A script file of its own, removed again when the test ends.
class TempScript {
  public:
    explicit TempScript(const std::string& text) {
        char name[] = "/tmp/quex_script_XXXXXX";
        const int fd = mkstemp(name);
        path = name;
        if (fd >= 0) {
            EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
            close(fd);
        }
    }
    ~TempScript() { unlink(path.c_str()); }
    std::string path;
};

void expectFloat3(const Float3& v, float a, float b, float c) {
    EXPECT_FLOAT_EQ(v[0], a);
    EXPECT_FLOAT_EQ(v[1], b);
    EXPECT_FLOAT_EQ(v[2], c);
}

} // namespace

TEST(ScriptLoad, EmptyOrCommentOnlyScriptsGiveTheDefaults) {
    for (const char* text : {"", "\n\n", "# a note\r\n  \t# indented note\r\n\r\n   \n"}) {
        SCOPED_TRACE(text);
        const DemoScript s = parse(text);
        EXPECT_EQ(s.fps, 60);
        EXPECT_DOUBLE_EQ(s.loopTime, 0.0);
        EXPECT_TRUE(s.scroll);
        EXPECT_EQ(s.nextId, 0);
        EXPECT_TRUE(s.scenes.empty());
        EXPECT_TRUE(s.overlays.empty());
        EXPECT_TRUE(s.scrollTexts.empty());
        EXPECT_TRUE(s.textStabs.empty());
        EXPECT_DOUBLE_EQ(s.endTime, 120.0);
    }
}

TEST(ScriptLoad, EveryLoadStartsFromTheDefaults) {
    DemoScript s = parse("fps 30\nscroll off\nloop 60\nscene fluid 0 60 0 0\n");
    ASSERT_EQ(s.scenes.size(), 1u);
    Script::load_mem("", 0, s);
    EXPECT_EQ(s.fps, 60);
    EXPECT_TRUE(s.scroll);
    EXPECT_DOUBLE_EQ(s.loopTime, 0.0);
    EXPECT_TRUE(s.scenes.empty());
    EXPECT_EQ(s.nextId, 0);
}

TEST(ScriptLoad, MissingFileIsReportedAndLeavesTheScriptAlone) {
    DemoScript s = parse("fps 25\nscene road 0 50 0 0\n");
    StderrCapture err;
    EXPECT_FALSE(Script::load("/nonexistent/demo.txt", s));
    EXPECT_EQ(err.take(), "[Script] cannot open: /nonexistent/demo.txt\n");
    EXPECT_EQ(s.fps, 25);
    EXPECT_EQ(s.scenes.size(), 1u);
}

TEST(ScriptLoad, FileAndMemoryGiveTheSameEntriesForCrLfAndLf) {
    const std::string crlf = "fps 50\r\nscene rd2 0 100 10 20\r\nscrolltext 5 200.0 "
                             "assets/textures/font.png 100.0 \"HI\"\r\nloop 25";
    TempScript file(crlf);
    DemoScript fromFile;
    ASSERT_TRUE(Script::load(file.path.c_str(), fromFile));
    for (const DemoScript& s : {fromFile, parse(crlf), parse("fps 50\nscene rd2 0 100 10 20\n")}) {
        EXPECT_EQ(s.fps, 50);
        ASSERT_EQ(s.scenes.size(), 1u);
        EXPECT_STREQ(s.scenes[0].name, "rd2");
        EXPECT_DOUBLE_EQ(s.scenes[0].end, 2.0);
        EXPECT_FLOAT_EQ(s.scenes[0].fadeOut, 0.4f);
    }
    ASSERT_EQ(fromFile.scrollTexts.size(), 1u);
    EXPECT_STREQ(fromFile.scrollTexts[0].font, "assets/textures/font.png");
    EXPECT_STREQ(fromFile.scrollTexts[0].text, "HI");
    EXPECT_DOUBLE_EQ(fromFile.loopTime, 0.5);
}

TEST(ScriptLoad, LongLineIsTwoLinesFromAFileAndOneCutLineFromMemory) {
    // 511 bytes that make a bad scene line, then 189 bytes that make a good one.
    std::string first = "scene";
    first.append(511 - first.size(), ' ');
    std::string second = "scene smoke 0 600 0 0";
    second.append(189 - second.size(), ' ');
    const std::string line = first + second;
    ASSERT_EQ(line.size(), 700u);

    TempScript file(line + "\n");
    DemoScript fromFile;
    {
        StderrCapture err;
        ASSERT_TRUE(Script::load(file.path.c_str(), fromFile));
        EXPECT_EQ(err.take(), "[Script] bad scene line: " + first);
    }
    ASSERT_EQ(fromFile.scenes.size(), 1u);
    EXPECT_STREQ(fromFile.scenes[0].name, "smoke");
    EXPECT_DOUBLE_EQ(fromFile.endTime, 10.0);

    StderrCapture err;
    const DemoScript fromMemory = parse(line + "\n");
    EXPECT_EQ(err.take(), "[Script] bad scene line: " + first);
    EXPECT_TRUE(fromMemory.scenes.empty());
    EXPECT_DOUBLE_EQ(fromMemory.endTime, 120.0);
}

TEST(ScriptLoad, MemoryLinesEndOnlyAtLineFeedsAndKeepTheirCarriageReturn) {
    StderrCapture err;
    const DemoScript s = parse("scene x\r\nscene y\n");
    EXPECT_EQ(err.take(), "[Script] bad scene line: scene x\r[Script] bad scene line: scene y");
    EXPECT_TRUE(s.scenes.empty());
}

TEST(ScriptLoad, BytesAfterANulInALineAreIgnored) {
    const std::string text("scene fluid 0 60 0 0\0 junk\nscene rd2 0 120 0 0", 46);
    const DemoScript s = parse(text);
    ASSERT_EQ(s.scenes.size(), 2u);
    EXPECT_DOUBLE_EQ(s.endTime, 2.0);
}

TEST(ScriptLine, IndentedLinesParseAndHashesStartComments) {
    const DemoScript s = parse(" \t scene fluid 0 60 0 0\n  # scene rd2 0 60 0 0\n"
                               "\tscroll off\n#scene road 0 60 0 0\n");
    ASSERT_EQ(s.scenes.size(), 1u);
    EXPECT_STREQ(s.scenes[0].name, "fluid");
    EXPECT_FALSE(s.scroll);
}

TEST(ScriptLine, UnknownOrWrongCaseKeywordsAreIgnoredSilently) {
    StderrCapture err;
    const DemoScript s = parse("Scene fluid 0 60 0 0\nFPS 30\nbogus 1 2 3\nscenes x\n");
    EXPECT_EQ(err.take(), "");
    EXPECT_TRUE(s.scenes.empty());
    EXPECT_EQ(s.fps, 60);
    EXPECT_EQ(s.nextId, 0);
}

TEST(ScriptFps, RateAppliesToTheLinesAfterIt) {
    const DemoScript s = parse("scene fluid 0 120 30 60\nfps 30\nscene rd2 0 120 30 60\n");
    ASSERT_EQ(s.scenes.size(), 2u);
    EXPECT_DOUBLE_EQ(s.scenes[0].end, 2.0);
    EXPECT_FLOAT_EQ(s.scenes[0].fadeIn, 0.5f);
    EXPECT_DOUBLE_EQ(s.scenes[1].end, 4.0);
    EXPECT_FLOAT_EQ(s.scenes[1].fadeOut, 2.0f);
    EXPECT_DOUBLE_EQ(s.endTime, 4.0);
}

TEST(ScriptFps, ZeroAndNegativeRatesBecomeSixtyAndAMissingNumberKeepsTheRate) {
    EXPECT_EQ(parse("fps 30\nfps 0\n").fps, 60);
    EXPECT_EQ(parse("fps 30\nfps -5\n").fps, 60);
    EXPECT_EQ(parse("fps 30\nfps\n").fps, 30);
    EXPECT_EQ(parse("fps 30\nfps x\n").fps, 30);
    const DemoScript s = parse("fps 0\nloop 120\n");
    EXPECT_DOUBLE_EQ(s.loopTime, 2.0);
}

TEST(ScriptScroll, OnlyTheExactWordOffClearsIt) {
    EXPECT_FALSE(parse("scroll off\n").scroll);
    EXPECT_FALSE(parse("scroll off\r\n").scroll);
    EXPECT_FALSE(parse("scroll off extra\n").scroll);
    for (const char* line : {"scroll", "scroll on", "scroll OFF", "scroll offx", "scroll of"}) {
        SCOPED_TRACE(line);
        EXPECT_TRUE(parse(std::string("scroll off\n") + line + "\n").scroll);
    }
}

TEST(ScriptLoop, ConvertsFramesClampsNegativesAndIgnoresAMissingNumber) {
    EXPECT_DOUBLE_EQ(parse("loop 3180\r\n").loopTime, 53.0);
    EXPECT_DOUBLE_EQ(parse("loop 3180\nloop -10\n").loopTime, 0.0);
    EXPECT_DOUBLE_EQ(parse("loop 3180\nloop\n").loopTime, 53.0);
    EXPECT_DOUBLE_EQ(parse("loop 3180\nloop x\n").loopTime, 53.0);
    EXPECT_EQ(parse("loop 10\n").nextId, 0);
}

TEST(ScriptScene, FieldsPaletteAndDefaults) {
    const DemoScript s = parse("scene fluid 1338 2294 88 81 (0.00,0.00,0.00) (1.00,0.19,0.92) "
                               " (0.49,1.00,0.49)\r\n");
    ASSERT_EQ(s.scenes.size(), 1u);
    const SceneEntry& e = s.scenes[0];
    EXPECT_STREQ(e.name, "fluid");
    EXPECT_DOUBLE_EQ(e.start, 1338.0 / 60.0);
    EXPECT_DOUBLE_EQ(e.end, 2294.0 / 60.0);
    EXPECT_FLOAT_EQ(e.fadeIn, static_cast<float>(88.0 / 60.0));
    EXPECT_FLOAT_EQ(e.fadeOut, static_cast<float>(81.0 / 60.0));
    EXPECT_TRUE(e.hasPalette);
    expectFloat3(e.palette.low, 0.0f, 0.0f, 0.0f);
    expectFloat3(e.palette.mid, 1.0f, 0.19f, 0.92f);
    expectFloat3(e.palette.high, 0.49f, 1.0f, 0.49f);
    EXPECT_FALSE(e.hasSmokeParams);
    expectFloat3(e.cam, 0.0f, 0.0f, -2.2f);
    EXPECT_FLOAT_EQ(e.fov, 1.3f);
    expectFloat3(e.lightDir, 0.45f, 0.35f, 0.85f);
    EXPECT_FLOAT_EQ(e.shadow, 0.6f);
    EXPECT_FLOAT_EQ(e.lightPow, 3.6f);
    EXPECT_EQ(e.id, 0);
}

TEST(ScriptScene, PartialPalettesKeepTheFlagOffButReplaceWhatWasRead) {
    const DemoScript s = parse("scene rd2 0 60 0 0 (0.1,0.2,0.3) (0.4,0.5,0.6)\n"
                               "scene rd2 0 60 0 0 (0.1,0.2 ,0.3) (0.4,0.5,0.6) (0.7,0.8,0.9)\n"
                               "scene rd2 0 60 0 0 ( 0.1, 0.2, 0.3)(0.4,0.5,0.6)\t(0.7,0.8,0.9)\n");
    ASSERT_EQ(s.scenes.size(), 3u);
    EXPECT_FALSE(s.scenes[0].hasPalette);
    expectFloat3(s.scenes[0].palette.mid, 0.4f, 0.5f, 0.6f);
    expectFloat3(s.scenes[0].palette.high, 1.0f, 1.0f, 1.0f);
    // No space is allowed before a comma.
    EXPECT_FALSE(s.scenes[1].hasPalette);
    expectFloat3(s.scenes[1].palette.low, 0.1f, 0.2f, 0.0f);
    expectFloat3(s.scenes[1].palette.mid, 0.5f, 0.5f, 0.5f);
    EXPECT_TRUE(s.scenes[2].hasPalette);
    expectFloat3(s.scenes[2].palette.high, 0.7f, 0.8f, 0.9f);
}

TEST(ScriptScene, SmokeKeysAreFoundAnywhereAndEachCountsOnItsOwn) {
    const DemoScript s =
        parse("scene smoke 0 488 439 300 (1.00,1.00,1.00) (0.00,0.04,0.21) (0.00,0.65,1.00) "
              "cam=0,0,-1 fov=1.59 lightdir=-0.35,0.036,1 shadow=0.496 lightpow=2.81\r\n"
              "scene smoke 0 60 0 0 fov=1.5\n"
              "scene smoke 0 60 0 0 cam=1,2\n"
              "lightpow=9 scene smoke 0 60 0 0\n"
              "scene smoke 0 60 0 0 shadow=0.1 (0,0,0)\n");
    ASSERT_EQ(s.scenes.size(), 4u);
    const SceneEntry& full = s.scenes[0];
    EXPECT_TRUE(full.hasPalette);
    EXPECT_TRUE(full.hasSmokeParams);
    expectFloat3(full.cam, 0.0f, 0.0f, -1.0f);
    EXPECT_FLOAT_EQ(full.fov, 1.59f);
    expectFloat3(full.lightDir, -0.35f, 0.036f, 1.0f);
    EXPECT_FLOAT_EQ(full.shadow, 0.496f);
    EXPECT_FLOAT_EQ(full.lightPow, 2.81f);

    const SceneEntry& fovOnly = s.scenes[1];
    EXPECT_TRUE(fovOnly.hasSmokeParams);
    EXPECT_FLOAT_EQ(fovOnly.fov, 1.5f);
    expectFloat3(fovOnly.cam, 0.0f, 0.0f, -2.2f);
    expectFloat3(fovOnly.lightDir, 0.45f, 0.35f, 0.85f);
    EXPECT_FLOAT_EQ(fovOnly.shadow, 0.6f);
    EXPECT_FLOAT_EQ(fovOnly.lightPow, 3.6f);

    const SceneEntry& shortCam = s.scenes[2];
    EXPECT_FALSE(shortCam.hasSmokeParams);
    expectFloat3(shortCam.cam, 1.0f, 2.0f, -2.2f);

    // A line that does not start with its keyword is not a scene line.
    const SceneEntry& last = s.scenes[3];
    EXPECT_TRUE(last.hasSmokeParams);
    EXPECT_FLOAT_EQ(last.shadow, 0.1f);
    EXPECT_FALSE(last.hasPalette);
}

TEST(ScriptScene, RejectedLinesAreReportedAndConsumeNoId) {
    StderrCapture err;
    const DemoScript s = parse("scene fluid 0 60 0\nscene rd2 a 60 0 0\nscene\n"
                               "scene road 0 60 0 0\n");
    EXPECT_EQ(err.take(), "[Script] bad scene line: scene fluid 0 60 0"
                          "[Script] bad scene line: scene rd2 a 60 0 0"
                          "[Script] bad scene line: scene");
    ASSERT_EQ(s.scenes.size(), 1u);
    EXPECT_EQ(s.scenes[0].id, 0);
    EXPECT_EQ(s.nextId, 1);
}

TEST(ScriptScene, LongNamesAreCutToThirtyOneBytes) {
    const std::string name(40, 'n');
    StderrCapture err;
    const DemoScript s = parse("scene " + name + " 0 60 0 0\n");
    // The name swallows the first number field, so the line no longer has five items.
    EXPECT_TRUE(s.scenes.empty());
    const DemoScript t = parse("scene " + std::string(31, 'n') + " 0 60 0 0\n");
    ASSERT_EQ(t.scenes.size(), 1u);
    EXPECT_EQ(std::string(t.scenes[0].name), std::string(31, 'n'));
}

TEST(ScriptScene, EndTimeIsTheLatestSceneEndWhereverItStands) {
    const DemoScript s = parse("scene smoke 0 488 0 0\nscene road 501 10728 0 0\n"
                               "scene rd2 9738 10278 0 0\n"
                               "overlay a.png 0 0 11150 11577 0 0\n"
                               "textstab 11227 11383 5 30 f.png 160 60 \"X\"\n"
                               "scrolltext 20000 100 f.png 100 \"Y\"\n");
    EXPECT_DOUBLE_EQ(s.endTime, 178.8);
    EXPECT_DOUBLE_EQ(parse("scene fluid -60 0 0 0\n").endTime, 120.0);
    EXPECT_DOUBLE_EQ(parse("overlay a.png 0 0 0 600 0 0\n").endTime, 120.0);
}

TEST(ScriptScene, ValuesAreStoredUnchecked) {
    const DemoScript s = parse("scene nosuch 600 60 -30 -60\n");
    ASSERT_EQ(s.scenes.size(), 1u);
    EXPECT_STREQ(s.scenes[0].name, "nosuch");
    EXPECT_DOUBLE_EQ(s.scenes[0].start, 10.0);
    EXPECT_DOUBLE_EQ(s.scenes[0].end, 1.0);
    EXPECT_FLOAT_EQ(s.scenes[0].fadeIn, -0.5f);
}

TEST(ScriptOverlay, StaticDriftingAndTravellingOverlays) {
    const DemoScript s =
        parse("overlay assets/textures/logo.png 10.0 20.0 100 400 30 30\n"
              "overlay assets/textures/zemkoghost.png 8.0 8.0 9163 9581 500 180 1\r\n"
              "overlay assets/textures/logo.png 0.0 0.0 100 400 30 30 3 80.0 200.0 100.0 "
              "glow=1,0.8,0.2 glowgain=2 glowradius=8 glowint=1.5\n");
    ASSERT_EQ(s.overlays.size(), 3u);
    const OverlayEntry& plain = s.overlays[0];
    EXPECT_STREQ(plain.path, "assets/textures/logo.png");
    EXPECT_FLOAT_EQ(plain.x, 10.0f);
    EXPECT_FLOAT_EQ(plain.y, 20.0f);
    EXPECT_DOUBLE_EQ(plain.start, 100.0 / 60.0);
    EXPECT_DOUBLE_EQ(plain.end, 400.0 / 60.0);
    EXPECT_FLOAT_EQ(plain.fadeIn, 0.5f);
    EXPECT_EQ(plain.drift, 0);
    EXPECT_FLOAT_EQ(plain.travelSpeed, 0.0f);
    EXPECT_FALSE(plain.glow);
    expectFloat3(plain.glowColor, 0.2f, 0.5f, 1.0f);
    EXPECT_FLOAT_EQ(plain.glowGain, 3.0f);
    EXPECT_FLOAT_EQ(plain.glowRadius, 12.0f);
    EXPECT_FLOAT_EQ(plain.glowInt, 1.0f);

    EXPECT_EQ(s.overlays[1].drift, 1);
    EXPECT_FLOAT_EQ(s.overlays[1].travelSpeed, 0.0f);

    const OverlayEntry& travel = s.overlays[2];
    EXPECT_EQ(travel.drift, 3);
    EXPECT_FLOAT_EQ(travel.travelSpeed, 80.0f);
    EXPECT_FLOAT_EQ(travel.travelX, 200.0f);
    EXPECT_FLOAT_EQ(travel.travelY, 100.0f);
    EXPECT_TRUE(travel.glow);
    expectFloat3(travel.glowColor, 1.0f, 0.8f, 0.2f);
    EXPECT_FLOAT_EQ(travel.glowGain, 2.0f);
    EXPECT_FLOAT_EQ(travel.glowRadius, 8.0f);
    EXPECT_FLOAT_EQ(travel.glowInt, 1.5f);
    EXPECT_EQ(travel.id, 2);
    EXPECT_DOUBLE_EQ(s.endTime, 120.0);
}

TEST(ScriptOverlay, KeysInPlaceOfDriftAndShortGlowValues) {
    const DemoScript s = parse("overlay q.png 0.0 -50.0 4012 4187 30 75 glow=0.2,0.5,1 glowint=5\n"
                               "overlay q.png 0 0 0 60 0 0 1 glow=0.9,0.8 glowgain=7\n"
                               "overlay q.png 0 0 0 60 0 0 2 50.0\n");
    ASSERT_EQ(s.overlays.size(), 3u);
    EXPECT_EQ(s.overlays[0].drift, 0);
    EXPECT_TRUE(s.overlays[0].glow);
    EXPECT_FLOAT_EQ(s.overlays[0].glowInt, 5.0f);
    EXPECT_FLOAT_EQ(s.overlays[0].y, -50.0f);

    EXPECT_EQ(s.overlays[1].drift, 1);
    EXPECT_FALSE(s.overlays[1].glow);
    expectFloat3(s.overlays[1].glowColor, 0.9f, 0.8f, 1.0f);
    EXPECT_FLOAT_EQ(s.overlays[1].glowGain, 7.0f);
    EXPECT_FLOAT_EQ(s.overlays[1].travelSpeed, 0.0f);

    // Travel values are read whatever the mode is.
    EXPECT_EQ(s.overlays[2].drift, 2);
    EXPECT_FLOAT_EQ(s.overlays[2].travelSpeed, 50.0f);
    EXPECT_FLOAT_EQ(s.overlays[2].travelX, 0.0f);
}

TEST(ScriptOverlay, BadLinesAndOverlongPaths) {
    StderrCapture err;
    const DemoScript s =
        parse("overlay a.png 1 2 3 4 5\r\noverlay " + std::string(300, 'p') + " 0 0 0 60 0 0\n");
    EXPECT_EQ(err.take(), "[Script] bad overlay line: overlay a.png 1 2 3 4 5\r"
                          "[Script] bad overlay line: overlay " +
                              std::string(300, 'p') + " 0 0 0 60 0 0");
    EXPECT_TRUE(s.overlays.empty());
    const DemoScript t = parse("overlay " + std::string(255, 'p') + " 0 0 0 60 0 0\n");
    ASSERT_EQ(t.overlays.size(), 1u);
    EXPECT_EQ(std::string(t.overlays[0].path), std::string(255, 'p'));
}

TEST(ScriptScrollText, FieldsAndQuotedText) {
    const DemoScript s =
        parse("scrolltext 120 200.0 assets/textures/font.png 100.0 \"HELLO WORLD\" \"X\"\r\n"
              "scrolltext 1 2 f.png 3 \"\"\n");
    ASSERT_EQ(s.scrollTexts.size(), 2u);
    const ScrollTextEntry& e = s.scrollTexts[0];
    EXPECT_DOUBLE_EQ(e.start, 2.0);
    EXPECT_FLOAT_EQ(e.speed, 200.0f);
    EXPECT_STREQ(e.font, "assets/textures/font.png");
    EXPECT_FLOAT_EQ(e.y, 100.0f);
    EXPECT_STREQ(e.text, "HELLO WORLD");
    EXPECT_STREQ(s.scrollTexts[1].text, "");
    EXPECT_EQ(s.scrollTexts[1].id, 1);
}

TEST(ScriptScrollText, QuoteSearchStartsAtTheLineStart) {
    // The first quote stands inside the font word, so the text runs from there.
    const DemoScript s = parse("scrolltext 0 100 f\"x.png 50 \"AB\"\n");
    ASSERT_EQ(s.scrollTexts.size(), 1u);
    EXPECT_STREQ(s.scrollTexts[0].text, "x.png 50 ");
}

TEST(ScriptScrollText, LongTextIsCutToItsCapacity) {
    const std::string text(600, 'A');
    StderrCapture err;
    const DemoScript s = parse("scrolltext 0 100 f.png 50 \"" + text + "\"");
    // From memory only the first 511 bytes of the line arrive, so the quote is lost.
    EXPECT_TRUE(s.scrollTexts.empty());

    TempScript file("scrolltext 0 100 f.png 50 \"" + text.substr(0, 480) + "\"\n");
    DemoScript fromFile;
    ASSERT_TRUE(Script::load(file.path.c_str(), fromFile));
    ASSERT_EQ(fromFile.scrollTexts.size(), 1u);
    EXPECT_EQ(std::string(fromFile.scrollTexts[0].text), text.substr(0, 480));

    // A line longer than any buffer reaches parseLine directly.
    DemoScript direct;
    const std::string line = "scrolltext 0 100 f.png 50 \"" + text + "\"";
    Script::parseLine(line.c_str(), direct);
    ASSERT_EQ(direct.scrollTexts.size(), 1u);
    EXPECT_EQ(std::string(direct.scrollTexts[0].text), text.substr(0, 511));
}

TEST(ScriptScrollText, BadFieldsAndMissingQuotesAreReportedWithoutAnId) {
    StderrCapture err;
    const DemoScript s = parse("scrolltext 0 100 f.png\nscrolltext 0 100 f.png 50 \"OPEN\n"
                               "scrolltext 0 100 f.png 50 NONE\n"
                               "scrolltext 0 100 f.png 50 \"OK\"\n");
    EXPECT_EQ(err.take(), "[Script] bad scrolltext line: scrolltext 0 100 f.png"
                          "[Script] scrolltext missing quoted text: scrolltext 0 100 f.png 50 "
                          "\"OPEN"
                          "[Script] scrolltext missing quoted text: scrolltext 0 100 f.png 50 "
                          "NONE");
    ASSERT_EQ(s.scrollTexts.size(), 1u);
    EXPECT_EQ(s.scrollTexts[0].id, 0);
}

TEST(ScriptTextStab, FieldsAndPercentSignsStayInTheText) {
    const DemoScript s =
        parse("textstab 300 420 10 30 assets/textures/font.png 160.0 80.0 \"HELLO%WORLD\"\n");
    ASSERT_EQ(s.textStabs.size(), 1u);
    const TextStabEntry& e = s.textStabs[0];
    EXPECT_DOUBLE_EQ(e.start, 5.0);
    EXPECT_DOUBLE_EQ(e.end, 7.0);
    EXPECT_FLOAT_EQ(e.fadeIn, static_cast<float>(10.0 / 60.0));
    EXPECT_FLOAT_EQ(e.fadeOut, 0.5f);
    EXPECT_STREQ(e.font, "assets/textures/font.png");
    EXPECT_FLOAT_EQ(e.x, 160.0f);
    EXPECT_FLOAT_EQ(e.y, 80.0f);
    EXPECT_STREQ(e.text, "HELLO%WORLD");
    EXPECT_DOUBLE_EQ(s.endTime, 120.0);
}

TEST(ScriptTextStab, MissingClosingQuoteMessageKeepsTheLineEndOnlyFromAFile) {
    const std::string line = "textstab 300 420 10 30 f.png 160.0 80.0 \"HELLO%d%s";
    {
        StderrCapture err;
        const DemoScript s = parse(line + "\r\n");
        EXPECT_EQ(err.take(), "[Script] textstab missing quoted text: " + line + "\r");
        EXPECT_TRUE(s.textStabs.empty());
    }
    TempScript file(line + "\nscene fluid 0 60 0 0\n");
    StderrCapture err;
    DemoScript s;
    ASSERT_TRUE(Script::load(file.path.c_str(), s));
    EXPECT_EQ(err.take(), "[Script] textstab missing quoted text: " + line + "\n");
    EXPECT_TRUE(s.textStabs.empty());
    ASSERT_EQ(s.scenes.size(), 1u);
    EXPECT_EQ(s.scenes[0].id, 0);
}

TEST(ScriptTextStab, BadFieldsAreReported) {
    StderrCapture err;
    const DemoScript s = parse("textstab 1 2 3 4 f.png 160.0 \"X\"\n");
    EXPECT_EQ(err.take(), "[Script] bad textstab line: textstab 1 2 3 4 f.png 160.0 \"X\"");
    EXPECT_TRUE(s.textStabs.empty());
}

TEST(ScriptIds, RunOverAllFourKindsInFileOrder) {
    StderrCapture err;
    const DemoScript s = parse("scene smoke 0 488 439 300\n"
                               "overlay a.png 8 8 0 60 0 0 1\n"
                               "scrolltext 0 250 f.png 60 \"A\"\n"
                               "scene bad\n"
                               "textstab 0 60 5 30 f.png 160 55 \"B\"\n"
                               "scene road 501 1328 67 180\n");
    ASSERT_EQ(s.scenes.size(), 2u);
    EXPECT_EQ(s.scenes[0].id, 0);
    EXPECT_EQ(s.overlays.at(0).id, 1);
    EXPECT_EQ(s.scrollTexts.at(0).id, 2);
    EXPECT_EQ(s.textStabs.at(0).id, 3);
    EXPECT_EQ(s.scenes[1].id, 4);
    EXPECT_EQ(s.nextId, 5);
}
