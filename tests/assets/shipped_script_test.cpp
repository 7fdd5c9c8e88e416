#include "core/asset_archive.h"
#include "script/script.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

const char* const kFont = "assets/textures/font.png";

double frames(int f) {
    return f * (1.0 / 60.0);
}
float fade(int f) {
    return static_cast<float>(f * (1.0 / 60.0));
}

std::string rawScript() {
    std::size_t size = 0;
    const unsigned char* bytes = AssetArchive::find("assets/demo.txt", &size);
    return bytes ? std::string(reinterpret_cast<const char*>(bytes), size) : std::string();
}

DemoScript shipped() {
    const std::string text = rawScript();
    DemoScript script;
    EXPECT_TRUE(Script::load_mem(text.data(), text.size(), script));
    return script;
}

// Bytes the font can draw, no quote; returns the number of "%"-separated lines.
int checkText(const char* text, std::size_t wantLength, int id) {
    EXPECT_EQ(std::strlen(text), wantLength) << "id " << id << ": " << text;
    int lines = 1;
    for (const char* p = text; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        EXPECT_TRUE(c >= 32 && c <= 95 && c != '"') << "id " << id << " byte " << int(c);
        lines += c == '%';
    }
    return lines;
}

} // namespace

TEST(ShippedScript, FileIsCrLfAndStartsWithRateAndScrollSwitch) {
    const std::string text = rawScript();
    ASSERT_FALSE(text.empty());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at byte " << i;
        }
    }
    EXPECT_EQ(text.rfind("fps 60\r\nscroll off\r\n", 0), 0u);
    EXPECT_NE(text.find("\r\nloop 3180\r\n"), std::string::npos);
}

TEST(ShippedScript, GlobalsAndEntryCounts) {
    const DemoScript s = shipped();
    EXPECT_EQ(s.fps, 60);
    EXPECT_FALSE(s.scroll);
    EXPECT_DOUBLE_EQ(s.loopTime, frames(3180));
    EXPECT_NEAR(s.loopTime, 53.0, 1e-9);
    EXPECT_DOUBLE_EQ(s.endTime, frames(10728));
    EXPECT_NEAR(s.endTime, 178.8, 1e-9);
    EXPECT_EQ(s.scenes.size(), 10u);
    EXPECT_EQ(s.overlays.size(), 13u);
    EXPECT_EQ(s.scrollTexts.size(), 19u);
    EXPECT_EQ(s.textStabs.size(), 12u);
    EXPECT_EQ(s.nextId, 54);
}

TEST(ShippedScript, Scenes) {
    struct Want {
        int id;
        const char* name;
        int start, end, in, out;
        bool palette;
        float pal[9];
    };
    const Want want[] = {
        {0,
         "smoke",
         0,
         488,
         439,
         300,
         true,
         {1.00f, 1.00f, 1.00f, 0.00f, 0.04f, 0.21f, 0.00f, 0.65f, 1.00f}},
        {1,
         "road",
         501,
         1328,
         67,
         180,
         true,
         {0.00f, 0.00f, 0.15f, 0.00f, 0.06f, 0.27f, 0.01f, 0.04f, 0.12f}},
        {2,
         "blittertornado",
         3180,
         4148,
         99,
         74,
         true,
         {0.00f, 0.00f, 0.00f, 0.09f, 0.00f, 1.00f, 0.00f, 0.03f, 0.65f}},
        {3,
         "rd2",
         4161,
         5117,
         26,
         174,
         true,
         {1.00f, 0.80f, 0.50f, 1.00f, 0.25f, 0.00f, 0.10f, 0.00f, 0.00f}},
        {4, "road", 7900, 9724, 300, 195, false, {0, 0, 0, 0.5f, 0.5f, 0.5f, 1, 1, 1}},
        {5,
         "bloodcells",
         10228,
         10728,
         60,
         165,
         true,
         {0.00f, 0.00f, 0.00f, 0.60f, 0.05f, 0.05f, 1.00f, 1.00f, 0.10f}},
        {6,
         "rd2",
         9738,
         10278,
         30,
         213,
         true,
         {0.01f, 0.79f, 0.75f, 0.00f, 0.50f, 0.68f, 0.00f, 0.00f, 0.00f}},
        {14,
         "fluid",
         6073,
         7908,
         30,
         68,
         true,
         {1.00f, 1.00f, 1.00f, 0.56f, 1.00f, 0.22f, 0.03f, 0.00f, 0.04f}},
        {25, "dblobs", 2292, 3164, 30, 110, false, {0, 0, 0, 0.5f, 0.5f, 0.5f, 1, 1, 1}},
        {26,
         "fluid",
         1338,
         2294,
         88,
         81,
         true,
         {0.00f, 0.00f, 0.00f, 1.00f, 0.19f, 0.92f, 0.49f, 1.00f, 0.49f}},
    };
    const DemoScript s = shipped();
    ASSERT_EQ(s.scenes.size(), std::size(want));
    for (std::size_t i = 0; i < std::size(want); ++i) {
        const SceneEntry& e = s.scenes[i];
        const Want& w = want[i];
        SCOPED_TRACE(w.id);
        EXPECT_EQ(e.id, w.id);
        EXPECT_STREQ(e.name, w.name);
        EXPECT_DOUBLE_EQ(e.start, frames(w.start));
        EXPECT_DOUBLE_EQ(e.end, frames(w.end));
        EXPECT_FLOAT_EQ(e.fadeIn, fade(w.in));
        EXPECT_FLOAT_EQ(e.fadeOut, fade(w.out));
        EXPECT_EQ(e.hasPalette, w.palette);
        const float got[9] = {e.palette.low[0],  e.palette.low[1],  e.palette.low[2],
                              e.palette.mid[0],  e.palette.mid[1],  e.palette.mid[2],
                              e.palette.high[0], e.palette.high[1], e.palette.high[2]};
        for (int k = 0; k < 9; ++k) {
            EXPECT_FLOAT_EQ(got[k], w.pal[k]) << "palette number " << k;
        }
        // Only the opening smoke scene sets camera and light.
        EXPECT_EQ(e.hasSmokeParams, w.id == 0);
    }
    const SceneEntry& smoke = s.scenes[0];
    EXPECT_EQ(smoke.cam, (Float3{0.0f, 0.0f, -1.0f}));
    EXPECT_FLOAT_EQ(smoke.fov, 1.59f);
    EXPECT_EQ(smoke.lightDir, (Float3{-0.35f, 0.036f, 1.0f}));
    EXPECT_FLOAT_EQ(smoke.shadow, 0.496f);
    EXPECT_FLOAT_EQ(smoke.lightPow, 2.81f);
}

