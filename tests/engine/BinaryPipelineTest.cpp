// The block pipeline as a host sees it: build/Kovalith.so loaded with dlopen
// and driven through processReplacing, setParameter, the transport and
// effMainsChanged.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <optional>
#include <random>
#include <string>

#include "host/PluginHost.h"
#include "tests/engine/EngineRig.h"

namespace kovalith::test {
namespace {

using host::PluginInstance;
using host::Transport;

constexpr int kMaxBlock = 4096;

class Plugin {
public:
    Plugin() {
        std::string error;
        instance = PluginInstance::load(KOVALITH_PLUGIN_PATH, &error);
        if (!instance) ADD_FAILURE() << error;
        instance->setBlockSize(kMaxBlock);
        instance->resume();
    }

    void set(int index, float v) { instance->setParameter(index, v); }
    // A value as a program stores it: a menu's item number goes to the host
    // interface as the item's position in 0..1.
    void setStored(int index, float v) { set(index, normalisedFromStored(index, v)); }
    void setAll(const std::vector<float>& values) {
        for (int i = 0; i < kNumParams; ++i) setStored(i, values[static_cast<size_t>(i)]);
    }

    // Renders `in` in blocks of `block` samples, moving the transport on after each.
    Stereo render(const Stereo& in, int block) {
        Stereo out(in.size());
        for (size_t n = 0; n < in.size(); n += static_cast<size_t>(block)) {
            const int frames = static_cast<int>(std::min(static_cast<size_t>(block), in.size() - n));
            float* inputs[2] = {const_cast<float*>(in.left.data() + n), const_cast<float*>(in.right.data() + n)};
            float* outputs[2] = {out.left.data() + n, out.right.data() + n};
            EXPECT_TRUE(instance->process(inputs, outputs, frames));
            instance->advance(frames);
        }
        return out;
    }

