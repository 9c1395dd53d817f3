// The LV2 bundle as hosts see it, loaded through lilv: its description, its
// output against the VST 2.4 plug-in's bit for bit, its ports, MIDI learn and
// its state.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "effect/KovalithEffect.h"
#include "effect/Parameters.h"
#include "host/PluginHost.h"
#include "lv2/Lv2Messages.h"
#include "lv2/Lv2Ports.h"
#include "lv2/Lv2Uris.h"
#include "tests/lv2/Lv2TestHost.h"

#include <lv2/time/time.h>

namespace {

using namespace kovalith;
using kovalith::host::PluginInstance;
using kovalith::host::Transport;
using lv2test::Bundle;
using lv2test::Instance;

constexpr double kRate = 44100.0;
constexpr uint32_t kFrames = 44100;

struct Stereo {
    std::vector<float> left, right;
    explicit Stereo(std::size_t frames = kFrames) : left(frames), right(frames) {}
    bool operator==(const Stereo& other) const {
        // Bit for bit: memcmp, so that NaNs and signed zeros count too.
        return left.size() == other.left.size() &&
               std::memcmp(left.data(), other.left.data(), left.size() * sizeof(float)) == 0 &&
               std::memcmp(right.data(), other.right.data(), right.size() * sizeof(float)) == 0;
    }
};

// Noise with a low tone in it, different on each side.
Stereo testSignal() {
    Stereo signal;
    uint32_t seed = 12345;
    for (uint32_t i = 0; i < kFrames; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const float noise = static_cast<float>(seed >> 8) / 16777216.0f - 0.5f;
        const float tone = static_cast<float>(std::sin(2.0 * 3.141592653589793 * 110.0 * i / kRate));
        signal.left[i] = 0.3f * tone + 0.2f * noise;
        signal.right[i] = 0.25f * tone - 0.2f * noise;
    }
    return signal;
}

class Lv2Plugin : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bundle.plugin()) << "lilv finds no plug-in in " << KOVALITH_LV2_BUNDLE;
        newVst();
    }
    // A new VST 2.4 instance in `vst`.
    void newVst() {
        std::string error;
        vst.reset();
        vst = PluginInstance::load(KOVALITH_PLUGIN, &error);
        ASSERT_TRUE(vst) << error;
        vst->setSampleRate(kRate);
    }

    std::unique_ptr<Instance> instance(bool misalignAtoms = false) {
        auto lv2 = std::make_unique<Instance>(bundle, urids, kRate, misalignAtoms);
        EXPECT_TRUE(*lv2);
        return lv2;
    }
    static std::string presetUri(int program) {
        char uri[128];
        std::snprintf(uri, sizeof uri, "%s%02d", lv2::kPresetUriPrefix, program);
        return uri;
    }

    // Both plug-ins render `input` in blocks; before block b, `before(b)` may change either.
    Stereo renderVst(const Stereo& input, uint32_t block, const std::function<void(uint32_t)>& before = {}) {
        vst->setBlockSize(static_cast<int>(block));
        vst->resume();
        Stereo out(input.left.size());
        for (uint32_t start = 0, b = 0; start < input.left.size(); start += block, ++b) {
            if (before) before(b);
            const uint32_t n = std::min<uint32_t>(block, static_cast<uint32_t>(input.left.size()) - start);
            float* in[2] = {const_cast<float*>(&input.left[start]), const_cast<float*>(&input.right[start])};
            float* outs[2] = {&out.left[start], &out.right[start]};
            vst->process(in, outs, static_cast<int>(n));
            vst->advance(static_cast<int>(n));
        }
        return out;
    }
    static Stereo renderLv2(Instance& lv2, const Stereo& input, uint32_t block, bool inPlace = false,
                            const std::function<void(uint32_t)>& before = {}) {
        Stereo out = input;
        for (uint32_t start = 0, b = 0; start < input.left.size(); start += block, ++b) {
            if (before) before(b);
            const uint32_t n = std::min<uint32_t>(block, static_cast<uint32_t>(input.left.size()) - start);
            if (inPlace) {
                lv2.run(&out.left[start], &out.right[start], &out.left[start], &out.right[start], n);
            } else {
                lv2.run(&input.left[start], &input.right[start], &out.left[start], &out.right[start], n);
            }
        }
        return out;
    }

    std::vector<uint8_t> lv2State(Instance& lv2) {
        const Instance::Properties saved = lv2.save();
        auto found = saved.find(urids.map(lv2::kStateKey));
        return found == saved.end() ? std::vector<uint8_t>{} : found->second.second;
    }
    Instance::Properties stateProperties(const std::vector<uint8_t>& bytes, const char* type = LV2_ATOM__Chunk) {
        return {{urids.map(lv2::kStateKey), {urids.map(type), bytes}}};
    }
    // What a host does when it reopens a session: the saved port values into the new instance's ports.
    static void copyPorts(Instance& from, Instance& to) {
        for (int index = 0; index < kNumParams; ++index) {
            const ParameterDescription& d = describeParameter(index);
            if (d.exposed) to.control(d.symbol) = from.control(d.symbol);
        }
    }
    static float recordValue(const std::vector<uint8_t>& state, int program, int index) {
        float value = 0.0f;
        std::memcpy(&value, state.data() + sizeof(ProgramRecord) * program + sizeof(float) * index, sizeof value);
        return value;
    }

    Bundle bundle{KOVALITH_LV2_BUNDLE};
    lv2test::UridMap urids;
    std::unique_ptr<PluginInstance> vst;
    const Stereo input = testSignal();
};

