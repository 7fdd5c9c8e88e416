#include "script/script.h"

// Placeholder until the parser lands.
bool Script::load(const char*, DemoScript& script) {
    script = DemoScript{};
    script.endTime = 120.0;
    return true;
}
bool Script::load_mem(const char*, std::size_t, DemoScript& script) {
    script = DemoScript{};
    script.endTime = 120.0;
    return true;
}
void Script::parseLine(const char*, DemoScript&) {}
