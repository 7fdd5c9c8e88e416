#pragma once

// Small deterministic DSP kit for the music generator: oscillators, filters,
// effects and loudness measurement. Everything is plain arithmetic so the
// same binary always renders the same samples.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <vector>

namespace music {

constexpr int kRate = 48000;
constexpr double kPi = 3.14159265358979323846;

inline double midiHz(double note) {
    return 440.0 * std::pow(2.0, (note - 69.0) / 12.0);
}
inline float dbGain(double db) {
    return static_cast<float>(std::pow(10.0, db / 20.0));
}

// xorshift32: fixed sequences for noise, seeded per hit.
struct Rng {
    std::uint32_t s;
    explicit Rng(std::uint32_t seed) : s(seed ? seed : 0x9e3779b9u) {}
    std::uint32_t next() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    }
    float uni() { return static_cast<float>(next() >> 8) * (2.0f / 16777216.0f) - 1.0f; }
};

inline double polyBlep(double t, double dt) {
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1.0;
    }
    if (t > 1.0 - dt) {
        t = (t - 1.0) / dt;
        return t * t + t + t + 1.0;
    }
    return 0.0;
}

// Band-limited saw / pulse by polyBLEP.
struct Osc {
    double phase = 0.0;
    double saw(double hz) {
        const double dt = hz / kRate;
        const double v = 2.0 * phase - 1.0 - polyBlep(phase, dt);
        advance(dt);
        return v;
    }
    double pulse(double hz, double width) {
        const double dt = hz / kRate;
        double v = phase < width ? 1.0 : -1.0;
        v += polyBlep(phase, dt);
        v -= polyBlep(std::fmod(phase + 1.0 - width, 1.0), dt);
        advance(dt);
        return v;
    }
    double sine(double hz) {
        const double v = std::sin(2.0 * kPi * phase);
        advance(hz / kRate);
        return v;
    }
    void advance(double dt) {
        phase += dt;
        phase -= std::floor(phase);
    }
};

// Trapezoidal state-variable filter; cutoff may change every sample.
struct Svf {
    double ic1 = 0.0, ic2 = 0.0;
    double low = 0.0, band = 0.0, high = 0.0;
    void run(double x, double hz, double q) {
        hz = std::clamp(hz, 10.0, kRate * 0.45);
        const double g = std::tan(kPi * hz / kRate);
        const double k = 1.0 / q;
        const double a1 = 1.0 / (1.0 + g * (g + k));
        const double a2 = g * a1;
        const double a3 = g * a2;
        const double v3 = x - ic2;
        const double v1 = a1 * ic1 + a2 * v3;
        const double v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2.0 * v1 - ic1;
        ic2 = 2.0 * v2 - ic2;
        low = v2;
        band = v1;
        high = x - k * v1 - v2;
    }
};

// Linear attack, exponential-ish decay to sustain, linear release after gate.
inline double adsr(double t, double gate, double a, double d, double s, double r) {
    double v;
    if (t < a) {
        v = t / a;
    } else {
        v = s + (1.0 - s) * std::exp(-(t - a) / d);
    }
    if (t > gate) {
        // Level at gate time, then fade.
        double g = gate < a ? gate / a : s + (1.0 - s) * std::exp(-(gate - a) / d);
        const double x = (t - gate) / r;
        v = x >= 1.0 ? 0.0 : g * (1.0 - x);
    }
    return v;
}

struct Stereo {
    std::vector<float> l, r;
    explicit Stereo(std::size_t n = 0) : l(n, 0.0f), r(n, 0.0f) {}
    std::size_t size() const { return l.size(); }
    void add(std::size_t i, double vl, double vr) {
        if (i < l.size()) {
            l[i] += static_cast<float>(vl);
            r[i] += static_cast<float>(vr);
        }
    }
};

// Stereo ping-pong delay with a darkening feedback path.
inline void pingPong(const Stereo& in, Stereo& out, int delay, double feedback, double damp) {
    std::vector<float> bl(delay, 0.0f), br(delay, 0.0f);
    double lpl = 0.0, lpr = 0.0;
    int pos = 0;
    for (std::size_t i = 0; i < in.size(); ++i) {
        const double dl = bl[pos], dr = br[pos];
        out.l[i] += static_cast<float>(dl);
        out.r[i] += static_cast<float>(dr);
        lpl += (dr - lpl) * damp;
        lpr += (dl - lpr) * damp;
        bl[pos] = static_cast<float>(0.5 * (in.l[i] + in.r[i]) + lpl * feedback);
        br[pos] = static_cast<float>(lpr * feedback);
        pos = (pos + 1) % delay;
    }
}

