#include "audio/audio.h"
#include "support/stderr_capture.h"
#include "test_music.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kRate = 48000;

const TestMusic& requireLong() {
    static const TestMusic empty;
    const TestMusic* music = longStereoMusic();
    return music != nullptr ? *music : empty;
}

#define REQUIRE_MUSIC(music)                                                                       \
    if ((music).pcm.empty()) {                                                                     \
        GTEST_SKIP() << "ffmpeg could not make the test music";                                    \
    }

std::size_t firstSound(const std::vector<float>& out, std::size_t from = 0) {
    for (std::size_t f = from; f < out.size() / 2; ++f) {
        if (out[f * 2] != 0.0f || out[f * 2 + 1] != 0.0f) {
            return f;
        }
    }
    return out.size() / 2;
}

// The output with every run of at least 256 silent frames taken out.
std::vector<float> withoutPauses(const std::vector<float>& out, std::size_t* pausedFrames) {
    std::vector<float> kept;
    std::size_t f = 0;
    const std::size_t frames = out.size() / 2;
    *pausedFrames = 0;
    while (f < frames) {
        std::size_t run = 0;
        while (f + run < frames && out[(f + run) * 2] == 0.0f && out[(f + run) * 2 + 1] == 0.0f) {
            ++run;
        }
        if (run >= 256) {
            *pausedFrames += run;
        } else {
            kept.insert(kept.end(), out.begin() + f * 2, out.begin() + (f + run) * 2);
        }
        f += run;
        if (f < frames) {
            kept.push_back(out[f * 2]);
            kept.push_back(out[f * 2 + 1]);
            ++f;
        }
    }
    return kept;
}

} // namespace

TEST(AudioDevice, PlaysTheDecodedMusicFromWhereItWasSought) {
    const TestMusic& music = requireLong();
    REQUIRE_MUSIC(music);
    DiskDevice device;
    Audio audio;
    ASSERT_TRUE(audio.loadMemory(music.mp3.data(), music.mp3.size()));
    EXPECT_DOUBLE_EQ(audio.lengthSeconds(),
                     static_cast<float>(music.frames()) / static_cast<float>(music.rate));
    audio.seek(53.0);
    audio.play();
    ASSERT_TRUE(device.waitMore(2 * kRate));
    // While it plays, a seek back before the start means the start.
    audio.seek(-4.0);
    ASSERT_TRUE(device.waitMore(kRate));
    audio.unload();

    const std::vector<float> out = device.samples();
    const std::size_t start = firstSound(out);
    EXPECT_EQ(findBlock(out, music, 53 * kRate, kRate, start), static_cast<long>(start));
    const long restart = findBlock(out, music, 0, kRate / 2, start + kRate);
    ASSERT_GT(restart, 0);
    // Continuous from 53 s up to the seek.
    const std::size_t played = static_cast<std::size_t>(restart) - start;
    EXPECT_EQ(findBlock(out, music, 53 * kRate, played, start), static_cast<long>(start));
}

TEST(AudioDevice, PauseHoldsThePlaceAndResumeGoesOnFromIt) {
    const TestMusic& music = requireLong();
    REQUIRE_MUSIC(music);
    DiskDevice device;
    Audio audio;
    ASSERT_TRUE(audio.loadMemory(music.mp3.data(), music.mp3.size()));
    audio.play();
    ASSERT_TRUE(device.waitMore(kRate / 2));
    audio.pause();
    ASSERT_TRUE(device.waitMore(kRate / 2));
    audio.resume();
    ASSERT_TRUE(device.waitMore(kRate / 2));
    // Twice paused, once resumed: playing.
    audio.pause();
    audio.pause();
    ASSERT_TRUE(device.waitMore(kRate / 4));
    audio.resume();
    audio.resume(); // without a pause: nothing
    ASSERT_TRUE(device.waitMore(kRate / 2));
    audio.unload();
    audio.unload();
    const std::vector<float> tail = device.samples();

    std::size_t pausedFrames = 0;
    const std::vector<float> heard = withoutPauses(tail, &pausedFrames);
    EXPECT_GE(pausedFrames, kRate / 2 + kRate / 4);
    ASSERT_GE(heard.size() / 2, kRate);
    // Everything heard is one unbroken stretch of the music from its start.
    TestMusic asHeard;
    asHeard.pcm = heard;
    asHeard.channels = 2;
    EXPECT_EQ(findBlock(tail, music, 0, 16, 0), static_cast<long>(firstSound(tail)));
    for (std::size_t f = 0; f < heard.size() / 2; ++f) {
        ASSERT_EQ(heard[f * 2], music.frame(f)[0]) << f;
        ASSERT_EQ(heard[f * 2 + 1], music.frame(f)[1]) << f;
    }
    // The last stretch before the unload is music, not silence.
    const std::size_t lastFrames = tail.size() / 2;
    EXPECT_LT(firstSound(tail, lastFrames - 4096), lastFrames);
}

