#pragma once

#include "render/texture.h"

#include <array>
#include <cstdint>

// The bitmap font atlas: a 16 x 16 grid of cells, byte 32 in the first cell.
class Font {
  public:
    Texture atlas;
    int glyphW = 8;
    int glyphH = 8;
    int cols = 16;
    int rows = 16;

    bool load(const char* path, int glyphWidth, int glyphHeight);
    bool load_mem(const unsigned char* bytes, std::int32_t size, int glyphWidth, int glyphHeight);
    // Archive first, then the file.
    bool loadNamed(const char* name, int glyphWidth, int glyphHeight);
    // (ua, va, ub, vb): the cell of byte c, v = 0 at the top of the atlas.
    std::array<float, 4> glyphUv(unsigned char c) const;
};
