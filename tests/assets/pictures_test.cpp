#include "core/asset_archive.h"

#include <stb/stb_image.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

struct Picture {
    int w = 0, h = 0;
    std::vector<std::uint8_t> rgba;
    const std::uint8_t* px(int x, int y) const { return &rgba[(size_t(y) * w + x) * 4]; }
    int alpha(int x, int y) const { return px(x, y)[3]; }
};

// Decodes an archive entry to RGBA; an empty picture when missing or broken.
Picture load(const std::string& name) {
    std::size_t size = 0;
    const unsigned char* bytes = AssetArchive::find(name.c_str(), &size);
    Picture p;
    if (!bytes)
        return p;
    int w = 0, h = 0, n = 0;
    std::unique_ptr<stbi_uc, void (*)(void*)> data(
        stbi_load_from_memory(bytes, int(size), &w, &h, &n, 4), stbi_image_free);
    if (!data)
        return p;
    p.w = w;
    p.h = h;
    p.rgba.assign(data.get(), data.get() + size_t(w) * h * 4);
    return p;
}

struct Box {
    int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
    bool empty() const { return x1 < 0; }
};

Box opaqueBox(const Picture& p, int x0, int y0, int x1, int y1, int minAlpha = 128) {
    Box b;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            if (p.alpha(x, y) >= minAlpha) {
                b.x0 = std::min(b.x0, x);
                b.y0 = std::min(b.y0, y);
                b.x1 = std::max(b.x1, x);
                b.y1 = std::max(b.y1, y);
            }
    return b;
}

const std::string kDir = "assets/textures/";

} // namespace

TEST(Pictures, EveryPictureIsAnRgbaPngOfItsTableSize) {
    const struct {
        const char* file;
        int w, h;
    } table[] = {
        {"quexelogo.png", 320, 200},   {"quexmob_sprite.png", 94, 87}, {"quexmobile.png", 320, 200},
        {"font.png", 256, 256},        {"ghost_sprite.png", 16, 16},   {"zemkoghost.png", 320, 200},
        {"logo.png", 320, 200},        {"logo2.png", 320, 200},        {"overlay.png", 320, 180},
        {"sprite_rock.png", 152, 150}, {"sprite_tree.png", 105, 193}};
    for (const auto& e : table) {
        SCOPED_TRACE(e.file);
        std::size_t size = 0;
        const unsigned char* b = AssetArchive::find((kDir + e.file).c_str(), &size);
        ASSERT_NE(b, nullptr);
        ASSERT_GT(size, 33u);
        const unsigned char sig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        ASSERT_TRUE(std::equal(sig, sig + 8, b));
        ASSERT_TRUE(std::equal(b + 12, b + 16, "IHDR"));
        auto be32 = [](const unsigned char* p) {
            return int(std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 |
                       std::uint32_t(p[2]) << 8 | p[3]);
        };
        EXPECT_EQ(be32(b + 16), e.w);
        EXPECT_EQ(be32(b + 20), e.h);
        EXPECT_EQ(b[24], 8) << "bit depth";
        EXPECT_EQ(b[25], 6) << "colour type must be RGBA";
        const Picture p = load(kDir + e.file);
        EXPECT_EQ(p.w, e.w);
        EXPECT_EQ(p.h, e.h);
    }
}

TEST(Pictures, FontAtlasHoldsWhiteGlyphsForBytes32To95Only) {
    const Picture atlas = load(kDir + "font.png");
    ASSERT_EQ(atlas.w, 256);
    ASSERT_EQ(atlas.h, 256);
    int ink[256] = {};
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const std::uint8_t* p = atlas.px(x, y);
            ASSERT_TRUE(p[3] == 0 || p[3] == 255)
                << "alpha " << int(p[3]) << " at " << x << "," << y;
            if (!p[3])
                continue;
            ASSERT_TRUE(p[0] == 255 && p[1] == 255 && p[2] == 255)
                << "ink not white at " << x << "," << y;
            ASSERT_LT(y / 16, 4) << "ink below the fourth cell row at " << x << "," << y;
            // The outer ring of a cell is only half sampled; ink there would
            // touch the neighbouring glyph on screen.
            EXPECT_TRUE(x % 16 != 0 && x % 16 != 15 && y % 16 != 0 && y % 16 != 15)
                << "ink on a cell edge at " << x << "," << y;
            ++ink[(y / 16) * 16 + x / 16];
        }
    EXPECT_EQ(ink[0], 0) << "space must be empty";
    for (int c = 33; c <= 95; ++c)
        EXPECT_GT(ink[c - 32], 0) << "empty glyph for byte " << c;
    // Capitals fill most of their cell: the text is drawn at 16 x 16 pixels.
    for (int c = 'A'; c <= 'Z'; ++c) {
        const int i = c - 32;
        const Box b =
            opaqueBox(atlas, i % 16 * 16, i / 16 * 16, i % 16 * 16 + 16, i / 16 * 16 + 16);
        EXPECT_GE(b.y1 - b.y0 + 1, 12) << char(c) << " is too short";
        EXPECT_GE(b.x1 - b.x0 + 1, 8) << char(c) << " is too narrow";
    }
}

