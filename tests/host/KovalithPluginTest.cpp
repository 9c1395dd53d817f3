// Our own plug-in through the host: what a host sees, and its state carried
// between instances through .fxb / .fxp files.
#include "host/ParameterOptions.h"
#include "host/PresetFiles.h"
#include "plugin/ParameterIds.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace kovalith {
namespace host {
namespace {

const std::string kPlugin = KOVALITH_PLUGIN;
constexpr size_t kRecordBytes = 768;
constexpr size_t kBankBytes = 32 * kRecordBytes;

std::unique_ptr<PluginInstance> loadKovalith() {
    std::string error;
    auto plugin = PluginInstance::load(kPlugin, &error);
    EXPECT_TRUE(plugin) << error;
    return plugin;
}

std::string tempPath(const std::string& name) { return std::string(TEST_TMP_DIR) + "/" + name; }

// Runs build/kovalith and answers its exit code; stdout goes to `out`.
int runHost(const std::string& args, std::string* out = nullptr) {
    const std::string capture = tempPath("kovalith-cli-" + std::to_string(getpid()) + ".out");
    const std::string command = std::string("'") + KOVALITH_HOST_EXE + "' " + args + " >'" + capture + "'";
    const int status = std::system(command.c_str());
    if (out) {
        std::ifstream file(capture);
        std::stringstream text;
        text << file.rdbuf();
        *out = text.str();
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Moves a new instance away from its factory state.
void edit(PluginInstance& plugin) {
    plugin.setProgram(3);
    plugin.setParameter(kFeedback, 0.3125f);
    plugin.setParameter(kMix, 0.75f);
    plugin.setCurrentProgramName("Edited");
    plugin.setProgram(2);
    plugin.setParameter(kCutoff, 0.625f);
}

TEST(KovalithThroughTheHost, InfoShowsWhatAHostSees) {
    std::string out;
    ASSERT_EQ(runHost("--plugin '" + kPlugin + "' info", &out), 0);
    EXPECT_NE(out.find("Effect name:     Kovalith\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Product:         Kovalith\n"), std::string::npos);
    EXPECT_NE(out.find("Unique ID:       'QZVM' (0x515A564D)"), std::string::npos);
    EXPECT_NE(out.find("Vendor version:  90\n"), std::string::npos);
    EXPECT_NE(out.find("Inputs:          2\nOutputs:         2\n"), std::string::npos);
#ifdef KOVALITH_EDITOR_BUILT
    EXPECT_NE(out.find("Flags:           0x00000031 (HasEditor CanReplacing ProgramChunks)"), std::string::npos);
#else
    // Without the editor component nothing attaches an editor.
    EXPECT_NE(out.find("Flags:           0x00000030 (CanReplacing ProgramChunks)"), std::string::npos);
#endif
    EXPECT_NE(out.find("receiveVstMidiEvent: yes"), std::string::npos);
    EXPECT_NE(out.find("receiveVstTimeInfo: no"), std::string::npos);
    EXPECT_NE(out.find("Parameters (67):"), std::string::npos);
    // Menus of more than two items as their position, with the item; switches as they are.
    EXPECT_NE(out.find("  31\tLFO 2 Shape\tlabel \"-\"\tdisplay \"\"\tvalue 0.857143 (item 6 \"s & h\")\n"),
              std::string::npos);
    EXPECT_NE(out.find("  21\tDelay Stereo Multiplier\tlabel \"-\"\tdisplay \"\"\tvalue 0 (item 0 \"1\")\n"),
              std::string::npos);
    EXPECT_NE(out.find("  23\t\tlabel \"-\"\tdisplay \"\"\tvalue 1\n"), std::string::npos);
    EXPECT_NE(out.find("Programs (32), current 0:\n  0\tRubber Boots\n  1\tIntermittent\n  2\tScratchy\n"
                       "  3\tFBM\n  4\tSkaro Defence Force\n  5\tDefault\n"),
              std::string::npos)
        << out;
}

// --set names a menu's item, which goes to the plug-in as the item's position;
// every other value goes as it is.
TEST(KovalithThroughTheHost, SetOptionsGiveMenusByItem) {
    auto plugin = loadKovalith();
    ASSERT_TRUE(plugin);
    ParameterOptions options;
    options.settings = {{"Delay Sync", "4"},   {"31", "3"},          {"Delay Stereo Multiplier", "2.7"},
                        {"LFO 1 Stereo", "1"}, {"Filter Type", "0.3"}, {"Feedback", "0.3"}};
    std::string error;
    ASSERT_TRUE(applyParameterOptions(*plugin, options, &error)) << error;
    EXPECT_EQ(plugin->getParameter(kDelaySync), 4.0f / 14.0f);
    const std::vector<uint8_t> record = plugin->getChunk(true);
    const auto stored = [&](int index) {
        float value;
        std::memcpy(&value, record.data() + 4 * index, sizeof value);
        return value;
    };
    EXPECT_EQ(stored(kDelaySync), 4.0f);
    EXPECT_EQ(stored(kLfo2Shape), 3.0f);
    EXPECT_EQ(stored(kDelayStereoMult), 2.0f);  // the whole part, as the effect reads a stored 2.7
    EXPECT_EQ(stored(kLfo1Stereo), 1.0f);
    EXPECT_EQ(stored(kFilterType), 0.3f);
    EXPECT_EQ(stored(kFeedback), 0.3f);
}

TEST(KovalithThroughTheHost, InfoDoesNotDisturbTheLoadedState) {
    auto source = loadKovalith();
    ASSERT_TRUE(source);
    edit(*source);
    std::string error;
    ASSERT_TRUE(savePresetFile(*source, tempPath("kovalith-info.fxb"), &error)) << error;
    // info lists program names by switching programs; the export afterwards must still match.
    ASSERT_EQ(runHost("--plugin '" + kPlugin + "' --load '" + tempPath("kovalith-info.fxb") + "' info"), 0);
    auto target = loadKovalith();
    ASSERT_TRUE(target);
    ASSERT_TRUE(loadPresetFile(*target, tempPath("kovalith-info.fxb"), &error)) << error;
    target->programNames();
    EXPECT_EQ(target->getChunk(false), source->getChunk(false));
    EXPECT_EQ(target->currentProgram(), 2);
}

TEST(KovalithThroughTheHost, BankRoundTripsIntoAFreshInstance) {
    auto source = loadKovalith();
    ASSERT_TRUE(source);
    edit(*source);
    const std::vector<uint8_t> bank = source->getChunk(false);
    ASSERT_EQ(bank.size(), kBankBytes);

    std::string error;
    ASSERT_TRUE(savePresetFile(*source, tempPath("kovalith.fxb"), &error)) << error;
    auto target = loadKovalith();
    ASSERT_TRUE(target);
    ASSERT_TRUE(loadPresetFile(*target, tempPath("kovalith.fxb"), &error)) << error;
    EXPECT_EQ(target->getChunk(false), bank);
    EXPECT_EQ(target->currentProgram(), 2);
    EXPECT_FLOAT_EQ(target->getParameter(kCutoff), 0.625f);
    EXPECT_EQ(target->programName(3), "Edited");

    // The same through the executable: load the bank, export it again, byte for byte.
    const std::string again = tempPath("kovalith-again.fxb");
    ASSERT_EQ(runHost("--plugin '" + kPlugin + "' --load '" + tempPath("kovalith.fxb") + "' export-fxb '" +
                      again + "'"),
              0);
    std::vector<uint8_t> first, second;
    ASSERT_TRUE(readFileBytes(tempPath("kovalith.fxb"), first, &error)) << error;
    ASSERT_TRUE(readFileBytes(again, second, &error)) << error;
    EXPECT_EQ(second, first);
}

TEST(KovalithThroughTheHost, ProgramRoundTripsIntoAFreshInstance) {
    auto source = loadKovalith();
    ASSERT_TRUE(source);
    edit(*source);
    const std::vector<uint8_t> record = source->getChunk(true);
    ASSERT_EQ(record.size(), kRecordBytes);

    std::string error;
    ASSERT_TRUE(savePresetFile(*source, tempPath("kovalith.fxp"), &error)) << error;
    std::vector<uint8_t> file;
    ASSERT_TRUE(readFileBytes(tempPath("kovalith.fxp"), file, &error)) << error;
    const auto program = parseFxp(file, &error);
    ASSERT_TRUE(program) << error;
    EXPECT_TRUE(program->isChunk);
    EXPECT_EQ(program->fxID, vst2::fourCC('Q', 'Z', 'V', 'M'));
    EXPECT_EQ(program->name, "Scratchy");

    auto target = loadKovalith();
    ASSERT_TRUE(target);
    ASSERT_TRUE(loadPresetFile(*target, tempPath("kovalith.fxp"), &error)) << error;
    EXPECT_EQ(target->currentProgram(), 0) << "a program file replaces the current program";
    EXPECT_EQ(target->getChunk(true), record);
    EXPECT_EQ(target->currentProgramName(), "Scratchy");

    const std::string again = tempPath("kovalith-again.fxp");
    ASSERT_EQ(runHost("--plugin '" + kPlugin + "' --load '" + tempPath("kovalith.fxp") + "' export-fxp '" +
                      again + "'"),
              0);
    std::vector<uint8_t> reexported;
    ASSERT_TRUE(readFileBytes(again, reexported, &error)) << error;
    EXPECT_EQ(reexported, file);
}

TEST(KovalithThroughTheHost, AsksForTimeOncePerBlockAndProcessesStereo) {
    auto plugin = loadKovalith();
    ASSERT_TRUE(plugin);
    plugin->setTransport(Transport{100.0, 0.0, true, 0.0});
    std::vector<float> inL(512), inR(512), outL(512, 9.0f), outR(512, 9.0f);
    for (int i = 0; i < 512; ++i) inL[i] = inR[i] = 0.25f * std::sin(0.05f * i);
    float* in[] = {inL.data(), inR.data()};
    float* out[] = {outL.data(), outR.data()};
    plugin->clearRecord();
    for (int block = 0; block < 4; ++block) {
        ASSERT_TRUE(plugin->process(in, out, 512));
        plugin->advance(512);
    }
    EXPECT_EQ(plugin->counters().getTime, 4);
    for (int i = 0; i < 512; ++i) ASSERT_TRUE(std::isfinite(outL[i]) && std::isfinite(outR[i])) << i;
}

TEST(KovalithThroughTheHost, LearnedControllerUpdatesTheHostsDisplay) {
    auto plugin = loadKovalith();
    ASSERT_TRUE(plugin);
    plugin->clearRecord();
    plugin->setParameter(kLearnCommandBase + kFeedback, 0.0f);  // arm learning for "Feedback"
    plugin->sendMidi(0xB2, 7, 100);
    EXPECT_EQ(plugin->counters().updateDisplay, 0) << "the learning message itself changes nothing";
    plugin->sendMidi(0xB5, 7, 127);
    EXPECT_FLOAT_EQ(plugin->getParameter(kFeedback), 1.0f);
    EXPECT_EQ(plugin->counters().updateDisplay, 1);
    EXPECT_EQ(plugin->counters().automate, 0) << "set, not automated";
}

}  // namespace
}  // namespace host
}  // namespace kovalith
