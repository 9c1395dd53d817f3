// Randomised soak: whatever a host can reach through parameters within their
// ranges, automation between blocks, programs and accepted chunks included,
// the output stays finite, and the effect sounds normal again once a sane
// program is back.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "host/PluginHost.h"
#include "tests/engine/EngineRig.h"

namespace kovalith::test {
namespace {

using host::PluginInstance;

#if defined(__SANITIZE_ADDRESS__)
constexpr int kSettings = 50;  // the sanitizer build runs unoptimised
#else
constexpr int kSettings = 300;
#endif

std::unique_ptr<PluginInstance> loadPlugin() {
    std::string error;
    auto plugin = PluginInstance::load(KOVALITH_PLUGIN_PATH, &error);
    if (!plugin) ADD_FAILURE() << error;
    plugin->setBlockSize(2048);
    plugin->resume();
    return plugin;
}

float randomValue(std::mt19937& rng, int index) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const ParameterInfo& info = kParameterTable[static_cast<size_t>(index)];
    // Menus and switches on their items, or swept through 0..1 by an automating host.
    if (info.kind == ParamKind::Continuous || unit(rng) < 0.25f) {
        // The ends of the range are where recursions are nearest their limits.
        const float u = unit(rng);
        return u < 0.1f ? 0.0f : (u > 0.9f ? 1.0f : unit(rng));
    }
    // An item as the host sends it: a menu's position in 0..1.
    const int item = std::uniform_int_distribution<int>(0, info.menuItems - 1)(rng);
    return normalisedFromStored(index, static_cast<float>(item));
}

// Renders `frames` of a signal that moves between silence, ordinary and very
// loud passages; answers whether every output sample was finite.
bool renderStretch(PluginInstance& plugin, const Stereo& source, size_t& cursor, int frames, float gain,
                   double* level = nullptr) {
    Stereo out(static_cast<size_t>(frames));
    std::vector<float> inL(static_cast<size_t>(frames)), inR(static_cast<size_t>(frames));
    for (int n = 0; n < frames; ++n) {
        inL[static_cast<size_t>(n)] = gain * source.left[cursor];
        inR[static_cast<size_t>(n)] = gain * source.right[cursor];
        cursor = (cursor + 1) % source.size();
    }
    float* in[2] = {inL.data(), inR.data()};
    float* outputs[2] = {out.left.data(), out.right.data()};
    plugin.process(in, outputs, frames);
    if (level) *level = rms(out.left) + rms(out.right);
    return allFinite(out.left) && allFinite(out.right);
}

TEST(Soak, RandomSettingsAndAutomationKeepTheOutputFinite) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    std::mt19937 rng(20240611);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const Stereo source = testSignal(44100, 1.0f, 99);
    size_t cursor = 0;
    for (int setting = 0; setting < kSettings; ++setting) {
        for (int i = 0; i < kNumParams; ++i) plugin->setParameter(i, randomValue(rng, i));
        for (int block = 0; block < 8; ++block) {
            // Automation: a few parameters move between blocks.
            const int moves = std::uniform_int_distribution<int>(0, 4)(rng);
            for (int k = 0; k < moves; ++k) {
                const int index = std::uniform_int_distribution<int>(0, kNumParams - 1)(rng);
                plugin->setParameter(index, randomValue(rng, index));
            }
            const int frames = std::uniform_int_distribution<int>(1, 1024)(rng);
            const float u = unit(rng);
            const float gain = u < 0.2f ? 0.0f : (u > 0.9f ? 8.0f : 1.0f);
            ASSERT_TRUE(renderStretch(*plugin, source, cursor, frames, gain))
                << "setting " << setting << " block " << block;
        }
        // Undo: back to the factory sound (the edits live in the current
        // program, so its values are sent one by one), which must work as before.
        if (setting % 25 == 24) {
            const std::vector<float> boots = factoryPreset(0);
            for (int i = 0; i < kNumParams; ++i)
                plugin->setParameter(i, normalisedFromStored(i, boots[static_cast<size_t>(i)]));
            double level = 0.0;
            for (int k = 0; k < 8; ++k) ASSERT_TRUE(renderStretch(*plugin, source, cursor, 1024, 1.0f));
            ASSERT_TRUE(renderStretch(*plugin, source, cursor, 2048, 1.0f, &level));
            EXPECT_GT(level, 1e-3) << "after setting " << setting;
            EXPECT_LT(level, 10.0) << "after setting " << setting;
        }
    }
}

