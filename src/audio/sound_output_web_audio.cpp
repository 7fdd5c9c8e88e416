#include "audio/sound_output.h"

#include <emscripten.h>

// The browser's sound device: a Web Audio context. The music is made on the
// page's main thread, where the frames are drawn, so nothing here runs
// concurrently with the demo. An audio worklet plays it and asks the main
// thread for more whenever it holds less than kQueuedFrames. Each fill tells
// the latency: what the worklet still holds, less what it played since it
// asked, plus the context's own: from its current time to what its output
// timestamp says is heard now, read again at every fill so that a headset
// plugged in is followed (baseLatency and outputLatency where it gives no
// timestamp). Frames it had to play as silence because the main thread was
// busy are counted (`missedFrames`); what follows from them is the demo
// clock's to decide, as on the desktop. The worklet's code is a file beside
// the page; where there is no worklet (pages not served from a secure
// origin), or its file does not load, a script processor pulls the music on
// the main thread instead. A context the browser suspends is resumed, and
// sound that cannot be had is said by the page (Module.onSoundLost).

namespace {

// About 85 ms at 48 kHz: two of the desktop's periods.
constexpr int kQueuedFrames = 4096;

} // namespace

extern "C" EMSCRIPTEN_KEEPALIVE void quex_sound_fill(SoundOutput* output, float* out, int frames,
                                                     int latencyFrames) {
    output->latencyFrames.store(latencyFrames, std::memory_order_relaxed);
    output->fill(output->user, out, static_cast<std::size_t>(frames));
}

