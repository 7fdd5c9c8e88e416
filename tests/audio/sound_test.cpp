#include "audio/arriving_bytes.h"
#include "audio/mp3_stream.h"
#include "audio/sound.h"
#include "test_music.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <thread>
#include <vector>

namespace {

// Stereo frames (k, 1000 + k).
std::vector<float> ramp(std::size_t frames) {
    std::vector<float> out(frames * 2);
    for (std::size_t f = 0; f < frames; ++f) {
        out[f * 2] = static_cast<float>(f);
        out[f * 2 + 1] = 1000.0f + static_cast<float>(f);
    }
    return out;
}

std::vector<float> render(Sound& sound, std::size_t frames, std::size_t chunk = 333) {
    std::vector<float> out(frames * 2, -1.0f);
    for (std::size_t f = 0; f < frames; f += chunk) {
        sound.render(out.data() + f * 2, std::min(chunk, frames - f));
    }
    return out;
}

std::size_t leftFrameAt(const std::vector<float>& out, std::size_t f) {
    return static_cast<std::size_t>(out[f * 2]);
}

} // namespace

TEST(Sound, PlaysTheSourceExactlyAndLoopsAtItsEnd) {
    Sound sound(48000, 2);
    EXPECT_EQ(render(sound, 10), std::vector<float>(20, 0.0f)); // not ready: silence
    ASSERT_TRUE(sound.initPcm(ramp(1000), 48000, 2));
    EXPECT_EQ(sound.lengthFrames(), 1000u);
    EXPECT_EQ(render(sound, 100), std::vector<float>(200, 0.0f)); // not started
    sound.start();
    const std::vector<float> out = render(sound, 2500);
    const std::vector<float> src = ramp(1000);
    for (std::size_t f = 0; f < 2500; ++f) {
        ASSERT_EQ(out[f * 2], src[(f % 1000) * 2]) << f;
        ASSERT_EQ(out[f * 2 + 1], src[(f % 1000) * 2 + 1]) << f;
    }
}

TEST(Sound, StopHoldsThePositionAndSeeksRunOnTheAudioThread) {
    Sound sound(48000, 2);
    ASSERT_TRUE(sound.initPcm(ramp(48000), 48000, 2));
    sound.start();
    render(sound, 300);
    sound.stop();
    sound.stop();
    EXPECT_EQ(render(sound, 50), std::vector<float>(100, 0.0f));
    sound.start();
    EXPECT_EQ(leftFrameAt(render(sound, 1), 0), 300u);

    sound.seekSeconds(0.5);
    EXPECT_EQ(leftFrameAt(render(sound, 1), 0), 24000u);
    sound.seekSeconds(-3.0);
    EXPECT_EQ(leftFrameAt(render(sound, 1), 0), 0u);
    // Only the last request before the audio thread runs counts.
    sound.seekSeconds(0.1);
    sound.seekSeconds(0.2);
    EXPECT_EQ(leftFrameAt(render(sound, 1), 0), 9600u);
    // A seek drops the skips asked for before it; one asked after it goes on
    // from it.
    sound.skipFrames(1000);
    sound.seekFrame(5000);
    EXPECT_EQ(leftFrameAt(render(sound, 1), 0), 5000u);
    sound.seekFrame(5000);
    sound.skipFrames(1000);
    EXPECT_EQ(leftFrameAt(render(sound, 1), 0), 6000u);
    // A seek while stopped is where playback resumes.
    sound.stop();
    sound.seekFrame(777);
    render(sound, 10);
    sound.start();
    EXPECT_EQ(leftFrameAt(render(sound, 1), 0), 777u);
    // Past the end: the end, which loops to the start.
    sound.seekSeconds(1e300);
    EXPECT_EQ(leftFrameAt(render(sound, 1), 0), 0u);
    sound.seekSeconds(INFINITY);
    EXPECT_EQ(leftFrameAt(render(sound, 1), 0), 0u);
}

