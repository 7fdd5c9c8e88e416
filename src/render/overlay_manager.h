#pragma once

#include "base/types.h"
#include "render/quad_mesh.h"
#include "render/shader.h"
#include "render/shaders.h"
#include "render/texture.h"
#include "script/script.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct OverlaySprite {
    Texture texture;
    float x = 0.0f;
    float y = 0.0f;
    float width = 0.0f;
    float height = 0.0f;
    double start = 0.0;
    double end = 0.0;
    float fadeIn = 0.0f;
    float fadeOut = 0.0f;
    int drift = 0;
    float travelSpeed = 0.0f;
    float travelX = 0.0f;
    float travelY = 0.0f;
    bool travelStarted = false;
    std::array<float, 2> travelPos{0.0f, 0.0f};
    std::array<float, 2> travelTarget{0.0f, 0.0f};
    double travelLast = 0.0;
    std::uint32_t rng = 0;
    bool glow = false;
    Float3 glowColor{0.2f, 0.5f, 1.0f};
    float glowGain = 3.0f;
    float glowRadius = 12.0f;
    float glowInt = 1.0f;
    std::string path;
    int id = -1;
};

// Opacity at demo time t from the fades; 0 outside start..end.
float overlayOpacity(const OverlaySprite& sprite, double t);
// Halo envelope at t: 0 outside the hold window between the fades, rising and
// falling over its ramp at either end.
float glowEnvelope(const OverlaySprite& sprite, double t);
// Ramp length in seconds of the halo envelope (0 when there is no hold window).
double glowRamp(const OverlaySprite& sprite);
// One frame of the wandering motion: seeds the generator from the id on first
// use, then moves travelPos towards travelTarget at travelSpeed.
void travelStep(OverlaySprite& sprite, double t);

// The script's image overlays, drawn over the scenes.
class OverlayManager {
  public:
    std::vector<OverlaySprite> sprites;
    Shader spriteShader;
    Shader glowShader;
    QuadMesh quad;
    Mat4 proj{};

    void build(const DemoScript& script);
    bool init(int width, int height);
    void update(const DemoScript& script);
    void render(double time, float treble);
    // Whether render() draws a sprite at `time`.
    bool drawn(const OverlaySprite& sprite, double time) const;
    // The wandering motion without drawing: forgotten, then one frame of it
    // as render() takes it, for a tool that rebuilds the motion at a time.
    void restartTravel();
    void stepTravel(double time);
    void release();

  private:
    void drawGlow(const OverlaySprite& sprite, float dx, float dy, double t, float treble);
};
