// MIDI events from the host: each MIDI message goes to the effect in list order.
#include <cstddef>

#include "plugin/Kovalith.h"

namespace kovalith {
namespace {

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
        effect_->handleMidiMessage(static_cast<unsigned char>(midi->midiData[0]),
                                   static_cast<unsigned char>(midi->midiData[1]),
                                   static_cast<unsigned char>(midi->midiData[2]));
    }
    return 1;
}

}  // namespace kovalith
