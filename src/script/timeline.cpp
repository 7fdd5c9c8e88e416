#include "script/timeline.h"

#include "base/log.h"
#include "script/entry_records.h"

#include <algorithm>
#include <cstring>

namespace {

// Scene names come from fixed arrays; never read past one that lacks its NUL.
struct EntryName {
    explicit EntryName(const SceneEntry& entry) {
        std::memcpy(text, entry.name, sizeof entry.name);
        text[sizeof entry.name] = '\0';
    }
    char text[sizeof(SceneEntry::name) + 1];
};

void copyEntry(const SceneEntry& entry, IScene* scene, ActiveScene& out) {
    out.start = entry.start;
    out.end = entry.end;
    out.fadeIn = entry.fadeIn;
    out.fadeOut = entry.fadeOut;
    out.scene = scene;
    out.hasPalette = entry.hasPalette;
    out.palette = entry.palette;
    out.hasSmokeParams = entry.hasSmokeParams;
    out.cam = entry.cam;
    out.lightDir = entry.lightDir;
    out.fov = entry.fov;
    out.shadow = entry.shadow;
    out.lightPow = entry.lightPow;
    out.id = entry.id;
}

bool isActive(const ActiveScene& a, double time) {
    return a.start <= time && time <= a.end;
}

double lengthOf(const DemoScript& script) {
    return script.endTime > 0.0 ? script.endTime : 120.0;
}

} // namespace

// The two ramps are divided in double; only their quotients become float.
float sceneAlpha(const ActiveScene& a, double time) {
    float alpha = 1.0f;
    if (a.fadeIn > 0.0f) {
        alpha = std::min(static_cast<float>((time - a.start) / a.fadeIn), 1.0f);
    }
    if (a.fadeOut > 0.0f) {
        alpha = std::min(static_cast<float>((a.end - time) / a.fadeOut), alpha);
    }
    if (alpha > 1.0f) {
        alpha = 1.0f;
    }
    if (alpha < 0.0f) {
        alpha = 0.0f;
    }
    return alpha;
}

bool sceneDrawn(const ActiveScene& a, double time) {
    return a.scene != nullptr && isActive(a, time) && sceneAlpha(a, time) > 0.0f;
}

void applySettings(const ActiveScene& a) {
    a.scene->setPalette(a.hasPalette, a.palette.low, a.palette.mid, a.palette.high);
    a.scene->setSmokeParams(a.hasSmokeParams, a.cam, a.fov, a.lightDir, a.shadow, a.lightPow);
}

IScene* Timeline::find(const char* name) {
    if (name == nullptr) {
        return nullptr;
    }
    const struct {
        const char* name;
        IScene* scene;
    } table[] = {
        {"fluid", &fluid},
        {"rd2", &rd2},
        {"road", &road},
        {"bloodcells", &bloodcells},
        {"dblobs", &dblobs},
        {"smoke", &smoke},
        {"blittertornado", &blittertornado},
    };
    for (const auto& row : table) {
        if (std::strcmp(row.name, name) == 0) {
            return row.scene;
        }
    }
    return nullptr;
}

void Timeline::init(int width, int height, const DemoScript& script) {
    for (IScene* scene : scenes()) {
        scene->init(width, height);
    }

    active.clear();
    update(script);
}

void Timeline::update(const DemoScript& script) {
    // An entry whose scene is unknown is logged and left out, and a record
    // whose entry now names one keeps what it had.
    const auto sceneOf = [this](const SceneEntry& entry) {
        const EntryName name(entry);
        IScene* scene = find(name.text);
        if (scene == nullptr) {
            logLine(stderr, "[Timeline] unknown scene: %s\n", name.text);
        }
        return scene;
    };
    const auto make = [&sceneOf](const SceneEntry& entry) {
        std::optional<ActiveScene> a;
        if (IScene* scene = sceneOf(entry)) {
            a.emplace();
            copyEntry(entry, scene, *a);
        }
        return a;
    };
    const auto refresh = [&sceneOf](ActiveScene& a, const SceneEntry& entry) {
        if (IScene* scene = sceneOf(entry)) {
            copyEntry(entry, scene, a);
        }
    };
    syncRecords(active, script.scenes, make, refresh, [](ActiveScene&) {});
    endTime = lengthOf(script);
}

void Timeline::setAudio(double time, float bass, float treble) {
    for (IScene* scene : scenes()) {
        scene->setAudio(bass, treble);
    }

    for (const ActiveScene& a : active) {
        if (a.scene != nullptr && isActive(a, time)) {
            a.scene->update(time, time - a.start);
        }
    }
}

void Timeline::render(double time) {
    forEachDrawn(time, [time](const ActiveScene& a) {
        applySettings(a);
        a.scene->render(time, time - a.start, sceneAlpha(a, time));
    });
}

void Timeline::release() {
    for (IScene* scene : scenes()) {
        scene->release();
    }
}