TEST_F(Lv2Plugin, DescribesEveryExposedParameterAndEveryProgram) {
    const LilvPlugin* plugin = bundle.plugin();
    int exposed = 0;
    for (int index = 0; index < kNumParams; ++index) exposed += describeParameter(index).exposed ? 1 : 0;
    ASSERT_EQ(lilv_plugin_get_num_ports(plugin), lv2::kFirstParameterPort + static_cast<uint32_t>(exposed));

    LilvNode* enumeration = lilv_new_uri(bundle.world(), LV2_CORE__enumeration);
    for (int index = 0; index < kNumParams; ++index) {
        const ParameterDescription& d = describeParameter(index);
        SCOPED_TRACE(d.name);
        const uint32_t portIndex = lv2::portOfParameter(index);
        ASSERT_EQ(portIndex == lv2::kNoPort, !d.exposed);
        if (!d.exposed) continue;
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, portIndex);
        EXPECT_STREQ(lilv_node_as_string(lilv_port_get_symbol(plugin, port)), d.symbol);
        LilvNode* name = lilv_port_get_name(plugin, port);
        EXPECT_STREQ(lilv_node_as_string(name), d.name);
        lilv_node_free(name);
        LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
        lilv_port_get_range(plugin, port, &def, &min, &max);
        // A new instance's ports read as the program a new VST 2.4 instance starts on.
        EXPECT_EQ(lilv_node_as_float(def), plainFromStored(index, storedFromNormalised(index, vst->getParameter(index))));
        EXPECT_EQ(lilv_node_as_float(min), 0.0f);
        EXPECT_EQ(lilv_node_as_float(max), plainMaximum(index));
        lilv_node_free(def);
        lilv_node_free(min);
        lilv_node_free(max);
        EXPECT_EQ(lilv_port_has_property(plugin, port, enumeration), d.items > 0);
        LilvScalePoints* points = lilv_port_get_scale_points(plugin, port);
        EXPECT_EQ(points ? static_cast<int>(lilv_scale_points_size(points)) : 0, d.items);
        LILV_FOREACH(scale_points, i, points) {
            const LilvScalePoint* point = lilv_scale_points_get(points, i);
            const int item = static_cast<int>(lilv_node_as_float(lilv_scale_point_get_value(point)));
            const char* label = d.labels ? d.labels[item] : (item ? "on" : "off");
            EXPECT_STREQ(lilv_node_as_string(lilv_scale_point_get_label(point)), label);
        }
        lilv_scale_points_free(points);
    }
    lilv_node_free(enumeration);

    const auto presets = bundle.presets();
    const std::vector<std::string> names = vst->programNames();
    ASSERT_EQ(presets.size(), names.size());
    for (std::size_t program = 0; program < presets.size(); ++program) {
        EXPECT_EQ(presets[program].first, presetUri(static_cast<int>(program)));
        EXPECT_EQ(presets[program].second, names[program]);
    }
}

