#pragma once

// Small software rasteriser for the picture generator: RGBA images, coverage
// masks, ordered-dither colour ramps, bevel shading and outlines. Everything
// is integer or plain float arithmetic so the output is the same on every run.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <utility>
#include <vector>

namespace pic {

struct Rgba {
    std::uint8_t r = 0, g = 0, b = 0, a = 0;
};

inline Rgba hex(std::uint32_t rgb, std::uint8_t a = 255) {
    return {std::uint8_t(rgb >> 16), std::uint8_t(rgb >> 8), std::uint8_t(rgb), a};
}

inline Rgba mix(Rgba p, Rgba q, float t) {
    auto m = [t](int a, int b) { return std::uint8_t(std::lround(a + (b - a) * t)); };
    return {m(p.r, q.r), m(p.g, q.g), m(p.b, q.b), m(p.a, q.a)};
}

struct Image {
    int w = 0, h = 0;
    std::vector<Rgba> px;
    Image() = default;
    Image(int width, int height, Rgba fill = {}) : w(width), h(height), px(size_t(w) * h, fill) {}
    bool in(int x, int y) const { return x >= 0 && y >= 0 && x < w && y < h; }
    Rgba& at(int x, int y) { return px[size_t(y) * w + x]; }
    Rgba get(int x, int y) const { return in(x, y) ? px[size_t(y) * w + x] : Rgba{}; }
    void set(int x, int y, Rgba c) {
        if (in(x, y))
            at(x, y) = c;
    }
    // Source-over blend; keeps flat colours exact when either side is opaque.
    void blend(int x, int y, Rgba c) {
        if (!in(x, y) || c.a == 0)
            return;
        Rgba& d = at(x, y);
        if (c.a == 255 || d.a == 0) {
            d = c;
            return;
        }
        const float sa = c.a / 255.0f, da = d.a / 255.0f;
        const float oa = sa + da * (1 - sa);
        auto ch = [&](int s, int dd) {
            return std::uint8_t(std::lround((s * sa + dd * da * (1 - sa)) / oa));
        };
        d = {ch(c.r, d.r), ch(c.g, d.g), ch(c.b, d.b), std::uint8_t(std::lround(oa * 255))};
    }
    void draw(const Image& src, int ox, int oy) {
        for (int y = 0; y < src.h; ++y)
            for (int x = 0; x < src.w; ++x)
                blend(ox + x, oy + y, src.px[size_t(y) * src.w + x]);
    }
};

struct Mask {
    int w = 0, h = 0;
    std::vector<std::uint8_t> v;
    Mask() = default;
    Mask(int width, int height) : w(width), h(height), v(size_t(w) * h, 0) {}
    bool get(int x, int y) const {
        return x >= 0 && y >= 0 && x < w && y < h && v[size_t(y) * w + x];
    }
    void set(int x, int y, bool on = true) {
        if (x >= 0 && y >= 0 && x < w && y < h)
            v[size_t(y) * w + x] = on ? 1 : 0;
    }
    template <class F> void fill(F inside) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (inside(x + 0.5f, y + 0.5f))
                    set(x, y);
    }
    void add(const Mask& o, int ox = 0, int oy = 0) {
        for (int y = 0; y < o.h; ++y)
            for (int x = 0; x < o.w; ++x)
                if (o.get(x, y))
                    set(ox + x, oy + y);
    }
    void cut(const Mask& o) {
        for (size_t i = 0; i < v.size(); ++i)
            if (o.v[i])
                v[i] = 0;
    }
    Mask dilated(int r) const {
        Mask out(w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                bool hit = false;
                for (int dy = -r; dy <= r && !hit; ++dy)
                    for (int dx = -r; dx <= r && !hit; ++dx)
                        if (dx * dx + dy * dy <= r * r + r)
                            hit = get(x + dx, y + dy);
                out.set(x, y, hit);
            }
        return out;
    }
    bool edge(int x, int y) const {
        return get(x, y) && (!get(x - 1, y) || !get(x + 1, y) || !get(x, y - 1) || !get(x, y + 1));
    }
};

// Shape tests in pixel-centre coordinates.
inline auto ellipse(float cx, float cy, float rx, float ry) {
    return [=](float x, float y) {
        const float u = (x - cx) / rx, v = (y - cy) / ry;
        return u * u + v * v <= 1.0f;
    };
}

inline bool insidePolygon(const std::vector<std::pair<float, float>>& p, float x, float y) {
    bool in = false;
    for (size_t i = 0, j = p.size() - 1; i < p.size(); j = i++) {
        const auto [xi, yi] = p[i];
        const auto [xj, yj] = p[j];
        if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi)
            in = !in;
    }
    return in;
}

inline auto polygon(std::vector<std::pair<float, float>> pts) {
    return [pts = std::move(pts)](float x, float y) { return insidePolygon(pts, x, y); };
}

