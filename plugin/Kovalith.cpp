#include "plugin/Kovalith.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>

#include "plugin/AEffEditor.h"

namespace kovalith {
namespace {

// Host buffers for names are at least this big in practice; our longest
// name, "Delay Stereo Multiplier", needs 24 bytes.
constexpr std::size_t kParamTextCapacity = 32;

}  // namespace

Kovalith::Kovalith(vst2::audioMasterCallback audioMaster)
    : AudioEffectX(audioMaster, kNumPrograms, kNumParams) {
    for (int i = 0; i < kNumParams; ++i) {
        paramValues[i].store(0.0f, std::memory_order_relaxed);
        engValues[i].store(0.0f, std::memory_order_relaxed);
        paramToCC[i].store(-1, std::memory_order_relaxed);
    }
    for (auto& param : ccToParam) param.store(-1, std::memory_order_relaxed);

    bank = new (std::nothrow) ProgramBank;
    if (bank)
        for (ProgramRecord& record : bank->programs) initDefaultProgram(record);

    if (audioMaster) {
        setNumInputs(2);
        setNumOutputs(2);
        canProcessReplacing();
        setUniqueID(kUniqueId);
    }
    programsAreChunks();

    for (int i = 0; i < kNumParams; ++i)
        if (kParameterTable[i].name[0] != '\0') parameterNames[i] = kParameterTable[i].name;
    delaySyncLabels.assign(std::begin(kSyncLabels), std::end(kSyncLabels));
    delaySyncFactors.assign(std::begin(kSyncFactors), std::end(kSyncFactors));
    stereoMultLabels.assign(std::begin(kStereoMultLabels), std::end(kStereoMultLabels));
    stereoMultFactors.assign(std::begin(kStereoMultFactors), std::end(kStereoMultFactors));

    initEngine();
    if (bank) {
        buildFactoryPresets();
        setProgram(0);
    }
    // No audio thread exists yet: hand program 0 to the engine now.
    applyPendingChanges();
}

Kovalith::~Kovalith() { delete bank; }

void Kovalith::initEngine() { engine.init(); }

void Kovalith::buildFactoryPresets() {
    if (bank) writeFactoryPresets(*bank);
}

// ---- lifecycle and processing ----------------------------------------------

void Kovalith::resume() { engine.requestReset(); }

void Kovalith::setSampleRate(float rate) {
    // A rate of 0, below 0 or not finite would poison every time computation.
    if (!std::isfinite(rate) || rate <= 0.0f) return;
    AudioEffectX::setSampleRate(rate);
    effectSampleRate.store(rate, std::memory_order_relaxed);
    engine.setSampleRate(rate);
}

void Kovalith::processReplacing(float** inputs, float** outputs, int32_t sampleFrames) {
    processEngine(inputs, outputs, sampleFrames, true);
}

void Kovalith::processAccumulating(float** inputs, float** outputs, int32_t sampleFrames) {
    processEngine(inputs, outputs, sampleFrames, false);
}

void Kovalith::processEngine(float** inputs, float** outputs, int32_t sampleFrames, bool /*replacing*/) {
    applyPendingChanges();
    engine.process(inputs, outputs, sampleFrames, this);
}

HostTimeInfo hostTimeFrom(const vst2::VstTimeInfo& info) {
    HostTimeInfo t;
    t.tempo = info.tempo;
    t.ppqPosition = info.ppqPos;
    t.barStartPosition = info.barStartPos;
    t.timeSigNumerator = info.timeSigNumerator;
    t.timeSigDenominator = info.timeSigDenominator;
    t.tempoValid = (info.flags & vst2::kVstTempoValid) != 0;
    t.ppqValid = (info.flags & vst2::kVstPpqPosValid) != 0;
    t.barsValid = (info.flags & vst2::kVstBarsValid) != 0;
    t.timeSigValid = (info.flags & vst2::kVstTimeSigValid) != 0;
    return t;
}

bool Kovalith::readHostTime(HostTimeInfo& info) {
    const vst2::VstTimeInfo* host = getTimeInfo(kTimeInfoRequest);
    if (!host) return false;
    info = hostTimeFrom(*host);
    return true;
}

void Kovalith::applyToEngine(int index, float value, float engValue) {
    engine.applyParameter(index, value, engValue);
}

void Kovalith::queueChange(const ParameterChange& change) {
    if (!changes.push(change)) resyncPending.store(true, std::memory_order_release);
}

void Kovalith::applyPendingChanges() {
    ParameterChange change;
    // Bounded, so producers that never stop cannot hold the audio thread here;
    // twice the capacity always empties a queue that was full at the start.
    const std::size_t limit = 2 * changes.capacity();
    std::size_t applied = 0;
    bool drained = false;
    while (applied < limit) {
        if (!changes.pop(change)) {
            drained = true;
            break;
        }
        ++applied;
        const int first = change.firstIndex;
        for (int k = 0; k < change.count && first + k < kNumParams; ++k)
            applyToEngine(first + k, change.values[k], change.engValues[k]);
    }
    if (limit == 0) drained = true;
    // After an overflow the arrays hold the newest values; only apply them once
    // the older queued entries are through, or those would land on top.
    if (drained && resyncPending.exchange(false, std::memory_order_acq_rel)) {
        resyncs.fetch_add(1, std::memory_order_relaxed);
        for (int i = 0; i < kNumParams; ++i)
            applyToEngine(i, paramValues[i].load(std::memory_order_relaxed),
                          engValues[i].load(std::memory_order_relaxed));
    }
}

// ---- parameters --------------------------------------------------------------

ProgramRecord* Kovalith::currentRecord() {
    if (!bank) return nullptr;
    const int program = curProgram.load(std::memory_order_relaxed);
    return &bank->programs[program >= 0 && program < kNumPrograms ? program : 0];
}

void Kovalith::notifyEditor(int index, float value) {
    if (editor) editor->setParameter(index, value);
}

bool Kovalith::storeParameter(int index, float v) {
    ProgramRecord* record = currentRecord();
    if (!std::isfinite(v)) {
        // A non-finite value would stay in the engine's recursions for good.
        if (record) storeField(record->params[index], paramValues[index].load(std::memory_order_relaxed));
        return false;
    }
    const float engValue = engineeringValue(index, v, effectSampleRate.load(std::memory_order_relaxed));
    paramValues[index].store(v, std::memory_order_relaxed);
    engValues[index].store(engValue, std::memory_order_relaxed);
    if (record) storeField(record->params[index], v);
    return true;
}

void Kovalith::setParameter(int32_t index, float value) {
    if (index < 0) return;
    if (index < kNumParams) {
        if (storeParameter(index, value)) {
            ParameterChange change;
            change.firstIndex = index;
            change.count = 1;
            change.values[0] = paramValues[index].load(std::memory_order_relaxed);
            change.engValues[0] = engValues[index].load(std::memory_order_relaxed);
            queueChange(change);
        }
        value = paramValues[index].load(std::memory_order_relaxed);
    } else if (index >= kLearnCommandBase && index < kLearnCommandBase + kNumParams) {
        value = applyLearnCommand(index - kLearnCommandBase, value);
    }
    notifyEditor(index, value);
}

float Kovalith::getParameter(int32_t index) {
    return isParameterIndex(index) ? paramValues[index].load(std::memory_order_relaxed) : 0.0f;
}

float Kovalith::getEngineeringValue(int index) const {
    return isParameterIndex(index) ? engValues[index].load(std::memory_order_relaxed) : 0.0f;
}

float Kovalith::getSyncedValue(int index) {
    if (!isParameterIndex(index)) return 0.0f;
    const float sampleRate = effectSampleRate.load(std::memory_order_relaxed);
    const auto beat = static_cast<float>(engine.samplesPerBeat());
    // A time in seconds as a count of sync units; sync values outside the
    // table count as "off".
    auto inSyncUnits = [&](float seconds, int syncParam, float* result) {
        const int sync = safeMenuIndex(getEngineeringValue(syncParam), kNumSyncDivisions);
        if (sync < 1) return false;
        const float factor = delaySyncFactors[static_cast<std::size_t>(sync)];
        *result = quantiseToSync(seconds, factor, sampleRate, beat) / quantiseToSync(1e-12f, factor, sampleRate, beat);
        return true;
    };
    float result = 0.0f;
    if (index == kDelay && inSyncUnits(getEngineeringValue(kDelay), kDelaySync, &result)) return result;
    if (index == kLfo1Freq || index == kLfo2Freq) {
        const float frequency = getEngineeringValue(index);
        const int syncParam = index == kLfo1Freq ? kLfo1Sync : kLfo2Sync;
        if (frequency > 0.0f && inSyncUnits(1.0f / frequency, syncParam, &result)) return result;
    }
    return getEngineeringValue(index);
}

void Kovalith::getParameterLabel(int32_t, char* label) { copyText(label, "-", kParamTextCapacity); }

void Kovalith::getParameterDisplay(int32_t index, char* text) {
    if (!text) return;
    text[0] = '\0';
    const auto format = displayFormats.find(index);
    if (format == displayFormats.end()) return;
    std::snprintf(text, kParamTextCapacity, format->second.c_str(),
                  static_cast<double>(getEngineeringValue(index)));
}

void Kovalith::getParameterName(int32_t index, char* text) {
    const auto name = parameterNames.find(index);
    copyText(text, name == parameterNames.end() ? "" : name->second.c_str(), kParamTextCapacity);
}

// ---- programs and chunks -----------------------------------------------------

void Kovalith::applyCurrentRecord() {
    ProgramRecord* record = currentRecord();
    if (!record) return;
    for (auto& param : ccToParam) param.store(-1, std::memory_order_relaxed);
    for (auto& controller : paramToCC) controller.store(-1, std::memory_order_relaxed);

    // The whole program travels to the engine as one entry.
    ParameterChange change;
    change.firstIndex = 0;
    change.count = kNumParams;
    for (int i = 0; i < kNumParams; ++i) {
        const int32_t controller = loadField(record->midiMap[i]);
        if (controller >= 0 && controller < kNumMidiControllers) {
            paramToCC[i].store(controller, std::memory_order_relaxed);
            ccToParam[controller].store(i, std::memory_order_relaxed);
        }
        storeParameter(i, loadField(record->params[i]));
        change.values[i] = paramValues[i].load(std::memory_order_relaxed);
        change.engValues[i] = engValues[i].load(std::memory_order_relaxed);
        notifyEditor(i, change.values[i]);
    }
    queueChange(change);
}

void Kovalith::setProgram(int32_t program) {
    if (!bank) return;
    AudioEffectX::setProgram(program);
    applyCurrentRecord();
}

void Kovalith::setProgramName(const char* name) {
    ProgramRecord* record = currentRecord();
    if (!record || !name) return;
    const std::size_t length = strnlen(name, kProgramNameSize - 1);
    if (length >= kProgramNameSize - 1) return;  // 23 characters or more: keep the old name
    std::memset(record->name, 0, sizeof record->name);
    std::memcpy(record->name, name, length);
}

void Kovalith::getProgramName(char* name) {
    if (!name) return;
    if (const ProgramRecord* record = currentRecord())
        readName(record->name, name);
    else
        name[0] = '\0';
}

int32_t Kovalith::getChunk(void** data, bool isPreset) {
    if (!data) return 0;
    *data = nullptr;
    if (!bank) return 0;
    if (isPreset) {
        *data = currentRecord();
        return static_cast<int32_t>(sizeof(ProgramRecord));
    }
    *data = bank;
    return static_cast<int32_t>(sizeof(ProgramBank));
}

int32_t Kovalith::setChunk(const void* data, int32_t byteSize, bool isPreset) {
    if (!bank || !data) return 0;
    const auto expected = static_cast<int32_t>(isPreset ? sizeof(ProgramRecord) : sizeof(ProgramBank));
    if (byteSize != expected) return 0;
    void* destination = isPreset ? static_cast<void*>(currentRecord()) : static_cast<void*>(bank);
    copyIntoRecords(destination, data, static_cast<std::size_t>(byteSize));
    applyCurrentRecord();
    return 1;
}

// ---- identity ----------------------------------------------------------------

bool Kovalith::getEffectName(char* name) {
    copyText(name, kEffectName, vst2::kVstMaxEffectNameLen);
    return true;
}

bool Kovalith::getVendorString(char* text) {
    copyText(text, kVendorName, vst2::kVstMaxVendorStrLen);
    return true;
}

// Writes the name but answers 0, as the effect always has.
bool Kovalith::getProductString(char* text) {
    copyText(text, kProductName, vst2::kVstMaxProductStrLen);
    return false;
}

int32_t Kovalith::getVendorVersion() { return kVendorVersion; }

int32_t Kovalith::canDo(const char* text) {
    if (!text) return -1;
    if (std::strcmp(text, "receiveVstEvents") == 0 || std::strcmp(text, "receiveVstMidiEvent") == 0) return 1;
    return -1;
}

}  // namespace kovalith
