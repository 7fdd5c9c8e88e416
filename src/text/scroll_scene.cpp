#include "text/scroll_scene.h"

// Placeholder until the scroller lands.
void ScrollScene::init(int w, int h) {
    width = w;
    height = h;
}
void ScrollScene::setAudio(float, float) {}
void ScrollScene::update(double, double) {}
void ScrollScene::render(double, double, float) {}
void ScrollScene::release() {}
