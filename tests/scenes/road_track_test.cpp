#include "scenes/road_track.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// Start of each segment along the lap.
float segmentStart(int i) {
    float a = 0.0f;
    for (int k = 0; k < i; ++k) {
        a += kRoadSegments[k].length;
    }
    return a;
}

} // namespace

TEST(RoadTrack, CurvatureMeetsEachSegmentAtItsMidpointAndEasesBetween) {
    EXPECT_FLOAT_EQ(roadLapLength(), 589.0f);
    for (int i = 0; i < kRoadSegmentCount; ++i) {
        const float mid = segmentStart(i) + kRoadSegments[i].length / 2.0f;
        EXPECT_NEAR(roadCurvature(mid), kRoadSegments[i].curve, 1e-5f) << "segment " << i;
        // The same point one lap on, and one lap back.
        EXPECT_NEAR(roadCurvature(mid + 589.0f), kRoadSegments[i].curve, 1e-4f);
        EXPECT_NEAR(roadCurvature(mid - 589.0f), kRoadSegments[i].curve, 1e-4f);
    }
    // Between the midpoints of segments 0 (curve 0, mid 30) and 1 (1.1, mid
    // 107.5): monotonic, halfway at the middle of the span, flat at the ends.
    EXPECT_NEAR(roadCurvature((30.0f + 107.5f) / 2.0f), 0.55f, 1e-4f);
    float previous = roadCurvature(30.0f);
    for (float s = 31.0f; s <= 107.0f; s += 1.0f) {
        const float c = roadCurvature(s);
        EXPECT_GE(c, previous - 1e-6f) << s;
        previous = c;
    }
    EXPECT_LT(roadCurvature(32.0f), 0.01f);
    // Across the lap end: the last segment (curve 0) eases into segment 0
    // (curve 0), and segment 8 (-1.4) on towards segment 9.
    EXPECT_NEAR(roadCurvature(588.9f), roadCurvature(-0.1f), 1e-5f);
    EXPECT_LT(roadCurvature(520.0f), -0.9f);
}

TEST(RoadTrack, HeadingTableSumsTheCurvatureOverTheLap) {
    std::vector<float> heading{1.0f, 2.0f}; // rebuilt from scratch
    const float total = buildRoadHeadingTable(heading);
    ASSERT_EQ(heading.size(), 590u);
    EXPECT_EQ(heading[0], 0.0f);
    EXPECT_NEAR(heading[1], roadCurvature(0.0f), 1e-6f);
    EXPECT_NEAR(total, heading[589] + roadCurvature(589.0f), 1e-3f);
    // One lap on, the heading has grown by the total.
    EXPECT_NEAR(roadHeadingAt(heading, total, 100.5f + 589.0f),
                roadHeadingAt(heading, total, 100.5f) + total, 1e-2f);
    EXPECT_NEAR(roadHeadingAt(heading, total, 100.5f), (heading[100] + heading[101]) / 2.0f, 1e-3f);
    EXPECT_EQ(roadHeadingAt({}, 0.0f, 50.0f), 0.0f);
}

TEST(RoadTrack, NonFiniteDistancesGiveAStraightEmptyRoad) {
    std::vector<float> heading;
    const float total = buildRoadHeadingTable(heading);
    std::vector<RoadSprite> sprites;
    buildRoadSprites(sprites);
    for (const float bad : {NAN, INFINITY, -INFINITY}) {
        EXPECT_EQ(roadCurvature(bad), 0.0f);
        EXPECT_EQ(roadHeadingAt(heading, total, bad), 0.0f);
        std::vector<ProjectedSprite> out;
        RoadRows rows;
        computeRoadRows(bad, kRoadHorizon, rows);
        projectRoadSprites(sprites, rows, bad, 589.0f, kRoadHorizon, 320, out);
        EXPECT_TRUE(out.empty());
    }
}

TEST(RoadTrack, PlacesTheSameTreesRocksAndGhostsEveryTime) {
    std::vector<RoadSprite> a;
    std::vector<RoadSprite> b{RoadSprite{}};
    buildRoadSprites(a);
    buildRoadSprites(b);
    ASSERT_EQ(a.size(), 290u);
    ASSERT_EQ(b.size(), a.size());
    int counts[3] = {};
    for (std::size_t i = 0; i < a.size(); ++i) {
        ++counts[a[i].kind];
        EXPECT_EQ(a[i].scale, b[i].scale);
        EXPECT_EQ(a[i].z, b[i].z);
        EXPECT_GE(a[i].z, 0.0f);
        EXPECT_LT(a[i].z, 589.0f);
        if (a[i].kind == kRoadTree) {
            EXPECT_GE(a[i].scale, 0.9f * 1.5f);
            EXPECT_LT(a[i].scale, 1.1f * 1.5f);
        }
    }
    EXPECT_EQ(counts[kRoadTree], 277);
    EXPECT_EQ(counts[kRoadRock], 10);
    EXPECT_EQ(counts[kRoadGhost], 3);
    // The first tree takes R(0): Wang's hash of 0 scaled to [0, 1).
    EXPECT_FLOAT_EQ(a[0].scale, (0.9f + 0.2f * roadHash01(0)) * 1.5f);
    EXPECT_NE(roadHash01(0), roadHash01(1));
}

