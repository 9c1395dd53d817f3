// The VST3 bundle through its binary interface: its factory and parameter
// list, its sound against the VST 2.4 plug-in's, its state, and MIDI learn
// through the hidden controller parameters.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <string>

#include "host/PluginHost.h"
#include "tests/vst3/Vst3TestHost.h"

namespace kovalith::vst3test {
namespace {

constexpr double kRate = 44100.0;
constexpr int kBlock = 512;
constexpr int kExposedParameters = 54;  // the 67 less the 13 that do nothing
constexpr int kHiddenControllers = 126;
constexpr v3_param_id kProgramParam = 0x20000;
constexpr v3_param_id kControllerBase = 0x10000;
constexpr std::size_t kBankSize = 24576;
constexpr std::size_t kRecordSize = 768;
constexpr std::size_t kMidiMapOffset = 268;

std::unique_ptr<Vst3Plugin> loadVst3() {
    std::string error;
    auto plugin = Vst3Plugin::load(KOVALITH_VST3_MODULE, &error);
    EXPECT_TRUE(plugin) << error;
    return plugin;
}

std::string text(const int16_t* utf16) {
    std::string out;
    for (int i = 0; i < 128 && utf16[i]; ++i) out += static_cast<char>(utf16[i]);
    return out;
}

// Two seconds of a deterministic stereo test signal: tones and noise.
struct Signal {
    std::vector<float> left, right;
    explicit Signal(int frames) : left(static_cast<std::size_t>(frames)), right(left.size()) {
        uint32_t noise = 12345;
        for (int n = 0; n < frames; ++n) {
            noise = noise * 1664525u + 1013904223u;
            const float white = static_cast<float>(noise >> 8) / 16777216.0f - 0.5f;
            left[static_cast<std::size_t>(n)] = 0.4f * std::sin(0.031f * n) + 0.2f * white;
            right[static_cast<std::size_t>(n)] = 0.3f * std::sin(0.0173f * n + 1.0f) - 0.2f * white;
        }
    }
};

ChangeList::value_type change(v3_param_id id, double value) { return {id, {{0, value}}}; }

bool reports(const ChangeList& list, v3_param_id id, double* value = nullptr) {
    for (const auto& c : list)
        if (c.first == id && !c.second.empty()) {
            if (value) *value = c.second.back().second;
            return true;
        }
    return false;
}

}  // namespace

TEST(Vst3Plugin, FactoryDescribesOneEffectAndItsController) {
    auto plugin = loadVst3();
    ASSERT_TRUE(plugin);
    v3_plugin_factory** factory = plugin->factory();
    v3_factory_info info{};
    ASSERT_EQ(v3_cpp_obj(factory)->get_factory_info(factory, &info), V3_OK);
    EXPECT_STREQ(info.vendor, "kovalith.audio");
    EXPECT_STREQ(info.url, "https://kovalith.audio");
    EXPECT_STREQ(info.email, "dev@kovalith.audio");
    ASSERT_EQ(v3_cpp_obj(factory)->num_classes(factory), 2);

    // Hosts store the class ids in sessions: they never change.
    const v3_tuid processorId = V3_ID(0x897B0AF3, 0x6B5D45A7, 0x9D182A44, 0x6CE504D6);
    const v3_tuid controllerId = V3_ID(0xD5A4AE6B, 0x323F428C, 0x93D964BA, 0x6A3DFB30);
    void* factory2 = nullptr;
    ASSERT_EQ(vst3::unknown(factory)->query_interface(factory, v3_plugin_factory_2_iid, &factory2), V3_OK);
    auto** f2 = static_cast<v3_plugin_factory_2**>(factory2);
    v3_class_info_2 effect{}, controller{};
    ASSERT_EQ(v3_cpp_obj(f2)->get_class_info_2(f2, 0, &effect), V3_OK);
    ASSERT_EQ(v3_cpp_obj(f2)->get_class_info_2(f2, 1, &controller), V3_OK);
    vst3::releaseInterface(factory2);
    EXPECT_TRUE(v3_tuid_match(effect.class_id, processorId));
    EXPECT_TRUE(v3_tuid_match(controller.class_id, controllerId));
    EXPECT_STREQ(effect.category, "Audio Module Class");
    EXPECT_STREQ(controller.category, "Component Controller Class");
    EXPECT_STREQ(effect.name, "Kovalith");
    EXPECT_EQ(std::string(effect.sub_categories).rfind("Fx", 0), 0u) << effect.sub_categories;

    v3_tuid asked{};
    ASSERT_EQ(v3_cpp_obj(plugin->component())->get_controller_class_id(plugin->component(), asked), V3_OK);
    EXPECT_TRUE(v3_tuid_match(asked, controllerId));
}

// Hosts list the effect's exposed parameters by index, with unique names,
// the program selector, and the controller parameters hidden and not
// automatable; values read as the editor shows them.
TEST(Vst3Plugin, ParametersAsHostsListThem) {
    auto plugin = loadVst3();
    ASSERT_TRUE(plugin);
    v3_edit_controller** c = plugin->controller();
    ASSERT_EQ(v3_cpp_obj(c)->get_parameter_count(c), kExposedParameters + 1 + kHiddenControllers);
    std::set<std::string> titles;
    int automatable = 0, hidden = 0, programs = 0;
    for (int i = 0; i < v3_cpp_obj(c)->get_parameter_count(c); ++i) {
        v3_param_info info{};
        ASSERT_EQ(v3_cpp_obj(c)->get_parameter_info(c, i, &info), V3_OK);
        const std::string title = text(info.title);
        EXPECT_FALSE(title.empty()) << i;
        EXPECT_TRUE(titles.insert(title).second) << "twice: " << title;
        if (info.param_id < 67) {
            EXPECT_EQ(info.flags & (V3_PARAM_CAN_AUTOMATE | V3_PARAM_IS_HIDDEN), V3_PARAM_CAN_AUTOMATE) << title;
            ++automatable;
        } else if (info.param_id == kProgramParam) {
            EXPECT_TRUE(info.flags & V3_PARAM_PROGRAM_CHANGE);
            EXPECT_TRUE(info.flags & V3_PARAM_IS_LIST);
            EXPECT_EQ(info.step_count, 31);
            ++programs;
        } else {
            EXPECT_EQ(info.param_id, kControllerBase + static_cast<v3_param_id>(hidden));
            EXPECT_EQ(info.flags & (V3_PARAM_CAN_AUTOMATE | V3_PARAM_IS_HIDDEN), V3_PARAM_IS_HIDDEN) << title;
            ++hidden;
        }
        if (info.param_id == 18) {  // "Filter Type": a list of eight, default "Lowpass"
            EXPECT_EQ(title, "Filter Type");
            EXPECT_EQ(info.step_count, 7);
            EXPECT_TRUE(info.flags & V3_PARAM_IS_LIST);
            EXPECT_EQ(info.default_normalised_value, 0.0);
        }
        if (info.param_id == 57) {
            EXPECT_EQ(info.default_normalised_value, 1.0);  // "Out"
        }
    }
    EXPECT_EQ(automatable, kExposedParameters);
    EXPECT_EQ(programs, 1);
    EXPECT_EQ(hidden, kHiddenControllers);

    auto show = [&](v3_param_id id, double value) {
        v3_str_128 out{};
        EXPECT_EQ(v3_cpp_obj(c)->get_parameter_string_for_value(c, id, value, out), V3_OK);
        return text(out);
    };
    EXPECT_EQ(show(18, 2.0 / 7), "Bandpass");
    EXPECT_EQ(show(26, 1.0 / 7), "tri");
    EXPECT_EQ(show(22, 1.0 / 14), "4/1");
    EXPECT_EQ(show(19, plugin->getParam(19)), "4337 Hz");  // "Rubber Boots", the program a new instance starts on
    EXPECT_EQ(show(1, plugin->getParam(1)), "161.6 ms");
    EXPECT_EQ(show(kProgramParam, 3.0 / 31), "FBM");
    int16_t typed[128] = {};
    const char* bandpass = "Bandpass";
    for (int i = 0; bandpass[i]; ++i) typed[i] = bandpass[i];
    double value = -1.0;
    EXPECT_EQ(v3_cpp_obj(c)->get_parameter_value_for_string(c, 18, typed, &value), V3_OK);
    EXPECT_DOUBLE_EQ(value, 2.0 / 7);
    EXPECT_EQ(v3_cpp_obj(c)->normalised_parameter_to_plain(c, 18, 2.0 / 7), 2.0);

    // Controllers 0..125 of any channel; 126 and 127 are never learned.
    void* mapping = nullptr;
    ASSERT_EQ(vst3::unknown(c)->query_interface(c, v3_midi_mapping_iid, &mapping), V3_OK);
    auto** m = static_cast<v3_midi_mapping**>(mapping);
    v3_param_id id = 0;
    EXPECT_EQ(v3_cpp_obj(m)->get_midi_controller_assignment(m, 0, 9, 7, &id), V3_OK);
    EXPECT_EQ(id, kControllerBase + 7);
    EXPECT_NE(v3_cpp_obj(m)->get_midi_controller_assignment(m, 0, 0, 126, &id), V3_OK);
    vst3::releaseInterface(mapping);

    // The program list a host shows as its preset menu.
    void* units = nullptr;
    ASSERT_EQ(vst3::unknown(c)->query_interface(c, v3_unit_information_iid, &units), V3_OK);
    auto** u = static_cast<v3_unit_information**>(units);
    v3_unit_info unit{};
    v3_program_list_info list{};
    ASSERT_EQ(v3_cpp_obj(u)->get_unit_info(u, 0, &unit), V3_OK);
    ASSERT_EQ(v3_cpp_obj(u)->get_program_list_info(u, 0, &list), V3_OK);
    EXPECT_EQ(unit.program_list_id, list.id);
    EXPECT_EQ(list.programCount, 32);
    v3_str_128 name{};
    ASSERT_EQ(v3_cpp_obj(u)->get_program_name(u, list.id, 4, name), V3_OK);
    EXPECT_EQ(text(name), "Skaro Defence Force");
    ASSERT_EQ(v3_cpp_obj(u)->get_program_name(u, list.id, 31, name), V3_OK);
    EXPECT_EQ(text(name), "Default");
    vst3::releaseInterface(units);
}

// The same engine behind both formats: each factory program, selected through
// the program parameter, renders what the VST 2.4 plug-in renders, bit for bit.
TEST(Vst3Plugin, RendersTheFactoryProgramsAsTheVst2Plugin) {
    const int frames = static_cast<int>(1.5 * kRate) + 77;
    const Signal signal(frames);
    for (int program = 0; program < 5; ++program) {
        SCOPED_TRACE("program " + std::to_string(program));
        std::string error;
        auto vst2 = host::PluginInstance::load(KOVALITH_VST2_PLUGIN, &error);
        ASSERT_TRUE(vst2) << error;
        vst2->setSampleRate(kRate);
        vst2->setBlockSize(kBlock);
        if (program != 0) vst2->setProgram(program);  // a new instance is on program 0 already
        vst2->setTransport(host::Transport{});
        auto vst3 = loadVst3();
        ASSERT_TRUE(vst3);
        ASSERT_TRUE(vst3->start(kRate, kBlock));

        std::vector<float> out2(4 * kBlock), out3(4 * kBlock);
        for (int done = 0; done < frames; done += kBlock) {
            const int n = std::min(kBlock, frames - done);
            std::vector<float> l(signal.left.begin() + done, signal.left.begin() + done + n);
            std::vector<float> r(signal.right.begin() + done, signal.right.begin() + done + n);
            float* in[2] = {l.data(), r.data()};
            float* o2[2] = {out2.data(), out2.data() + kBlock};
            float* o3[2] = {out3.data(), out3.data() + kBlock};
            ASSERT_TRUE(vst2->process(in, o2, n));
            vst2->advance(n);
            ChangeList changes;
            if (done == 0 && program != 0) changes.push_back(change(kProgramParam, program / 31.0));
            ASSERT_TRUE(vst3->process(in, o3, n, changes));
            for (int ch = 0; ch < 2; ++ch)
                ASSERT_EQ(std::memcmp(o2[ch], o3[ch], static_cast<std::size_t>(n) * sizeof(float)), 0)
                    << "channel " << ch << " differs in the block at frame " << done;
        }
    }
}

// save -> load -> save gives the same bytes; a damaged or foreign state is
// refused by the processor and the controller, and nothing changes.
TEST(Vst3Plugin, StateRoundTripsAndDamagedStateIsRefused) {
    auto plugin = loadVst3();
    ASSERT_TRUE(plugin);
    ASSERT_TRUE(plugin->start(kRate, kBlock));
    const Signal signal(kBlock);
    const float* in[2] = {signal.left.data(), signal.right.data()};
    std::vector<float> out(2 * kBlock);
    float* o[2] = {out.data(), out.data() + kBlock};
    ASSERT_TRUE(plugin->process(in, o, kBlock, {change(kProgramParam, 3 / 31.0), change(9, 0.25), change(26, 4 / 7.0)}));
    const std::vector<uint8_t> saved = plugin->state();
    ASSERT_EQ(saved.size(), kBankSize + 8);

    auto fresh = loadVst3();
    ASSERT_TRUE(fresh);
    ASSERT_TRUE(fresh->setState(saved));
    ASSERT_TRUE(fresh->setControllerState(saved));
    EXPECT_EQ(fresh->state(), saved);
    EXPECT_EQ(fresh->getParam(kProgramParam), 3 / 31.0);
    EXPECT_EQ(fresh->getParam(9), static_cast<double>(0.25f));
    EXPECT_EQ(fresh->getParam(26), 4 / 7.0);

    std::vector<uint8_t> wrongTag = saved, badProgram = saved, longer = saved, shorter = saved;
    wrongTag[kBankSize] ^= 0xFF;
    badProgram[kBankSize + 4] = 32;
    longer.push_back(0);
    shorter.pop_back();
    for (const auto* damaged : {&wrongTag, &badProgram, &longer, &shorter}) {
        EXPECT_FALSE(fresh->setState(*damaged)) << damaged->size();
        EXPECT_FALSE(fresh->setControllerState(*damaged)) << damaged->size();
    }
    EXPECT_FALSE(fresh->setState({}));
    EXPECT_EQ(fresh->state(), saved);

    // A bare bank (a VST 2.4 chunk) loads and keeps the program.
    EXPECT_TRUE(fresh->setState(std::vector<uint8_t>(saved.begin(), saved.begin() + kBankSize)));
    EXPECT_EQ(fresh->state(), saved);
}

// A controller bound in the program's record drives its parameter through the
// hidden controller parameter, on any channel, and the host hears of it; a
// program change tells the host every value.
TEST(Vst3Plugin, LearnedControllersAndProgramChangesReachTheHost) {
    auto plugin = loadVst3();
    ASSERT_TRUE(plugin);
    std::vector<uint8_t> state = plugin->state();
    const int32_t cc = 7;
    std::memcpy(state.data() + kMidiMapOffset + 17 * 4, &cc, 4);  // program 0: controller 7 drives "Feedback"
    ASSERT_TRUE(plugin->setState(state));
    ASSERT_TRUE(plugin->start(kRate, kBlock));

    const Signal signal(kBlock);
    const float* in[2] = {signal.left.data(), signal.right.data()};
    std::vector<float> out(2 * kBlock);
    float* o[2] = {out.data(), out.data() + kBlock};
    ChangeList reported;
    ASSERT_TRUE(plugin->process(in, o, kBlock, {{kControllerBase + 7, {{0, 0.5}, {100, 1.0}}}, change(kControllerBase + 8, 1.0)},
                                &reported));
    double value = -1.0;
    ASSERT_TRUE(reports(reported, 17, &value));
    EXPECT_EQ(value, 1.0);
    EXPECT_EQ(reported.size(), 1u) << "only the learned parameter";
    EXPECT_EQ(plugin->getParam(17), 1.0);

    ASSERT_TRUE(plugin->process(in, o, kBlock, {change(kProgramParam, 2 / 31.0)}, &reported));
    EXPECT_TRUE(reports(reported, kProgramParam, &value));
    EXPECT_EQ(value, 2 / 31.0);
    EXPECT_EQ(reported.size(), 1u + kExposedParameters);
    EXPECT_TRUE(reports(reported, 5, &value));
    EXPECT_EQ(value, static_cast<double>(0.324113f));  // "Scratchy"'s "A Res"
}

// 32-bit stereo only, no latency, and a tail that says the delay can ring.
TEST(Vst3Plugin, ProcessingAnswers) {
    auto plugin = loadVst3();
    ASSERT_TRUE(plugin);
    v3_audio_processor** p = plugin->processor();
    EXPECT_EQ(v3_cpp_obj(p)->can_process_sample_size(p, V3_SAMPLE_32), V3_OK);
    EXPECT_NE(v3_cpp_obj(p)->can_process_sample_size(p, V3_SAMPLE_64), V3_OK);
    v3_speaker_arrangement mono = V3_SPEAKER_M, stereo = V3_SPEAKER_L | V3_SPEAKER_R;
    EXPECT_NE(v3_cpp_obj(p)->set_bus_arrangements(p, &mono, 1, &mono, 1), V3_OK);
    EXPECT_EQ(v3_cpp_obj(p)->set_bus_arrangements(p, &stereo, 1, &stereo, 1), V3_OK);
    EXPECT_EQ(v3_cpp_obj(p)->get_latency_samples(p), 0u);
    ASSERT_TRUE(plugin->start(kRate, kBlock));

    std::vector<float> silence(2 * kBlock, 0.0f);
    const float* in[2] = {silence.data(), silence.data() + kBlock};
    std::vector<float> out(2 * kBlock);
    float* o[2] = {out.data(), out.data() + kBlock};
    ASSERT_TRUE(plugin->process(in, o, kBlock, {change(17, 0.0)}));
    EXPECT_EQ(v3_cpp_obj(p)->get_tail_samples(p), 3u * 44100u);
    ASSERT_TRUE(plugin->process(in, o, kBlock, {change(17, 0.3)}));
    EXPECT_EQ(v3_cpp_obj(p)->get_tail_samples(p), 0xFFFFFFFFu);
}

}  // namespace kovalith::vst3test
