#include "scenes/bloodcells_scene.h"

// Draws nothing yet; the effect itself lands separately.
void BloodCellsScene::init(int w, int h) {
    width = w;
    height = h;
}

void BloodCellsScene::setAudio(float b, float t) {
    bass = b;
    treble = t;
}

void BloodCellsScene::render(double, double, float) {}

void BloodCellsScene::release() {}

void BloodCellsScene::setPalette(bool, const Float3&, const Float3&, const Float3&) {}
