#pragma once

#include "base/clock.h"

#include <cstddef>
#include <cstdint>
#include <memory>

class ArrivingBytes;

// The music player: plays one track on the sound device, copies what is
// played into a lock-free ring buffer on the audio thread, and measures bass
// and treble from it on the main thread.
class Audio {
  public:
    Audio();
    ~Audio();
    Audio(const Audio&) = delete;
    Audio& operator=(const Audio&) = delete;

    bool loadFile(const char* path);
    // The bytes must stay valid while the sound exists (they are not copied).
    bool loadMemory(const void* bytes, std::size_t size);
    // Music still arriving (a download) plays as far as it has come; false
    // until its format can be read.
    bool loadArriving(const ArrivingBytes& bytes);
    void play();
    void pause();
    void resume();
    void seek(double seconds);
    // Moves the music on by `seconds` from where it goes on, as if it had
    // played them; what the device never played is left out.
    void skip(double seconds);
    // Where the music goes on, without a gap, when it reaches its end.
    void setLoopStart(double seconds);
    // The music time that the device is handed next (0 without music).
    double positionSeconds() const;
    // Where the music is being heard now: the buffer the device was last
    // handed, heard from when the sound's line of renders says, plus the time
    // since at the device's nominal rate; with the latency it was handed
    // with. False where no music plays: none, paused, or a seek, a skip or a
    // resume not yet carried out.
    bool playPosition(MusicPosition& out) const;
    // From handing a frame to the device to hearing it: what the platform
    // reports now, plus any delay set below.
    double outputLatency() const;
    // A delay after the device that the platform cannot see (a test's device).
    void setExtraLatency(double seconds);
    void update();
    float bass() const;
    float treble() const;
    double lengthSeconds() const;
    void unload();

    struct Block;

    // The device's format: the analysis and the sound convert to it.
    static constexpr int kEngineRate = 48000;
    static constexpr unsigned kEngineChannels = 2;
    // 40 ms, which SDL's pacing (in whole milliseconds) keeps exactly.
    static constexpr int kPeriodFrames = 1920;

  private:
    bool setUpEngine();
    void setUpTap();
    // A load through the decoder, opened by `open`.
    template <typename Open> bool loadStream(Open open, const char* failure);

    std::unique_ptr<Block> state;
    bool paused = false;
};
