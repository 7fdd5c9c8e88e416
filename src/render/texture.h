#pragma once

#include <cstdint>

// One RGBA8 2-D texture decoded from a PNG, top row first.
class Texture {
  public:
    std::uint32_t id = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;

    bool load(const char* path, bool nearest);
    bool load_mem(const unsigned char* bytes, std::int32_t size, bool nearest);
    void bind(int unit) const;
    void release();

    // Archive first, then the file of the same relative path.
    bool loadNamed(const char* name, bool nearest);
    // Whether loadNamed would find and decode this image; needs no GL.
    static bool canLoad(const char* name);

  private:
    void upload(const unsigned char* pixels, bool nearest);
};
