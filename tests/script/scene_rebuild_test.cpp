#include "core/engine.h"
#include "core/offline_frames.h"
#include "script/scene_rebuild.h"
#include "support/gl_test.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
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

// Levels with seeds now and then, the same in every run.
void testLevels(long frame, double, double, float& bass, float& treble) {
    bass = frame % 7 == 0 ? 0.9f : 0.3f;
    treble = frame % 5 == 0 ? 0.9f : 0.2f;
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
    schedule.init(60, LoopRange{0.0, 100.0}, testLevels);
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

// The shipped demo without its opening smoke (slow here, and drawn only in
// the first 8 s), at 12 frames a second so that a run from 0 is short.
struct ShippedDemo {
    TestTarget screen;
    Engine engine;
    FrameSchedule schedule;

    bool init() {
        screen.create(32, 18);
        if (!engine.initSystems(32, 18, false)) {
            return false;
        }
        engine.post.outputFramebuffer = screen.framebuffer;
        auto& scenes = engine.script.scenes;
        scenes.erase(
            std::remove_if(scenes.begin(), scenes.end(),
                           [](const SceneEntry& e) { return std::strcmp(e.name, "smoke") == 0; }),
            scenes.end());
        engine.timeline.update(engine.script);
        engine.overlays.update(engine.script);
        schedule.init(12, engine.loopRangeNow(), testLevels);
        return true;
    }
    std::vector<std::uint8_t> canvas() const {
        TestTarget c;
        c.framebuffer = engine.post.canvas.framebuffer;
        c.width = kCanvasWidth;
        c.height = kCanvasHeight;
        return c.read();
    }
    void release() {
        engine.releaseSystems();
        screen.release();
    }
};

} // namespace

// A seek steps from the nearest state it can, an edit keeps what lies before
// the first frame it changes, and looping does not pile up checkpoints.
TEST_F(SceneRebuildTest, SeeksEditsAndLoopsStepOnlyWhatTheyMust) {
    Timeline timeline;
    timeline.init(kCanvasWidth, kCanvasHeight, parse("fps 60\nscene blittertornado 0 480 0 0\n"));
    OverlayManager overlays;
    FrameSchedule schedule;
    schedule.init(60, LoopRange{2.0, 10.0}, testLevels); // the first pass ends at frame 600
    SceneRebuild rebuild;
    rebuild.init(timeline, overlays, schedule);
    const auto stepsTo = [&](long frame) {
        const long before = rebuild.stepsTaken();
        EXPECT_TRUE(rebuild.bringTo(frame, 1e9));
        return rebuild.stepsTaken() - before;
    };

    EXPECT_EQ(stepsTo(450), 450);
    EXPECT_EQ(stepsTo(150), 30); // from the checkpoint at 120
    EXPECT_EQ(stepsTo(450), 90); // from the one at 360, not from 150
    timeline.update(parse("fps 60\nscene blittertornado 0 540 0 0\n"));
    rebuild.scheduleChanged();
    EXPECT_EQ(stepsTo(450), 0); // a later end leaves all before it as it was

    // Passes of the loop keep the checkpoints of the first one, no more.
    ASSERT_TRUE(rebuild.bringTo(600, 1e9));
    const std::size_t firstPass = rebuild.checkpointBytes();
    for (long k = 601; k <= 600 + 3 * 480; ++k) {
        ASSERT_TRUE(rebuild.bringTo(k, 1e9));
    }
    EXPECT_EQ(rebuild.checkpointBytes(), firstPass);

    rebuild.release();
    timeline.release();
}

// A frame drawn after seeks back and forth is the frame a run from 0 that
// drew every frame shows: the simulations, the palette the long road keeps
// from the first road (140.083 s, frame 8405 at 60 a second), the wandering
// ghost and the stabs.
TEST_F(SceneRebuildTest, FramesAfterSeeksAreTheFramesOfARunFromZero) {
    const std::vector<long> seeks = {1681, 1980, 912, 1681}; // at 12 a second
    std::map<long, std::vector<std::uint8_t>> viewer;
    {
        ShippedDemo run;
        ASSERT_TRUE(run.init());
        for (long k = 0; k <= 1980; ++k) {
            float bass = 0.0f;
            float treble = 0.0f;
            run.schedule.levelsAt(k, bass, treble);
            run.engine.drawFrame(run.schedule.timeOf(k), bass, treble);
            if (std::find(seeks.begin(), seeks.end(), k) != seeks.end()) {
                viewer[k] = run.canvas();
            }
        }
        run.release();
    }

    ShippedDemo tool;
    ASSERT_TRUE(tool.init());
    SceneRebuild rebuild;
    rebuild.init(tool.engine.timeline, tool.engine.overlays, tool.schedule);
    for (const long k : seeks) {
        SCOPED_TRACE(k);
        ASSERT_TRUE(rebuild.bringTo(k, HUGE_VAL));
        drawScheduledFrame(tool.engine, rebuild, tool.schedule, k);
        EXPECT_TRUE(tool.canvas() == viewer[k]);
    }
    rebuild.release();
    tool.release();
    applyDemoGlState();
}
