#include "support/gl_test.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

bool ensureGlContext() {
    // Never torn down: the driver stays loaded until exit, so whatever it keeps
    // for the process is still attributed to it (and suppressed) by the leak check.
    static HeadlessContext* context = new HeadlessContext;
    static const bool ok = context->create();
    return ok;
}

void TestTarget::create(int w, int h) {
    RenderTarget::create(w, h, GL_RGBA, GL_RGBA, GL_UNSIGNED_BYTE, GL_NEAREST, GL_CLAMP_TO_EDGE);
    bind();
}

void TestTarget::clear(float r, float g, float b, float a) const {
    bind();
    glClearColor(r, g, b, a);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
}

std::vector<std::uint8_t> TestTarget::read() const {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
    GLint previous = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &previous);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(previous));
    return pixels;
}

std::array<std::uint8_t, 4> TestTarget::pixelTopDown(int x, int y) const {
    const std::vector<std::uint8_t> all = read();
    const std::size_t i = (static_cast<std::size_t>(height - 1 - y) * width + x) * 4;
    return {all[i], all[i + 1], all[i + 2], all[i + 3]};
}

bool writePng(const std::string& path, const std::vector<std::uint8_t>& rgba, int width,
              int height) {
    stbi_flip_vertically_on_write(1);
    const int ok = stbi_write_png(path.c_str(), width, height, 4, rgba.data(), width * 4);
    stbi_flip_vertically_on_write(0);
    return ok != 0;
}

void applyDemoGlState() {
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_DEPTH_TEST);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
}
