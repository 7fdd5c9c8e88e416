// Draws every picture of the demo (logos, pictures, road sprites, the font
// atlas and the screen mask) plus a contact sheet for review.
// Usage: gen_pictures [repository root]   (default: the current directory)

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include "pictures_font.h"
#include "pictures_raster.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>

using namespace pic;

namespace {

// ---------------------------------------------------------------- helpers

// 80s chrome: night-blue sky above a bright horizon, warm ground below.
const Ramp kChromeSky{0x1b2466, 0x2f4fb8, 0x5f95e8, 0xa8dcff, 0xffffff};
const Ramp kChromeGround{0x2a1240, 0x6a1e66, 0xc23d7a, 0xff8a5c, 0xffd68a};

Rgba chrome(float t, int x, int y) {
    const float h = 0.52f; // horizon line inside the letter
    if (t < h)
        return kChromeSky.at(t / h, x, y);
    return kChromeGround.at((t - h) / (1 - h), x, y);
}

struct TextStyle {
    Rgba side = hex(0x2a1650);     // extrusion
    Rgba sideDark = hex(0x140a2e); // far end of the extrusion
    Rgba line = hex(0x07061a);     // outline
    int depth = 4;
    int border = 2;
};

// Big logo lettering: outline, extruded side, gradient face with a bevel.
template <class Face>
void logoText(Image& img, std::string_view s, int x, int y, int size, int advance, Face face,
              const TextStyle& st = {}) {
    const Mask m = textMask(s, size, advance);
    const int pad = st.border + 1;
    Mask body(m.w + st.depth + 2 * pad, m.h + st.depth + 2 * pad);
    for (int k = 0; k <= st.depth; ++k)
        body.add(m, pad + k, pad + k);
    const Mask ring = body.dilated(st.border);
    paint(img, ring, x - pad, y - pad, [&](int, int) { return st.line; });
    for (int k = st.depth; k >= 1; --k) {
        const Rgba c = mix(st.side, st.sideDark, float(k - 1) / std::max(1, st.depth - 1));
        paint(img, m, x + k, y + k, [&](int, int) { return c; });
    }
    paint(img, m, x, y, [&](int px, int py) {
        Rgba c = face(float(py) / float(m.h - 1), x + px, y + py);
        if (!m.get(px, py - 1) || !m.get(px - 1, py))
            c = mix(c, hex(0xffffff), 0.55f);
        else if (!m.get(px, py + 1) || !m.get(px + 1, py))
            c = mix(c, hex(0x000000), 0.35f);
        return c;
    });
}

// Small flat text with a dark rim, for captions and labels.
void plainText(Image& img, std::string_view s, int x, int y, int size, int advance, Rgba ink,
               Rgba rim = {}) {
    const Mask m = textMask(s, size, advance);
    if (rim.a) {
        Mask r(m.w + 2, m.h + 2);
        r.add(m, 1, 1);
        paint(img, r.dilated(1), x - 1, y - 1, [&](int, int) { return rim; });
    }
    paint(img, m, x, y, [&](int, int) { return ink; });
}

// A four-pointed twinkle.
void sparkle(Image& img, int cx, int cy, int arm, Rgba c) {
    img.blend(cx, cy, c);
    for (int i = 1; i <= arm; ++i) {
        Rgba f = c;
        f.a = std::uint8_t(c.a * (arm + 1 - i) / (arm + 1));
        img.blend(cx + i, cy, f);
        img.blend(cx - i, cy, f);
        img.blend(cx, cy + i, f);
        img.blend(cx, cy - i, f);
    }
    if (arm >= 3) {
        Rgba d = c;
        d.a = std::uint8_t(c.a / 2);
        img.blend(cx + 1, cy + 1, d);
        img.blend(cx - 1, cy + 1, d);
        img.blend(cx + 1, cy - 1, d);
        img.blend(cx - 1, cy - 1, d);
    }
}

Mask shape(int w, int h, auto inside) {
    Mask m(w, h);
    m.fill(inside);
    return m;
}

// Pixel art from strings: one character per pixel, looked up in a palette.
Image pixelArt(const std::vector<const char*>& rows, auto colourOf) {
    Image img(int(std::string_view(rows[0]).size()), int(rows.size()));
    for (int y = 0; y < img.h; ++y)
        for (int x = 0; x < img.w; ++x)
            img.set(x, y, colourOf(rows[y][x]));
    return img;
}

// ------------------------------------------------------------ the pictures

// Shown at (0, -50) with a blue glow: only rows 50..199 reach the canvas.
Image quexeLogo() {
    Image img(320, 200);
    logoText(img, "QUEX", 36, 62, 56, 63, chrome, {.depth = 5});
    // Subtitle on a thin rule, well inside the visible band.
    const int sy = 134;
    for (int x = 40; x < 280; ++x) {
        const float edge = 1.0f - std::abs(x - 160) / 120.0f;
        const Rgba c = hex(0x7fe3ff, std::uint8_t(255 * smoothstep(0.0f, 0.5f, edge)));
        img.blend(x, sy + 6, c);
        img.blend(x, sy + 8, mix(c, hex(0xff4fa3, c.a), 0.7f));
    }
    const Mask sub = textMask("I N V I", 14, 16);
    const int sx = 160 - sub.w / 2;
    Mask back(sub.w + 12, sub.h + 6);
    back.fill([&](float x, float y) { return x > 0 && y > 0; });
    paint(img, back, sx - 6, sy - 3, [](int, int) { return hex(0x0b0a24); });
    plainText(img, "I N V I", sx, sy, 14, 16, hex(0xff6fb8));
    for (int x = 0; x < sub.w; ++x)
        for (int y = 0; y < 5; ++y)
            if (sub.get(x, y))
                img.set(sx + x, sy + y, hex(0xffc2e2));
    sparkle(img, 46, 66, 6, hex(0xffffff));
    sparkle(img, 268, 112, 5, hex(0xdff6ff));
    sparkle(img, 150, 61, 4, hex(0xffffff));
    return img;
}

// Title logo at (8, 8): lettering over a striped sunset and a neon grid.
Image titleLogo() {
    Image img(320, 200);
    const int hx = 152, hy = 142; // horizon point (canvas 160, 150)
    // Stars in the sky, kept clear of the lettering by drawing them first.
    for (int i = 0; i < 90; ++i) {
        const int x = int(hash2(i, 1, 7) * 312), y = int(hash2(i, 2, 7) * 136);
        const float b = hash2(i, 3, 7);
        const Rgba c = b > 0.85f ? hex(0xffffff) : b > 0.5f ? hex(0x9fb6ff) : hex(0x5a5f9c);
        if (b > 0.93f)
            sparkle(img, x, y, 2, c);
        else
            img.set(x, y, c);
    }
    // Soft sun halo, then the striped sun.
    const Ramp sun{0xfff07a, 0xffc04a, 0xff8a3d, 0xff4f6a, 0xe8287f};
    for (int y = hy - 44; y < hy; ++y)
        for (int x = hx - 50; x <= hx + 50; ++x) {
            const float d = std::hypot(float(x - hx), float(y - hy) * 1.0f);
            if (d > 31 && d < 44) {
                const float a = (1 - (d - 31) / 13.0f) * 0.55f;
                if (a > bayer(x, y))
                    img.blend(x, y, hex(0xff5f8f, 110));
            }
        }
    for (int y = hy - 31; y < hy; ++y) {
        const int d = hy - y; // 1..31 above the horizon
        const bool gap = (d >= 3 && d <= 4) || (d >= 9 && d <= 10) || d == 15 || d == 21;
        if (gap)
            continue;
        for (int x = hx - 31; x <= hx + 31; ++x)
            if (std::hypot(float(x - hx), float(y - hy)) <= 30.5f)
                img.set(x, y, sun.at(1.0f - d / 31.0f, x, y));
    }
    // Ground with a perspective grid; lines closer than three pixels melt
    // into a pink haze instead of a moire.
    const Ramp ground{0x2a0b46, 0x170726, 0x0c0416};
    const Ramp haze{0x0c0416, 0x3a0e52, 0x8a2282, 0xe04aa8};
    const Ramp neon{0x5a1a7a, 0xc8329c, 0xff5fd2, 0xffb0f0};
    for (int y = hy; y < 200; ++y) {
        const float dy = float(y - hy) + 1.0f;
        for (int x = 0; x < 320; ++x) {
            Rgba c = ground.at((y - hy) / 30.0f, x, y);
            const float glow = 1.0f - smoothstep(0.0f, 12.0f, dy);
            if (glow > 0.05f)
                c = haze.at(glow, x, y);
            const float u0 = (x - 0.5f - hx) * 3.0f / dy, u1 = (x + 0.5f - hx) * 3.0f / dy;
            const float v0 = 60.0f / (dy - 0.5f), v1 = 60.0f / (dy + 0.5f);
            const bool vline = dy >= 9.0f && std::floor(u0) != std::floor(u1);
            const bool hline = v0 - v1 < 0.34f && std::floor(v0 + 0.5f) != std::floor(v1 + 0.5f);
            if (vline || hline)
                c = neon.at(std::min(1.0f, dy / 26.0f), x, y);
            img.set(x, y, c);
        }
    }
    for (int x = 0; x < 320; ++x)
        img.set(x, hy, hex(0xff8ad8));
    // Lettering.
    logoText(img, "QUEX", 46, 4, 48, 55, chrome, {.depth = 4});
    auto hot = [](float t, int x, int y) {
        return Ramp{0xffe36b, 0xff9a3d, 0xff4f8a, 0xd02c9a}.at(t, x, y);
    };
    logoText(img, "INVI", 86, 62, 28, 40, hot,
             {.side = hex(0x5a0f3a), .sideDark = hex(0x2a0620), .depth = 3});
    sparkle(img, 50, 8, 5, hex(0xffffff));
    sparkle(img, 245, 44, 4, hex(0xffffff));
    return img;
}

Image ghostSprite();

// Drawn at (0, 0) over the whole canvas: a frame, a caption and THE END.
Image endLogo() {
    Image img(320, 200);
    // Double neon frame, inset so the drift never pushes it off screen.
    const int x0 = 9, y0 = 9, x1 = 310, y1 = 170;
    auto frameCol = [&](int x, int y) {
        const float t = float((x - x0) + (y - y0)) / float((x1 - x0) + (y1 - y0));
        return Ramp{0x5fe8ff, 0x7f9cff, 0xc86cff, 0xff5fb8}.at(t, x, y);
    };
    for (int y = y0 - 2; y <= y1 + 2; ++y)
        for (int x = x0 - 2; x <= x1 + 2; ++x) {
            const int d = std::min({x - x0 + 2, x1 + 2 - x, y - y0 + 2, y1 + 2 - y});
            if (d == 0 || d == 4)
                img.set(x, y, hex(0x0a0820));
            else if (d >= 1 && d <= 3)
                img.set(x, y, d == 2 ? frameCol(x, y) : mix(frameCol(x, y), hex(0x000000), 0.35f));
            else if (d == 7)
                img.set(x, y, mix(frameCol(x, y), hex(0x000000, 255), 0.45f));
        }
    // Corner gems.
    for (auto [cx, cy] :
         {std::pair{x0, y0}, std::pair{x1, y0}, std::pair{x0, y1}, std::pair{x1, y1}}) {
        for (int y = -6; y <= 6; ++y)
            for (int x = -6; x <= 6; ++x) {
                const int d = std::abs(x) + std::abs(y);
                if (d <= 6)
                    img.set(cx + x, cy + y,
                            d == 6 ? hex(0x0a0820)
                                   : Ramp{0xffffff, 0xffd0f0, 0xff5fb8, 0x8a2a8a}.at(
                                         (d + (x + y) * 0.3f) / 6.0f, cx + x, cy + y));
            }
    }
    // Caption at the top, THE END at the bottom; the middle stays clear for text.
    const Mask cap = textMask("QUEX INVI", 14, 16);
    plainText(img, "QUEX INVI", 160 - cap.w / 2, 20, 14, 16, hex(0x8ff0ff), hex(0x0a0820));
    for (int x = 0; x < cap.w; ++x)
        for (int y = 8; y < 14; ++y)
            if (cap.get(x, y))
                img.set(160 - cap.w / 2 + x, 20 + y, hex(0x4fa8ff));
    const Mask end = textMask("THE END", 32, 38);
    logoText(img, "THE END", 160 - end.w / 2 - 2, 124, 32, 38, chrome, {.depth = 4});
    // Two little ghosts flank the caption.
    const Image ghost = ghostSprite();
    for (int gx : {56, 232}) {
        Image big(32, 32);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                big.set(x, y, ghost.get(gx < 160 ? x / 2 : 15 - x / 2, y / 2));
        img.draw(big, gx, 12);
    }
    return img;
}

// The road ghost, 16 x 16 with a clear one-pixel border.
Image ghostSprite() {
    return pixelArt(
        {
            "................",
            "......####......",
            "....##wwww##....",
            "...#wwwwwwwl#...",
            "..#wkkwwwkkwl#..",
            "..#wkpwwwkpwl#..",
            ".#wwkkwwwkkwwl#.",
            ".#wwwwwmmwwwwl#.",
            ".#wrwwwmmwwwrl#.",
            ".#wwwwwwwwwwll#.",
            ".#wwwwwwwwwlll#.",
            ".#wwlwwwlwwlll#.",
            ".#wl#lwl#lwl#l#.",
            ".##..#l#..#l#.#.",
            "......#....#....",
            "................",
        },
        [](char c) {
            switch (c) {
            case '#':
                return hex(0x1a1030);
            case 'w':
                return hex(0xeef0ff);
            case 'l':
                return hex(0xa9a6e8);
            case 'k':
                return hex(0x1a1030);
            case 'p':
                return hex(0x7fe3ff);
            case 'm':
                return hex(0x5a1f5a);
            case 'r':
                return hex(0xff9ac8);
            default:
                return Rgba{};
            }
        });
}

// The big ghost: ~70 x 84 around (195, 90), so that every travel box the
// script gives keeps it on the canvas.
Image zemkoGhost() {
    Image img(320, 200);
    const float cx = 195, top = 48, bottom = 132, r = 33;
    Mask body(320, 200);
    body.fill([&](float x, float y) {
        const float headY = top + r;
        if (y < headY)
            return std::hypot(x - cx, y - headY) <= r;
        // Skirt widens a little and ends in four scallops.
        const float t = (y - headY) / (bottom - headY);
        const float half = r + 4 * t;
        if (std::abs(x - cx) > half)
            return false;
        const float u = (x - (cx - half)) / (2 * half) * 4.0f;
        const float wave = 7.0f * std::abs(std::sin(u * 3.14159f));
        return y < bottom - 7.0f + wave;
    });
    // Waving arms.
    body.add(shape(320, 200, ellipse(cx - 38, 95, 9, 6)));
    body.add(shape(320, 200, ellipse(cx + 39, 88, 8, 7)));
    const auto light = bevelLight(body, 16.0f);
    const Ramp sheet{0x2b1f5c, 0x4c3f96, 0x7b70cc, 0xaea8ec, 0xdcd8fb, 0xf7f6ff};
    paint(img, body, 0, 0, [&](int x, int y) {
        const float l = light[size_t(y) * 320 + x];
        const float t = 0.15f + 0.85f * l - 0.15f * std::max(0.0f, (y - 110) / 22.0f);
        return sheet.at(t, x, y);
    });
    // Face: big eyes looking ahead, a surprised mouth, blushing cheeks.
    for (auto ex : {cx - 13.0f, cx + 11.0f}) {
        paint(img, shape(320, 200, ellipse(ex, 76, 8, 11)), 0, 0,
              [](int, int) { return hex(0x140a2e); });
        paint(img, shape(320, 200, ellipse(ex + 2, 74, 4, 6)), 0, 0,
              [](int, int) { return hex(0x3a5fd8); });
        paint(img, shape(320, 200, ellipse(ex - 2.5f, 71, 2.2f, 2.8f)), 0, 0,
              [](int, int) { return hex(0xffffff); });
        paint(img, shape(320, 200, ellipse(ex + 4, 80, 1.2f, 1.2f)), 0, 0,
              [](int, int) { return hex(0xbfd8ff); });
        paint(img, shape(320, 200, ellipse(ex, 93, 6, 3)), 0, 0,
              [](int x, int y) { return bayer(x, y) < 0.6f ? hex(0xff8ac0) : Rgba{}; });
    }
    paint(img, shape(320, 200, ellipse(cx - 1, 99, 6, 8)), 0, 0,
          [](int, int) { return hex(0x2a0a2e); });
    paint(img, shape(320, 200, ellipse(cx - 1, 104, 4, 3)), 0, 0,
          [](int, int) { return hex(0xd8406e); });
    outline(img, hex(0x120a26));
    outline(img, hex(0x120a26, 140));
    // Sparkles drifting around it.
    sparkle(img, 150, 60, 4, hex(0xcff4ff));
    sparkle(img, 242, 52, 3, hex(0xffffff));
    sparkle(img, 238, 128, 4, hex(0xcff4ff));
    sparkle(img, 146, 122, 2, hex(0xffffff));
    sparkle(img, 170, 40, 2, hex(0xe0d8ff));
    return img;
}

// The car's paint and chrome, shared by its side view and its road sprite.
const Ramp kPaintjob{0x2a0614, 0x5c0b24, 0x9c1638, 0xd4294a, 0xf2607a, 0xffc0c8};
const Ramp kSteel{0xffffff, 0xc8c8dc, 0x7c7a96, 0x3c3a52};

// ---- the car from the side (quexmobile.png), back to front

// Road strip fading out at both ends.
void sideRoad(Image& img) {
    for (int y = 162; y < 172; ++y)
        for (int x = 0; x < 320; ++x) {
            const float fade = std::min(x, 319 - x) / 40.0f;
            if (fade < bayer(x, y))
                continue;
            Rgba c = y == 162 ? hex(0x5a5478) : Ramp{0x2a2640, 0x1a1730}.at((y - 163) / 8.0f, x, y);
            if (y >= 166 && y <= 167 && (x / 12) % 2 == 0)
                c = hex(0xd8d070);
            img.set(x, y, c);
        }
}

// Speed streaks and exhaust puffs behind it.
void sideTrail(Image& img) {
    for (int i = 0; i < 6; ++i) {
        const int y = 122 + i * 7, len = 20 + int(hash2(i, 4, 3) * 30);
        for (int x = 36 - len; x < 36; ++x)
            if (float(x - (36 - len)) / len > bayer(x, y))
                img.blend(x, y, hex(0x9fe8ff, 200));
    }
    const Ramp smoke{0x6a6488, 0x9c96b8, 0xd4d0e6, 0xf4f2fb};
    for (auto [px, py, pr] : {std::tuple{30.f, 152.f, 4.f}, std::tuple{19.f, 148.f, 6.f},
                              std::tuple{6.f, 143.f, 7.f}}) {
        const Mask puff = shape(320, 200, ellipse(px, py, pr, pr));
        const auto l = bevelLight(puff, pr);
        paint(img, puff, 0, 0,
              [&](int x, int y) { return smoke.at(l[size_t(y) * 320 + x], x, y); });
    }
}

// Body, cabin and wheel wells; returns the body's shape for the trim.
Mask sideBody(Image& img) {
    Mask body = shape(320, 200,
                      polygon({{42, 156},
                               {40, 146},
                               {42, 136},
                               {48, 125},
                               {56, 123},
                               {66, 130},
                               {100, 131},
                               {210, 131},
                               {244, 135},
                               {260, 140},
                               {266, 148},
                               {264, 156}}));
    body.add(
        shape(320, 200,
              polygon({{98, 132}, {112, 112}, {122, 107}, {174, 107}, {186, 112}, {206, 132}})));
    body.cut(shape(320, 200, ellipse(82, 156, 17, 17)));
    body.cut(shape(320, 200, ellipse(224, 156, 17, 17)));
    const auto bl = bevelLight(body, 7.0f);
    paint(img, body, 0, 0, [&](int x, int y) {
        const float l = bl[size_t(y) * 320 + x];
        return kPaintjob.at(0.55f * l + 0.45f * (1.0f - (y - 107) / 49.0f), x, y);
    });
    return body;
}

// Windows with a ghost at the wheel.
void sideWindows(Image& img) {
    const Mask rear =
        shape(320, 200, polygon({{106, 129}, {117, 113}, {124, 110}, {148, 110}, {148, 129}}));
    const Mask front =
        shape(320, 200, polygon({{153, 110}, {172, 110}, {182, 114}, {198, 129}, {153, 129}}));
    const Ramp glass{0x1a2a5c, 0x2f5a9c, 0x5fa0d8, 0xaee0ff};
    for (const Mask* w : {&rear, &front})
        paint(img, *w, 0, 0, [&](int x, int y) {
            const bool streak = ((x + y) % 14) < 3;
            return glass.at((129 - y) / 22.0f * 0.7f + (streak ? 0.35f : 0.0f), x, y);
        });
    Mask head = shape(320, 200, ellipse(170, 121, 9, 10));
    head.cut(shape(320, 200, [](float, float y) { return y > 129; }));
    const auto hl = bevelLight(head, 5.0f);
    paint(img, head, 0, 0, [&](int x, int y) {
        return Ramp{0x7b70cc, 0xaea8ec, 0xf7f6ff}.at(hl[size_t(y) * 320 + x], x, y);
    });
    for (int ex : {172, 177}) {
        img.set(ex, 118, hex(0x140a2e));
        img.set(ex, 119, hex(0x140a2e));
    }
}

// Chrome: side strip, bumpers, door line.
void sideChrome(Image& img, const Mask& body) {
    for (int x = 46; x < 262; ++x) {
        if (body.get(x, 142))
            img.set(x, 142, hex(0xffffff));
        if (body.get(x, 143))
            img.set(x, 143, hex(0x9a98b0));
    }
    for (int y = 132; y < 154; ++y)
        if (body.get(150, y))
            img.set(150, y, hex(0x3a0818));
    for (auto [bx0, bx1] : {std::pair{37, 46}, std::pair{258, 269}})
        for (int y = 148; y < 156; ++y)
            for (int x = bx0; x < bx1; ++x)
                img.set(x, y, kSteel.at((y - 148) / 7.0f, x, y));
}

// Lamps and a headlight beam.
void sideLamps(Image& img) {
    paint(img, shape(320, 200, ellipse(262, 142, 3, 4)), 0, 0,
          [](int, int) { return hex(0xfff4b0); });
    paint(img, shape(320, 200, ellipse(43, 135, 2.5f, 4)), 0, 0,
          [](int, int) { return hex(0xff3040); });
    for (int x = 267; x < 320; ++x) {
        const float t = (x - 267) / 53.0f;
        for (int y = int(141 - 16 * t); y <= int(143 + 14 * t); ++y)
            if ((1.0f - t) * 0.45f > bayer(x, y))
                img.blend(x, y, hex(0xfff4b0, 150));
    }
}

// Wheels: tyre, whitewall, hubcap.
void sideWheels(Image& img) {
    for (int wx : {82, 224}) {
        const int wy = 156;
        for (int y = wy - 13; y <= wy + 13; ++y)
            for (int x = wx - 13; x <= wx + 13; ++x) {
                const float d = std::hypot(float(x - wx), float(y - wy));
                if (d > 13.2f)
                    continue;
                Rgba c = hex(0x16121e);
                if (d > 11.5f && x < wx && y < wy)
                    c = hex(0x3a3448);
                if (d <= 9.5f)
                    c = hex(0xeceaf6);
                if (d <= 7.5f)
                    c = kSteel.at(0.5f + (x - wx + y - wy) / 14.0f * 0.5f, x, y);
                if (d <= 2.5f)
                    c = hex(0xff3040);
                img.set(x, y, c);
            }
    }
}

// The car from the side, at (8, 8): lettering on top, the car on a road.
Image quexMobile() {
    Image img(320, 200);
    sideRoad(img);
    sideTrail(img);
    const Mask body = sideBody(img);
    sideWindows(img);
    sideChrome(img, body);
    sideLamps(img);
    sideWheels(img);
    outline(img, hex(0x12060c));
    // Name plate lettering above, clear of the texts shown over the picture.
    auto sunny = [](float t, int x, int y) {
        return Ramp{0xfff6b0, 0xffd85a, 0xff9a3d, 0xe8506a}.at(t, x, y);
    };
    logoText(img, "QUEXMOBILE", 8, 10, 28, 30, sunny,
             {.side = hex(0x6a1430), .sideDark = hex(0x300818), .depth = 3});
    return img;
}

// ---- the car seen from behind (quexmob_sprite.png), 94 x 87

constexpr float kRearCentre = 46.5f;

float fromRearCentre(float x) {
    return std::abs(x - kRearCentre);
}

// Tyres and a contact shadow.
void rearTyres(Image& img) {
    for (int y = 80; y < 86; ++y)
        for (int x = 2; x < 92; ++x)
            if (std::abs(x - kRearCentre) < 44 - (y - 80) * 2 && bayer(x, y) < 0.55f)
                img.set(x, y, hex(0x05030a, 160));
    for (int y = 64; y < 84; ++y)
        for (int x = 0; x < 94; ++x) {
            const float s = fromRearCentre(x + 0.5f);
            if (s < 26 || s > 42)
                continue;
            const bool tread = (y % 3) == 0;
            img.set(x, y, tread ? hex(0x2e2838) : (s > 39 ? hex(0x221c2c) : hex(0x141018)));
        }
}

// Body and cabin; returns the body's shape for the trim.
Mask rearBody(Image& img) {
    Mask body = shape(94, 87, [&](float x, float y) {
        const float s = fromRearCentre(x);
        if (y >= 36 && y < 70)
            return s < 44.5f - std::max(0.0f, 42 - y) * 0.9f;
        if (y >= 8 && y < 36) {
            const float half = 25 + (y - 8) * 0.42f;
            const float round = y < 12 ? (12 - y) * 1.8f : 0.0f;
            return s < half - round;
        }
        return false;
    });
    const auto bl = bevelLight(body, 6.0f, -0.5f, -0.7f, 0.6f);
    paint(img, body, 0, 0, [&](int x, int y) {
        return kPaintjob.at(0.6f * bl[size_t(y) * 94 + x] + 0.4f * (1.0f - y / 70.0f), x, y);
    });
    return body;
}

// Rear window with the ghost driver's head.
void rearWindow(Image& img) {
    const Mask win = shape(94, 87, [&](float x, float y) {
        if (y < 12 || y > 33)
            return false;
        return fromRearCentre(x) < 20 + (y - 12) * 0.42f - (y < 15 ? (15 - y) * 1.5f : 0.0f);
    });
    const Ramp glass{0x10183a, 0x1a2a5c, 0x2f5a9c, 0x5fa0d8};
    paint(img, win, 0, 0, [&](int x, int y) {
        const bool streak = ((x - y) % 16 + 16) % 16 < 3;
        return glass.at((33 - y) / 21.0f * 0.6f + (streak ? 0.4f : 0.0f), x, y);
    });
    Mask head = shape(94, 87, ellipse(47, 27, 9, 10));
    for (size_t i = 0; i < head.v.size(); ++i)
        head.v[i] &= win.v[i];
    const auto hl = bevelLight(head, 5.0f);
    paint(img, head, 0, 0, [&](int x, int y) {
        return Ramp{0x5b4fa8, 0x9a8fd6, 0xe8e6ff}.at(hl[size_t(y) * 94 + x], x, y);
    });
}

// Trunk seam, chrome strip and the tail lights: glowing red discs with a hot core.
void rearTrimAndLights(Image& img, const Mask& body) {
    for (int x = 0; x < 94; ++x) {
        if (body.get(x, 43) && fromRearCentre(x + 0.5f) < 38)
            img.set(x, 43, hex(0x3a0818));
        if (body.get(x, 48))
            img.set(x, 48, hex(0xffffff));
        if (body.get(x, 49))
            img.set(x, 49, hex(0x8a88a0));
    }
    for (float lx : {12.5f, 81.5f}) {
        const Ramp lamp{0x5a0010, 0xb0101e, 0xff3040, 0xff9a80, 0xfff0d0};
        paint(img, shape(94, 87, ellipse(lx, 56.5f, 7, 6)), 0, 0, [&](int x, int y) {
            const float d = std::hypot(x + 0.5f - lx, (y + 0.5f - 56.5f) * 1.15f) / 7.0f;
            return lamp.at(1.0f - d, x, y);
        });
        paint(img, shape(94, 87, ellipse(lx, 56.5f, 7.8f, 6.8f)), 0, 0, [&](int x, int y) {
            return std::hypot(x + 0.5f - lx, (y + 0.5f - 56.5f) * 1.15f) > 7.0f ? hex(0xd8d8e8)
                                                                                : Rgba{};
        });
    }
}

// Number plate, bumper and exhaust pipe.
void rearPlateAndBumper(Image& img) {
    for (int y = 52; y < 63; ++y)
        for (int x = 30; x < 64; ++x) {
            const bool rim = y == 52 || y == 62 || x == 30 || x == 63;
            img.set(x, y, rim ? hex(0x1a1020) : hex(0xf2d16b));
        }
    plainText(img, "QUEX", 32, 54, 7, 8, hex(0x1a1020));
    for (int y = 65; y < 71; ++y)
        for (int x = 1; x < 93; ++x)
            if (fromRearCentre(x + 0.5f) < 45.5f - (y == 65 || y == 70 ? 1 : 0))
                img.set(x, y, kSteel.at((y - 65) / 5.0f, x, y));
    for (int x = 64; x < 70; ++x)
        for (int y = 71; y < 75; ++y)
            img.set(x, y, (y == 72 && x > 64 && x < 69) ? hex(0x000000) : hex(0x6c6a80));
}

// The car seen from behind, 94 x 87, drawn on the road at native size.
Image quexMobSprite() {
    Image img(94, 87);
    rearTyres(img);
    const Mask body = rearBody(img);
    rearWindow(img);
    rearTrimAndLights(img, body);
    rearPlateAndBumper(img);
    outline(img, hex(0x12060c));
    // Keep the border clear so scaled copies never smear their edges.
    for (int x = 0; x < 94; ++x)
        img.set(x, 0, {}), img.set(x, 86, {});
    for (int y = 0; y < 87; ++y)
        img.set(0, y, {}), img.set(93, y, {});
    return img;
}

// A layered pine, 105 x 193, base on the bottom row (kept clear).
Image treeSprite() {
    Image img(105, 193);
    const float cx = 52.5f;
    const Ramp bark{0x1a0e0a, 0x3a2216, 0x5e3a22, 0x8a5a34};
    for (int y = 150; y < 191; ++y)
        for (int x = 44; x < 61; ++x) {
            const float s = (x + 0.5f - cx) / 8.0f;
            if (std::abs(s) > 1.0f - (y > 186 ? -0.25f : 0.0f))
                continue;
            const float l = 0.5f - 0.45f * s + ((x + y / 7) % 5 == 0 ? -0.3f : 0.0f);
            img.set(x, y, bark.at(l, x, y));
        }
    struct Tier {
        float apex, base, half;
    };
    const Tier tiers[] = {{3, 56, 22}, {30, 92, 33}, {60, 128, 43}, {92, 166, 51}};
    std::vector<Mask> masks;
    for (const Tier& t : tiers)
        masks.push_back(shape(105, 193, [&](float x, float y) {
            if (y < t.apex)
                return false;
            const float k = (y - t.apex) / (t.base - t.apex);
            const float half = t.half * std::pow(k, 0.85f);
            const float s = std::abs(x - cx);
            if (s > half)
                return false;
            const float tooth = std::abs(std::fmod(s + 100.0f, 11.0f) - 5.5f) / 5.5f;
            return y < t.base - 7.0f * tooth - s * 0.12f;
        }));
    const Ramp needles{0x0b211d, 0x123a2c, 0x1b5636, 0x287440, 0x3f9450, 0x75b862, 0xbfe08a};
    for (int i = 3; i >= 0; --i) {
        const auto l = bevelLight(masks[i], 9.0f);
        paint(img, masks[i], 0, 0, [&](int x, int y) {
            float t = 0.1f + 0.9f * l[size_t(y) * 105 + x];
            t += (hash2(x / 2, y / 2, i) - 0.5f) * 0.18f;
            if (i > 0 && masks[i - 1].get(x, y - 5))
                t *= 0.45f; // under the tier above
            if (!masks[i].get(x, y + 1))
                t = 0.0f; // dark hem
            return needles.at(t, x, y);
        });
    }
    // Moonlit rim on the left of every tier.
    for (int i = 0; i < 4; ++i)
        for (int y = 0; y < 193; ++y)
            for (int x = 0; x < 53; ++x)
                if (masks[i].get(x, y) && !masks[i].get(x - 1, y) && (y % 3) != 0) {
                    bool covered = false;
                    for (int j = 0; j < i; ++j)
                        covered |= masks[j].get(x, y);
                    if (!covered)
                        img.set(x, y, hex(0xbfe08a));
                }
    outline(img, hex(0x06120e));
    for (int x = 0; x < 105; ++x)
        img.set(x, 192, {});
    return img;
}

// A faceted boulder with moss, 152 x 150.
Image rockSprite() {
    Image img(152, 150);
    const Mask m = shape(152, 150,
                         polygon({{8, 147},
                                  {4, 124},
                                  {10, 100},
                                  {20, 80},
                                  {34, 66},
                                  {50, 50},
                                  {70, 42},
                                  {84, 35},
                                  {104, 38},
                                  {118, 48},
                                  {132, 57},
                                  {142, 76},
                                  {148, 98},
                                  {145, 124},
                                  {148, 147}}));
    const auto l = bevelLight(m, 40.0f);
    // Facets: nearest of a few seeds, each tilted its own way.
    struct Seed {
        float x, y, tilt;
    };
    std::vector<Seed> seeds;
    for (int i = 0; i < 11; ++i)
        seeds.push_back({14 + hash2(i, 0, 11) * 124, 48 + hash2(i, 1, 11) * 96,
                         (hash2(i, 2, 11) - 0.5f) * 0.28f});
    auto facet = [&](int x, int y) {
        int best = 0;
        float bd = 1e9f;
        for (int i = 0; i < int(seeds.size()); ++i) {
            const float d = std::hypot(x - seeds[i].x, (y - seeds[i].y) * 1.2f);
            if (d < bd)
                bd = d, best = i;
        }
        return best;
    };
    const Ramp stone{0x14151e, 0x262938, 0x3c4256, 0x586178, 0x7d889e, 0xa8b2c4, 0xd2dae5};
    const Ramp moss{0x16301f, 0x24482a, 0x3a6a34, 0x6a9a4a};
    paint(img, m, 0, 0, [&](int x, int y) {
        const int f = facet(x, y);
        // Bevel light plus a broad fall-off away from the moon (upper left).
        const float broad = 1.0f - 0.55f * (x / 152.0f) - 0.6f * ((y - 40) / 110.0f);
        float t = 0.05f + 0.5f * l[size_t(y) * 152 + x] + 0.45f * broad + seeds[f].tilt;
        if (facet(x + 1, y) != f || facet(x, y + 1) != f)
            t -= 0.22f; // crease
        else if (facet(x, y - 1) != f || facet(x - 1, y) != f)
            t += 0.12f; // lit lip
        const float mossy = (80 - y) / 30.0f + (hash2(x / 3, y / 3, 5) - 0.5f) * 0.9f;
        if (mossy > 0.35f && l[size_t(y) * 152 + x] > 0.35f)
            return moss.at(t, x, y);
        return stone.at(t, x, y);
    });
    // A couple of pebbles at its foot.
    for (auto [px, py, r] : {std::tuple{20.f, 144.f, 4.f}, std::tuple{132.f, 145.f, 3.f}}) {
        const Mask p = shape(152, 150, ellipse(px, py, r + 1, r));
        const auto pl = bevelLight(p, r);
        paint(img, p, 0, 0,
              [&](int x, int y) { return stone.at(0.2f + 0.7f * pl[size_t(y) * 152 + x], x, y); });
    }
    outline(img, hex(0x08080e));
    for (int x = 0; x < 152; ++x)
        img.set(x, 149, {});
    return img;
}

// The final-pass mask: white with faint scanlines and a soft vignette.
Image screenMask() {
    Image img(320, 180);
    for (int y = 0; y < 180; ++y)
        for (int x = 0; x < 320; ++x) {
            const float u = (x + 0.5f) / 160.0f - 1.0f, v = (y + 0.5f) / 90.0f - 1.0f;
            const float r = std::sqrt(u * u * 0.8f + v * v);
            float k = 1.0f - 0.22f * smoothstep(0.75f, 1.35f, r);
            if (y % 2 == 1)
                k *= 0.9f;
            const auto c = std::uint8_t(std::lround(255 * k));
            img.set(x, y, {c, c, c, 255});
        }
    return img;
}

// ---------------------------------------------------------------- the icon

// The icon's ground: a rounded square of the title's night sky falling into
// its pink horizon haze, with a dark rim.
Image iconGround(int size) {
    Image img(size, size);
    const Ramp sky{0x1b2466, 0x2a0b46, 0x3a0e52, 0x8a2282, 0xe04aa8};
    const float radius = size / 5.0f;
    const float rim = std::max(1.0f, size / 32.0f);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            // Distance inside the rounded square's edge, in pixels.
            const float cx = std::clamp(x + 0.5f, radius, size - radius);
            const float cy = std::clamp(y + 0.5f, radius, size - radius);
            const float inside = radius - std::hypot(x + 0.5f - cx, y + 0.5f - cy);
            if (inside <= 0.0f)
                continue;
            Rgba c = inside <= rim ? hex(0x0a0820) : sky.at((y + 0.5f) / size, x, y);
            c.a = std::uint8_t(255 * std::min(1.0f, inside));
            img.set(x, y, c);
        }
    return img;
}

