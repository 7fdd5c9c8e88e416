#include "scenes/blittertornado_scene.h"

// Draws nothing yet; the effect itself lands separately.
void BlitterTornadoScene::init(int w, int h) {
    width = w;
    height = h;
}

void BlitterTornadoScene::setAudio(float b, float t) {
    bass = b;
    treble = t;
}

void BlitterTornadoScene::render(double, double, float) {}

void BlitterTornadoScene::release() {}

void BlitterTornadoScene::setPalette(bool, const Float3&, const Float3&, const Float3&) {}
