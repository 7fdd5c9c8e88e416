#include "script/script_reload.h"
#include "support/stderr_capture.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

DemoScript parse(const std::string& text) {
    DemoScript script;
    Script::load_mem(text.data(), text.size(), script);
    return script;
}

const char* const kBefore = "fps 60\n"
                            "loop 120\n"
                            "scene fluid 0 600 30 30 fov=nan\n"
                            "overlay assets/textures/logo.png 10.0 20.0 0 600 0 0\n"
                            "scrolltext 60 200.0 assets/textures/font.png 100.0 \"HELLO\"\n"
                            "textstab 120 240 10 10 assets/textures/font.png 160.0 80.0 \"HI\"\n";

bool anyScene(const char*) {
    return true;
}

} // namespace

TEST(ScriptReload, CountsByIdWithinEachKind) {
    const DemoScript before = parse(kBefore);
    EXPECT_EQ(compareScripts(before, before).changed, 0) << "a NaN field is not a change";

    // The overlay moves; the scroll text's line (id 2) becomes a stab; the old
    // stab (id 3) stays as it was; a scene is appended (id 4).
    const DemoScript after =
        parse("fps 60\n"
              "loop 120\n"
              "scene fluid 0 600 30 30 fov=nan\n"
              "overlay assets/textures/logo.png 12.0 20.0 0 600 0 0\n"
              "textstab 300 360 5 5 assets/textures/font.png 160.0 60.0 \"NEW\"\n"
              "textstab 120 240 10 10 assets/textures/font.png 160.0 80.0 \"HI\"\n"
              "scene rd2 600 900 0 0\n");
    const ScriptChanges c = compareScripts(before, after);
    EXPECT_EQ(c.added, 2);
    EXPECT_EQ(c.changed, 1);
    EXPECT_EQ(c.removed, 1);
    EXPECT_FALSE(c.settingsChanged);

    // A stab's text alone, or its timing alone, is a change of that entry.
    std::string text = kBefore;
    text.replace(text.find("\"HI\""), 4, "\"HO\"");
    EXPECT_EQ(compareScripts(before, parse(text)).changed, 1);
    text = kBefore;
    text.replace(text.find("120 240"), 7, "120 250");
    EXPECT_EQ(compareScripts(before, parse(text)).changed, 1);

    // A new frame rate moves every time: every entry changes.
    text = kBefore;
    text.replace(0, 6, "fps 50");
    const ScriptChanges rate = compareScripts(before, parse(text));
    EXPECT_EQ(rate.changed, 4);
    EXPECT_TRUE(rate.settingsChanged);
    EXPECT_TRUE(compareScripts(before, parse("fps 60\nloop 60\n")).settingsChanged);
    EXPECT_EQ(compareScripts(before, DemoScript{}).removed, 4);
}

