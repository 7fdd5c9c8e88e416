#pragma once

#include "base/types.h"
#include "render/shader.h"

#include <cstdint>
#include <string>

// What the blood cells and dblobs scenes have in common: one full-screen
// fragment stage drawn straight into the canvas with the same uniforms. Each
// scene owns one of these and supplies only its fragment body.
class BlobSceneCore {
  public:
    int width = 0;
    int height = 0;
    Shader program;
    std::uint32_t vertexArray = 0;
    float bass = 0.0f;
    float treble = 0.0f;
    bool customPalette = false;
    Float3 palLow{0.0f, 0.0f, 0.0f};
    Float3 palMid{0.0f, 0.0f, 0.0f};
    Float3 palHigh{0.0f, 0.0f, 0.0f};

    // fragmentBody is appended to the shared GLSL prelude (uniforms, smin,
    // a smoothstep that also holds for falling edges).
    void init(int w, int h, const char* fragmentBody);
    void setAudio(float b, float t);
    void setPalette(bool enabled, const Float3& low, const Float3& mid, const Float3& high);
    void render(double time, float alpha) const;
    void release();
};

// The full fragment source for a body, exposed so a test can compile it alone.
std::string blobFragmentSource(const char* fragmentBody);
