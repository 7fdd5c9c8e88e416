#pragma once

#include "render/quad_mesh.h"
#include "render/render_target.h"
#include "render/shader.h"
#include "render/shaders.h"
#include "render/texture.h"
#include "scenes/iscene.h"
#include "scenes/road_track.h"

#include <cstdint>
#include <vector>

// A pseudo-3-D drive at dusk along a looping road: sky and hills, the road
// row by row from CPU tables, fogged roadside sprites and a swaying vehicle,
// drawn offscreen and composited with the fade.
class RoadScene : public IScene {
  public:
    void init(int width, int height) override;
    void setAudio(float bass, float treble) override;
    void setPalette(bool enabled, const Float3& low, const Float3& mid,
                    const Float3& high) override;
    void resetSettings() override { palette = kDefaultPalette; }
    void render(double time, double localTime, float alpha) override;
    void release() override;

  private:
    void drawRoad(float bgOffset);
    void drawSprites(float cam);
    void drawSprite(const Texture& texture, float x, float y, float w, float h, float fog) const;
    void composite(const SavedTarget& canvas, float alpha) const;

    int width = 0;
    int height = 0;
    Shader roadProgram;
    std::uint32_t vertexArray = 0;
    Shader compositeProgram;
    RenderTarget offscreen;
    Shader spriteProgram;
    QuadMesh quad;
    Mat4 projection{};
    Texture spriteTextures[3]; // by kind: tree, rock, ghost
    Texture vehicleTexture;
    std::vector<RoadSprite> sprites;
    float lapLength = 0.0f;
    std::vector<float> heading;
    float headingTotal = 0.0f;
    RoadRows rows;
    float horizon = kRoadHorizon;
    float bass = 0.0f;
    float treble = 0.0f;
    static constexpr Palette3 kDefaultPalette{
        {0.0f, 0.0f, 0.0f}, {0.02f, 0.05f, 0.16f}, {0.15f, 0.35f, 0.62f}};
    Palette3 palette = kDefaultPalette;
    std::vector<ProjectedSprite> projected; // reused every frame
};
