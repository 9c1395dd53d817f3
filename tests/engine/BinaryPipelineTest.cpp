// The block pipeline as a host sees it: build/Kovalith.so loaded with dlopen
// and driven through processReplacing, setParameter, the transport and
// effMainsChanged.
#include <gtest/gtest.h>

#include <cmath>
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
    void setAll(const std::vector<float>& values) {
        for (int i = 0; i < kNumParams; ++i) set(i, values[static_cast<size_t>(i)]);
    }
    void cleanChain() {
        set(kARes, 0.0f);
        set(kSRes, 0.0f);
        set(kBlockSize, 0.0f);
        set(kNumStages, 0.0f);
        set(kDecimation, 0.0f);
        set(kSaturation, 0.0f);
        set(kFilterType, 0.7f);  // peaking with gain 1: flat
        set(kResonance, 0.5f);
        set(kCompressorType, 0.0f);
        set(kMix, 1.0f);
        set(kOut, 1.0f);
        for (int i = kEnvToSWarp; i <= kLfo2ToFbCutoff; ++i) set(i, 0.5f);
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

// A random setting a host can reach: continuous values in 0..1, menus and
// switches on their items or, as an automating host sends them, anywhere in 0..1.
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

// An impulse through a clean chain with the delay at 0.3 s. The line realises
// its time plus one sample, and the return enters the input one sample after
// the line's output: the echo's centre lies two samples beyond the time set.
double echoOffset(std::optional<Transport> transport, float sync, bool pingPong, Stereo* result = nullptr) {
    Plugin plugin;
    plugin.instance->setTransport(transport);
    plugin.cleanChain();
    plugin.set(kDelay, 0.3f);
    plugin.set(kDelaySync, sync);
    plugin.set(kDelayStereoMult, 0.0f);
    plugin.set(kFeedback, 0.5f);
    plugin.set(kPingPong, pingPong ? 1.0f : 0.0f);
    constexpr size_t at = 1000;
    const Stereo out = plugin.render(impulse(40000, at, true, false), 512);
    if (result) *result = out;
    const std::vector<float>& echoSide = pingPong ? out.right : out.left;
    size_t top = at + 100;
    for (size_t n = at + 100; n < out.size(); ++n)
        if (std::fabs(echoSide[n]) > std::fabs(echoSide[top])) top = n;
    return centroid(echoSide, top - 3, top + 4) - static_cast<double>(at);
}

TEST(BinaryPipeline, TempoSyncedEchoLandsOnTheGrid) {
    // 120 bpm, "1/4": 0.3 s (13230 samples) rounds up to 3 units of 5512.5 = 16537.5 samples.
    const double offset = echoOffset(Transport{120.0, 0.0, true, 0.0}, 4.0f, false);
    EXPECT_NEAR(offset, 16537.5 + 2.0, 0.02);
    // Free, the same time is 13230 samples (as the float product 0.3f * 44100 - 1 rounds).
    const double a = static_cast<float>(static_cast<double>(0.3f) * 44100.0 - 1.0);
    EXPECT_NEAR(echoOffset(Transport{120.0, 0.0, true, 0.0}, 0.0f, false), a + 3.0, 0.02);
    // Without time information the grid is that of 120 bpm.
    EXPECT_NEAR(echoOffset(std::nullopt, 4.0f, false), 16537.5 + 2.0, 0.02);
    // At 90 bpm "1/4" is 7350 samples: two units.
    EXPECT_NEAR(echoOffset(Transport{90.0, 0.0, true, 0.0}, 4.0f, false), 14700.0 + 2.0, 0.02);
}

TEST(BinaryPipeline, EchoAmplitudeIsTheFeedbackGain) {
    Stereo out;
    echoOffset(Transport{120.0, 0.0, true, 0.0}, 4.0f, false, &out);
    double sum = 0.0;
    for (size_t n = 1000 + 16530; n < 1000 + 16550; ++n) sum += out.left[n];
    EXPECT_NEAR(sum, 0.5, 0.01);
}

TEST(BinaryPipeline, PingPongSwapsTheEchoChannel) {
    Stereo normal, crossed;
    const double normalOffset = echoOffset(std::nullopt, 4.0f, false, &normal);
    const double crossedOffset = echoOffset(std::nullopt, 4.0f, true, &crossed);
    EXPECT_NEAR(normalOffset, crossedOffset, 0.02);
    const size_t from = 1000 + 16000, to = 1000 + 17000;
    EXPECT_GT(peak(normal.left, from, to), 0.2);
    EXPECT_LT(peak(normal.right, from, to), 1e-3);
    EXPECT_LT(peak(crossed.left, from, to), 1e-3);
    EXPECT_GT(peak(crossed.right, from, to), 0.2);
    // The second echo comes back to the side it started from.
    EXPECT_GT(peak(crossed.left, from + 16537, to + 16537), 0.05);
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