TEST(RoadTrack, RowTablesAreEmptyAboveTheHorizonAndStartStraightAtTheBottom) {
    for (const float cam : {0.0f, 123.4f, 588.0f, 5000.0f}) {
        RoadRows rows;
        std::fill(std::begin(rows.offset), std::end(rows.offset), 9.0f);
        computeRoadRows(cam, kRoadHorizon, rows);
        for (int r = 0; r <= 76; ++r) {
            ASSERT_EQ(rows.offset[r], 0.0f) << r;
            ASSERT_EQ(rows.scale[r], 0.0f) << r;
            ASSERT_EQ(rows.stripe[r], 0.0f) << r;
        }
        EXPECT_EQ(rows.offset[179], 0.0f);
        // Half width at row r is 380 / (150 / (r - horizon)).
        EXPECT_NEAR(rows.scale[179], 380.0f * (179.0f - kRoadHorizon) / 150.0f, 1e-3f);
        EXPECT_GT(rows.scale[77], 0.0f);
        for (int r = 77; r < 180; ++r) {
            ASSERT_TRUE(rows.stripe[r] == 0.0f || rows.stripe[r] == 1.0f);
        }
    }
    // In the right-hand bend (segment 1, curve 1.1) the far rows swing right.
    RoadRows bend;
    computeRoadRows(80.0f, kRoadHorizon, bend);
    EXPECT_GT(bend.offset[80], 1.0f);
    EXPECT_GT(bend.offset[77], bend.offset[80]);
    RoadRows left;
    computeRoadRows(200.0f, kRoadHorizon, left);
    EXPECT_LT(left.offset[80], -1.0f);
}

TEST(RoadTrack, SpritesAreDrawnFromNearToFarLimitsMeasuredAcrossTheLapEnd) {
    RoadRows rows;
    computeRoadRows(588.0f, kRoadHorizon, rows);
    // With the camera at 588, track distance 1.5 is 2.5 ahead and 129 is 130.
    const std::vector<RoadSprite> sprites{
        {kRoadTree, 1.5f, 0.0f, 1.0f},    {kRoadRock, 129.0f, 0.0f, 1.0f},
        {kRoadTree, 1.4f, 0.0f, 1.0f},    {kRoadTree, 129.1f, 0.0f, 1.0f},
        {kRoadGhost, 587.0f, 0.0f, 1.0f}, {kRoadGhost, 50.0f, 1.0f, 1.0f},
    };
    std::vector<ProjectedSprite> out{ProjectedSprite{}};
    projectRoadSprites(sprites, rows, 588.0f, 589.0f, kRoadHorizon, 320, out);
    ASSERT_EQ(out.size(), 3u);
    // Farthest first.
    EXPECT_FLOAT_EQ(out[0].distance, 130.0f);
    EXPECT_EQ(out[0].kind, kRoadRock);
    EXPECT_FLOAT_EQ(out[1].distance, 51.0f);
    EXPECT_FLOAT_EQ(out[2].distance, 2.5f);

    const ProjectedSprite& near = out[2];
    EXPECT_FLOAT_EQ(near.baseY, 150.0f / 2.5f + kRoadHorizon);
    EXPECT_FLOAT_EQ(near.width, 10.0f / 2.5f * 24.0f);
    EXPECT_FLOAT_EQ(near.height, 10.0f / 2.5f * 44.0f);
    EXPECT_EQ(near.fog, 0.0f);
    EXPECT_EQ(out[0].fog, 1.0f);
    // One road half width to the right of the road centre at its row.
    const ProjectedSprite& side = out[1];
    const int row = static_cast<int>(side.baseY);
    EXPECT_NEAR(side.screenX, 160.0f + rows.offset[row] + 380.0f / 51.0f, 0.5f);
}

TEST(RoadTrack, VehicleLeansIntoTheBendAhead) {
    // Curvature 0 at the first segment's midpoint (30), -1.9 at the fourth's (230).
    EXPECT_FLOAT_EQ(roadVehicleLeft(320, 30.0f - kVehicleLookAhead), 113.0f);
    EXPECT_NEAR(roadVehicleLeft(320, 230.0f - kVehicleLookAhead), 113.0f - 30.4f, 1e-4f);
}
