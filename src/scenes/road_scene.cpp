#include "scenes/road_scene.h"

// Draws nothing yet; the effect itself lands separately.
void RoadScene::init(int w, int h) {
    width = w;
    height = h;
}

void RoadScene::setAudio(float b, float t) {
    bass = b;
    treble = t;
}

void RoadScene::render(double, double, float) {}

void RoadScene::release() {}

void RoadScene::setPalette(bool, const Float3&, const Float3&, const Float3&) {}
