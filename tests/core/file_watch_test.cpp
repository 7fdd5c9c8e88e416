#include "base/file_watch.h"
#include "support/stderr_capture.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

void writeFile(const std::string& path, const char* text) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs(text, f);
    std::fclose(f);
}

// A folder of its own, removed with what it holds.
struct TempFolder {
    std::string dir;
    TempFolder() {
        char name[] = "/tmp/file_watch_XXXXXX";
        dir = mkdtemp(name) != nullptr ? name : "";
    }
    ~TempFolder() { std::filesystem::remove_all(dir); }
};

} // namespace

TEST(FileWatch, SeesEveryWayAnEditorSavesButNotItsNeighbours) {
    char folder[] = "/tmp/file_watch_XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string dir = folder;
    const std::string path = dir + "/demo.txt";
    writeFile(path, "fps 60\n");

    FileWatch watch;
    watch.start(path);
    EXPECT_FALSE(watch.poll());

    writeFile(path, "fps 50\n"); // in place
    EXPECT_TRUE(watch.poll());
    EXPECT_FALSE(watch.poll());

    writeFile(dir + "/other.txt", "x\n");
    EXPECT_FALSE(watch.poll());

    writeFile(dir + "/.demo.txt.swp", "fps 30\n"); // a new file renamed over the old one
    ASSERT_EQ(std::rename((dir + "/.demo.txt.swp").c_str(), path.c_str()), 0);
    EXPECT_TRUE(watch.poll());

    ASSERT_EQ(unlink(path.c_str()), 0);
    EXPECT_TRUE(watch.poll());
    writeFile(path, "fps 25\n"); // and back again
    EXPECT_TRUE(watch.poll());

    unlink(path.c_str());
    unlink((dir + "/other.txt").c_str());
    rmdir(folder);
}

