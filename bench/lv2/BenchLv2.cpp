// The LV2 plug-in against the VST 2.4 plug-in, both through their binary
// interfaces, at blocks of 64 frames: what the LV2 shell adds (events, port
// comparisons, notifications) is the difference of the two.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "host/PluginHost.h"
#include "tests/lv2/Lv2TestHost.h"

namespace {

constexpr int kBlock = 64;
constexpr double kRate = 44100.0;

struct Signal {
    std::vector<float> left, right, outLeft, outRight;
    Signal() : left(kBlock), right(kBlock), outLeft(kBlock), outRight(kBlock) {
        uint32_t seed = 1;
        for (int i = 0; i < kBlock; ++i) {
            seed = seed * 1664525u + 1013904223u;
            left[i] = static_cast<float>(seed >> 8) / 16777216.0f - 0.5f;
            right[i] = -left[i];
        }
    }
};

void BM_Vst2Block64(benchmark::State& state) {
    auto plugin = kovalith::host::PluginInstance::load(KOVALITH_PLUGIN);
    if (!plugin) {
        state.SkipWithError("cannot load " KOVALITH_PLUGIN);
        return;
    }
    plugin->setSampleRate(kRate);
    plugin->setBlockSize(kBlock);
    plugin->resume();
    Signal s;
    float* in[2] = {s.left.data(), s.right.data()};
    float* out[2] = {s.outLeft.data(), s.outRight.data()};
    for (auto _ : state) {
        plugin->process(in, out, kBlock);
        benchmark::DoNotOptimize(s.outLeft.data());
    }
}
BENCHMARK(BM_Vst2Block64)->MinTime(2.0);

void BM_Lv2Block64(benchmark::State& state) {
    lv2test::Bundle bundle(KOVALITH_LV2_BUNDLE);
    lv2test::UridMap urids;
    if (!bundle.plugin()) {
        state.SkipWithError("no plug-in in " KOVALITH_LV2_BUNDLE);
        return;
    }
    lv2test::Instance plugin(bundle, urids, kRate);
    Signal s;
    for (auto _ : state) {
        plugin.run(s.left.data(), s.right.data(), s.outLeft.data(), s.outRight.data(), kBlock);
        benchmark::DoNotOptimize(s.outLeft.data());
    }
}
BENCHMARK(BM_Lv2Block64)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
