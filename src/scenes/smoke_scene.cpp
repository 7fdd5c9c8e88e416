#include "scenes/smoke_scene.h"

// Draws nothing yet; the effect itself lands separately.
void SmokeScene::init(int w, int h) {
    width = w;
    height = h;
}

void SmokeScene::setAudio(float b, float t) {
    bass = b;
    treble = t;
}

void SmokeScene::render(double, double, float) {}

void SmokeScene::release() {}

void SmokeScene::setPalette(bool, const Float3&, const Float3&, const Float3&) {}

void SmokeScene::setSmokeParams(bool, const Float3&, float, const Float3&, float, float) {}
