#include "scenes/scene_state.h"

#include "render/gl.h"

namespace {

struct Format {
    GLenum format;
    GLenum type;
    std::size_t bytes; // per texel
};

Format formatOf(int internalFormat) {
    switch (internalFormat) {
    case GL_RGBA16F:
        return {GL_RGBA, GL_FLOAT, 8};
    case GL_RG16F:
        return {GL_RG, GL_FLOAT, 4};
    case GL_R16F:
        return {GL_RED, GL_FLOAT, 2};
    default:
        return {GL_RGBA, GL_UNSIGNED_BYTE, 4};
    }
}

// Both framebuffer bindings, put back after a copy so the caller's target
// stays bound.
struct SavedBindings {
    GLint read = 0;
    GLint draw = 0;
    SavedBindings() {
        glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &read);
        glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &draw);
    }
    ~SavedBindings() {
        glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(read));
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(draw));
    }
};

void attach(GLenum binding, GLuint texture, int depth, int layer) {
    if (depth == 0) {
        glFramebufferTexture2D(binding, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    } else {
        glFramebufferTextureLayer(binding, GL_COLOR_ATTACHMENT0, texture, 0, layer);
    }
}

// A texel-exact copy, layer by layer: a blit between equal formats and sizes
// converts nothing. The two framebuffers live only for the copy.
bool copyImage(GLuint from, GLuint to, int width, int height, int depth) {
    const SavedBindings saved;
    GLuint framebuffers[2] = {0, 0};
    glGenFramebuffers(2, framebuffers);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffers[0]);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffers[1]);
    bool complete = true;
    for (int layer = 0; layer < (depth == 0 ? 1 : depth) && complete; ++layer) {
        attach(GL_READ_FRAMEBUFFER, from, depth, layer);
        attach(GL_DRAW_FRAMEBUFFER, to, depth, layer);
        complete = glCheckFramebufferStatus(GL_READ_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE &&
                   glCheckFramebufferStatus(GL_DRAW_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
        if (complete) {
            glBlitFramebuffer(0, 0, width, height, 0, 0, width, height, GL_COLOR_BUFFER_BIT,
                              GL_NEAREST);
        }
    }
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glDeleteFramebuffers(2, framebuffers);
    return complete;
}

} // namespace

bool SceneState::save(std::uint32_t texture, int width, int height, int depth, int internalFormat) {
    const Format f = formatOf(internalFormat);
    const GLenum target = depth == 0 ? GL_TEXTURE_2D : GL_TEXTURE_3D;
    GLint bound = 0;
    glGetIntegerv(depth == 0 ? GL_TEXTURE_BINDING_2D : GL_TEXTURE_BINDING_3D, &bound);
    Image image{0, width, height, depth};
    glGenTextures(1, &image.texture);
    glBindTexture(target, image.texture);
    if (depth == 0) {
        glTexImage2D(target, 0, internalFormat, width, height, 0, f.format, f.type, nullptr);
    } else {
        glTexImage3D(target, 0, internalFormat, width, height, depth, 0, f.format, f.type, nullptr);
    }
    glTexParameteri(target, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(target, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glBindTexture(target, static_cast<GLuint>(bound));
    images.push_back(image);
    bytes += static_cast<std::size_t>(width) * height * (depth == 0 ? 1 : depth) * f.bytes;
    return copyImage(texture, image.texture, width, height, depth);
}

void SceneState::restore(std::size_t index, std::uint32_t texture) const {
    if (index < images.size() && texture != 0) {
        const Image& image = images[index];
        copyImage(image.texture, texture, image.width, image.height, image.depth);
    }
}

void SceneState::release() {
    for (Image& image : images) {
        if (image.texture != 0) {
            glDeleteTextures(1, &image.texture);
        }
    }
    images.clear();
    counters.clear();
    bytes = 0;
}