TEST(ShippedScript, Overlays) {
    struct Want {
        int id;
        const char* image;
        float x, y;
        int start, end, in, out, drift;
        float speed, boxX, boxY;
        bool glow;
        float glowInt;
    };
    const Want want[] = {
        {7, "zemkoghost.png", 8, 8, 9163, 9581, 500, 180, 1, 0, 0, 0, false, 1},
        {8, "logo2.png", 0, 0, 11150, 11577, 347, 0, 1, 0, 0, 0, false, 1},
        {15, "quexelogo.png", 0, -50, 4012, 4187, 30, 75, 1, 0, 0, 0, true, 1},
        {20, "quexelogo.png", 0, -50, 6370, 6533, 7, 87, 1, 0, 0, 0, true, 5},
        {22, "quexelogo.png", 0, -50, 6847, 7010, 7, 87, 1, 0, 0, 0, true, 5},
        {23, "quexelogo.png", 0, -50, 7272, 7435, 7, 87, 1, 0, 0, 0, true, 5},
        {24, "quexelogo.png", 0, -50, 7769, 7932, 7, 87, 1, 0, 0, 0, true, 5},
        {35, "quexelogo.png", 0, -50, 3553, 3725, 30, 66, 1, 0, 0, 0, true, 5},
        {36, "quexmobile.png", 8, 8, 10714, 11152, 500, 180, 1, 0, 0, 0, false, 1},
        {37, "zemkoghost.png", -160, -50, 4469, 4898, 500, 180, 3, 150, 250, 100, false, 1},
        {38, "zemkoghost.png", -80, -25, 8388, 8888, 500, 180, 3, 100, 160, 50, false, 1},
        {39, "logo.png", 8, 8, 5113, 5551, 500, 180, 1, 0, 0, 0, false, 1},
        {40, "logo2.png", 0, 0, 5589, 6016, 347, 0, 1, 0, 0, 0, false, 1},
    };
    const DemoScript s = shipped();
    ASSERT_EQ(s.overlays.size(), std::size(want));
    for (std::size_t i = 0; i < std::size(want); ++i) {
        const OverlayEntry& e = s.overlays[i];
        const Want& w = want[i];
        SCOPED_TRACE(w.id);
        EXPECT_EQ(e.id, w.id);
        EXPECT_EQ(std::string(e.path), std::string("assets/textures/") + w.image);
        EXPECT_FLOAT_EQ(e.x, w.x);
        EXPECT_FLOAT_EQ(e.y, w.y);
        EXPECT_DOUBLE_EQ(e.start, frames(w.start));
        EXPECT_DOUBLE_EQ(e.end, frames(w.end));
        EXPECT_FLOAT_EQ(e.fadeIn, fade(w.in));
        EXPECT_FLOAT_EQ(e.fadeOut, fade(w.out));
        EXPECT_EQ(e.drift, w.drift);
        EXPECT_FLOAT_EQ(e.travelSpeed, w.speed);
        EXPECT_FLOAT_EQ(e.travelX, w.boxX);
        EXPECT_FLOAT_EQ(e.travelY, w.boxY);
        EXPECT_EQ(e.glow, w.glow);
        // Glow values are the defaults except the intensity of the later logos.
        EXPECT_EQ(e.glowColor, (Float3{0.2f, 0.5f, 1.0f}));
        EXPECT_FLOAT_EQ(e.glowGain, 3.0f);
        EXPECT_FLOAT_EQ(e.glowRadius, 12.0f);
        EXPECT_FLOAT_EQ(e.glowInt, w.glowInt);
    }
}

