// build/Kovalith.clap through its binary interface, driven by the small host
// in ClapHost.h: what a host sees (descriptor, ports, parameters), renders
// compared bit for bit with the VST 2.4 plug-in build/Kovalith.so, the state,
// events both ways, the host's transport, and the editor in a real X window.
#include "tests/clap/ClapHost.h"
#include "tests/clap/ClapParity.h"
#include "effect/Parameters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "host/ParameterOptions.h"
#include "host/PluginHost.h"

namespace claptest {
namespace {

constexpr const char* kPluginId = "audio.kovalith.kovalith";
constexpr double kRate = 44100.0;
// The state's layout: the VST 2.4 bank chunk (32 records of 768 bytes), then
// the tag "KvPr" and the current program, little-endian.
constexpr size_t kBankSize = 24576;
constexpr size_t kRecordSize = 768;
constexpr size_t kMidiMapOffset = 268;
constexpr size_t kStateSize = kBankSize + 8;
constexpr int kHiddenParams[] = {0, 7, 8, 12, 28, 33, 59, 60, 61, 62, 63, 64, 66};

ClapModule& module() {
    static std::unique_ptr<ClapModule> loaded = [] {
        std::string error;
        auto m = ClapModule::open(KOVALITH_CLAP, &error);
        if (!m) ADD_FAILURE() << error;
        return m;
    }();
    return *loaded;
}

std::unique_ptr<ClapInstance> newInstance(bool withTimers = true) {
    std::string error;
    auto instance = ClapInstance::create(module(), kPluginId, &error, withTimers);
    EXPECT_NE(instance, nullptr) << error;
    return instance;
}

// Seeded music-like stereo material: noise hits every half second over two tones.
std::vector<std::vector<float>> material(double seconds, unsigned seed = 7) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    const size_t frames = static_cast<size_t>(seconds * kRate);
    std::vector<std::vector<float>> s(2, std::vector<float>(frames));
    for (size_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / kRate;
        for (int c = 0; c < 2; ++c) {
            const double tone =
                0.3 * std::sin(6.283185307 * (220.0 + 55.0 * c) * t) + 0.15 * std::sin(6.283185307 * 330.0 * t);
            s[c][n] = static_cast<float>(0.5 * std::exp(-20.0 * std::fmod(t, 0.5)) * noise(rng) + tone);
        }
    }
    return s;
}

void putInt32(std::vector<uint8_t>& bytes, size_t offset, int32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i));
}

// Selects a program the way a CLAP session carries it: in the state.
bool selectProgram(ClapInstance& instance, int program) {
    std::optional<std::vector<uint8_t>> state = instance.saveState();
    if (!state || state->size() != kStateSize) return false;
    putInt32(*state, kBankSize + 4, program);
    return instance.loadState(*state);
}

// The VST 2.4 plug-in's render of the same input, blocks as renderClap makes
// them, after `setup` (as `kovalith render` drives build/Kovalith.so).
struct VstRender {
    std::unique_ptr<kovalith::host::PluginInstance> plugin;
    std::vector<std::vector<float>> output;
};

