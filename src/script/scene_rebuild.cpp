#include "script/scene_rebuild.h"

#include "base/log.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

void FrameSchedule::init(int fps, const LoopRange& range, Analyse analyseFrame) {
    rate = std::max(fps, 1);
    loop = range;
    analyse = std::move(analyseFrame);
    bassLevels.clear();
    trebleLevels.clear();
}

void FrameSchedule::setRange(const LoopRange& range) {
    if (range.start != loop.start || range.end != loop.end) {
        loop = range;
        bassLevels.clear();
        trebleLevels.clear();
    }
}

double FrameSchedule::timeOf(long frame) const {
    const double t = static_cast<double>(frame) / rate;
    return loop.end > 0.0 && t >= loop.end ? wrapTime(t, loop) : t;
}

long FrameSchedule::frameAt(double time) const {
    return std::lround(time * rate);
}

void FrameSchedule::levelsAt(long frame, float& bass, float& treble) {
    bass = 0.0f;
    treble = 0.0f;
    if (frame < 0 || !analyse) {
        return;
    }
    while (static_cast<long>(bassLevels.size()) <= frame) {
        const long k = static_cast<long>(bassLevels.size());
        float b = 0.0f;
        float t = 0.0f;
        analyse(k, timeOf(k), 1.0 / rate, b, t);
        bassLevels.push_back(b);
        trebleLevels.push_back(t);
    }
    bass = bassLevels[static_cast<std::size_t>(frame)];
    treble = trebleLevels[static_cast<std::size_t>(frame)];
}

void SceneRebuild::init(Timeline& line, OverlayManager& sprites, FrameSchedule& frames) {
    release();
    timeline = &line;
    overlays = &sprites;
    schedule = &frames;
    for (IScene* scene :
         std::initializer_list<IScene*>{&line.fluid, &line.rd2, &line.road, &line.bloodcells,
                                        &line.dblobs, &line.smoke, &line.blittertornado}) {
        if (!scene->simulated()) {
            continue;
        }
        Track track;
        track.scene = scene;
        track.entries = entriesOf(scene);
        tracks.push_back(std::move(track));
        saveCheckpoint(tracks.back());
    }
    restart(0);
}

void SceneRebuild::restart(long frame) {
    origin = std::max(frame, 0L);
    for (Track& track : tracks) {
        for (std::size_t i = 1; i < track.checkpoints.size(); ++i) {
            bytes -= track.checkpoints[i].state.bytes;
            track.checkpoints[i].state.release();
        }
        track.checkpoints.resize(std::min<std::size_t>(track.checkpoints.size(), 1));
        if (!track.checkpoints.empty()) {
            track.checkpoints[0].frame = origin;
            track.scene->restoreState(track.checkpoints[0].state);
        }
        track.at = track.checkpoints.empty() ? -1 : origin;
    }
    travelAt = -1;
    target = -1;
    kept = -1;
}

std::vector<std::array<double, 4>> SceneRebuild::entriesOf(const IScene* scene) const {
    std::vector<std::array<double, 4>> out;
    for (const ActiveScene& a : timeline->active) {
        if (a.scene == scene) {
            out.push_back({a.start, a.end, a.fadeIn, a.fadeOut});
        }
    }
    return out;
}

