#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class ArrivingBytes;
struct mpg123_handle_struct;

// An MP3 decoder over bytes in memory (not copied), giving 32-bit float
// interleaved frames with sample-accurate length and seeking (the encoder's
// delay and padding removed). The bytes may be all there, or still arriving
// (a download): then they are fed to the decoder as far as they have come.
class Mp3Stream {
  public:
    Mp3Stream() = default;
    ~Mp3Stream();
    Mp3Stream(const Mp3Stream&) = delete;
    Mp3Stream& operator=(const Mp3Stream&) = delete;

    bool open(const void* bytes, std::size_t size);
    // False until enough has arrived to know the format and length (the
    // encoder's header says the length; without one it is estimated from
    // the size). The bytes must outlive the stream.
    bool open(const ArrivingBytes& bytes);
    void close();
    bool isOpen() const { return handle != nullptr; }

    int sampleRate() const { return rate; }
    int channelCount() const { return channels; }
    std::uint64_t lengthFrames() const { return length; }

    // Up to `frames` frames into `out`; fewer only at the end of the stream,
    // or where the bytes have not arrived yet (then `starved()`).
    std::size_t read(float* out, std::size_t frames);
    bool seek(std::uint64_t frame);
    // The last read stopped at bytes still to come, not at the end.
    bool starved() const { return hungry; }

    // Reader state, used by the decoder's callbacks.
    const unsigned char* data = nullptr;
    std::size_t dataSize = 0;
    std::size_t position = 0;

  private:
    struct Format {
        long rate = 0;
        int channels = 0;
        int encoding = 0;
    };
    bool takeFormat(int status, const Format& format, bool scan);
    bool feed();

    mpg123_handle_struct* handle = nullptr;
    // Arriving bytes, and the next of them the decoder is fed.
    const ArrivingBytes* arriving = nullptr;
    std::size_t fed = 0;
    bool hungry = false;
    int rate = 0;
    int channels = 0;
    std::uint64_t length = 0;
};

// The whole stream decoded at once; false when the bytes are not an MP3.
bool decodeMp3(const void* bytes, std::size_t size, std::vector<float>& interleaved, int& rate,
               int& channels);
