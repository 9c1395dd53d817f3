// The effect through its binary interface: build/Kovalith.so loaded with
// dlopen and driven by the project's host library, as a real host does.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <dlfcn.h>
#endif

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string>
#include <vector>

#include "host/PluginHost.h"
#include "plugin/vst2.h"

namespace {

using kovalith::host::PluginInstance;

// "Rubber Boots", the first factory preset, as stored.
constexpr float kRubberBoots[67] = {
    0.0f, 0.401611f, 0.276518f, 0.19906f, 0.645516f, 0.98f, 0.0f, 0.0f,
    0.0f, 0.359722f, 0.276833f, 0.5f, 0.0f, 0.6296f, 0.0f, 0.98f,
    0.291445f, 0.254183f, 0.0f, 0.197159f, 0.333333f, 0.48f, 0.0f, 1.0f,
    0.1285f, 0.34746f, 1.0f, 0.266781f, 0.145516f, 0.0f, 1.0f, 6.0f,
    0.162336f, 0.0742818f, 0.0f, 4.0f, 0.917111f, 0.487155f, 0.5f, 0.5f,
    0.5f, 0.5f, 0.5f, 0.931722f, 0.5f, 0.5f, 0.5f, 0.5f,
    0.5f, 0.510097f, 0.647428f, 0.5f, 0.624778f, 0.5f, 0.5f, 0.5f,
    0.555302f, 1.0f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f,
    0.0f, 0.0f, 0.0f,
};

// What a host reads of "Rubber Boots": the menus of more than two items as
// their item's position, item / (items - 1); the rest as stored.
float rubberBootsForTheHost(int index) {
    switch (index) {
        case 21: return 0.0f;          // 0.48: item 0 of 13
        case 26: return 1.0f / 7.0f;   // "tri"
        case 30: return 1.0f / 14.0f;  // "4/1"
        case 31: return 6.0f / 7.0f;   // "s & h"
        case 35: return 4.0f / 14.0f;  // "1/4"
        default: return kRubberBoots[index];
    }
}

// Values whose low 32 bits alone would be valid, where intptr_t is wider (the
// extremes on 32-bit hosts).
constexpr intptr_t kPast32Bits =
    sizeof(intptr_t) > 4 ? static_cast<intptr_t>(INT64_C(1) << 32) : std::numeric_limits<intptr_t>::max();
constexpr intptr_t kBelow32Bits =
    sizeof(intptr_t) > 4 ? static_cast<intptr_t>(-(INT64_C(1) << 32)) : std::numeric_limits<intptr_t>::min();

constexpr int kBankBytes = 24576;
constexpr int kRecordBytes = 768;
constexpr int kNameOffset = 536;
constexpr int kMidiMapOffset = 268;

std::unique_ptr<PluginInstance> loadPlugin() {
    std::string error;
    auto plugin = PluginInstance::load(KOVALITH_PLUGIN_PATH, &error);
    EXPECT_TRUE(plugin) << error;
    return plugin;
}

class BinaryInterface : public ::testing::Test {
protected:
    void SetUp() override {
        plugin = loadPlugin();
        ASSERT_TRUE(plugin);
        effect = plugin->effect();
    }

    intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f) {
        return plugin->dispatch(opcode, index, value, ptr, opt);
    }
    // A text answer, written into a buffer pre-filled with garbage.
    std::string text(int32_t opcode, int32_t index = 0, intptr_t* answer = nullptr) {
        char buffer[256];
        std::memset(buffer, 'x', sizeof buffer);
        buffer[sizeof buffer - 1] = '\0';
        const intptr_t result = dispatch(opcode, index, 0, buffer);
        if (answer) *answer = result;
        return buffer;
    }
    void setParameter(int index, float value) { effect->setParameter(effect, index, value); }
    float getParameter(int index) { return effect->getParameter(effect, index); }
    std::string programName() { return text(vst2::effGetProgramName); }
    void sendCC(int channel, int controller, int value) {
        plugin->sendMidi(static_cast<uint8_t>(0xB0 | channel), static_cast<uint8_t>(controller),
                         static_cast<uint8_t>(value));
    }

