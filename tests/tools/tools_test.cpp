#include "audio/offline_music.h"
#include "core/asset_archive.h"
#include "core/engine.h"
#include "script/script.h"
#include "support/gl_test.h"
#include "tools/json_value.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <stb/stb_image.h>
#include <string>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

struct ToolRun {
    int code = -1;
    std::string out;
    std::string err;
};

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The tools are built beside the tests; CTest says where.
std::string tool(const char* name) {
    const char* dir = std::getenv("QUEX_BUILD_DIR");
    return dir ? std::string(dir) + "/tools/" + name : std::string();
}

class ToolsTest : public ::testing::Test {
  protected:
    fs::path work;

    void SetUp() override {
        if (tool("quex_capture").empty() || !fs::exists(tool("quex_capture"))) {
            GTEST_SKIP() << "QUEX_BUILD_DIR does not point at a build with the tools";
        }
        work = fs::temp_directory_path() /
               ("quex_tools_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(work);
        fs::create_directories(work);
    }
    void TearDown() override {
        if (!work.empty()) {
            fs::remove_all(work);
        }
    }

    ToolRun run(const std::string& command) {
        ToolRun r;
        // The leak check covers our code in this program; the tools unload the
        // GL driver at exit, after which its own allocations cannot be attributed.
        const std::string full = "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" " +
                                 command + " >'" + (work / "out").string() + "' 2>'" +
                                 (work / "err").string() + "'";
        const int status = std::system(full.c_str());
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = slurp(work / "out");
        r.err = slurp(work / "err");
        return r;
    }

    ToolRun capture(const std::string& dir, const std::string& args) {
        return run(tool("quex_capture") + " --quiet --size 160x90 --out '" + (work / dir).string() +
                   "' " + args);
    }
};

} // namespace

TEST_F(ToolsTest, CaptureIsDeterministicAndPrerollMatchesARange) {
    // Twice the same stills: byte-identical files.
    ASSERT_EQ(capture("a", "--at 90,90.5 --canvas --preroll 0.2").code, 0);
    ASSERT_EQ(capture("b", "--at 90,90.5 --canvas --preroll 0.2").code, 0);
    for (const char* name : {"frame_005400.png", "frame_005430.png", "canvas_005400.png"}) {
        SCOPED_TRACE(name);
        const std::string a = slurp(work / "a" / name);
        ASSERT_FALSE(a.empty());
        EXPECT_EQ(a, slurp(work / "b" / name));
    }

    // Simulating every frame from 0 gives the same frame as a range from 0.
    ASSERT_EQ(capture("full", "--at 0.05 --preroll full").code, 0);
    ASSERT_EQ(capture("range", "--from 0 --to 0.05 --preroll none").code, 0);
    EXPECT_TRUE(fs::exists(work / "range" / "frame_000000.png"));
    EXPECT_EQ(slurp(work / "full" / "frame_000003.png"),
              slurp(work / "range" / "frame_000003.png"));

    // A preroll of some seconds, stepped without drawing, is the tail of the
    // range it stands for, drawn frame by frame (in the tornado, which steps).
    ASSERT_EQ(capture("pre", "--at 55 --preroll 0.1").code, 0);
    ASSERT_EQ(capture("tail", "--from 54.9 --to 55 --preroll none").code, 0);
    EXPECT_EQ(slurp(work / "pre" / "frame_003300.png"), slurp(work / "tail" / "frame_003300.png"));
}

TEST_F(ToolsTest, CaptureCanvasIsTheDemosOwnCanvas) {
    ASSERT_EQ(capture("c", "--at 90 --canvas --preroll none").code, 0);
    int w = 0, h = 0, n = 0;
    const std::string png = slurp(work / "c" / "canvas_005400.png");
    unsigned char* captured =
        stbi_load_from_memory(reinterpret_cast<const unsigned char*>(png.data()),
                              static_cast<int>(png.size()), &w, &h, &n, 3);
    ASSERT_NE(captured, nullptr);
    ASSERT_EQ(w, 320);
    ASSERT_EQ(h, 180);

    ASSERT_TRUE(ensureGlContext());
    TestTarget screen;
    screen.create(160, 90);
    Engine engine;
    ASSERT_TRUE(engine.initSystems(160, 90, false));
    engine.post.outputFramebuffer = screen.framebuffer;
    OfflineMusic music;
    if (music.load()) {
        engine.musicLength = music.lengthSeconds();
    }
    music.analyseFrame(90.0, 1.0 / 60.0);
    engine.drawFrame(90.0, music.analyzer.bass, music.analyzer.treble);

    TestTarget canvas;
    canvas.framebuffer = engine.post.canvas.framebuffer;
    canvas.width = 320;
    canvas.height = 180;
    const std::vector<std::uint8_t> drawn = canvas.read();
    int differing = 0;
    for (int y = 0; y < 180; ++y) {
        for (int x = 0; x < 320; ++x) {
            for (int c = 0; c < 3; ++c) {
                const std::uint8_t a = drawn[((179 - y) * 320 + x) * 4 + c];
                const std::uint8_t b = captured[(y * 320 + x) * 3 + c];
                differing += a != b;
            }
        }
    }
    EXPECT_EQ(differing, 0);
    stbi_image_free(captured);
    engine.releaseSystems();
    screen.release();
    applyDemoGlState();
}