TEST(ShippedScript, ScrollTexts) {
    struct Want {
        int id, start;
        float speed, y;
        std::size_t length;
    };
    const Want want[] = {
        {10, 1360, 250, 60, 27},   {11, 1450, 250, 100, 20},  {12, 1590, 250, 100, 19},
        {13, 2877, 250, 125, 25},  {16, 1830, 250, 100, 25},  {17, 3676, 200, 100, 54},
        {18, 1941, 250, 125, 21},  {19, 2064, 200, 125, 19},  {21, 6209, 150, 100, 40},
        {41, 2278, 250, 125, 22},  {42, 2419, 250, 125, 26},  {43, 3000, 250, 125, 19},
        {44, 2763, 250, 125, 21},  {45, 2549, 250, 125, 19},  {46, 4310, 200, 100, 87},
        {47, 5330, 200, 100, 57},  {48, 9877, 150, 100, 102}, {49, 3333, 130, 100, 14},
        {50, 6583, 100, 120, 131},
    };
    const DemoScript s = shipped();
    ASSERT_EQ(s.scrollTexts.size(), std::size(want));
    for (std::size_t i = 0; i < std::size(want); ++i) {
        const ScrollTextEntry& e = s.scrollTexts[i];
        const Want& w = want[i];
        SCOPED_TRACE(w.id);
        EXPECT_EQ(e.id, w.id);
        EXPECT_DOUBLE_EQ(e.start, frames(w.start));
        EXPECT_FLOAT_EQ(e.speed, w.speed);
        EXPECT_FLOAT_EQ(e.y, w.y);
        EXPECT_STREQ(e.font, kFont);
        // A scroll text is one line.
        EXPECT_EQ(checkText(e.text, w.length, w.id), 1);
    }
}

TEST(ShippedScript, TextStabs) {
    struct Want {
        int id, start, end, in, out;
        float x, y;
        int lines;
        std::size_t length;
    };
    const Want want[] = {
        {9, 9408, 9503, 11, 30, 160, 79, 2, 21},   {27, 4510, 4605, 11, 30, 160, 79, 2, 21},
        {28, 4966, 5061, 11, 30, 160, 79, 2, 21},  {29, 8021, 8116, 11, 30, 160, 79, 2, 21},
        {30, 8247, 8342, 11, 30, 160, 79, 2, 21},  {31, 8461, 8556, 11, 30, 160, 79, 2, 21},
        {32, 8696, 8791, 11, 30, 160, 79, 2, 21},  {33, 8926, 9021, 11, 30, 160, 79, 2, 21},
        {34, 9158, 9253, 11, 30, 160, 79, 2, 21},  {51, 10767, 10923, 5, 30, 160, 55, 4, 37},
        {52, 10998, 11154, 5, 30, 160, 75, 2, 13}, {53, 11227, 11383, 5, 30, 160, 60, 3, 29},
    };
    const DemoScript s = shipped();
    ASSERT_EQ(s.textStabs.size(), std::size(want));
    for (std::size_t i = 0; i < std::size(want); ++i) {
        const TextStabEntry& e = s.textStabs[i];
        const Want& w = want[i];
        SCOPED_TRACE(w.id);
        EXPECT_EQ(e.id, w.id);
        EXPECT_DOUBLE_EQ(e.start, frames(w.start));
        EXPECT_DOUBLE_EQ(e.end, frames(w.end));
        EXPECT_FLOAT_EQ(e.fadeIn, fade(w.in));
        EXPECT_FLOAT_EQ(e.fadeOut, fade(w.out));
        EXPECT_FLOAT_EQ(e.x, w.x);
        EXPECT_FLOAT_EQ(e.y, w.y);
        EXPECT_STREQ(e.font, kFont);
        EXPECT_EQ(checkText(e.text, w.length, w.id), w.lines);
        // No empty line: every "%" separates two lines with text.
        const std::string t = e.text;
        EXPECT_EQ(t.find("%%"), std::string::npos);
        EXPECT_NE(t.front(), '%');
        EXPECT_NE(t.back(), '%');
    }
    // The nine road and rd2 stabs repeat one text.
    for (std::size_t i = 1; i < 9; ++i) {
        EXPECT_STREQ(s.textStabs[i].text, s.textStabs[0].text);
    }
}

TEST(ShippedScript, IdsFollowFileOrderOverAllKinds) {
    const DemoScript s = shipped();
    std::vector<int> ids;
    for (const auto& e : s.scenes)
        ids.push_back(e.id);
    for (const auto& e : s.overlays)
        ids.push_back(e.id);
    for (const auto& e : s.scrollTexts)
        ids.push_back(e.id);
    for (const auto& e : s.textStabs)
        ids.push_back(e.id);
    std::sort(ids.begin(), ids.end());
    ASSERT_EQ(ids.size(), 54u);
    for (int i = 0; i < 54; ++i) {
        EXPECT_EQ(ids[i], i);
    }
}