    std::unique_ptr<PluginInstance> plugin;
    vst2::AEffect* effect = nullptr;
};

// ---- identity and dispatcher answers ----------------------------------------

TEST_F(BinaryInterface, RecordFieldsAfterConstruction) {
    EXPECT_EQ(effect->magic, vst2::kEffectMagic);
    EXPECT_EQ(effect->numPrograms, 32);
    EXPECT_EQ(effect->numParams, 67);
    EXPECT_EQ(effect->numInputs, 2);
    EXPECT_EQ(effect->numOutputs, 2);
    // HasEditor | CanReplacing | ProgramChunks.
    EXPECT_EQ(effect->flags, 49);
    EXPECT_EQ(effect->initialDelay, 0);
    EXPECT_EQ(effect->ioRatio, 1.0f);
    EXPECT_EQ(effect->uniqueID, 0x515A564D);
    EXPECT_EQ(effect->version, 1);
    EXPECT_NE(effect->processReplacing, nullptr);
    EXPECT_NE(effect->processDoubleReplacing, nullptr);
    EXPECT_NE(effect->process, nullptr);
}

TEST_F(BinaryInterface, DispatcherAnswers) {
    EXPECT_EQ(dispatch(vst2::effIdentify), vst2::fourCC('N', 'v', 'E', 'f'));
    EXPECT_EQ(dispatch(vst2::effGetVendorVersion), 90);
    EXPECT_EQ(dispatch(vst2::effGetVstVersion), 2400);
    EXPECT_EQ(dispatch(vst2::effGetPlugCategory), vst2::kPlugCategUnknown);
    EXPECT_EQ(dispatch(vst2::effGetTailSize), 0);
    EXPECT_EQ(dispatch(vst2::effGetCurrentMidiProgram), -1);
    EXPECT_EQ(dispatch(vst2::effSetTotalSampleToProcess, 0, 4711), 4711);
    EXPECT_EQ(dispatch(vst2::effCanBeAutomated, 0), 1);
    EXPECT_EQ(dispatch(vst2::effCanBeAutomated, 66), 1);
    EXPECT_EQ(dispatch(vst2::effOpen), 0);
    for (int32_t opcode : std::initializer_list<int32_t>{vst2::effString2Parameter, vst2::effGetProgramNameIndexed, vst2::effGetInputProperties,
                           vst2::effGetOutputProperties, vst2::effSetBypass, vst2::effGetParameterProperties,
                           vst2::effBeginSetProgram, vst2::effEndSetProgram, vst2::effSetPanLaw,
                           vst2::effSetProcessPrecision, 9999})
        EXPECT_EQ(dispatch(opcode, 0, 1), 0) << "opcode " << opcode;
}

