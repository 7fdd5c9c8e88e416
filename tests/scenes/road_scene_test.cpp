#include "scene_fixture.h"
#include "scenes/road_scene.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace {

constexpr Float3 kLow{0.0f, 0.0f, 0.15f};
constexpr Float3 kMid{0.0f, 0.06f, 0.27f};
constexpr Float3 kHigh{0.01f, 0.04f, 0.12f};

class RoadSceneTest : public SceneTest<RoadScene> {
  protected:
    RoadSceneTest() : SceneTest(0.5f) {}

    void SetUp() override {
        SceneTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        computeRoadRows(0.0f, kRoadHorizon, rows);
        std::vector<RoadSprite> sprites;
        buildRoadSprites(sprites);
        projectRoadSprites(sprites, rows, 0.0f, 589.0f, kRoadHorizon, 320, projected);
    }
    // True where no sprite (nor the vehicle) can cover pixel (x, row) at cam 0.
    bool clearOfSprites(float x, float row) const {
        for (const ProjectedSprite& s : projected) {
            if (std::abs(x - s.screenX) <= s.width / 2.0f + 1.0f && row <= s.baseY + 1.0f &&
                row >= s.baseY - s.height - 1.0f) {
                return false;
            }
        }
        return !(x >= 112.0f && x <= 208.0f && row >= 86.0f && row <= 175.0f);
    }

    static int near255(float c) { return static_cast<int>(std::lround(c * 255.0f)); }

    void saveShot(const std::string& name) const {
        if (const char* dir = std::getenv("QUEX_SCENE_SHOTS")) {
            writePng(std::string(dir) + "/" + name + ".png", canvas.read(), 320, 180);
        }
    }

    RoadRows rows;
    std::vector<ProjectedSprite> projected;
};

float hillTop(float x) {
    return kRoadHorizon - 16.0f -
           (11.0f * std::sin(0.012f * x) + 5.0f * std::sin(0.029f * x + 1.7f) +
            2.5f * std::sin(0.071f * x + 4.1f));
}

} // namespace

TEST_F(RoadSceneTest, SkyHillsAndRoadLieWhereTheTablesPutThem) {
    scene.render(0.0, 0.0, 1.0f);
    saveShot("road_start");

    // Top row: the zenith colour (default mid) barely tinted by the glow.
    const auto top = canvas.pixelTopDown(200, 0);
    EXPECT_NEAR(top[0], 5, 2);
    EXPECT_NEAR(top[1], 13, 2);
    EXPECT_NEAR(top[2], 41, 2);
    EXPECT_EQ(top[3], 255);

    // A column clear of sprites: the hill (default low, black) from its ridge
    // down to the horizon, sky above it.
    int column = -1;
    for (int x = 0; x < 320 && column < 0; ++x) {
        const float cx = static_cast<float>(x) + 0.5f;
        bool clear = true;
        for (float r = hillTop(cx) - 3.0f; r <= kRoadHorizon; r += 1.0f) {
            clear = clear && clearOfSprites(cx, r);
        }
        if (clear) {
            column = x;
        }
    }
    ASSERT_GE(column, 0);
    const float top0 = hillTop(static_cast<float>(column) + 0.5f);
    const auto hill = canvas.pixelTopDown(column, static_cast<int>(std::ceil(top0)) + 1);
    EXPECT_LT(hill[0] + hill[1] + hill[2], 3);
    const auto sky = canvas.pixelTopDown(column, static_cast<int>(std::floor(top0)) - 2);
    EXPECT_GT(sky[2], 40);

    // Row 100: rumble just beyond the half width, grass further out, left of
    // the vehicle; row 177, under the vehicle, is road nearly edge to edge.
    const int row = 100;
    const float centre = 160.0f + rows.offset[row];
    const float hw = rows.scale[row];
    const int rumbleX = static_cast<int>(centre - 1.08f * hw);
    const int grassX = static_cast<int>(centre - 1.4f * hw);
    ASSERT_TRUE(clearOfSprites(rumbleX + 0.5f, row + 0.5f));
    ASSERT_TRUE(clearOfSprites(grassX + 0.5f, row + 0.5f));
    const auto rumble = canvas.pixelTopDown(rumbleX, row);
    const auto grass = canvas.pixelTopDown(grassX, row);
    const bool dark = rows.stripe[row] > 0.5f;
    EXPECT_NEAR(rumble[0], near255(dark ? 0.800f : 0.620f), 2);
    EXPECT_NEAR(grass[1], near255(dark ? 0.082f : 0.100f), 2);

    const int nearRow = 177;
    const int roadX = static_cast<int>(160.0f + rows.offset[nearRow] - 0.3f * rows.scale[nearRow]);
    const auto road = canvas.pixelTopDown(roadX, nearRow);
    EXPECT_NEAR(road[2], near255(rows.stripe[nearRow] > 0.5f ? 0.138f : 0.158f), 2);
    const auto edge = canvas.pixelTopDown(0, nearRow);
    EXPECT_NEAR(edge[2], road[2], 2);
}

