#include "scenes/fluid_scene.h"

// Draws nothing yet; the effect itself lands separately.
void FluidScene::init(int w, int h) {
    width = w;
    height = h;
}

void FluidScene::setAudio(float b, float t) {
    bass = b;
    treble = t;
}

void FluidScene::render(double, double, float) {}

void FluidScene::release() {}
