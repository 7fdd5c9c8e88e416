#include "render/overlay_manager.h"

// Placeholder until overlays land.
void OverlayManager::build(const DemoScript&) {}
bool OverlayManager::init(int, int) {
    return true;
}
void OverlayManager::update(const DemoScript&) {}
void OverlayManager::render(double, float) {}
void OverlayManager::release() {}