TEST_F(RoadSceneTest, BassBrightensTheRumbleStripsAndTrebleWarmsTheGlow) {
    const int row = 100;
    const int rumbleX = static_cast<int>(160.0f + rows.offset[row] - 1.08f * rows.scale[row]);
    scene.render(0.0, 0.0, 1.0f);
    const auto quiet = canvas.pixelTopDown(rumbleX, row);
    const auto quietSky = canvas.pixelTopDown(2, 40);
    scene.setAudio(1.0f, 1.0f);
    scene.render(0.0, 0.0, 1.0f);
    const auto loud = canvas.pixelTopDown(rumbleX, row);
    const auto loudSky = canvas.pixelTopDown(2, 40);
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(loud[c] - quiet[c], 38, 2) << "channel " << c;
    }
    EXPECT_GT(loudSky[0], quietSky[0]);
}

TEST_F(RoadSceneTest, KeepsTheLastPaletteWhenAnEntryGivesNone) {
    scene.setPalette(true, kLow, kMid, kHigh);
    scene.render(0.0, 0.0, 1.0f);
    const auto given = canvas.read();
    scene.setPalette(false, {1.0f, 1.0f, 1.0f}, {1.0f, 1.0f, 1.0f}, {1.0f, 1.0f, 1.0f});
    scene.render(0.0, 0.0, 1.0f);
    EXPECT_EQ(canvas.read(), given);
    const auto top = canvas.pixelTopDown(200, 0);
    EXPECT_NEAR(top[2], near255(0.27f), 2);
}

TEST_F(RoadSceneTest, FadeAndTheCanvasStateAreHonoured) {
    TestTarget full;
    full.create(320, 180);
    scene.render(2.0, 2.0, 1.0f);
    const auto ref = full.read();

    // A bigger target with an odd viewport: the scene must come back to both.
    TestTarget other;
    other.create(400, 300);
    other.clear(0.4f, 0.4f, 0.4f, 1.0f);
    glViewport(0, 0, 320, 180);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    scene.render(2.0, 2.0, 0.5f);
    GLint bound = 0;
    GLint viewport[4] = {};
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(static_cast<GLuint>(bound), other.framebuffer);
    EXPECT_EQ(viewport[0], 0);
    EXPECT_EQ(viewport[1], 0);
    EXPECT_EQ(viewport[2], 320);
    EXPECT_EQ(viewport[3], 180);
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    GLint src = 0;
    GLint dst = 0;
    glGetIntegerv(GL_BLEND_SRC_RGB, &src);
    glGetIntegerv(GL_BLEND_DST_RGB, &dst);
    EXPECT_EQ(src, GL_SRC_ALPHA);
    EXPECT_EQ(dst, GL_ONE_MINUS_SRC_ALPHA);

    const auto got = other.read();
    for (int y = 0; y < 180; y += 7) {
        for (int x = 0; x < 320; x += 11) {
            const std::size_t r = (static_cast<std::size_t>(y) * 320 + x) * 4;
            const std::size_t g = (static_cast<std::size_t>(y) * 400 + x) * 4;
            for (int c = 0; c < 3; ++c) {
                ASSERT_NEAR(got[g + c], ref[r + c] * 0.25 + 102 * 0.5, 2.0) << x << "," << y;
            }
            ASSERT_NEAR(got[g + 3], 191, 2);
        }
    }
    // Outside the canvas viewport nothing was touched.
    EXPECT_EQ(got[(static_cast<std::size_t>(250) * 400 + 350) * 4], 102);
    other.release();
    full.release();
}