// Schroeder-Moorer reverb: eight damped combs and four allpasses per side.
class Reverb {
  public:
    void process(const Stereo& in, Stereo& out, double room, double damp, double width) {
        static const int combs[8] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
        static const int alls[4] = {556, 441, 341, 225};
        const double scale = static_cast<double>(kRate) / 44100.0;
        for (int side = 0; side < 2; ++side) {
            const int spread = side ? 23 : 0;
            std::vector<Comb> cs;
            for (int c : combs) {
                cs.push_back(Comb(static_cast<int>((c + spread) * scale)));
            }
            std::vector<Allpass> as;
            for (int a : alls) {
                as.push_back(Allpass(static_cast<int>((a + spread) * scale)));
            }
            std::vector<float>& dst = side ? wetR : wetL;
            dst.assign(in.size(), 0.0f);
            for (std::size_t i = 0; i < in.size(); ++i) {
                const double x = (in.l[i] + in.r[i]) * 0.015;
                double acc = 0.0;
                for (Comb& c : cs) {
                    acc += c.run(x, room, damp);
                }
                for (Allpass& a : as) {
                    acc = a.run(acc);
                }
                dst[i] = static_cast<float>(acc);
            }
        }
        const double w1 = 0.5 * (1.0 + width), w2 = 0.5 * (1.0 - width);
        for (std::size_t i = 0; i < in.size(); ++i) {
            out.l[i] += static_cast<float>(wetL[i] * w1 + wetR[i] * w2);
            out.r[i] += static_cast<float>(wetR[i] * w1 + wetL[i] * w2);
        }
    }

  private:
    struct Comb {
        std::vector<double> buf;
        int pos = 0;
        double store = 0.0;
        explicit Comb(int n) : buf(n, 0.0) {}
        double run(double x, double feedback, double damp) {
            const double y = buf[pos];
            store = y * (1.0 - damp) + store * damp;
            buf[pos] = x + store * feedback;
            pos = (pos + 1) % static_cast<int>(buf.size());
            return y;
        }
    };
    struct Allpass {
        std::vector<double> buf;
        int pos = 0;
        explicit Allpass(int n) : buf(n, 0.0) {}
        double run(double x) {
            const double b = buf[pos];
            buf[pos] = x + b * 0.5;
            pos = (pos + 1) % static_cast<int>(buf.size());
            return b - x;
        }
    };
    std::vector<float> wetL, wetR;
};

struct Biquad {
    double b0, b1, b2, a1, a2;
    double z1 = 0.0, z2 = 0.0;
    double run(double x) {
        const double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
};

// Integrated loudness (ITU-R BS.1770: K-weighting, 400 ms blocks, both gates) at 48 kHz.
inline double integratedLufs(const Stereo& s) {
    std::vector<double> power[2];
    for (int ch = 0; ch < 2; ++ch) {
        Biquad shelf{1.53512485958697, -2.69169618940638, 1.19839281085285, -1.69065929318241,
                     0.73248077421585};
        Biquad hp{1.0, -2.0, 1.0, -1.99004745483398, 0.99007225036621};
        const std::vector<float>& x = ch ? s.r : s.l;
        power[ch].resize(x.size());
        for (std::size_t i = 0; i < x.size(); ++i) {
            const double y = hp.run(shelf.run(x[i]));
            power[ch][i] = y * y;
        }
    }
    const std::size_t block = kRate * 4 / 10, step = kRate / 10;
    std::vector<double> blocks;
    std::vector<double> prefix(s.size() + 1, 0.0);
    for (std::size_t i = 0; i < s.size(); ++i) {
        prefix[i + 1] = prefix[i] + power[0][i] + power[1][i];
    }
    for (std::size_t start = 0; start + block <= s.size(); start += step) {
        blocks.push_back((prefix[start + block] - prefix[start]) / block);
    }
    auto lufs = [](double z) { return -0.691 + 10.0 * std::log10(std::max(z, 1e-20)); };
    double sum = 0.0;
    int n = 0;
    for (double z : blocks) {
        if (lufs(z) > -70.0) {
            sum += z;
            ++n;
        }
    }
    if (n == 0) {
        return -70.0;
    }
    const double gate = lufs(sum / n) - 10.0;
    sum = 0.0;
    n = 0;
    for (double z : blocks) {
        if (lufs(z) > gate && lufs(z) > -70.0) {
            sum += z;
            ++n;
        }
    }
    return n ? lufs(sum / n) : -70.0;
}

// Look-ahead brickwall: no sample above `ceiling`, gain ramps over `look` samples.
inline void limit(Stereo& s, double ceiling, int look, double releaseSec) {
    const std::size_t n = s.size();
    std::vector<double> need(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double p = std::max(std::fabs(s.l[i]), std::fabs(s.r[i]));
        need[i] = p > ceiling ? ceiling / p : 1.0;
    }
    // Minimum over the look-ahead window [i, i + look].
    std::vector<double> ahead(n);
    std::deque<std::size_t> q;
    for (std::size_t i = n; i-- > 0;) {
        while (!q.empty() && need[q.back()] >= need[i]) {
            q.pop_back();
        }
        q.push_back(i);
        while (q.front() > i + look) {
            q.pop_front();
        }
        ahead[i] = need[q.front()];
    }
    const double rel = 1.0 / (releaseSec * kRate);
    double g = 1.0;
    for (std::size_t i = 0; i < n; ++i) {
        g = std::min(ahead[i], g + (1.0 - g) * rel);
        ahead[i] = g;
    }
    // A box average of the held gain keeps every sample under the ceiling
    // because each window only holds values at or below the one it ends on.
    double acc = 0.0;
    std::vector<double> box(look + 1, 1.0);
    acc = look + 1.0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t slot = i % box.size();
        acc += ahead[i] - box[slot];
        box[slot] = ahead[i];
        const double gain = std::min(acc / box.size(), need[i]);
        s.l[i] = static_cast<float>(s.l[i] * gain);
        s.r[i] = static_cast<float>(s.r[i] * gain);
    }
}

} // namespace music
