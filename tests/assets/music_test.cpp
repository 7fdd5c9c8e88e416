#include "audio/audio_analyzer.h"
#include "audio/mp3_stream.h"
#include "core/asset_archive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

struct FrameHeader {
    bool valid = false;
    int version = 0; // 3 = MPEG-1
    int layer = 0;   // 1 = Layer III
    int bitrateKbps = 0;
    int sampleRate = 0;
    int mode = 0; // 1 = joint stereo
    int bytes = 0;
};

// MPEG-1 Layer III only: the bit rate table and frame size below are that layer's.
FrameHeader parseHeader(const unsigned char* p) {
    static const int kRates[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                   112, 128, 160, 192, 224, 256, 320, 0};
    static const int kSampleRates[4] = {44100, 48000, 32000, 0};
    FrameHeader h;
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) {
        return h;
    }
    h.version = (p[1] >> 3) & 3;
    h.layer = (p[1] >> 1) & 3;
    h.bitrateKbps = kRates[p[2] >> 4];
    h.sampleRate = kSampleRates[(p[2] >> 2) & 3];
    h.mode = p[3] >> 6;
    if (h.version == 3 && h.layer == 1 && h.bitrateKbps && h.sampleRate) {
        h.bytes = 144000 * h.bitrateKbps / h.sampleRate + ((p[2] >> 1) & 1);
        h.valid = true;
    }
    return h;
}

struct Music {
    const unsigned char* bytes = nullptr;
    std::size_t size = 0;
};

Music music() {
    Music m;
    m.bytes = AssetArchive::find("assets/music/tune.mp3", &m.size);
    return m;
}

// Where the audio frames start: after an ID3v2 tag, if there is one.
std::size_t firstFrame(const Music& m) {
    if (m.size >= 10 && std::memcmp(m.bytes, "ID3", 3) == 0) {
        const std::size_t tag =
            (std::size_t(m.bytes[6] & 0x7F) << 21) | (std::size_t(m.bytes[7] & 0x7F) << 14) |
            (std::size_t(m.bytes[8] & 0x7F) << 7) | std::size_t(m.bytes[9] & 0x7F);
        return 10 + tag + ((m.bytes[5] & 0x10) ? 10 : 0);
    }
    return 0;
}

struct Decoded {
    std::vector<float> pcm;
    int rate = 0;
    int channels = 0;
    bool ok = false;
};

const Decoded& decoded() {
    static const Decoded d = [] {
        Decoded r;
        const Music m = music();
        if (m.bytes) {
            r.ok = decodeMp3(m.bytes, m.size, r.pcm, r.rate, r.channels);
        }
        return r;
    }();
    return d;
}

// RMS of the mono mix over [from, to) seconds.
double rms(const Decoded& d, double from, double to) {
    const std::size_t frames = d.pcm.size() / 2;
    const std::size_t a = std::min(static_cast<std::size_t>(from * d.rate), frames);
    const std::size_t b = std::min(static_cast<std::size_t>(to * d.rate), frames);
    if (b <= a) {
        return 0.0;
    }
    double sum = 0.0;
    for (std::size_t f = a; f < b; ++f) {
        const double m = 0.5 * (d.pcm[f * 2] + d.pcm[f * 2 + 1]);
        sum += m * m;
    }
    return std::sqrt(sum / static_cast<double>(b - a));
}

struct Shares {
    double bass = 0.0, treble = 0.0;
};

// Share of demo frames (1/60 s analyser updates) above 0.6 within [from, to).
Shares levelShares(const Decoded& d, double from, double to) {
    AudioAnalyzer an;
    an.setSampleRate(static_cast<float>(d.rate));
    const std::size_t slice = d.rate / 60;
    int n = 0, nb = 0, nt = 0;
    for (std::size_t k = 0; (k + 1) * slice * d.channels <= d.pcm.size() && k < to * 60.0; ++k) {
        an.analyse(d.pcm.data() + k * slice * d.channels, slice, d.channels);
        if (k >= from * 60.0) {
            ++n;
            nb += an.bass > 0.6f;
            nt += an.treble > 0.6f;
        }
    }
    return {double(nb) / n, double(nt) / n};
}

} // namespace

TEST(Music, EveryFrameIsMpeg1Layer3At48kHz320kbitJointStereo) {
    const Music m = music();
    ASSERT_NE(m.bytes, nullptr);
    std::size_t pos = firstFrame(m);
    ASSERT_LT(pos + 4, m.size);
    int count = 0;
    while (pos + 4 <= m.size) {
        if (m.size - pos == 128 && std::memcmp(m.bytes + pos, "TAG", 3) == 0) {
            pos += 128; // a trailing ID3v1 tag
            break;
        }
        const FrameHeader h = parseHeader(m.bytes + pos);
        ASSERT_TRUE(h.valid) << "no MPEG-1 Layer III frame at byte " << pos;
        ASSERT_EQ(h.bitrateKbps, 320) << "frame " << count;
        ASSERT_EQ(h.sampleRate, 48000) << "frame " << count;
        ASSERT_EQ(h.mode, 1) << "frame " << count;
        pos += h.bytes;
        ++count;
    }
    EXPECT_EQ(pos, m.size) << "the last frame is cut short";
    // 1152 samples per frame: about 193 s, plus the encoder's delay and padding.
    EXPECT_NEAR(count * 1152.0 / 48000.0, 193.0, 0.1);
}

TEST(Music, InfoHeaderGivesTheExactLength) {
    const Music m = music();
    ASSERT_NE(m.bytes, nullptr);
    const std::size_t pos = firstFrame(m);
    // MPEG-1 stereo: the tag follows the 4-byte header and 32 bytes of side info.
    ASSERT_LT(pos + 40, m.size);
    EXPECT_EQ(std::memcmp(m.bytes + pos + 36, "Info", 4), 0);

    const Decoded& d = decoded();
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.rate, 48000);
    EXPECT_EQ(d.channels, 2);
    EXPECT_NEAR(static_cast<double>(d.pcm.size() / 2) / d.rate, 193.0, 0.05);
}

TEST(Music, LevelsPulseInDrivingSectionsAndFallInQuietOnes) {
    const Decoded& d = decoded();
    ASSERT_TRUE(d.ok);
    // The tornado after the loop point drives on the kick; crashes mark accents.
    const Shares drop = levelShares(d, 53.0, 69.0);
    EXPECT_GT(drop.bass, 0.4);
    EXPECT_LT(drop.bass, 0.95) << "bass never falls between the beats";
    EXPECT_GT(drop.treble, 0.01);
    // The intro and the logo breakdown have no kick.
    const Shares intro = levelShares(d, 0.0, 7.0);
    EXPECT_LT(intro.bass, 0.05);
    EXPECT_LT(intro.treble, 0.05);
    const Shares breakdown = levelShares(d, 86.0, 100.0);
    EXPECT_LT(breakdown.bass, 0.1);
}

TEST(Music, EndingMatchesTheBarsBeforeTheLoopPoint) {
    const Decoded& d = decoded();
    ASSERT_TRUE(d.ok);
    // Playback jumps from the end back to 53.0 s: the build before each should
    // be as loud as the other, so the jump is not heard as a cut.
    const double beforeLoop = rms(d, 51.0, 53.0);
    const double beforeEnd = rms(d, 191.0, 193.0);
    ASSERT_GT(beforeLoop, 0.0);
    EXPECT_NEAR(20.0 * std::log10(beforeEnd / beforeLoop), 0.0, 3.0);
}
