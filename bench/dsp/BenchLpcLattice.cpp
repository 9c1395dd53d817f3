// Per-sample cost of the warped FIR and IIR lattices and per-frame cost of the
// warped LPC extraction. The lattices run with coefficients the extractor made
// from a sawtooth chord, at the engine's default warp and resonance; the
// "silence" variants run after a loud passage, where the recursions decay towards
// whatever keeps them off denormals.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "dsp/WarpedLPC.h"
#include "dsp/WarpedLattice.h"

namespace kovalith {
namespace {

constexpr int kBlock = 4096;
constexpr int kControlStep = 8;
// The engine's targets for "A Warp" 0.8 and "A Res" 0.98.
const double kWarp = std::sqrt(0.8) * 0.999;
const double kGain = std::sqrt(0.98) * 0.999 + 0.001;

std::vector<float> noise(int length, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> x(length);
    for (auto& v : x) v = dist(rng);
    return x;
}

std::vector<float> sawChord(int length) {
    std::vector<float> x(length);
    const double freqs[3] = {220.0, 277.18, 329.63};
    for (int n = 0; n < length; ++n) {
        double v = 0;
        for (double f : freqs) v += std::fmod(n * f / 44100.0, 1.0) - 0.5;
        x[n] = float(v * 0.6);
    }
    return x;
}

// Reflection coefficients of a real signal, as the engine would hand them over.
std::vector<float> chordReflections(int order) {
    auto lpc = std::make_unique<CWarpedLPCExtraction<float>>();
    const auto frame = sawChord(1024);
    std::vector<float> k(order);
    lpc->extract(frame.data(), 1024, k.data(), order, float(kWarp));
    return k;
}

template <typename Lattice>
void prepare(Lattice& lattice, int order) {
    const auto k = chordReflections(order);
    lattice.setSampleRate(11025.0f);
    lattice.setSmoothingTime(0.001f);
    lattice.setCoefficientsRotated(k.data(), order, 0.0f);
    for (int i = 0; i < 2000; ++i) lattice.update(kWarp, kGain);
}

// Runs the lattice on noise, then (for the silent variant) on enough silence for
// its state to settle; the measured pass is noise or silence accordingly.
template <typename Lattice>
void runLattice(benchmark::State& state) {
    const int order = int(state.range(0));
    const bool silent = state.range(1) != 0;
    auto lattice = std::make_unique<Lattice>();
    prepare(*lattice, order);
    const auto loud = noise(kBlock, 1);
    const std::vector<float> quiet(kBlock, 0.0f);
    for (int r = 0; r < 20; ++r)
        for (float v : loud) lattice->process(v);
    if (silent)
        for (int r = 0; r < 200; ++r)
            for (float v : quiet) lattice->process(v);
    const auto& x = silent ? quiet : loud;
    for (auto _ : state) {
        for (int n = 0; n < kBlock; n += kControlStep) {
            lattice->update();
            for (int i = n; i < n + kControlStep; ++i) benchmark::DoNotOptimize(lattice->process(x[i]));
        }
    }
    state.SetItemsProcessed(state.iterations() * kBlock);  // ns per sample = 1e9 / items_per_second
    state.SetLabel(silent ? "silence after noise" : "noise");
}

void BM_WFIRLattice(benchmark::State& state) { runLattice<CUnitWFIRLattice<float>>(state); }
void BM_WIIRLattice(benchmark::State& state) { runLattice<CUnitWIIRLattice<float>>(state); }

void latticeArgs(benchmark::internal::Benchmark* b) {
    for (int order : {7, 20, 70})
        for (int silent : {0, 1}) b->Args({order, silent});
}
BENCHMARK(BM_WFIRLattice)->Apply(latticeArgs);
BENCHMARK(BM_WIIRLattice)->Apply(latticeArgs);

// The engine's lattice load: per stereo frame the FIR and the IIR lattice of each
// channel, each IIR fed by its FIR, updated every control step. The counter
// "x realtime" is the multiple of 44.1 kHz stereo this sustains.
// Drives two channels of FIR then IIR lattice through `frame`, on noise or on
// silence after a loud passage, with the coefficients updated every control step.
template <typename Frame>
void runFourLattices(benchmark::State& state, Frame frame) {
    const int order = int(state.range(0));
    const bool silent = state.range(1) != 0;
    auto fir = std::make_unique<CUnitWFIRLattice<float>[]>(2);
    auto iir = std::make_unique<CUnitWIIRLattice<float>[]>(2);
    for (int c = 0; c < 2; ++c) {
        prepare(fir[c], order);
        prepare(iir[c], order);
    }
    const auto loud = noise(kBlock, 2);
    const std::vector<float> quiet(kBlock, 0.0f);
    for (int r = 0; r < 20; ++r)
        for (float v : loud) frame(fir.get(), iir.get(), v);
    if (silent)
        for (int r = 0; r < 200; ++r)
            for (float v : quiet) frame(fir.get(), iir.get(), v);
    const auto& x = silent ? quiet : loud;
    for (auto _ : state) {
        for (int n = 0; n < kBlock; n += kControlStep) {
            for (int c = 0; c < 2; ++c) {
                fir[c].update(kWarp, kGain);
                iir[c].update(kWarp, kGain);
            }
            for (int i = n; i < n + kControlStep; ++i) frame(fir.get(), iir.get(), x[i]);
        }
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
    state.counters["x realtime"] =
        benchmark::Counter(double(state.iterations()) * kBlock / 44100.0, benchmark::Counter::kIsRate);
    state.SetLabel(silent ? "silence after noise" : "noise");
}

void BM_FourLattices(benchmark::State& state) {
    runFourLattices(state, [](CUnitWFIRLattice<float>* fir, CUnitWIIRLattice<float>* iir, float x) {
        for (int c = 0; c < 2; ++c) benchmark::DoNotOptimize(iir[c].process(fir[c].process(x)));
    });
}
BENCHMARK(BM_FourLattices)->Args({70, 0})->Args({70, 1});

// The same load with the two channels' lattices run as pairs (processPair).
void BM_FourLatticesPaired(benchmark::State& state) {
    runFourLattices(state, [](CUnitWFIRLattice<float>* fir, CUnitWIIRLattice<float>* iir, float x) {
        CUnitWFIRLattice<float>::processPair(fir[0], x, fir[1], x);
        CUnitWIIRLattice<float>::processPair(iir[0], fir[0].lastOutput, iir[1], fir[1].lastOutput);
        benchmark::DoNotOptimize(iir[0].lastOutput);
        benchmark::DoNotOptimize(iir[1].lastOutput);
    });
}
BENCHMARK(BM_FourLatticesPaired)->Args({70, 0})->Args({70, 1});

// The engine's group of lattices per control step, both channels: the FIR pair
// over the group stage by stage, then the IIR pair sample by sample (variant 0),
// or the chain run, where the FIR pair takes each next sample beside the IIR
// pair (variant 1). The IIR pair alone (variant 2) is the recursion's own pace.
void BM_LatticeGroups(benchmark::State& state) {
    const int order = int(state.range(0));
    const int variant = int(state.range(1));
    auto fir = std::make_unique<CUnitWFIRLattice<float>[]>(2);
    auto iir = std::make_unique<CUnitWIIRLattice<float>[]>(2);
    for (int c = 0; c < 2; ++c) {
        prepare(fir[c], order);
        prepare(iir[c], order);
    }
    const auto x0 = noise(kBlock, 3), x1 = noise(kBlock, 4);
    const auto none = [](int, float&, float&) {};
    float m0[kControlStep], m1[kControlStep], y0[kControlStep], y1[kControlStep];
    for (auto _ : state) {
        for (int n = 0; n < kBlock; n += kControlStep) {
            CUnitWFIRLattice<float>::updatePair(fir[0], kWarp, kGain, fir[1], kWarp, kGain);
            CUnitWIIRLattice<float>::updatePair(iir[0], kWarp, kGain, iir[1], kWarp, kGain);
            if (variant == 1) {
                CUnitWIIRLattice<float>::chainRunPair(fir[0], fir[1], iir[0], iir[1], &x0[n], &x1[n], m0, m1, y0, y1,
                                                      kControlStep, none);
            } else {
                if (variant == 0)
                    CUnitWFIRLattice<float>::processRunPair(fir[0], &x0[n], m0, fir[1], &x1[n], m1, kControlStep);
                else
                    std::copy(&x0[n], &x0[n] + kControlStep, m0), std::copy(&x1[n], &x1[n] + kControlStep, m1);
                for (int done = 0; done < kControlStep;)
                    done += CUnitWIIRLattice<float>::processRunPair(iir[0], m0 + done, y0 + done, iir[1], m1 + done,
                                                                    y1 + done, kControlStep - done);
            }
            benchmark::DoNotOptimize(y0[kControlStep - 1]);
        }
    }
    state.counters["x realtime"] =
        benchmark::Counter(double(state.iterations()) * kBlock / 44100.0, benchmark::Counter::kIsRate);
    static const char* const kLabels[] = {"FIR run, then IIR run", "chain run", "IIR run alone"};
    state.SetLabel(kLabels[variant]);
}
BENCHMARK(BM_LatticeGroups)->ArgsProduct({{20, 70}, {0, 1, 2}});

// One extraction per analysis block: window, warped (lambda > 0) or plain
// autocorrelation and the recursion.
void BM_LpcExtraction(benchmark::State& state) {
    const int order = int(state.range(0));
    const int length = int(state.range(1));
    const float lambda = state.range(2) != 0 ? float(kWarp) : 0.0f;
    auto lpc = std::make_unique<CWarpedLPCExtraction<float>>();
    auto frame = sawChord(length);
    const auto hiss = noise(length, 3);
    for (int n = 0; n < length; ++n) frame[n] += 0.01f * hiss[n];
    std::vector<float> k(order);
    for (auto _ : state) {
        lpc->extract(frame.data(), length, k.data(), order, lambda);
        benchmark::DoNotOptimize(k.data());
        benchmark::ClobberMemory();
    }
    state.SetLabel(lambda > 0 ? "warped" : "plain");
}
BENCHMARK(BM_LpcExtraction)
    ->Args({70, 1024, 1})
    ->Args({70, 1024, 0})
    ->Args({70, 512, 1})
    ->Args({70, 2047, 1})
    ->Args({20, 1024, 1})
    ->Args({100, 1024, 1})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kovalith