// The editor's window rectangle; opening without a parent window fails, and
// the requests that need an open window answer 0.
TEST_F(BinaryInterface, EditorRequestsWithoutAWindow) {
    vst2::ERect* rect = nullptr;
    EXPECT_EQ(dispatch(vst2::effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->bottom, 479);
    EXPECT_EQ(rect->right, 659);
    for (int32_t opcode : {vst2::effEditOpen, vst2::effEditClose, vst2::effEditIdle, vst2::effEditKeyDown,
                           vst2::effEditKeyUp})
        EXPECT_EQ(dispatch(opcode), 0) << "opcode " << opcode;
    EXPECT_EQ(dispatch(vst2::effSetEditKnobMode, 0, 2), 1);
    EXPECT_EQ(dispatch(vst2::effSetEditKnobMode, 0, 7), 0);
}

TEST_F(BinaryInterface, IdentityTexts) {
    intptr_t answer = -5;
    EXPECT_EQ(text(vst2::effGetEffectName, 0, &answer), "Kovalith");
    EXPECT_EQ(answer, 1);
    EXPECT_EQ(text(vst2::effGetProductString, 0, &answer), "Kovalith");
    EXPECT_EQ(answer, 0);
    EXPECT_EQ(text(vst2::effGetVendorString, 0, &answer), "kovalith.audio");
    EXPECT_EQ(answer, 1);
}

TEST_F(BinaryInterface, CanDoComparesWholeStringsExactly) {
    EXPECT_EQ(plugin->canDo("receiveVstEvents"), 1);
    EXPECT_EQ(plugin->canDo("receiveVstMidiEvent"), 1);
    EXPECT_EQ(plugin->canDo("receiveVstTimeInfo"), -1);
    EXPECT_EQ(plugin->canDo(""), -1);
    EXPECT_EQ(plugin->canDo("receivevstevents"), -1);
    EXPECT_EQ(plugin->canDo("receiveVstEventsX"), -1);
    EXPECT_EQ(dispatch(vst2::effCanDo, 0, 0, nullptr), -1);
}

TEST_F(BinaryInterface, SpeakerArrangementIsNone) {
    void* input = &input;
    void* output = &output;
    EXPECT_EQ(dispatch(vst2::effGetSpeakerArrangement, 0, reinterpret_cast<intptr_t>(&input), &output), 0);
    EXPECT_EQ(input, nullptr);
    EXPECT_EQ(output, nullptr);
    EXPECT_EQ(dispatch(vst2::effGetSpeakerArrangement, 0, 0, nullptr), 0);
}

TEST_F(BinaryInterface, StartsOnRubberBoots) {
    EXPECT_EQ(dispatch(vst2::effGetProgram), 0);
    EXPECT_EQ(programName(), "Rubber Boots");
    for (int i = 0; i < 67; ++i) EXPECT_EQ(getParameter(i), rubberBootsForTheHost(i)) << "parameter " << i;
}

TEST_F(BinaryInterface, SetProgramOutsideTheBankChangesNothing) {
    dispatch(vst2::effSetProgram, 0, 3);
    setParameter(17, 0.75f);
    for (intptr_t program : {intptr_t{32}, intptr_t{-1}, kPast32Bits, kBelow32Bits}) {
        EXPECT_EQ(dispatch(vst2::effSetProgram, 0, program), 0);
        EXPECT_EQ(dispatch(vst2::effGetProgram), 3) << program;
        EXPECT_EQ(getParameter(17), 0.75f) << program;
    }
    dispatch(vst2::effSetProgram, 0, 31);
    EXPECT_EQ(dispatch(vst2::effGetProgram), 31);
}

// ---- parameters -------------------------------------------------------------

TEST_F(BinaryInterface, ParameterTexts) {
    EXPECT_EQ(text(vst2::effGetParamName, 55), "LFO 2->Gain");
    EXPECT_EQ(text(vst2::effGetParamName, 8), "A Res");
    EXPECT_EQ(text(vst2::effGetParamName, 5), "A Res");
    EXPECT_EQ(text(vst2::effGetParamName, 21), "Delay Stereo Multiplier");
    EXPECT_EQ(text(vst2::effGetParamName, 1), "Block Size");
    EXPECT_EQ(text(vst2::effGetParamName, 2), "# Stages");
    EXPECT_EQ(text(vst2::effGetParamName, 65), "Compressor Types");
    for (int index : {0, 6, 7, 12, 14, 23, 28, 33, 59, 64, 66, 67, -1, 1000})
        EXPECT_EQ(text(vst2::effGetParamName, index), "") << "index " << index;
    for (int index = -1; index <= 67; ++index) {
        EXPECT_EQ(text(vst2::effGetParamLabel, index), "-");
        EXPECT_EQ(text(vst2::effGetParamDisplay, index), "");
    }
}

TEST_F(BinaryInterface, ValuesAreStoredUnclampedMenusAsTheirNearestItem) {
    setParameter(17, -3.0f);
    EXPECT_EQ(getParameter(17), -3.0f);
    // A menu's value beyond 1 selects its last item, and the chunk stores the item.
    setParameter(21, 12.9f);
    EXPECT_EQ(getParameter(21), 1.0f);
    setParameter(22, 0.5f);
    EXPECT_EQ(getParameter(22), 0.5f);
    const auto preset = plugin->getChunk(true);
    float stored[2];
    std::memcpy(stored, preset.data() + 21 * 4, sizeof stored);
    EXPECT_EQ(stored[0], 12.0f);
    EXPECT_EQ(stored[1], 7.0f);
}

TEST_F(BinaryInterface, BadParameterIndicesAndValuesAreHarmless) {
    const float before = getParameter(17);
    for (int index : {-1, -1000, 67, 135, 136, 100000, std::numeric_limits<int>::min()}) {
        setParameter(index, 0.3f);
        EXPECT_EQ(getParameter(index), 0.0f);
    }
    for (float bad : {std::nanf(""), std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()}) {
        setParameter(17, bad);
        EXPECT_EQ(getParameter(17), before);
    }
    // The current record keeps the finite value too.
    const auto preset = plugin->getChunk(true);
    float stored;
    std::memcpy(&stored, preset.data() + 17 * 4, 4);
    EXPECT_EQ(stored, before);
}

// ---- programs and chunks ----------------------------------------------------

TEST_F(BinaryInterface, ChunkSizesAndLayout) {
    void* data = nullptr;
    EXPECT_EQ(dispatch(vst2::effGetChunk, 0, 0, &data), kBankBytes);
    EXPECT_NE(data, nullptr);
    EXPECT_EQ(dispatch(vst2::effGetChunk, 1, 0, &data), kRecordBytes);

    const auto preset = plugin->getChunk(true);
    ASSERT_EQ(preset.size(), static_cast<size_t>(kRecordBytes));
    EXPECT_EQ(std::memcmp(preset.data(), kRubberBoots, sizeof kRubberBoots), 0);
    for (int i = 0; i < 67; ++i) {
        int32_t controller;
        std::memcpy(&controller, preset.data() + kMidiMapOffset + 4 * i, 4);
        EXPECT_EQ(controller, -1);
    }
    char name[25] = {};
    std::memcpy(name, preset.data() + kNameOffset, 24);
    EXPECT_STREQ(name, "Rubber Boots");
    for (int i = 560; i < 760; ++i) EXPECT_EQ(preset[static_cast<size_t>(i)], 0) << "reserved byte " << i;
    EXPECT_STREQ(reinterpret_cast<const char*>(preset.data() + 760), "0.9");

    const auto bank = plugin->getChunk(false);
    ASSERT_EQ(bank.size(), static_cast<size_t>(kBankBytes));
    EXPECT_EQ(std::memcmp(bank.data(), preset.data(), kRecordBytes), 0);
    // Spot values from the other presets: "Scratchy" filter type, "FBM" compressor, "Skaro" mix.
    auto bankValue = [&](int program, int param) {
        float value;
        std::memcpy(&value, bank.data() + program * kRecordBytes + 4 * param, 4);
        return value;
    };
    EXPECT_EQ(bankValue(2, 18), 0.2f);
    EXPECT_EQ(bankValue(3, 65), 4.0f);
    EXPECT_EQ(bankValue(4, 58), 1.0f);
    EXPECT_EQ(bankValue(4, 19), 0.0230657f);
    EXPECT_EQ(bankValue(1, 21), 3.0f);
    // A "Default" record.
    EXPECT_EQ(bankValue(5, 1), 0.5f);
    EXPECT_EQ(bankValue(5, 21), 1.0f);
    EXPECT_EQ(bankValue(5, 36), 0.5f);
    EXPECT_EQ(bankValue(5, 57), 1.0f);
    EXPECT_EQ(bankValue(5, 17), 0.0f);
}

TEST_F(BinaryInterface, ProgramNames) {
    const char* factory[] = {"Rubber Boots", "Intermittent", "Scratchy", "FBM", "Skaro Defence Force"};
    for (int p = 0; p < 32; ++p) {
        dispatch(vst2::effSetProgram, 0, p);
        EXPECT_EQ(programName(), p < 5 ? factory[p] : "Default") << "program " << p;
    }
}

TEST_F(BinaryInterface, ProgramNameLength) {
    const std::string twentyTwo = "abcdefghijklmnopqrstuv";
    const std::string twentyThree = twentyTwo + "w";
    dispatch(vst2::effSetProgramName, 0, 0, const_cast<char*>(twentyTwo.c_str()));
    EXPECT_EQ(programName(), twentyTwo);
    dispatch(vst2::effSetProgramName, 0, 0, const_cast<char*>(twentyThree.c_str()));
    EXPECT_EQ(programName(), twentyTwo);
    dispatch(vst2::effSetProgramName, 0, 0, const_cast<char*>("A"));
    EXPECT_EQ(programName(), "A");
    dispatch(vst2::effSetProgramName, 0, 0, nullptr);
    EXPECT_EQ(programName(), "A");
}

TEST_F(BinaryInterface, EditsLiveInTheProgramLeftBehind) {
    setParameter(9, 0.123f);
    dispatch(vst2::effSetProgram, 0, 1);
    EXPECT_EQ(getParameter(9), 0.359722f);
    dispatch(vst2::effSetProgram, 0, 0);
    EXPECT_EQ(getParameter(9), 0.123f);
}

TEST_F(BinaryInterface, BankRoundTripRestoresProgramsNamesAndBindings) {
    // Program 2 gets a name, an edit and a binding of controller 0 to "Delay".
    dispatch(vst2::effSetProgram, 0, 2);
    dispatch(vst2::effSetProgramName, 0, 0, const_cast<char*>("Saved Scratch"));
    setParameter(16, 0.625f);
    setParameter(68 + 16, 0.0f);
    sendCC(0, 0, 10);
    const auto bank = plugin->getChunk(false);

    auto other = loadPlugin();
    ASSERT_TRUE(other);
    other->dispatch(vst2::effSetProgram, 0, 2);
    ASSERT_TRUE(other->setChunk(bank, false));
    EXPECT_EQ(other->getChunk(false), bank);
    EXPECT_EQ(other->currentProgramName(), "Saved Scratch");
    EXPECT_EQ(other->getParameter(16), 0.625f);
    other->sendMidi(0xB0, 0, 127);
    EXPECT_EQ(other->getParameter(16), 1.0f);
    // The binding survives a program change there and back.
    other->setProgram(0);
    other->setProgram(2);
    other->sendMidi(0xB0, 0, 0);
    EXPECT_EQ(other->getParameter(16), 0.0f);
}

TEST_F(BinaryInterface, ProgramRoundTripOverwritesOnlyTheCurrentRecord) {
    dispatch(vst2::effSetProgram, 0, 1);
    setParameter(57, 0.25f);
    setParameter(68 + 57, 0.0f);
    sendCC(0, 21, 5);
    const auto record = plugin->getChunk(true);
    ASSERT_EQ(record.size(), static_cast<size_t>(kRecordBytes));

    auto other = loadPlugin();
    ASSERT_TRUE(other);
    other->setProgram(7);
    ASSERT_TRUE(other->setChunk(record, true));
    EXPECT_EQ(other->currentProgram(), 7);
    EXPECT_EQ(other->currentProgramName(), "Intermittent");
    EXPECT_EQ(other->getParameter(57), 0.25f);
    EXPECT_EQ(other->getParameter(16), 0.379736f);
    other->sendMidi(0xB5, 21, 127);
    EXPECT_EQ(other->getParameter(57), 1.0f);
    other->setProgram(0);
    EXPECT_EQ(other->currentProgramName(), "Rubber Boots");
}

TEST_F(BinaryInterface, WrongChunksAreRefused) {
    const auto bank = plugin->getChunk(false);
    setParameter(17, 0.5f);
    std::vector<uint8_t> shorter(bank.begin(), bank.end() - 1);
    std::vector<uint8_t> longer(bank);
    longer.push_back(0);
    std::vector<uint8_t> record(bank.begin(), bank.begin() + kRecordBytes);
    EXPECT_FALSE(plugin->setChunk(shorter, false));
    EXPECT_FALSE(plugin->setChunk(longer, false));
    EXPECT_FALSE(plugin->setChunk(record, false));
    EXPECT_FALSE(plugin->setChunk(bank, true));
    EXPECT_EQ(dispatch(vst2::effSetChunk, 0, kBankBytes, nullptr), 0);
    EXPECT_EQ(dispatch(vst2::effSetChunk, 1, kRecordBytes, nullptr), 0);
    EXPECT_EQ(dispatch(vst2::effSetChunk, 0, -1, const_cast<uint8_t*>(bank.data())), 0);
    EXPECT_EQ(dispatch(vst2::effSetChunk, 0, sizeof(intptr_t) > 4 ? intptr_t{kBankBytes} + kPast32Bits : kPast32Bits,
                       const_cast<uint8_t*>(bank.data())),
              0);
    EXPECT_EQ(getParameter(17), 0.5f);
    EXPECT_EQ(dispatch(vst2::effGetChunk, 0, 0, nullptr), 0);
}

TEST_F(BinaryInterface, UntrustedChunkContentsAreBounded) {
    auto record = plugin->getChunk(true);
    // A name without a terminating zero, controllers outside 0..126, a NaN value.
    std::memset(record.data() + kNameOffset, 'N', 24);
    const int32_t controllers[] = {127, -5, 1000, 126};
    for (int i = 0; i < 4; ++i) std::memcpy(record.data() + kMidiMapOffset + 4 * i, &controllers[i], 4);
    const float nan = std::nanf("");
    std::memcpy(record.data() + 4 * 17, &nan, 4);
    const float feedback = getParameter(17);
    ASSERT_TRUE(plugin->setChunk(record, true));
    EXPECT_EQ(programName(), std::string(23, 'N'));
    EXPECT_EQ(getParameter(17), feedback);
    for (int controller = 0; controller < 128; ++controller) sendCC(0, controller, 64);
    EXPECT_EQ(getParameter(0), 0.0f);
    EXPECT_EQ(getParameter(1), kRubberBoots[1]);
    EXPECT_EQ(getParameter(2), kRubberBoots[2]);
    EXPECT_EQ(getParameter(3), kRubberBoots[3]);
}

// ---- MIDI learn --------------------------------------------------------------

TEST_F(BinaryInterface, LearnFeedbackFromController7OnAnyChannel) {
    plugin->clearRecord();
    setParameter(85, 0.0f);  // learn "Feedback"
    sendCC(0, 7, 100);
    EXPECT_EQ(getParameter(17), kRubberBoots[17]);
    EXPECT_EQ(plugin->counters().updateDisplay, 0);
    sendCC(9, 7, 127);
    EXPECT_EQ(getParameter(17), 1.0f);
    EXPECT_EQ(plugin->counters().updateDisplay, 1);
    sendCC(15, 7, 0);
    EXPECT_EQ(getParameter(17), 0.0f);
    sendCC(3, 7, 100);
    EXPECT_EQ(getParameter(17), static_cast<float>(100.0 / 127.0));
    EXPECT_EQ(plugin->counters().updateDisplay, 3);
    EXPECT_EQ(plugin->counters().automate, 0);
}

TEST_F(BinaryInterface, OtherMessagesDoNotDriveParameters) {
    setParameter(85, 0.0f);
    sendCC(0, 7, 1);
    const float before = getParameter(17);
    for (uint8_t status : {0x90, 0x80, 0xA0, 0xC0, 0xD0, 0xE0, 0xF0, 0x37}) plugin->sendMidi(status, 7, 99);
    EXPECT_EQ(getParameter(17), before);
}

TEST_F(BinaryInterface, ControllerZeroIsLearnedAndRestoredAfterAProgramChange) {
    setParameter(68 + 13, 0.0f);
    sendCC(0, 0, 1);
    dispatch(vst2::effSetProgram, 0, 4);
    sendCC(0, 0, 127);
    EXPECT_EQ(getParameter(13), 0.794001f);  // program 4 binds nothing
    dispatch(vst2::effSetProgram, 0, 0);
    sendCC(0, 0, 127);
    EXPECT_EQ(getParameter(13), 1.0f);
}

TEST_F(BinaryInterface, FilterDisplayCommands) {
    setParameter(87, 3.0f);  // learn "Resonance"
    sendCC(0, 20, 1);
    sendCC(0, 20, 127);
    EXPECT_EQ(getParameter(20), 1.0f);
    EXPECT_EQ(getParameter(19), kRubberBoots[19]);
    setParameter(87, 2.0f);  // learn "Cutoff"
    sendCC(0, 21, 1);
    sendCC(0, 21, 0);
    EXPECT_EQ(getParameter(19), 0.0f);
    setParameter(87, 4.0f);  // forget both
    sendCC(0, 20, 64);
    sendCC(0, 21, 64);
    EXPECT_EQ(getParameter(20), 1.0f);
    EXPECT_EQ(getParameter(19), 0.0f);
    // Nothing is left armed.
    sendCC(0, 22, 64);
    sendCC(0, 22, 127);
    for (int i = 0; i < 67; ++i)
        if (i != 19 && i != 20) {
            EXPECT_EQ(getParameter(i), rubberBootsForTheHost(i)) << i;
        }
}

TEST_F(BinaryInterface, Controller126NeverBinds) {
    setParameter(68 + 9, 0.0f);
    sendCC(0, 126, 1);
    sendCC(0, 127, 1);
    sendCC(0, 126, 127);
    EXPECT_EQ(getParameter(9), kRubberBoots[9]);
    // Still armed: the next valid controller binds.
    sendCC(0, 125, 0);
    sendCC(0, 125, 127);
    EXPECT_EQ(getParameter(9), 1.0f);
}

TEST_F(BinaryInterface, RecordBindingController74ToCutoff) {
    auto record = plugin->getChunk(true);
    const int32_t controller = 74;
    std::memcpy(record.data() + kMidiMapOffset + 4 * 19, &controller, 4);
    ASSERT_TRUE(plugin->setChunk(record, true));
    plugin->clearRecord();
    sendCC(0, 74, 127);
    EXPECT_EQ(getParameter(19), 1.0f);
    EXPECT_EQ(plugin->counters().updateDisplay, 1);
    EXPECT_EQ(plugin->counters().automate, 0);
}

TEST_F(BinaryInterface, SecondControllerForABoundParameter) {
    setParameter(68 + 17, 0.0f);
    sendCC(0, 1, 0);
    setParameter(68 + 17, 0.0f);
    sendCC(0, 2, 0);
    sendCC(0, 1, 127);
    EXPECT_EQ(getParameter(17), 1.0f);
    sendCC(0, 2, 0);
    EXPECT_EQ(getParameter(17), 0.0f);
    dispatch(vst2::effSetProgram, 0, 0);
    sendCC(0, 1, 127);
    EXPECT_EQ(getParameter(17), 0.0f);
    sendCC(0, 2, 127);
    EXPECT_EQ(getParameter(17), 1.0f);
}

TEST_F(BinaryInterface, ForgetCommand) {
    setParameter(68 + 16, 0.0f);
    sendCC(0, 30, 0);
    setParameter(68 + 16, 1.0f);  // "Forget Midi"
    sendCC(0, 30, 127);
    EXPECT_EQ(getParameter(16), kRubberBoots[16]);
    const auto record = plugin->getChunk(true);
    int32_t stored;
    std::memcpy(&stored, record.data() + kMidiMapOffset + 4 * 16, 4);
    EXPECT_EQ(stored, -1);
}

// ---- bad input through the dispatcher ---------------------------------------

TEST_F(BinaryInterface, NullPointersWhereTextsOrPointersBelong) {
    for (int32_t opcode : {vst2::effGetProgramName, vst2::effSetProgramName, vst2::effGetParamLabel,
                           vst2::effGetParamDisplay, vst2::effGetParamName, vst2::effGetEffectName,
                           vst2::effGetVendorString, vst2::effGetProductString, vst2::effGetChunk,
                           vst2::effSetChunk, vst2::effEditGetRect, vst2::effProcessEvents})
        EXPECT_EQ(dispatch(opcode, 1, 768, nullptr), 0) << "opcode " << opcode;
    EXPECT_EQ(programName(), "Rubber Boots");
}

TEST_F(BinaryInterface, BrokenEventLists) {
    setParameter(68 + 17, 0.0f);
    vst2::VstMidiEvent learn{};
    learn.type = vst2::kVstMidiType;
    learn.byteSize = sizeof learn;
    learn.midiData[0] = static_cast<char>(0xB0);
    learn.midiData[1] = 7;

    struct {
        int32_t numEvents;
        intptr_t reserved;
        vst2::VstEvent* events[4];
    } list{};
    // A negative count.
    list.numEvents = -3;
    list.events[0] = reinterpret_cast<vst2::VstEvent*>(&learn);
    EXPECT_EQ(dispatch(vst2::effProcessEvents, 0, 0, &list), 1);
    // Null entries, a non-MIDI event, a short MIDI event, garbage bytes.
    vst2::VstEvent sysex{};
    sysex.type = vst2::kVstSysExType;
    sysex.byteSize = sizeof sysex;
    vst2::VstMidiEvent shortEvent = learn;
    shortEvent.byteSize = 4;
    vst2::VstMidiEvent garbage = learn;
    garbage.midiData[1] = static_cast<char>(0xB7);
    garbage.midiData[2] = static_cast<char>(0xFF);
    list.numEvents = 4;
    list.events[0] = nullptr;
    list.events[1] = &sysex;
    list.events[2] = reinterpret_cast<vst2::VstEvent*>(&shortEvent);
    list.events[3] = reinterpret_cast<vst2::VstEvent*>(&garbage);
    EXPECT_EQ(dispatch(vst2::effProcessEvents, 0, 0, &list), 1);
    // None of them consumed the armed learn.
    sendCC(0, 7, 0);
    sendCC(0, 7, 127);
    EXPECT_EQ(getParameter(17), 1.0f);
    // The short form of byteSize (type and size fields left out) is accepted.
    vst2::VstMidiEvent hostStyle = learn;
    hostStyle.byteSize = 24;
    hostStyle.midiData[2] = 0;
    list.numEvents = 1;
    list.events[0] = reinterpret_cast<vst2::VstEvent*>(&hostStyle);
    dispatch(vst2::effProcessEvents, 0, 0, &list);
    EXPECT_EQ(getParameter(17), 0.0f);
}

// ---- processing ---------------------------------------------------------------

TEST_F(BinaryInterface, ProcessesAfterBadSampleRates) {
    for (float rate : {0.0f, -48000.0f, std::nanf(""), std::numeric_limits<float>::infinity()})
        EXPECT_EQ(dispatch(vst2::effSetSampleRate, 0, 0, nullptr, rate), 0);
    dispatch(vst2::effSetBlockSize, 0, 64);
    dispatch(vst2::effMainsChanged, 0, 1);
    std::vector<float> inL(64), inR(64), outL(64, 5.0f), outR(64, 5.0f);
    for (int i = 0; i < 64; ++i) {
        inL[static_cast<size_t>(i)] = std::sin(0.1f * static_cast<float>(i));
        inR[static_cast<size_t>(i)] = 0.5f;
    }
    float* in[] = {inL.data(), inR.data()};
    float* out[] = {outL.data(), outR.data()};
    effect->processReplacing(effect, in, out, 64);
    // Whatever the signal chain does, both outputs are overwritten.
    for (float sample : outL) EXPECT_NE(sample, 5.0f);
    for (float sample : outR) EXPECT_NE(sample, 5.0f);
    for (float sample : outL) EXPECT_TRUE(std::isfinite(sample));
    for (float sample : outR) EXPECT_TRUE(std::isfinite(sample));
    // The double entry is an empty stub.
    double dummy[4] = {7.0, 7.0, 7.0, 7.0};
    double* d[] = {dummy, dummy + 2};
    effect->processDoubleReplacing(effect, d, d, 2);
    EXPECT_EQ(dummy[0], 7.0);
}

// The Windows test program (tests/windows) runs these tests on the DLL too and
// checks its exports with LoadLibrary instead.
#ifndef _WIN32
intptr_t silentHost(vst2::AEffect*, int32_t, int32_t, intptr_t, void*, float) { return 0; }

TEST(BinaryEntry, ExportsOneEntryUnderTwoNamesAndRefusesHostsWithoutVersion) {
    void* library = dlopen(KOVALITH_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto entry = reinterpret_cast<vst2::VSTPluginMainProc>(dlsym(library, "VSTPluginMain"));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(entry), dlsym(library, "main"));
    // Nothing of the effect's own code is visible to the host.
    EXPECT_EQ(dlsym(library, "_ZN8kovalith8KovalithD0Ev"), nullptr);
    EXPECT_EQ(entry(nullptr), nullptr);
    EXPECT_EQ(entry(silentHost), nullptr);
    dlclose(library);
}
#endif

}  // namespace
