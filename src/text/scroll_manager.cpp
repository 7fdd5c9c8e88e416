#include "text/scroll_manager.h"

// Placeholder until scroll texts land.
bool ScrollManager::init(int, int, const DemoScript&) {
    return true;
}
void ScrollManager::update(const DemoScript&) {}
void ScrollManager::render(double) {}
void ScrollManager::release() {}