    std::unique_ptr<PluginInstance> instance;
};

// A random program: continuous values in 0..1, menus and switches on their
// items or, as a chunk may hold them, anywhere in 0..1.
std::vector<float> randomSetting(std::mt19937& rng) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<float> values(kNumParams);
    for (int i = 0; i < kNumParams; ++i) {
        const ParameterInfo& info = kParameterTable[static_cast<size_t>(i)];
        if (info.kind == ParamKind::Continuous || unit(rng) < 0.2f)
            values[static_cast<size_t>(i)] = unit(rng);
        else
            values[static_cast<size_t>(i)] = static_cast<float>(std::uniform_int_distribution<int>(0, info.menuItems - 1)(rng));
    }
    return values;
}

Stereo impulse(size_t frames, size_t at, bool left = true, bool right = true) {
    Stereo s(frames);
    if (left) s.left[at] = 1.0f;
    if (right) s.right[at] = 1.0f;
    return s;
}

// ---- mix and output gain ------------------------------------------------------------

TEST(BinaryPipeline, DryMixAtFullOutputGivesTheInputBitForBit) {
    const Stereo in = testSignal(2 * 44100, 0.7f);
    std::mt19937 rng(5);
    for (int trial = 0; trial < 5 + 8; ++trial) {
        Plugin plugin;
        if (trial < 5)
            plugin.setAll(factoryPreset(trial));
        else
            plugin.setAll(randomSetting(rng));
        plugin.set(kMix, 0.0f);
        plugin.set(kOut, 1.0f);
        const Stereo out = plugin.render(in, 512);
        EXPECT_EQ(out.left, in.left) << "trial " << trial;
        EXPECT_EQ(out.right, in.right) << "trial " << trial;
    }
}

TEST(BinaryPipeline, ZeroOutputGainIsSilence) {
    const Stereo in = testSignal(2 * 44100, 1.0f);
    std::mt19937 rng(6);
    for (int trial = 0; trial < 6; ++trial) {
        Plugin plugin;
        plugin.setAll(trial == 0 ? factoryPreset(0) : randomSetting(rng));
        plugin.set(kOut, 0.0f);
        const Stereo out = plugin.render(in, 256);
        EXPECT_EQ(peak(out.left), 0.0) << trial;
        EXPECT_EQ(peak(out.right), 0.0) << trial;
    }
}

// ---- silence and denormals ----------------------------------------------------------------

TEST(BinaryPipeline, SilenceInWithoutFeedbackIsSilenceOut) {
    for (int preset = 0; preset < kNumFactoryPresets; ++preset) {
        Plugin plugin;
        plugin.setAll(factoryPreset(preset));
        plugin.set(kFeedback, 0.0f);
        plugin.set(kMix, 1.0f);
        const Stereo out = plugin.render(Stereo(44100), 512);
        EXPECT_LT(peak(out.left), 1e-9) << "preset " << preset;
        EXPECT_LT(peak(out.right), 1e-9) << "preset " << preset;
        EXPECT_EQ(countSubnormal(out.left) + countSubnormal(out.right), 0) << "preset " << preset;
    }
}

TEST(BinaryPipeline, LoudThenSilenceDecaysWithoutDenormalsOrNaN) {
    for (int preset = 0; preset < kNumFactoryPresets; ++preset) {
        Plugin plugin;
        plugin.setAll(factoryPreset(preset));
        plugin.set(kFeedback, 0.0f);
        Stereo in(5 * 44100);
        const Stereo loud = testSignal(44100, 4.0f);
        std::copy(loud.left.begin(), loud.left.end(), in.left.begin());
        std::copy(loud.right.begin(), loud.right.end(), in.right.begin());
        const Stereo out = plugin.render(in, 512);
        ASSERT_TRUE(allFinite(out.left) && allFinite(out.right)) << "preset " << preset;
        EXPECT_EQ(countSubnormal(out.left) + countSubnormal(out.right), 0) << "preset " << preset;
        EXPECT_LT(peak(out.left, 4 * 44100), 1e-6) << "preset " << preset;
        EXPECT_LT(peak(out.right, 4 * 44100), 1e-6) << "preset " << preset;
    }
}

TEST(BinaryPipeline, FeedbackTailsStayFiniteAndNormal) {
    for (int preset = 0; preset < kNumFactoryPresets; ++preset) {
        Plugin plugin;
        plugin.setAll(factoryPreset(preset));
        Stereo in(6 * 44100);
        const Stereo loud = testSignal(44100, 2.0f);
        std::copy(loud.left.begin(), loud.left.end(), in.left.begin());
        std::copy(loud.right.begin(), loud.right.end(), in.right.begin());
        const Stereo out = plugin.render(in, 512);
        ASSERT_TRUE(allFinite(out.left) && allFinite(out.right)) << "preset " << preset;
        EXPECT_EQ(countSubnormal(out.left) + countSubnormal(out.right), 0) << "preset " << preset;
    }
}

// ---- resume ------------------------------------------------------------------------------

TEST(BinaryPipeline, ResumeClearsEveryDelayAndFilter) {
    for (const bool resume : {false, true}) {
        Plugin plugin;
        plugin.setAll(factoryPreset(0));
        plugin.set(kDelay, 1.0f);
        plugin.set(kFeedback, 0.8f);
        plugin.set(kMix, 1.0f);
        plugin.render(testSignal(22050, 1.0f), 512);
        if (resume) {
            plugin.instance->suspend();
            plugin.instance->resume();
        }
        const Stereo out = plugin.render(Stereo(2 * 44100), 512);
        if (resume) {
            EXPECT_LT(peak(out.left), 1e-9);
            EXPECT_LT(peak(out.right), 1e-9);
        } else {
            EXPECT_GT(peak(out.left), 1e-2) << "without a resume the echo of the loud passage returns";
        }
    }
}

// ---- the delay ------------------------------------------------------------------------------

// An impulse through a clean chain with the delay at `seconds`. The line
// realises its time plus one sample, and the return enters the input one sample
// after the line's output: the echo lies two samples beyond the time set.
//
// The decimator at step 1 takes every second sample (from the second after a
// reset on) and holds it for one more with 0.98: an impulse on a sample it takes
// leaves the wet path as the pair 1, 0.98, and an echo an even number of samples
// later is taken the same way, so it repeats that pair exactly. The offset is
// measured between the centres of the echo and of the direct pulse.
constexpr size_t kImpulseAt = 1001;  // a sample the decimator takes

struct Echo {
    double offset = 0.0;  // samples from the direct pulse's centre to the echo's
    Stereo out;
};

Echo echoOf(std::optional<Transport> transport, float seconds, float sync, bool pingPong) {
    Plugin plugin;
    plugin.instance->setTransport(transport);
    setCleanChain(plugin);
    plugin.set(kDelay, seconds);
    plugin.setStored(kDelaySync, sync);
    plugin.set(kDelayStereoMult, 0.0f);
    plugin.set(kFeedback, 0.5f);
    plugin.set(kPingPong, pingPong ? 1.0f : 0.0f);
    Echo echo;
    echo.out = plugin.render(impulse(48000, kImpulseAt, true, false), 512);
    const std::vector<float>& echoSide = pingPong ? echo.out.right : echo.out.left;
    size_t top = kImpulseAt + 100;
    for (size_t n = kImpulseAt + 100; n < echo.out.size(); ++n)
        if (std::fabs(echoSide[n]) > std::fabs(echoSide[top])) top = n;
    const double direct = centroid(echo.out.left, kImpulseAt - 3, kImpulseAt + 4);
    echo.offset = centroid(echoSide, top - 3, top + 4) - direct;
    return echo;
}

TEST(BinaryPipeline, TempoSyncedEchoLandsOnTheGrid) {
    // 120 bpm, "1/4": 0.4 s (17640 samples) rounds up to 4 units of 5512.5 = 22050 samples.
    EXPECT_NEAR(echoOf(Transport{120.0, 0.0, true, 0.0}, 0.4f, 4.0f, false).offset, 22050.0 + 2.0, 0.02);
    // Free, 0.3 s is 13229 samples (as the float product 0.3f * 44100 - 1 rounds) plus one.
    const double a = static_cast<float>(static_cast<double>(0.3f) * 44100.0 - 1.0);
    EXPECT_NEAR(echoOf(Transport{120.0, 0.0, true, 0.0}, 0.3f, 0.0f, false).offset, a + 3.0, 0.02);
    // Without time information the grid is that of 120 bpm.
    EXPECT_NEAR(echoOf(std::nullopt, 0.4f, 4.0f, false).offset, 22050.0 + 2.0, 0.02);
    // At 90 bpm "1/4" is 7350 samples: 0.3 s takes two units.
    EXPECT_NEAR(echoOf(Transport{90.0, 0.0, true, 0.0}, 0.3f, 4.0f, false).offset, 14700.0 + 2.0, 0.02);
}

TEST(BinaryPipeline, EchoAmplitudeIsTheFeedbackGain) {
    const Echo echo = echoOf(Transport{120.0, 0.0, true, 0.0}, 0.4f, 4.0f, false);
    const auto sum = [&](size_t from) {
        return std::accumulate(echo.out.left.begin() + static_cast<long>(from),
                               echo.out.left.begin() + static_cast<long>(from + 20), 0.0);
    };
    // The direct pulse is 1 + 0.98; its echo carries the feedback gain.
    EXPECT_NEAR(sum(kImpulseAt - 5), 1.98, 0.02);
    EXPECT_NEAR(sum(kImpulseAt + 22052 - 5) / sum(kImpulseAt - 5), 0.5, 0.01);
}

TEST(BinaryPipeline, PingPongSwapsTheEchoChannel) {
    const Echo normal = echoOf(std::nullopt, 0.4f, 4.0f, false);
    const Echo crossed = echoOf(std::nullopt, 0.4f, 4.0f, true);
    EXPECT_NEAR(normal.offset, crossed.offset, 0.02);
    const size_t from = kImpulseAt + 21500, to = kImpulseAt + 22500;
    EXPECT_GT(peak(normal.out.left, from, to), 0.2);
    EXPECT_LT(peak(normal.out.right, from, to), 1e-3);
    EXPECT_LT(peak(crossed.out.left, from, to), 1e-3);
    EXPECT_GT(peak(crossed.out.right, from, to), 0.2);
    // The second echo comes back to the side it started from.
    EXPECT_GT(peak(crossed.out.left, from + 22052, to + 22052), 0.05);
}

// ---- block sizes ------------------------------------------------------------------------------

// Rubber Boots without its tempo-synced LFO, whose phase follows the host
// position at every call.
Stereo renderRubberBoots(int block, const Stereo& in, bool centredMatrix = false) {
    Plugin plugin;
    plugin.setAll(factoryPreset(0));
    plugin.set(kLfo2Sync, 0.0f);
    plugin.set(kFeedback, 0.6f);
    if (centredMatrix)
        for (int i = kEnvToSWarp; i <= kLfo2ToFbCutoff; ++i) plugin.set(i, 0.5f);
    return plugin.render(in, block);
}

TEST(BinaryPipeline, BlocksOfWholeControlStepsGiveIdenticalOutput) {
    const Stereo in = testSignal(3 * 44100, 0.8f);
    const Stereo reference = renderRubberBoots(4096, in);
    ASSERT_TRUE(allFinite(reference.left));
    for (const int block : {8, 64, 512, 1024 + 8}) {
        const Stereo out = renderRubberBoots(block, in);
        EXPECT_EQ(out.left, reference.left) << "block " << block;
        EXPECT_EQ(out.right, reference.right) << "block " << block;
    }
}

TEST(BinaryPipeline, ShortBlocksStayFiniteAndClose) {
    const Stereo in = testSignal(2 * 44100, 0.8f);
    const Stereo reference = renderRubberBoots(512, in, true);
    const double level = rms(reference.left);
    // Blocks of one sample make every sample a control step, so the lattices
    // glide eight times as fast; blocks of 7 or 13 only shorten some steps.
    const struct {
        int block;
        double difference;
    } cases[] = {{1, 0.35}, {7, 0.06}, {13, 0.06}};
    for (const auto& c : cases) {
        const Stereo out = renderRubberBoots(c.block, in, true);
        ASSERT_TRUE(allFinite(out.left) && allFinite(out.right)) << c.block;
        EXPECT_LT(rmsDifference(out.left, reference.left), c.difference * level) << "block " << c.block;
        EXPECT_NEAR(rms(out.left), level, 0.05 * level) << "block " << c.block;
    }
}

// ---- bad calls --------------------------------------------------------------------------------

TEST(BinaryPipeline, EmptyBlocksAndNullBuffersDoNothingHarmful) {
    Plugin plugin;
    vst2::AEffect* effect = plugin.instance->effect();
    Stereo in = testSignal(64), out(64);
    std::fill(out.left.begin(), out.left.end(), 7.0f);
    std::fill(out.right.begin(), out.right.end(), 7.0f);
    float* inputs[2] = {in.left.data(), in.right.data()};
    float* outputs[2] = {out.left.data(), out.right.data()};
    plugin.instance->setTransport(Transport{});
    plugin.instance->clearRecord();
    effect->processReplacing(effect, inputs, outputs, 0);
    effect->processReplacing(effect, inputs, outputs, -64);
    EXPECT_EQ(plugin.instance->counters().getTime, 0) << "no block, no time request";
    EXPECT_EQ(peak(out.left), 7.0);
    EXPECT_EQ(*std::min_element(out.left.begin(), out.left.end()), 7.0f);

    float* nullChannel[2] = {in.left.data(), nullptr};
    effect->processReplacing(effect, nullptr, outputs, 64);
    effect->processReplacing(effect, nullChannel, outputs, 64);
    effect->processReplacing(effect, inputs, nullptr, 64);
    effect->processReplacing(effect, inputs, nullChannel, 64);
    for (const float x : out.left) EXPECT_TRUE(x == 0.0f || x == 7.0f);
    // And the effect carries on normally.
    effect->processReplacing(effect, inputs, outputs, 64);
    EXPECT_TRUE(allFinite(out.left) && allFinite(out.right));
    EXPECT_GT(peak(out.left), 1e-3);
}

}  // namespace
}  // namespace kovalith::test
