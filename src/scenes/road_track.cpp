#include "scenes/road_track.h"

#include <algorithm>
#include <cmath>

const RoadSegment kRoadSegments[kRoadSegmentCount] = {
    {0.0f, 60.0f}, {1.1f, 95.0f},  {0.0f, 30.0f}, {-1.9f, 90.0f}, {0.0f, 34.0f},
    {0.9f, 50.0f}, {-0.9f, 50.0f}, {0.0f, 40.0f}, {-1.4f, 95.0f}, {0.0f, 45.0f},
};

const RoadSpriteBase kRoadSpriteBase[3] = {{24.0f, 44.0f}, {30.0f, 30.0f}, {16.0f, 16.0f}};

float roadLapLength() {
    float sum = 0.0f;
    for (const RoadSegment& s : kRoadSegments) {
        sum += s.length;
    }
    return sum;
}

float roadCurvature(float s) {
    const float lap = roadLapLength();
    if (!(lap > 0.0f) || !std::isfinite(s)) {
        return 0.0f;
    }
    float u = std::fmod(s, lap);
    if (u < 0.0f) {
        u += lap;
    }
    int i = kRoadSegmentCount - 1;
    float a = 0.0f;
    for (int k = 0; k < kRoadSegmentCount; ++k) {
        if (a + kRoadSegments[k].length > u) {
            i = k;
            break;
        }
        if (k < kRoadSegmentCount - 1) {
            a += kRoadSegments[k].length;
        }
    }
    const RoadSegment& seg = kRoadSegments[i];
    const float m = a + seg.length / 2.0f;
    const int j =
        u < m ? (i + kRoadSegmentCount - 1) % kRoadSegmentCount : (i + 1) % kRoadSegmentCount;
    const float span = seg.length / 2.0f + kRoadSegments[j].length / 2.0f;
    float t = 0.0f;
    if (span != 0.0f) {
        t = (u < m ? m - u : u - m) / span;
    }
    t = std::clamp(t, 0.0f, 1.0f);
    const float w = t * t * (3.0f - 2.0f * t);
    return (1.0f - w) * seg.curve + w * kRoadSegments[j].curve;
}

float buildRoadHeadingTable(std::vector<float>& heading) {
    heading.clear();
    const float lap = roadLapLength();
    float sum = 0.0f;
    for (int n = 0; static_cast<float>(n) <= lap; ++n) {
        heading.push_back(sum);
        sum += roadCurvature(static_cast<float>(n));
    }
    return sum;
}

float roadHeadingAt(const std::vector<float>& heading, float total, float cam) {
    const float lap = roadLapLength();
    if (heading.empty() || !(lap > 0.0f) || !std::isfinite(cam)) {
        return 0.0f;
    }
    const float laps = std::floor(cam / lap);
    const float p = cam - laps * lap;
    const int last = static_cast<int>(heading.size()) - 1;
    const int k = std::clamp(static_cast<int>(p), 0, last);
    const int k2 = std::min(k + 1, last);
    const float f = p - static_cast<float>(k);
    return (1.0f - f) * heading[k] + f * heading[k2] + laps * total;
}

float roadHash01(std::uint32_t n) {
    std::uint32_t h = (n ^ 61u) ^ (n >> 16);
    h *= 9u;
    h ^= h >> 4;
    h *= 0x27D4EB2Du;
    h ^= h >> 15;
    return static_cast<float>(h & 0xFFFFFFu) * (1.0f / 16777216.0f);
}

