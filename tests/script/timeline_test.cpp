#include "script/timeline.h"
#include "support/gl_test.h"
#include "support/stderr_capture.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// Records every call the timeline makes, in order.
class RecordingScene : public IScene {
  public:
    struct Call {
        std::string op;
        double time = 0.0;
        double localTime = 0.0;
        float alpha = 0.0f;
        bool enabled = false;
        Palette3 palette;
        Float3 cam{};
        float fov = 0.0f;
        Float3 lightDir{};
        float shadow = 0.0f;
        float lightPow = 0.0f;
    };
    std::vector<Call> calls;

    static Call named(const char* op) {
        Call c;
        c.op = op;
        return c;
    }

    void init(int, int) override { calls.push_back(named("init")); }
    void setAudio(float, float) override { calls.push_back(named("setAudio")); }
    void setPalette(bool enabled, const Float3& low, const Float3& mid,
                    const Float3& high) override {
        Call c = named("setPalette");
        c.enabled = enabled;
        c.palette = {low, mid, high};
        calls.push_back(c);
    }
    void setSmokeParams(bool enabled, const Float3& cam, float fov, const Float3& lightDir,
                        float shadow, float lightPow) override {
        Call c = named("setSmokeParams");
        c.enabled = enabled;
        c.cam = cam;
        c.fov = fov;
        c.lightDir = lightDir;
        c.shadow = shadow;
        c.lightPow = lightPow;
        calls.push_back(c);
    }
    void update(double time, double localTime) override {
        Call c = named("update");
        c.time = time;
        c.localTime = localTime;
        calls.push_back(c);
    }
    void render(double time, double localTime, float alpha) override {
        Call c = named("render");
        c.time = time;
        c.localTime = localTime;
        c.alpha = alpha;
        calls.push_back(c);
    }
    void release() override { calls.push_back(named("release")); }

    std::vector<Call> only(const std::string& op) const {
        std::vector<Call> out;
        for (const Call& c : calls) {
            if (c.op == op) {
                out.push_back(c);
            }
        }
        return out;
    }
};

SceneEntry entry(const char* name, double start, double end, float fadeIn, float fadeOut, int id) {
    SceneEntry e;
    std::strncpy(e.name, name, sizeof e.name - 1);
    e.start = start;
    e.end = end;
    e.fadeIn = fadeIn;
    e.fadeOut = fadeOut;
    e.id = id;
    return e;
}

DemoScript scriptWith(std::vector<SceneEntry> scenes) {
    DemoScript s;
    for (const SceneEntry& e : scenes) {
        s.endTime = std::max(s.endTime, e.end);
    }
    s.scenes = std::move(scenes);
    return s;
}

// Schedules the script without touching GL, then lets the recorder stand in
// for every scheduled scene.
void schedule(Timeline& timeline, const DemoScript& script, RecordingScene& recorder) {
    timeline.update(script);
    for (ActiveScene& a : timeline.active) {
        a.scene = &recorder;
    }
}

// One frame's scene calls, as the engine makes them.
void frame(Timeline& timeline, double time) {
    timeline.setAudio(time, 0.5f, 0.25f);
    timeline.render(time);
}

} // namespace

