#include "render/post_process.h"

// Placeholder until the canvas lands.
bool PostProcess::init(int cw, int ch, int sw, int sh) {
    canvasWidth = cw;
    canvasHeight = ch;
    screenWidth = sw;
    screenHeight = sh;
    return true;
}
void PostProcess::begin() const {}
void PostProcess::end() const {}
void PostProcess::present(float, float, bool) {}
void PostProcess::release() {}
