#include "audio/system_sound.h"

#include "audio/sound_output.h"
#include "base/log.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <climits>
#include <vector>

// A playback stream of our own on the PulseAudio server, so that the server,
// which holds what it was given and knows its sink's latency (a Bluetooth
// headset's can be 200 ms), can be asked how long a period takes to be heard.

const char* const kSystemSoundSdlDriver = "pulseaudio";

struct SystemSound {
    SoundOutput* output = nullptr;
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    pa_time_event* deadline = nullptr;
    bool timedOut = false;
    bool playing = false;
    int rate = 0;
    std::size_t periodFrames = 0;
    std::size_t periodBytes = 0;
    std::vector<float> period;
    int latency = 0;
    std::size_t written = 0; // frames
    bool timed = false;      // the server has answered on timing
};

namespace {

// A server that has not answered by then is taken for none: start-up must not
// hang on a wedged one.
constexpr pa_usec_t kAnswerUsec = 2 * PA_USEC_PER_SEC;

SystemSound& self(void* sound) {
    return *static_cast<SystemSound*>(sound);
}

void wake(void* sound) {
    pa_threaded_mainloop_signal(self(sound).loop, 0);
}

void onContextState(pa_context*, void* sound) {
    wake(sound);
}

void onDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* sound) {
    self(sound).timedOut = true;
    wake(sound);
}

void onStreamState(pa_stream* stream, void* sound) {
    SystemSound& s = self(sound);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (s.playing && (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)) {
        s.playing = false;
        logLine(stderr, "[Audio] the sound server ended the stream: %s\n",
                pa_strerror(pa_context_errno(s.context)));
    }
    wake(sound);
}

// Moved to another sink (a headset plugged in): its latency is asked at once,
// not at the next of the library's timing updates.
void onMoved(pa_stream* stream, void*) {
    if (pa_operation* o = pa_stream_update_timing_info(stream, nullptr, nullptr)) {
        pa_operation_unref(o);
    }
}

// Frames from now until a frame written now is heard: what the server holds
// of ours, its sink's own latency and the way to the speakers, interpolated
// between the server's timing updates. Until its first answer, what was
// written so far, none of which it has played.
int latencyNow(SystemSound& s) {
    pa_usec_t usec = 0;
    int negative = 0;
    if (pa_stream_get_latency(s.stream, &usec, &negative) == 0) {
        s.timed = true;
        const pa_usec_t frames = negative != 0 ? 0 : usec * s.rate / PA_USEC_PER_SEC;
        s.latency = static_cast<int>(std::min<pa_usec_t>(frames, INT_MAX));
    } else if (!s.timed) {
        s.latency = static_cast<int>(std::min<std::size_t>(s.written, INT_MAX));
    }
    return s.latency;
}

// Whole periods, as SDL hands them, for as long as the server asks: the
// sound times its renders by them. A request for part of a period gets a
// whole one; the server holds the rest ahead, and the latency shows it.
void onWritable(pa_stream* stream, std::size_t bytes, void* sound) {
    SystemSound& s = self(sound);
    while (bytes > 0) {
        s.output->latencyFrames.store(latencyNow(s), std::memory_order_relaxed);
        s.output->fill(s.output->user, s.period.data(), s.periodFrames);
        const int error =
            pa_stream_write(stream, s.period.data(), s.periodBytes, nullptr, 0, PA_SEEK_RELATIVE);
        if (error != 0) {
            return;
        }
        s.written += s.periodFrames;
        bytes -= std::min(bytes, s.periodBytes);
    }
}

// Waits (the loop locked) until `state` says ready (1) or failed (-1), or the
// deadline passes.
template <typename State> bool waitFor(SystemSound& s, State state) {
    for (;;) {
        const int now = state();
        if (now != 0 || s.timedOut) {
            return now > 0 && !s.timedOut;
        }
        pa_threaded_mainloop_wait(s.loop);
    }
}

// 1 ready, -1 failed, 0 on the way.
int contextReady(pa_context_state_t state) {
    if (state == PA_CONTEXT_READY) {
        return 1;
    }
    return state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED ? -1 : 0;
}

int streamReady(pa_stream_state_t state) {
    if (state == PA_STREAM_READY) {
        return 1;
    }
    return state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED ? -1 : 0;
}

