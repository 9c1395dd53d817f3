// MIDI handling: learned controllers drive parameters; learn and forget
// commands arrive through setParameter at indices 68 to 134.
#include <cstddef>

#include "plugin/Kovalith.h"

namespace kovalith {
namespace {

constexpr unsigned char kControlChange = 0xB0;
// Controllers 126 and 127 are never learned.
constexpr int kFirstIgnoredController = 126;
// Learn commands of the "Cutoff" display's menu.
constexpr float kLearnCutoff = 2.0f;
constexpr float kLearnResonance = 3.0f;

// Hosts disagree on byteSize: some count the whole event, others leave out the
// type and byteSize fields. Either way the three MIDI bytes must be covered.
constexpr int32_t kMinMidiEventBytes =
    static_cast<int32_t>(offsetof(vst2::VstMidiEvent, midiData) + 3 - 2 * sizeof(int32_t));

}  // namespace

int32_t Kovalith::processEvents(const vst2::VstEvents* events) {
    if (!events) return 0;
    // The host allocates numEvents pointers where the struct declares two:
    // index them through a pointer, not the declared array.
    const vst2::VstEvent* const* list = events->events;
    for (int32_t i = 0; i < events->numEvents; ++i) {
        const vst2::VstEvent* event = list[i];
        if (!event || event->type != vst2::kVstMidiType || event->byteSize < kMinMidiEventBytes) continue;
        const auto* midi = reinterpret_cast<const vst2::VstMidiEvent*>(event);
        handleMidiMessage(static_cast<unsigned char>(midi->midiData[0]),
                          static_cast<unsigned char>(midi->midiData[1]),
                          static_cast<unsigned char>(midi->midiData[2]));
    }
    return 1;
}

void Kovalith::handleMidiMessage(unsigned char status, unsigned char data1, unsigned char data2) {
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
    setParameter(param, static_cast<float>(static_cast<double>(data2) / 127.0));
    // Set, not automated: the host re-reads the value but records no automation.
    updateDisplay();
}

int Kovalith::controllerOf(int param) const {
    return isParameterIndex(param) ? paramToCC[param].load(std::memory_order_relaxed) : -1;
}

int Kovalith::parameterOf(int controller) const {
    return controller >= 0 && controller < kNumMidiControllers
               ? ccToParam[controller].load(std::memory_order_relaxed)
               : -1;
}

void Kovalith::armLearn(int param) {
    learnParam.store(param, std::memory_order_relaxed);
    learnArmed.store(true, std::memory_order_release);
}

void Kovalith::forgetController(int param) {
    learnArmed.store(false, std::memory_order_release);
    const int controller = paramToCC[param].load(std::memory_order_relaxed);
    if (controller >= 0 && controller < kNumMidiControllers)
        ccToParam[controller].store(-1, std::memory_order_relaxed);
    paramToCC[param].store(-1, std::memory_order_relaxed);
    if (ProgramRecord* record = currentRecord()) storeField(record->midiMap[param], -1);
}

// Answers the value passed on to the editor.
float Kovalith::applyLearnCommand(int param, float v) {
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
