#pragma once

#include <array>

using Float3 = std::array<float, 3>;

// The three colours of a scene entry; each scene decides what they mean.
struct Palette3 {
    Float3 low{0.0f, 0.0f, 0.0f};
    Float3 mid{0.5f, 0.5f, 0.5f};
    Float3 high{1.0f, 1.0f, 1.0f};
};

// The fixed size every scene and text effect draws at.
constexpr int kCanvasWidth = 320;
constexpr int kCanvasHeight = 180;
