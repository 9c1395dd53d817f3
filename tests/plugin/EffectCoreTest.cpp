// The effect's internals, reached directly through kovalith_vst2: engineering
// values, synced read-outs, the hand-over of changes to the engine, editor
// notifications and the failure paths of allocation.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "plugin/AEffEditor.h"
#include "plugin/Kovalith.h"
#include "tests/ControllerEvent.h"

// Allocation failure on demand: the effect asks for its bank and its change
// queue with nothrow new, so these two replacements let a test refuse them.
namespace {
std::atomic<bool> gFailBank{false};
std::atomic<bool> gFailLargeArrays{false};
constexpr std::size_t kLargeArray = 256 * 1024;
}  // namespace

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (gFailBank.load() && size == sizeof(kovalith::ProgramBank)) return nullptr;
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (gFailLargeArrays.load() && size >= kLargeArray) return nullptr;
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}

namespace {

using namespace kovalith;

std::atomic<int> gAutomate{0};
std::atomic<int> gUpdateDisplay{0};

intptr_t testHost(vst2::AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
    if (opcode == vst2::audioMasterVersion) return 2400;
    if (opcode == vst2::audioMasterAutomate) ++gAutomate;
    if (opcode == vst2::audioMasterUpdateDisplay) ++gUpdateDisplay;
    return 0;
}

struct EngineCall {
    int index;
    float value;
    float engValue;
};

// The effect with the engine's entry observed: every replayed change is recorded.
class RecordingCore : public KovalithEffect {
public:
    std::vector<EngineCall> calls;

protected:
    void applyToEngine(int index, float value, float engValue) override {
        calls.push_back({index, value, engValue});
        KovalithEffect::applyToEngine(index, value, engValue);
    }
};

// The VST 2.4 shell over a recording effect.
class RecordingEffect : public Kovalith {
public:
    RecordingEffect() : RecordingEffect(new RecordingCore) {}
    std::vector<EngineCall>& calls;

private:
    explicit RecordingEffect(RecordingCore* recording)
        : Kovalith(testHost, std::unique_ptr<KovalithEffect>(recording)), calls(recording->calls) {}
};

struct EditorCall {
    int index;
    float value;
};

class RecordingEditor : public AEffEditor {
public:
    RecordingEditor(AudioEffect* effect, bool* destroyed) : AEffEditor(effect), destroyed(destroyed) {}
    ~RecordingEditor() override {
        if (destroyed) *destroyed = true;
    }
    bool getRect(vst2::ERect** rect) override {
        *rect = &area;
        return true;
    }
    bool open(void* parent) override {
        AEffEditor::open(parent);
        return true;
    }
    bool onKeyDown(VstKeyCode& key) override {
        lastKey = key;
        return true;
    }
    bool setKnobMode(int32_t mode) override { return mode == 2; }
    void setParameter(int index, float value) override { calls.push_back({index, value}); }

