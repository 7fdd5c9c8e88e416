#include "core/engine.h"

namespace {

int runDemo() {
    Engine engine;
    if (!engine.init()) {
        return 1;
    }
    engine.run();
    engine.shutdown();
    return 0;
}

} // namespace

#ifdef _WIN32
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return runDemo();
}
#else
int main() {
    return runDemo();
}
#endif