// Every glyph differs from every other, and the classic look-alikes differ
// by more than a stray pixel, so scrolled text stays readable.
TEST(Pictures, FontGlyphsAreDistinct) {
    const Picture atlas = load(kDir + "font.png");
    ASSERT_EQ(atlas.w, 256);
    auto diff = [&](int a, int b) {
        const int ia = a - 32, ib = b - 32;
        int n = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                n += (atlas.alpha(ia % 16 * 16 + x, ia / 16 * 16 + y) != 0) !=
                     (atlas.alpha(ib % 16 * 16 + x, ib / 16 * 16 + y) != 0);
        return n;
    };
    for (int a = 32; a <= 95; ++a)
        for (int b = a + 1; b <= 95; ++b)
            EXPECT_GT(diff(a, b), 0) << char(a) << " looks like " << char(b);
    const char pairs[][2] = {{'0', 'O'}, {'1', 'I'}, {'5', 'S'}, {'8', 'B'}, {'2', 'Z'},
                             {'O', 'Q'}, {'O', 'D'}, {'U', 'V'}, {'M', 'N'}, {'E', 'F'}};
    for (const auto& p : pairs)
        EXPECT_GE(diff(p[0], p[1]), 8) << p[0] << " vs " << p[1];
}

TEST(Pictures, ScreenMaskKeepsThePictureBright) {
    const Picture mask = load(kDir + "overlay.png");
    ASSERT_EQ(mask.w, 320);
    ASSERT_EQ(mask.h, 180);
    double sum = 0;
    int darkest = 255;
    for (int y = 0; y < mask.h; ++y)
        for (int x = 0; x < mask.w; ++x) {
            const std::uint8_t* p = mask.px(x, y);
            sum += (p[0] + p[1] + p[2]) / (3.0 * 255.0);
            darkest = std::min({darkest, int(p[0]), int(p[1]), int(p[2])});
            EXPECT_EQ(p[3], 255);
        }
    EXPECT_GT(sum / (mask.w * mask.h), 0.85);
    EXPECT_GT(darkest, 128) << "no part of the screen may be blacked out";
}

TEST(Pictures, RoadSpritesStandOnTheirBaseWithClearBorders) {
    const struct {
        const char* file;
        bool standsOnGround;
    } sprites[] = {{"sprite_tree.png", true},
                   {"sprite_rock.png", true},
                   {"ghost_sprite.png", false},
                   {"quexmob_sprite.png", true}};
    for (const auto& s : sprites) {
        SCOPED_TRACE(s.file);
        const Picture p = load(kDir + s.file);
        ASSERT_GT(p.w, 0);
        for (int x = 0; x < p.w; ++x) {
            EXPECT_EQ(p.alpha(x, 0), 0);
            EXPECT_EQ(p.alpha(x, p.h - 1), 0);
        }
        for (int y = 0; y < p.h; ++y) {
            EXPECT_EQ(p.alpha(0, y), 0);
            EXPECT_EQ(p.alpha(p.w - 1, y), 0);
        }
        int opaque = 0;
        for (int y = 0; y < p.h; ++y)
            for (int x = 0; x < p.w; ++x)
                opaque += p.alpha(x, y) == 255;
        EXPECT_GT(opaque, p.w * p.h / 4) << "sprite too faint to read when scaled down";
        // The scene stands a sprite on its bottom edge: no floating gap.
        if (s.standsOnGround) {
            EXPECT_GE(opaqueBox(p, 0, 0, p.w, p.h).y1, p.h - 4);
        }
    }
}

