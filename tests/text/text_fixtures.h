#pragma once

#include "script/script.h"
#include "support/gl_test.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// A 128 x 128 atlas of 8 x 8 cells: bytes 33..95 are solid white, the space
// cell and everything from row 4 on are transparent.
inline std::vector<std::uint8_t> testAtlasPixels() {
    constexpr int size = 128;
    std::vector<std::uint8_t> rgba(size * size * 4, 0);
    for (int index = 1; index < 64; ++index) {
        const int col = index % 16;
        const int row = index / 16;
        for (int y = row * 8; y < row * 8 + 8; ++y) {
            for (int x = col * 8; x < col * 8 + 8; ++x) {
                // writePng wants rows bottom first.
                const std::size_t i = (static_cast<std::size_t>(size - 1 - y) * size + x) * 4;
                rgba[i] = rgba[i + 1] = rgba[i + 2] = rgba[i + 3] = 255;
            }
        }
    }
    return rgba;
}

inline std::string testDir() {
    static const std::string dir = [] {
        std::string d = ::testing::TempDir() + "quex_text_XXXXXX";
        return std::string(mkdtemp(d.data()));
    }();
    return dir;
}

// Path of a fresh copy of the test atlas under the given file name.
inline std::string writeTestAtlas(const std::string& name = "atlas.png") {
    const std::string path = testDir() + "/" + name;
    EXPECT_TRUE(writePng(path, testAtlasPixels(), 128, 128));
    return path;
}

template <std::size_t N> void setField(char (&field)[N], const std::string& value) {
    std::memset(field, 0, N);
    std::strncpy(field, value.c_str(), N - 1);
}

inline ScrollTextEntry scrollEntry(int id, double start, float speed, float y,
                                   const std::string& font, const std::string& text) {
    ScrollTextEntry e;
    e.id = id;
    e.start = start;
    e.speed = speed;
    e.y = y;
    setField(e.font, font);
    setField(e.text, text);
    return e;
}

inline TextStabEntry stabEntry(int id, double start, double end, float x, float y,
                               const std::string& font, const std::string& text) {
    TextStabEntry e;
    e.id = id;
    e.start = start;
    e.end = end;
    e.x = x;
    e.y = y;
    setField(e.font, font);
    setField(e.text, text);
    return e;
}

inline int countOf(const std::string& haystack, const std::string& needle) {
    int n = 0;
    for (std::size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + 1)) {
        ++n;
    }
    return n;
}

// One read-back of a target, addressed top-down.
struct Frame {
    std::vector<std::uint8_t> rgba;
    int width = 0;
    int height = 0;

    explicit Frame(const TestTarget& target)
        : rgba(target.read()), width(target.width), height(target.height) {}
    std::uint8_t red(int x, int y) const {
        return rgba[(static_cast<std::size_t>(height - 1 - y) * width + x) * 4];
    }
    bool lit(int x, int y) const { return red(x, y) > 127; }
    int litCount() const {
        int n = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                n += lit(x, y) ? 1 : 0;
            }
        }
        return n;
    }
    // Bounding box of the lit pixels within rows [y0, y1]: {minX, maxX, minY, maxY}.
    std::array<int, 4> litBox(int y0 = 0, int y1 = -1) const {
        if (y1 < 0) {
            y1 = height - 1;
        }
        std::array<int, 4> box{width, -1, height, -1};
        for (int y = y0; y <= y1; ++y) {
            for (int x = 0; x < width; ++x) {
                if (lit(x, y)) {
                    box = {std::min(box[0], x), std::max(box[1], x), std::min(box[2], y),
                           std::max(box[3], y)};
                }
            }
        }
        return box;
    }
};