VstRender renderVst(const std::function<bool(kovalith::host::PluginInstance&)>& setup,
                    const std::vector<std::vector<float>>& input, int block,
                    std::optional<clap_event_transport_t> transport = {}, size_t tailFrames = 0) {
    VstRender r;
    std::string error;
    r.plugin = kovalith::host::PluginInstance::load(KOVALITH_VST2, &error);
    EXPECT_NE(r.plugin, nullptr) << error;
    if (!r.plugin) return r;
    r.plugin->setSampleRate(kRate);
    r.plugin->setBlockSize(block);
    if (!setup(*r.plugin)) {
        ADD_FAILURE() << "set-up failed";
        r.plugin.reset();
        return r;
    }
    // The time record answers exactly what the CLAP transport says, block by block.
    vst2::VstTimeInfo time{};
    if (transport) r.plugin->setTimeInfoOverride(&time);
    const size_t inputFrames = input[0].size();
    const size_t total = inputFrames + tailFrames;
    r.output.assign(2, std::vector<float>(total));
    std::vector<float> inL(static_cast<size_t>(block)), inR(static_cast<size_t>(block));
    for (size_t done = 0; done < total;) {
        const size_t end = std::min(done + static_cast<size_t>(block), done < inputFrames ? inputFrames : total);
        const int n = static_cast<int>(end - done);
        for (int k = 0; k < n; ++k) {
            inL[k] = done + k < inputFrames ? input[0][done + k] : 0.0f;
            inR[k] = done + k < inputFrames ? input[1][done + k] : 0.0f;
        }
        if (transport) {
            time = vst2::VstTimeInfo{};
            time.sampleRate = kRate;
            time.tempo = transport->tempo;
            time.ppqPos = static_cast<double>(transport->song_pos_beats) / CLAP_BEATTIME_FACTOR;
            time.barStartPos = static_cast<double>(transport->bar_start) / CLAP_BEATTIME_FACTOR;
            time.timeSigNumerator = transport->tsig_num;
            time.timeSigDenominator = transport->tsig_denom;
            time.flags = vst2::kVstPpqPosValid | vst2::kVstTempoValid | vst2::kVstBarsValid |
                         vst2::kVstTimeSigValid | vst2::kVstTransportPlaying;
        }
        float* in[2] = {inL.data(), inR.data()};
        float* out[2] = {r.output[0].data() + done, r.output[1].data() + done};
        EXPECT_TRUE(r.plugin->process(in, out, n));
        if (transport)
            *transport = makeTransport(transport->tempo, advanceBeats(*transport, static_cast<uint32_t>(n), kRate));
        done = end;
    }
    // The record lives here; the plug-in must not read it after this.
    r.plugin->setTimeInfoOverride(nullptr);
    return r;
}

VstRender renderVst(int program, const std::vector<std::vector<float>>& input, int block,
                    std::optional<clap_event_transport_t> transport = {}) {
    return renderVst(
        [program](kovalith::host::PluginInstance& p) {
            p.setProgram(program);
            return true;
        },
        input, block, transport);
}

// The first sample where two renders differ, or -1.
long firstDifference(const std::vector<std::vector<float>>& a, const std::vector<std::vector<float>>& b) {
    for (size_t c = 0; c < 2; ++c)
        for (size_t n = 0; n < a[c].size(); ++n)
            if (std::memcmp(&a[c][n], &b[c][n], sizeof(float)) != 0) return static_cast<long>(n);
    return -1;
}

double peak(const std::vector<std::vector<float>>& a) {
    double p = 0.0;
    for (const auto& ch : a)
        for (float x : ch) p = std::max(p, static_cast<double>(std::fabs(x)));
    return p;
}

const clap_event_param_value_t& asValue(const clap_event_header_t* e) {
    return *reinterpret_cast<const clap_event_param_value_t*>(e);
}

// ---- what a host sees ---------------------------------------------------------------

TEST(ClapModuleTest, EntryFactoryAndDescriptor) {
    const clap_plugin_entry_t* entry = module().entry();
    EXPECT_TRUE(clap_version_is_compatible(entry->clap_version));
    EXPECT_EQ(entry->get_factory("no.such.factory"), nullptr);
    const clap_plugin_factory_t* factory = module().factory();
    ASSERT_NE(factory, nullptr);
    ASSERT_EQ(factory->get_plugin_count(factory), 1u);
    EXPECT_EQ(factory->get_plugin_descriptor(factory, 1), nullptr);
    const clap_plugin_descriptor_t* d = factory->get_plugin_descriptor(factory, 0);
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->id, kPluginId);
    EXPECT_STREQ(d->name, "Kovalith");
    EXPECT_STREQ(d->vendor, "kovalith.audio");
    EXPECT_STREQ(d->version, "0.9");
    EXPECT_GT(std::strlen(d->url), 0u);
    EXPECT_GT(std::strlen(d->description), 0u);
    std::set<std::string> features;
    for (const char* const* f = d->features; *f; ++f) features.insert(*f);
    EXPECT_TRUE(features.count("audio-effect"));
    EXPECT_TRUE(features.count("stereo"));
    EXPECT_FALSE(features.count("instrument"));

    std::string error;
    EXPECT_EQ(ClapInstance::create(module(), "audio.kovalith.other", &error), nullptr);
    EXPECT_EQ(ClapInstance::create(module(), nullptr, &error), nullptr);

    // The module exports clap_entry and nothing else.
    FILE* nm = popen(("nm -D --defined-only '" + module().path() + "' 2>/dev/null").c_str(), "r");
    ASSERT_NE(nm, nullptr);
    std::string symbols;
    char line[512];
    while (fgets(line, sizeof line, nm)) {
        std::string s(line);
        symbols += s.substr(s.find_last_of(' ') + 1);
    }
    pclose(nm);
    EXPECT_EQ(symbols, "clap_entry\n");
}

