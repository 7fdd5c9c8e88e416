#include "scenes/dblobs_scene.h"

// Draws nothing yet; the effect itself lands separately.
void DBlobsScene::init(int w, int h) {
    width = w;
    height = h;
}

void DBlobsScene::setAudio(float b, float t) {
    bass = b;
    treble = t;
}

void DBlobsScene::render(double, double, float) {}

void DBlobsScene::release() {}

void DBlobsScene::setPalette(bool, const Float3&, const Float3&, const Float3&) {}
