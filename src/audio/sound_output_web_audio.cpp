#include "audio/sound_output.h"

#include <emscripten.h>

// The browser's sound device: a Web Audio context whose script processor asks
// for one period at a time on the page's main thread, which is also where the
// frames are drawn, so nothing here runs concurrently with the demo. A
// context made outside a click may start suspended; it is resumed at once and
// plays as soon as the browser allows.

extern "C" EMSCRIPTEN_KEEPALIVE void quex_sound_fill(SoundOutput* output, float* out, int frames) {
    output->fill(output->user, out, static_cast<std::size_t>(frames));
}

// clang-format off
EM_JS(int, webAudioOpen, (int rate, int channels, int periodFrames, void* output), {
    const Context = globalThis.AudioContext || globalThis.webkitAudioContext;
    if (!Context) {
        return 0;
    }
    let context;
    try {
        context = new Context({sampleRate: rate, latencyHint: "interactive"});
    } catch (error) {
        return 0;
    }
    // A power of two, as the processor requires, of at least a period.
    let size = 256;
    while (size < periodFrames && size < 16384) {
        size *= 2;
    }
    const buffer = _malloc(size * channels * 4);
    const node = context.createScriptProcessor(size, 0, channels);
    node.onaudioprocess = (event) => {
        const target = event.outputBuffer;
        const frames = target.length;
        _quex_sound_fill(output, buffer, frames);
        const samples = HEAPF32.subarray(buffer >> 2, (buffer >> 2) + frames * channels);
        for (let c = 0; c < channels; ++c) {
            const plane = target.getChannelData(c);
            for (let f = 0; f < frames; ++f) {
                plane[f] = samples[f * channels + c];
            }
        }
    };
    node.connect(context.destination);
    context.resume();
    Module.quexSound = {context: context, node: node, buffer: buffer, frames: size};
    return 1;
});

EM_JS(void, webAudioClose, (), {
    const sound = Module.quexSound;
    if (!sound) {
        return;
    }
    sound.node.onaudioprocess = null;
    sound.node.disconnect();
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
    device = static_cast<std::uint32_t>(
        webAudioOpen(rate, static_cast<int>(channelCount), periodFrames, this));
    return device != 0;
}

void SoundOutput::close() {
    if (device != 0) {
        webAudioClose();
        device = 0;
    }
}