TEST(ClapModuleTest, PortsLatencyAndTail) {
    auto k = newInstance();
    ASSERT_NE(k, nullptr);
    const auto* audio = static_cast<const clap_plugin_audio_ports_t*>(k->extension(CLAP_EXT_AUDIO_PORTS));
    ASSERT_NE(audio, nullptr);
    for (bool input : {true, false}) {
        ASSERT_EQ(audio->count(k->plugin(), input), 1u);
        clap_audio_port_info_t info{};
        ASSERT_TRUE(audio->get(k->plugin(), 0, input, &info));
        EXPECT_EQ(info.channel_count, 2u);
        EXPECT_STREQ(info.port_type, CLAP_PORT_STEREO);
        EXPECT_TRUE(info.flags & CLAP_AUDIO_PORT_IS_MAIN);
        EXPECT_FALSE(info.flags & CLAP_AUDIO_PORT_SUPPORTS_64BITS);
        EXPECT_FALSE(audio->get(k->plugin(), 1, input, &info));
    }
    const auto* notes = static_cast<const clap_plugin_note_ports_t*>(k->extension(CLAP_EXT_NOTE_PORTS));
    ASSERT_NE(notes, nullptr);
    ASSERT_EQ(notes->count(k->plugin(), true), 1u);
    EXPECT_EQ(notes->count(k->plugin(), false), 0u);
    clap_note_port_info_t note{};
    ASSERT_TRUE(notes->get(k->plugin(), 0, true, &note));
    EXPECT_TRUE(note.supported_dialects & CLAP_NOTE_DIALECT_MIDI);
    EXPECT_EQ(note.preferred_dialect, static_cast<uint32_t>(CLAP_NOTE_DIALECT_MIDI));

    const auto* latency = static_cast<const clap_plugin_latency_t*>(k->extension(CLAP_EXT_LATENCY));
    ASSERT_NE(latency, nullptr);
    EXPECT_EQ(latency->get(k->plugin()), 0u);

    // "Rubber Boots" feeds its delay back: the tail has no end. Without
    // feedback it is finite, and the host hears of the change on the main thread.
    const auto* tail = static_cast<const PluginTail*>(k->extension(kExtTail));
    ASSERT_NE(tail, nullptr);
    ASSERT_TRUE(k->activate(kRate, 1, 512));
    EXPECT_EQ(tail->get(k->plugin()), UINT32_MAX);
    EventList in, out;
    in.addParamValue(17, 0.0);
    k->flush(in, out);
    const uint32_t dry = tail->get(k->plugin());
    EXPECT_GT(dry, 0u);
    EXPECT_LE(dry, static_cast<uint32_t>(10 * kRate));
    EXPECT_EQ(k->record().tailChanged, 0) << "not from inside the host's call";
    k->runCallback();
    EXPECT_EQ(k->record().tailChanged, 1);
}

