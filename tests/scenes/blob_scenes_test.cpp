#include "scenes/bloodcells_scene.h"
#include "scenes/dblobs_scene.h"
#include "support/gl_test.h"

#include <cstdlib>
#include <string>

namespace {

using Pixels = std::vector<std::uint8_t>;

// Set QUEX_SCENE_PNG_DIR to look at what the tests rendered.
void savePicture(const std::string& name, const Pixels& pixels) {
    if (const char* dir = std::getenv("QUEX_SCENE_PNG_DIR")) {
        writePng(std::string(dir) + "/" + name + ".png", pixels, kCanvasWidth, kCanvasHeight);
    }
}

struct Mean {
    double r = 0, g = 0, b = 0;
};

Mean meanColour(const Pixels& p) {
    Mean m;
    const std::size_t n = p.size() / 4;
    for (std::size_t i = 0; i < p.size(); i += 4) {
        m.r += p[i];
        m.g += p[i + 1];
        m.b += p[i + 2];
    }
    m.r /= n;
    m.g /= n;
    m.b /= n;
    return m;
}

class BlobScenesTest : public GlTest {
  protected:
    void SetUp() override {
        GlTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        canvas.create(kCanvasWidth, kCanvasHeight);
    }
    void TearDown() override { canvas.release(); }

    Pixels draw(IScene& scene, double time, float alpha, float clearGrey = 0.0f) {
        canvas.clear(clearGrey, clearGrey, clearGrey, 1.0f);
        scene.render(time, time, alpha);
        return canvas.read();
    }

    TestTarget canvas;
    const Float3 black{0.0f, 0.0f, 0.0f};
};

TEST_F(BlobScenesTest, BloodCellsAreRedWithoutPaletteAndFollowThePaletteFlag) {
    BloodCellsScene scene;
    scene.init(kCanvasWidth, kCanvasHeight);
    ASSERT_NE(scene.core().program.program, 0u);
    scene.setAudio(0.0f, 0.0f);

    scene.setPalette(false, black, black, black);
    const Pixels own = draw(scene, 12.0, 1.0f);
    savePicture("bloodcells_own", own);
    const Mean red = meanColour(own);
    EXPECT_GT(red.r, 40.0);
    EXPECT_GT(red.r, 2.0 * red.g);
    EXPECT_GT(red.g, red.b);

    // A pure-green gradient must take over the base colour.
    const Float3 green{0.0f, 1.0f, 0.0f};
    scene.setPalette(true, green, green, green);
    const Pixels custom = draw(scene, 12.0, 1.0f);
    savePicture("bloodcells_green", custom);
    const Mean g = meanColour(custom);
    EXPECT_GT(g.g, 2.0 * g.r);

    // The flag is kept on every call: no palette means the own colours again.
    scene.setPalette(false, green, green, green);
    EXPECT_EQ(draw(scene, 12.0, 1.0f), own);

    // Low, mid and high all reach the gradient.
    scene.setPalette(true, Float3{1.0f, 0.0f, 0.0f}, Float3{0.0f, 1.0f, 0.0f},
                     Float3{0.0f, 0.0f, 1.0f});
    const Pixels a = draw(scene, 12.0, 1.0f);
    scene.setPalette(true, Float3{1.0f, 0.0f, 0.0f}, Float3{0.0f, 1.0f, 0.0f},
                     Float3{1.0f, 1.0f, 0.0f});
    EXPECT_NE(draw(scene, 12.0, 1.0f), a);
    scene.release();
}

TEST_F(BlobScenesTest, DBlobsReadOnlyTheLowAndHighColours) {
    DBlobsScene scene;
    scene.init(kCanvasWidth, kCanvasHeight);
    ASSERT_NE(scene.core().program.program, 0u);
    scene.setAudio(0.3f, 0.2f);

    scene.setPalette(false, black, black, black);
    savePicture("dblobs_own", draw(scene, 40.0, 1.0f));

    const Float3 low{0.1f, 0.3f, 0.9f};
    const Float3 high{0.9f, 0.8f, 0.1f};
    scene.setPalette(true, low, Float3{1.0f, 0.0f, 0.0f}, high);
    const Pixels first = draw(scene, 40.0, 1.0f);
    savePicture("dblobs_palette", first);
    scene.setPalette(true, low, Float3{0.0f, 1.0f, 1.0f}, high);
    EXPECT_EQ(draw(scene, 40.0, 1.0f), first);

    scene.setPalette(true, Float3{0.9f, 0.1f, 0.1f}, Float3{0.0f, 1.0f, 1.0f}, high);
    EXPECT_NE(draw(scene, 40.0, 1.0f), first);
    scene.setPalette(true, low, Float3{0.0f, 1.0f, 1.0f}, Float3{0.1f, 0.9f, 0.1f});
    EXPECT_NE(draw(scene, 40.0, 1.0f), first);
    scene.release();
}

// Both scenes are a pure function of time: a full alpha covers whatever was
// below, and half alpha blends it.
TEST_F(BlobScenesTest, FullAlphaReplacesTheCanvasAndHalfAlphaBlends) {
    BloodCellsScene cells;
    DBlobsScene blobs;
    cells.init(kCanvasWidth, kCanvasHeight);
    blobs.init(kCanvasWidth, kCanvasHeight);
    IScene* scenes[] = {&cells, &blobs};
    for (IScene* scene : scenes) {
        const Pixels overBlack = draw(*scene, 7.5, 1.0f, 0.0f);
        const Pixels overWhite = draw(*scene, 7.5, 1.0f, 1.0f);
        EXPECT_EQ(overWhite, overBlack);

        const Pixels halfOverBlack = draw(*scene, 7.5, 0.5f, 0.0f);
        const Pixels halfOverWhite = draw(*scene, 7.5, 0.5f, 1.0f);
        int brighter = 0;
        int lowAlpha = 0;
        for (std::size_t i = 0; i < halfOverBlack.size(); i += 4) {
            brighter += halfOverWhite[i] >= halfOverBlack[i] + 100 ? 1 : 0;
            // Colour was halved, then weighted by the written alpha again.
            lowAlpha += halfOverBlack[i] <= overBlack[i] / 4 + 2 ? 1 : 0;
        }
        const int pixels = static_cast<int>(halfOverBlack.size() / 4);
        EXPECT_EQ(brighter, pixels);
        EXPECT_EQ(lowAlpha, pixels);
    }
    cells.release();
    blobs.release();
}

TEST_F(BlobScenesTest, ReleaseZeroesHandlesAndAnUnbuiltSceneDrawsNothing) {
    DBlobsScene never;
    never.setAudio(0.5f, 0.5f);
    canvas.clear(0.2f, 0.4f, 0.6f, 1.0f);
    const Pixels before = canvas.read();
    never.render(1.0, 1.0, 1.0f);
    EXPECT_EQ(canvas.read(), before);
    never.release();

    BloodCellsScene scene;
    scene.init(kCanvasWidth, kCanvasHeight);
    scene.release();
    EXPECT_EQ(scene.core().program.program, 0u);
    EXPECT_EQ(scene.core().vertexArray, 0u);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

} // namespace
