// Renders the demo's music: an original track in A minor at 960/7 BPM
// (one beat = 21000 samples at 48 kHz), arranged against the shipped script.
// Writes a 16-bit stereo WAV; tools/pipeline/make_music.sh encodes it to MP3.
//
// The beat grid starts at 0.0625 s so that beat 121 lands on 53.0 s (the loop
// point) and beat 441 on 193.0 s (the end): the last 80 bars flow straight
// back into the loop point at the same tempo, key and groove.

#include "base/log.h"
#include "music_dsp.h"

#include <cstdio>
#include <cstring>
#include <string>

using namespace music;

namespace {

constexpr long kBeat = 21000;
constexpr long kStep = kBeat / 4;
constexpr long kGridStart = 3000;
constexpr long kTotalBeats = 441;
constexpr long kLength = kGridStart + kTotalBeats * kBeat; // 9264000 = 193.0 s

long beatSample(double beat) {
    return kGridStart + static_cast<long>(beat * kBeat);
}
double seconds(long samples) {
    return static_cast<double>(samples) / kRate;
}

struct Chord {
    int bass;
    int pad[4];
};
constexpr Chord kAm{33, {57, 60, 64, 69}};
constexpr Chord kF{29, {57, 60, 65, 69}};
constexpr Chord kC{36, {55, 60, 64, 67}};
constexpr Chord kG{31, {55, 59, 62, 67}};
constexpr Chord kEm{28, {55, 59, 64, 67}};
constexpr Chord kDm{38, {57, 62, 65, 69}};
constexpr Chord kE{28, {56, 59, 64, 68}};

const Chord kProgs[4][4] = {
    {kAm, kF, kC, kG},   // main theme
    {kF, kG, kAm, kEm},  // the drop
    {kDm, kAm, kE, kAm}, // darker middle
    {kF, kC, kDm, kE},   // breakdown, pulling back to A minor
};

struct Note {
    int step; // sixteenth within a four-bar phrase
    int len;  // sixteenths
    int pitch;
};
// One melody per progression, four bars each; {-1} ends a list.
const Note kMelodies[4][24] = {
    {{0, 3, 76},  {3, 3, 81},  {6, 2, 84},  {8, 2, 83},  {10, 2, 81}, {12, 4, 76},
     {16, 3, 77}, {19, 3, 81}, {22, 2, 84}, {24, 4, 86}, {28, 4, 84}, {32, 3, 79},
     {35, 3, 84}, {38, 2, 88}, {40, 2, 86}, {42, 2, 84}, {44, 4, 79}, {48, 3, 79},
     {51, 3, 83}, {54, 2, 86}, {56, 4, 88}, {60, 4, 86}, {-1, 0, 0}},
    {{0, 2, 72},  {2, 2, 77},  {4, 2, 81},  {6, 4, 84},  {10, 2, 81}, {12, 4, 79},
     {16, 2, 74}, {18, 2, 79}, {20, 2, 83}, {22, 4, 86}, {26, 2, 83}, {28, 4, 84},
     {32, 4, 88}, {36, 2, 86}, {38, 2, 84}, {40, 4, 83}, {44, 4, 81}, {48, 4, 79},
     {52, 2, 83}, {54, 2, 79}, {56, 8, 76}, {-1, 0, 0}},
    {{0, 6, 77},
     {6, 2, 76},
     {8, 4, 74},
     {12, 4, 69},
     {16, 6, 72},
     {22, 2, 71},
     {24, 8, 69},
     {32, 6, 68},
     {38, 2, 71},
     {40, 4, 76},
     {44, 4, 80},
     {48, 12, 81},
     {60, 4, 76},
     {-1, 0, 0}},
    {{0, 12, 72},
     {12, 4, 69},
     {16, 12, 72},
     {28, 4, 76},
     {32, 12, 77},
     {44, 4, 74},
     {48, 16, 71},
     {-1, 0, 0}},
};

enum Bass { kNoBass, kOffbeat, kRolling, kAcid, kLong };

struct Section {
    const char* name;
    int beat0;
    int beats;
    int prog;
    bool kick;
    Bass bass;
    int hats; // 0 none, 1 offbeat eighths, 2 sixteenths
    bool clap;
    bool openHat;
    float pad; // level
    int arp;   // 0 none, 1 mid, 2 an octave up
    int lead;  // melody index, -1 none
    int build; // beats of snare-roll build at the end (otherwise a fill in the odd beats)
};

// Section changes sit on the beat nearest each scene boundary of the script.
const Section kSections[] = {
    {"intro (smoke)", 0, 19, 0, false, kLong, 0, false, false, 0.9f, 1, -1, 3},
    {"road", 19, 32, 0, true, kOffbeat, 1, true, false, 0.55f, 1, -1, 0},
    {"fluid", 51, 36, 0, true, kRolling, 2, true, true, 0.6f, 1, 0, 4},
    {"dblobs", 87, 34, 1, true, kOffbeat, 2, true, false, 0.6f, 2, 1, 6},
    {"blittertornado", 121, 37, 1, true, kRolling, 2, true, true, 0.7f, 1, 1, 0},
    {"rd2", 158, 37, 2, true, kAcid, 2, true, true, 0.55f, 0, 2, 0},
    {"logos", 195, 36, 3, false, kLong, 0, false, false, 1.0f, 1, 3, 8},
    {"fluid 2", 231, 70, 0, true, kRolling, 2, true, true, 0.65f, 1, 0, 0},
    {"road 2", 301, 70, 2, true, kAcid, 2, true, true, 0.6f, 2, 2, 0},
    {"rd2 + bloodcells", 371, 38, 1, true, kRolling, 2, true, true, 0.7f, 2, 1, 0},
    {"credits", 409, 32, 1, true, kRolling, 2, true, true, 0.7f, 1, -1, 6},
};

std::uint32_t seedFor(int instrument, long at) {
    return static_cast<std::uint32_t>(at) * 2654435761u +
           static_cast<std::uint32_t>(instrument) * 97u + 1u;
}

// ---- Instruments: each adds one hit or note into a bus ----

void kick(Stereo& bus, long at, double gain) {
    Osc o;
    Rng rng(seedFor(1, at));
    const long len = static_cast<long>(0.36 * kRate);
    Svf click;
    for (long i = 0; i < len; ++i) {
        const double t = seconds(i);
        const double hz = 46.0 + 120.0 * std::exp(-t / 0.03) + 30.0 * std::exp(-t / 0.12);
        const double env =
            std::min(1.0, t / 0.001) * std::exp(-t / 0.17) * (t > 0.3 ? (0.36 - t) / 0.06 : 1.0);
        double v = std::tanh(1.5 * o.sine(hz) * env) / std::tanh(1.5);
        click.run(rng.uni(), 3000.0, 0.7);
        v += click.band * 0.5 * std::exp(-t / 0.004);
        bus.add(at + i, v * gain, v * gain);
    }
}

void snare(Stereo& bus, long at, double gain, double decay) {
    Osc o;
    Rng rng(seedFor(2, at));
    Svf fl, fr;
    const long len = static_cast<long>((decay * 5.0 + 0.05) * kRate);
    for (long i = 0; i < len; ++i) {
        const double t = seconds(i);
        const double tone = o.sine(180.0 + 60.0 * std::exp(-t / 0.02)) * std::exp(-t / 0.05);
        fl.run(rng.uni(), 4200.0, 0.6);
        fr.run(rng.uni(), 4200.0, 0.6);
        const double env = std::exp(-t / decay);
        bus.add(at + i, (tone * 0.5 + (fl.band + fl.high * 0.4) * env) * gain,
                (tone * 0.5 + (fr.band + fr.high * 0.4) * env) * gain);
    }
}

void clap(Stereo& bus, long at, double gain) {
    Rng rng(seedFor(3, at));
    Svf fl, fr;
    const long len = static_cast<long>(0.5 * kRate);
    for (long i = 0; i < len; ++i) {
        const double t = seconds(i);
        double env = std::exp(-t / 0.12);
        for (int b = 0; b < 3; ++b) {
            const double tb = t - b * 0.011;
            if (tb >= 0.0 && tb < 0.011) {
                env = std::max(env, std::exp(-tb / 0.004) * 1.3);
            }
        }
        fl.run(rng.uni(), 1300.0, 1.2);
        fr.run(rng.uni(), 1500.0, 1.2);
        bus.add(at + i, fl.band * env * gain, fr.band * env * gain);
    }
}

// Six detuned square partials, high-passed: a metallic cymbal body.
void cymbal(Stereo& bus, long at, double gain, double decay, double pan, int kind) {
    static const double ratios[6] = {2.0, 3.0, 4.16, 5.43, 6.79, 8.21};
    Osc o[6];
    Rng rng(seedFor(4 + kind, at));
    Svf hl, hr;
    const long len = static_cast<long>(std::min(decay * 5.0, 3.0) * kRate);
    const double cut = kind == 2 ? 5000.0 : 7500.0;
    for (long i = 0; i < len; ++i) {
        const double t = seconds(i);
        double metal = 0.0;
        for (int k = 0; k < 6; ++k) {
            metal += o[k].pulse(310.0 * ratios[k], 0.5);
        }
        // Fade the last fifth so a long crash does not stop on a step.
        const double tail = std::min(1.0, 5.0 * static_cast<double>(len - i) / len);
        const double env = std::min(1.0, t / 0.0015) * std::exp(-t / decay) * tail;
        const double n1 = rng.uni(), n2 = rng.uni();
        hl.run(metal * 0.12 + n1, cut, 0.9);
        hr.run(metal * 0.12 + n2, cut, 0.9);
        bus.add(at + i, hl.high * env * gain * (1.0 - pan), hr.high * env * gain * (1.0 + pan));
    }
}

void bassNote(Stereo& bus, long at, long gate, int pitch, Bass style, double gain, double accent) {
    Osc saw, sub;
    Svf f;
    const double hz = midiHz(pitch);
    const double release = 0.04;
    const long len = gate + static_cast<long>(release * kRate);
    const double g = seconds(gate);
    for (long i = 0; i < len; ++i) {
        const double t = seconds(i);
        double v;
        if (style == kLong) {
            const double env = adsr(t, g, 0.3, 1.0, 0.8, 0.6);
            f.run(saw.saw(hz), 380.0, 0.7);
            v = (f.low * 0.6 + sub.sine(hz) * 0.6) * env;
        } else if (style == kAcid) {
            const double env = adsr(t, g, 0.002, 0.2, 0.6, release);
            const double cut = 250.0 + (900.0 + 2600.0 * accent) * std::exp(-t / 0.09);
            f.run(saw.pulse(hz, 0.5) * 0.6, cut, 4.5);
            v = (std::tanh(f.low * 1.8) * 0.6 + sub.sine(hz) * 0.35) * env;
        } else {
            const double env = adsr(t, g, 0.002, 0.12, 0.7, release);
            const double cut = 300.0 + 1400.0 * accent * std::exp(-t / 0.07);
            f.run(saw.saw(hz), cut, 1.1);
            v = (f.low * 0.75 + sub.sine(hz) * 0.4) * env;
        }
        bus.add(at + i, v * gain, v * gain);
    }
}

// Five detuned saws per side per note: a wide pad.
void padChord(Stereo& bus, long at, long gate, const Chord& c, double gain, double cutoff) {
    static const double detune[5] = {-0.11, -0.05, 0.0, 0.06, 0.12};
    const double g = seconds(gate);
    const long len = gate + static_cast<long>(0.8 * kRate);
    for (int n = 0; n < 4; ++n) {
        Osc ol[5], orr[5];
        for (int k = 0; k < 5; ++k) {
            ol[k].phase = (k * 0.37 + n * 0.13) - std::floor(k * 0.37 + n * 0.13);
            orr[k].phase = (k * 0.61 + n * 0.29) - std::floor(k * 0.61 + n * 0.29);
        }
        Svf fl, fr;
        for (long i = 0; i < len; ++i) {
            const double t = seconds(i);
            double l = 0.0, r = 0.0;
            for (int k = 0; k < 5; ++k) {
                l += ol[k].saw(midiHz(c.pad[n] + detune[k]));
                r += orr[k].saw(midiHz(c.pad[n] - detune[k]));
            }
            const double env = adsr(t, g, 0.25, 1.2, 0.75, 0.7);
            fl.run(l, cutoff, 0.8);
            fr.run(r, cutoff, 0.8);
            bus.add(at + i, fl.low * env * gain * 0.06, fr.low * env * gain * 0.06);
        }
    }
}

void pluck(Stereo& bus, long at, int pitch, double gain, double pan, double cutoff) {
    Osc a, b;
    Svf f;
    const double hz = midiHz(pitch);
    const long len = static_cast<long>(0.22 * kRate);
    for (long i = 0; i < len; ++i) {
        const double t = seconds(i);
        const double env = std::exp(-t / 0.07) * std::min(1.0, t / 0.001) * (1.0 - t / 0.22);
        f.run(a.pulse(hz, 0.3) + 0.5 * b.saw(hz * 1.004),
              cutoff * (0.4 + 1.6 * std::exp(-t / 0.05)), 1.4);
        const double v = f.low * env * gain;
        bus.add(at + i, v * (1.0 - pan), v * (1.0 + pan));
    }
}

void leadNote(Stereo& bus, long at, long gate, int pitch, double gain) {
    Osc a, b, c;
    Svf f;
    const double g = seconds(gate);
    const long len = gate + static_cast<long>(0.2 * kRate);
    for (long i = 0; i < len; ++i) {
        const double t = seconds(i);
        const double vib =
            t > 0.18 ? 0.12 * std::sin(2.0 * kPi * 5.5 * t) * std::min(1.0, (t - 0.18) / 0.2) : 0.0;
        const double h = midiHz(pitch + vib);
        const double raw = a.saw(h * 1.0046) + b.saw(h / 1.0046) + 0.5 * c.pulse(h * 0.5, 0.5);
        f.run(raw, 1800.0 + 4200.0 * std::exp(-t / 0.25), 0.9);
        const double env = adsr(t, g, 0.006, 0.35, 0.7, 0.2);
        const double v = f.low * env * gain * 0.22;
        bus.add(at + i, v, v);
    }
}

// A short bright chord for the text stabs.
void stabChord(Stereo& bus, long at, const Chord& c, double gain) {
    const long len = static_cast<long>(0.5 * kRate);
    for (int n = 0; n < 4; ++n) {
        Osc a, b;
        Svf f;
        const double hz = midiHz(c.pad[n] + 12);
        for (long i = 0; i < len; ++i) {
            const double t = seconds(i);
            const double env = std::min(1.0, t / 0.002) * std::exp(-t / 0.12) * (1.0 - t / 0.5);
            f.run(a.saw(hz * 1.003) + b.saw(hz / 1.003), 1200.0 + 5000.0 * std::exp(-t / 0.06),
                  1.0);
            const double v = f.low * env * gain * 0.12;
            bus.add(at + i, v * (n % 2 ? 0.7 : 1.0), v * (n % 2 ? 1.0 : 0.7));
        }
    }
}

void riser(Stereo& bus, long at, long len, double gain) {
    Rng rng(seedFor(9, at));
    Svf fl, fr;
    for (long i = 0; i < len; ++i) {
        const double x = static_cast<double>(i) / len;
        const double hz = 300.0 * std::pow(30.0, x);
        fl.run(rng.uni(), hz, 2.0);
        fr.run(rng.uni(), hz * 1.05, 2.0);
        const double env = x * x * gain;
        bus.add(at + i, fl.band * env, fr.band * env);
    }
}

// ---- Arrangement ----

struct Buses {
    Stereo drums{kLength}, music{kLength}, reverbSend{kLength}, delaySend{kLength};
    std::vector<float> duck = std::vector<float>(kLength, 1.0f);
};

void duckAt(Buses& b, long at) {
    const long len = static_cast<long>(0.3 * kRate);
    for (long i = 0; i < len && at + i < kLength; ++i) {
        const double d = 1.0 - 0.55 * std::exp(-seconds(i) / 0.09);
        b.duck[at + i] = std::min(b.duck[at + i], static_cast<float>(d));
    }
}

// One bar of a section: its chord, where it starts and how much of the intro
// ramp and of the second-half colour change applies to it.
struct Bar {
    const Chord& ch;
    int index;
    int beat0;
    int beats;
    long start;
    double introRamp;
    int arpOctave;
    int leadShift;
};

// One sixteenth inside a bar, with the section's build and fill state there.
struct Step {
    int beat;
    int q;
    int step;
    long at;
    bool onBeat;
    bool lastBeat;
    bool inBuild;
    bool inFill;
    int sectionBeat;
};

bool isIntro(const Section& s) {
    return s.beat0 == 0;
}

int fullBars(const Section& s) {
    return s.beats / 4;
}

int tailBeats(const Section& s) {
    return s.beats % 4;
}

// Crash on the downbeat (not in the quiet intro or the breakdown) and the riser
// under a closing build.
void sectionOpening(Buses& b, const Section& s) {
    if (s.kick) {
        cymbal(b.drums, beatSample(s.beat0), 1.5, 0.9, 0.0, 2);
        cymbal(b.reverbSend, beatSample(s.beat0), 0.25, 0.9, 0.0, 2);
    }
    if (s.build > 0) {
        const long at = beatSample(s.beat0 + s.beats - s.build);
        riser(b.music, at, s.build * kBeat, 0.55);
        riser(b.reverbSend, at, s.build * kBeat, 0.3);
    }
}

Bar barOf(const Section& s, int bar) {
    const int beat0 = s.beat0 + bar * 4;
    const double introRamp = isIntro(s) ? std::min(1.0, (bar + 1) / 4.0) : 1.0;
    // Long sections change colour halfway: the lead drops an octave, the arpeggio moves.
    const bool secondHalf = fullBars(s) >= 16 && bar >= 8;
    return {kProgs[s.prog][bar % 4],
            bar,
            beat0,
            bar < fullBars(s) ? 4 : tailBeats(s),
            beatSample(beat0),
            introRamp,
            secondHalf ? 3 - s.arp : s.arp,
            secondHalf ? -12 : 0};
}

Step stepOf(const Section& s, const Bar& bar, int beat, int q) {
    const int sectionBeat = bar.index * 4 + beat;
    return {beat,
            q,
            beat * 4 + q,
            beatSample(bar.beat0 + beat + q * 0.25),
            q == 0,
            sectionBeat == s.beats - 1,
            s.build > 0 && sectionBeat >= s.beats - s.build,
            s.build == 0 && bar.index == fullBars(s) && tailBeats(s) > 0,
            sectionBeat};
}

// Pads: one chord per bar.
void padBar(Buses& b, const Section& s, const Bar& bar) {
    if (s.pad > 0.0f) {
        const double cut = isIntro(s) ? 350.0 + 2200.0 * bar.introRamp * bar.introRamp : 2600.0;
        padChord(b.music, bar.start, bar.beats * kBeat, bar.ch, s.pad, cut);
        padChord(b.reverbSend, bar.start, bar.beats * kBeat, bar.ch, s.pad * 0.5, cut);
    }
}

void drumStep(Buses& b, const Section& s, const Bar& bar, const Step& p) {
    const int q = p.q;
    const long at = p.at;
    // Kick: four on the floor; it drops out on the last beat of a build.
    if (s.kick && p.onBeat && !(p.inBuild && p.lastBeat)) {
        kick(b.drums, at, 1.3);
        duckAt(b, at);
    }
    // Clap on two and four.
    // A short snare pickup closes every eight-bar phrase.
    if (s.kick && bar.index % 8 == 7 && p.beat == 3 && q > 0 && !p.inBuild && !p.inFill) {
        snare(b.drums, at, 0.2 + 0.1 * q, 0.08);
        snare(b.reverbSend, at, 0.15, 0.08);
    }
    if (s.clap && p.onBeat && (p.beat == 1 || p.beat == 3) && !p.inBuild && !p.inFill) {
        clap(b.drums, at, 0.9);
        clap(b.reverbSend, at, 0.5);
    }
    // Snare rolls: eighths, then sixteenths in the last two beats, growing.
    if (p.inBuild || p.inFill) {
        const int fromEnd = s.beats - p.sectionBeat;
        const bool sixteenths = fromEnd <= 2 || p.inFill;
        if (sixteenths || q % 2 == 0) {
            const double span = p.inBuild ? s.build : tailBeats(s);
            const double pos = (p.sectionBeat - (s.beats - span) + q * 0.25) / span;
            snare(b.drums, at, 0.25 + 0.45 * pos, 0.09);
            snare(b.reverbSend, at, 0.2 + 0.2 * pos, 0.09);
        }
    }
    // Hats.
    if (s.hats == 1 && q == 2) {
        cymbal(b.drums, at, 0.32, 0.045, -0.3, 0);
    }
    if (s.hats == 2) {
        const double acc = q == 2 ? 0.5 : (q == 0 ? 0.22 : 0.3);
        cymbal(b.drums, at, acc, 0.035, q % 2 ? 0.35 : -0.35, 0);
    }
    if (s.openHat && q == 2 && !p.inFill) {
        cymbal(b.drums, at, 0.65, 0.18, 0.2, 1);
    }
    if (isIntro(s) && bar.index >= 2 && q == 2 && !p.inBuild) {
        cymbal(b.drums, at, 0.14 * bar.introRamp, 0.04, 0.3, 0);
    }
}

void bassStep(Buses& b, const Section& s, const Bar& bar, const Step& p) {
    const int q = p.q;
    const long at = p.at;
    const long stepLen = kStep;
    switch (s.bass) {
    case kOffbeat:
        if (q == 2) {
            bassNote(b.music, at, static_cast<long>(stepLen * 1.6), bar.ch.bass + 12, kOffbeat,
                     0.55, 0.6);
        }
        break;
    case kRolling:
        if (q != 0) {
            const int oct = (q == 2) ? 12 : 0;
            bassNote(b.music, at, static_cast<long>(stepLen * 0.8), bar.ch.bass + 12 + oct,
                     kRolling, 0.5, q == 2 ? 0.8 : 0.4);
        }
        break;
    case kAcid: {
        static const int offs[16] = {0, 12, 0, 0, 15, 0, 12, 0, 0, 10, 12, 0, 7, 0, 12, 3};
        if (q != 0 || p.beat == 0) {
            const double accent = ((p.step * 5 + bar.index) % 7 == 0)
                                      ? 1.0
                                      : 0.35 + 0.3 * std::sin(bar.index * 0.7 + p.step);
            bassNote(b.music, at, static_cast<long>(stepLen * 0.7), bar.ch.bass + 12 + offs[p.step],
                     kAcid, 0.45, accent);
        }
        break;
    }
    case kLong:
        if (p.step == 0 && (!isIntro(s) || bar.index >= 1)) {
            bassNote(b.music, at, bar.beats * kBeat - kStep, bar.ch.bass + 12, kLong,
                     0.55 * bar.introRamp, 0.0);
        }
        break;
    case kNoBass:
        break;
    }
}

// Arpeggio over the chord, alternating sides, echoed by the delay.
void arpStep(Buses& b, const Section& s, const Bar& bar, const Step& p) {
    if (s.arp > 0) {
        static const int pattern[16] = {0, 1, 2, 3, 1, 2, 3, 4, 2, 3, 4, 5, 3, 2, 1, 0};
        const int idx = pattern[p.step];
        const int pitch =
            (idx < 4 ? bar.ch.pad[idx] : bar.ch.pad[idx - 4] + 12) + 12 * bar.arpOctave;
        const double cut = isIntro(s) ? 600.0 + 3000.0 * bar.introRamp * bar.introRamp : 4200.0;
        const double pan = (p.step % 2) ? 0.45 : -0.45;
        const double level = (isIntro(s) ? 0.5 * bar.introRamp : 0.32) * (s.kick ? 1.0 : 1.2);
        pluck(b.music, p.at, pitch, level, pan, cut);
        pluck(b.delaySend, p.at, pitch, level * 0.6, pan, cut);
    }
}

// Lead melody, phrase of four bars.
void leadBar(Buses& b, const Section& s, const Bar& bar) {
    if (s.lead < 0) {
        return;
    }
    const int phraseBar = bar.index % 4;
    for (const Note* n = kMelodies[s.lead]; n->step >= 0; ++n) {
        if (n->step / 16 != phraseBar || n->step % 16 >= bar.beats * 4) {
            continue;
        }
        const long at = beatSample(bar.beat0 + (n->step % 16) * 0.25);
        const long gate = static_cast<long>(n->len * kStep * 0.9);
        const double level = s.kick ? 0.75 : 0.55;
        const int pitch = n->pitch + bar.leadShift;
        leadNote(b.music, at, gate, pitch, level);
        leadNote(b.delaySend, at, gate, pitch, level * 0.55);
        leadNote(b.reverbSend, at, gate, pitch, level * 0.4);
    }
}

// The order of the instruments within a bar is part of the sound: each adds
// into the same float buses, so reordering them changes the rounding.
void renderSection(Buses& b, const Section& s) {
    sectionOpening(b, s);
    const int bars = fullBars(s) + (tailBeats(s) ? 1 : 0);
    for (int index = 0; index < bars; ++index) {
        const Bar bar = barOf(s, index);
        padBar(b, s, bar);
        for (int beat = 0; beat < bar.beats; ++beat) {
            for (int q = 0; q < 4; ++q) {
                const Step p = stepOf(s, bar, beat, q);
                drumStep(b, s, bar, p);
                bassStep(b, s, bar, p);
                arpStep(b, s, bar, p);
            }
        }
        leadBar(b, s, bar);
        // Crash every eight bars inside long sections.
        if (s.kick && index > 0 && index % 8 == 0) {
            cymbal(b.drums, bar.start, 1.4, 0.9, 0.0, 2);
        }
    }
}

const Chord& chordAtBeat(int beat) {
    for (const Section& s : kSections) {
        if (beat >= s.beat0 && beat < s.beat0 + s.beats) {
            return kProgs[s.prog][((beat - s.beat0) / 4) % 4];
        }
    }
    return kAm;
}

// Script frame (60 per second) to the nearest sixteenth of the grid.
long nearestStep(int frame) {
    const double steps = (frame / 60.0 * kRate - kGridStart) / kStep;
    return kGridStart + std::lround(steps) * kStep;
}

// Accents tied to the script: a crash as each glowing logo appears (its halo
// follows the treble) and a chord under each text stab on the road and rd2.
void renderCues(Buses& b) {
    static const int logoFrames[] = {3553, 4012, 6370, 6847, 7272, 7769};
    static const int stabFrames[] = {4510, 4966, 8021, 8247, 8461, 8696, 8926, 9158, 9408};
    for (int f : logoFrames) {
        const long at = nearestStep(f);
        cymbal(b.drums, at, 1.3, 0.7, 0.2, 2);
        cymbal(b.reverbSend, at, 0.3, 0.7, 0.0, 2);
    }
    for (int f : stabFrames) {
        const long at = nearestStep(f);
        const Chord& c = chordAtBeat(static_cast<int>((at - kGridStart) / kBeat));
        stabChord(b.music, at, c, 1.0);
        stabChord(b.reverbSend, at, c, 0.6);
        stabChord(b.delaySend, at, c, 0.4);
    }
}

bool writeWav(const char* path, const Stereo& s) {
    std::FILE* f = std::fopen(path, "wb");
    if (!f) {
        logLine(stderr, "[gen_music] cannot write: %s\n", path);
        return false;
    }
    const std::uint32_t frames = static_cast<std::uint32_t>(s.size());
    const std::uint32_t dataBytes = frames * 4;
    auto u32 = [&](std::uint32_t v) {
        const unsigned char b[4] = {
            static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
            static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
        std::fwrite(b, 1, 4, f);
    };
    auto u16 = [&](unsigned v) {
        const unsigned char b[2] = {static_cast<unsigned char>(v),
                                    static_cast<unsigned char>(v >> 8)};
        std::fwrite(b, 1, 2, f);
    };
    std::fwrite("RIFF", 1, 4, f);
    u32(36 + dataBytes);
    std::fwrite("WAVEfmt ", 1, 8, f);
    u32(16);
    u16(1);
    u16(2);
    u32(kRate);
    u32(kRate * 4);
    u16(4);
    u16(16);
    std::fwrite("data", 1, 4, f);
    u32(dataBytes);
    std::vector<unsigned char> out(dataBytes);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const float ch[2] = {s.l[i], s.r[i]};
        for (int c = 0; c < 2; ++c) {
            const long v = std::lround(std::clamp(ch[c], -1.0f, 1.0f) * 32767.0f);
            out[i * 4 + c * 2] = static_cast<unsigned char>(v & 0xff);
            out[i * 4 + c * 2 + 1] = static_cast<unsigned char>((v >> 8) & 0xff);
        }
    }
    const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return std::fclose(f) == 0 && ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        logLine(stderr, "[gen_music] usage: gen_music OUT.wav\n");
        return 2;
    }
    Buses b;
    for (const Section& s : kSections) {
        renderSection(b, s);
    }
    renderCues(b);

