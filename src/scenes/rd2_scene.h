#pragma once

#include "render/render_target.h"
#include "render/shader.h"
#include "scenes/iscene.h"

#include <cstdint>

// A reaction-diffusion-like pattern: a blurred scalar field grown along its
// own gradient, stirred by a travelling vortex pair, shown through a palette.
class Rd2Scene : public IScene {
  public:
    void init(int width, int height) override;
    void setAudio(float bass, float treble) override;
    void setPalette(bool enabled, const Float3& low, const Float3& mid,
                    const Float3& high) override;
    void render(double time, double localTime, float alpha) override;
    void release() override;
    bool simulated() const override { return true; }
    void stepSimulation(double time, double localTime) override;
    bool saveState(SceneState& out) const override;
    void restoreState(const SceneState& state) override;

    // Steps during which the field is overwritten with noise.
    static constexpr int kSeedSteps = 10;

    // The texture holding the latest field, and the steps taken so far.
    std::uint32_t fieldTexture() const { return field[current].texture; }
    int steps() const { return frame; }

  private:
    void runBlur(const Shader& program, const RenderTarget& source,
                 const RenderTarget& target) const;
    void runStep(float time, int next) const;
    void runDisplay(const SavedTarget& canvas, int next, float alpha) const;

    int width = 0;
    int height = 0;
    RenderTarget field[2];
    RenderTarget blurX;
    RenderTarget blurY;
    std::uint32_t vertexArray = 0;
    Shader stepProgram;
    Shader blurXProgram;
    Shader blurYProgram;
    Shader displayProgram;
    int current = 0;
    int frame = 0;
    float bass = 0.0f;
    float treble = 0.0f;
    bool customPalette = false;
    Float3 paletteLow{};
    Float3 paletteMid{};
    Float3 paletteHigh{};
};
