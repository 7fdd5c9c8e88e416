#pragma once

#include "base/clock.h"
#include "render/overlay_manager.h"
#include "scenes/scene_state.h"
#include "script/timeline.h"

#include <array>
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
    double timeOf(long frame) const;
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

// Brings the timeline's simulated scenes to the state they would have in a run
// that drew every frame from 0 at the schedule's rate, by stepping only the
// scenes drawn at the wanted frame, from their own last known state or the
// nearest checkpoint before it, without drawing anything. Checkpoints are
// taken every kCheckpointFrames of a scene's own steps while a run draws or
// rebuilds, within kBudgetBytes. The wandering overlays are replayed too.
class SceneRebuild {
  public:
    static constexpr long kCheckpointFrames = 120;
    static constexpr std::size_t kBudgetBytes = std::size_t{256} << 20;

    // Right after Timeline::init and before any frame is drawn: the scenes'
    // fresh state is kept as frame 0's.
    void init(Timeline& timeline, OverlayManager& overlays, FrameSchedule& schedule);
    // A run that starts at `frame` with fresh scenes.
    void restart(long frame);
    // After the script's entries changed: whatever they no longer produce goes.
    void scheduleChanged();
    // Steps towards the state before frame k for every simulated scene drawn
    // at k and replays the overlays' motion. True once there; false when
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
        std::vector<std::array<double, 4>> entries;
    };

    bool drawnAt(const Track& track, double time) const;
    int stepFrame(Track& track, long frame, bool count);
    void restoreBefore(Track& track, long frame);
    void saveCheckpoint(Track& track);
    void dropCheckpoint(Track& track, long frame);
    void measureSteps(long count, double seconds);
    std::vector<std::array<double, 4>> entriesOf(const IScene* scene) const;

    Timeline* timeline = nullptr;
    OverlayManager* overlays = nullptr;
    FrameSchedule* schedule = nullptr;
    std::vector<Track> tracks;
    long origin = 0;
    long kept = -1;
    long travelAt = 0;
    long target = -1;
    long stepsNeeded = 0;
    long stepsDone = 0;
    long steps = 0;
    double perStep = 0.0;
    std::size_t bytes = 0;
    bool budgetLogged = false;
};