void buildRoadSprites(std::vector<RoadSprite>& sprites) {
    sprites.clear();
    const float lap = roadLapLength();
    std::uint32_t counter = 0;
    auto addTree = [&](float z, float x) {
        const float r = roadHash01(counter++);
        sprites.push_back({kRoadTree, z, x, (0.9f + 0.2f * r) * 1.5f});
    };
    int i = 0;
    for (float z = 16.0f; z < lap - 12.0f; z += 14.0f, ++i) {
        const float side = (i % 2 == 1) ? 1.0f : -1.0f;
        const float x = side * (1.3f + 0.22f * std::sin(0.23f * z));
        if (i % 4 == 3) {
            sprites.push_back({kRoadRock, z, x, 1.0f});
        } else {
            addTree(z, x);
        }
        addTree(z + 5.0f, -(2.15f + 0.3f * std::sin(0.17f * z)));
        addTree(z + 9.0f, 2.55f + 0.3f * std::sin(0.31f * z));
        addTree(z + 3.0f, -(3.3f + 0.45f * std::sin(0.11f * z)));
        addTree(z + 12.0f, 3.8f + 0.45f * std::sin(0.41f * z));
        addTree(z + 7.0f, -(4.7f + 0.55f * std::sin(0.07f * z)));
        addTree(z + 2.0f, 5.6f + 0.55f * std::sin(0.37f * z));
    }
    sprites.push_back({kRoadGhost, 88.0f, -0.45f, 1.25f});
    sprites.push_back({kRoadGhost, 222.0f, 0.5f, 1.25f});
    sprites.push_back({kRoadGhost, 360.0f, -0.4f, 1.25f});
}

void computeRoadRows(float cam, float horizon, RoadRows& rows) {
    float prevZ = 0.0f;
    float slope = 0.0f;
    float lateral = 0.0f;
    for (int r = kRoadRows - 1; r >= 0; --r) {
        const float dy = static_cast<float>(r) - horizon;
        if (!(dy > 0.5f)) {
            rows.offset[r] = 0.0f;
            rows.scale[r] = 0.0f;
            rows.stripe[r] = 0.0f;
            continue;
        }
        const float z = kRoadDepthConst / dy;
        const float dz = prevZ > 0.0f ? z - prevZ : 0.0f;
        const float d = z + cam;
        slope += roadCurvature(d) * kRoadCurveGain * dz;
        lateral += slope * dz;
        rows.offset[r] = lateral;
        rows.scale[r] = kRoadWidthConst / z;
        rows.stripe[r] = std::fmod(std::floor(d / kRoadStripeLength), 2.0f);
        prevZ = z;
    }
}

void projectRoadSprites(const std::vector<RoadSprite>& sprites, const RoadRows& rows, float cam,
                        float lapLength, float horizon, int width,
                        std::vector<ProjectedSprite>& out) {
    out.clear();
    if (!(lapLength > 0.0f) || !std::isfinite(cam)) {
        return;
    }
    float camLap = std::fmod(cam, lapLength);
    if (camLap < 0.0f) {
        camLap += lapLength;
    }
    const int firstRow = static_cast<int>(std::ceil(horizon));
    for (const RoadSprite& s : sprites) {
        float e = s.z - camLap;
        if (e < 0.0f) {
            e += lapLength;
        }
        if (!(e >= kRoadSpriteNear && e <= kRoadSpriteFar)) {
            continue;
        }
        const float y = kRoadDepthConst / e + horizon;
        const int i0 = std::clamp(static_cast<int>(std::floor(y)), firstRow, kRoadRows - 1);
        const int i1 = std::clamp(i0 + 1, firstRow, kRoadRows - 1);
        const float f = y - std::floor(y);
        ProjectedSprite p;
        p.distance = e;
        p.screenX = (1.0f - f) * rows.offset[i0] + f * rows.offset[i1] +
                    static_cast<float>(width) / 2.0f + (kRoadWidthConst / e) * s.x;
        p.baseY = y;
        const int kind = std::clamp(static_cast<int>(s.kind), 0, 2);
        p.width = (kRoadSpriteSize / e) * kRoadSpriteBase[kind].width * s.scale;
        p.height = (kRoadSpriteSize / e) * kRoadSpriteBase[kind].height * s.scale;
        const float t = std::clamp((e - kRoadFogStart) / (kRoadFogEnd - kRoadFogStart), 0.0f, 1.0f);
        p.fog = t * t * (3.0f - 2.0f * t);
        p.kind = kind;
        out.push_back(p);
    }
    std::sort(out.begin(), out.end(), [](const ProjectedSprite& a, const ProjectedSprite& b) {
        return a.distance > b.distance;
    });
}

float roadVehicleLeft(int width, float cam) {
    return static_cast<float>(width) / 2.0f - kVehicleWidth / 2.0f +
           16.0f * roadCurvature(cam + kVehicleLookAhead);
}