// A square of `src` (left, top, side) shrunk onto `side` x `side` pixels,
// each the average of 4 x 4 samples weighted by their alpha.
Image shrunk(const Image& src, int left, int top, int from, int side) {
    Image out(side, side);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            float r = 0, g = 0, b = 0, a = 0;
            for (int sy = 0; sy < 4; ++sy)
                for (int sx = 0; sx < 4; ++sx) {
                    const Rgba p = src.get(left + int((x + (sx + 0.5f) / 4) * from / side),
                                           top + int((y + (sy + 0.5f) / 4) * from / side));
                    r += p.r * p.a, g += p.g * p.a, b += p.b * p.a, a += p.a;
                }
            if (a > 0)
                out.set(x, y,
                        {std::uint8_t(std::lround(r / a)), std::uint8_t(std::lround(g / a)),
                         std::uint8_t(std::lround(b / a)), std::uint8_t(std::lround(a / 16))});
        }
    return out;
}

// The demo's icon at one size: the big ghost on the icon's ground; at 32 px
// and below the road ghost's pixel art, which stays readable where the big
// ghost would blur.
Image appIcon(int size, const Image& bigGhost, const Image& roadGhost) {
    Image img = iconGround(size);
    if (size <= 32) {
        const int scale = std::max(1, size / 16);
        Image ghost(16 * scale, 16 * scale);
        for (int y = 0; y < ghost.h; ++y)
            for (int x = 0; x < ghost.w; ++x)
                ghost.set(x, y, roadGhost.get(x / scale, y / scale));
        img.draw(ghost, (size - ghost.w) / 2, (size - ghost.h) / 2);
        return img;
    }
    // The ghost with its arms and sparkles spans about 98 px of its picture.
    const int side = size * 27 / 32;
    img.draw(shrunk(bigGhost, 146, 38, 98, side), (size - side) / 2, (size - side) / 2 + size / 64);
    return img;
}