void SceneRebuild::scheduleChanged() {
    travelAt = -1;
    target = -1;
    for (Track& track : tracks) {
        std::vector<std::array<double, 4>> now = entriesOf(track.scene);
        if (now == track.entries) {
            continue;
        }
        // The state before the earliest entry that differs still holds.
        double earliest = HUGE_VAL;
        for (const auto& e : now) {
            if (std::find(track.entries.begin(), track.entries.end(), e) == track.entries.end()) {
                earliest = std::min(earliest, e[0]);
            }
        }
        for (const auto& e : track.entries) {
            if (std::find(now.begin(), now.end(), e) == now.end()) {
                earliest = std::min(earliest, e[0]);
            }
        }
        if (!std::isfinite(earliest)) {
            // The same entries, one of them more often: any start may differ.
            for (const auto& e : now) {
                earliest = std::min(earliest, e[0]);
            }
            for (const auto& e : track.entries) {
                earliest = std::min(earliest, e[0]);
            }
        }
        earliest = std::clamp(earliest, -1.0, 1e9);
        const long keep = static_cast<long>(std::floor(earliest * schedule->fps()));
        while (track.checkpoints.size() > 1 && track.checkpoints.back().frame > keep) {
            bytes -= track.checkpoints.back().state.bytes;
            track.checkpoints.back().state.release();
            track.checkpoints.pop_back();
        }
        if (track.at > keep) {
            track.at = -1;
        }
        track.entries = std::move(now);
    }
}

bool SceneRebuild::drawnAt(const Track& track, double time) const {
    bool drawn = false;
    timeline->forEachDrawn(time,
                           [&](const ActiveScene& a) { drawn = drawn || a.scene == track.scene; });
    return drawn;
}

// One frame of the scene as Engine::drawFrame gives it, without the drawing:
// every entry that draws it steps it once.
int SceneRebuild::stepFrame(Track& track, long frame, bool count) {
    const double t = schedule->timeOf(frame);
    int n = 0;
    float bass = 0.0f;
    float treble = 0.0f;
    timeline->forEachDrawn(t, [&](const ActiveScene& a) {
        if (a.scene != track.scene) {
            return;
        }
        if (!count) {
            if (n == 0) {
                schedule->levelsAt(frame, bass, treble);
            }
            IScene& scene = *a.scene;
            scene.setAudio(bass, treble);
            scene.update(t, t - a.start);
            scene.setPalette(a.hasPalette, a.palette.low, a.palette.mid, a.palette.high);
            scene.setSmokeParams(a.hasSmokeParams, a.cam, a.fov, a.lightDir, a.shadow, a.lightPow);
            scene.stepSimulation(t, t - a.start);
        }
        ++n;
    });
    return n;
}

void SceneRebuild::restoreBefore(Track& track, long frame) {
    auto it = std::upper_bound(track.checkpoints.begin(), track.checkpoints.end(), frame,
                               [](long f, const Checkpoint& c) { return f < c.frame; });
    if (it == track.checkpoints.begin()) {
        track.at = -1;
        return;
    }
    --it;
    track.scene->restoreState(it->state);
    track.at = it->frame;
}

void SceneRebuild::saveCheckpoint(Track& track) {
    const long frame = track.checkpoints.empty() ? 0 : track.at;
    const std::size_t expected =
        track.checkpoints.empty() ? 0 : track.checkpoints.front().state.bytes;
    if (bytes + expected > kBudgetBytes) {
        if (!budgetLogged) {
            logLine(stderr, "[Rebuild] checkpoints use %zu MB of %zu; no more are kept\n",
                    bytes >> 20, kBudgetBytes >> 20);
            budgetLogged = true;
        }
        return;
    }
    Checkpoint c;
    c.frame = frame;
    if (!track.scene->saveState(c.state)) {
        c.state.release();
        return;
    }
    bytes += c.state.bytes;
    auto it = std::lower_bound(track.checkpoints.begin(), track.checkpoints.end(), frame,
                               [](const Checkpoint& a, long f) { return a.frame < f; });
    if (it != track.checkpoints.end() && it->frame == frame) {
        bytes -= it->state.bytes;
        it->state.release();
        it->state = std::move(c.state);
    } else {
        track.checkpoints.insert(it, std::move(c));
    }
}

