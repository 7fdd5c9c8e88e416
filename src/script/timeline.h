#pragma once

#include "scenes/blittertornado_scene.h"
#include "scenes/bloodcells_scene.h"
#include "scenes/dblobs_scene.h"
#include "scenes/fluid_scene.h"
#include "scenes/rd2_scene.h"
#include "scenes/road_scene.h"
#include "scenes/smoke_scene.h"
#include "script/script.h"

#include <array>
#include <vector>

// One scheduled scene, copied from a scene entry and matched to it by id.
struct ActiveScene {
    double start = 0.0;
    double end = 0.0;
    float fadeIn = 0.0f;
    float fadeOut = 0.0f;
    IScene* scene = nullptr;
    bool hasPalette = false;
    Palette3 palette;
    bool hasSmokeParams = false;
    Float3 cam = kSmokeCam;
    Float3 lightDir = kSmokeLightDir;
    float fov = kSmokeFov;
    float shadow = kSmokeShadow;
    float lightPow = kSmokeLightPow;
    int id = 0;
};

// Fade factor of a scheduled scene at a demo time, from its ramps, clamped to
// 0..1; meaningful while start <= time <= end.
float sceneAlpha(const ActiveScene& a, double time);
// Whether the entry draws its scene at `time`: active, with a scene and a fade above 0.
bool sceneDrawn(const ActiveScene& a, double time);
// The entry's palette and smoke values handed to its scene, as before each draw.
void applySettings(const ActiveScene& a);

class Timeline {
  public:
    std::vector<ActiveScene> active;
    double endTime = 120.0;
    FluidScene fluid;
    Rd2Scene rd2;
    RoadScene road;
    BloodCellsScene bloodcells;
    DBlobsScene dblobs;
    SmokeScene smoke;
    BlitterTornadoScene blittertornado;

    void init(int width, int height, const DemoScript& script);
    void update(const DemoScript& script);
    void setAudio(double time, float bass, float treble);
    void render(double time);
    void release();

    IScene* find(const char* name);
    // The seven scenes in member order.
    std::array<IScene*, 7> scenes() {
        return {&fluid, &rd2, &road, &bloodcells, &dblobs, &smoke, &blittertornado};
    }

    // The entries render() draws at `time`, in the order it draws them.
    template <typename F> void forEachDrawn(double time, F&& f) const {
        for (const ActiveScene& a : active) {
            if (sceneDrawn(a, time)) {
                f(a);
            }
        }
    }
};