    // Bus balance over the first drop, for whoever tunes the mix.
    auto level = [](const Stereo& bus, const std::vector<float>* duck) {
        double sum = 0.0;
        const long a = 53 * kRate, z = 69 * kRate;
        for (long i = a; i < z; ++i) {
            const double g = duck ? (*duck)[i] : 1.0;
            sum += 0.5 * (bus.l[i] * bus.l[i] + bus.r[i] * bus.r[i]) * g * g;
        }
        return 10.0 * std::log10(std::max(sum / (z - a), 1e-20));
    };
    logLine(
        stderr,
        "[gen_music] 53-69 s RMS: drums %.1f dB, music %.1f dB, reverb send %.1f dB, delay send "
        "%.1f dB\n",
        level(b.drums, nullptr), level(b.music, &b.duck), level(b.reverbSend, nullptr),
        level(b.delaySend, nullptr));

    // The synths sit 2.5 dB up against the drums.
    const float kMusicGain = dbGain(2.5);
    Stereo mix(kLength);
    for (long i = 0; i < kLength; ++i) {
        mix.l[i] = b.drums.l[i] + b.music.l[i] * b.duck[i] * kMusicGain;
        mix.r[i] = b.drums.r[i] + b.music.r[i] * b.duck[i] * kMusicGain;
    }
    Reverb rev;
    rev.process(b.reverbSend, mix, 0.86, 0.35, 1.0);
    pingPong(b.delaySend, mix, static_cast<int>(kBeat * 3 / 4), 0.45, 0.35);

    // Loudness: scale toward -14 LUFS, then limit to keep true peak under -1 dBTP
    // after encoding; the limiter costs a little loudness, so repeat.
    const double target = -14.0;
    const double ceiling = dbGain(-3.2);
    double gainDb = target - integratedLufs(mix);
    Stereo out;
    double measured = 0.0;
    for (int pass = 0; pass < 4; ++pass) {
        out = mix;
        const float g = dbGain(gainDb);
        for (long i = 0; i < kLength; ++i) {
            out.l[i] *= g;
            out.r[i] *= g;
        }
        limit(out, ceiling, 96, 0.08);
        measured = integratedLufs(out);
        logLine(stderr, "[gen_music] pass %d: gain %.2f dB, %.2f LUFS\n", pass, gainDb, measured);
        if (std::fabs(measured - target) < 0.05) {
            break;
        }
        gainDb += target - measured;
    }
    return writeWav(argv[1], out) ? 0 : 1;
}