TEST_F(Lv2Plugin, FactoryProgramsRenderAsTheVst2PluginsBitForBit) {
    for (int program = 0; program < kNumFactoryPresets; ++program) {
        SCOPED_TRACE("program " + std::to_string(program));
        newVst();
        vst->setProgram(program);
        const Stereo expected = renderVst(input, 512);
        auto lv2 = instance();
        ASSERT_TRUE(lv2->applyPreset(presetUri(program)));
        EXPECT_TRUE(renderLv2(*lv2, input, 512) == expected);
    }
    // In place, as hosts may run it, and with odd blocks.
    newVst();
    vst->setProgram(2);
    const Stereo expected = renderVst(input, 333);
    auto lv2 = instance();
    lv2->applyPreset(presetUri(2));
    EXPECT_TRUE(renderLv2(*lv2, input, 333, true) == expected);
}

TEST_F(Lv2Plugin, TheHostsTempoAndPositionDriveTheSyncedLfosAsInTheVst2Plugin) {
    // "Rubber Boots" syncs both LFOs. LV2 hosts send the position when it changes; the plug-in counts on.
    vst->setProgram(0);
    vst->setTransport(Transport{100.0, 0.0, true, 0.0});
    const Stereo expected = renderVst(input, 256);
    auto lv2 = instance();
    lv2->applyPreset(presetUri(0));
    Stereo out = renderLv2(*lv2, input, 256, false, [&](uint32_t block) {
        if (block != 0) return;
        LV2_Atom_Forge& forge = lv2->eventForge();
        LV2_Atom_Forge_Frame frame;
        lv2_atom_forge_object(&forge, &frame, 0, urids.map(LV2_TIME__Position));
        lv2_atom_forge_key(&forge, urids.map(LV2_TIME__speed));
        lv2_atom_forge_float(&forge, 1.0f);
        lv2_atom_forge_key(&forge, urids.map(LV2_TIME__beatsPerMinute));
        lv2_atom_forge_float(&forge, 100.0f);
        lv2_atom_forge_key(&forge, urids.map(LV2_TIME__bar));
        lv2_atom_forge_long(&forge, 0);
        lv2_atom_forge_key(&forge, urids.map(LV2_TIME__barBeat));
        lv2_atom_forge_float(&forge, 0.0f);
        lv2_atom_forge_key(&forge, urids.map(LV2_TIME__beatsPerBar));
        lv2_atom_forge_float(&forge, 4.0f);
        lv2_atom_forge_key(&forge, urids.map(LV2_TIME__beatUnit));
        lv2_atom_forge_int(&forge, 4);
        lv2_atom_forge_pop(&forge, &frame);
    });
    EXPECT_TRUE(out == expected);
    // Without the position the output is another one: the test can tell.
    auto unsynced = instance();
    unsynced->applyPreset(presetUri(0));
    EXPECT_FALSE(renderLv2(*unsynced, input, 256) == expected);
}

