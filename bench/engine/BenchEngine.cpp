// The cost of the whole effect as a host sees it: processReplacing through the
// AEffect record, beside a fixed yardstick. "x_realtime" is the multiple of
// 44.1 kHz stereo that a benchmark sustains on one core (thread CPU time).
//
// The yardstick (BM_Yardstick) is a plain four-lattice kernel written here,
// straightforwardly, in double: per sample the warped FIR lattice of the left
// channel, of the right, then the warped IIR lattices of both, with a glide of
// the coefficients every 8 samples. It uses no code of the effect, so it does
// not get faster when the effect does; the effect's figures are stated as
// multiples of it measured in the same run (see bench/README.md).
//
// This file uses only the effect's binary interface and parameter indices, so it
// also builds against older revisions for a comparison in one session.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "plugin/Kovalith.h"

namespace kovalith {
namespace {

constexpr double kRate = 44100.0;
constexpr int kSignalFrames = 1 << 18;  // about six seconds, played in a loop
constexpr int kMaxStages = 70;

intptr_t benchHost(vst2::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    return opcode == vst2::audioMasterVersion ? 2400 : 0;  // no time information
}

// Noise bursts over a chord: music-like material that keeps every unit busy.
struct Signal {
    explicit Signal(float gain = 1.0f, bool silent = false) : left(kSignalFrames), right(kSignalFrames) {
        std::mt19937 rng(9);
        std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
        for (int n = 0; n < kSignalFrames; ++n) {
            if (silent) break;
            const double t = n / kRate;
            const double chord = 0.3 * std::sin(2 * M_PI * 220 * t) + 0.2 * std::sin(2 * M_PI * 277.2 * t);
            const double burst = 0.5 * std::exp(-20.0 * std::fmod(t, 0.5));
            left[n] = gain * static_cast<float>(chord + burst * noise(rng));
            right[n] = gain * static_cast<float>(0.8 * chord + burst * noise(rng));
        }
    }
    std::vector<float> left, right;
};

const Signal& music() {
    static const Signal signal;
    return signal;
}

void report(benchmark::State& state, int frames) {
    const double seconds = static_cast<double>(state.iterations()) * frames / kRate;
    state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
    state.SetItemsProcessed(state.iterations() * frames);
}

// ---- the yardstick -------------------------------------------------------------------

// One warped lattice pair of kind FIR or IIR for one channel, in double.
struct PlainLattice {
    double target[kMaxStages] = {}, k[kMaxStages] = {}, s1[kMaxStages] = {}, s2[kMaxStages] = {};
    double lambda = 0.0, gain = 0.95, smoothing = 0.0, m = 1.0, gNorm = 1.0;
    int order = 1;
    bool toggle = true;

    void glide(double warp, double res) {
        lambda = warp + (lambda - warp) * 0.95;
        gain = res + (gain - res) * 0.95;
        for (int i = 0; i < order; ++i) k[i] = smoothing * k[i] + (1.0 - smoothing) * gain * target[i];
    }

    void glideIir(double warp, double res) {
        glide(warp, res);
        m = 1.0 - lambda * lambda;
        double e = -lambda, f = 1.0, sum = 0.0;
        for (int i = 0; i < order; ++i) {
            sum += e * k[i];
            const double eNext = -lambda * (e - k[i] * f);
            f = f - e * k[i];
            e = eNext;
        }
        gNorm = 1.0 / (1.0 - sum);
    }

    double fir(double x) {
        const double l = static_cast<float>(lambda);
        double a = x, q = x;
        for (int i = 0; i < order; ++i) {
            const double u = s2[i] + l * (s1[i] - a);
            s2[i] = a;
            s1[i] = u;
            const double aNext = u + k[i] * q;
            q = q + k[i] * u;
            a = aNext;
        }
        return q;
    }

    double iir(double x) {
        double* r = toggle ? s1 : s2;
        double* w = toggle ? s2 : s1;
        double wPrev = m * r[0], s = k[0] * wPrev, acc = -k[0] * wPrev, z = 0.0;
        for (int i = 1; i < order; ++i) {
            const double wi = lambda * (k[i - 1] * z - wPrev) + m * r[i];
            s += k[i] * wi;
            z = acc;
            acc -= k[i] * wi;
            wPrev = wi;
        }
        const double y = gNorm * (x + s);
        double p = y + lambda * r[0], q = y;
        for (int i = 1; i < order; ++i) {
            const double qi = r[i - 1] - lambda * p;
            w[i] = qi + lambda * r[i] - k[i - 1] * q;
            q -= qi * k[i - 1];
            p = w[i];
        }
        toggle = !toggle;
        return y;
    }
};

// Args: stages, block size.
void BM_Yardstick(benchmark::State& state) {
    const int order = static_cast<int>(state.range(0)), frames = static_cast<int>(state.range(1));
    const Signal& signal = music();
    PlainLattice lattice[4];  // FIR L, FIR R, IIR L, IIR R
    // A stable, envelope-like set of reflection coefficients.
    for (PlainLattice& l : lattice) {
        l.order = order;
        l.smoothing = 0.9;
        for (int i = 0; i < order; ++i) l.target[i] = (i % 2 ? -0.6 : 0.7) / (1.0 + 0.2 * i);
    }
    const double warp = std::sqrt(0.645516) * 0.999, res = std::sqrt(0.98) * 0.999 + 0.001;
    int position = 0;
    for (auto _ : state) {
        if (position + frames > kSignalFrames) position = 0;
        for (int n = position; n < position + frames; ++n) {
            if ((n - position) % 8 == 0) {
                lattice[0].glide(warp, res);
                lattice[1].glide(warp, res);
                lattice[2].glideIir(warp, res);
                lattice[3].glideIir(warp, res);
            }
            const double fl = lattice[0].fir(signal.left[static_cast<size_t>(n)]);
            const double fr = lattice[1].fir(signal.right[static_cast<size_t>(n)]);
            benchmark::DoNotOptimize(lattice[2].iir(fl));
            benchmark::DoNotOptimize(lattice[3].iir(fr));
        }
        position += frames;
    }
    report(state, frames);
}

// ---- the effect ----------------------------------------------------------------------

class Effect {
public:
    Effect(int program, int block) : effect_(std::make_unique<Kovalith>(benchHost)), out_(2, std::vector<float>(static_cast<size_t>(block))) {
        e_ = effect_->getAeffect();
        e_->dispatcher(e_, vst2::effSetSampleRate, 0, 0, nullptr, static_cast<float>(kRate));
        e_->dispatcher(e_, vst2::effSetBlockSize, 0, block, nullptr, 0.0f);
        e_->dispatcher(e_, vst2::effSetProgram, 0, program, nullptr, 0.0f);
        e_->dispatcher(e_, vst2::effMainsChanged, 0, 1, nullptr, 0.0f);
    }

