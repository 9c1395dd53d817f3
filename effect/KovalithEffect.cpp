#include "effect/KovalithEffect.h"

#include <cmath>
#include <cstring>
#include <new>

namespace kovalith {
namespace {

constexpr unsigned char kControlChange = 0xB0;
// Controllers 126 and 127 are never learned.
constexpr int kFirstIgnoredController = 126;
// Learn commands of the "Cutoff" display's menu.
constexpr float kLearnCutoff = 2.0f;
constexpr float kLearnResonance = 3.0f;

void writeInt32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t readInt32(const uint8_t* in) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(in[i]) << (8 * i);
    return value;
}

}  // namespace

KovalithEffect::KovalithEffect() {
    for (int i = 0; i < kNumParams; ++i) {
        paramValues[i].store(0.0f, std::memory_order_relaxed);
        engValues[i].store(0.0f, std::memory_order_relaxed);
        paramToCC[i].store(-1, std::memory_order_relaxed);
    }
    for (auto& param : ccToParam) param.store(-1, std::memory_order_relaxed);

    engine_.init();
    bank = new (std::nothrow) ProgramBank;
    if (bank) {
        for (ProgramRecord& record : bank->programs) initDefaultProgram(record);
        writeFactoryPresets(*bank);
        setProgram(0);
    }
    // No audio thread exists yet: hand program 0 to the engine now.
    applyPendingChanges();
}

KovalithEffect::~KovalithEffect() { delete bank; }

// ---- processing --------------------------------------------------------------

void KovalithEffect::setSampleRate(float rate) {
    // A rate of 0, below 0 or not finite would poison every time computation.
    if (!std::isfinite(rate) || rate <= 0.0f) return;
    sampleRate_.store(rate, std::memory_order_relaxed);
    engine_.setSampleRate(rate);
}

void KovalithEffect::reset() { engine_.requestReset(); }

void KovalithEffect::process(const float* const* inputs, float* const* outputs, int sampleFrames,
                             ITimeInfoSource* time) {
    applyPendingChanges();
    engine_.process(inputs, outputs, sampleFrames, time);
}

void KovalithEffect::applyToEngine(int index, float value, float engValue) {
    engine_.applyParameter(index, value, engValue);
}

void KovalithEffect::queueChange(const ParameterChange& change) {
    if (!changes.push(change)) resyncPending.store(true, std::memory_order_release);
}