TEST(ClapParamsTest, TheExposedParametersWithStableIdsAndUniqueNames) {
    auto k = newInstance();
    ASSERT_NE(k, nullptr);
    const uint32_t count = k->paramCount();
    EXPECT_EQ(count, 67u - std::size(kHiddenParams));
    std::set<std::string> names;
    std::map<clap_id, clap_param_info_t> byId;
    clap_id previous = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const std::optional<clap_param_info_t> info = k->paramInfo(i);
        ASSERT_TRUE(info) << i;
        EXPECT_TRUE(i == 0 || info->id > previous) << "ids follow the parameter order";
        previous = info->id;
        EXPECT_LT(info->id, 67u);
        EXPECT_GT(std::strlen(info->name), 0u) << info->id;
        EXPECT_TRUE(names.insert(info->name).second) << "duplicate name " << info->name;
        EXPECT_TRUE(info->flags & CLAP_PARAM_IS_AUTOMATABLE);
        EXPECT_LE(info->min_value, info->default_value);
        EXPECT_LE(info->default_value, info->max_value);
        const std::optional<double> value = k->paramValue(info->id);
        ASSERT_TRUE(value);
        EXPECT_GE(*value, info->min_value);
        EXPECT_LE(*value, info->max_value);
        byId[info->id] = *info;
    }
    EXPECT_FALSE(k->paramInfo(count));
    for (int hidden : kHiddenParams) {
        EXPECT_FALSE(byId.count(static_cast<clap_id>(hidden))) << hidden;
        EXPECT_FALSE(k->paramValue(static_cast<clap_id>(hidden))) << hidden;
    }
    EXPECT_FALSE(k->paramValue(67));
    // Parameters the VST 2.4 plug-in leaves unnamed have names here.
    for (clap_id id : {6u, 14u, 23u}) EXPECT_TRUE(byId.count(id)) << id;

    // Menus, switches and the filter type are stepped, every step named.
    const std::map<clap_id, double> steps = {{18, 7}, {21, 12}, {22, 14}, {23, 1}, {26, 7}, {29, 1},
                                             {30, 14}, {31, 7}, {34, 1}, {35, 14}, {65, 4}};
    for (const auto& [id, info] : byId) {
        const auto step = steps.find(id);
        if (step == steps.end()) {
            EXPECT_FALSE(info.flags & CLAP_PARAM_IS_STEPPED) << id;
            EXPECT_EQ(info.max_value, 1.0) << id;
            continue;
        }
        EXPECT_TRUE(info.flags & CLAP_PARAM_IS_STEPPED) << id;
        EXPECT_EQ(info.max_value, step->second) << id;
        std::set<std::string> labels;
        for (int v = 0; v <= static_cast<int>(step->second); ++v) {
            const std::optional<std::string> text = k->paramText(id, v);
            ASSERT_TRUE(text);
            EXPECT_FALSE(text->empty());
            labels.insert(*text);
            EXPECT_EQ(k->paramFromText(id, *text), std::optional<double>(v)) << id << " " << *text;
        }
        EXPECT_EQ(labels.size(), static_cast<size_t>(step->second) + 1) << id;
    }
}

TEST(ClapParamsTest, DisplayTextsAsTheEditorShowsThem) {
    auto k = newInstance();
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->paramText(26, 1), "tri");
    EXPECT_EQ(k->paramText(22, 1), "4/1");
    EXPECT_EQ(k->paramText(22, 0), "off");
    EXPECT_EQ(k->paramText(18, 2), "Bandpass");
    EXPECT_EQ(k->paramText(65, 4), "insane");
    EXPECT_EQ(k->paramText(19, 4337.0 / 22000.0), "4337 Hz");
    EXPECT_EQ(k->paramFromText(26, "tri"), std::optional<double>(1.0));
    EXPECT_EQ(k->paramFromText(22, "1/8"), std::optional<double>(5.0));
    EXPECT_FALSE(k->paramFromText(26, "wobble"));
    EXPECT_FALSE(k->paramText(0, 0.5));
    EXPECT_FALSE(k->paramText(19, NAN));

    // A short buffer gets a terminated prefix.
    char small[4];
    std::memset(small, 'x', sizeof small);
    ASSERT_TRUE(k->params()->value_to_text(k->plugin(), 19, 0.5, small, sizeof small));
    EXPECT_EQ(std::strlen(small), 3u);
    EXPECT_FALSE(k->params()->value_to_text(k->plugin(), 19, 0.5, small, 0));
}

// ---- audio --------------------------------------------------------------------------

TEST(ClapRenderTest, ProgramsRenderBitForBitAsTheVst2Plugin) {
    // Programs 0 to 4 are the factory presets, 5 to 31 all hold "Default":
    // the last one stands for them.
    const auto input = material(1.5);
    for (int program : {0, 1, 2, 3, 4, 5, 31}) {
        for (uint32_t block : {64u, 512u}) {
            SCOPED_TRACE("program " + std::to_string(program) + ", blocks of " + std::to_string(block));
            auto k = newInstance();
            ASSERT_NE(k, nullptr);
            ASSERT_TRUE(k->activate(kRate, 1, block));
            ASSERT_TRUE(selectProgram(*k, program));
            const auto clap = renderClap(*k, input, block);
            const VstRender vst = renderVst(program, input, static_cast<int>(block));
            ASSERT_NE(vst.plugin, nullptr);
            EXPECT_GT(peak(clap), 0.01);
            EXPECT_EQ(firstDifference(clap, vst.output), -1);
        }
    }
}