TEST(TimelineFade, TenToTwentySecondsWithTwoAndFourSecondFades) {
    Timeline timeline;
    RecordingScene rec;
    schedule(timeline, scriptWith({entry("fluid", 10.0, 20.0, 2.0f, 4.0f, 0)}), rec);

    struct Expect {
        double time;
        bool updated;
        float alpha; // 0 = not rendered
    };
    for (const Expect& e :
         {Expect{9.99, false, 0.0f}, Expect{10.0, true, 0.0f}, Expect{11.0, true, 0.5f},
          Expect{12.0, true, 1.0f}, Expect{14.0, true, 1.0f}, Expect{16.0, true, 1.0f},
          Expect{17.0, true, 0.75f}, Expect{20.0, true, 0.0f}, Expect{20.01, false, 0.0f}}) {
        SCOPED_TRACE(e.time);
        rec.calls.clear();
        frame(timeline, e.time);
        const auto updates = rec.only("update");
        ASSERT_EQ(updates.size(), e.updated ? 1u : 0u);
        if (e.updated) {
            EXPECT_DOUBLE_EQ(updates[0].time, e.time);
            EXPECT_DOUBLE_EQ(updates[0].localTime, e.time - 10.0);
        }
        const auto renders = rec.only("render");
        ASSERT_EQ(renders.size(), e.alpha > 0.0f ? 1u : 0u);
        if (e.alpha > 0.0f) {
            EXPECT_FLOAT_EQ(renders[0].alpha, e.alpha);
            EXPECT_DOUBLE_EQ(renders[0].localTime, e.time - 10.0);
        }
    }
}

TEST(TimelineFade, WithoutFadesAlphaIsOneThroughBothEnds) {
    Timeline timeline;
    RecordingScene rec;
    schedule(timeline, scriptWith({entry("road", 10.0, 20.0, 0.0f, -1.0f, 0)}), rec);
    for (double t : {10.0, 15.0, 20.0}) {
        rec.calls.clear();
        frame(timeline, t);
        const auto renders = rec.only("render");
        ASSERT_EQ(renders.size(), 1u) << t;
        EXPECT_FLOAT_EQ(renders[0].alpha, 1.0f);
    }
}

TEST(TimelineFade, OverlappingFadesTakeTheSmallerRampAndNeverReachOne) {
    Timeline timeline;
    RecordingScene rec;
    schedule(timeline, scriptWith({entry("rd2", 0.0, 2.0, 3.0f, 2.0f, 0)}), rec);
    for (int i = 1; i < 20; ++i) {
        const double t = i * 0.1;
        rec.calls.clear();
        frame(timeline, t);
        const auto renders = rec.only("render");
        ASSERT_EQ(renders.size(), 1u) << t;
        const float expected = static_cast<float>(std::min(t / 3.0, (2.0 - t) / 2.0));
        EXPECT_FLOAT_EQ(renders[0].alpha, expected) << t;
        EXPECT_LT(renders[0].alpha, 1.0f);
    }
}

TEST(TimelineRender, SameSceneTwiceInOneFrameCarriesEachEntrysOwnValues) {
    SceneEntry a = entry("smoke", 0.0, 10.0, 0.0f, 0.0f, 3);
    a.hasPalette = true;
    a.palette = {{0.1f, 0.2f, 0.3f}, {0.4f, 0.5f, 0.6f}, {0.7f, 0.8f, 0.9f}};
    a.hasSmokeParams = true;
    a.cam = {0.0f, 0.0f, -1.0f};
    a.fov = 1.59f;
    a.lightDir = {-0.35f, 0.036f, 1.0f};
    a.shadow = 0.496f;
    a.lightPow = 2.81f;
    SceneEntry b = entry("smoke", 4.0, 8.0, 2.0f, 0.0f, 7);

    Timeline timeline;
    RecordingScene rec;
    schedule(timeline, scriptWith({a, b}), rec);
    ASSERT_EQ(timeline.active.size(), 2u);
    frame(timeline, 5.0);

    std::vector<std::string> order;
    for (const auto& c : rec.calls) {
        order.push_back(c.op);
    }
    EXPECT_EQ(order,
              (std::vector<std::string>{"update", "update", "setPalette", "setSmokeParams",
                                        "render", "setPalette", "setSmokeParams", "render"}));
    const auto palettes = rec.only("setPalette");
    const auto smokes = rec.only("setSmokeParams");
    const auto renders = rec.only("render");
    ASSERT_EQ(renders.size(), 2u);

    EXPECT_TRUE(palettes[0].enabled);
    EXPECT_EQ(palettes[0].palette.mid, (Float3{0.4f, 0.5f, 0.6f}));
    EXPECT_EQ(palettes[0].palette.high, (Float3{0.7f, 0.8f, 0.9f}));
    EXPECT_TRUE(smokes[0].enabled);
    EXPECT_EQ(smokes[0].cam, (Float3{0.0f, 0.0f, -1.0f}));
    EXPECT_FLOAT_EQ(smokes[0].fov, 1.59f);
    EXPECT_EQ(smokes[0].lightDir, (Float3{-0.35f, 0.036f, 1.0f}));
    EXPECT_FLOAT_EQ(smokes[0].shadow, 0.496f);
    EXPECT_FLOAT_EQ(smokes[0].lightPow, 2.81f);
    EXPECT_DOUBLE_EQ(renders[0].localTime, 5.0);
    EXPECT_FLOAT_EQ(renders[0].alpha, 1.0f);

    EXPECT_FALSE(palettes[1].enabled);
    EXPECT_EQ(palettes[1].palette.low, (Float3{0.0f, 0.0f, 0.0f}));
    EXPECT_FALSE(smokes[1].enabled);
    EXPECT_EQ(smokes[1].cam, (Float3{0.0f, 0.0f, -2.2f}));
    EXPECT_FLOAT_EQ(smokes[1].fov, 1.3f);
    EXPECT_FLOAT_EQ(smokes[1].lightPow, 3.6f);
    EXPECT_DOUBLE_EQ(renders[1].localTime, 1.0);
    EXPECT_FLOAT_EQ(renders[1].alpha, 0.5f);
}

