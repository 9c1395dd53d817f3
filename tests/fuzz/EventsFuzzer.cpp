// libFuzzer target: MIDI and other events (effProcessEvents) mixed with MIDI
// learn commands and processed blocks. Input: the program to start from, then
// records of kEventRecordBytes (see FuzzHost.h):
//   kMidiEvent    status, data 1, data 2, delta frames, byteSize choice
//   kLearnCommand setParameter index 67 + a % 70 (learn/forget commands and
//                 their neighbours) with value b / 32
//   kOtherEvent   as kMidiEvent, with the last byte also as the event type
//   kProcessNow   hand over the pending events, then a block of a frames
#include <cstring>

#include "tests/fuzz/FuzzHost.h"

namespace {

using namespace kovalith;

constexpr int32_t kByteSizes[] = {sizeof(vst2::VstMidiEvent), 8, 0, -1};

// Pending events, handed to the effect as one VstEvents list.
class EventBatch {
public:
    void add(int32_t type, const uint8_t* args) {
        vst2::VstMidiEvent event{};
        event.type = type;
        event.byteSize = kByteSizes[args[4] % (sizeof kByteSizes / sizeof kByteSizes[0])];
        event.deltaFrames = args[3];
        std::memcpy(event.midiData, args, 3);
        events_.push_back(event);
    }
    void send(fuzz::FuzzEffect& effect) {
        // VstEvents declares two pointers; the host allocates as many as it has.
        std::vector<uint8_t> list(sizeof(vst2::VstEvents) + events_.size() * sizeof(vst2::VstEvent*));
        auto* header = reinterpret_cast<vst2::VstEvents*>(list.data());
        header->numEvents = static_cast<int32_t>(events_.size());
        vst2::VstEvent** slots = header->events;
        for (std::size_t i = 0; i < events_.size(); ++i) slots[i] = reinterpret_cast<vst2::VstEvent*>(&events_[i]);
        effect.dispatch(vst2::effProcessEvents, 0, 0, header);
        events_.clear();
    }

private:
    std::vector<vst2::VstMidiEvent> events_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    fuzz::FuzzEffect effect;
    effect.dispatch(vst2::effSetProgram, 0, data[0] % kNumPrograms);
    EventBatch batch;
    for (std::size_t at = 1; at + fuzz::kEventRecordBytes <= size; at += fuzz::kEventRecordBytes) {
        const uint8_t* args = data + at + 1;
        switch (data[at] % fuzz::kNumRecordKinds) {
            case fuzz::kMidiEvent: batch.add(vst2::kVstMidiType, args); break;
            case fuzz::kLearnCommand:
                effect.aeffect()->setParameter(effect.aeffect(), kNumParams + args[0] % 70, args[1] / 32.0f);
                break;
            case fuzz::kOtherEvent: batch.add(args[4], args); break;
            case fuzz::kProcessNow:
                batch.send(effect);
                effect.processBlock(args[0]);
                break;
        }
    }
    batch.send(effect);
    effect.processBlock(fuzz::kMaxBlockFrames);
    return 0;
}
