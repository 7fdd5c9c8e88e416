#include "script/scene_rebuild.h"
#include "support/gl_test.h"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

class SceneRebuildTest : public GlTest {};

std::vector<std::uint8_t> readState(std::uint32_t texture) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(kCanvasWidth) * kCanvasHeight * 4);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    return pixels;
}

DemoScript parse(const char* text) {
    DemoScript script;
    EXPECT_TRUE(Script::load_mem(text, std::strlen(text), script));
    return script;
}

// An edit that moves a simulated scene's entry leaves no checkpoint or state
// from before it in use: the rebuilt state is the one a fresh rebuild gives.
TEST_F(SceneRebuildTest, AnEditedEntryRebuildsFromWhatStillHolds) {
    Timeline timeline;
    timeline.init(kCanvasWidth, kCanvasHeight, parse("fps 60\nscene blittertornado 0 1000 0 0\n"));
    OverlayManager overlays;
    FrameSchedule schedule;
    schedule.init(60, LoopRange{0.0, 100.0},
                  [](long frame, double, double, float& bass, float& treble) {
                      bass = frame % 7 == 0 ? 0.9f : 0.3f; // seeds now and then
                      treble = frame % 5 == 0 ? 0.9f : 0.2f;
                  });
    SceneRebuild rebuild;
    rebuild.init(timeline, overlays, schedule);

    ASSERT_TRUE(rebuild.bringTo(150, 1e9)); // a checkpoint at 120 on the way
    const std::vector<std::uint8_t> before = readState(timeline.blittertornado.stateTexture());
    EXPECT_GT(rebuild.stepsTaken(), 140);

    timeline.update(parse("fps 60\nscene blittertornado 40 1000 0 0\n"));
    rebuild.scheduleChanged();
    ASSERT_TRUE(rebuild.bringTo(150, 1e9));
    const std::vector<std::uint8_t> edited = readState(timeline.blittertornado.stateTexture());

    rebuild.restart(0);
    ASSERT_TRUE(rebuild.bringTo(150, 1e9));
    EXPECT_TRUE(readState(timeline.blittertornado.stateTexture()) == edited);
    EXPECT_FALSE(edited == before);

    // Back from later on: the nearest checkpoint, no more than its distance.
    ASSERT_TRUE(rebuild.bringTo(400, 1e9));
    const long steps = rebuild.stepsTaken();
    ASSERT_TRUE(rebuild.bringTo(150, 1e9));
    EXPECT_EQ(rebuild.stepsTaken() - steps, 30);
    EXPECT_TRUE(readState(timeline.blittertornado.stateTexture()) == edited);

    rebuild.release();
    timeline.release();
}

} // namespace