TEST(TimelineSchedule, UnknownNamesAreLoggedEveryFrameAndNeverScheduled) {
    Timeline timeline;
    const DemoScript script =
        scriptWith({entry("fluid", 0, 5, 0, 0, 0), entry("Fluid", 0, 5, 0, 0, 1),
                    entry("plasma", 0, 5, 0, 0, 2)});
    StderrCapture err;
    for (int i = 0; i < 3; ++i) {
        timeline.update(script);
        EXPECT_EQ(err.take(), "[Timeline] unknown scene: Fluid\n"
                              "[Timeline] unknown scene: plasma\n");
    }
    ASSERT_EQ(timeline.active.size(), 1u);
    EXPECT_EQ(timeline.active[0].id, 0);
    EXPECT_EQ(timeline.active[0].scene, &timeline.fluid);
}

TEST(TimelineSchedule, FindUsesTheExactNames) {
    Timeline t;
    EXPECT_EQ(t.find("fluid"), &t.fluid);
    EXPECT_EQ(t.find("rd2"), &t.rd2);
    EXPECT_EQ(t.find("road"), &t.road);
    EXPECT_EQ(t.find("bloodcells"), &t.bloodcells);
    EXPECT_EQ(t.find("dblobs"), &t.dblobs);
    EXPECT_EQ(t.find("smoke"), &t.smoke);
    EXPECT_EQ(t.find("blittertornado"), &t.blittertornado);
    for (const char* other : {"", "Smoke", "smoke ", "fluid2", "scroll"}) {
        EXPECT_EQ(t.find(other), nullptr) << other;
    }
    EXPECT_EQ(t.find(nullptr), nullptr);
}

