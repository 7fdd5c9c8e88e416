#include "text/stab_manager.h"

// Placeholder until stabs land.
bool StabManager::init(int, int, const DemoScript&) {
    return true;
}
void StabManager::update(const DemoScript&) {}
void StabManager::render(double, float, float) {}
void StabManager::release() {}
