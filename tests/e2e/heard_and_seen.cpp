// Records what a listener hears from a PulseAudio source (a sink's monitor),
// or each new title of an X window, on the monotonic clock, until SIGINT or
// SIGTERM.
//
//   heard_and_seen heard SOURCE OUT.raw  ->  OUT.raw, 32-bit float stereo at
//     48 kHz, and on stdout "heard FRAME MS": frame FRAME of OUT.raw is
//     heard at MS
//   heard_and_seen seen WINDOW_ID  ->  on stdout "seen MS TITLE": the
//     window took this title at MS
//   MS: milliseconds of the monotonic clock.
//
// A monitor is fed as its sink renders, ahead of what the sink's clock
// plays by the sink's latency; the server reports that as the stream's
// (negative) latency, which is how each frame's moment is known. The X server
// stamps a title's change on the same clock.
#include <pulse/pulseaudio.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <sys/select.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr int kChannels = 2;

std::atomic<bool> stopping{false};
std::mutex printing;

double nowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
}

struct Recording {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    std::FILE* out = nullptr;
    unsigned long long frames = 0;
    std::atomic<bool> failed{false};
};

void onRead(pa_stream* stream, std::size_t, void* self) {
    auto& r = *static_cast<Recording*>(self);
    const void* data = nullptr;
    std::size_t bytes = 0;
    while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &data, &bytes) == 0 &&
           bytes > 0) {
        pa_usec_t usec = 0;
        int negative = 0;
        if (pa_stream_get_latency(stream, &usec, &negative) == 0) {
            const double latency = static_cast<double>(usec) * 1e-3 * (negative != 0 ? -1 : 1);
            std::lock_guard<std::mutex> lock(printing);
            std::printf("heard %llu %.3f\n", r.frames, nowMs() - latency);
        }
        if (data != nullptr) {
            std::fwrite(data, 1, bytes, r.out);
        } else {
            const std::vector<char> hole(bytes, 0);
            std::fwrite(hole.data(), 1, bytes, r.out);
        }
        r.frames += bytes / (sizeof(float) * kChannels);
        pa_stream_drop(stream);
    }
}

void onState(pa_context* context, void* self) {
    auto& r = *static_cast<Recording*>(self);
    const pa_context_state_t s = pa_context_get_state(context);
    if ((s == PA_CONTEXT_FAILED || s == PA_CONTEXT_TERMINATED) && !stopping.load()) {
        r.failed = true;
    }
    pa_threaded_mainloop_signal(r.loop, 0);
}

void onStreamState(pa_stream* stream, void* self) {
    auto& r = *static_cast<Recording*>(self);
    const pa_stream_state_t s = pa_stream_get_state(stream);
    if ((s == PA_STREAM_FAILED || s == PA_STREAM_TERMINATED) && !stopping.load()) {
        r.failed = true;
    }
    pa_threaded_mainloop_signal(r.loop, 0);
}

bool record(Recording& r, const char* source) {
    r.loop = pa_threaded_mainloop_new();
    r.context = pa_context_new(pa_threaded_mainloop_get_api(r.loop), "heard_and_seen");
    pa_context_set_state_callback(r.context, onState, &r);
    pa_threaded_mainloop_lock(r.loop);
    if (pa_context_connect(r.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) != 0 ||
        pa_threaded_mainloop_start(r.loop) != 0) {
        pa_threaded_mainloop_unlock(r.loop);
        return false;
    }
    while (!r.failed && pa_context_get_state(r.context) != PA_CONTEXT_READY) {
        pa_threaded_mainloop_wait(r.loop);
    }
    if (!r.failed) {
        pa_sample_spec format{PA_SAMPLE_FLOAT32LE, kRate, kChannels};
        r.stream = pa_stream_new(r.context, "heard", &format, nullptr);
        pa_stream_set_state_callback(r.stream, onStreamState, &r);
        pa_stream_set_read_callback(r.stream, onRead, &r);
        pa_buffer_attr attr{};
        attr.maxlength = UINT32_MAX;
        attr.fragsize = static_cast<std::uint32_t>(kRate / 100 * kChannels * sizeof(float));
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
        if (pa_stream_connect_record(r.stream, source, &attr, flags) != 0) {
            r.failed = true;
        }
        while (!r.failed && pa_stream_get_state(r.stream) != PA_STREAM_READY) {
            pa_threaded_mainloop_wait(r.loop);
        }
    }
    pa_threaded_mainloop_unlock(r.loop);
    return !r.failed;
}

std::string titleOf(Display* display, Window window, Atom name, Atom utf8) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* value = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, name, 0, 1024, False, utf8, &type, &format, &count,
                           &after, &value) == Success &&
        value != nullptr) {
        title.assign(reinterpret_cast<const char*>(value), count);
    }
    if (value != nullptr) {
        XFree(value);
    }
    return title;
}

// Until asked to stop: every new title, with the moment it was taken.
void watchTitles(Display* display, Window window) {
    const Atom name = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    XSelectInput(display, window, PropertyChangeMask);
    XFlush(display);
    const int fd = ConnectionNumber(display);
    while (!stopping.load()) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == PropertyNotify && event.xproperty.atom == name &&
                event.xproperty.state == PropertyNewValue) {
                // The server's time of the change, in whole milliseconds of
                // the same monotonic clock (wrapping at 32 bits): not the
                // moment a busy machine let us read it.
                const double now = nowMs();
                const auto since = static_cast<std::int32_t>(
                    static_cast<std::uint32_t>(static_cast<std::uint64_t>(now)) -
                    static_cast<std::uint32_t>(event.xproperty.time));
                const double at = std::floor(now) - since + 0.5;
                const std::string title = titleOf(display, window, name, utf8);
                std::lock_guard<std::mutex> lock(printing);
                std::printf("seen %.3f %s\n", at, title.c_str());
            }
        }
        fd_set wait;
        FD_ZERO(&wait);
        FD_SET(fd, &wait);
        timeval tick{0, 50000};
        select(fd + 1, &wait, nullptr, nullptr, &tick);
    }
}

void onSignal(int) {
    stopping.store(true);
}

} // namespace

int main(int argc, char** argv) {
    const bool heard = argc == 4 && std::strcmp(argv[1], "heard") == 0;
    const bool seen = argc == 3 && std::strcmp(argv[1], "seen") == 0;
    if (!heard && !seen) {
        std::fprintf(stderr, "usage: heard_and_seen heard SOURCE OUT.raw | seen WINDOW_ID\n");
        return 2;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    if (seen) {
        Display* display = XOpenDisplay(nullptr);
        if (display == nullptr) {
            std::fprintf(stderr, "heard_and_seen: no X display\n");
            return 1;
        }
        watchTitles(display, static_cast<Window>(std::strtoul(argv[2], nullptr, 0)));
        XCloseDisplay(display);
        return 0;
    }
    Recording r;
    r.out = std::fopen(argv[3], "wb");
    if (r.out == nullptr) {
        std::fprintf(stderr, "heard_and_seen: cannot write %s\n", argv[3]);
        return 1;
    }
    if (!record(r, argv[2])) {
        std::fprintf(stderr, "heard_and_seen: cannot record %s\n", argv[2]);
        return 1;
    }
    while (!stopping.load() && !r.failed) {
        timespec tick{0, 50000000};
        nanosleep(&tick, nullptr);
    }
    pa_threaded_mainloop_lock(r.loop);
    pa_stream_disconnect(r.stream);
    pa_threaded_mainloop_unlock(r.loop);
    pa_threaded_mainloop_stop(r.loop);
    std::fclose(r.out);
    return r.failed ? 1 : 0;
}
