#pragma once

#include <cstdint>
#include <vector>

// The road's geometry on the CPU: the looping track, the roadside sprites,
// the per-row tables the road shader draws from, and sprite projection.

constexpr int kRoadRows = 180;
constexpr float kRoadHorizon = 75.6f;
constexpr float kRoadDepthConst = 150.0f;
constexpr float kRoadWidthConst = 380.0f;
constexpr float kRoadCurveGain = 0.0048f;
constexpr float kRoadStripeLength = 9.0f;
constexpr float kRoadSpeed = 52.0f;
constexpr float kRoadFogStart = 30.0f;
constexpr float kRoadFogEnd = 120.0f;
constexpr float kRoadSpriteNear = 2.5f;
constexpr float kRoadSpriteFar = 130.0f;
constexpr float kRoadSpriteSize = 10.0f;
constexpr float kVehicleWidth = 94.0f;
constexpr float kVehicleHeight = 87.0f;
constexpr float kVehicleTop = 87.0f;
// How far ahead the vehicle looks to lean into a bend, in world units.
constexpr float kVehicleLookAhead = 14.0f;

struct RoadSegment {
    float curve;
    float length;
};

constexpr int kRoadSegmentCount = 10;
extern const RoadSegment kRoadSegments[kRoadSegmentCount];

// Sum of the segment lengths: 589.
float roadLapLength();

// Eased curvature at track distance s, wrapping at the lap end.
float roadCurvature(float s);

// heading[n] = sum of curvature(k) for k < n, for n = 0..lap length; returns
// the total over k = 0..lap length.
float buildRoadHeadingTable(std::vector<float>& heading);

// Heading of the camera at distance cam, continued across laps.
float roadHeadingAt(const std::vector<float>& heading, float total, float cam);

// Wang's integer hash scaled to [0, 1).
float roadHash01(std::uint32_t n);

enum RoadSpriteKind : std::int32_t { kRoadTree = 0, kRoadRock = 1, kRoadGhost = 2 };

struct RoadSprite {
    std::int32_t kind = kRoadTree;
    float z = 0.0f; // track distance from the lap start
    float x = 0.0f; // road half widths from the centre; negative is left
    float scale = 1.0f;
};

// Base size in pixels at distance 10, by kind.
struct RoadSpriteBase {
    float width;
    float height;
};
extern const RoadSpriteBase kRoadSpriteBase[3];

void buildRoadSprites(std::vector<RoadSprite>& sprites);

struct RoadRows {
    float offset[kRoadRows] = {};
    float scale[kRoadRows] = {};
    float stripe[kRoadRows] = {};
};

// Rows from the bottom up: lateral offset accumulated from the curvature
// ahead of cam, half width, and light/dark stripe.
void computeRoadRows(float cam, float horizon, RoadRows& rows);

struct ProjectedSprite {
    float distance = 0.0f;
    float screenX = 0.0f; // centre
    float baseY = 0.0f;   // row of the sprite's base
    float width = 0.0f;
    float height = 0.0f;
    float fog = 0.0f;
    std::int32_t kind = kRoadTree;
};

// Sprites within the near..far window ahead of cam (measured across the lap
// end), projected and sorted far to near.
void projectRoadSprites(const std::vector<RoadSprite>& sprites, const RoadRows& rows, float cam,
                        float lapLength, float horizon, int width,
                        std::vector<ProjectedSprite>& out);

// Left edge of the vehicle, swaying with the curvature just ahead.
float roadVehicleLeft(int width, float cam);