TEST_F(Lv2Plugin, PortChangesReachTheEffectAsTheVst2PluginsParameterChanges) {
    // A knob, a menu and the filter type, set while it runs, in plain values.
    vst->setProgram(2);
    const Stereo expected = renderVst(input, 512, [&](uint32_t block) {
        if (block == 10) {
            vst->setParameter(kFeedback, 0.7f);
            vst->setParameter(kCompressorType, normalisedFromStored(kCompressorType, 3.0f));
            vst->setParameter(kFilterType, storedFromPlain(kFilterType, 1.0f));
        }
    });
    auto lv2 = instance();
    lv2->applyPreset(presetUri(2));
    EXPECT_TRUE(renderLv2(*lv2, input, 512, false, [&](uint32_t block) {
        if (block == 10) {
            lv2->control("feedback") = 0.7f;
            lv2->control("compressor") = 3.0f;
            lv2->control("filter_type") = 1.0f;
        }
    }) == expected);
}

TEST_F(Lv2Plugin, UntouchedPortsNeverUndoTheEffectsOwnState) {
    Stereo block(64);
    auto run = [&](Instance& lv2) {
        lv2.run(block.left.data(), block.right.data(), block.left.data(), block.right.data(), 64);
    };
    // The ports at their defaults leave a new instance as a new VST 2.4 one
    // ("Rubber Boots" stores 0.48 for a menu whose port reads 0).
    auto fresh = instance();
    run(*fresh);
    EXPECT_EQ(lv2State(*fresh), KovalithEffect().saveState());

    // A program and edits made while the plug-in does not run, saved: the
    // state holds the edits, and a host that restores it with its ports gets
    // them back, as the VST 2.4 plug-in with the same settings has them.
    auto edited = instance();
    edited->applyPreset(presetUri(3));
    edited->control("feedback") = 0.3f;
    edited->control("lfo2_shape") = 2.0f;
    const Instance::Properties saved = edited->save();
    auto reopened = instance();
    copyPorts(*edited, *reopened);
    ASSERT_EQ(reopened->restore(saved), LV2_STATE_SUCCESS);
    run(*reopened);
    vst->setProgram(3);
    vst->setParameter(kFeedback, 0.3f);
    vst->setParameter(kLfo2Shape, normalisedFromStored(kLfo2Shape, 2.0f));
    std::vector<uint8_t> expected = vst->getChunk(false);
    for (uint8_t byte : {3, 0, 0, 0}) expected.push_back(byte);
    std::vector<uint8_t> state = lv2State(*reopened);
    ASSERT_GE(state.size(), 8u);
    state.erase(state.end() - 8, state.end() - 4);  // the "KvPr" tag
    EXPECT_EQ(state, expected);

    // Presets select programs as the VST 2.4 plug-in's setProgram does: edits
    // stay in the program left behind, and the preset's port values don't undo them.
    auto switched = instance();
    auto step = [&](const std::function<void()>& change) {
        change();
        run(*switched);
    };
    step([&] { switched->applyPreset(presetUri(2)); });
    step([&] { switched->control("feedback") = 0.125f; });
    step([&] { switched->applyPreset(presetUri(0)); });
    step([&] { switched->applyPreset(presetUri(2)); });
    newVst();
    vst->setProgram(2);
    vst->setParameter(kFeedback, 0.125f);
    vst->setProgram(0);
    vst->setProgram(2);
    const std::vector<uint8_t> lv2Saved = lv2State(*switched);
    const std::vector<uint8_t> bank = vst->getChunk(false);
    ASSERT_EQ(bank.size(), sizeof(ProgramBank));
    EXPECT_EQ(std::vector<uint8_t>(lv2Saved.begin(), lv2Saved.begin() + sizeof(ProgramBank)), bank);
    EXPECT_EQ(lv2Saved.back(), 0);  // program 2, little-endian: 02 00 00 00
    EXPECT_EQ(lv2Saved[lv2Saved.size() - 4], 2);
}

