#pragma once

#include <cstddef>
#include <cstdint>

struct ArchiveEntry {
    const char* name;
    std::uint64_t offset;
    std::uint64_t size;
};

// A zlib stream plus the table of what it inflates to.
struct ArchiveBlob {
    const unsigned char* data;
    std::size_t compressedSize;
    std::size_t inflatedSize;
    const ArchiveEntry* entries;
    std::size_t entryCount;
};

// The archive linked into the executable (generated at build time).
const ArchiveBlob& embeddedArchive();

// The data files carried inside the executable. Inflated once, on first need,
// into a buffer that lives until the process exits.
class AssetArchive {
  public:
    static bool unpack();
    // Bytes of the entry with exactly this name, or null (size then 0).
    static const unsigned char* find(const char* name, std::size_t* size = nullptr);

    // Tools and tests: read from another blob from now on (drops the inflated buffer).
    static void useSource(const ArchiveBlob& blob);
    // How many inflations have run so far (each successful or failed attempt).
    static int inflateCount();
};