TEST(ScriptReload, KeepsTheLastGoodScriptWhenTheFileCannotBeUsed) {
    char name[] = "/tmp/quex_reload_XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    const std::string path = name;
    auto write = [&path](const std::string& text) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    };
    const DemoScript good = parse(kBefore);

    struct Case {
        const char* text; // null: no file at all
        const char* why;
    };
    std::string huge(kMaxScriptBytes, '#');
    huge += "\n";
    const Case cases[] = {
        {"", "is empty"},
        {"scene fluid 0 600\r\nscene rd2 0 600 0 0\r\n", "1 line refused"},
        {"textstab 0 60 0 0 assets/textures/font.png 160.0 80.0 \"OPEN\n", "1 line refused"},
        {"scene fluidd 0 600 0 0\n", "unknown scene fluidd"},
        {"overlay assets/textures/nope.png 0.0 0.0 0 60 0 0\n",
         "cannot load assets/textures/nope.png"},
        {"textstab 0 60 0 0 assets/textures/nofont.png 160.0 80.0 \"X\"\n",
         "cannot load assets/textures/nofont.png"},
        {huge.c_str(), "over the 1048576"},
        {nullptr, "cannot read"},
    };
    const auto known = [](const char* scene) { return std::strcmp(scene, "fluidd") != 0; };
    for (const Case& c : cases) {
        if (c.text != nullptr) {
            write(c.text);
        } else {
            unlink(path.c_str());
        }
        DemoScript script = good;
        StderrCapture err;
        EXPECT_FALSE(readScriptUpdate(path.c_str(), known, script)) << c.why;
        const std::string log = err.take();
        EXPECT_NE(log.find(c.why), std::string::npos) << log;
        EXPECT_NE(log.find("keeping the last good script\n"), std::string::npos) << log;
        EXPECT_EQ(script.scenes.size(), 1u);
        EXPECT_EQ(script.textStabs.size(), 1u);
    }
    DemoScript untouched;
    StderrCapture quiet;
    EXPECT_FALSE(readScriptUpdate("/tmp", anyScene, untouched)) << "a folder";
    // A FIFO is refused at once, not waited on until a writer comes (one
    // comes after 5 s, so that a reader that waits does not wait for ever).
    unlink(path.c_str());
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    std::mutex mutex;
    std::condition_variable done;
    bool returned = false;
    bool writerCame = false;
    std::thread writer([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (!done.wait_for(lock, std::chrono::seconds(5), [&] { return returned; })) {
            writerCame = true;
            close(open(path.c_str(), O_WRONLY | O_NONBLOCK));
        }
    });
    EXPECT_FALSE(readScriptUpdate(path.c_str(), anyScene, untouched)) << "a FIFO";
    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_FALSE(writerCame) << "the FIFO was waited on";
        returned = true;
    }
    done.notify_one();
    writer.join();
    unlink(path.c_str());

    write("fps 50\r\nscene rd2 0 100 0 0\r\n");
    DemoScript script = good;
    std::string seen;
    EXPECT_TRUE(readScriptUpdate(path.c_str(), anyScene, script, &seen));
    EXPECT_EQ(script.fps, 50);
    ASSERT_EQ(script.scenes.size(), 1u);
    EXPECT_STREQ(script.scenes[0].name, "rd2");
    EXPECT_TRUE(script.textStabs.empty());
    // The same bytes again (a touch, a save without a change): no news, no word.
    StderrCapture same;
    EXPECT_FALSE(readScriptUpdate(path.c_str(), anyScene, script, &seen));
    EXPECT_EQ(same.take(), "");
    unlink(path.c_str());
}

// A save refused for an image that is missing is read again when saved
// unchanged once the image is there; only accepted bytes are "no news".
TEST(ScriptReload, ASaveRefusedForAMissingImageIsTakenOnceTheImageIsThere) {
    char folder[] = "/tmp/quex_reload_fix_XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string script = std::string(folder) + "/demo.txt";
    const std::string image = std::string(folder) + "/late.png";
    const std::string text = "overlay " + image + " 0.0 0.0 0 60 0 0\n";
    auto save = [&script, &text] {
        std::FILE* f = std::fopen(script.c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    };
    DemoScript playing;
    std::string accepted;
    save();
    {
        StderrCapture err;
        EXPECT_FALSE(readScriptUpdate(script.c_str(), anyScene, playing, &accepted));
        EXPECT_NE(err.take().find("cannot load " + image), std::string::npos);
    }
    std::FILE* png = std::fopen("assets/textures/logo.png", "rb");
    ASSERT_NE(png, nullptr) << "run from the source folder";
    std::string bytes(1 << 20, '\0');
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), png));
    std::fclose(png);
    std::FILE* out = std::fopen(image.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);

    save();
    EXPECT_TRUE(readScriptUpdate(script.c_str(), anyScene, playing, &accepted));
    EXPECT_EQ(playing.overlays.size(), 1u);
    EXPECT_EQ(accepted, text);
    unlink(image.c_str());
    unlink(script.c_str());
    rmdir(folder);
}
