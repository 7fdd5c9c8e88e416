#pragma once

#include "scenes/iscene.h"

class FluidScene : public IScene {
  public:
    void init(int width, int height) override;
    void setAudio(float bass, float treble) override;
    void render(double time, double localTime, float alpha) override;
    void release() override;

  private:
    int width = 0;
    int height = 0;
    float bass = 0.0f;
    float treble = 0.0f;
};