TEST_F(ToolsTest, ProgressInALogIsPlainLinesEndingWithTheTotals) {
    // stderr is a file here, as in a CI log: no carriage-return redraws.
    const ToolRun r = run(tool("quex_capture") + " --size 160x90 --out '" + (work / "p").string() +
                          "' --from 90 --to 90.3 --preroll none");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.find('\r'), std::string::npos);
    EXPECT_NE(r.err.find("quex_capture: 10/19 frames (52 %)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("quex_capture: 19 frames in "), std::string::npos) << r.err;
    EXPECT_LE(std::count(r.err.begin(), r.err.end(), '\n'), 11);
}

TEST_F(ToolsTest, BadArgumentsGiveExitCodeTwoAndTheUsage) {
    for (const char* args :
         {"", "--at", "--at 1,x", "--at -1", "--from 5 --to 1", "--fps 0", "--size 10",
          "--size 0x10", "--preroll soon --at 1", "--bogus", "--at 1 --from 0 --to 1"}) {
        SCOPED_TRACE(args);
        const ToolRun r = run(tool("quex_capture") + " " + args);
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find("usage: quex_capture"), std::string::npos);
    }
    EXPECT_EQ(run(tool("quex_bench") + " --frames -3").code, 2);
    EXPECT_EQ(run(tool("quex_inspect") + " --nope").code, 2);
    // Refused before any window opens, so no display is needed.
    EXPECT_EQ(run(tool("quex_preview") + " --at -1").code, 2);
    EXPECT_EQ(run(tool("quex_preview") + " a.txt b.txt").code, 2);
}

TEST_F(ToolsTest, InspectorPrintsTheShippedScriptAndEveryFieldReadsBack) {
    const ToolRun r = run(tool("quex_inspect"));
    ASSERT_EQ(r.code, 0) << r.err;
    const JsonValue json = parseJson(r.out);

    std::size_t size = 0;
    const unsigned char* bytes = AssetArchive::find("assets/demo.txt", &size);
    ASSERT_NE(bytes, nullptr);
    DemoScript script;
    Script::load_mem(reinterpret_cast<const char*>(bytes), size, script);

    EXPECT_EQ(json["fps"].number, script.fps);
    EXPECT_EQ(json["endTime"].number, script.endTime);
    EXPECT_EQ(json["loopTime"].number, script.loopTime);
    EXPECT_EQ(json["scroll"].boolean, script.scroll);
    EXPECT_EQ(json["nextId"].number, script.nextId);
    ASSERT_EQ(json["scenes"].items.size(), 10u);
    ASSERT_EQ(json["overlays"].items.size(), 13u);
    ASSERT_EQ(json["scrollTexts"].items.size(), 19u);
    ASSERT_EQ(json["textStabs"].items.size(), 12u);

    auto same3 = [](const JsonValue& v, const Float3& f) {
        return v.items.size() == 3 && static_cast<float>(v[0].number) == f[0] &&
               static_cast<float>(v[1].number) == f[1] && static_cast<float>(v[2].number) == f[2];
    };
    auto f32 = [](const JsonValue& v) { return static_cast<float>(v.number); };
    for (std::size_t i = 0; i < script.scenes.size(); ++i) {
        const SceneEntry& e = script.scenes[i];
        const JsonValue& j = json["scenes"][i];
        SCOPED_TRACE(e.id);
        EXPECT_EQ(j["name"].text, e.name);
        EXPECT_EQ(j["start"].number, e.start);
        EXPECT_EQ(j["end"].number, e.end);
        EXPECT_EQ(f32(j["fadeIn"]), e.fadeIn);
        EXPECT_EQ(f32(j["fadeOut"]), e.fadeOut);
        EXPECT_EQ(j["hasPalette"].boolean, e.hasPalette);
        EXPECT_TRUE(same3(j["palette"]["low"], e.palette.low));
        EXPECT_TRUE(same3(j["palette"]["mid"], e.palette.mid));
        EXPECT_TRUE(same3(j["palette"]["high"], e.palette.high));
        EXPECT_EQ(j["hasSmokeParams"].boolean, e.hasSmokeParams);
        EXPECT_TRUE(same3(j["cam"], e.cam));
        EXPECT_EQ(f32(j["fov"]), e.fov);
        EXPECT_TRUE(same3(j["lightDir"], e.lightDir));
        EXPECT_EQ(f32(j["shadow"]), e.shadow);
        EXPECT_EQ(f32(j["lightPow"]), e.lightPow);
        EXPECT_EQ(j["id"].number, e.id);
    }
    for (std::size_t i = 0; i < script.overlays.size(); ++i) {
        const OverlayEntry& e = script.overlays[i];
        const JsonValue& j = json["overlays"][i];
        SCOPED_TRACE(e.id);
        EXPECT_EQ(j["path"].text, e.path);
        EXPECT_EQ(f32(j["x"]), e.x);
        EXPECT_EQ(f32(j["y"]), e.y);
        EXPECT_EQ(j["start"].number, e.start);
        EXPECT_EQ(j["end"].number, e.end);
        EXPECT_EQ(f32(j["fadeIn"]), e.fadeIn);
        EXPECT_EQ(f32(j["fadeOut"]), e.fadeOut);
        EXPECT_EQ(j["drift"].number, e.drift);
        EXPECT_EQ(f32(j["travelSpeed"]), e.travelSpeed);
        EXPECT_EQ(f32(j["travelX"]), e.travelX);
        EXPECT_EQ(f32(j["travelY"]), e.travelY);
        EXPECT_EQ(j["glow"].boolean, e.glow);
        EXPECT_TRUE(same3(j["glowColor"], e.glowColor));
        EXPECT_EQ(f32(j["glowGain"]), e.glowGain);
        EXPECT_EQ(f32(j["glowRadius"]), e.glowRadius);
        EXPECT_EQ(f32(j["glowInt"]), e.glowInt);
        EXPECT_EQ(j["id"].number, e.id);
    }
    for (std::size_t i = 0; i < script.scrollTexts.size(); ++i) {
        const ScrollTextEntry& e = script.scrollTexts[i];
        const JsonValue& j = json["scrollTexts"][i];
        SCOPED_TRACE(e.id);
        EXPECT_EQ(j["start"].number, e.start);
        EXPECT_EQ(f32(j["speed"]), e.speed);
        EXPECT_EQ(j["font"].text, e.font);
        EXPECT_EQ(f32(j["y"]), e.y);
        EXPECT_EQ(j["text"].text, e.text);
        EXPECT_EQ(j["id"].number, e.id);
    }
    for (std::size_t i = 0; i < script.textStabs.size(); ++i) {
        const TextStabEntry& e = script.textStabs[i];
        const JsonValue& j = json["textStabs"][i];
        SCOPED_TRACE(e.id);
        EXPECT_EQ(j["start"].number, e.start);
        EXPECT_EQ(j["end"].number, e.end);
        EXPECT_EQ(f32(j["fadeIn"]), e.fadeIn);
        EXPECT_EQ(f32(j["fadeOut"]), e.fadeOut);
        EXPECT_EQ(j["font"].text, e.font);
        EXPECT_EQ(f32(j["x"]), e.x);
        EXPECT_EQ(f32(j["y"]), e.y);
        EXPECT_EQ(j["text"].text, e.text);
        EXPECT_EQ(j["id"].number, e.id);
    }
}

