#include "lv2/Lv2Messages.h"

#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>
#include <lv2/state/state.h>
#include <lv2/time/time.h>

#include <cmath>
#include <cstring>

#include "engine/ParameterIds.h"
#include "lv2/Lv2Uris.h"

namespace kovalith {
namespace lv2 {

Urids::Urids(const LV2_URID_Map& map) {
    auto id = [&map](const char* uri) { return map.map(map.handle, uri); };
    atomObject = id(LV2_ATOM__Object);
    atomBlank = id(LV2_ATOM__Blank);
    atomChunk = id(LV2_ATOM__Chunk);
    atomInt = id(LV2_ATOM__Int);
    atomLong = id(LV2_ATOM__Long);
    atomFloat = id(LV2_ATOM__Float);
    atomDouble = id(LV2_ATOM__Double);
    atomVector = id(LV2_ATOM__Vector);
    atomEventTransfer = id(LV2_ATOM__eventTransfer);
    midiEvent = id(LV2_MIDI__MidiEvent);
    timePosition = id(LV2_TIME__Position);
    timeBeatsPerMinute = id(LV2_TIME__beatsPerMinute);
    timeBeat = id(LV2_TIME__beat);
    timeBar = id(LV2_TIME__bar);
    timeBarBeat = id(LV2_TIME__barBeat);
    timeBeatsPerBar = id(LV2_TIME__beatsPerBar);
    timeBeatUnit = id(LV2_TIME__beatUnit);
    timeSpeed = id(LV2_TIME__speed);
    state = id(kStateKey);
    program = id(kProgramKey);
    portValues = id(kPortValuesKey);
    learnCommand = id(kLearnCommand);
    parameter = id(kParameterKey);
    value = id(kValueKey);
    valuesRequest = id(kValuesRequest);
    values = id(kValues);
    stored = id(kStoredKey);
    synced = id(kSyncedKey);
    sampleRate = id(kSampleRateKey);
    samplesPerBeat = id(kSamplesPerBeatKey);
}

bool readNumber(const LV2_Atom* atom, const Urids& urids, double* number) {
    if (!atom) return false;
    const void* body = LV2_ATOM_BODY_CONST(atom);
    double value = 0.0;
    if (atom->type == urids.atomFloat && atom->size >= sizeof(float)) {
        value = *static_cast<const float*>(body);
    } else if (atom->type == urids.atomDouble && atom->size >= sizeof(double)) {
        value = *static_cast<const double*>(body);
    } else if (atom->type == urids.atomInt && atom->size >= sizeof(int32_t)) {
        value = *static_cast<const int32_t*>(body);
    } else if (atom->type == urids.atomLong && atom->size >= sizeof(int64_t)) {
        value = static_cast<double>(*static_cast<const int64_t*>(body));
    } else {
        return false;
    }
    if (!std::isfinite(value)) return false;
    *number = value;
    return true;
}

bool writeLearnCommand(LV2_Atom_Forge& forge, const Urids& urids, int parameter, float value) {
    LV2_Atom_Forge_Frame frame;
    if (!lv2_atom_forge_object(&forge, &frame, 0, urids.learnCommand)) return false;
    lv2_atom_forge_key(&forge, urids.parameter);
    lv2_atom_forge_int(&forge, parameter);
    lv2_atom_forge_key(&forge, urids.value);
    const bool whole = lv2_atom_forge_float(&forge, value) != 0;
    lv2_atom_forge_pop(&forge, &frame);
    return whole;
}

bool writeValuesRequest(LV2_Atom_Forge& forge, const Urids& urids) {
    LV2_Atom_Forge_Frame frame;
    if (!lv2_atom_forge_object(&forge, &frame, 0, urids.valuesRequest)) return false;
    lv2_atom_forge_pop(&forge, &frame);
    return true;
}

bool writeValues(LV2_Atom_Forge& forge, const Urids& urids, const float* stored, const float* synced,
                 float sampleRate, float samplesPerBeat) {
    LV2_Atom_Forge_Frame frame;
    if (!lv2_atom_forge_object(&forge, &frame, 0, urids.values)) return false;
    lv2_atom_forge_key(&forge, urids.sampleRate);
    lv2_atom_forge_float(&forge, sampleRate);
    lv2_atom_forge_key(&forge, urids.samplesPerBeat);
    lv2_atom_forge_float(&forge, samplesPerBeat);
    lv2_atom_forge_key(&forge, urids.stored);
    lv2_atom_forge_vector(&forge, sizeof(float), urids.atomFloat, kNumParams, stored);
    lv2_atom_forge_key(&forge, urids.synced);
    const bool whole = lv2_atom_forge_vector(&forge, sizeof(float), urids.atomFloat, kNumParams, synced) != 0;
    lv2_atom_forge_pop(&forge, &frame);
    return whole;
}

bool readLearnCommand(const LV2_Atom_Object* object, const Urids& urids, int* parameter, float* value) {
    if (object->body.otype != urids.learnCommand) return false;
    const LV2_Atom* parameterAtom = nullptr;
    const LV2_Atom* valueAtom = nullptr;
    lv2_atom_object_get(object, urids.parameter, &parameterAtom, urids.value, &valueAtom, 0);
    double p = 0.0, v = 0.0;
    if (!readNumber(parameterAtom, urids, &p) || !readNumber(valueAtom, urids, &v)) return false;
    if (p < 0.0 || p >= kNumParams) return false;
    *parameter = static_cast<int>(p);
    *value = static_cast<float>(v);
    return true;
}

namespace {

// The floats of a whole vector of kNumParams floats, or null.
const float* floatsOf(const LV2_Atom* atom, const Urids& urids) {
    if (!atom || atom->type != urids.atomVector || atom->size < sizeof(LV2_Atom_Vector_Body)) return nullptr;
    const auto* vector = reinterpret_cast<const LV2_Atom_Vector*>(atom);
    if (vector->body.child_type != urids.atomFloat || vector->body.child_size != sizeof(float)) return nullptr;
    if (atom->size < sizeof(LV2_Atom_Vector_Body) + kNumParams * sizeof(float)) return nullptr;
    return reinterpret_cast<const float*>(&vector->body + 1);
}

}  // namespace

bool readValues(const LV2_Atom_Object* object, const Urids& urids, float* stored, float* synced,
                DisplayContext* context) {
    if (object->body.otype != urids.values) return false;
    const LV2_Atom* storedAtom = nullptr;
    const LV2_Atom* syncedAtom = nullptr;
    const LV2_Atom* rateAtom = nullptr;
    const LV2_Atom* beatAtom = nullptr;
    lv2_atom_object_get(object, urids.stored, &storedAtom, urids.synced, &syncedAtom, urids.sampleRate, &rateAtom,
                        urids.samplesPerBeat, &beatAtom, 0);
    const float* storedValues = floatsOf(storedAtom, urids);
    const float* syncedValues = floatsOf(syncedAtom, urids);
    if (!storedValues || !syncedValues) return false;
    std::memcpy(stored, storedValues, kNumParams * sizeof(float));
    std::memcpy(synced, syncedValues, kNumParams * sizeof(float));
    double rate = 0.0, beat = -1.0;
    if (context && readNumber(rateAtom, urids, &rate) && rate > 0.0 && rate < 1e7)
        context->sampleRate = static_cast<float>(rate);
    if (context && readNumber(beatAtom, urids, &beat) && beat >= 0.0 && beat < 1e9)
        context->samplesPerBeat = static_cast<float>(beat);
    return true;
}

}  // namespace lv2
}  // namespace kovalith