TEST(ClapRenderTest, HostSettingsRenderAsTheVst2PluginsParameters) {
    // Menus and the filter type arrive as item numbers; the VST 2.4 plug-in
    // takes the stored values ("Filter Type" item 3 is 0.3).
    struct Setting {
        clap_id id;
        double plain;
        float stored;
    };
    const Setting settings[] = {{18, 3, 0.3f}, {22, 4, 4.0f}, {26, 5, 5.0f}, {21, 9, 9.0f},
                                {65, 2, 2.0f}, {58, 0.7, 0.7f}, {19, 0.31, 0.31f}, {23, 0, 0.0f}};
    const auto input = material(1.0);
    auto k = newInstance();
    ASSERT_NE(k, nullptr);
    ASSERT_TRUE(k->activate(kRate, 1, 128));
    ASSERT_TRUE(selectProgram(*k, 2));
    EventList in, out;
    for (const Setting& s : settings) in.addParamValue(s.id, s.plain);
    k->flush(in, out);
    const auto clap = renderClap(*k, input, 128);

    std::string error;
    auto vst = kovalith::host::PluginInstance::load(KOVALITH_VST2, &error);
    ASSERT_NE(vst, nullptr) << error;
    vst->setSampleRate(kRate);
    vst->setBlockSize(128);
    vst->setProgram(2);
    // The VST 2.4 interface takes menus as their item's position in 0..1.
    for (const Setting& s : settings)
        vst->setParameter(static_cast<int>(s.id), kovalith::normalisedFromStored(static_cast<int>(s.id), s.stored));
    std::vector<std::vector<float>> expected(2, std::vector<float>(input[0].size()));
    for (size_t start = 0; start < input[0].size(); start += 128) {
        const int n = static_cast<int>(std::min<size_t>(128, input[0].size() - start));
        float* ins[2] = {const_cast<float*>(input[0].data() + start), const_cast<float*>(input[1].data() + start)};
        float* outs[2] = {expected[0].data() + start, expected[1].data() + start};
        ASSERT_TRUE(vst->process(ins, outs, n));
    }
    EXPECT_EQ(firstDifference(clap, expected), -1);
    for (const Setting& s : settings) {
        const int id = static_cast<int>(s.id);
        EXPECT_EQ(kovalith::storedFromNormalised(id, vst->getParameter(id)), s.stored) << s.id;
    }
}

TEST(ClapRenderTest, InPlaceBuffersAndMissingInputs) {
    const auto input = material(0.5);
    auto reference = newInstance();
    ASSERT_NE(reference, nullptr);
    ASSERT_TRUE(reference->activate(kRate, 1, 256));
    const auto expected = renderClap(*reference, input, 256);
    auto k = newInstance();
    ASSERT_NE(k, nullptr);
    ASSERT_TRUE(k->activate(kRate, 1, 256));
    auto buffers = input;
    for (size_t start = 0; start < buffers[0].size(); start += 256) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(256, buffers[0].size() - start));
        float* io[2] = {buffers[0].data() + start, buffers[1].data() + start};
        ASSERT_EQ(k->process(io, io, n, nullptr, nullptr), CLAP_PROCESS_CONTINUE);
    }
    EXPECT_EQ(firstDifference(buffers, expected), -1);

    // A host that gives no input buffers gets the effect of silence: the delay rings on.
    std::vector<float> left(256, 1.0f), right(256, 1.0f);
    float* out[2] = {left.data(), right.data()};
    const float* none[2] = {nullptr, nullptr};
    ASSERT_EQ(k->process(none, out, 256, nullptr, nullptr), CLAP_PROCESS_CONTINUE);
    EXPECT_GT(std::fabs(left[100]) + std::fabs(right[100]), 0.0f);
    EXPECT_LT(std::fabs(left[100]), 1.0f);
}