// clang-format off
EM_JS(int, webAudioOpen, (int rate, int channels, int queuedFrames, void* output), {
    // Sound that will not be heard, said by the page.
    const lost = (text, detail) => {
        if (Module.onSoundLost) {
            Module.onSoundLost(text, detail);
        }
    };
    const Context = globalThis.AudioContext || globalThis.webkitAudioContext;
    let context;
    try {
        context = new Context({sampleRate: rate, latencyHint: "interactive"});
    } catch (error) {
        lost("This browser gives the demo no sound (no Web Audio).", String(error));
        return 0;
    }
    // `held`: the frames queued ahead of the output at the last fill, and the
    // context's time then; `heldSeconds()` is what is still queued now.
    const sound = {context: context, node: null, buffer: 0, bufferFrames: 0, closed: false,
                   missedFrames: 0, held: {frames: 0, at: 0},
                   heldSeconds: () => Math.max(0, sound.held.frames / rate -
                                                  (context.currentTime - sound.held.at)),
                   outputSeconds: () => {
                       const stamp = context.getOutputTimestamp ? context.getOutputTimestamp() : {};
                       if (stamp.contextTime > 0 && stamp.performanceTime > 0) {
                           const heard = stamp.contextTime +
                                         (performance.now() - stamp.performanceTime) / 1000;
                           return Math.max(0, context.currentTime - heard);
                       }
                       return (context.baseLatency || 0) + (context.outputLatency || 0);
                   }};
    // `ahead`: frames the device plays before the first of these.
    const pull = (frames, ahead) => {
        if (frames > sound.bufferFrames) {
            _free(sound.buffer);
            sound.buffer = _malloc(frames * channels * 4);
            sound.bufferFrames = frames;
        }
        sound.held = {frames: ahead + frames, at: context.currentTime};
        const latency = Math.round(ahead + sound.outputSeconds() * rate);
        _quex_sound_fill(output, sound.buffer, frames, latency);
        return HEAPF32.slice(sound.buffer >> 2, (sound.buffer >> 2) + frames * channels);
    };
    const play = (node) => {
        node.connect(context.destination);
        sound.node = node;
    };
    Module.quexSound = sound;
    // Where there is no worklet (pages not served from a secure origin), or
    // its file does not load, a script processor pulls on the main thread.
    const scriptProcessor = () => {
        if (!context.createScriptProcessor) {
            return false;
        }
        let size = 256;
        while (size < queuedFrames / 2) {
            size *= 2;
        }
        const node = context.createScriptProcessor(size, 0, channels);
        node.onaudioprocess = (event) => {
            // An event queued as the run ended must not touch the freed buffer.
            if (sound.closed) {
                return;
            }
            const target = event.outputBuffer;
            // This block plays once the one before it has: a block after the
            // event was sent, as its playbackTime says (Chromium's counts the
            // block from now, a few milliseconds late).
            const ahead = Math.round((event.playbackTime - context.currentTime) * rate);
            const samples = pull(target.length, Number.isFinite(ahead) ? Math.max(0, ahead) : size);
            for (let c = 0; c < channels; ++c) {
                const plane = target.getChannelData(c);
                for (let f = 0; f < target.length; ++f) {
                    plane[f] = samples[f * channels + c];
                }
            }
        };
        play(node);
        return true;
    };
    const worklet = () => {
        const node = new AudioWorkletNode(context, "quex-output", {
            numberOfInputs: 0, outputChannelCount: [channels],
            processorOptions: {channels: channels, queued: queuedFrames}});
        node.port.onmessage = (event) => {
            if (sound.closed) {
                return;
            }
            sound.missedFrames += event.data.missed;
            const played = Math.max(0, Math.round(context.currentTime * rate) - event.data.at);
            const samples = pull(event.data.frames, Math.max(0, event.data.queued - played));
            node.port.postMessage(samples, [samples.buffer]);
        };
        play(node);
    };
    if (context.audioWorklet && globalThis.AudioWorkletNode) {
        // The worklet is a file beside the page (worklet.js), so that a
        // Content-Security-Policy need allow no more than the site's own
        // scripts. A load can be aborted, by a context closed under it or by
        // the browser itself: the first is no fault, the second is tried again.
        const url = Module.quexWorklet || "worklet.js";
        const load = (tries) => context.audioWorklet.addModule(url).catch((error) => {
            if (sound.closed || tries <= 1) {
                return Promise.reject(error);
            }
            return load(tries - 1);
        });
        load(3).then(() => {
            if (!sound.closed) {
                worklet();
            }
        }, (error) => {
            if (sound.closed) {
                return;
            }
            console.error("[Audio] sound worklet failed: " + error.message);
            if (!scriptProcessor()) {
                lost("The demo's sound could not start (its worklet, " + url + ", did not load).",
                     error.message);
            }
        });
    } else if (!scriptProcessor()) {
        lost("This browser gives the demo no sound (no audio worklet or script processor).");
        Module.quexSound = null;
        context.close();
        return 0;
    }
    // A context the browser suspends (one made outside a gesture, a phone's
    // audio focus, a browser saving power) is resumed at once; where the
    // browser wants a gesture for it, at the viewer's next one. Still silent
    // after a while, the page says so.
    const gestures = ["pointerdown", "keydown", "touchend"];
    const resume = () => {
        if (!sound.closed && context.state !== "running") {
            context.resume().catch(() => {});
        }
    };
    const watch = () => {
        clearTimeout(sound.watchTimer);
        if (sound.closed || context.state === "running") {
            return;
        }
        resume();
        sound.watchTimer = setTimeout(() => {
            if (!sound.closed && context.state !== "running") {
                lost("The browser stopped the demo's sound (its audio is " + context.state +
                     "); a click or a key may bring it back.", "audio context " + context.state);
            }
        }, 2000);
    };
    context.onstatechange = watch;
    sound.unwatch = () => {
        clearTimeout(sound.watchTimer);
        context.onstatechange = null;
        gestures.forEach((name) => window.removeEventListener(name, resume, true));
    };
    gestures.forEach((name) => window.addEventListener(name, resume, true));
    watch();
    return 1;
});

EM_JS(void, webAudioClose, (), {
    const sound = Module.quexSound;
    if (!sound) {
        return;
    }
    sound.closed = true;
    sound.unwatch();
    if (sound.node) {
        sound.node.disconnect();
    }
    sound.context.close();
    _free(sound.buffer);
    Module.quexSound = null;
});
// clang-format on

bool SoundOutput::open(int rate, unsigned channelCount, int periodFrames, Fill callback,
                       void* context) {
    close();
    fill = callback;
    user = context;
    channels = channelCount;
    // The worklet asks for what it lacks, not for periods.
    (void)periodFrames;
    device = static_cast<std::uint32_t>(
        webAudioOpen(rate, static_cast<int>(channelCount), kQueuedFrames, this));
    return device != 0;
}

void SoundOutput::close() {
    if (device != 0) {
        webAudioClose();
        device = 0;
    }
}
