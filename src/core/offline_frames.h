// The frames an offline run draws: the schedule's levels from the decoded
// music, shared by the programs that rebuild the scenes' state at a time.
#pragma once

#include "audio/offline_music.h"
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
