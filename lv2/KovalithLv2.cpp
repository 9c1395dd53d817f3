#include "lv2/KovalithLv2.h"

#include <lv2/atom/util.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
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
    float plain[kNumParams];
    for (int index = 0; index < kNumParams; ++index) plain[index] = plainFromStored(index, effect_->getParameter(index));
    setReferences(plain);
}

KovalithLv2::~KovalithLv2() { effect_->setListener(nullptr); }

void KovalithLv2::setReferences(const float* plainValues) {
    for (int index = 0; index < kNumParams; ++index)
        references_[static_cast<std::size_t>(index)].store(plainValues[index], std::memory_order_relaxed);
}

float KovalithLv2::portValue(int index) const {
    const float* port = parameterPorts_[static_cast<std::size_t>(index)].load(std::memory_order_relaxed);
    if (!port) return std::nanf("");
    // The host may write it meanwhile; a whole float either way.
    float value;
    __atomic_load(port, &value, __ATOMIC_RELAXED);
    return value;
}

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
    if (index >= 0)
        parameterPorts_[static_cast<std::size_t>(index)].store(static_cast<const float*>(data), std::memory_order_relaxed);
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
//
// Atom buffers must be 64-bit aligned, but hosts exist whose buffers are not
// (jalv 1.6 gives 32-bit aligned ones): the sequence is read by copying, and an
// object is parsed from an aligned copy.
void KovalithLv2::readControlEvents() {
    if (!control_) return;
    const auto* base = reinterpret_cast<const uint8_t*>(control_);
    LV2_Atom sequence;
    std::memcpy(&sequence, base, sizeof sequence);
    const std::size_t end = sizeof(LV2_Atom) + sequence.size;
    for (std::size_t offset = sizeof(LV2_Atom_Sequence); offset + sizeof(LV2_Atom_Event) <= end;) {
        LV2_Atom_Event event;
        std::memcpy(&event, base + offset, sizeof event);
        const uint8_t* atom = base + offset + offsetof(LV2_Atom_Event, body);  // the body's header
        const uint8_t* body = base + offset + sizeof event;
        if (event.body.size > end - offset - sizeof event) break;
        offset += sizeof event + lv2_atom_pad_size(event.body.size);
        if (event.body.type == urids_.midiEvent) {
            if (event.body.size == 0) continue;
            effect_->handleMidiMessage(body[0], event.body.size > 1 ? body[1] : 0, event.body.size > 2 ? body[2] : 0);
        } else if ((event.body.type == urids_.atomObject || event.body.type == urids_.atomBlank) &&
                   event.body.size >= sizeof(LV2_Atom_Object_Body) &&
                   sizeof(LV2_Atom) + event.body.size <= sizeof(objectCopy_)) {
            std::memcpy(objectCopy_, atom, sizeof(LV2_Atom) + event.body.size);
            const auto* object = reinterpret_cast<const LV2_Atom_Object*>(objectCopy_);
            const uint32_t frame = event.time.frames > 0 ? static_cast<uint32_t>(event.time.frames) : 0;
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
    if (restores != restoresSeen_) {
        restoresSeen_ = restores;
        valuesChanged_ = valuesUrgent_ = true;
    }
    for (int index = 0; index < kNumParams; ++index) {
        const float* port = parameterPorts_[static_cast<std::size_t>(index)].load(std::memory_order_relaxed);
        if (!port) continue;
        const float plain = *port;
        std::atomic<float>& reference = references_[static_cast<std::size_t>(index)];
        if (plain == reference.load(std::memory_order_relaxed) || std::isnan(plain)) continue;
        reference.store(plain, std::memory_order_relaxed);
        effect_->setParameter(index, storedFromPlain(index, plain));
        valuesChanged_ = true;
    }
}

// Written into an aligned buffer of our own and copied out, for the same
// hosts as above.
void KovalithLv2::writeNotifications(uint32_t frames) {
    if (!notify_) return;
    LV2_Atom host;
    std::memcpy(&host, notify_, sizeof host);  // the host gives the capacity as the size
    const std::size_t capacity = std::min<std::size_t>(host.size, sizeof notifyCopy_);
    lv2_atom_forge_set_buffer(&forge_, notifyCopy_, capacity);
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
            writeValues(forge_, urids_, stored_.data(), synced_.data(), sampleRate_, static_cast<float>(samplesPerBeat))) {
            valuesChanged_ = valuesUrgent_ = false;
            framesSinceValues_ = 0;
        }
    }
    lv2_atom_forge_pop(&forge_, &sequence);
    const auto* written = reinterpret_cast<const LV2_Atom*>(notifyCopy_);
    std::memcpy(notify_, notifyCopy_, lv2_atom_total_size(written));
}

LV2_State_Status KovalithLv2::save(LV2_State_Store_Function store, LV2_State_Handle handle) {
    std::vector<uint8_t> state = effect_->saveState();
    if (state.size() != kStateSize) return LV2_STATE_ERR_UNKNOWN;
    // The ports the next block will apply go into the current program now.
    int32_t program = 0;
    std::memcpy(&program, &state[sizeof(ProgramBank) + 4], sizeof program);
    float ports[kNumParams] = {};
    for (int index = 0; index < kNumParams; ++index) {
        const float plain = portValue(index);
        if (std::isnan(plain)) continue;
        ports[index] = plain;
        if (plain == references_[static_cast<std::size_t>(index)].load(std::memory_order_relaxed)) continue;
        const float stored = storedFromPlain(index, plain);
        std::memcpy(&state[sizeof(ProgramRecord) * static_cast<std::size_t>(program) + sizeof(float) * index], &stored,
                    sizeof stored);
    }
    const uint32_t flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
    const LV2_State_Status status = store(handle, urids_.state, state.data(), state.size(), urids_.atomChunk, flags);
    if (status != LV2_STATE_SUCCESS) return status;
    return store(handle, urids_.portValues, ports, sizeof ports, urids_.atomChunk, flags);
}

LV2_State_Status KovalithLv2::restore(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle) {
    std::size_t size = 0;
    uint32_t type = 0, flags = 0;
    float references[kNumParams];
    if (const void* data = retrieve(handle, urids_.state, &size, &type, &flags)) {
        if (type != urids_.atomChunk) return LV2_STATE_ERR_BAD_TYPE;
        if (!effect_->loadState(data, size)) return LV2_STATE_ERR_UNKNOWN;
        // Without the ports' values, ports that read as the state's values are the state's.
        for (int index = 0; index < kNumParams; ++index)
            references[index] = plainFromStored(index, effect_->getParameter(index));
        const void* ports = retrieve(handle, urids_.portValues, &size, &type, &flags);
        if (ports && type == urids_.atomChunk && size == sizeof references) std::memcpy(references, ports, size);
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
        // The preset's port values: the program's factory values.
        std::unique_ptr<ProgramBank> factory(new ProgramBank);
        for (ProgramRecord& record : factory->programs) initDefaultProgram(record);
        writeFactoryPresets(*factory);
        for (int index = 0; index < kNumParams; ++index)
            references[index] = plainFromStored(index, factory->programs[number].params[index]);
    } else {
        return LV2_STATE_ERR_NO_PROPERTY;
    }
    setReferences(references);
    restores_.fetch_add(1, std::memory_order_release);
    return LV2_STATE_SUCCESS;
}

}  // namespace lv2
}  // namespace kovalith