TEST(ClapRenderTest, HostTempoDrivesTheSyncedDelay) {
    // "Intermittent" syncs its delay to quarter notes.
    const auto input = material(1.5);
    std::vector<std::vector<float>> renders;
    for (double tempo : {90.0, 150.0}) {
        auto k = newInstance();
        ASSERT_NE(k, nullptr);
        ASSERT_TRUE(k->activate(kRate, 1, 512));
        ASSERT_TRUE(selectProgram(*k, 1));
        const clap_event_transport_t start = makeTransport(tempo, 3 * CLAP_BEATTIME_FACTOR / 2);
        renders.push_back(renderClap(*k, input, 512, start)[0]);
        const VstRender vst = renderVst(1, input, 512, start);
        ASSERT_NE(vst.plugin, nullptr);
        EXPECT_EQ(std::memcmp(renders.back().data(), vst.output[0].data(), input[0].size() * sizeof(float)), 0)
            << "tempo " << tempo;
    }
    EXPECT_NE(renders[0], renders[1]);
}

TEST(ClapRenderTest, TheWindowsParityCasesRenderAsTheVst2Plugin) {
    // The program through the state, the settings as parameter events: the
    // way the Windows .clap renders these cases under Wine.
    const std::vector<ParityCase> cases = readParityCases(KOVALITH_PARITY_CASES);
    ASSERT_GE(cases.size(), 5u);
    // Long enough for the feedback to bring out what the settings' order left
    // in the feedback filter (after 1.5 s in "feedback-filter").
    const auto input = material(2.0);
    for (const ParityCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto k = newInstance();
        ASSERT_NE(k, nullptr);
        ASSERT_TRUE(k->activate(kRate, 1, 512));
        CaseSettings settings;
        std::string error;
        ASSERT_TRUE(parseCase(*k, c, settings, &error)) << error;
        ASSERT_TRUE(applySettings(*k, settings, &error)) << error;
        std::optional<clap_event_transport_t> transport;
        if (settings.tempo) transport = makeTransport(*settings.tempo, 0);
        const auto clap = renderClap(*k, input, 512, transport, 44100);

        kovalith::host::ParameterOptions options;
        std::vector<std::string> args = c.args;
        ASSERT_TRUE(kovalith::host::extractParameterOptions(args, options, &error)) << error;
        const VstRender vst = renderVst(
            [&](kovalith::host::PluginInstance& p) {
                return kovalith::host::applyParameterOptions(p, options, &error);
            },
            input, 512, transport, 44100);
        ASSERT_NE(vst.plugin, nullptr) << error;
        EXPECT_GT(peak(clap), 0.01);
        EXPECT_EQ(firstDifference(clap, vst.output), -1);
    }
}

// ---- state --------------------------------------------------------------------------

TEST(ClapStateTest, SaveLoadSaveGivesTheSameBytesInPiecesToo) {
    auto k = newInstance();
    ASSERT_NE(k, nullptr);
    EventList in, out;
    in.addParamValue(58, 0.25);
    in.addParamValue(22, 5.0);
    k->flush(in, out);
    ASSERT_TRUE(selectProgram(*k, 3));
    const std::optional<std::vector<uint8_t>> saved = k->saveState();
    ASSERT_TRUE(saved);
    ASSERT_EQ(saved->size(), kStateSize);
    EXPECT_EQ(std::memcmp(saved->data() + kBankSize, "KvPr", 4), 0);
    EXPECT_EQ((*saved)[kBankSize + 4], 3);
    EXPECT_EQ(k->saveState(1), saved) << "a stream that takes one byte at a time";

    auto fresh = newInstance();
    ASSERT_NE(fresh, nullptr);
    ASSERT_TRUE(fresh->loadState(*saved, 7));
    EXPECT_EQ(fresh->saveState(), saved);
    for (uint32_t i = 0; i < k->paramCount(); ++i) {
        const clap_id id = k->paramInfo(i)->id;
        EXPECT_EQ(fresh->paramValue(id), k->paramValue(id)) << id;
    }
    fresh->runCallback();
    EXPECT_GE(fresh->record().rescan, 1);
    EXPECT_TRUE(fresh->record().rescanFlags & CLAP_PARAM_RESCAN_VALUES);

    // The bank is the VST 2.4 plug-in's chunk, byte for byte.
    std::string error;
    auto vst = kovalith::host::PluginInstance::load(KOVALITH_VST2, &error);
    ASSERT_NE(vst, nullptr) << error;
    auto newState = newInstance()->saveState();
    ASSERT_TRUE(newState);
    const std::vector<uint8_t> chunk = vst->getChunk(false);
    ASSERT_EQ(chunk.size(), kBankSize);
    EXPECT_TRUE(std::equal(chunk.begin(), chunk.end(), newState->begin()));
    // And a bank chunk alone loads as a state.
    EXPECT_TRUE(fresh->loadState(chunk));
}

