#pragma once

#include "render/render_target.h"
#include "render/shader.h"
#include "scenes/iscene.h"

#include <cstdint>

// A 2-D incompressible fluid on the GPU at canvas resolution, stirred by two
// bass-driven pumps and a treble-driven chaos pump, carrying cycling dye.
class FluidScene : public IScene {
  public:
    void init(int width, int height) override;
    void setAudio(float bass, float treble) override;
    void render(double time, double localTime, float alpha) override;
    void release() override;
    bool simulated() const override { return true; }
    void stepSimulation(double time, double localTime) override;
    bool saveState(SceneState& out) const override;
    void restoreState(const SceneState& state) override;

    // The fixed simulation step, whatever the real frame time.
    static constexpr float kStep = 1.0f / 60.0f;
    static constexpr int kPressureIterations = 20;

  private:
    void runAdvect(float time) const;
    void runDivergence() const;
    void runPressure();
    void runGradient() const;
    void runDye(float time) const;
    void runDisplay(const SavedTarget& canvas, float alpha) const;

    int width = 0;
    int height = 0;
    RenderTarget velocity[2];
    RenderTarget pressure[2];
    RenderTarget dye[2];
    RenderTarget divergence;
    std::uint32_t vertexArray = 0;
    Shader advectProgram;
    Shader divergenceProgram;
    Shader pressureProgram;
    Shader gradientProgram;
    Shader dyeProgram;
    Shader displayProgram;
    int velocityIndex = 0;
    int pressureIndex = 0;
    int dyeIndex = 0;
    float bass = 0.0f;
    float treble = 0.0f;
};