void KovalithEffect::applyPendingChanges() {
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

ProgramRecord* KovalithEffect::currentRecord() {
    if (!bank) return nullptr;
    const int current = curProgram_.load(std::memory_order_relaxed);
    return &bank->programs[current >= 0 && current < kNumPrograms ? current : 0];
}

const ProgramRecord* KovalithEffect::currentRecord() const {
    return const_cast<KovalithEffect*>(this)->currentRecord();
}

void KovalithEffect::notify(int index, float value) {
    if (listener_) listener_->parameterChanged(index, value);
}

bool KovalithEffect::storeParameter(int index, float v) {
    ProgramRecord* record = currentRecord();
    if (!std::isfinite(v)) {
        // A non-finite value would stay in the engine's recursions for good.
        if (record) storeField(record->params[index], paramValues[index].load(std::memory_order_relaxed));
        return false;
    }
    const float engValue = engineeringValue(index, v, sampleRate_.load(std::memory_order_relaxed));
    paramValues[index].store(v, std::memory_order_relaxed);
    engValues[index].store(engValue, std::memory_order_relaxed);
    if (record) storeField(record->params[index], v);
    return true;
}

void KovalithEffect::setParameter(int index, float value) {
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
    notify(index, value);
}

float KovalithEffect::getParameter(int index) const {
    return isParameterIndex(index) ? paramValues[index].load(std::memory_order_relaxed) : 0.0f;
}

float KovalithEffect::getEngineeringValue(int index) const {
    return isParameterIndex(index) ? engValues[index].load(std::memory_order_relaxed) : 0.0f;
}

float KovalithEffect::getSyncedValue(int index) const {
    if (!isParameterIndex(index)) return 0.0f;
    const float rate = sampleRate_.load(std::memory_order_relaxed);
    const auto beat = static_cast<float>(engine_.samplesPerBeat());
    // A time in seconds as a count of sync units; sync values outside the
    // table count as "off".
    auto inSyncUnits = [&](float seconds, int syncParam, float* result) {
        const int sync = safeMenuIndex(getEngineeringValue(syncParam), kNumSyncDivisions);
        if (sync < 1) return false;
        const float factor = kSyncFactors[sync];
        *result = quantiseToSync(seconds, factor, rate, beat) / quantiseToSync(1e-12f, factor, rate, beat);
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

DisplayContext KovalithEffect::displayContext() const {
    DisplayContext context;
    context.sampleRate = sampleRate_.load(std::memory_order_relaxed);
    context.samplesPerBeat = static_cast<float>(engine_.samplesPerBeat());
    context.delaySync = getParameter(kDelaySync);
    context.lfo1Sync = getParameter(kLfo1Sync);
    context.lfo2Sync = getParameter(kLfo2Sync);
    return context;
}

void KovalithEffect::formatValue(int index, float stored, char* text, std::size_t size) const {
    formatParameter(index, stored, displayContext(), text, size);
}

// ---- programs ------------------------------------------------------------------

void KovalithEffect::applyCurrentRecord() {
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
        notify(i, change.values[i]);
    }
    queueChange(change);
}

void KovalithEffect::setProgram(int program) {
    if (!bank) return;
    if (program >= 0 && program < kNumPrograms) curProgram_.store(program, std::memory_order_relaxed);
    applyCurrentRecord();
}

void KovalithEffect::setProgramName(const char* name) {
    ProgramRecord* record = currentRecord();
    if (!record || !name) return;
    const std::size_t length = strnlen(name, kProgramNameSize - 1);
    if (length >= kProgramNameSize - 1) return;  // 23 characters or more: keep the old name
    std::memset(record->name, 0, sizeof record->name);
    std::memcpy(record->name, name, length);
}

void KovalithEffect::getProgramName(char* text) const {
    if (!text) return;
    if (const ProgramRecord* record = currentRecord())
        readName(record->name, text);
    else
        text[0] = '\0';
}

bool KovalithEffect::getProgramNameIndexed(int program, char* text) const {
    if (!text || !bank || program < 0 || program >= kNumPrograms) return false;
    readName(bank->programs[program].name, text);
    return true;
}

// ---- chunks and state ----------------------------------------------------------

int32_t KovalithEffect::getChunk(void** data, bool isPreset) {
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

int32_t KovalithEffect::setChunk(const void* data, int32_t byteSize, bool isPreset) {
    if (!bank || !data) return 0;
    const auto expected = static_cast<int32_t>(isPreset ? sizeof(ProgramRecord) : sizeof(ProgramBank));
    if (byteSize != expected) return 0;
    void* destination = isPreset ? static_cast<void*>(currentRecord()) : static_cast<void*>(bank);
    copyIntoRecords(destination, data, static_cast<std::size_t>(byteSize));
    applyCurrentRecord();
    return 1;
}

std::vector<uint8_t> KovalithEffect::saveState() const {
    if (!bank) return {};
    std::vector<uint8_t> state(kStateSize);
    // Field by field: the record's fields may be written by other threads meanwhile.
    copyFromRecords(state.data(), bank, sizeof(ProgramBank));
    writeInt32(state.data() + sizeof(ProgramBank), kStateProgramTag);
    writeInt32(state.data() + sizeof(ProgramBank) + 4, static_cast<uint32_t>(program()));
    return state;
}

bool KovalithEffect::loadState(const void* data, std::size_t size) {
    if (!bank || !data) return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    int selected = program();
    if (size == kStateSize) {
        const uint32_t tag = readInt32(bytes + sizeof(ProgramBank));
        const uint32_t stored = readInt32(bytes + sizeof(ProgramBank) + 4);
        if (tag != kStateProgramTag || stored >= static_cast<uint32_t>(kNumPrograms)) return false;
        selected = static_cast<int>(stored);
    } else if (size != sizeof(ProgramBank)) {
        return false;
    }
    copyIntoRecords(bank, bytes, sizeof(ProgramBank));
    curProgram_.store(selected, std::memory_order_relaxed);
    applyCurrentRecord();
    return true;
}

// ---- MIDI ------------------------------------------------------------------------

void KovalithEffect::handleMidiMessage(unsigned char status, unsigned char data1, unsigned char data2) {
    // Any channel; data bytes with the top bit set are not MIDI.
    if ((status & 0xF0) != kControlChange || data1 > 127 || data2 > 127) return;
    const int controller = data1;
    if (controller >= kFirstIgnoredController) return;

    bool armed = true;
    if (learnArmed.compare_exchange_strong(armed, false, std::memory_order_acq_rel)) {
        // Earlier bindings stay until the program is next applied.
        const int param = learnParam.load(std::memory_order_relaxed);
        ccToParam[controller].store(param, std::memory_order_relaxed);
        paramToCC[param].store(controller, std::memory_order_relaxed);
        if (ProgramRecord* record = currentRecord()) storeField(record->midiMap[param], controller);
        return;  // the learning message's value is not applied
    }
    const int param = ccToParam[controller].load(std::memory_order_relaxed);
    if (param < 0) return;
    // value / 127, as a host's 0..1: a menu reaches every item.
    setParameter(param, storedFromNormalised(param, static_cast<float>(static_cast<double>(data2) / 127.0)));
    if (listener_) listener_->parameterSetByController(param, getParameter(param));
}

int KovalithEffect::controllerOf(int param) const {
    return isParameterIndex(param) ? paramToCC[param].load(std::memory_order_relaxed) : -1;
}

int KovalithEffect::parameterOf(int controller) const {
    return controller >= 0 && controller < kNumMidiControllers
               ? ccToParam[controller].load(std::memory_order_relaxed)
               : -1;
}

void KovalithEffect::armLearn(int param) {
    learnParam.store(param, std::memory_order_relaxed);
    learnArmed.store(true, std::memory_order_release);
}

void KovalithEffect::forgetController(int param) {
    learnArmed.store(false, std::memory_order_release);
    const int controller = paramToCC[param].load(std::memory_order_relaxed);
    if (controller >= 0 && controller < kNumMidiControllers)
        ccToParam[controller].store(-1, std::memory_order_relaxed);
    paramToCC[param].store(-1, std::memory_order_relaxed);
    if (ProgramRecord* record = currentRecord()) storeField(record->midiMap[param], -1);
}

// Answers the value passed on to the listener.
float KovalithEffect::applyLearnCommand(int param, float v) {
    learnParam.store(param, std::memory_order_relaxed);
    if (param == kCutoff) {
        if (v == kLearnCutoff) {
            armLearn(kCutoff);
            return 0.0f;
        }
        if (v == kLearnResonance) {
            armLearn(kResonance);
            return 0.0f;
        }
        if (v > kLearnResonance) {  // "Forget Midi (All)" of the filter display
            forgetController(kResonance);
            forgetController(kCutoff);
            return 1.0f;
        }
    }
    if (v == 0.0f)
        armLearn(param);
    else
        forgetController(param);
    return v;
}

}  // namespace kovalith