TEST(TimelineSchedule, UpdateFollowsTheScriptById) {
    Timeline timeline;
    DemoScript script = scriptWith({entry("fluid", 0, 5, 0, 0, 0), entry("road", 5, 10, 0, 0, 1),
                                    entry("rd2", 10, 15, 0, 0, 2)});
    timeline.update(script);
    ASSERT_EQ(timeline.active.size(), 3u);

    // Drop the middle entry, retarget the last one and add a new one.
    script.scenes.erase(script.scenes.begin() + 1);
    script.scenes[1] = entry("smoke", 12, 30, 1, 2, 2);
    script.scenes[1].hasPalette = true;
    script.scenes.push_back(entry("dblobs", 30, 40, 0, 0, 9));
    script.endTime = 40.0;
    timeline.update(script);

    ASSERT_EQ(timeline.active.size(), 3u);
    EXPECT_EQ(timeline.active[0].id, 0);
    EXPECT_EQ(timeline.active[1].id, 2);
    EXPECT_EQ(timeline.active[1].scene, &timeline.smoke);
    EXPECT_DOUBLE_EQ(timeline.active[1].start, 12.0);
    EXPECT_FLOAT_EQ(timeline.active[1].fadeOut, 2.0f);
    EXPECT_TRUE(timeline.active[1].hasPalette);
    EXPECT_EQ(timeline.active[2].id, 9);
    EXPECT_EQ(timeline.active[2].scene, &timeline.dblobs);
    EXPECT_DOUBLE_EQ(timeline.endTime, 40.0);

    script.scenes.clear();
    script.endTime = 0.0;
    timeline.update(script);
    EXPECT_TRUE(timeline.active.empty());
    EXPECT_DOUBLE_EQ(timeline.endTime, 120.0);
}

TEST(TimelineSchedule, EndTimeFallsBackToTwoMinutes) {
    Timeline timeline;
    EXPECT_DOUBLE_EQ(timeline.endTime, 120.0);
    DemoScript script;
    script.endTime = 33.0;
    timeline.update(script);
    EXPECT_DOUBLE_EQ(timeline.endTime, 33.0);
    for (double end : {0.0, -5.0}) {
        script.endTime = end;
        timeline.update(script);
        EXPECT_DOUBLE_EQ(timeline.endTime, 120.0);
    }
    const std::string text = "scene fluid -60 0 0 0\n";
    ASSERT_TRUE(Script::load_mem(text.data(), text.size(), script));
    timeline.update(script);
    EXPECT_DOUBLE_EQ(timeline.endTime, 120.0);
    ASSERT_EQ(timeline.active.size(), 1u);
}

// init and release reach the real scenes, which need a GL context.
class TimelineGl : public GlTest {};

TEST_F(TimelineGl, InitSchedulesKnownEntriesAndReportsTheRest) {
    const std::string text = "scene smoke 0 488 439 300\nscene nosuch 0 60 0 0\n"
                             "scene road 501 1328 67 180\n";
    DemoScript script;
    ASSERT_TRUE(Script::load_mem(text.data(), text.size(), script));
    Timeline timeline;
    StderrCapture err;
    timeline.init(kCanvasWidth, kCanvasHeight, script);
    EXPECT_EQ(err.take(), "[Timeline] unknown scene: nosuch\n");
    ASSERT_EQ(timeline.active.size(), 2u);
    EXPECT_EQ(timeline.active[0].scene, &timeline.smoke);
    EXPECT_EQ(timeline.active[1].scene, &timeline.road);
    EXPECT_EQ(timeline.active[1].id, 2);
    EXPECT_DOUBLE_EQ(timeline.endTime, 1328.0 / 60.0);
    timeline.release();
}

TEST(TimelineSchedule, AnEntryAddedAheadOfKeptOnesIsDrawnInScriptOrder) {
    // One save that turns line 1 into a scene and keeps line 2: the new
    // entry (id 1) must be drawn under the kept one (id 2), as from a fresh start.
    Timeline timeline;
    RecordingScene recorder;
    DemoScript script = scriptWith({entry("fluid", 0, 10, 0, 0, 0), entry("rd2", 0, 10, 0, 0, 2)});
    timeline.update(script);
    script.scenes.insert(script.scenes.begin() + 1, entry("road", 0, 10, 0, 0, 1));
    schedule(timeline, script, recorder);
    std::vector<int> ids;
    for (const ActiveScene& a : timeline.active) {
        ids.push_back(a.id);
    }
    EXPECT_EQ(ids, (std::vector<int>{0, 1, 2}));
}
