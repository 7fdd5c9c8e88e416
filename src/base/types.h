#pragma once

#include <array>

using Float3 = std::array<float, 3>;

// The three colours of a scene entry; each scene decides what they mean.
struct Palette3 {
    Float3 low{0.0f, 0.0f, 0.0f};
    Float3 mid{0.5f, 0.5f, 0.5f};
    Float3 high{1.0f, 1.0f, 1.0f};
};

// The smoke scene's camera and light where a script entry gives none.
constexpr Float3 kSmokeCam{0.0f, 0.0f, -2.2f};
constexpr float kSmokeFov = 1.3f;
constexpr Float3 kSmokeLightDir{0.45f, 0.35f, 0.85f};
constexpr float kSmokeShadow = 0.6f;
constexpr float kSmokeLightPow = 3.6f;

// The fixed size every scene and text effect draws at.
constexpr int kCanvasWidth = 320;
constexpr int kCanvasHeight = 180;