bool connect(SystemSound& s, unsigned channels) {
    s.deadline = pa_context_rttime_new(s.context, pa_rtclock_now() + kAnswerUsec, onDeadline, &s);
    pa_context_set_state_callback(s.context, onContextState, &s);
    // No server started for us: where none runs, SDL plays.
    if (s.deadline == nullptr ||
        pa_context_connect(s.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) != 0 ||
        !waitFor(s, [&s] { return contextReady(pa_context_get_state(s.context)); })) {
        return false;
    }
    pa_sample_spec format{};
    format.format = PA_SAMPLE_FLOAT32NE;
    format.rate = static_cast<std::uint32_t>(s.rate);
    format.channels = static_cast<std::uint8_t>(channels);
    s.stream = pa_stream_new(s.context, "quex_invi", &format, nullptr);
    if (s.stream == nullptr) {
        return false;
    }
    pa_stream_set_state_callback(s.stream, onStreamState, &s);
    pa_stream_set_write_callback(s.stream, onWritable, &s);
    pa_stream_set_moved_callback(s.stream, onMoved, &s);
    // Two periods held by the server, as SDL would ask; PULSE_LATENCY_MSEC
    // and the server have the last word, and the latency shows what they
    // chose.
    pa_buffer_attr attr{};
    attr.maxlength = UINT32_MAX;
    attr.tlength = static_cast<std::uint32_t>(2 * s.periodBytes);
    attr.prebuf = UINT32_MAX;
    attr.minreq = UINT32_MAX;
    attr.fragsize = UINT32_MAX;
    const auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_playback(s.stream, nullptr, &attr, flags, nullptr, nullptr) != 0 ||
        !waitFor(s, [&s] { return streamReady(pa_stream_get_state(s.stream)); })) {
        return false;
    }
    pa_threaded_mainloop_get_api(s.loop)->time_free(s.deadline);
    s.deadline = nullptr;
    s.playing = true;
    return true;
}

} // namespace

SystemSound* openSystemSound(SoundOutput& output, int rate, unsigned channels, int periodFrames) {
    if (rate <= 0 || channels == 0 || channels > PA_CHANNELS_MAX || periodFrames <= 0) {
        return nullptr;
    }
    auto* s = new SystemSound;
    s->output = &output;
    s->rate = rate;
    s->periodFrames = static_cast<std::size_t>(periodFrames);
    s->periodBytes = s->periodFrames * channels * sizeof(float);
    s->period.assign(s->periodFrames * channels, 0.0f);
    s->loop = pa_threaded_mainloop_new();
    if (s->loop == nullptr) {
        delete s;
        return nullptr;
    }
    s->context = pa_context_new(pa_threaded_mainloop_get_api(s->loop), "quex_invi");
    bool ready = false;
    if (s->context != nullptr) {
        pa_threaded_mainloop_lock(s->loop);
        ready = pa_threaded_mainloop_start(s->loop) == 0 && connect(*s, channels);
        pa_threaded_mainloop_unlock(s->loop);
    }
    if (!ready) {
        closeSystemSound(s);
        return nullptr;
    }
    return s;
}

void closeSystemSound(SystemSound* s) {
    if (s == nullptr) {
        return;
    }
    pa_threaded_mainloop_lock(s->loop);
    s->playing = false;
    if (s->stream != nullptr) {
        pa_stream_set_write_callback(s->stream, nullptr, nullptr);
        pa_stream_set_state_callback(s->stream, nullptr, nullptr);
        pa_stream_set_moved_callback(s->stream, nullptr, nullptr);
        pa_stream_disconnect(s->stream);
        pa_stream_unref(s->stream);
    }
    if (s->context != nullptr) {
        if (s->deadline != nullptr) {
            pa_threaded_mainloop_get_api(s->loop)->time_free(s->deadline);
        }
        pa_context_set_state_callback(s->context, nullptr, nullptr);
        pa_context_disconnect(s->context);
        pa_context_unref(s->context);
    }
    pa_threaded_mainloop_unlock(s->loop);
    pa_threaded_mainloop_stop(s->loop);
    pa_threaded_mainloop_free(s->loop);
    delete s;
}
