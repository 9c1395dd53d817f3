// The CLAP plug-in's processing beside the VST 2.4 plug-in's, each loaded from
// its module as a host loads it: build/Kovalith.clap through clap_plugin.process
// (the small CLAP host of the tests), build/Kovalith.so through processReplacing
// (kovalith_hostlib). Same program, same signal, same blocks, no time
// information; the CLAP figures are stated as a ratio to the VST 2.4 figures of
// the same run (see bench/README.md for how the best of interleaved
// repetitions is taken on this shared machine).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "host/PluginHost.h"
#include "tests/clap/ClapHost.h"

namespace {

constexpr double kRate = 44100.0;
constexpr int kSignalFrames = 1 << 18;  // about six seconds, played in a loop
constexpr size_t kBankSize = 24576;

// Noise bursts over a chord, as in bench_engine.
struct Signal {
    Signal() : left(kSignalFrames), right(kSignalFrames) {
        std::mt19937 rng(9);
        std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
        for (int n = 0; n < kSignalFrames; ++n) {
            const double t = n / kRate;
            const double chord = 0.3 * std::sin(2 * M_PI * 220 * t) + 0.2 * std::sin(2 * M_PI * 277.2 * t);
            const double burst = 0.5 * std::exp(-20.0 * std::fmod(t, 0.5));
            left[n] = static_cast<float>(chord + burst * noise(rng));
            right[n] = static_cast<float>(0.8 * chord + burst * noise(rng));
        }
    }
    std::vector<float> left, right;
};

const Signal& music() {
    static const Signal signal;
    return signal;
}

template <typename F>
void loop(benchmark::State& state, int frames, F&& block) {
    int position = 0;
    const auto next = [&] {
        if (position + frames > kSignalFrames) position = 0;
        block(position);
        position += frames;
    };
    for (int n = 0; n < 44100; n += frames) next();  // past the first analysis blocks
    for (auto _ : state) next();
    const double seconds = static_cast<double>(state.iterations()) * frames / kRate;
    state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
}

// Args: factory preset, block size.
void BM_Vst2(benchmark::State& state) {
    const int preset = static_cast<int>(state.range(0)), frames = static_cast<int>(state.range(1));
    std::string error;
    auto plugin = kovalith::host::PluginInstance::load(KOVALITH_VST2, &error);
    if (!plugin) return state.SkipWithError(error.c_str());
    plugin->setSampleRate(kRate);
    plugin->setBlockSize(frames);
    plugin->setProgram(preset);
    std::vector<float> l(static_cast<size_t>(frames)), r(static_cast<size_t>(frames));
    float* out[2] = {l.data(), r.data()};
    const Signal& s = music();
    loop(state, frames, [&](int position) {
        float* in[2] = {const_cast<float*>(s.left.data() + position), const_cast<float*>(s.right.data() + position)};
        plugin->process(in, out, frames);
        benchmark::DoNotOptimize(l[0]);
    });
}

void BM_Clap(benchmark::State& state) {
    const int preset = static_cast<int>(state.range(0)), frames = static_cast<int>(state.range(1));
    std::string error;
    std::unique_ptr<claptest::ClapModule> module = claptest::ClapModule::open(KOVALITH_CLAP, &error);
    if (!module) return state.SkipWithError(error.c_str());
    auto plugin = claptest::ClapInstance::create(*module, "audio.kovalith.kovalith", &error);
    if (!plugin) return state.SkipWithError(error.c_str());
    plugin->activate(kRate, 1, static_cast<uint32_t>(frames));
    std::vector<uint8_t> bytes = *plugin->saveState();
    bytes[kBankSize + 4] = static_cast<uint8_t>(preset);
    if (!plugin->loadState(bytes)) return state.SkipWithError("the state was refused");
    std::vector<float> l(static_cast<size_t>(frames)), r(static_cast<size_t>(frames));
    float* out[2] = {l.data(), r.data()};
    const Signal& s = music();
    const claptest::EventList none;
    loop(state, frames, [&](int position) {
        const float* in[2] = {s.left.data() + position, s.right.data() + position};
        plugin->process(in, out, static_cast<uint32_t>(frames), &none, nullptr);
        benchmark::DoNotOptimize(l[0]);
    });
}

BENCHMARK(BM_Vst2)->ArgsProduct({{0, 4}, {64, 512}});
BENCHMARK(BM_Clap)->ArgsProduct({{0, 4}, {64, 512}});

}  // namespace
