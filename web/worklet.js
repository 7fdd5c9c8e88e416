"use strict";
// The demo's sound output, an audio worklet: it plays the frames the page's
// program sends it and asks for more whenever it holds less than its target
// (what it lacks, what it still holds and when it asked, for the latency).
// Blocks it had to play as silence, once it had started, are counted as
// missed: the demo's clock decides what follows from them.
class QuexOutput extends AudioWorkletProcessor {
  constructor(options) {
    super();
    this.channels = options.processorOptions.channels;
    this.target = options.processorOptions.queued;
    this.chunks = [];
    this.offset = 0;
    this.queued = 0;
    this.asked = false;
    this.started = false;
    this.missed = 0;
    this.port.onmessage = (event) => {
      this.chunks.push(event.data);
      this.queued += event.data.length / this.channels;
      this.asked = false;
    };
    this.ask();
  }

  ask() {
    if (!this.asked && this.queued < this.target) {
      this.asked = true;
      this.port.postMessage({frames: this.target - this.queued, missed: this.missed,
                             queued: this.queued, at: currentFrame});
      this.missed = 0;
    }
  }

  process(inputs, outputs) {
    const out = outputs[0];
    const frames = out[0].length;
    let done = 0;
    while (done < frames && this.chunks.length > 0) {
      const chunk = this.chunks[0];
      const n = Math.min(frames - done, chunk.length / this.channels - this.offset);
      for (let c = 0; c < out.length; ++c) {
        const from = Math.min(c, this.channels - 1);
        for (let i = 0; i < n; ++i) {
          out[c][done + i] = chunk[(this.offset + i) * this.channels + from];
        }
      }
      done += n;
      this.offset += n;
      this.queued -= n;
      if (this.offset * this.channels >= chunk.length) {
        this.chunks.shift();
        this.offset = 0;
      }
    }
    if (done > 0) {
      this.started = true;
    }
    if (this.started) {
      // A block that ran dry half-way misses the rest.
      this.missed += frames - done;
    }
    this.ask();
    return true;
  }
}

registerProcessor("quex-output", QuexOutput);
