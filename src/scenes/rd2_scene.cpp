#include "scenes/rd2_scene.h"

// Draws nothing yet; the effect itself lands separately.
void Rd2Scene::init(int w, int h) {
    width = w;
    height = h;
}

void Rd2Scene::setAudio(float b, float t) {
    bass = b;
    treble = t;
}

void Rd2Scene::render(double, double, float) {}

void Rd2Scene::release() {}

void Rd2Scene::setPalette(bool, const Float3&, const Float3&, const Float3&) {}
