#include "base/file_watch.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
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
