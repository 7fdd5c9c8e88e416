#include "render/font.h"

// Placeholder until the font lands.
bool Font::load(const char*, int, int) {
    return false;
}
bool Font::load_mem(const unsigned char*, std::int32_t, int, int) {
    return false;
}
bool Font::loadNamed(const char*, int, int) {
    return false;
}
std::array<float, 4> Font::glyphUv(unsigned char) const {
    return {0, 0, 0, 0};
}
