#include "audio/mp3_stream.h"

#include "audio/arriving_bytes.h"

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

// A decoder that gives float frames only, in whatever rate and channel count
// the file has; null on failure.
mpg123_handle* newDecoder() {
    if (!libraryReady()) {
        return nullptr;
    }
    int error = 0;
    mpg123_handle* mh = mpg123_new(nullptr, &error);
    if (mh == nullptr) {
        return nullptr;
    }
    mpg123_param(mh, MPG123_FLAGS, MPG123_QUIET | MPG123_GAPLESS | MPG123_FORCE_FLOAT, 0.0);
    mpg123_format_none(mh);
    const long* rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i) {
        mpg123_format(mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
    }
    return mh;
}

} // namespace

Mp3Stream::~Mp3Stream() {
    close();
}

bool Mp3Stream::open(const void* bytes, std::size_t size) {
    close();
    if (bytes == nullptr || size == 0) {
        return false;
    }
    data = static_cast<const unsigned char*>(bytes);
    dataSize = size;
    position = 0;
    mpg123_handle* mh = newDecoder();
    if (mh == nullptr) {
        return false;
    }
    handle = reinterpret_cast<mpg123_handle_struct*>(mh);
    if (mpg123_replace_reader_handle(mh, readMemory, seekMemory, nullptr) != MPG123_OK ||
        mpg123_open_handle(mh, this) != MPG123_OK) {
        close();
        return false;
    }
    // Reads the first frames (and the encoder's header with delay and padding).
    Format f;
    return takeFormat(mpg123_getformat(mh, &f.rate, &f.channels, &f.encoding), f, true);
}

bool Mp3Stream::open(const ArrivingBytes& bytes) {
    close();
    if (!bytes.begun()) {
        return false;
    }
    mpg123_handle* mh = newDecoder();
    if (mh == nullptr) {
        return false;
    }
    handle = reinterpret_cast<mpg123_handle_struct*>(mh);
    arriving = &bytes;
    if (mpg123_open_feed(mh) != MPG123_OK) {
        close();
        return false;
    }
    mpg123_set_filesize(mh, static_cast<off_t>(bytes.total()));
    Format f;
    int status = MPG123_NEED_MORE;
    while ((status = mpg123_getformat(mh, &f.rate, &f.channels, &f.encoding)) == MPG123_NEED_MORE &&
           feed()) {
    }
    // The whole stream cannot be scanned before it has come: the length is
    // the encoder's header's.
    return takeFormat(status, f, false);
}

bool Mp3Stream::takeFormat(int status, const Format& f, bool scan) {
    auto* mh = reinterpret_cast<mpg123_handle*>(handle);
    if (status != MPG123_OK || f.encoding != MPG123_ENC_FLOAT_32 || f.rate <= 0 ||
        f.channels <= 0) {
        close();
        return false;
    }
    mpg123_format_none(mh);
    mpg123_format(mh, f.rate, f.channels, MPG123_ENC_FLOAT_32);
    if (scan) {
        mpg123_scan(mh);
    }
    const off_t frames = mpg123_length(mh);
    if (frames <= 0) {
        close();
        return false;
    }
    rate = static_cast<int>(f.rate);
    channels = f.channels;
    length = static_cast<std::uint64_t>(frames);
    seek(0);
    return true;
}

bool Mp3Stream::feed() {
    const std::size_t arrived = arriving->arrived();
    if (fed >= arrived) {
        return false;
    }
    // In pieces, so that a seek soon after wastes little of what was fed.
    const std::size_t n = std::min<std::size_t>(arrived - fed, 16384);
    if (mpg123_feed(reinterpret_cast<mpg123_handle*>(handle), arriving->data() + fed, n) !=
        MPG123_OK) {
        return false;
    }
    fed += n;
    return true;
}

void Mp3Stream::close() {
    if (handle != nullptr) {
        auto* mh = reinterpret_cast<mpg123_handle*>(handle);
        mpg123_close(mh);
        mpg123_delete(mh);
        handle = nullptr;
    }
    arriving = nullptr;
    fed = 0;
    hungry = false;
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
    hungry = false;
    while (done < wanted) {
        size_t got = 0;
        const int status = mpg123_read(mh, bytes + done, wanted - done, &got);
        done += got;
        if (status == MPG123_NEED_MORE && arriving != nullptr) {
            if (feed()) {
                continue;
            }
            // Every byte fed and the decoder wants more: the end, once all
            // of them have come.
            hungry = fed < arriving->total();
            break;
        }
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
    if (arriving != nullptr) {
        // The decoder says from which byte on it must be fed to get there.
        off_t input = 0;
        if (mpg123_feedseek(mh, target, SEEK_SET, &input) < 0 || input < 0) {
            return false;
        }
        fed = std::min(static_cast<std::size_t>(input), arriving->total());
        hungry = false;
        return true;
    }
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
