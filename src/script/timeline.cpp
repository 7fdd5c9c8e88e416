#include "script/timeline.h"

// Placeholder until scheduling lands.
void Timeline::init(int, int, const DemoScript&) {}
void Timeline::update(const DemoScript&) {}
void Timeline::setAudio(double, float, float) {}
void Timeline::render(double) {}
void Timeline::release() {}
IScene* Timeline::find(const char*) {
    return nullptr;
}
