#include "script/scene_rebuild.h"

#include "base/log.h"

#include <algorithm>
#include <chrono>
#include <climits>
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

double FrameSchedule::timeOf(long frame, int fps, const LoopRange& range) {
    const double t = static_cast<double>(frame) / fps;
    return range.end > 0.0 && t >= range.end ? wrapTime(t, range) : t;
}

long FrameSchedule::firstPassEnd(int fps, const LoopRange& range) {
    if (!(range.end > 0.0) || range.end * fps > 1e15) {
        return LONG_MAX;
    }
    long k = static_cast<long>(std::ceil(range.end * fps));
    while (k > 0 && static_cast<double>(k - 1) / fps >= range.end) {
        --k;
    }
    while (static_cast<double>(k) / fps < range.end) {
        ++k;
    }
    return k;
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
    range = frames.range();
    for (IScene* scene : line.scenes()) {
        if (!scene->simulated()) {
            continue;
        }
        Track track;
        track.scene = scene;
        track.entries = entriesOf(scene);
        tracks.push_back(std::move(track));
        saveCheckpoint(tracks.back(), true);
    }
    restart(0);
}

void SceneRebuild::restart(long frame) {
    origin = std::max(frame, 0L);
    for (Track& track : tracks) {
        dropCheckpoints(track, [](const Checkpoint&) { return true; });
        if (!track.checkpoints.empty()) {
            track.checkpoints[0].frame = origin;
            track.scene->restoreState(track.checkpoints[0].state);
        }
        track.at = track.checkpoints.empty() ? -1 : origin;
    }
    settingsAt = -1;
    target = -1;
    kept = -1;
}

std::vector<ActiveScene> SceneRebuild::entriesOf(const IScene* scene) const {
    std::vector<ActiveScene> out;
    for (const ActiveScene& a : timeline->active) {
        if (a.scene == scene) {
            out.push_back(a);
        }
    }
    return out;
}

namespace {

bool sameTiming(const std::vector<ActiveScene>& a, const std::vector<ActiveScene>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const ActiveScene& x, const ActiveScene& y) {
                          return x.start == y.start && x.end == y.end && x.fadeIn == y.fadeIn &&
                                 x.fadeOut == y.fadeOut;
                      });
}

// Whether two lists of a scene's entries step it alike at `time`: the same
// number drawn, in order, each with the same local time.
bool sameSteps(const std::vector<ActiveScene>& a, const std::vector<ActiveScene>& b, double time) {
    const auto drawn = [time](const ActiveScene& e) { return sceneDrawn(e, time); };
    auto i = std::find_if(a.begin(), a.end(), drawn);
    auto j = std::find_if(b.begin(), b.end(), drawn);
    for (; i != a.end() && j != b.end();
         i = std::find_if(i + 1, a.end(), drawn), j = std::find_if(j + 1, b.end(), drawn)) {
        if (i->start != j->start) {
            return false;
        }
    }
    return i == a.end() && j == b.end();
}

} // namespace

// The first frame a track steps differently now than with its entries and
// the loop range as last seen; LONG_MAX when it steps alike everywhere.
long SceneRebuild::firstChange(const Track& track, const LoopRange& before) const {
    const std::vector<ActiveScene> now = entriesOf(track.scene);
    const bool sameRange = before.start == range.start && before.end == range.end;
    if (sameRange && sameTiming(now, track.entries)) {
        return LONG_MAX;
    }
    // Within both first passes a frame has the same time either way; past
    // the earlier end, later passes follow from all that came before.
    const int fps = schedule->fps();
    const long limit = std::min(FrameSchedule::firstPassEnd(fps, before), schedule->firstPassEnd());
    // Nothing is drawn after the last end; an hour of frames bounds the look
    // for a script without music whose entries end absurdly late.
    double lastEnd = 0.0;
    for (const auto* list : {&now, &track.entries}) {
        for (const ActiveScene& e : *list) {
            lastEnd = std::max(lastEnd, std::min(e.end, 3600.0));
        }
    }
    const long scan = std::min(limit, static_cast<long>(lastEnd * fps) + 2);
    for (long j = 0; j < scan; ++j) {
        if (!sameSteps(track.entries, now, FrameSchedule::timeOf(j, fps, range))) {
            return j;
        }
    }
    return lastEnd < 3600.0 ? limit : scan;
}

void SceneRebuild::scheduleChanged() {
    if (timeline == nullptr) {
        return;
    }
    const LoopRange before = range;
    range = schedule->range();
    target = -1;
    settingsAt = -1; // cheap to replay whatever changed
    for (Track& track : tracks) {
        // A state before frame c depends on the steps of the frames before c.
        const long from = firstChange(track, before);
        dropCheckpoints(track, [from](const Checkpoint& c) { return c.frame > from; });
        if (track.at > from) {
            track.at = -1;
        }
        track.entries = entriesOf(track.scene);
    }
}