// Overlays are drawn at native size at the script's positions; what matters
// must land on the 320 x 180 canvas wherever the script puts it.
TEST(Pictures, OverlayPicturesAreComposedForTheirScriptPositions) {
    // The title logo is shown at y = -50: its top 50 rows are never seen.
    const Picture quexe = load(kDir + "quexelogo.png");
    ASSERT_EQ(quexe.h, 200);
    EXPECT_TRUE(opaqueBox(quexe, 0, 0, quexe.w, 50, 1).empty());
    EXPECT_FALSE(opaqueBox(quexe, 0, 50, quexe.w, 200).empty());

    // The ghost travels: at every corner of each box its body stays mostly visible.
    const Picture ghost = load(kDir + "zemkoghost.png");
    ASSERT_EQ(ghost.w, 320);
    const Box g = opaqueBox(ghost, 0, 0, ghost.w, ghost.h);
    ASSERT_FALSE(g.empty());
    const struct {
        float x, y, boxW, boxH;
    } places[] = {{8, 8, 0, 0}, {-160, -50, 250, 100}, {-80, -25, 160, 50}};
    for (const auto& pl : places)
        for (float ox : {0.0f, pl.boxW})
            for (float oy : {0.0f, pl.boxH}) {
                const float cx = pl.x + ox + (g.x0 + g.x1) * 0.5f;
                const float cy = pl.y + oy + (g.y0 + g.y1) * 0.5f;
                const float halfW = (g.x1 - g.x0) * 0.5f * 0.6f,
                            halfH = (g.y1 - g.y0) * 0.5f * 0.6f;
                EXPECT_GE(cx - halfW, 0) << "at " << pl.x + ox << "," << pl.y + oy;
                EXPECT_LE(cx + halfW, 320) << "at " << pl.x + ox << "," << pl.y + oy;
                EXPECT_GE(cy - halfH, 0) << "at " << pl.x + ox << "," << pl.y + oy;
                EXPECT_LE(cy + halfH, 180) << "at " << pl.x + ox << "," << pl.y + oy;
            }

    // Pictures at (8, 8) or (0, 0) keep their content on the canvas.
    for (const char* f : {"logo.png", "logo2.png", "quexmobile.png"}) {
        SCOPED_TRACE(f);
        const Picture p = load(kDir + f);
        ASSERT_EQ(p.w, 320);
        const Box b = opaqueBox(p, 0, 0, p.w, p.h);
        EXPECT_LE(b.x0 + 8, 40);
        EXPECT_GE(b.x1, 280);
        EXPECT_LE(b.y0 + 8, 40);
        EXPECT_TRUE(opaqueBox(p, 0, 0, 320, 172).y1 >= 150) << "lower part left empty";
    }
}

// The committed pictures are exactly what the generator draws today.
TEST(Pictures, CommittedPicturesMatchTheGenerator) {
    const char* buildDir = std::getenv("QUEX_BUILD_DIR");
    if (!buildDir)
        GTEST_SKIP() << "QUEX_BUILD_DIR not set";
    const std::filesystem::path tool =
        std::filesystem::path(buildDir) / "tools" / "pipeline" / "gen_pictures";
    if (!std::filesystem::exists(tool))
        GTEST_SKIP() << "generator not built";
    const auto out =
        std::filesystem::temp_directory_path() / ("quex_pictures_" + std::to_string(getpid()));
    std::filesystem::remove_all(out);
    std::filesystem::create_directories(out / "assets" / "textures");
    std::filesystem::create_directories(out / "docs");
    std::string cmd(1, '"');
    cmd.append(tool.string()).append("\" \"").append(out.string()).append("\"");
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    auto slurp = [](const std::filesystem::path& f) {
        std::ifstream in(f, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(out / "assets" / "textures")) {
        const std::string name = e.path().filename().string();
        std::size_t size = 0;
        const unsigned char* b = AssetArchive::find((kDir + name).c_str(), &size);
        ASSERT_NE(b, nullptr) << name;
        EXPECT_EQ(slurp(e.path()), std::string(reinterpret_cast<const char*>(b), size))
            << name << " is stale: run tools/pipeline/make_pictures.sh";
        ++files;
    }
    EXPECT_EQ(files, 11);
    std::filesystem::remove_all(out);
}
