#pragma once

#include "render/font.h"
#include "render/quad_mesh.h"
#include "render/shader.h"
#include "render/shaders.h"
#include "scenes/iscene.h"

// The endless scroller the script can switch on.
class ScrollScene : public IScene {
  public:
    void init(int width, int height) override;
    void setAudio(float bass, float treble) override;
    void update(double time, double localTime) override;
    void render(double time, double localTime, float alpha) override;
    void release() override;

    int width = 0;
    int height = 0;
    Shader shader;
    Font font;
    QuadMesh quad;
    Mat4 projection{};
    float x = 0.0f;
    float loopLength = 0.0f;
    int scale = 2;
    float speed = 150.0f;
};