TEST(Sound, ThePlayheadTellsWhatWasHandedAndHowOftenTheMusicLooped) {
    Sound sound(48000, 2);
    ASSERT_TRUE(sound.initPcm(ramp(1000), 48000, 2));
    sound.setLoopStartFrame(400);
    Sound::Playhead head;
    sound.start();
    EXPECT_FALSE(sound.playhead(head)) << "nothing handed yet";
    render(sound, 900, 300);
    ASSERT_TRUE(sound.playhead(head));
    EXPECT_EQ(head.frame, 600u);
    EXPECT_EQ(head.frames, 300u);
    EXPECT_EQ(head.loops, 0u);
    // 900..999, then 400..599: one loop, counted where the output passed it.
    render(sound, 300, 300);
    ASSERT_TRUE(sound.playhead(head));
    EXPECT_EQ(head.frame, 900u);
    EXPECT_EQ(head.loops, 0u);
    render(sound, 300, 300);
    ASSERT_TRUE(sound.playhead(head));
    EXPECT_EQ(head.frame, 600u);
    EXPECT_EQ(head.loops, 1u);
    // A seek makes the last playhead stale until a render carries it out.
    sound.seekFrame(100);
    EXPECT_FALSE(sound.playhead(head));
    render(sound, 10, 10);
    ASSERT_TRUE(sound.playhead(head));
    EXPECT_EQ(head.frame, 100u);
    EXPECT_EQ(head.loops, 1u);
}

TEST(Sound, SeeksByTheMusicsRateAndConvertsToTheDeviceFormat) {
    // Mono 44.1 kHz, 1 kHz tone, played at 48 kHz stereo.
    std::vector<float> mono(44100 * 2);
    for (std::size_t f = 0; f < mono.size(); ++f) {
        mono[f] = std::sin(2.0 * M_PI * 1000.0 * static_cast<double>(f) / 44100.0);
    }
    Sound sound(48000, 2);
    ASSERT_TRUE(sound.initPcm(mono, 44100, 1));
    sound.seekSeconds(1.0);
    sound.start();
    const std::vector<float> out = render(sound, 48000);
    EXPECT_EQ(out[0], mono[44100]);
    EXPECT_EQ(out[1], mono[44100]);
    int crossings = 0;
    for (std::size_t f = 1; f < 48000; ++f) {
        ASSERT_EQ(out[f * 2], out[f * 2 + 1]);
        crossings += (out[(f - 1) * 2] < 0.0f) != (out[f * 2] < 0.0f);
    }
    // One second of a 1 kHz tone at the right pitch.
    EXPECT_NEAR(crossings, 2000, 4);
}

TEST(Sound, StreamsAnMp3AsTheDecoderDecodesIt) {
    const TestMusic* music = shortMonoMusic();
    if (music == nullptr) {
        GTEST_SKIP() << "ffmpeg could not make the test music";
    }
    Mp3Stream stream;
    ASSERT_TRUE(stream.open(music->mp3.data(), music->mp3.size()));
    // At its own rate so the frames compare exactly, across the loop point.
    Sound sound(music->rate, 2);
    ASSERT_TRUE(sound.initStream(&stream));
    EXPECT_EQ(sound.lengthFrames(), music->frames());
    sound.start();
    const std::size_t frames = music->frames() + 5000;
    const std::vector<float> out = render(sound, frames, 2048);
    for (std::size_t f = 0; f < frames; ++f) {
        ASSERT_EQ(out[f * 2], *music->frame(f % music->frames())) << f;
    }
    EXPECT_FALSE(sound.initStream(nullptr));
    EXPECT_FALSE(sound.ready());
}

