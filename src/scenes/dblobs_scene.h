#pragma once

#include "scenes/iscene.h"

class DBlobsScene : public IScene {
  public:
    void init(int width, int height) override;
    void setAudio(float bass, float treble) override;
    void setPalette(bool enabled, const Float3& low, const Float3& mid,
                    const Float3& high) override;
    void render(double time, double localTime, float alpha) override;
    void release() override;

  private:
    int width = 0;
    int height = 0;
    float bass = 0.0f;
    float treble = 0.0f;
};
