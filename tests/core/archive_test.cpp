#include "core/asset_archive.h"

#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <vector>

namespace {

std::vector<unsigned char> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Restores the embedded archive whatever a test swapped in.
class ArchiveTest : public ::testing::Test {
  protected:
    void TearDown() override { AssetArchive::useSource(embeddedArchive()); }
};

} // namespace

TEST_F(ArchiveTest, EveryEntryHoldsExactlyItsFilesBytes) {
    const ArchiveBlob& blob = embeddedArchive();
    ASSERT_EQ(blob.entryCount, 13u);
    EXPECT_STREQ(blob.entries[0].name, "assets/demo.txt");
    EXPECT_STREQ(blob.entries[1].name, "assets/music/tune.mp3");
    EXPECT_STREQ(blob.entries[12].name, "assets/textures/sprite_tree.png");
    // The zlib header of a maximum-compression stream.
    EXPECT_EQ(blob.data[0], 0x78);
    EXPECT_EQ(blob.data[1], 0xDA);

    std::uint64_t expectedOffset = 0;
    for (std::size_t i = 0; i < blob.entryCount; ++i) {
        const ArchiveEntry& entry = blob.entries[i];
        SCOPED_TRACE(entry.name);
        EXPECT_EQ(entry.offset, expectedOffset) << "entries follow one another without gaps";
        expectedOffset += entry.size;

        std::size_t size = 12345;
        const unsigned char* bytes = AssetArchive::find(entry.name, &size);
        ASSERT_NE(bytes, nullptr);
        const std::vector<unsigned char> onDisk = readFile(entry.name);
        ASSERT_EQ(size, onDisk.size());
        EXPECT_EQ(std::memcmp(bytes, onDisk.data(), size), 0);
    }
    EXPECT_EQ(expectedOffset, blob.inflatedSize) << "the entries cover the buffer exactly";
}

TEST_F(ArchiveTest, NamesMatchExactlyAndCaseSensitively) {
    std::size_t size = 99;
    EXPECT_EQ(AssetArchive::find("Assets/demo.txt", &size), nullptr);
    EXPECT_EQ(size, 0u);
    size = 99;
    EXPECT_EQ(AssetArchive::find("assets/demo.txt ", &size), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(AssetArchive::find("assets/demo", &size), nullptr);
    EXPECT_EQ(AssetArchive::find("", &size), nullptr);
    EXPECT_EQ(AssetArchive::find(nullptr, &size), nullptr);
    // The size output is optional.
    EXPECT_NE(AssetArchive::find("assets/demo.txt"), nullptr);
}

TEST_F(ArchiveTest, InflatesOnlyOnce) {
    ASSERT_TRUE(AssetArchive::unpack());
    const int before = AssetArchive::inflateCount();
    const unsigned char* first = AssetArchive::find("assets/demo.txt");
    EXPECT_TRUE(AssetArchive::unpack());
    EXPECT_EQ(AssetArchive::find("assets/demo.txt"), first);
    EXPECT_EQ(AssetArchive::inflateCount(), before);
}

TEST_F(ArchiveTest, RejectsACorruptStreamAndAWrongLengthAndRetriesLater) {
    const ArchiveBlob& real = embeddedArchive();
    std::vector<unsigned char> damaged(real.data, real.data + real.compressedSize);
    for (std::size_t i = damaged.size() / 2; i < damaged.size() / 2 + 8; ++i) {
        damaged[i] ^= 0xFF;
    }
    const ArchiveBlob corrupt{damaged.data(), damaged.size(), real.inflatedSize, real.entries,
                              real.entryCount};
    AssetArchive::useSource(corrupt);
    EXPECT_FALSE(AssetArchive::unpack());
    std::size_t size = 7;
    EXPECT_EQ(AssetArchive::find("assets/demo.txt", &size), nullptr);
    EXPECT_EQ(size, 0u);

    // An intact stream that inflates to a different length is refused as well.
    for (const std::size_t wrong : {real.inflatedSize - 1, real.inflatedSize + 1}) {
        const ArchiveBlob mislabelled{real.data, real.compressedSize, wrong, real.entries,
                                      real.entryCount};
        AssetArchive::useSource(mislabelled);
        const int before = AssetArchive::inflateCount();
        EXPECT_FALSE(AssetArchive::unpack()) << wrong;
        EXPECT_FALSE(AssetArchive::unpack()) << "a failed unpack is tried again";
        EXPECT_EQ(AssetArchive::inflateCount(), before + 2);
    }

    AssetArchive::useSource(real);
    EXPECT_TRUE(AssetArchive::unpack());
}
