#pragma once

#include "render/render_target.h"
#include "render/shader.h"
#include "render/texture.h"

#include <cstdint>
#include <vector>

// The 320 x 180 canvas everything draws into, and the final pass that scales
// it to the window.
class PostProcess {
  public:
    RenderTarget canvas;
    std::uint32_t vertexArray = 0;
    // The final pass in four builds, with and without the glitch bursts and
    // the palette search; present() takes the cheapest that draws the same
    // pixels as the full one.
    static constexpr int kBursts = 2;
    static constexpr int kPaletteSearch = 1;
    static constexpr int kProgramCount = 4;
    Shader programs[kProgramCount];
    // The canvas's green and the mask packed texel for texel by end(), for
    // the builds without bursts; none when the mask is of another size than
    // the canvas.
    RenderTarget greenMask;
    Shader packProgram;
    Texture overlay;
    std::int32_t canvasWidth = 0;
    std::int32_t canvasHeight = 0;
    std::int32_t screenWidth = 0;
    std::int32_t screenHeight = 0;
    // Where end() sends the final pass: the window (0), or an offline
    // tool's own target.
    std::uint32_t outputFramebuffer = 0;
    // Entry k: whether the 3 s window from 3k s flares, as this driver
    // computes it (read back at init).
    std::vector<bool> flaringWindows;
    // Inside a flaring window, whether any glitch acts in this frame: one
    // texel a cell of each glitch's grid, read back.
    RenderTarget glitchProbe;
    Shader probeProgram;

    bool init(int canvasW, int canvasH, int screenW, int screenH);
    void begin() const;
    // Also packs the canvas's green with the mask: nothing may draw into the
    // canvas between end() and present().
    void end() const;
    void present(float time, float bass, bool palette);
    // The same with every glitch evaluated per pixel, whatever the time: what
    // present() must match.
    void presentFull(float time, float bass, bool palette);
    // Whether a glitch burst may show at this time (false: none can).
    bool burstsPossible(float time) const;
    // Whether any glitch acts at this time, asked of the driver (waits for it).
    bool glitchesAct(float time) const;
    // The window's new size, for a window that can change it (the browser's).
    void resize(int screenW, int screenH);
    void release();

  private:
    void draw(float time, float bass, bool palette, bool bursts);
    // The canvas on unit 0, the mask on unit 1 (left active), the empty
    // vertex array.
    void bindInputs() const;
    void readFlaringWindows();
    bool makeGreenMaskPack();
    void makeGlitchProbe();
    bool loadOverlayMask();
    void makeWhiteMask();
};
