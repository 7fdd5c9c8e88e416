#include "core/clock.h"

#include <gtest/gtest.h>

TEST(Clock, WrapsPastTheMusicEndToTheLoopPoint) {
    const LoopRange range = loopRange(180.0, 120.0, 30.0);
    EXPECT_DOUBLE_EQ(range.start, 30.0);
    EXPECT_DOUBLE_EQ(range.end, 180.0);
    const double n = wrapTime(180.02, range);
    EXPECT_NEAR(n, 30.02, 1e-9);
    EXPECT_EQ(frameNumberAt(n), 1801);
}