    vst2::ERect area{0, 0, 479, 659};
    VstKeyCode lastKey{};
    std::vector<EditorCall> calls;
    bool* destroyed;
};

std::unique_ptr<RecordingEffect> makeEffect() {
    auto effect = std::make_unique<RecordingEffect>();
    effect->calls.clear();
    return effect;
}

// The stored value v (a menu's item number) set in the effect core.
float eng(Kovalith& effect, int index, float v) {
    effect.effect().setParameter(index, v);
    return effect.getEngineeringValue(index);
}

// ---- engineering values ------------------------------------------------------

TEST(EngineeringValues, RulesOfTheParameterTable) {
    auto effect = makeEffect();
    Kovalith& e = *effect;
    EXPECT_FLOAT_EQ(eng(e, kBlockSize, 0.0f), 16.0f / 44100.0f);
    EXPECT_FLOAT_EQ(eng(e, kBlockSize, 1.0f), 44099.0f / 44100.0f);
    EXPECT_EQ(eng(e, kNumStages, 1.0f), 70.0f);
    EXPECT_EQ(eng(e, kNumStages, 0.0f), 1.0f);
    EXPECT_FLOAT_EQ(eng(e, kSmoothing, 1.0f), 0.1f);
    EXPECT_FLOAT_EQ(eng(e, kBufferRate, 0.49f), 0.99f);
    EXPECT_EQ(eng(e, kBufferRate, 0.5f), 1.0f);
    EXPECT_EQ(eng(e, kBufferRate, 1.0f), 2.0f);
    EXPECT_EQ(eng(e, kBufferRate, 0.0f), 0.5f);
    EXPECT_EQ(eng(e, kDelayStereoMult, 3.0f), 0.5f);
    EXPECT_EQ(eng(e, kDelayStereoMult, 12.9f), 0.03125f);
    EXPECT_EQ(eng(e, kDelayStereoMult, 13.0f), 13.0f);
    EXPECT_EQ(eng(e, kDelayStereoMult, 0.48f), 1.0f);
    EXPECT_EQ(eng(e, kDelayStereoMult, -2.5f), 1.0f);  // would index before the table
    EXPECT_EQ(eng(e, kEnvAttack, 0.5f), 0.125f);
    EXPECT_EQ(eng(e, kEnvRelease, 0.5f), 0.25f);
    EXPECT_EQ(eng(e, kLfo1Freq, 0.5f), 5.0f);
    EXPECT_EQ(eng(e, kLfo2Freq, 1.0f), 20.0f);
    for (int index = kEnvToSWarp; index <= kLfo2ToFbCutoff; ++index) {
        EXPECT_EQ(eng(e, index, 0.0f), -1.0f);
        EXPECT_EQ(eng(e, index, 1.0f), 1.0f);
        EXPECT_EQ(eng(e, index, 0.5f), 0.0f);
    }
    for (int index : {kDecimation, kCutoff, kResonance, kDelay, kMix, kReserved66, kLfo1Shape})
        EXPECT_EQ(eng(e, index, 0.375f), 0.375f) << index;
}

TEST(EngineeringValues, FilterTypeStoredByTheEditorGivesBackItsType) {
    auto effect = makeEffect();
    EXPECT_EQ(eng(*effect, kFilterType, 0.7f), 7.0f);
    for (int type = 0; type <= 8; ++type)
        EXPECT_EQ(static_cast<int>(eng(*effect, kFilterType, static_cast<float>(type) * 0.1f)), type) << type;
}

TEST(EngineeringValues, BlockSizeFollowsTheRateCurrentWhenSet) {
    auto effect = makeEffect();
    effect->setSampleRate(48000.0f);
    EXPECT_FLOAT_EQ(eng(*effect, kBlockSize, 0.0f), 16.0f / 48000.0f);
    for (float bad : {0.0f, -44100.0f, std::nanf(""), std::numeric_limits<float>::infinity()}) {
        effect->setSampleRate(bad);
        EXPECT_EQ(effect->getSampleRate(), 48000.0f);
    }
    EXPECT_FLOAT_EQ(eng(*effect, kBlockSize, 0.0f), 16.0f / 48000.0f);
}

TEST(EngineeringValues, NonFiniteValuesKeepThePreviousValue) {
    auto effect = makeEffect();
    effect->setParameter(kBlockSize, 0.25f);
    const float engBefore = effect->getEngineeringValue(kBlockSize);
    effect->applyPendingChanges();
    effect->calls.clear();
    for (float bad : {std::nanf(""), std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()}) {
        effect->setParameter(kBlockSize, bad);
        EXPECT_EQ(effect->getParameter(kBlockSize), 0.25f);
        EXPECT_EQ(effect->getEngineeringValue(kBlockSize), engBefore);
    }
    effect->applyPendingChanges();
    EXPECT_TRUE(effect->calls.empty());
}

// ---- synced read-outs ----------------------------------------------------------

// Q(t, f) as a plain reference: S = 0.5 sr while the engine reports no beat.
float referenceQ(float t, float f, float sr) {
    const float beat = 0.5f * sr;
    const float e = t * sr;
    if (t > 0.0f && f > 0.0f) return beat * std::ceil(f * e / beat) / f / sr;
    return e / sr;
}

TEST(SyncedValue, DelayInSyncUnits) {
    auto shell = makeEffect();
    KovalithEffect* effect = &shell->effect();  // sync values as item numbers
    effect->setParameter(kDelay, 0.3f);
    effect->setParameter(kDelaySync, 4.0f);  // 1/4: four units per beat
    // 0.3 s at a half-second beat is 2.4 quarter units, rounded up to 3.
    EXPECT_FLOAT_EQ(effect->getSyncedValue(kDelay), 3.0f);
    EXPECT_EQ(effect->getSyncedValue(kDelay), referenceQ(0.3f, 4.0f, 44100.0f) / referenceQ(1e-12f, 4.0f, 44100.0f));
    effect->setParameter(kDelaySync, 14.0f);
    EXPECT_EQ(effect->getSyncedValue(kDelay),
              referenceQ(0.3f, 32.0f / 3.0f, 44100.0f) / referenceQ(1e-12f, 32.0f / 3.0f, 44100.0f));
    effect->setParameter(kDelaySync, 0.0f);
    EXPECT_EQ(effect->getSyncedValue(kDelay), 0.3f);
    // Outside the table counts as "off".
    for (float sync : {15.0f, 16.5f, 1e9f, -1.0f}) {
        effect->setParameter(kDelaySync, sync);
        EXPECT_EQ(effect->getSyncedValue(kDelay), 0.3f) << sync;
    }
}

TEST(SyncedValue, LfoPeriodInSyncUnits) {
    auto shell = makeEffect();
    KovalithEffect* effect = &shell->effect();
    effect->setParameter(kLfo1Freq, 0.5f);  // 5 Hz: a period of 0.2 s
    effect->setParameter(kLfo1Sync, 4.0f);
    EXPECT_FLOAT_EQ(effect->getSyncedValue(kLfo1Freq), 2.0f);
    effect->setParameter(kLfo1Sync, 0.0f);
    EXPECT_EQ(effect->getSyncedValue(kLfo1Freq), 5.0f);
    effect->setParameter(kLfo2Freq, 0.0f);
    effect->setParameter(kLfo2Sync, 3.0f);
    EXPECT_EQ(effect->getSyncedValue(kLfo2Freq), 0.0f);  // no period to count
    effect->setParameter(kLfo2Freq, 0.5f);
    effect->setParameter(kLfo2Sync, 20.0f);
    EXPECT_EQ(effect->getSyncedValue(kLfo2Freq), 5.0f);
    EXPECT_EQ(effect->getSyncedValue(kMix), effect->getEngineeringValue(kMix));
    EXPECT_EQ(effect->getSyncedValue(-1), 0.0f);
    EXPECT_EQ(effect->getSyncedValue(67), 0.0f);
}

// ---- the hand-over to the engine -------------------------------------------------

TEST(EngineHandOver, ConstructorHandsProgramZeroOverAtOnce) {
    auto effect = makeEffect();
    effect->applyPendingChanges();
    EXPECT_TRUE(effect->calls.empty());
    EXPECT_EQ(effect->resyncCount(), 0u);
}

TEST(EngineHandOver, AProgramArrivesWholeAndInOrder) {
    auto effect = makeEffect();
    effect->setParameter(kMix, 0.75f);
    effect->setProgram(2);
    EXPECT_EQ(effect->getParameter(kSaturation), 0.375222f);  // "Scratchy"
    float program[kNumParams];
    for (int i = 0; i < kNumParams; ++i) program[i] = effect->effect().getParameter(i);
    effect->setParameter(kOut, 0.5f);  // edits the live record after the program went out
    EXPECT_TRUE(effect->calls.empty());  // nothing reaches the engine before the drain
    effect->applyPendingChanges();

    ASSERT_EQ(effect->calls.size(), 1u + kNumParams + 1u);
    EXPECT_EQ(effect->calls.front().index, kMix);
    EXPECT_EQ(effect->calls.front().value, 0.75f);
    for (int i = 0; i < kNumParams; ++i) {
        const EngineCall& call = effect->calls[static_cast<size_t>(1 + i)];
        EXPECT_EQ(call.index, i);
        EXPECT_EQ(call.value, program[i]) << i;
        EXPECT_EQ(call.engValue, engineeringValue(i, call.value, 44100.0f)) << i;
    }
    EXPECT_EQ(effect->calls.back().index, kOut);
    EXPECT_EQ(effect->calls.back().value, 0.5f);
    EXPECT_EQ(effect->calls.back().engValue, 0.5f);
}

TEST(EngineHandOver, OverflowResyncsFromTheArraysAfterTheQueuedEntries) {
    auto effect = makeEffect();
    constexpr int kChanges = 1500;
    for (int i = 1; i <= kChanges; ++i) effect->setParameter(kSaturation, static_cast<float>(i) / kChanges);
    effect->applyPendingChanges();
    EXPECT_EQ(effect->resyncCount(), 1u);
    ASSERT_EQ(effect->calls.size(), kChangeQueueCapacity + kNumParams);
    for (std::size_t i = 0; i < kChangeQueueCapacity; ++i)
        EXPECT_EQ(effect->calls[i].value, static_cast<float>(i + 1) / kChanges);
    for (int i = 0; i < kNumParams; ++i) {
        const EngineCall& call = effect->calls[kChangeQueueCapacity + static_cast<std::size_t>(i)];
        EXPECT_EQ(call.index, i);
        EXPECT_EQ(call.value, effect->effect().getParameter(i));
        EXPECT_EQ(call.engValue, effect->getEngineeringValue(i));
    }
    EXPECT_EQ(effect->getParameter(kSaturation), 1.0f);
    effect->calls.clear();
    effect->applyPendingChanges();
    EXPECT_TRUE(effect->calls.empty());
}

TEST(EngineHandOver, ProcessingDrainsTheQueueFirst) {
    auto effect = makeEffect();
    effect->setParameter(kFeedback, 0.4f);
    std::vector<float> left(16, 0.25f), right(16, -0.25f), outL(16), outR(16);
    float* in[] = {left.data(), right.data()};
    float* out[] = {outL.data(), outR.data()};
    effect->processReplacing(in, out, 16);
    ASSERT_EQ(effect->calls.size(), 1u);
    EXPECT_EQ(effect->calls[0].index, kFeedback);
    effect->processAccumulating(in, out, 16);
    EXPECT_EQ(effect->calls.size(), 1u);
}

// The host's record reaches the engine field by field, each valid only with its flag.
TEST(EngineHandOver, HostTimeCarriesEachFieldWithItsFlag) {
    vst2::VstTimeInfo info{};
    info.tempo = 97.0;
    info.ppqPos = 12.25;
    info.barStartPos = 12.0;
    info.timeSigNumerator = 7;
    info.timeSigDenominator = 8;
    const int32_t flags[] = {vst2::kVstTempoValid, vst2::kVstPpqPosValid, vst2::kVstBarsValid, vst2::kVstTimeSigValid};
    for (int32_t flag : flags) {
        info.flags = flag | vst2::kVstTransportPlaying;
        const HostTimeInfo t = hostTimeFrom(info);
        EXPECT_EQ(t.tempoValid, flag == vst2::kVstTempoValid);
        EXPECT_EQ(t.ppqValid, flag == vst2::kVstPpqPosValid);
        EXPECT_EQ(t.barsValid, flag == vst2::kVstBarsValid);
        EXPECT_EQ(t.timeSigValid, flag == vst2::kVstTimeSigValid);
        EXPECT_EQ(t.tempo, 97.0);
        EXPECT_EQ(t.ppqPosition, 12.25);
        EXPECT_EQ(t.barStartPosition, 12.0);
        EXPECT_EQ(t.timeSigNumerator, 7);
        EXPECT_EQ(t.timeSigDenominator, 8);
    }
}

// ---- MIDI learn state ------------------------------------------------------------

TEST(MidiLearnState, CommandsArmAndForget) {
    auto effect = makeEffect();
    effect->setParameter(kLearnCommandBase + kFeedback, 0.0f);
    EXPECT_TRUE(effect->isLearnArmed());
    EXPECT_EQ(effect->learnParameter(), kFeedback);
    effect->setParameter(kLearnCommandBase + kDelay, 0.0f);  // arming replaces
    EXPECT_EQ(effect->learnParameter(), kDelay);
    effect->setParameter(kLearnCommandBase + kMix, 1.0f);  // any forget disarms
    EXPECT_FALSE(effect->isLearnArmed());
    effect->setParameter(kLearnCommandBase + kCutoff, 3.0f);
    EXPECT_TRUE(effect->isLearnArmed());
    EXPECT_EQ(effect->learnParameter(), kResonance);
    effect->setParameter(kLearnCommandBase + kCutoff, 4.0f);
    EXPECT_FALSE(effect->isLearnArmed());
    // 67 and 135 are no commands.
    effect->setParameter(67, 0.0f);
    effect->setParameter(135, 0.0f);
    EXPECT_FALSE(effect->isLearnArmed());
    EXPECT_EQ(effect->controllerOf(-1), -1);
    EXPECT_EQ(effect->parameterOf(127), -1);
}

TEST(MidiLearnState, ApplyingAProgramKeepsLearnArmed) {
    auto effect = makeEffect();
    effect->setParameter(kLearnCommandBase + kDelay, 0.0f);
    effect->setProgram(3);
    EXPECT_TRUE(effect->isLearnArmed());
}

TEST(MidiLearnState, ControllersDriveParametersFromTheAudioThreadWithoutAutomation) {
    auto effect = makeEffect();
    effect->setParameter(kLearnCommandBase + kFeedback, 0.0f);
    testevents::ControllerEvent cc(0xB4, 7, 100);
    const int automateBefore = gAutomate.load();
    const int updatesBefore = gUpdateDisplay.load();
    EXPECT_EQ(effect->processEvents(cc.events()), 1);
    EXPECT_EQ(effect->controllerOf(kFeedback), 7);
    EXPECT_EQ(effect->parameterOf(7), kFeedback);
    EXPECT_EQ(gUpdateDisplay.load(), updatesBefore);
    cc.setValue(127);
    effect->processEvents(cc.events());
    EXPECT_EQ(effect->getParameter(kFeedback), 1.0f);
    EXPECT_EQ(gUpdateDisplay.load(), updatesBefore + 1);
    EXPECT_EQ(gAutomate.load(), automateBefore);
    effect->applyPendingChanges();
    ASSERT_EQ(effect->calls.size(), 1u);
    EXPECT_EQ(effect->calls[0].value, 1.0f);
    EXPECT_EQ(effect->processEvents(nullptr), 0);
}

// ---- the editor's side -------------------------------------------------------------

TEST(EditorAttachment, FlagsForwardingAndOwnership) {
    bool destroyed = false;
    {
        auto effect = makeEffect();
        auto* editor = new RecordingEditor(effect.get(), &destroyed);
        effect->setEditor(editor);
        EXPECT_EQ(effect->getAeffect()->flags, 49);
        vst2::ERect* rect = nullptr;
        EXPECT_EQ(effect->dispatcher(vst2::effEditGetRect, 0, 0, &rect, 0.0f), 1);
        ASSERT_NE(rect, nullptr);
        EXPECT_EQ(rect->right, 659);
        EXPECT_EQ(effect->dispatcher(vst2::effEditGetRect, 0, 0, nullptr, 0.0f), 0);
        int parent = 0;
        EXPECT_EQ(effect->dispatcher(vst2::effEditOpen, 0, 0, &parent, 0.0f), 1);
        EXPECT_TRUE(editor->isOpen());
        EXPECT_EQ(effect->dispatcher(vst2::effEditKeyDown, 'k', 3, nullptr, 4.0f), 1);
        EXPECT_EQ(editor->lastKey.character, 'k');
        EXPECT_EQ(editor->lastKey.virt, 3);
        EXPECT_EQ(editor->lastKey.modifier, 4);
        EXPECT_EQ(effect->dispatcher(vst2::effEditKeyUp, 'k', 3, nullptr, 4.0f), 0);
        EXPECT_EQ(effect->dispatcher(vst2::effSetEditKnobMode, 0, 2, nullptr, 0.0f), 1);
        EXPECT_EQ(effect->dispatcher(vst2::effEditClose, 0, 0, nullptr, 0.0f), 0);
        EXPECT_FALSE(editor->isOpen());
        effect->setEditor(nullptr);
        EXPECT_EQ(effect->getAeffect()->flags, 48);
        effect->setEditor(editor);
    }
    EXPECT_TRUE(destroyed);
}

TEST(EditorAttachment, EveryChangeIsReportedWithTheValueAfterIt) {
    auto effect = makeEffect();
    auto* editor = new RecordingEditor(effect.get(), nullptr);
    effect->setEditor(editor);
    effect->setParameter(kFeedback, 0.3f);
    effect->setParameter(kFeedback, std::nanf(""));
    effect->setParameter(kLearnCommandBase + kCutoff, 3.0f);
    effect->setParameter(kLearnCommandBase + kCutoff, 4.0f);
    effect->setParameter(kLearnCommandBase + kDelay, 1.0f);
    effect->setParameter(67, 0.5f);
    effect->setParameter(-1, 0.5f);
    ASSERT_EQ(editor->calls.size(), 6u);
    EXPECT_EQ(editor->calls[0].index, kFeedback);
    EXPECT_EQ(editor->calls[0].value, 0.3f);
    EXPECT_EQ(editor->calls[1].value, 0.3f);
    EXPECT_EQ(editor->calls[2].index, 87);
    EXPECT_EQ(editor->calls[2].value, 0.0f);
    EXPECT_EQ(editor->calls[3].value, 1.0f);
    EXPECT_EQ(editor->calls[4].index, kLearnCommandBase + kDelay);
    EXPECT_EQ(editor->calls[4].value, 1.0f);
    EXPECT_EQ(editor->calls[5].index, 67);
    editor->calls.clear();
    effect->setProgram(1);
    ASSERT_EQ(editor->calls.size(), static_cast<size_t>(kNumParams));
    for (int i = 0; i < kNumParams; ++i) EXPECT_EQ(editor->calls[static_cast<size_t>(i)].index, i);
}

TEST(EditorAttachment, AutomatedChangesTellTheHost) {
    auto effect = makeEffect();
    const int before = gAutomate.load();
    effect->setParameterAutomated(kMix, 0.9f);
    EXPECT_EQ(effect->getParameter(kMix), 0.9f);
    EXPECT_EQ(gAutomate.load(), before + 1);
    // Without a host nothing is sent, and nothing breaks.
    auto orphanEffect = std::make_unique<Kovalith>(nullptr);
    Kovalith& orphan = *orphanEffect;
    orphan.setParameterAutomated(kMix, 0.1f);
    EXPECT_FALSE(orphan.beginEdit(kMix));
    EXPECT_FALSE(orphan.updateDisplay());
    EXPECT_EQ(orphan.getTimeInfo(0), nullptr);
    // Created without a host, the effect keeps the adapter's defaults.
    EXPECT_EQ(orphan.getAeffect()->uniqueID, vst2::fourCC('N', 'o', 'E', 'f'));
    EXPECT_EQ(orphan.getAeffect()->numInputs, 1);
    EXPECT_EQ(orphan.getAeffect()->numOutputs, 2);
    EXPECT_EQ(orphan.getAeffect()->flags, 48);
}

// ---- allocation failures -------------------------------------------------------------

TEST(AllocationFailure, WithoutABankProgramsAndChunksAnswerNothing) {
    gFailBank = true;
    auto effect = std::make_unique<Kovalith>(testHost);
    gFailBank = false;
    EXPECT_FALSE(effect->hasBank());
    void* data = &data;
    EXPECT_EQ(effect->getChunk(&data, false), 0);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(effect->getChunk(&data, true), 0);
    std::vector<uint8_t> bank(24576);
    EXPECT_EQ(effect->setChunk(bank.data(), 24576, false), 0);
    char name[32] = "garbage";
    effect->getProgramName(name);
    EXPECT_STREQ(name, "");
    effect->setProgramName("New");
    effect->setProgram(3);
    effect->setParameter(kMix, 0.2f);
    EXPECT_EQ(effect->getParameter(kMix), 0.2f);
    effect->setParameter(kLearnCommandBase + kMix, 0.0f);
    testevents::ControllerEvent cc(0xB0, 9);
    effect->processEvents(cc.events());
    EXPECT_EQ(effect->controllerOf(kMix), 9);
}

TEST(AllocationFailure, WithoutAQueueChangesStillArriveInOrder) {
    gFailLargeArrays = true;
    auto effect = std::make_unique<RecordingEffect>();
    gFailLargeArrays = false;
    effect->calls.clear();
    effect->setProgram(4);
    effect->applyPendingChanges();
    ASSERT_EQ(effect->calls.size(), static_cast<size_t>(kNumParams));
    for (int i = 0; i < kNumParams; ++i) {
        EXPECT_EQ(effect->calls[static_cast<size_t>(i)].index, i);
        EXPECT_EQ(effect->calls[static_cast<size_t>(i)].value, effect->effect().getParameter(i));
    }
    EXPECT_EQ(effect->getParameter(kMix), 1.0f);  // "Skaro Defence Force"
}

}  // namespace
