// The cost of the whole effect as a host sees it: processReplacing through the
// AEffect record, per factory preset and for "Rubber Boots" at the largest
// filter order, at host blocks of 64 and 512 samples. "x_realtime" is the
// multiple of 44.1 kHz stereo the effect sustains on one core.
//
// For the ratio the targets are stated in, BM_FourLatticesAlone runs just the
// engine's four lattices at 70 stages the way the engine runs them (channel
// pairs, an update every 8 samples), and the silence benchmarks show whether a
// block of silence after a loud passage (where decaying recursions would reach
// denormals) costs more than a block of noise.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "dsp/WarpedLPC.h"
#include "dsp/WarpedLattice.h"
#include "plugin/Kovalith.h"

namespace kovalith {
namespace {

constexpr double kRate = 44100.0;
constexpr int kSignalFrames = 1 << 18;  // about six seconds, played in a loop

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

class Effect {
public:
    explicit Effect(int program, int block) : effect_(std::make_unique<Kovalith>(benchHost)), out_(2, std::vector<float>(block)) {
        e_ = effect_->getAeffect();
        e_->dispatcher(e_, vst2::effSetSampleRate, 0, 0, nullptr, static_cast<float>(kRate));
        e_->dispatcher(e_, vst2::effSetBlockSize, 0, block, nullptr, 0.0f);
        e_->dispatcher(e_, vst2::effSetProgram, 0, program, nullptr, 0.0f);
        e_->dispatcher(e_, vst2::effMainsChanged, 0, 1, nullptr, 0.0f);
    }

    void set(int index, float value) { e_->setParameter(e_, index, value); }

    // One block starting at `position` in the looped signal.
    void block(const Signal& s, int& position, int frames) {
        if (position + frames > kSignalFrames) position = 0;
        float* in[2] = {const_cast<float*>(s.left.data() + position), const_cast<float*>(s.right.data() + position)};
        float* out[2] = {out_[0].data(), out_[1].data()};
        e_->processReplacing(e_, in, out, frames);
        benchmark::DoNotOptimize(out_[0][0]);
        position += frames;
    }

private:
    std::unique_ptr<Kovalith> effect_;
    vst2::AEffect* e_ = nullptr;
    std::vector<std::vector<float>> out_;
};

void report(benchmark::State& state, int frames) {
    const double seconds = static_cast<double>(state.iterations()) * frames / kRate;
    state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
    state.SetItemsProcessed(state.iterations() * frames);
}

const char* const kPresetNames[] = {"Rubber Boots", "Intermittent", "Scratchy", "FBM", "Skaro Defence Force"};

// Args: factory preset, block size.
void BM_FactoryPreset(benchmark::State& state) {
    const int preset = static_cast<int>(state.range(0)), frames = static_cast<int>(state.range(1));
    Effect effect(preset, frames);
    const Signal signal;
    int position = 0;
    for (int n = 0; n < 44100; n += frames) effect.block(signal, position, frames);  // past the first analysis blocks
    for (auto _ : state) effect.block(signal, position, frames);
    report(state, frames);
    state.SetLabel(kPresetNames[preset]);
}
BENCHMARK(BM_FactoryPreset)->ArgsProduct({{0, 1, 2, 3, 4}, {64, 512}});

// "Rubber Boots" with "# Stages" at 1: 70 stages in each of the four lattices.
void BM_RubberBoots70Stages(benchmark::State& state) {
    const int frames = static_cast<int>(state.range(0));
    Effect effect(0, frames);
    effect.set(kNumStages, 1.0f);
    const Signal signal;
    int position = 0;
    for (int n = 0; n < 44100; n += frames) effect.block(signal, position, frames);
    for (auto _ : state) effect.block(signal, position, frames);
    report(state, frames);
}
BENCHMARK(BM_RubberBoots70Stages)->Arg(64)->Arg(512);

// Blocks of noise, or of silence after two seconds of a loud (+12 dB) passage,
// through "Rubber Boots" at 70 stages with its feedback. The silent run goes on
// for as many blocks as the benchmark takes, so it covers the early decay and
// the long quiet after it.
void BM_RubberBoots70Silence(benchmark::State& state) {
    const bool silent = state.range(0) != 0;
    constexpr int frames = 512;
    Effect effect(0, frames);
    effect.set(kNumStages, 1.0f);
    const Signal loud(4.0f), quiet(1.0f, true), noise(1.0f);
    int position = 0;
    for (int n = 0; n < 2 * 44100; n += frames) effect.block(loud, position, frames);
    position = 0;
    for (auto _ : state) effect.block(silent ? quiet : noise, position, frames);
    report(state, frames);
    state.SetLabel(silent ? "silence after loud" : "noise");
}
BENCHMARK(BM_RubberBoots70Silence)->Arg(0)->Arg(1);

// The reference: only the four 70-stage lattices, as the engine runs them, on
// coefficients taken from the signal.
void BM_FourLatticesAlone(benchmark::State& state) {
    constexpr int order = 70, frames = 512, step = 8;
    auto fir = std::make_unique<CUnitWFIRLattice<float>[]>(2);
    auto iir = std::make_unique<CUnitWIIRLattice<float>[]>(2);
    auto lpc = std::make_unique<CWarpedLPCExtraction<float>>();
    const Signal signal;
    const float warp = std::sqrt(0.645516f) * 0.999f, gain = std::sqrt(0.98f) * 0.999f + 0.001f;
    std::vector<float> k(order);
    lpc->extract(signal.left.data() + 4096, 1024, k.data(), order, warp);
    for (auto* lattice : {static_cast<CUnitWarpedLatticeBase<float>*>(&fir[0]), static_cast<CUnitWarpedLatticeBase<float>*>(&fir[1]),
                          static_cast<CUnitWarpedLatticeBase<float>*>(&iir[0]), static_cast<CUnitWarpedLatticeBase<float>*>(&iir[1])}) {
        lattice->setSampleRate(11025.0f);
        lattice->setSmoothingTime(0.0199f);
        lattice->setCoefficientsRotated(k.data(), order, 0.0f);
    }
    int position = 0;
    for (auto _ : state) {
        if (position + frames > kSignalFrames) position = 0;
        for (int n = position; n < position + frames; n += step) {
            fir[0].update(warp, gain);
            fir[1].update(warp, gain);
            iir[0].update(warp, gain);
            iir[1].update(warp, gain);
            for (int i = n; i < n + step; ++i) {
                CUnitWFIRLattice<float>::processPair(fir[0], signal.left[i], fir[1], signal.right[i]);
                CUnitWIIRLattice<float>::processPair(iir[0], fir[0].lastOutput, iir[1], fir[1].lastOutput);
            }
        }
        benchmark::DoNotOptimize(iir[0].lastOutput);
        benchmark::DoNotOptimize(iir[1].lastOutput);
        position += frames;
    }
    report(state, frames);
}
BENCHMARK(BM_FourLatticesAlone);

}  // namespace
}  // namespace kovalith
