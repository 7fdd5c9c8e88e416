#pragma once

class SoundOutput;
struct SystemSound;

// The platform's own sound system, spoken to directly because it knows what
// SDL cannot tell: the whole output latency, the server's or the device's
// included, as it changes. Linux: a PulseAudio server (PipeWire desktops
// serve the same protocol); Windows: WASAPI's shared audio client.
//
// The stream pulls `output.fill` in periods of `periodFrames` from its own
// thread and, before each period, stores in `output.latencyFrames` how long
// that period's first frame takes to be heard. Null where no such system
// answers: the caller falls back to SDL.
SystemSound* openSystemSound(SoundOutput& output, int rate, unsigned channels, int periodFrames);
// Once it returns, `fill` is no longer called.
void closeSystemSound(SystemSound* sound);

// SDL's name for the driver that reaches the same system: an SDL_AUDIODRIVER
// naming another one is a choice for SDL, and is kept.
extern const char* const kSystemSoundSdlDriver;
