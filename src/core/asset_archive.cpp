#include "core/asset_archive.h"

#include <cstdlib>
#include <cstring>
#include <zlib.h>

namespace {

const ArchiveBlob* source = nullptr;
unsigned char* buffer = nullptr;
int inflations = 0;

const ArchiveBlob& currentSource() {
    if (source == nullptr) {
        source = &embeddedArchive();
    }
    return *source;
}

} // namespace

bool AssetArchive::unpack() {
    if (buffer != nullptr) {
        return true;
    }
    const ArchiveBlob& blob = currentSource();
    auto* out = static_cast<unsigned char*>(std::malloc(blob.inflatedSize ? blob.inflatedSize : 1));
    if (out == nullptr) {
        return false;
    }
    ++inflations;
    uLongf length = static_cast<uLongf>(blob.inflatedSize);
    const int status = uncompress(out, &length, blob.data, static_cast<uLong>(blob.compressedSize));
    if (status != Z_OK || length != blob.inflatedSize) {
        std::free(out);
        return false;
    }
    buffer = out;
    return true;
}

const unsigned char* AssetArchive::find(const char* name, std::size_t* size) {
    if (size != nullptr) {
        *size = 0;
    }
    if (name == nullptr || !unpack()) {
        return nullptr;
    }
    const ArchiveBlob& blob = currentSource();
    for (std::size_t i = 0; i < blob.entryCount; ++i) {
        if (std::strcmp(blob.entries[i].name, name) == 0) {
            if (size != nullptr) {
                *size = static_cast<std::size_t>(blob.entries[i].size);
            }
            return buffer + blob.entries[i].offset;
        }
    }
    return nullptr;
}

void AssetArchive::useSource(const ArchiveBlob& blob) {
    std::free(buffer);
    buffer = nullptr;
    source = &blob;
}

int AssetArchive::inflateCount() {
    return inflations;
}
