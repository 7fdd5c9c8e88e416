#pragma once

#include <array>

// Shader sources shared by several renderers.
extern const char* const kFullscreenVS;
extern const char* const kSpriteVS;
extern const char* const kSpriteFS;

using Mat4 = std::array<float, 16>;

// Canvas pixels (origin top-left, y down) to clip space for a W x H target.
Mat4 spriteProjection(int width, int height);
// The unit square onto the rectangle with top-left (x, y) and size w x h.
Mat4 spriteModel(float x, float y, float w, float h);
