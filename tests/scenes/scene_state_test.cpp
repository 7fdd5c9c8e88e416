#include "scenes/blittertornado_scene.h"
#include "scenes/fluid_scene.h"
#include "scenes/rd2_scene.h"
#include "scenes/smoke_scene.h"
#include "support/gl_test.h"

namespace {

class SceneStateTest : public GlTest {};

// Frame i at 60 per second into a cleared canvas; the picture read back.
std::vector<std::uint8_t> frame(IScene& scene, TestTarget& canvas, int i) {
    canvas.clear(0.0f, 0.0f, 0.0f, 1.0f);
    scene.setAudio(0.8f, 0.7f); // loud enough to stir, seed and pump
    const double t = 30.0 + i / 60.0;
    scene.render(t, t - 30.0, 1.0f);
    return canvas.read();
}

// A scene that saved its state after `before` frames, ran on, and was put
// back draws the next frame exactly as a scene that never saved.
void expectRestoreResumes(IScene& saved, IScene& plain, int before) {
    TestTarget canvas;
    canvas.create(kCanvasWidth, kCanvasHeight);
    saved.init(kCanvasWidth, kCanvasHeight);
    plain.init(kCanvasWidth, kCanvasHeight);
    for (int i = 0; i < before; ++i) {
        frame(saved, canvas, i);
        frame(plain, canvas, i);
    }
    SceneState state;
    ASSERT_TRUE(saved.saveState(state));
    const std::vector<std::uint8_t> ranOn = frame(saved, canvas, before);
    frame(saved, canvas, before + 1);
    saved.restoreState(state);
    const std::vector<std::uint8_t> expected = frame(plain, canvas, before);
    EXPECT_TRUE(frame(saved, canvas, before) == expected);
    EXPECT_TRUE(ranOn == expected); // saving changed nothing
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    state.release();
    saved.release();
    plain.release();
    canvas.release();
}

TEST_F(SceneStateTest, RestoredSceneDrawsTheNextFrameOfOneNeverSaved) {
    {
        SCOPED_TRACE("fluid");
        FluidScene a, b;
        expectRestoreResumes(a, b, 5);
    }
    {
        SCOPED_TRACE("rd2, past its seeding steps");
        Rd2Scene a, b;
        expectRestoreResumes(a, b, Rd2Scene::kSeedSteps + 2);
    }
    {
        SCOPED_TRACE("blittertornado");
        BlitterTornadoScene a, b;
        expectRestoreResumes(a, b, 5);
    }
    {
        SCOPED_TRACE("smoke");
        SmokeScene a, b;
        expectRestoreResumes(a, b, 1);
    }
}

} // namespace