bool SceneRebuild::bringTo(long frame, double budgetSeconds) {
    if (timeline == nullptr) {
        return true;
    }
    const auto start = std::chrono::steady_clock::now();
    frame = std::max(frame, origin);
    const double t = schedule->timeOf(frame);

    if (travelAt < 0 || travelAt > frame) {
        overlays->restartTravel();
        travelAt = origin;
    }
    for (; travelAt < frame; ++travelAt) {
        overlays->stepTravel(schedule->timeOf(travelAt));
    }

    if (frame != target) {
        target = frame;
        stepsDone = 0;
        stepsNeeded = stepsTo(frame);
    }
    const long stepsBefore = steps;

    for (Track& track : tracks) {
        if (!drawnAt(track, t)) {
            continue;
        }
        if (track.at < 0 || track.at > frame) {
            restoreBefore(track, frame);
            if (track.at < 0) {
                continue; // nothing to start from: the scene draws as it is
            }
        }
        while (track.at < frame) {
            const int n = stepFrame(track, track.at, false);
            stepsDone += n;
            steps += n;
            ++track.at;
            if (n > 0 && track.at % kCheckpointFrames == 0) {
                saveCheckpoint(track);
            }
            if (n > 0 && track.at < frame && secondsSince(start) > budgetSeconds) {
                measureSteps(steps - stepsBefore, secondsSince(start));
                return false;
            }
        }
    }
    measureSteps(steps - stepsBefore, secondsSince(start));
    return true;
}

void SceneRebuild::measureSteps(long count, double seconds) {
    if (count > 0) {
        perStep = seconds / static_cast<double>(count);
    }
}

long SceneRebuild::stepsTo(long frame) {
    if (timeline == nullptr) {
        return 0;
    }
    frame = std::max(frame, origin);
    const double t = schedule->timeOf(frame);
    long needed = 0;
    for (Track& track : tracks) {
        if (!drawnAt(track, t)) {
            continue;
        }
        long from = track.at;
        if (from < 0 || from > frame) {
            auto it = std::upper_bound(track.checkpoints.begin(), track.checkpoints.end(), frame,
                                       [](long f, const Checkpoint& c) { return f < c.frame; });
            from = it == track.checkpoints.begin() ? frame : std::prev(it)->frame;
        }
        for (long j = from; j < frame; ++j) {
            needed += stepFrame(track, j, true);
        }
    }
    return needed;
}

void SceneRebuild::drawn(long frame) {
    if (timeline == nullptr) {
        return;
    }
    const double t = schedule->timeOf(frame);
    for (Track& track : tracks) {
        if (!drawnAt(track, t)) {
            continue;
        }
        track.at = track.at == frame ? frame + 1 : -1;
        if (track.at > 0 && track.at % kCheckpointFrames == 0) {
            saveCheckpoint(track);
        }
    }
    if (travelAt == frame) {
        ++travelAt;
    }
    target = -1;
}

void SceneRebuild::dropCheckpoint(Track& track, long frame) {
    for (std::size_t i = 1; i < track.checkpoints.size(); ++i) {
        if (track.checkpoints[i].frame == frame) {
            bytes -= track.checkpoints[i].state.bytes;
            track.checkpoints[i].state.release();
            track.checkpoints.erase(track.checkpoints.begin() + static_cast<long>(i));
            return;
        }
    }
}

void SceneRebuild::keep(long frame) {
    if (timeline == nullptr) {
        return;
    }
    for (Track& track : tracks) {
        if (kept >= 0 && kept != frame && kept % kCheckpointFrames != 0) {
            dropCheckpoint(track, kept);
        }
        const bool saved = std::any_of(track.checkpoints.begin(), track.checkpoints.end(),
                                       [frame](const Checkpoint& c) { return c.frame == frame; });
        if (frame >= 0 && !saved && track.at == frame && drawnAt(track, schedule->timeOf(frame))) {
            saveCheckpoint(track);
        }
    }
    kept = frame;
}

double SceneRebuild::progress() const {
    return stepsNeeded > 0 ? std::min(1.0, static_cast<double>(stepsDone) / stepsNeeded) : 1.0;
}

void SceneRebuild::release() {
    for (Track& track : tracks) {
        for (Checkpoint& c : track.checkpoints) {
            c.state.release();
        }
    }
    tracks.clear();
    bytes = 0;
    target = -1;
}
