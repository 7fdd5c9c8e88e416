#pragma once

#include "scenes/blob_scene_core.h"
#include "scenes/iscene.h"

// A wobbling metaball with orbiting blobs, colour-dodged against light rays.
class DBlobsScene : public IScene {
  public:
    void init(int width, int height) override;
    void setAudio(float bass, float treble) override;
    void setPalette(bool enabled, const Float3& low, const Float3& mid,
                    const Float3& high) override;
    void render(double time, double localTime, float alpha) override;
    void release() override;

    const BlobSceneCore& core() const { return shared; }

  private:
    BlobSceneCore shared;
};
