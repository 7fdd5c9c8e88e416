#include "scenes/render_target_guard.h"

#include "render/gl.h"

SavedRenderTarget SavedRenderTarget::capture() {
    SavedRenderTarget saved;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &saved.framebuffer);
    glGetIntegerv(GL_VIEWPORT, saved.viewport);
    return saved;
}

void SavedRenderTarget::restore() const {
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(framebuffer));
    glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
}
