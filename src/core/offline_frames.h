// The frames an offline run draws: the schedule's levels from the decoded
// music, shared by the programs that rebuild the scenes' state at a time.
#pragma once

#include "audio/offline_music.h"
#include "core/engine.h"
#include "script/scene_rebuild.h"

// The music analysed as the running demo hears it, one frame after another
// from frame 0.
inline FrameSchedule::Analyse analyseFrames(OfflineMusic& music) {
    return [&music](long frame, double time, double frameSeconds, float& bass, float& treble) {
        if (frame == 0) {
            music.analyzer = AudioAnalyzer();
            music.analyzer.setSampleRate(static_cast<float>(music.rate));
        }
        music.analyseFrame(time, frameSeconds);
        bass = music.analyzer.bass;
        treble = music.analyzer.treble;
    };
}

// Frame k drawn as a viewer sees it, once the rebuild has brought the
// simulated scenes to it: the schedule's time and music levels.
inline void drawScheduledFrame(Engine& engine, SceneRebuild& rebuild, FrameSchedule& schedule,
                               long k) {
    float bass = 0.0f;
    float treble = 0.0f;
    schedule.levelsAt(k, bass, treble);
    engine.drawFrame(schedule.timeOf(k), bass, treble);
    rebuild.drawn(k);
}