// A download: the decoder is fed as far as the bytes have come, which is
// neither the end nor a reason to lose the place, and seeks ahead of them.
TEST(Sound, MusicStillArrivingPlaysAsTheWholeFileAndWaitsForItsBytes) {
    const TestMusic* music = longStereoMusic();
    if (music == nullptr) {
        GTEST_SKIP() << "ffmpeg could not make the test music";
    }
    const std::size_t total = music->mp3.size();
    ArrivingBytes bytes;
    ASSERT_TRUE(bytes.begin(total));
    Mp3Stream stream;
    EXPECT_FALSE(stream.open(bytes)); // nothing there yet
    bytes.append(music->mp3.data(), total / 10);
    ASSERT_TRUE(stream.open(bytes));
    ASSERT_EQ(stream.lengthFrames(), music->frames()); // from the encoder's header

    // Read through, the bytes coming in pieces whenever the decoder runs dry.
    std::vector<float> out(1000 * 2);
    std::size_t at = 0;
    int starvations = 0;
    while (at < music->frames()) {
        const std::size_t n = stream.read(out.data(), 1000);
        for (std::size_t f = 0; f < n; ++f, ++at) {
            ASSERT_EQ(out[f * 2], music->frame(at)[0]) << at;
            ASSERT_EQ(out[f * 2 + 1], music->frame(at)[1]) << at;
        }
        if (n < 1000 && at < music->frames()) {
            ASSERT_TRUE(stream.starved()) << at;
            ++starvations;
            bytes.append(music->mp3.data() + bytes.arrived(), 50000);
        }
    }
    EXPECT_GT(starvations, 10);
    EXPECT_EQ(stream.read(out.data(), 1000), 0u);
    EXPECT_FALSE(stream.starved()); // the end

    // A seek far past the bytes there: nothing, then the right music.
    ArrivingBytes late;
    ASSERT_TRUE(late.begin(total));
    late.append(music->mp3.data(), total / 10);
    ASSERT_TRUE(stream.open(late));
    const std::size_t target = 30 * 48000 + 17;
    ASSERT_TRUE(stream.seek(target));
    EXPECT_EQ(stream.read(out.data(), 1000), 0u);
    EXPECT_TRUE(stream.starved());
    late.append(music->mp3.data() + late.arrived(), total);
    ASSERT_EQ(stream.read(out.data(), 1000), 1000u);
    EXPECT_EQ(out[0], music->frame(target)[0]);
    EXPECT_EQ(out[1999], music->frame(target + 999)[1]);

    // Played, a stream run dry holds silence where it stands: no loop to
    // the start, and it goes on from there once the bytes come.
    ArrivingBytes some;
    ASSERT_TRUE(some.begin(total));
    some.append(music->mp3.data(), total / 10);
    ASSERT_TRUE(stream.open(some));
    Sound sound(music->rate, 2);
    ASSERT_TRUE(sound.initStream(&stream));
    sound.start();
    render(sound, 10 * 48000, 2048);
    const std::uint64_t stood = sound.cursorFrame();
    EXPECT_GT(stood, 4u * 48000);
    EXPECT_LT(stood, 6u * 48000);
    const std::vector<float> dry = render(sound, 48000, 2048);
    EXPECT_EQ(dry, std::vector<float>(dry.size(), 0.0f));
    EXPECT_EQ(sound.cursorFrame(), stood);
    some.append(music->mp3.data() + some.arrived(), total);
    // (after the two silent frames it held in its interpolation pair)
    const std::vector<float> after = render(sound, 2048, 2048);
    const long from = findBlock(after, *music, stood, 1000);
    EXPECT_TRUE(from >= 0 && from <= 2) << from;
}