// 4x4 Bayer threshold in (0, 1).
inline float bayer(int x, int y) {
    static const int m[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    return (m[y & 3][x & 3] + 0.5f) / 16.0f;
}

// A list of flat colours; in-between values are ordered-dithered so the
// pictures keep a small palette and compress well.
struct Ramp {
    std::vector<Rgba> c;
    Ramp(std::initializer_list<std::uint32_t> rgb) {
        for (auto v : rgb)
            c.push_back(hex(v));
    }
    Rgba at(float t, int x, int y) const {
        t = std::clamp(t, 0.0f, 1.0f) * float(c.size() - 1);
        const int base = std::min(int(t), int(c.size()) - 1);
        const float frac = t - base;
        return c[std::min(base + (frac > bayer(x, y) ? 1 : 0), int(c.size()) - 1)];
    }
};

inline float smoothstep(float a, float b, float x) {
    const float t = std::clamp((x - a) / (b - a), 0.0f, 1.0f);
    return t * t * (3 - 2 * t);
}

// Chamfer distance (in pixels) from each inside pixel to the nearest outside one.
inline std::vector<float> insideDistance(const Mask& m) {
    const float big = 1e6f;
    std::vector<float> d(m.v.size());
    for (size_t i = 0; i < d.size(); ++i)
        d[i] = m.v[i] ? big : 0;
    auto D = [&](int x, int y) {
        return (x < 0 || y < 0 || x >= m.w || y >= m.h) ? 0.0f : d[size_t(y) * m.w + x];
    };
    for (int y = 0; y < m.h; ++y)
        for (int x = 0; x < m.w; ++x) {
            float& c = d[size_t(y) * m.w + x];
            if (c == 0)
                continue;
            c = std::min({c, D(x - 1, y) + 1, D(x, y - 1) + 1, D(x - 1, y - 1) + 1.4142f,
                          D(x + 1, y - 1) + 1.4142f});
        }
    for (int y = m.h - 1; y >= 0; --y)
        for (int x = m.w - 1; x >= 0; --x) {
            float& c = d[size_t(y) * m.w + x];
            if (c == 0)
                continue;
            c = std::min({c, D(x + 1, y) + 1, D(x, y + 1) + 1, D(x + 1, y + 1) + 1.4142f,
                          D(x - 1, y + 1) + 1.4142f});
        }
    return d;
}

// Lambert light on a rounded bevel of the given radius: 0 in shadow, 1 lit.
// The light comes from the upper left, a little towards the viewer.
inline std::vector<float> bevelLight(const Mask& m, float radius, float lx = -0.55f,
                                     float ly = -0.65f, float lz = 0.52f) {
    const auto d = insideDistance(m);
    std::vector<float> hgt(d.size());
    for (size_t i = 0; i < d.size(); ++i) {
        const float t = 1.0f - std::min(d[i], radius) / radius;
        hgt[i] = m.v[i] ? std::sqrt(std::max(0.0f, 1.0f - t * t)) * radius : 0.0f;
    }
    const float ll = std::sqrt(lx * lx + ly * ly + lz * lz);
    std::vector<float> out(d.size(), 0.0f);
    auto H = [&](int x, int y) {
        x = std::clamp(x, 0, m.w - 1);
        y = std::clamp(y, 0, m.h - 1);
        return hgt[size_t(y) * m.w + x];
    };
    for (int y = 0; y < m.h; ++y)
        for (int x = 0; x < m.w; ++x) {
            if (!m.get(x, y))
                continue;
            const float gx = (H(x + 1, y) - H(x - 1, y)) * 0.5f;
            const float gy = (H(x, y + 1) - H(x, y - 1)) * 0.5f;
            const float n = std::sqrt(gx * gx + gy * gy + 1.0f);
            const float dot = (-gx * lx - gy * ly + lz) / (n * ll);
            out[size_t(y) * m.w + x] = std::clamp(dot, 0.0f, 1.0f);
        }
    return out;
}

// Paints every pixel of the mask with colour(x, y).
template <class F> void paint(Image& img, const Mask& m, int ox, int oy, F colour) {
    for (int y = 0; y < m.h; ++y)
        for (int x = 0; x < m.w; ++x)
            if (m.get(x, y))
                img.blend(ox + x, oy + y, colour(x, y));
}

// Rings transparent pixels next to opaque ones (4-neighbours, or 8 with diag).
inline void outline(Image& img, Rgba c, bool diag = false) {
    Image src = img;
    for (int y = 0; y < img.h; ++y)
        for (int x = 0; x < img.w; ++x) {
            if (src.get(x, y).a != 0)
                continue;
            bool near = src.get(x - 1, y).a > 127 || src.get(x + 1, y).a > 127 ||
                        src.get(x, y - 1).a > 127 || src.get(x, y + 1).a > 127;
            if (diag && !near)
                near = src.get(x - 1, y - 1).a > 127 || src.get(x + 1, y - 1).a > 127 ||
                       src.get(x - 1, y + 1).a > 127 || src.get(x + 1, y + 1).a > 127;
            if (near)
                img.at(x, y) = c;
        }
}

// Scale2x: doubles a bitmap and rounds its staircases.
inline Mask scale2x(const Mask& m) {
    Mask o(m.w * 2, m.h * 2);
    for (int y = 0; y < m.h; ++y)
        for (int x = 0; x < m.w; ++x) {
            const bool P = m.get(x, y), A = m.get(x, y - 1), B = m.get(x + 1, y),
                       C = m.get(x - 1, y), D = m.get(x, y + 1);
            bool e0 = P, e1 = P, e2 = P, e3 = P;
            if (B != C && A != D) {
                e0 = C == A ? A : P;
                e1 = A == B ? B : P;
                e2 = D == C ? C : P;
                e3 = B == D ? D : P;
            }
            o.set(2 * x, 2 * y, e0);
            o.set(2 * x + 1, 2 * y, e1);
            o.set(2 * x, 2 * y + 1, e2);
            o.set(2 * x + 1, 2 * y + 1, e3);
        }
    return o;
}

inline Mask resized(const Mask& m, int w, int h) {
    Mask o(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            o.set(x, y, m.get(x * m.w / w, y * m.h / h));
    return o;
}

// Deterministic hash noise in [0, 1).
inline float hash2(int x, int y, int seed = 0) {
    std::uint32_t h = std::uint32_t(x) * 374761393u + std::uint32_t(y) * 668265263u +
                      std::uint32_t(seed) * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return (h & 0xFFFFFF) / 16777216.0f;
}

} // namespace pic
