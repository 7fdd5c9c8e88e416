#include "render/font.h"

#include "base/log.h"
#include "core/asset_archive.h"

#include <climits>

bool Font::load(const char* path, int glyphWidth, int glyphHeight) {
    glyphW = glyphWidth;
    glyphH = glyphHeight;
    if (!atlas.load(path, true)) {
        logLine(stderr, "[Font] failed to load atlas: %s\n", path);
        return false;
    }
    return true;
}

bool Font::load_mem(const unsigned char* bytes, std::int32_t size, int glyphWidth,
                    int glyphHeight) {
    glyphW = glyphWidth;
    glyphH = glyphHeight;
    if (!atlas.load_mem(bytes, size, true)) {
        logLine(stderr, "[Font] failed to load atlas from memory\n");
        return false;
    }
    return true;
}

bool Font::loadNamed(const char* name, int glyphWidth, int glyphHeight) {
    std::size_t size = 0;
    const unsigned char* bytes = AssetArchive::find(name, &size);
    if (bytes != nullptr && size <= static_cast<std::size_t>(INT32_MAX)) {
        return load_mem(bytes, static_cast<std::int32_t>(size), glyphWidth, glyphHeight);
    }
    return load(name, glyphWidth, glyphHeight);
}

std::array<float, 4> Font::glyphUv(unsigned char c) const {
    const int index = c < 32 ? 0 : c - 32;
    const int col = index % cols;
    const int row = index / cols;
    const float fcols = static_cast<float>(cols);
    const float frows = static_cast<float>(rows);
    // Pull each edge a quarter of a nominal glyph pixel inwards so nearest
    // sampling never picks up the neighbouring cell. A zero glyph size (no load
    // yet) gets no inset rather than a division by zero.
    const float eu = glyphW > 0 ? 0.25f / (fcols * static_cast<float>(glyphW)) : 0.0f;
    const float ev = glyphH > 0 ? 0.25f / (frows * static_cast<float>(glyphH)) : 0.0f;
    return {static_cast<float>(col) / fcols + eu, static_cast<float>(row) / frows + ev,
            static_cast<float>(col + 1) / fcols - eu, static_cast<float>(row + 1) / frows - ev};
}