bool SceneRebuild::drawnAt(const Track& track, double time) const {
    bool drawn = false;
    timeline->forEachDrawn(time,
                           [&](const ActiveScene& a) { drawn = drawn || a.scene == track.scene; });
    return drawn;
}

SceneRebuild::Start SceneRebuild::startFor(const Track& track, long frame) const {
    Start best;
    if (track.at >= 0 && track.at <= frame) {
        best.frame = track.at;
    }
    auto it = std::upper_bound(track.checkpoints.begin(), track.checkpoints.end(), frame,
                               [](long f, const Checkpoint& c) { return f < c.frame; });
    if (it != track.checkpoints.begin() && std::prev(it)->frame > best.frame) {
        best.frame = std::prev(it)->frame;
        best.checkpoint = &*std::prev(it);
    }
    return best;
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
            scene.stepSimulation(t, t - a.start);
        }
        ++n;
    });
    return n;
}

bool SceneRebuild::periodic(long frame) const {
    return frame > 0 && frame % kCheckpointFrames == 0 && frame < schedule->firstPassEnd();
}

void SceneRebuild::saveCheckpoint(Track& track, bool always) {
    const long frame = track.checkpoints.empty() ? 0 : track.at;
    auto it = std::lower_bound(track.checkpoints.begin(), track.checkpoints.end(), frame,
                               [](const Checkpoint& a, long f) { return a.frame < f; });
    if (it != track.checkpoints.end() && it->frame == frame) {
        return; // the same steps led to it
    }
    const std::size_t expected =
        track.checkpoints.empty() ? 0 : track.checkpoints.front().state.bytes;
    if (!always && bytes + expected > kBudgetBytes) {
        if (!budgetLogged) {
            logLine(stderr, "[Rebuild] checkpoints use %zu MB of %zu; no more are taken\n",
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
    track.checkpoints.insert(it, std::move(c));
}

// Drops the checkpoints `drop` picks, except the fresh state.
void SceneRebuild::dropCheckpoints(Track& track,
                                   const std::function<bool(const Checkpoint&)>& drop) {
    if (track.checkpoints.empty()) {
        return;
    }
    const auto gone = std::stable_partition(track.checkpoints.begin() + 1, track.checkpoints.end(),
                                            [&](const Checkpoint& c) { return !drop(c); });
    for (auto it = gone; it != track.checkpoints.end(); ++it) {
        bytes -= it->state.bytes;
        it->state.release();
    }
    track.checkpoints.erase(gone, track.checkpoints.end());
}

// What the entries leave in the scenes for later frames, and the overlays'
// motion: reset, then every frame's calls from 0 as a run makes them.
void SceneRebuild::replaySettings(long frame) {
    if (settingsAt < 0 || settingsAt > frame) {
        for (IScene* scene : timeline->scenes()) {
            scene->resetSettings();
        }
        overlays->restartTravel();
        settingsAt = 0;
    }
    for (; settingsAt < frame; ++settingsAt) {
        const double t = schedule->timeOf(settingsAt);
        timeline->forEachDrawn(t, [](const ActiveScene& a) { applySettings(a); });
        overlays->stepTravel(t);
    }
}

bool SceneRebuild::bringTo(long frame, double budgetSeconds) {
    if (timeline == nullptr) {
        return true;
    }
    const auto start = std::chrono::steady_clock::now();
    frame = std::max(frame, origin);
    const double t = schedule->timeOf(frame);
    replaySettings(frame);

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
        const Start from = startFor(track, frame);
        if (from.frame < 0) {
            continue; // nothing to start from: the scene draws as it is
        }
        if (from.checkpoint != nullptr) {
            track.scene->restoreState(from.checkpoint->state);
            track.at = from.frame;
        }
        while (track.at < frame) {
            const int n = stepFrame(track, track.at, false);
            stepsDone += n;
            steps += n;
            ++track.at;
            if (n > 0 && periodic(track.at)) {
                saveCheckpoint(track, false);
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
        for (long j = std::max(startFor(track, frame).frame, 0L); j < frame; ++j) {
            needed += stepFrame(track, j, true);
        }
    }
    return needed;
}

void SceneRebuild::drawn(long frame) {
    if (timeline == nullptr) {
        return;
    }
    settingsAt = settingsAt == frame ? frame + 1 : -1;
    const double t = schedule->timeOf(frame);
    for (Track& track : tracks) {
        if (!drawnAt(track, t)) {
            continue;
        }
        track.at = track.at == frame ? frame + 1 : -1;
        if (periodic(track.at)) {
            saveCheckpoint(track, false);
        }
    }
    target = -1;
}

void SceneRebuild::keep(long frame) {
    if (timeline == nullptr) {
        return;
    }
    const double t = schedule->timeOf(std::max(frame, 0L));
    for (Track& track : tracks) {
        if (kept != frame) {
            const long last = kept;
            dropCheckpoints(track, [this, last](const Checkpoint& c) {
                return c.frame == last && !periodic(last);
            });
        }
        if (frame >= 0 && track.at == frame && drawnAt(track, t)) {
            saveCheckpoint(track, true);
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
