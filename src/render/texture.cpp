#include "render/texture.h"

#include "base/log.h"
#include "core/asset_archive.h"
#include "render/gl.h"

#include <climits>
#include <stb/stb_image.h>

bool Texture::load(const char* path, bool nearest) {
    stbi_set_flip_vertically_on_load(0);
    int channels = 0;
    unsigned char* pixels = stbi_load(path, &width, &height, &channels, 4);
    if (pixels == nullptr) {
        logLine(stderr, "[Texture] failed: %s\n", path);
        return false;
    }
    upload(pixels, nearest);
    stbi_image_free(pixels);
    return true;
}

bool Texture::load_mem(const unsigned char* bytes, std::int32_t size, bool nearest) {
    stbi_set_flip_vertically_on_load(0);
    int channels = 0;
    unsigned char* pixels = (bytes == nullptr || size <= 0)
                                ? nullptr
                                : stbi_load_from_memory(bytes, size, &width, &height, &channels, 4);
    if (pixels == nullptr) {
        logLine(stderr, "[Texture] load_mem failed\n");
        return false;
    }
    upload(pixels, nearest);
    stbi_image_free(pixels);
    return true;
}

bool Texture::loadNamed(const char* name, bool nearest) {
    std::size_t size = 0;
    const unsigned char* bytes = AssetArchive::find(name, &size);
    if (bytes != nullptr && size <= static_cast<std::size_t>(INT32_MAX)) {
        return load_mem(bytes, static_cast<std::int32_t>(size), nearest);
    }
    return load(name, nearest);
}

bool Texture::canLoad(const char* name) {
    std::size_t size = 0;
    const unsigned char* bytes = AssetArchive::find(name, &size);
    int w = 0;
    int h = 0;
    int channels = 0;
    unsigned char* pixels = nullptr;
    if (bytes != nullptr && size <= static_cast<std::size_t>(INT32_MAX)) {
        pixels = stbi_load_from_memory(bytes, static_cast<int>(size), &w, &h, &channels, 4);
    } else {
        pixels = stbi_load(name, &w, &h, &channels, 4);
    }
    stbi_image_free(pixels);
    return pixels != nullptr;
}

void Texture::upload(const unsigned char* pixels, bool nearest) {
    const GLint filter = nearest ? GL_NEAREST : GL_LINEAR;
    glGenTextures(1, &id);
    glBindTexture(GL_TEXTURE_2D, id);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glBindTexture(GL_TEXTURE_2D, 0);
}

void Texture::bind(int unit) const {
    glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(unit));
    glBindTexture(GL_TEXTURE_2D, id);
}

void Texture::release() {
    if (id != 0) {
        glDeleteTextures(1, &id);
        id = 0;
    }
}
