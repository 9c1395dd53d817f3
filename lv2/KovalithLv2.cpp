#include "lv2/KovalithLv2.h"

#include <lv2/atom/util.h>

#include <cstring>
#include <new>
#include <vector>

#include "lv2/Lv2Ports.h"
#include "lv2/Lv2Uris.h"

namespace kovalith {
namespace lv2 {

namespace {
// The UI's read-outs need no more than this many value updates a second.
constexpr double kValuesPerSecond = 30.0;
}  // namespace

KovalithLv2::KovalithLv2(double sampleRate, const LV2_URID_Map& map)
    : effect_(new KovalithEffect), urids_(map), sampleRate_(static_cast<float>(sampleRate)) {
    lv2_atom_forge_init(&forge_, const_cast<LV2_URID_Map*>(&map));
    effect_->setListener(this);
    effect_->setSampleRate(sampleRate_);
    clock_.setSampleRate(sampleRate);
    valuesInterval_ = static_cast<uint32_t>(sampleRate / kValuesPerSecond);
    // The ports start at the values of the program the effect starts with.
    for (int index = 0; index < kNumParams; ++index)
        lastPortValues_[static_cast<std::size_t>(index)] = plainFromStored(index, effect_->getParameter(index));
}

KovalithLv2::~KovalithLv2() { effect_->setListener(nullptr); }

void KovalithLv2::connectPort(uint32_t port, void* data) {
    switch (port) {
        case kInputLeft:
        case kInputRight: inputs_[port - kInputLeft] = static_cast<const float*>(data); return;
        case kOutputLeft:
        case kOutputRight: outputs_[port - kOutputLeft] = static_cast<float*>(data); return;
        case kControlPort: control_ = static_cast<const LV2_Atom_Sequence*>(data); return;
        case kNotifyPort: notify_ = static_cast<LV2_Atom_Sequence*>(data); return;
        default: break;
    }
    const int index = parameterOfPort(port);
    if (index >= 0) parameterPorts_[static_cast<std::size_t>(index)] = static_cast<const float*>(data);
}

void KovalithLv2::run(uint32_t frames) {
    readControlEvents();
    applyPortChanges();
    effect_->process(inputs_, outputs_, static_cast<int>(frames), this);
    clock_.endBlock(frames);
    writeNotifications(frames);
}

// MIDI, the transport and the UI's messages, in the host's order; all of them
// before the block, as a VST 2.4 host delivers its events.
void KovalithLv2::readControlEvents() {
    if (!control_) return;
    LV2_ATOM_SEQUENCE_FOREACH(control_, event) {
        const LV2_Atom& body = event->body;
        if (body.type == urids_.midiEvent) {
            if (body.size == 0) continue;
            const auto* bytes = static_cast<const uint8_t*>(LV2_ATOM_BODY_CONST(&body));
            effect_->handleMidiMessage(bytes[0], body.size > 1 ? bytes[1] : 0, body.size > 2 ? bytes[2] : 0);
        } else if ((body.type == urids_.atomObject || body.type == urids_.atomBlank) &&
                   body.size >= sizeof(LV2_Atom_Object_Body)) {
            const auto* object = reinterpret_cast<const LV2_Atom_Object*>(&body);
            const uint32_t frame = event->time.frames > 0 ? static_cast<uint32_t>(event->time.frames) : 0;
            int parameter = 0;
            float value = 0.0f;
            if (object->body.otype == urids_.timePosition) {
                clock_.take(object, urids_, frame);
            } else if (readLearnCommand(object, urids_, &parameter, &value)) {
                effect_->setParameter(kLearnCommandBase + parameter, value);
            } else if (object->body.otype == urids_.valuesRequest) {
                valuesChanged_ = valuesUrgent_ = true;
            }
        }
    }
}

void KovalithLv2::applyPortChanges() {
    const unsigned restores = restores_.load(std::memory_order_acquire);
    const bool rebase = restores != restoresSeen_;
    restoresSeen_ = restores;
    for (int index = 0; index < kNumParams; ++index) {
        const float* port = parameterPorts_[static_cast<std::size_t>(index)];
        if (!port) continue;
        const float plain = *port;
        float& last = lastPortValues_[static_cast<std::size_t>(index)];
        if (plain == last) continue;
        last = plain;
        if (!rebase) {
            effect_->setParameter(index, storedFromPlain(index, plain));
            valuesChanged_ = true;
        }
    }
    if (rebase) valuesChanged_ = valuesUrgent_ = true;
}

void KovalithLv2::writeNotifications(uint32_t frames) {
    if (!notify_) return;
    const uint32_t capacity = notify_->atom.size;
    // The host gives the buffer's capacity as the sequence's size.
    lv2_atom_forge_set_buffer(&forge_, reinterpret_cast<uint8_t*>(notify_), capacity);
    LV2_Atom_Forge_Frame sequence;
    if (!lv2_atom_forge_sequence_head(&forge_, &sequence, 0)) return;

    const int samplesPerBeat = effect_->engine().samplesPerBeat();
    if (samplesPerBeat != lastSamplesPerBeat_) {
        lastSamplesPerBeat_ = samplesPerBeat;
        valuesChanged_ = true;
    }
    framesSinceValues_ = framesSinceValues_ < valuesInterval_ ? framesSinceValues_ + frames : valuesInterval_;
    if (valuesChanged_ && (valuesUrgent_ || framesSinceValues_ >= valuesInterval_)) {
        for (int index = 0; index < kNumParams; ++index) {
            stored_[static_cast<std::size_t>(index)] = effect_->getParameter(index);
            synced_[static_cast<std::size_t>(index)] = effect_->getSyncedValue(index);
        }
        // A buffer too small for the message leaves it for a later block.
        if (lv2_atom_forge_frame_time(&forge_, 0) &&
            writeValues(forge_, urids_, stored_.data(), synced_.data())) {
            valuesChanged_ = valuesUrgent_ = false;
            framesSinceValues_ = 0;
        }
    }
    lv2_atom_forge_pop(&forge_, &sequence);
}

LV2_State_Status KovalithLv2::save(LV2_State_Store_Function store, LV2_State_Handle handle) {
    const std::vector<uint8_t> state = effect_->saveState();
    if (state.empty()) return LV2_STATE_ERR_UNKNOWN;
    return store(handle, urids_.state, state.data(), state.size(), urids_.atomChunk,
                 LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
}

LV2_State_Status KovalithLv2::restore(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle) {
    std::size_t size = 0;
    uint32_t type = 0, flags = 0;
    if (const void* data = retrieve(handle, urids_.state, &size, &type, &flags)) {
        if (type != urids_.atomChunk) return LV2_STATE_ERR_BAD_TYPE;
        if (!effect_->loadState(data, size)) return LV2_STATE_ERR_UNKNOWN;
    } else if (const void* program = retrieve(handle, urids_.program, &size, &type, &flags)) {
        int number = -1;
        if (type == urids_.atomInt && size == sizeof(int32_t)) {
            number = *static_cast<const int32_t*>(program);
        } else if (type == urids_.atomLong && size == sizeof(int64_t)) {
            const int64_t wide = *static_cast<const int64_t*>(program);
            if (wide >= 0 && wide < kNumPrograms) number = static_cast<int>(wide);
        } else {
            return LV2_STATE_ERR_BAD_TYPE;
        }
        if (number < 0 || number >= kNumPrograms) return LV2_STATE_ERR_UNKNOWN;
        effect_->setProgram(number);
    } else {
        return LV2_STATE_ERR_NO_PROPERTY;
    }
    restores_.fetch_add(1, std::memory_order_release);
    return LV2_STATE_SUCCESS;
}

}  // namespace lv2
}  // namespace kovalith
