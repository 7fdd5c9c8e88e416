#include "audio/arriving_bytes.h"

#include <cmath>
#include <gtest/gtest.h>

// A run playing a 120 s track whose download is slower than the music (or
// faster, or stopped), frame by frame: it waits once, at the start or where
// the music runs low, and never again, and never plays music not yet there.
TEST(MusicWait, ASlowDownloadIsWaitedForOnceAndNeverRunsDry) {
    for (const double rate : {0.3, 0.7, 0.95, 1.5, 30.0}) {
        const double length = 120.0;
        const double dt = 1.0 / 60.0;
        double arrived = 0.0;
        double playing = 0.0;
        bool holding = false;
        int holds = 0;
        for (double t = 0.0; playing < length - dt && t < 2000.0; t += dt) {
            arrived = std::min(length, arrived + rate * dt);
            const double wait = musicWait(arrived - playing, length - arrived, rate, holding);
            holds += wait > 0.0 && !holding;
            holding = wait > 0.0;
            if (!holding) {
                playing += dt;
                ASSERT_LE(playing, arrived + 1e-9) << rate << " at " << t;
            }
        }
        EXPECT_GE(playing, length - dt) << rate;
        EXPECT_EQ(holds, 1) << rate; // the start's first seconds, at every rate
    }
    // Nothing arriving: the wait has no end; all there: none.
    EXPECT_TRUE(std::isinf(musicWait(0.5, 60.0, 0.0, false)));
    EXPECT_EQ(musicWait(0.0, 0.0, 0.0, true), 0.0);
}
