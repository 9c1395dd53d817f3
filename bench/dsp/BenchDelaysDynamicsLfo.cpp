// Per-sample cost of the delay, dynamics, lo-fi and LFO units. Each benchmark
// runs on noise (argument 0) or on silence after noise (argument 1), the case
// where recursions decay towards their anti-denormal level.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "dsp/Delay.h"
#include "dsp/Dynamics.h"
#include "dsp/LFO.h"

namespace kovalith {
namespace {

constexpr int kBlock = 4096;

std::vector<float> makeInput(bool silent) {
    std::vector<float> x(kBlock, 0.0f);
    if (silent) return x;
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (auto& v : x) v = dist(rng);
    return x;
}

// Feeds noise, then (for the silent variant) enough silence for the state to decay.
template <typename Step>
void prime(Step& step, bool silent) {
    const auto noise = makeInput(false);
    for (int r = 0; r < 20; ++r)
        for (float v : noise) step(v);
    if (!silent) return;
    for (int r = 0; r < 200; ++r)
        for (int i = 0; i < kBlock; ++i) step(0.0f);
}

template <typename Step>
void runPerSample(benchmark::State& state, Step step) {
    const bool silent = state.range(0) != 0;
    prime(step, silent);
    const auto x = makeInput(silent);
    for (auto _ : state) {
        for (float v : x) benchmark::DoNotOptimize(step(v));
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
    state.SetLabel(silent ? "silence after noise" : "noise");
}

void BM_FracDelay(benchmark::State& state) {
    auto d = std::make_unique<CUnitFracDelay<float>>();
    d->setDelayTime(0.3333f);
    runPerSample(state, [&](float v) { return d->process(v); });
}

void BM_VariSpeedDelay(benchmark::State& state) {
    auto d = std::make_unique<CUnitVariSpeedDelay<float>>();
    d->loopLength = 512.0f;
    d->speed = 1.5f;
    runPerSample(state, [&](float v) { return d->process(v); });
}

// Both channels' varispeed units in the engine's runs of 8 samples, each
// channel at its own speed: one run per unit (argument 0), or the two units
// as a pair (argument 1). The loop length is the second argument.
void BM_VariSpeedStereoRuns(benchmark::State& state) {
    constexpr int kRun = 8;
    const bool paired = state.range(0) != 0;
    auto left = std::make_unique<CUnitVariSpeedDelay<float>>();
    auto right = std::make_unique<CUnitVariSpeedDelay<float>>();
    left->loopLength = right->loopLength = float(state.range(1));
    left->speed = 1.5f;
    right->speed = 0.75f;
    const auto x = makeInput(false);
    std::vector<float> y(2 * kRun);
    auto block = [&] {
        for (int n = 0; n < kBlock; n += kRun) {
            if (paired) {
                CUnitVariSpeedDelay<float>::processRunPair(*left, &x[n], &y[0], *right, &x[n], &y[kRun], kRun);
            } else {
                left->processRun(&x[n], &y[0], kRun);
                right->processRun(&x[n], &y[kRun], kRun);
            }
            benchmark::DoNotOptimize(y.data());
        }
    };
    for (int r = 0; r < 20; ++r) block();
    for (auto _ : state) block();
    state.SetItemsProcessed(state.iterations() * kBlock);
    state.SetLabel(paired ? "pair" : "two runs");
}

void BM_EnvelopeFollower(benchmark::State& state) {
    CEnvelopeFollower<float> env;
    env.setAttackTime(0.001f);
    env.setReleaseTime(0.25f);
    runPerSample(state, [&](float v) { return env.process(v * v); });
}

void BM_CompressorComputeGain(benchmark::State& state) {
    CUnitCompressor<float> comp;
    comp.setRatio(40.0f);
    comp.setAttackTime(0.002f);
    comp.setReleaseTime(0.2f);
    comp.setThreshold(-18.0f);
    runPerSample(state, [&](float v) { return comp.computeGainSmoothed(v * v); });
}

void BM_DCKiller(benchmark::State& state) {
    CUnitDCKiller<float> dc;
    runPerSample(state, [&](float v) { return dc.process(v); });
}

void BM_Decimator(benchmark::State& state) {
    CUnitLoFiDecimate<float> dec;
    dec.setFactor(7.4f);
    runPerSample(state, [&](float v) { return dec.process(v); });
}

void BM_LfoTick(benchmark::State& state) {
    CUnitLFO<float> lfo;
    lfo.setRandomSeed(1);
    lfo.setShape(CUnitLFO<float>::kTriangle);
    lfo.setRate(8 * 3.7f);
    runPerSample(state, [&](float) { return lfo.tick(); });
}

BENCHMARK(BM_FracDelay)->Arg(0)->Arg(1);
BENCHMARK(BM_VariSpeedDelay)->Arg(0)->Arg(1);
BENCHMARK(BM_VariSpeedStereoRuns)->ArgsProduct({{0, 1}, {512, 4}});
BENCHMARK(BM_EnvelopeFollower)->Arg(0)->Arg(1);
BENCHMARK(BM_CompressorComputeGain)->Arg(0)->Arg(1);
BENCHMARK(BM_DCKiller)->Arg(0)->Arg(1);
BENCHMARK(BM_Decimator)->Arg(0)->Arg(1);
BENCHMARK(BM_LfoTick)->Arg(0);

}  // namespace
}  // namespace kovalith
