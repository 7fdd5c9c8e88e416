#pragma once

#include "base/clock.h"
#include "render/overlay_manager.h"
#include "scenes/scene_state.h"
#include "script/timeline.h"

#include <cstddef>
#include <functional>
#include <vector>

// Frame k of a run at a fixed rate: its demo time, wrapped at the loop end as
// the running clock is, and the music's levels then, analysed frame by frame
// from frame 0 so that a level never depends on where a run started.
class FrameSchedule {
  public:
    // Called for frames 0, 1, 2, ... in order with the frame's time and length;
    // frame 0 starts the analysis afresh.
    using Analyse = std::function<void(long frame, double time, double frameSeconds, float& bass,
                                       float& treble)>;

    void init(int fps, const LoopRange& range, Analyse analyse);
    // A new loop range moves the times past its end: the levels are analysed again.
    void setRange(const LoopRange& range);
    const LoopRange& range() const { return loop; }
    int fps() const { return rate; }
    double timeOf(long frame) const { return timeOf(frame, rate, loop); }
    static double timeOf(long frame, int fps, const LoopRange& range);
    // The first frame the loop end wraps: frames before it are the first pass.
    long firstPassEnd() const { return firstPassEnd(rate, loop); }
    static long firstPassEnd(int fps, const LoopRange& range);
    // Frames from a time, as a still at that time is numbered.
    long frameAt(double time) const;
    void levelsAt(long frame, float& bass, float& treble);

  private:
    int rate = 60;
    LoopRange loop;
    Analyse analyse;
    std::vector<float> bassLevels;
    std::vector<float> trebleLevels;
};

// Brings the timeline's scenes and the overlays to the state frame k finds in
// a run that drew every frame from 0 at the schedule's rate, without drawing:
// - what the entries leave in a scene for later frames (a palette kept when
//   the next entry gives none, the smoke's values) and the wandering
//   overlays' motion are cheap, and are replayed frame by frame from 0;
// - the simulated scenes drawn at k are stepped from the nearest state known
//   before k: their live state or a checkpoint. Checkpoints are taken every
//   kCheckpointFrames of the first pass (where seeks land) while a run draws
//   or rebuilds, within kBudgetBytes, and beside them the copy of a frame
//   drawn again and again (paused, editing), whatever the budget.
class SceneRebuild {
  public:
    static constexpr long kCheckpointFrames = 120;
    static constexpr std::size_t kBudgetBytes = std::size_t{256} << 20;

    // Right after Timeline::init and before any frame is drawn: the scenes'
    // fresh state is kept as frame 0's.
    void init(Timeline& timeline, OverlayManager& overlays, FrameSchedule& schedule);
    // A run whose simulations start at `frame` from their fresh state.
    void restart(long frame);
    // After the script's entries or the schedule's loop range changed: the
    // states that no longer hold go, from the first frame the change steps
    // differently; those before it stay.
    void scheduleChanged();
    // Steps towards the state before frame k. True once there; false when
    // `budgetSeconds` ran out first (the next call goes on from there).
    bool bringTo(long frame, double budgetSeconds);
    // Frame k has been drawn from the state bringTo(k) left.
    void drawn(long frame);
    // Before drawing frame k again and again (paused, editing the script):
    // the state bringTo(k) left is kept, in place of the last one kept so,
    // and drawing k again needs no steps. -1 lets the last one go.
    void keep(long frame);
    // Of the steps the last target needed, the share taken (1 when there).
    double progress() const;
    // The steps bringTo(frame) would take, and the seconds a step took lately.
    long stepsTo(long frame);
    double stepSeconds() const { return perStep; }
    std::size_t checkpointBytes() const { return bytes; }
    // Steps taken since init, for measuring.
    long stepsTaken() const { return steps; }
    void release();

  private:
    struct Checkpoint {
        long frame = 0;
        SceneState state;
    };
    struct Track {
        IScene* scene = nullptr;
        long at = 0; // the state is the one before this frame; -1 when unknown
        std::vector<Checkpoint> checkpoints; // by frame; the first is the fresh state
        std::vector<ActiveScene> entries;    // the scene's entries as last seen
    };
    // Where a track's steps towards a frame begin: its live state (no
    // checkpoint) or a checkpoint; frame -1 when there is none.
    struct Start {
        long frame = -1;
        const Checkpoint* checkpoint = nullptr;
    };

    bool drawnAt(const Track& track, double time) const;
    Start startFor(const Track& track, long frame) const;
    int stepFrame(Track& track, long frame, bool count);
    bool periodic(long frame) const;
    void saveCheckpoint(Track& track, bool always);
    void dropCheckpoints(Track& track, const std::function<bool(const Checkpoint&)>& drop);
    long firstChange(const Track& track, const LoopRange& before) const;
    void replaySettings(long frame);
    void measureSteps(long count, double seconds);
    std::vector<ActiveScene> entriesOf(const IScene* scene) const;

    Timeline* timeline = nullptr;
    OverlayManager* overlays = nullptr;
    FrameSchedule* schedule = nullptr;
    LoopRange range; // the schedule's, as last seen
    std::vector<Track> tracks;
    long origin = 0;
    long kept = -1;
    long settingsAt = -1; // the replayed settings and overlays are those before this frame
    long target = -1;
    long stepsNeeded = 0;
    long stepsDone = 0;
    long steps = 0;
    double perStep = 0.0;
    std::size_t bytes = 0;
    bool budgetLogged = false;
};