TEST(FileWatch, FollowsALinkToItsFileAndAFolderThatIsReplaced) {
    char folder[] = "/tmp/file_watch_XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string dir = folder;
    ASSERT_EQ(mkdir((dir + "/edit").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/other").c_str(), 0755), 0);
    writeFile(dir + "/edit/demo.txt", "fps 60\n");
    writeFile(dir + "/other/demo.txt", "fps 60\n");
    const std::string link = dir + "/demo.txt";
    ASSERT_EQ(symlink("edit/demo.txt", link.c_str()), 0);

    FileWatch watch;
    watch.start(link);
    writeFile(dir + "/edit/demo.txt", "fps 50\n"); // the file the link names
    EXPECT_TRUE(watch.poll());
    writeFile(dir + "/edit/notes.txt", "x\n");
    EXPECT_FALSE(watch.poll());

    // The link pointed elsewhere: the new file is the one watched.
    ASSERT_EQ(unlink(link.c_str()), 0);
    ASSERT_EQ(symlink("other/demo.txt", link.c_str()), 0);
    EXPECT_TRUE(watch.poll());
    writeFile(dir + "/edit/demo.txt", "fps 40\n");
    EXPECT_FALSE(watch.poll());
    writeFile(dir + "/other/demo.txt", "fps 30\n");
    EXPECT_TRUE(watch.poll());

    // Its folder moved away and made again: the new one is watched.
    ASSERT_EQ(std::rename((dir + "/other").c_str(), (dir + "/old").c_str()), 0);
    EXPECT_TRUE(watch.poll());
    ASSERT_EQ(mkdir((dir + "/other").c_str(), 0755), 0);
    writeFile(dir + "/other/demo.txt", "fps 25\n");
    watch.poll();
    writeFile(dir + "/other/demo.txt", "fps 24\n");
    EXPECT_TRUE(watch.poll());
    writeFile(dir + "/old/demo.txt", "fps 23\n");
    EXPECT_FALSE(watch.poll());

    for (const char* f :
         {"/demo.txt", "/edit/demo.txt", "/edit/notes.txt", "/old/demo.txt", "/other/demo.txt"}) {
        unlink((dir + f).c_str());
    }
    for (const char* d : {"/edit", "/old", "/other", ""}) {
        rmdir((dir + d).c_str());
    }
}

TEST(FileWatch, WithoutInotifyWatchesItSaysSoOnceAndLooksAtTheFile) {
    TempFolder t;
    const std::string path = t.dir + "/demo.txt";
    writeFile(path, "fps 60\n");
    FileWatch watch;
    watch.failWatchesWith(ENOSPC); // as when an IDE holds every watch the user may have
    StderrCapture err;
    watch.start(path);
    const std::string log = err.take();
    EXPECT_NE(log.find("No space left on device"), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;

    writeFile(path, "fps 50\n"); // the same size
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_FALSE(watch.poll()); // seen once: it may still be being written
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_TRUE(watch.poll());
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_FALSE(watch.poll());
}

TEST(FileWatch, ASaveLostToAFullEventQueueIsStillSeen) {
    int limit = 0;
    std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> limit;
    if (limit <= 0 || limit > 100000) {
        GTEST_SKIP() << "inotify queue of " << limit << " events";
    }
    TempFolder t;
    const std::string path = t.dir + "/demo.txt";
    writeFile(path, "fps 60\n");
    FileWatch watch;
    watch.start(path);
    // The queue is full before the save: a change of mode is one event, and
    // two files taking turns keep the kernel from merging them.
    const std::string others[] = {t.dir + "/a", t.dir + "/b"};
    writeFile(others[0], "");
    writeFile(others[1], "");
    for (int i = 0; i <= limit; ++i) {
        chmod(others[i % 2].c_str(), (i / 2) % 2 != 0 ? 0600 : 0644);
    }
    writeFile(path, "fps 50\n");
    EXPECT_TRUE(watch.poll());
}

TEST(FileWatch, ALinkWhoseFolderIsMadeAgainIsFollowedWhereItPoints) {
    TempFolder t;
    const std::string& dir = t.dir;
    for (const char* d : {"/edit", "/other", "/l"}) {
        ASSERT_EQ(mkdir((dir + d).c_str(), 0755), 0);
    }
    writeFile(dir + "/edit/demo.txt", "fps 60\n");
    writeFile(dir + "/other/demo.txt", "fps 60\n");
    ASSERT_EQ(symlink("../edit/demo.txt", (dir + "/l/demo.txt").c_str()), 0);
    FileWatch watch;
    watch.start(dir + "/l/demo.txt");

    ASSERT_EQ(std::rename((dir + "/l").c_str(), (dir + "/gone").c_str()), 0);
    EXPECT_TRUE(watch.poll());
    ASSERT_EQ(mkdir((dir + "/l").c_str(), 0755), 0);
    ASSERT_EQ(symlink("../other/demo.txt", (dir + "/l/demo.txt").c_str()), 0);
    EXPECT_TRUE(watch.poll());
    writeFile(dir + "/other/demo.txt", "fps 50\n");
    EXPECT_TRUE(watch.poll());
    writeFile(dir + "/edit/demo.txt", "fps 40\n");
    EXPECT_FALSE(watch.poll());
}

TEST(FileWatch, TwoSpellingsOfOneFolderAreOne) {
    TempFolder t;
    const std::string link = t.dir + "/demo.txt";
    writeFile(t.dir + "/a.txt", "fps 60\n");
    writeFile(t.dir + "/b.txt", "fps 60\n");
    ASSERT_EQ(symlink((t.dir + "/./a.txt").c_str(), link.c_str()), 0);
    FileWatch watch;
    watch.start(link);

    ASSERT_EQ(unlink(link.c_str()), 0);
    ASSERT_EQ(symlink("b.txt", link.c_str()), 0);
    EXPECT_TRUE(watch.poll());
    writeFile(t.dir + "/b.txt", "fps 50\n");
    EXPECT_TRUE(watch.poll());
}

// Whatever is replaced on the way to the file, at any level, the next save
// of the file the path now names is seen, and only that one.
TEST(FileWatch, FollowsThePathWhereverItIsReplaced) {
    TempFolder t;
    const std::string& dir = t.dir;
    for (const char* d : {"/v1", "/v2", "/proj", "/proj/s", "/proj.new", "/proj.new/s", "/real"}) {
        ASSERT_EQ(mkdir((dir + d).c_str(), 0755), 0);
    }
    for (const char* f : {"/v1/demo.txt", "/v2/demo.txt", "/proj/s/demo.txt",
                          "/proj.new/s/demo.txt", "/real/demo.txt", "/demo.txt"}) {
        writeFile(dir + f, "fps 60\n");
    }
    // Each replacement as a tool makes it: the new name made aside, renamed over.
    const auto linkOver = [&](const char* target, const std::string& at) {
        ASSERT_EQ(symlink(target, (dir + "/new").c_str()), 0);
        ASSERT_EQ(std::rename((dir + "/new").c_str(), at.c_str()), 0);
    };

    ASSERT_EQ(symlink("v1", (dir + "/current").c_str()), 0);
    FileWatch folderLink;
    folderLink.start(dir + "/current/demo.txt");
    linkOver("v2", dir + "/current"); // ln -sfn v2 current
    EXPECT_TRUE(folderLink.poll());
    writeFile(dir + "/v1/demo.txt", "fps 50\n");
    EXPECT_FALSE(folderLink.poll());
    writeFile(dir + "/v2/demo.txt", "fps 50\n");
    EXPECT_TRUE(folderLink.poll());

    FileWatch grandparent;
    grandparent.start(dir + "/proj/s/demo.txt");
    ASSERT_EQ(std::rename((dir + "/proj").c_str(), (dir + "/proj.old").c_str()), 0);
    ASSERT_EQ(std::rename((dir + "/proj.new").c_str(), (dir + "/proj").c_str()), 0);
    EXPECT_TRUE(grandparent.poll());
    writeFile(dir + "/proj.old/s/demo.txt", "fps 50\n");
    EXPECT_FALSE(grandparent.poll());
    writeFile(dir + "/proj/s/demo.txt", "fps 50\n");
    EXPECT_TRUE(grandparent.poll());

    FileWatch fileToLink;
    fileToLink.start(dir + "/demo.txt");
    linkOver("real/demo.txt", dir + "/demo.txt");
    EXPECT_TRUE(fileToLink.poll());
    writeFile(dir + "/real/demo.txt", "fps 50\n");
    EXPECT_TRUE(fileToLink.poll());
}

// A save written in pieces is reported once its writer is done with it.
TEST(FileWatch, AFileStillBeingWrittenIsWaitedFor) {
    TempFolder t;
    const std::string path = t.dir + "/demo.txt";
    FileWatch watch;
    watch.start(path);
    std::FILE* f = std::fopen(path.c_str(), "w"); // a new file
    ASSERT_NE(f, nullptr);
    std::fputs("fps 60\n", f);
    std::fflush(f);
    watch.poll();
    EXPECT_TRUE(watch.beingWritten());
    std::fputs("scene road 0 600 0 0\n", f);
    std::fclose(f);
    EXPECT_TRUE(watch.poll());
    EXPECT_FALSE(watch.beingWritten());
}
