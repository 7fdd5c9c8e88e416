#pragma once

#include "render/render_target.h"
#include "render/shader.h"
#include "render/texture.h"

#include <cstdint>

// The 320 x 180 canvas everything draws into, and the final pass that scales
// it to the window.
class PostProcess {
  public:
    RenderTarget canvas;
    std::uint32_t vertexArray = 0;
    Shader program;
    Texture overlay;
    std::int32_t canvasWidth = 0;
    std::int32_t canvasHeight = 0;
    std::int32_t screenWidth = 0;
    std::int32_t screenHeight = 0;
    // Where end() sends the final pass: the window (0), or an offline
    // tool's own target.
    std::uint32_t outputFramebuffer = 0;

    bool init(int canvasW, int canvasH, int screenW, int screenH);
    void begin() const;
    void end() const;
    void present(float time, float bass, bool palette);
    // The window's new size, for a window that can change it (the browser's).
    void resize(int screenW, int screenH);
    void release();

  private:
    bool loadOverlayMask();
    void makeWhiteMask();
};