TEST(Sound, RequestsFromAnotherThreadWhileRendering) {
    Sound sound(48000, 2);
    ASSERT_TRUE(sound.initPcm(ramp(4800), 48000, 2));
    std::atomic<bool> quit{false};
    std::atomic<bool> sane{true};
    std::thread audio([&] {
        std::vector<float> out(512 * 2);
        while (!quit.load(std::memory_order_acquire)) {
            sound.render(out.data(), 512);
            for (std::size_t f = 0; f < 512; ++f) {
                // Silence or a frame of the source, never a torn one.
                const bool silent = out[f * 2] == 0.0f && out[f * 2 + 1] == 0.0f;
                if (!silent && out[f * 2 + 1] != out[f * 2] + 1000.0f) {
                    sane.store(false);
                }
            }
        }
    });
    for (int i = 0; i < 20000; ++i) {
        Sound::Playhead head;
        // Whole or not at all: a playhead from one render, inside the source.
        if (sound.playhead(head) && (head.frame >= 4800 || head.frames != 512)) {
            sane.store(false);
        }
        switch (i % 4) {
        case 0:
            sound.start();
            break;
        case 1:
            sound.seekSeconds(0.001 * (i % 97));
            break;
        case 2:
            sound.stop();
            break;
        default:
            sound.seekFrame(static_cast<std::uint64_t>(i));
            break;
        }
    }
    quit.store(true, std::memory_order_release);
    audio.join();
    EXPECT_TRUE(sane.load());
}

namespace {
std::int64_t fakeNs = 0;
std::int64_t fakeClock() {
    return fakeNs;
}
} // namespace

// When each handed buffer is first heard: renders woken late by an
// exponential 10 ms put it no later than a few milliseconds past the truth
// (the late wake-ups are not averaged in), and requests of varying size with
// what is queued ahead as their latency (the browser's) put it exactly there;
// neither is a gap, as a queue that ran dry is.
TEST(Sound, ThePlayheadIsHeardWhereTheDeviceReallyIs) {
    Sound sound(48000, 2);
    ASSERT_TRUE(sound.initPcm(ramp(48000), 48000, 2));
    sound.start();
    Sound::useClock(fakeClock);
    std::mt19937 random(33);
    std::vector<float> out(4096 * 2);
    Sound::Playhead head;
    constexpr std::int64_t kPeriodNs = 40'000'000; // 1920 frames
    std::exponential_distribution<double> late(1.0 / 10e6);
    std::vector<double> off;
    for (int i = 0; i < 400; ++i) {
        const std::int64_t due = i * kPeriodNs;
        fakeNs = due + static_cast<std::int64_t>(std::min(late(random), 30e6));
        sound.render(out.data(), 1920, 1920);
        ASSERT_TRUE(sound.playhead(head));
        off.push_back(static_cast<double>(head.heardNs - (due + kPeriodNs)) * 1e-6);
    }
    std::sort(off.begin(), off.end());
    EXPECT_GE(off.front(), -0.01);
    EXPECT_LT(off[off.size() / 2], 5.0) << "ms, the median";

    // Heard from 16 s on, back to back, whenever and however much is asked.
    std::uniform_int_distribution<int> frames(128, 4096);
    std::uniform_real_distribution<double> wait(0.0, 1.0);
    double heardAt = 16e9;
    fakeNs = 15'990'000'000;
    for (int i = 0; i < 200; ++i) {
        const int n = frames(random);
        const double queued = (heardAt - static_cast<double>(fakeNs)) * 48000e-9;
        sound.render(out.data(), static_cast<std::size_t>(n),
                     static_cast<int>(std::lround(queued)));
        ASSERT_TRUE(sound.playhead(head));
        ASSERT_NEAR(static_cast<double>(head.heardNs), heardAt, 0.05e6) << "render " << i;
        heardAt += n / 48000e-9;
        fakeNs += static_cast<std::int64_t>(wait(random) * (heardAt - static_cast<double>(fakeNs)));
    }
    EXPECT_EQ(head.gapNs, 0) << "late wake-ups and requests of any size leave no gap";
    // Asked again a second after the queue ran dry: a gap of a second.
    fakeNs = static_cast<std::int64_t>(heardAt) + 1'000'000'000;
    sound.render(out.data(), 128, 0);
    ASSERT_TRUE(sound.playhead(head));
    EXPECT_EQ(head.heardNs, fakeNs);
    EXPECT_NEAR(static_cast<double>(head.gapNs), 1e9, 0.05e6);
    Sound::useClock(nullptr);
}
