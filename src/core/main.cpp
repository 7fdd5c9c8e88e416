#include "base/log.h"
#include "core/engine.h"
#include "core/startup_failure.h"

namespace {

int runDemo() {
    copyStderrLines(true);
    {
        Engine engine;
        if (engine.init()) {
            copyStderrLines(false);
            engine.run();
            engine.shutdown();
            return 0;
        }
    }
    showStartupFailure(copiedStderrLines());
    return 1;
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