TEST(ClapStateTest, DamagedForeignAndTruncatedStatesAreRefusedWithNothingLost) {
    auto k = newInstance();
    ASSERT_NE(k, nullptr);
    ASSERT_TRUE(selectProgram(*k, 2));
    const std::vector<uint8_t> good = *k->saveState();
    const double mix = *k->paramValue(58);
    k->runCallback();
    k->clearRecord();

    std::vector<std::pair<std::string, std::vector<uint8_t>>> bad;
    bad.emplace_back("empty", std::vector<uint8_t>{});
    bad.emplace_back("truncated", std::vector<uint8_t>(good.begin(), good.end() - 1));
    bad.emplace_back("half", std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2));
    auto longer = good;
    longer.push_back(0);
    bad.emplace_back("one byte more", longer);
    auto tag = good;
    tag[kBankSize] ^= 0x20;
    bad.emplace_back("damaged tag", tag);
    auto program = good;
    putInt32(program, kBankSize + 4, 32);
    bad.emplace_back("program 32", program);
    putInt32(program, kBankSize + 4, -1);
    bad.emplace_back("program -1", program);
    const std::string json = "{\"plugin\":\"another\",\"state\":[1,2,3]}";
    bad.emplace_back("foreign", std::vector<uint8_t>(json.begin(), json.end()));
    bad.emplace_back("huge", std::vector<uint8_t>(1 << 20, 0x41));
    for (const auto& [what, bytes] : bad) {
        EXPECT_FALSE(k->loadState(bytes)) << what;
        EXPECT_EQ(k->saveState(), good) << what;
        EXPECT_EQ(k->paramValue(58), mix) << what;
    }
    // A stream that fails part way.
    EXPECT_FALSE(k->loadState(good, 1000, 5000));
    EXPECT_EQ(k->saveState(), good);
    k->runCallback();
    EXPECT_EQ(k->record().rescan, 0) << "nothing changed, nothing to rescan";
}

// ---- events -------------------------------------------------------------------------

TEST(ClapEventsTest, HostParameterEventsReachTheEffect) {
    const auto input = material(0.2);
    auto k = newInstance();
    ASSERT_NE(k, nullptr);
    ASSERT_TRUE(k->activate(kRate, 1, 512));
    // Mix 0 at the first block: the output is the input, exactly.
    EventList in, out;
    in.addParamValue(58, 0.0);
    in.addParamValue(0, 0.7);    // hidden: ignored
    in.addParamValue(22, 4.0);   // "1/4"
    in.addParamValue(18, 3.0);   // "Bandstop"
    in.addParamValue(57, NAN);   // not a value: ignored
    std::vector<std::vector<float>> output(2, std::vector<float>(512));
    const float* ins[2] = {input[0].data(), input[1].data()};
    float* outs[2] = {output[0].data(), output[1].data()};
    ASSERT_EQ(k->process(ins, outs, 512, &in, &out), CLAP_PROCESS_CONTINUE);
    EXPECT_TRUE(std::equal(output[0].begin(), output[0].end(), input[0].begin()));
    EXPECT_EQ(k->paramValue(58), std::optional<double>(0.0));
    EXPECT_EQ(k->paramValue(22), std::optional<double>(4.0));
    EXPECT_EQ(k->paramValue(18), std::optional<double>(3.0));
    EXPECT_EQ(k->paramValue(57), std::optional<double>(1.0));
    EXPECT_EQ(out.size(), 0u) << "the host's own changes are not echoed";

    // While inactive, flush takes them.
    k->deactivate();
    in.clear();
    in.addParamValue(58, 0.75);
    k->flush(in, out);
    EXPECT_EQ(k->paramValue(58), std::optional<double>(0.75));
}