    void set(int index, float value) { e_->setParameter(e_, index, value); }

    // "# Stages" for an order of 1..70 (the order is 1 + 69 v, truncated).
    void setStages(int stages) { set(kNumStages, std::min(1.0f, (static_cast<float>(stages) - 0.5f) / 69.0f)); }

    // One block starting at `position` in the looped signal.
    void block(const Signal& s, int& position, int frames) {
        if (position + frames > kSignalFrames) position = 0;
        float* in[2] = {const_cast<float*>(s.left.data() + position), const_cast<float*>(s.right.data() + position)};
        float* out[2] = {out_[0].data(), out_[1].data()};
        e_->processReplacing(e_, in, out, frames);
        benchmark::DoNotOptimize(out_[0][0]);
        position += frames;
    }

    // A second of music, past the first analysis blocks.
    void warmUp(const Signal& s, int& position, int frames) {
        for (int n = 0; n < 44100; n += frames) block(s, position, frames);
    }

private:
    std::unique_ptr<Kovalith> effect_;
    vst2::AEffect* e_ = nullptr;
    std::vector<std::vector<float>> out_;
};

const char* const kPresetNames[] = {"Rubber Boots", "Intermittent", "Scratchy", "FBM", "Skaro Defence Force"};

void run(benchmark::State& state, Effect& effect, int frames) {
    int position = 0;
    effect.warmUp(music(), position, frames);
    for (auto _ : state) effect.block(music(), position, frames);
    report(state, frames);
}

// Args: factory preset, block size. "Rubber Boots" runs 20 stages.
void BM_FactoryPreset(benchmark::State& state) {
    const int preset = static_cast<int>(state.range(0)), frames = static_cast<int>(state.range(1));
    Effect effect(preset, frames);
    run(state, effect, frames);
    state.SetLabel(kPresetNames[preset]);
}

// "Rubber Boots" at another order. Args: stages, block size.
void BM_RubberBootsStages(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(1));
    Effect effect(0, frames);
    effect.setStages(static_cast<int>(state.range(0)));
    run(state, effect, frames);
}

// Blocks of noise, or of silence after two seconds of a loud (+12 dB) passage,
// through "Rubber Boots" at 70 stages with its feedback. The silent run goes on
// for as many blocks as the benchmark takes, so it covers the early decay and
// the long quiet after it.
void BM_RubberBoots70Silence(benchmark::State& state) {
    const bool silent = state.range(0) != 0;
    constexpr int frames = 512;
    Effect effect(0, frames);
    effect.setStages(kMaxStages);
    const Signal loud(4.0f), quiet(1.0f, true), noise(1.0f);
    int position = 0;
    for (int n = 0; n < 2 * 44100; n += frames) effect.block(loud, position, frames);
    position = 0;
    for (auto _ : state) effect.block(silent ? quiet : noise, position, frames);
    report(state, frames);
    state.SetLabel(silent ? "silence after loud" : "noise");
}

// The stage sweep of the plot: 1 to 70 stages at blocks of 512, the yardstick
// and the effect side by side; the targets' cases at blocks of 64 and 32.
void stageSweep(benchmark::internal::Benchmark* b) {
    for (const int stages : {1, 2, 5, 10, 20, 30, 40, 50, 60, 70}) b->Args({stages, 512});
    b->Args({20, 64});
    b->Args({70, 64});
}

BENCHMARK(BM_Yardstick)->Apply(stageSweep);
BENCHMARK(BM_RubberBootsStages)->Apply(stageSweep)->Args({20, 32})->Args({70, 32});
BENCHMARK(BM_FactoryPreset)->ArgsProduct({{0, 1, 2, 3, 4}, {64, 512}});
BENCHMARK(BM_RubberBoots70Silence)->Arg(0)->Arg(1);

}  // namespace
}  // namespace kovalith