const int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

// A Windows icon file holding PNG images, one a size (Windows Vista and later
// read them).
bool writeIco(const std::string& path, const std::vector<Image>& icons) {
    std::vector<std::vector<unsigned char>> pngs;
    for (const Image& img : icons) {
        int length = 0;
        unsigned char* png =
            stbi_write_png_to_mem(reinterpret_cast<const unsigned char*>(img.px.data()), img.w * 4,
                                  img.w, img.h, 4, &length);
        if (png == nullptr)
            return false;
        pngs.emplace_back(png, png + length);
        STBIW_FREE(png);
    }
    std::vector<unsigned char> out;
    auto u16 = [&](unsigned v) { out.insert(out.end(), {std::uint8_t(v), std::uint8_t(v >> 8)}); };
    auto u32 = [&](std::uint32_t v) {
        u16(v & 0xffff);
        u16(v >> 16);
    };
    u16(0);
    u16(1); // an icon
    u16(unsigned(icons.size()));
    std::uint32_t offset = 6 + 16 * std::uint32_t(icons.size());
    for (std::size_t i = 0; i < icons.size(); ++i) {
        const int side = icons[i].w;
        out.push_back(std::uint8_t(side >= 256 ? 0 : side)); // 0 stands for 256
        out.push_back(std::uint8_t(side >= 256 ? 0 : side));
        out.push_back(0); // no palette
        out.push_back(0);
        u16(1);  // planes
        u16(32); // bits per pixel
        u32(std::uint32_t(pngs[i].size()));
        u32(offset);
        offset += std::uint32_t(pngs[i].size());
    }
    for (const auto& png : pngs)
        out.insert(out.end(), png.begin(), png.end());
    std::FILE* f = std::fopen(path.c_str(), "wb");
    const bool ok = f && std::fwrite(out.data(), 1, out.size(), f) == out.size();
    if (f == nullptr || std::fclose(f) != 0 || !ok) {
        std::fprintf(stderr, "[gen_pictures] cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

// ----------------------------------------------------------- contact sheet

Image checker(int w, int h) {
    Image img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.set(x, y, ((x / 8 + y / 8) & 1) ? hex(0x24242e) : hex(0x2c2c38));
    return img;
}

// The atlas drawn the way the text renderers sample it, 16 px per byte.
void atlasText(Image& dst, const Image& atlas, std::string_view s, int x, int y, Rgba ink) {
    for (unsigned char c : s) {
        const int i = c < 32 ? 0 : c - 32;
        const int cx = i % 16 * 16, cy = i / 16 * 16;
        for (int py = 0; py < 16; ++py)
            for (int px = 0; px < 16; ++px) {
                // Half-pixel inset: 16 output pixels span texels 0.5 .. 15.5.
                const int tx = cx + int(0.5f + (px + 0.5f) * 15.0f / 16.0f);
                const int ty = cy + int(0.5f + (py + 0.5f) * 15.0f / 16.0f);
                if (atlas.get(tx, ty).a)
                    dst.blend(x + px, y + py, ink);
            }
        x += 16;
    }
}

struct Named {
    const char* name;
    Image img;
};

Image contactSheet(const std::vector<Named>& all, const Image& atlas) {
    const int W = 3 * 320 + 4 * 10;
    Image sheet = checker(W, 740);
    auto label = [&](std::string_view s, int x, int y) {
        plainText(sheet, s, x, y, 7, 8, hex(0xe8e8f0));
    };
    auto find = [&](std::string_view n) -> const Image& {
        for (const Named& p : all)
            if (n == p.name)
                return p.img;
        return all[0].img;
    };
    const char* row1[] = {"QUEXELOGO", "LOGO", "LOGO2"};
    const char* row2[] = {"QUEXMOBILE", "ZEMKOGHOST", "OVERLAY"};
    for (int i = 0; i < 3; ++i) {
        const int x = 10 + i * 330;
        label(row1[i], x, 6);
        sheet.draw(find(row1[i]), x, 16);
        label(row2[i], x, 226);
        sheet.draw(find(row2[i]), x, 236);
    }
    label("FONT", 10, 446);
    sheet.draw(atlas, 10, 456);
    int x = 280;
    for (const char* n : {"SPRITE_TREE", "SPRITE_ROCK", "QUEXMOB_SPRITE", "GHOST_SPRITE"}) {
        const Image& s = find(n);
        label(n, x, 446);
        sheet.draw(s, x, 456);
        x += std::max(s.w, int(std::string_view(n).size()) * 8) + 14;
    }
    // Road preview: sprites shrunk as the road scene draws them at a distance.
    {
        Image road(300, 70);
        for (int y = 0; y < 70; ++y)
            for (int X = 0; X < 300; ++X)
                road.set(X, y,
                         y < 30
                             ? Ramp{0x05081c, 0x26598e}.at(y / 30.0f, X, y)
                             : (std::abs(X - 150) < (y - 28) * 3 ? hex(0x1e1b28) : hex(0x0b1a1d)));
        auto put = [&](const Image& s, int cx, int base, int w, int h) {
            for (int y = 0; y < h; ++y)
                for (int X = 0; X < w; ++X)
                    road.blend(cx - w / 2 + X, base - h + y, s.get(X * s.w / w, y * s.h / h));
        };
        put(find("SPRITE_TREE"), 40, 60, 24, 44);
        put(find("SPRITE_TREE"), 80, 40, 12, 22);
        put(find("SPRITE_ROCK"), 250, 62, 30, 30);
        put(find("GHOST_SPRITE"), 170, 42, 20, 20);
        put(find("QUEXMOB_SPRITE"), 140, 70, 47, 43);
        label("ROAD PREVIEW", 640, 600);
        sheet.draw(road, 640, 610);
    }
    label("SAMPLE TEXT", 280, 686);
    atlasText(sheet, atlas, "QUEX INVI! 0123456789 ?:-)", 280, 696, hex(0xffffff));
    atlasText(sheet, atlas, "THE GHOST DRIVES TONIGHT...", 280, 716, hex(0x8ff0ff));
    return sheet;
}

bool writePng(const std::string& path, const Image& img) {
    if (!stbi_write_png(path.c_str(), img.w, img.h, 4, img.px.data(), img.w * 4)) {
        std::fprintf(stderr, "[gen_pictures] cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const std::string root = argc > 1 ? argv[1] : ".";
    stbi_write_png_compression_level = 9;
    const Image atlas = fontAtlas();
    const std::vector<Named> all = {
        {"QUEXELOGO", quexeLogo()},    {"QUEXMOB_SPRITE", quexMobSprite()},
        {"QUEXMOBILE", quexMobile()},  {"GHOST_SPRITE", ghostSprite()},
        {"ZEMKOGHOST", zemkoGhost()},  {"LOGO", titleLogo()},
        {"LOGO2", endLogo()},          {"OVERLAY", screenMask()},
        {"SPRITE_ROCK", rockSprite()}, {"SPRITE_TREE", treeSprite()},
    };
    bool ok = writePng(root + "/assets/textures/font.png", atlas);
    for (const Named& p : all) {
        std::string file;
        for (const char* c = p.name; *c; ++c)
            file += char(*c >= 'A' && *c <= 'Z' ? *c + 32 : *c);
        ok &= writePng(root + "/assets/textures/" + file + ".png", p.img);
    }
    ok &= writePng(root + "/docs/contact_sheet.png", contactSheet(all, atlas));

    // The icon for the desktop's menus (hicolor sizes) and for the Windows executable.
    std::vector<Image> icons;
    std::filesystem::create_directories(root + "/packaging/icons");
    for (int size : kIconSizes) {
        icons.push_back(appIcon(size, all[4].img, all[3].img));
        ok &= writePng(root + "/packaging/icons/quex-invi-" + std::to_string(size) + ".png",
                       icons.back());
    }
    ok &= writeIco(root + "/packaging/icons/quex_invi.ico", icons);
    return ok ? 0 : 1;
}
