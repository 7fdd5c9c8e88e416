#include "base/file_watch.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void writeFile(const std::string& path, const char* text) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs(text, f);
    std::fclose(f);
}

} // namespace

TEST(FileWatch, SeesEveryWayAnEditorSavesButNotItsNeighbours) {
    char folder[] = "/tmp/file_watch_XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string dir = folder;
    const std::string path = dir + "/demo.txt";
    writeFile(path, "fps 60\n");

    FileWatch watch;
    ASSERT_TRUE(watch.start(path));
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
    ASSERT_TRUE(watch.start(link));
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
