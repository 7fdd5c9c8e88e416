#include "script/script_reload.h"

#include "base/log.h"
#include "base/regular_file.h"
#include "render/texture.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

// Bit-for-bit, so that a NaN read from the script is not a change every time.
template <typename T> bool same(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

template <std::size_t N> bool same(const char (&a)[N], const char (&b)[N]) {
    return std::strncmp(a, b, N) == 0;
}

bool same(const Palette3& a, const Palette3& b) {
    return same(a.low, b.low) && same(a.mid, b.mid) && same(a.high, b.high);
}

bool sameEntry(const SceneEntry& a, const SceneEntry& b) {
    return same(a.name, b.name) && same(a.start, b.start) && same(a.end, b.end) &&
           same(a.fadeIn, b.fadeIn) && same(a.fadeOut, b.fadeOut) && a.hasPalette == b.hasPalette &&
           same(a.palette, b.palette) && a.hasSmokeParams == b.hasSmokeParams &&
           same(a.cam, b.cam) && same(a.fov, b.fov) && same(a.lightDir, b.lightDir) &&
           same(a.shadow, b.shadow) && same(a.lightPow, b.lightPow);
}

bool sameEntry(const OverlayEntry& a, const OverlayEntry& b) {
    return same(a.path, b.path) && same(a.x, b.x) && same(a.y, b.y) && same(a.start, b.start) &&
           same(a.end, b.end) && same(a.fadeIn, b.fadeIn) && same(a.fadeOut, b.fadeOut) &&
           a.drift == b.drift && same(a.travelSpeed, b.travelSpeed) && same(a.travelX, b.travelX) &&
           same(a.travelY, b.travelY) && a.glow == b.glow && same(a.glowColor, b.glowColor) &&
           same(a.glowGain, b.glowGain) && same(a.glowRadius, b.glowRadius) &&
           same(a.glowInt, b.glowInt);
}

bool sameEntry(const ScrollTextEntry& a, const ScrollTextEntry& b) {
    return same(a.start, b.start) && same(a.speed, b.speed) && same(a.font, b.font) &&
           same(a.y, b.y) && same(a.text, b.text);
}

bool sameEntry(const TextStabEntry& a, const TextStabEntry& b) {
    return same(a.start, b.start) && same(a.end, b.end) && same(a.fadeIn, b.fadeIn) &&
           same(a.fadeOut, b.fadeOut) && same(a.font, b.font) && same(a.x, b.x) && same(a.y, b.y) &&
           same(a.text, b.text);
}

template <typename Entry>
void countKind(const std::vector<Entry>& before, const std::vector<Entry>& after,
               ScriptChanges& out) {
    for (const Entry& b : before) {
        const auto match =
            std::find_if(after.begin(), after.end(), [&b](const Entry& a) { return a.id == b.id; });
        if (match == after.end()) {
            ++out.removed;
        } else if (!sameEntry(b, *match)) {
            ++out.changed;
        }
    }
    for (const Entry& a : after) {
        if (std::none_of(before.begin(), before.end(),
                         [&a](const Entry& b) { return b.id == a.id; })) {
            ++out.added;
        }
    }
}

} // namespace

ScriptChanges compareScripts(const DemoScript& before, const DemoScript& after) {
    ScriptChanges changes;
    countKind(before.scenes, after.scenes, changes);
    countKind(before.overlays, after.overlays, changes);
    countKind(before.scrollTexts, after.scrollTexts, changes);
    countKind(before.textStabs, after.textStabs, changes);
    changes.settingsChanged = before.fps != after.fps || !same(before.loopTime, after.loopTime) ||
                              before.scroll != after.scroll;
    return changes;
}

bool readScriptUpdate(const char* path, const std::function<bool(const char*)>& knownScene,
                      DemoScript& out, std::string* lastBytes) {
    // One read, at most one byte past the limit: the checks below and the
    // parser see the same save, and a file that grew meanwhile is refused
    // rather than read whole.
    bool notRegular = false;
    std::FILE* file = openRegularFile(path, &notRegular);
    if (notRegular) {
        // A folder would parse as an empty script; a FIFO would wait for a writer.
        logLine(stderr, "[Reload] %s is not a file; keeping the last good script\n", path);
        return false;
    }
    if (file == nullptr) {
        logLine(stderr, "[Reload] cannot read %s: %s; keeping the last good script\n", path,
                std::strerror(errno));
        return false;
    }
    struct stat st {};
    ::fstat(fileno(file), &st);
    std::string bytes(kMaxScriptBytes + 1, '\0');
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    std::fclose(file);
    if (bytes.empty()) {
        logLine(stderr, "[Reload] %s is empty; keeping the last good script\n", path);
        return false;
    }
    if (bytes.size() > kMaxScriptBytes) {
        logLine(stderr,
                "[Reload] %s is %lld bytes, over the %zu a script may have; keeping the last good "
                "script\n",
                path,
                std::max(static_cast<long long>(st.st_size), static_cast<long long>(bytes.size())),
                kMaxScriptBytes);
        return false;
    }
    // A save that leaves the playing script's bytes as they were (or a touch)
    // is no news. Only accepted bytes are remembered: a refused save saved
    // again, once the image it missed is there, is read again.
    if (lastBytes != nullptr && bytes == *lastBytes) {
        return false;
    }

    DemoScript next;
    int refused = 0;
    Script::loadFileBytes(bytes.data(), bytes.size(), next, &refused);
    if (refused > 0) {
        logLine(stderr, "[Reload] %s: %d line%s refused; keeping the last good script\n", path,
                refused, refused == 1 ? "" : "s");
        return false;
    }
    for (const SceneEntry& entry : next.scenes) {
        char name[sizeof entry.name + 1] = {};
        std::memcpy(name, entry.name, sizeof entry.name);
        if (!knownScene(name)) {
            logLine(stderr, "[Reload] %s: unknown scene %s; keeping the last good script\n", path,
                    name);
            return false;
        }
    }
    // Each image and font is looked at once, as the parts that draw them
    // would load it: a missing one would otherwise be reported every frame.
    std::vector<std::string> looked;
    auto loadable = [&looked, path](const char* field, std::size_t size) {
        const std::string name(field, strnlen(field, size));
        if (name.empty() || std::find(looked.begin(), looked.end(), name) != looked.end()) {
            return true;
        }
        looked.push_back(name);
        if (Texture::canLoad(name.c_str())) {
            return true;
        }
        logLine(stderr, "[Reload] %s: cannot load %s; keeping the last good script\n", path,
                name.c_str());
        return false;
    };
    for (const OverlayEntry& e : next.overlays) {
        if (!loadable(e.path, sizeof e.path)) {
            return false;
        }
    }
    for (const ScrollTextEntry& e : next.scrollTexts) {
        if (!loadable(e.font, sizeof e.font)) {
            return false;
        }
    }
    for (const TextStabEntry& e : next.textStabs) {
        if (!loadable(e.font, sizeof e.font)) {
            return false;
        }
    }
    out = std::move(next);
    if (lastBytes != nullptr) {
        *lastBytes = std::move(bytes);
    }
    return true;
}
