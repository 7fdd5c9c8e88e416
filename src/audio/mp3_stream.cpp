#include "audio/mp3_stream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mpg123.h>
#include <sys/types.h>

namespace {

mpg123_ssize_t readMemory(void* self, void* buffer, size_t count) {
    auto* stream = static_cast<Mp3Stream*>(self);
    const std::size_t left = stream->dataSize - stream->position;
    const std::size_t n = std::min(left, count);
    std::memcpy(buffer, stream->data + stream->position, n);
    stream->position += n;
    return static_cast<mpg123_ssize_t>(n);
}

off_t seekMemory(void* self, off_t offset, int whence) {
    auto* stream = static_cast<Mp3Stream*>(self);
    off_t base = 0;
    if (whence == SEEK_CUR) {
        base = static_cast<off_t>(stream->position);
    } else if (whence == SEEK_END) {
        base = static_cast<off_t>(stream->dataSize);
    }
    const off_t target = base + offset;
    if (target < 0 || target > static_cast<off_t>(stream->dataSize)) {
        return -1;
    }
    stream->position = static_cast<std::size_t>(target);
    return target;
}

bool libraryReady() {
    static const bool ready = mpg123_init() == MPG123_OK;
    return ready;
}

} // namespace

Mp3Stream::~Mp3Stream() {
    close();
}

bool Mp3Stream::open(const void* bytes, std::size_t size) {
    close();
    if (bytes == nullptr || size == 0 || !libraryReady()) {
        return false;
    }
    data = static_cast<const unsigned char*>(bytes);
    dataSize = size;
    position = 0;

    int error = 0;
    mpg123_handle* mh = mpg123_new(nullptr, &error);
    if (mh == nullptr) {
        return false;
    }
    mpg123_param(mh, MPG123_FLAGS, MPG123_QUIET | MPG123_GAPLESS | MPG123_FORCE_FLOAT, 0.0);
    // Only float output, in whatever rate and channel count the file has.
    mpg123_format_none(mh);
    const long* rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i) {
        mpg123_format(mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
    }
    if (mpg123_replace_reader_handle(mh, readMemory, seekMemory, nullptr) != MPG123_OK ||
        mpg123_open_handle(mh, this) != MPG123_OK) {
        mpg123_delete(mh);
        return false;
    }
    long fileRate = 0;
    int fileChannels = 0;
    int encoding = 0;
    // Reads the first frames (and the encoder's header with delay and padding).
    if (mpg123_getformat(mh, &fileRate, &fileChannels, &encoding) != MPG123_OK ||
        encoding != MPG123_ENC_FLOAT_32 || fileRate <= 0 || fileChannels <= 0) {
        mpg123_close(mh);
        mpg123_delete(mh);
        return false;
    }
    mpg123_format_none(mh);
    mpg123_format(mh, fileRate, fileChannels, MPG123_ENC_FLOAT_32);
    mpg123_scan(mh);
    const off_t frames = mpg123_length(mh);
    if (frames <= 0) {
        mpg123_close(mh);
        mpg123_delete(mh);
        return false;
    }
    handle = reinterpret_cast<mpg123_handle_struct*>(mh);
    rate = static_cast<int>(fileRate);
    channels = fileChannels;
    length = static_cast<std::uint64_t>(frames);
    seek(0);
    return true;
}

void Mp3Stream::close() {
    if (handle != nullptr) {
        auto* mh = reinterpret_cast<mpg123_handle*>(handle);
        mpg123_close(mh);
        mpg123_delete(mh);
        handle = nullptr;
    }
    rate = 0;
    channels = 0;
    length = 0;
}

std::size_t Mp3Stream::read(float* out, std::size_t frames) {
    if (handle == nullptr || frames == 0) {
        return 0;
    }
    auto* mh = reinterpret_cast<mpg123_handle*>(handle);
    const std::size_t frameBytes = sizeof(float) * static_cast<std::size_t>(channels);
    auto* bytes = reinterpret_cast<unsigned char*>(out);
    std::size_t done = 0;
    const std::size_t wanted = frames * frameBytes;
    while (done < wanted) {
        size_t got = 0;
        const int status = mpg123_read(mh, bytes + done, wanted - done, &got);
        done += got;
        if (status == MPG123_DONE || status == MPG123_ERR ||
            (got == 0 && status != MPG123_NEW_FORMAT)) {
            break;
        }
    }
    return done / frameBytes;
}

bool Mp3Stream::seek(std::uint64_t frame) {
    if (handle == nullptr) {
        return false;
    }
    auto* mh = reinterpret_cast<mpg123_handle*>(handle);
    const off_t target = static_cast<off_t>(std::min(frame, length));
    return mpg123_seek(mh, target, SEEK_SET) >= 0;
}

bool decodeMp3(const void* bytes, std::size_t size, std::vector<float>& interleaved, int& rate,
               int& channels) {
    Mp3Stream stream;
    if (!stream.open(bytes, size)) {
        return false;
    }
    rate = stream.sampleRate();
    channels = stream.channelCount();
    interleaved.assign(static_cast<std::size_t>(stream.lengthFrames()) * channels, 0.0f);
    const std::size_t got = stream.read(interleaved.data(), stream.lengthFrames());
    interleaved.resize(got * channels);
    return true;
}