TEST(ClapEventsTest, ALearnedControllerDrivesItsParameterAndIsReported) {
    const auto input = material(0.1);
    auto k = newInstance();
    ASSERT_NE(k, nullptr);
    ASSERT_TRUE(k->activate(kRate, 1, 512));
    // Program 0 binds controller 74 to "Cutoff" in its record.
    std::vector<uint8_t> state = *k->saveState();
    putInt32(state, 0 * kRecordSize + kMidiMapOffset + 19 * 4, 74);
    ASSERT_TRUE(k->loadState(state));

    EventList in, out;
    in.addMidi(0xB5, 74, 127, 10);  // any channel
    in.addMidi(0xB0, 75, 64, 20);   // unbound
    in.addMidi(0x90, 74, 100, 30);  // a note: no effect
    std::vector<float> l(512), r(512);
    const float* ins[2] = {input[0].data(), input[1].data()};
    float* outs[2] = {l.data(), r.data()};
    ASSERT_EQ(k->process(ins, outs, 512, &in, &out), CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(k->paramValue(19), std::optional<double>(1.0));
    const auto values = out.ofType(CLAP_EVENT_PARAM_VALUE);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(asValue(values[0]).param_id, 19u);
    EXPECT_EQ(asValue(values[0]).value, 1.0);
    EXPECT_TRUE(values[0]->flags & CLAP_EVENT_DONT_RECORD) << "a controller is not automation";
    EXPECT_TRUE(out.ofType(CLAP_EVENT_PARAM_GESTURE_BEGIN).empty());

    // The binding travels with the state.
    auto copy = newInstance();
    ASSERT_NE(copy, nullptr);
    ASSERT_TRUE(copy->loadState(*k->saveState()));
    ASSERT_TRUE(copy->activate(kRate, 1, 512));
    EventList in2, out2;
    in2.addMidi(0xB0, 74, 0);
    ASSERT_EQ(copy->process(ins, outs, 512, &in2, &out2), CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(copy->paramValue(19), std::optional<double>(0.0));
    EXPECT_EQ(out2.ofType(CLAP_EVENT_PARAM_VALUE).size(), 1u);
}

// ---- threads ------------------------------------------------------------------------

TEST(ClapThreadsTest, TheMainThreadWorksWhileTheAudioThreadProcesses) {
    // The audio thread: blocks with host automation and a learned controller.
    // The main thread meanwhile: values, texts, state saves and loads (good
    // and damaged). Run under ThreadSanitizer by scripts/ci-tsan.sh.
    const auto input = material(0.05);
    auto k = newInstance();
    ASSERT_NE(k, nullptr);
    ASSERT_TRUE(k->activate(kRate, 1, 256));
    std::vector<uint8_t> state = *k->saveState();
    putInt32(state, kMidiMapOffset + 19 * 4, 74);
    ASSERT_TRUE(k->loadState(state));
    std::vector<uint8_t> other = state;
    putInt32(other, kBankSize + 4, 3);
    std::vector<uint8_t> damaged(state.begin(), state.begin() + 1000);

    std::atomic<bool> stop{false};
    std::atomic<int> blocks{0};
    bool finite = true;
    std::thread audio([&] {
        std::vector<float> l(256), r(256);
        const float* in[2] = {input[0].data(), input[1].data()};
        float* out[2] = {l.data(), r.data()};
        for (int n = 0; !stop.load() || n < 50; ++n) {
            EventList events, outEvents;
            events.addParamValue(58, (n % 10) / 10.0);
            events.addMidi(0xB0, 74, static_cast<uint8_t>(n % 128), 5);
            k->process(in, out, 256, &events, &outEvents);
            for (float x : l) finite = finite && std::isfinite(x);
            ++blocks;
        }
    });
    for (int i = 0; i < 200; ++i) {
        EXPECT_TRUE(k->loadState(i % 2 ? state : other));
        EXPECT_FALSE(k->loadState(damaged));
        EXPECT_TRUE(k->saveState());
        EXPECT_TRUE(k->paramValue(19));
        EXPECT_TRUE(k->paramText(16, *k->paramValue(16)));
    }
    stop = true;
    audio.join();
    EXPECT_GE(blocks.load(), 50);
    EXPECT_TRUE(finite);
    const std::vector<uint8_t> after = *k->saveState();
    ASSERT_TRUE(k->loadState(after));
    EXPECT_EQ(*k->saveState(), after);
}

}  // namespace
}  // namespace claptest