TEST_F(ToolsTest, InspectorEscapesBytesAndReadsFilesBothWays) {
    const fs::path file = work / "odd.txt";
    std::ofstream(file, std::ios::binary)
        << "fps 50\r\nscrolltext 100 20.0 f.png 10.0 \"A\x01\xE9\\Z\"\r\n";
    for (const char* mode : {"", " --mem"}) {
        SCOPED_TRACE(mode);
        const ToolRun r = run(tool("quex_inspect") + " '" + file.string() + "'" + mode);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_NE(r.out.find("\"A\\u0001\\u00e9\\\\Z\""), std::string::npos) << r.out;
        const JsonValue json = parseJson(r.out);
        EXPECT_EQ(json["fps"].number, 50);
        EXPECT_EQ(json["scrollTexts"][0]["start"].number, 2.0);
    }
}

TEST_F(ToolsTest, LintFlagsProblemsAndIsSilentOnTheShippedScript) {
    const ToolRun shipped = run(tool("quex_inspect") + " --lint");
    EXPECT_EQ(shipped.code, 0) << shipped.out;
    EXPECT_EQ(shipped.out, "");

    const fs::path file = work / "bad.txt";
    std::ofstream(file, std::ios::binary)
        << "# a script with problems\n"
           "scene fluid 0 600 30 30\n"
           "scene plasma 0 600 30 30\n"
           "overlay assets/textures/nothing_here.png 8.0 8.0 0 100 10 10\n"
           "textstab 0 100 5 5 assets/textures/font.png 160.0 80.0 \"hello\"\n"
           "scene road 10\n";
    const ToolRun r = run(tool("quex_inspect") + " '" + file.string() + "' --lint");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("line 6: refused by the parser"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("line 3, id 1: unknown scene name \"plasma\""), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("line 4, id 2: image \"assets/textures/nothing_here.png\""),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("line 5, id 3: text has byte 104"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("id 0"), std::string::npos) << "the known scene is fine";

    const ToolRun svg =
        run(tool("quex_inspect") + " --timeline '" + (work / "t.svg").string() + "'");
    EXPECT_EQ(svg.code, 0);
    const std::string picture = slurp(work / "t.svg");
    EXPECT_EQ(picture.rfind("<svg", 0), 0u);
    EXPECT_NE(picture.find("</svg>"), std::string::npos);
}