TEST(AudioDevice, BassAndTrebleFollowTheMusic) {
    const TestMusic& music = requireLong();
    REQUIRE_MUSIC(music);
    DiskDevice device(4);
    Audio audio;
    ASSERT_TRUE(audio.loadMemory(music.mp3.data(), music.mp3.size()));
    audio.update();
    EXPECT_EQ(audio.bass(), 0.0f);
    EXPECT_EQ(audio.treble(), 0.0f);
    // Updated as a frame loop would, for as long as the device takes to play
    // `frames` (its time, not the wall clock's: a busy machine is slower).
    const auto updateWhilePlaying = [&](std::size_t frames, auto&& each) {
        const std::size_t until = device.framesWritten() + frames;
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (device.framesWritten() < until && std::chrono::steady_clock::now() < limit) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            audio.update();
            each();
        }
    };
    audio.play();
    float bass = 0.0f;
    float treble = 0.0f;
    updateWhilePlaying(kRate, [&] {
        bass = std::max(bass, audio.bass());
        treble = std::max(treble, audio.treble());
    });
    // Low tones of 0.3 to 0.4 and quieter high ones (see the test music).
    EXPECT_GT(bass, 0.5f);
    EXPECT_GT(treble, 0.2f);
    // Paused, the device plays silence and the levels fall away.
    audio.pause();
    updateWhilePlaying(2 * kRate, [] {});
    EXPECT_LT(audio.bass(), bass * 0.5f);
    EXPECT_LT(audio.treble(), treble * 0.5f);
    audio.unload();
    EXPECT_EQ(audio.bass(), 0.0f);
}

TEST(AudioDevice, LoadFileDecodesUpFrontAndSeeksByTheMusicsOwnRate) {
    const TestMusic* mono = shortMonoMusic();
    if (mono == nullptr) {
        GTEST_SKIP() << "ffmpeg could not make the test music";
    }
    DiskDevice device;
    Audio audio;
    ASSERT_TRUE(audio.loadFile(mono->path.c_str()));
    EXPECT_DOUBLE_EQ(audio.lengthSeconds(),
                     static_cast<float>(mono->frames()) / static_cast<float>(mono->rate));
    audio.seek(1.0);
    audio.play();
    ASSERT_TRUE(device.waitMore(kRate / 2));
    audio.unload();
    const std::vector<float> out = device.samples();
    const std::size_t start = firstSound(out);
    ASSERT_LT(start + 1, out.size() / 2);
    // 44.1 kHz mono on a 48 kHz stereo device: the first frame is exactly
    // the music's frame 44100 on both channels.
    EXPECT_EQ(out[start * 2], mono->frame(44100)[0]);
    EXPECT_EQ(out[start * 2 + 1], mono->frame(44100)[0]);
}

TEST(AudioDevice, FailedLoadsAreLoggedAndLeaveEverythingHarmless) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    StderrCapture err;
    Audio audio;
    const unsigned char junk[64] = {1, 2, 3};
    EXPECT_FALSE(audio.loadMemory(junk, sizeof junk));
    EXPECT_EQ(err.take(), "[Audio] failed to decode from memory\n");
    EXPECT_FALSE(audio.loadMemory(nullptr, 0));
    EXPECT_EQ(err.take(), "[Audio] failed to decode from memory\n");
    EXPECT_FALSE(audio.loadFile("/nonexistent/tune.mp3"));
    EXPECT_EQ(err.take(), "[Audio] failed to load: /nonexistent/tune.mp3\n");
    const std::string notMp3 = "/tmp/quex_audio_not_mp3_" + std::to_string(getpid());
    std::ofstream(notMp3) << "not music at all";
    EXPECT_FALSE(audio.loadFile(notMp3.c_str()));
    EXPECT_EQ(err.take(), "[Audio] failed to load: " + notMp3 + "\n");
    unlink(notMp3.c_str());

    audio.play();
    audio.pause();
    audio.resume();
    audio.seek(12.0);
    audio.update();
    EXPECT_EQ(audio.bass(), 0.0f);
    EXPECT_EQ(audio.treble(), 0.0f);
    EXPECT_EQ(audio.lengthSeconds(), 0.0);
    audio.unload();
    audio.unload();
    EXPECT_EQ(err.take(), "");
    unsetenv("SDL_AUDIODRIVER");
}

TEST(AudioDevice, WithoutADeviceOnlyOurLineIsLogged) {
    const TestMusic& music = requireLong();
    REQUIRE_MUSIC(music);
    // An unknown driver, and ALSA with whatever cards this machine has: when
    // opening fails, nothing but our line reaches stderr.
    for (const char* driver : {"no_such_driver", "alsa"}) {
        setenv("SDL_AUDIODRIVER", driver, 1);
        StderrCapture err;
        Audio audio;
        if (audio.loadMemory(music.mp3.data(), music.mp3.size())) {
            audio.unload();
            EXPECT_STREQ(driver, "alsa") << "a real device opened";
            continue;
        }
        EXPECT_EQ(err.take(), "[Audio] engine init failed\n") << driver;
        audio.play();
        audio.pause();
        audio.resume();
        audio.seek(53.0);
        audio.update();
        EXPECT_EQ(audio.bass(), 0.0f);
        EXPECT_EQ(audio.lengthSeconds(), 0.0);
        audio.unload();
        audio.unload();
        EXPECT_EQ(err.take(), "") << driver;
    }
    unsetenv("SDL_AUDIODRIVER");
}