// A program record as a host might restore it: any bit pattern in the values.
void fillRandomRecord(ProgramRecord& record, std::mt19937& rng) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::uniform_real_distribution<float> wide(-1.0e6f, 1.0e6f);
    const float special[] = {FLT_MAX, -FLT_MAX, 1.0e30f, -1.0e30f, FLT_MIN, -FLT_MIN, 1e-45f,
                             std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity(), 13.0f, 15.0f, -1.0f, 1000.0f};
    initDefaultProgram(record);
    for (int i = 0; i < kNumParams; ++i) {
        const float u = unit(rng);
        float& v = record.params[i];
        if (u < 0.4f)
            v = unit(rng);
        else if (u < 0.6f)
            v = wide(rng);
        else if (u < 0.8f)
            v = special[std::uniform_int_distribution<size_t>(0, std::size(special) - 1)(rng)];
        else {
            uint32_t bits = static_cast<uint32_t>(rng());
            std::memcpy(&v, &bits, sizeof v);
        }
        record.midiMap[i] = static_cast<int32_t>(rng() % 300) - 100;
    }
}

TEST(Soak, AcceptedChunksKeepTheOutputFinite) {
    auto plugin = loadPlugin();
    ASSERT_TRUE(plugin);
    std::mt19937 rng(77);
    const Stereo source = testSignal(44100, 1.0f, 5);
    size_t cursor = 0;
    const int trials = kSettings / 3;
    for (int trial = 0; trial < trials; ++trial) {
        std::vector<uint8_t> bytes;
        if (trial % 10 == 9) {
            auto bank = std::make_unique<ProgramBank>();
            for (ProgramRecord& record : bank->programs) fillRandomRecord(record, rng);
            const auto* raw = reinterpret_cast<const uint8_t*>(bank.get());
            bytes.assign(raw, raw + sizeof(ProgramBank));
            ASSERT_TRUE(plugin->setChunk(bytes, false));
            plugin->setProgram(static_cast<int>(rng() % kNumPrograms));
        } else {
            ProgramRecord record;
            fillRandomRecord(record, rng);
            const auto* raw = reinterpret_cast<const uint8_t*>(&record);
            bytes.assign(raw, raw + sizeof(ProgramRecord));
            ASSERT_TRUE(plugin->setChunk(bytes, true));
        }
        for (int block = 0; block < 6; ++block)
            ASSERT_TRUE(renderStretch(*plugin, source, cursor, 1 + static_cast<int>(rng() % 1024), block % 3 ? 1.0f : 8.0f))
                << "chunk " << trial << " block " << block;
    }
    // A sane program afterwards sounds as it should.
    ProgramRecord sane;
    initDefaultProgram(sane);
    const std::vector<float> boots = factoryPreset(0);
    std::copy(boots.begin(), boots.end(), sane.params);
    const auto* raw = reinterpret_cast<const uint8_t*>(&sane);
    ASSERT_TRUE(plugin->setChunk(std::vector<uint8_t>(raw, raw + sizeof sane), true));
    double level = 0.0;
    for (int k = 0; k < 8; ++k) ASSERT_TRUE(renderStretch(*plugin, source, cursor, 1024, 1.0f));
    ASSERT_TRUE(renderStretch(*plugin, source, cursor, 2048, 1.0f, &level));
    EXPECT_GT(level, 1e-3);
    EXPECT_LT(level, 10.0);
}

}  // namespace
}  // namespace kovalith::test
