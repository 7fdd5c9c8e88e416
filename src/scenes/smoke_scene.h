#pragma once

#include "render/shader.h"
#include "scenes/iscene.h"

#include <cstdint>
#include <vector>

// The light direction the display is given: a direction without length (or
// not finite) has no meaning, so the default takes its place.
Float3 smokeLightDirection(const Float3& lightDir);

// 3-D smoke on a 128 x 160 x 96 grid, stepped once per render and raymarched
// with self-shadowing and a backlight.
class SmokeScene : public IScene {
  public:
    static constexpr int kGridX = 128;
    static constexpr int kGridY = 160;
    static constexpr int kGridZ = 96;

    void init(int width, int height) override;
    void setAudio(float bass, float treble) override;
    void setPalette(bool enabled, const Float3& low, const Float3& mid,
                    const Float3& high) override;
    void setSmokeParams(bool enabled, const Float3& cam, float fov, const Float3& lightDir,
                        float shadow, float lightPow) override;
    void resetSettings() override;
    void render(double time, double localTime, float alpha) override;
    void release() override;
    bool simulated() const override { return true; }
    void stepSimulation(double time, double localTime) override;
    bool saveState(SceneState& out) const override;
    void restoreState(const SceneState& state) override;

    // render() is step() then display(): the 25 volume passes, then the
    // raymarched picture of the current density into the bound framebuffer.
    void step(double time);
    void display(double time, float alpha) const;
    // For inspection: the current density volume and its (density,
    // temperature) pairs, x fastest, then y, then z.
    std::uint32_t densityVolume() const { return densityVolumes[densityIndex]; }
    std::vector<float> readDensity() const;
    std::uint32_t displayProgramName() const { return programs[kDisplay].program; }

  private:
    enum Program { kCurl, kVelocity, kDivergence, kPressure, kGradient, kDensity, kDisplay };

    void slicePass(const Shader& program, std::uint32_t target) const;

    int width = 0;
    int height = 0;
    std::uint32_t velocityVolumes[2] = {0, 0};
    std::uint32_t densityVolumes[2] = {0, 0};
    std::uint32_t pressureVolumes[2] = {0, 0};
    std::uint32_t divergenceVolume = 0;
    std::uint32_t vorticityVolume = 0;
    std::uint32_t framebuffer = 0;
    std::uint32_t vertexArray = 0;
    Shader programs[7];
    int velocityIndex = 0;
    int densityIndex = 0;
    int pressureIndex = 0;
    float bass = 0.0f;
    float treble = 0.0f;
    // Smoke, ambient and light colours.
    static constexpr Palette3 kDefaultPalette{
        {0.32f, 0.34f, 0.38f}, {0.02f, 0.02f, 0.05f}, {1.0f, 0.65f, 0.35f}};
    Palette3 palette = kDefaultPalette;
    Float3 cam = kSmokeCam;
    float fov = kSmokeFov;
    Float3 lightDir = kSmokeLightDir;
    float shadow = kSmokeShadow;
    float lightPow = kSmokeLightPow;
};
