#include "script/script.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

template <std::size_t N> void checkTerminated(const char (&text)[N]) {
    if (strnlen(text, N) >= N) {
        __builtin_trap();
    }
}

// What every consumer of a loaded script relies on.
void checkInvariants(const DemoScript& s, bool loaded) {
    if (s.fps < 1 || (loaded && !(s.endTime > 0.0)) || s.loopTime < 0.0) {
        __builtin_trap();
    }
    const std::size_t total =
        s.scenes.size() + s.overlays.size() + s.scrollTexts.size() + s.textStabs.size();
    if (s.nextId < 0 || static_cast<std::size_t>(s.nextId) != total) {
        __builtin_trap();
    }
    std::string seen(total, '\0');
    auto mark = [&seen](int id) {
        if (id < 0 || static_cast<std::size_t>(id) >= seen.size() || seen[id] != '\0') {
            __builtin_trap();
        }
        seen[id] = 1;
    };
    for (const SceneEntry& e : s.scenes) {
        checkTerminated(e.name);
        mark(e.id);
    }
    for (const OverlayEntry& e : s.overlays) {
        checkTerminated(e.path);
        mark(e.id);
    }
    for (const ScrollTextEntry& e : s.scrollTexts) {
        checkTerminated(e.font);
        checkTerminated(e.text);
        mark(e.id);
    }
    for (const TextStabEntry& e : s.textStabs) {
        checkTerminated(e.font);
        checkTerminated(e.text);
        mark(e.id);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The exact bytes, with nothing after them, so reads past the end are caught.
    const char* bytes = reinterpret_cast<const char*>(data);
    DemoScript script;
    Script::load_mem(bytes, size, script);
    checkInvariants(script, true);

    // The whole input as one line of any length, straight into the line parser.
    const std::string line(bytes, size);
    DemoScript direct;
    Script::parseLine(line.c_str(), direct);
    checkInvariants(direct, false);
    return 0;
}
