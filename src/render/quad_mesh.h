#pragma once

#include <cstdint>

// The unit square every sprite and glyph is drawn with; uv equals position.
class QuadMesh {
  public:
    std::uint32_t vao = 0;
    std::uint32_t vbo = 0;

    void init();
    void draw() const;
    void release();
};
