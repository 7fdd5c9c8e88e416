#pragma once

#include "render/render_target.h"
#include "render/shader.h"
#include "scenes/iscene.h"

#include <cstdint>

// Two one-bit planes spun and zoomed outwards every step, seeded at the
// centre by bass (plane 0) and treble (plane 1).
class BlitterTornadoScene : public IScene {
  public:
    void init(int width, int height) override;
    void setAudio(float bass, float treble) override;
    void setPalette(bool enabled, const Float3& low, const Float3& mid,
                    const Float3& high) override;
    void resetSettings() override { palette = kDefaultPalette; }
    void render(double time, double localTime, float alpha) override;
    void release() override;
    bool simulated() const override { return true; }
    void stepSimulation(double time, double localTime) override;
    bool saveState(SceneState& out) const override;
    void restoreState(const SceneState& state) override;

    // For inspection: the state image holding the latest step, and the step count.
    std::uint32_t stateTexture() const { return states[current].texture; }
    int steps() const { return frame; }

  private:
    int width = 0;
    int height = 0;
    RenderTarget states[2];
    std::uint32_t vertexArray = 0;
    Shader updateProgram;
    Shader displayProgram;
    int current = 0;
    int frame = 0;
    float bass = 0.0f;
    float treble = 0.0f;
    static constexpr Palette3 kDefaultPalette{
        {0.10f, 0.60f, 1.00f}, {1.00f, 0.20f, 0.60f}, {1.00f, 0.90f, 0.40f}};
    Palette3 palette = kDefaultPalette;
};
