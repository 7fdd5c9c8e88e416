#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

class Mp3Stream;

// The music as the audio thread plays it: a looping source (an MP3 stream
// decoded as it plays, or PCM decoded up front) converted to the device's
// rate and channel count. At its end it goes on from the loop start without a
// gap. Start, stop, seek and the loop start are requests through atomics; the
// audio thread carries them out in render().
class Sound {
  public:
    static constexpr std::size_t kChunkFrames = 1024;

    // The output format is the device's, fixed for the sound's life.
    Sound(int outRate, unsigned outChannels);
    Sound(const Sound&) = delete;
    Sound& operator=(const Sound&) = delete;

    // Main thread, before the audio thread may render. The stream is not owned.
    bool initStream(Mp3Stream* stream);
    bool initPcm(std::vector<float> interleaved, int rate, unsigned channels);
    // Main thread, once the audio thread no longer renders.
    void release();

    bool ready() const { return live.load(std::memory_order_acquire); }
    int sampleRate() const { return rate; }
    unsigned channelCount() const { return channels; }
    std::uint64_t lengthFrames() const { return length; }

    // What was handed before a start says nothing of where the music is heard
    // after it: the playhead waits for the next render.
    void start() {
        playing.store(true, std::memory_order_release);
        seeksRequested.fetch_add(1, std::memory_order_release);
    }
    void stop() { playing.store(false, std::memory_order_release); }
    bool isPlaying() const { return playing.load(std::memory_order_acquire); }
    // Seeks by the music's own rate; beyond the end it clamps to the end,
    // which loops to the loop start. t must be finite and not negative. A seek
    // drops the skips asked for before it.
    void seekSeconds(double t);
    void seekFrame(std::uint64_t frame);
    // Moves the music `frames` on from wherever the next render would start,
    // through the loop as it would play; requests add up until carried out.
    void skipFrames(std::uint64_t frames);
    // Where the music goes on when it reaches its end; 0 at first, and 0 for
    // a frame at or past the end.
    void setLoopStartFrame(std::uint64_t frame);
    std::uint64_t loopStartFrame() const { return loopStart.load(std::memory_order_acquire); }
    // The source frame that the next rendered frame starts from, as of the
    // audio thread's last render.
    std::uint64_t cursorFrame() const { return cursor.load(std::memory_order_acquire); }

    // What the device was last handed while playing, and when it is heard:
    // enough for the main thread to tell where the music is between renders.
    struct Playhead {
        std::uint64_t frame = 0;  // source frame of the handed buffer's first frame
        std::uint64_t loops = 0;  // times the output had flowed from the end into the loop start
        std::uint32_t frames = 0; // frames in that buffer
        std::int64_t heardNs = 0; // steady clock when its first frame is heard
        std::int32_t latencyFrames = 0; // the latency it was handed with
        // How much later, in all, the device has gone on than what it was
        // handed before would have ended: silence between buffers (a stall,
        // a queue that ran dry), or a delay that grew.
        std::int64_t gapNs = 0;
    };
    // False until a buffer has been handed since the last seek, skip or start
    // request.
    bool playhead(Playhead& out) const;
    // The clock renders are timed by: the steady clock, or the one a test
    // sets (its device's own timeline). Set it while no device plays.
    static std::int64_t steadyNs();
    using ClockNs = std::int64_t (*)();
    static void useClock(ClockNs clock);

    // Audio thread: `frames` interleaved frames at the output format into out;
    // silence while stopped or before the sound is ready. `latencyFrames`:
    // output frames from now until the first of them is heard, as the
    // platform tells it now.
    void render(float* out, std::size_t frames, int latencyFrames = 0);

  private:
    bool setUp(int sourceRate, unsigned sourceChannels, std::uint64_t frames);
    std::size_t readSource(float* out, std::size_t frames);
    std::size_t readChunk(float* out, std::size_t frames);
    void seekSource(std::uint64_t frame);
    const float* nextFrame(std::uint64_t& frame);
    void prime();

    static constexpr std::uint64_t kNoSeek = ~std::uint64_t{0};

    std::atomic<bool> live{false};
    std::atomic<bool> playing{false};
    std::atomic<std::uint64_t> seekTarget{kNoSeek};
    std::atomic<std::uint64_t> skipRequest{0};
    std::atomic<std::uint64_t> loopStart{0};
    std::atomic<std::uint64_t> cursor{0};
    // Requests that move the music (seeks, skips, starts), made on the main
    // thread; a render that sees this count has carried them out.
    std::atomic<std::uint64_t> seeksRequested{0};

    // The playhead, published under a sequence count: odd while it is written.
    std::atomic<std::uint32_t> headSequence{0};
    std::atomic<std::uint64_t> headFrame{0};
    std::atomic<std::uint64_t> headLoops{0};
    std::atomic<std::uint64_t> headSeeks{0};
    std::atomic<std::uint32_t> headFrames{0};
    std::atomic<std::int64_t> headNs{0};
    std::atomic<std::int32_t> headLatency{0};
    std::atomic<std::int64_t> headGap{0};
    void publishHead(std::uint64_t seeks, std::size_t frames, int latencyFrames);

    // Audio thread only: when the last render's first frame is heard, on a
    // line through the renders, and the output's loops.
    void followLine(std::size_t frames, int latencyFrames);
    std::size_t lastRenderFrames = 0;
    double lineNs = 0.0;
    double gapNs = 0.0;
    int clockSeen = 0;
    std::uint64_t outputLoops = 0;

    Mp3Stream* stream = nullptr;
    std::vector<float> pcm;
    std::uint64_t pcmPosition = 0;
    // The source frame the next read starts from.
    std::uint64_t sourcePosition = 0;
    int rate = 0;
    unsigned channels = 0;
    std::uint64_t length = 0;
    const int outputRate;
    const unsigned outputChannels;

    // Linear interpolation between two source frames; step 1 copies exactly.
    double step = 1.0;
    double fraction = 0.0;
    bool primed = false;
    std::vector<float> chunk;
    std::size_t chunkFrames = 0;
    std::size_t chunkPosition = 0;
    std::uint64_t chunkFirst = 0; // source frame of the chunk's first frame
    std::vector<float> current;
    std::vector<float> next;
    std::uint64_t currentFrame = 0;    // source frame held in `current`
    std::uint64_t nextSourceFrame = 0; // source frame held in `next`
};
