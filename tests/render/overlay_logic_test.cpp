#include "render/overlay_manager.h"

#include <cmath>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

namespace {

OverlaySprite traveller(int id, float speed, float boxX, float boxY) {
    OverlaySprite sprite;
    sprite.id = id;
    sprite.drift = 3;
    sprite.travelSpeed = speed;
    sprite.travelX = boxX;
    sprite.travelY = boxY;
    return sprite;
}

// Targets visited when every step is long enough to arrive at once.
std::vector<std::pair<float, float>> targets(int id, int count) {
    OverlaySprite sprite = traveller(id, 1000.0f, 100.0f, 50.0f);
    std::vector<std::pair<float, float>> out;
    double t = 0.0;
    travelStep(sprite, t);
    for (int i = 0; i < count; ++i) {
        out.emplace_back(sprite.travelTarget[0], sprite.travelTarget[1]);
        t += 0.5;
        travelStep(sprite, t);
        EXPECT_EQ(sprite.travelPos[0], out.back().first);
        EXPECT_EQ(sprite.travelPos[1], out.back().second);
    }
    return out;
}

TEST(OverlayTravel, TargetsFollowTheIdAndRepeatExactly) {
    const auto one = targets(1, 3);
    const auto two = targets(2, 3);
    // Reference values of the generator for a 100 x 50 box.
    const float expectOne[3][2] = {{28.0117f, 9.1174f}, {40.6700f, 26.6071f}, {28.7672f, 16.7285f}};
    const float expectTwo[3][2] = {{30.1948f, 4.4444f}, {35.7929f, 47.2886f}, {40.6237f, 40.8547f}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(one[i].first, expectOne[i][0], 1e-3f);
        EXPECT_NEAR(one[i].second, expectOne[i][1], 1e-3f);
        EXPECT_NEAR(two[i].first, expectTwo[i][0], 1e-3f);
        EXPECT_NEAR(two[i].second, expectTwo[i][1], 1e-3f);
    }
    EXPECT_EQ(targets(1, 3), one);
    EXPECT_EQ(targets(2, 3), two);

    for (const auto& [x, y] : targets(7, 200)) {
        EXPECT_GE(x, 0.0f);
        EXPECT_LT(x, 100.0f);
        EXPECT_GE(y, 0.0f);
        EXPECT_LT(y, 50.0f);
    }
}

TEST(OverlayTravel, MovesAtConstantSpeedAndArrivesWithoutOvershoot) {
    OverlaySprite sprite = traveller(1, 10.0f, 100.0f, 50.0f);
    travelStep(sprite, 2.0); // seeds; no time has passed yet
    EXPECT_TRUE(sprite.travelStarted);
    EXPECT_EQ(sprite.travelPos[0], 0.0f);
    EXPECT_EQ(sprite.travelPos[1], 0.0f);
    const auto target = sprite.travelTarget; // about (28.0, 9.1), 29.5 px away

    travelStep(sprite, 3.0);
    const float moved = std::hypot(sprite.travelPos[0], sprite.travelPos[1]);
    EXPECT_NEAR(moved, 10.0f, 1e-4f);
    // Straight towards the target.
    EXPECT_NEAR(sprite.travelPos[0] * target[1], sprite.travelPos[1] * target[0], 1e-3f);

    travelStep(sprite, 5.0); // 20 px left to go, 20 px of step: arrives
    EXPECT_EQ(sprite.travelPos, target);
    EXPECT_NE(sprite.travelTarget, target);
}

TEST(OverlayTravel, BackwardsTimeAndLongStallsMoveNothing) {
    OverlaySprite sprite = traveller(4, 10.0f, 100.0f, 50.0f);
    travelStep(sprite, 10.0);
    travelStep(sprite, 10.5);
    const auto before = sprite.travelPos;
    ASSERT_GT(std::hypot(before[0], before[1]), 4.9f);

    travelStep(sprite, 3.0); // loop jump
    EXPECT_EQ(sprite.travelPos, before);
    EXPECT_EQ(sprite.travelLast, 3.0);
    travelStep(sprite, 3.1); // carries on from the new time
    EXPECT_NEAR(std::hypot(sprite.travelPos[0] - before[0], sprite.travelPos[1] - before[1]), 1.0f,
                1e-4f);

    const auto held = sprite.travelPos;
    travelStep(sprite, 500.0); // 497 s x 10 px/s: a stall, not a move
    EXPECT_EQ(sprite.travelPos, held);
}

TEST(OverlayTravel, StillCases) {
    OverlaySprite stopped = traveller(3, 0.0f, 100.0f, 50.0f);
    for (double t = 0.0; t < 2.0; t += 0.25) {
        travelStep(stopped, t);
    }
    EXPECT_EQ(stopped.travelPos[0], 0.0f);
    EXPECT_EQ(stopped.travelPos[1], 0.0f);

    // An empty box: every target is the base position, a fresh one each frame.
    OverlaySprite boxed = traveller(3, 5.0f, 0.0f, 0.0f);
    travelStep(boxed, 0.0);
    const std::uint32_t rng = boxed.rng;
    travelStep(boxed, 0.1);
    EXPECT_EQ(boxed.travelPos[0], 0.0f);
    EXPECT_EQ(boxed.travelPos[1], 0.0f);
    EXPECT_NE(boxed.rng, rng);
}

OverlaySprite timed(double start, double end, float fadeIn, float fadeOut) {
    OverlaySprite sprite;
    sprite.start = start;
    sprite.end = end;
    sprite.fadeIn = fadeIn;
    sprite.fadeOut = fadeOut;
    return sprite;
}

TEST(OverlayFade, OpacityOverTheLifetime) {
    const OverlaySprite hard = timed(10.0, 20.0, 0.0f, 0.0f);
    EXPECT_EQ(overlayOpacity(hard, 9.99), 0.0f);
    EXPECT_EQ(overlayOpacity(hard, 10.0), 1.0f);
    EXPECT_EQ(overlayOpacity(hard, 20.0), 1.0f);
    EXPECT_EQ(overlayOpacity(hard, 20.01), 0.0f);

    const OverlaySprite soft = timed(10.0, 20.0, 2.0f, 4.0f);
    EXPECT_EQ(overlayOpacity(soft, 10.0), 0.0f);
    EXPECT_FLOAT_EQ(overlayOpacity(soft, 11.0), 0.5f);
    EXPECT_EQ(overlayOpacity(soft, 14.0), 1.0f);
    EXPECT_FLOAT_EQ(overlayOpacity(soft, 19.0), 0.25f);
    EXPECT_EQ(overlayOpacity(soft, 20.0), 0.0f);

    // Fades longer than the life overlap: the smaller of the two wins.
    const OverlaySprite brief = timed(0.0, 1.0, 2.0f, 2.0f);
    EXPECT_FLOAT_EQ(overlayOpacity(brief, 0.5), 0.25f);
}

TEST(OverlayGlow, HoldWindowAndRamp) {
    const OverlaySprite sprite = timed(10.0, 20.0, 1.0f, 2.0f);
    EXPECT_DOUBLE_EQ(glowRamp(sprite), 0.4);
    EXPECT_EQ(glowEnvelope(sprite, 10.5), 0.0f); // fading in
    EXPECT_EQ(glowEnvelope(sprite, 11.0), 0.0f);
    EXPECT_NEAR(glowEnvelope(sprite, 11.2), 0.5f, 1e-5f);
    EXPECT_NEAR(glowEnvelope(sprite, 11.4), 1.0f, 1e-5f);
    EXPECT_EQ(glowEnvelope(sprite, 15.0), 1.0f);
    EXPECT_NEAR(glowEnvelope(sprite, 17.6), 1.0f, 1e-5f);
    EXPECT_NEAR(glowEnvelope(sprite, 17.8), 0.5f, 1e-5f);
    EXPECT_EQ(glowEnvelope(sprite, 18.0), 0.0f);
    EXPECT_EQ(glowEnvelope(sprite, 19.0), 0.0f); // fading out

    const OverlaySprite shortOne = timed(10.0, 10.5, 0.0f, 0.0f);
    EXPECT_DOUBLE_EQ(glowRamp(shortOne), 0.25);
    EXPECT_NEAR(glowEnvelope(shortOne, 10.125), 0.5f, 1e-5f);
    EXPECT_NEAR(glowEnvelope(shortOne, 10.25), 1.0f, 1e-5f);

    // Fades that swallow the whole life leave no hold window at all.
    const OverlaySprite noHold = timed(10.0, 12.0, 1.0f, 1.0f);
    EXPECT_EQ(glowRamp(noHold), 0.0);
    EXPECT_EQ(glowEnvelope(noHold, 11.0), 0.0f);
}

} // namespace

TEST(OverlayUpdate, AnEntryAddedAheadOfKeptOnesIsDrawnUnderThem) {
    // Entries without an image need no GL: the records alone are compared.
    DemoScript script;
    OverlayEntry kept;
    kept.id = 2;
    kept.x = 5.0f;
    script.overlays.push_back(kept);
    OverlayManager overlays;
    overlays.build(script);
    overlays.sprites[0].travelStarted = true;

    OverlayEntry added;
    added.id = 1;
    script.overlays.insert(script.overlays.begin(), added);
    overlays.update(script);
    ASSERT_EQ(overlays.sprites.size(), 2u);
    EXPECT_EQ(overlays.sprites[0].id, 1);
    EXPECT_EQ(overlays.sprites[1].id, 2);
    EXPECT_TRUE(overlays.sprites[1].travelStarted) << "moved with its state";
}