TEST_F(Lv2Plugin, LearnedControllersDriveParametersAndTheUiHearsTheValues) {
    lv2::Urids ids(*urids.mapper());
    auto lv2 = instance(true);  // and atom buffers as jalv gives them
    Stereo block(512);
    auto run = [&] { lv2->run(block.left.data(), block.right.data(), block.left.data(), block.right.data(), 512); };
    lv2::writeLearnCommand(lv2->eventForge(), ids, kFeedback, 0.0f);  // "Learn Midi" on "Feedback"
    lv2->midi(0xB3, 7, 100);                                           // binds controller 7, not applied
    run();
    lv2->midi(0xB0, 7, 127);
    for (int i = 0; i < 4; ++i) run();
    const std::vector<uint8_t> state = lv2State(*lv2);
    EXPECT_EQ(recordValue(state, 0, kFeedback), 1.0f);
    int32_t controller = -1;
    std::memcpy(&controller, state.data() + offsetof(ProgramRecord, midiMap) + sizeof(int32_t) * kFeedback, 4);
    EXPECT_EQ(controller, 7);
    // The port was not touched, and the learned value stays, also in a reopened session.
    EXPECT_EQ(lv2->control("feedback"), plainFromStored(kFeedback, KovalithEffect().getParameter(kFeedback)));
    auto reopened = instance();
    copyPorts(*lv2, *reopened);
    ASSERT_EQ(reopened->restore(lv2->save()), LV2_STATE_SUCCESS);
    reopened->run(block.left.data(), block.right.data(), block.left.data(), block.right.data(), 512);
    EXPECT_EQ(lv2State(*reopened), state);

    // The notify port told the UI, with every value (hidden ones too) and the
    // rate the UI reads typed values at.
    bool told = false;
    for (const std::vector<uint8_t>& message : lv2->takeNotifications()) {
        const auto* atom = reinterpret_cast<const LV2_Atom*>(message.data());
        if (atom->type != urids.map(LV2_ATOM__Object)) continue;
        float stored[kNumParams], synced[kNumParams];
        DisplayContext context;
        context.sampleRate = 1.0f;
        if (!lv2::readValues(reinterpret_cast<const LV2_Atom_Object*>(atom), ids, stored, synced, &context)) continue;
        told = stored[kFeedback] == 1.0f && synced[kFeedback] == 1.0f && stored[28] == recordValue(state, 0, 28) &&
               context.sampleRate == static_cast<float>(kRate);
    }
    EXPECT_TRUE(told);
}

TEST_F(Lv2Plugin, StateSavesLoadsAndSavesTheSameBytesAndRefusesDamage) {
    auto first = instance();
    first->applyPreset(presetUri(3));
    Stereo block(64);
    first->control("mix") = 0.75f;
    first->run(block.left.data(), block.right.data(), block.left.data(), block.right.data(), 64);
    const Instance::Properties saved = first->save();
    const std::vector<uint8_t> chunk = lv2State(*first);
    ASSERT_EQ(chunk.size(), kStateSize);

    auto second = instance();
    copyPorts(*first, *second);
    ASSERT_EQ(second->restore(saved), LV2_STATE_SUCCESS);
    EXPECT_EQ(second->save(), saved);
    second->run(block.left.data(), block.right.data(), block.left.data(), block.right.data(), 64);
    EXPECT_EQ(second->save(), saved);

    std::vector<uint8_t> foreign(kStateSize, 0xAB);
    const std::vector<uint8_t> truncated(chunk.begin(), chunk.end() - 1);
    EXPECT_NE(second->restore(stateProperties(truncated)), LV2_STATE_SUCCESS);
    EXPECT_NE(second->restore(stateProperties(foreign)), LV2_STATE_SUCCESS);
    EXPECT_EQ(second->restore(stateProperties(chunk, LV2_ATOM__String)), LV2_STATE_ERR_BAD_TYPE);
    const int32_t badProgram = kNumPrograms;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&badProgram);
    EXPECT_NE(second->restore({{urids.map(lv2::kProgramKey),
                                {urids.map(LV2_ATOM__Int), std::vector<uint8_t>(bytes, bytes + 4)}}}),
              LV2_STATE_SUCCESS);
    EXPECT_EQ(second->restore({}), LV2_STATE_ERR_NO_PROPERTY);
    EXPECT_EQ(second->save(), saved);
}

}  // namespace
