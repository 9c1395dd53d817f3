// The mapped URIs of one instance and the messages between the plug-in and
// its UI: how each is written into an atom forge and read back from an object.
#pragma once

#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/urid/urid.h>

#include "effect/ParameterText.h"

namespace kovalith {
namespace lv2 {

struct Urids {
    LV2_URID atomObject = 0, atomBlank = 0, atomChunk = 0, atomInt = 0, atomLong = 0, atomFloat = 0, atomDouble = 0, atomVector = 0;
    LV2_URID atomEventTransfer = 0;
    LV2_URID midiEvent = 0;
    LV2_URID timePosition = 0, timeBeatsPerMinute = 0, timeBeat = 0, timeBar = 0, timeBarBeat = 0,
             timeBeatsPerBar = 0, timeBeatUnit = 0, timeSpeed = 0;
    LV2_URID state = 0, program = 0, portValues = 0;
    LV2_URID learnCommand = 0, parameter = 0, value = 0, valuesRequest = 0, values = 0, stored = 0, synced = 0;
    LV2_URID sampleRate = 0, samplesPerBeat = 0;

    explicit Urids(const LV2_URID_Map& map);
};

// A finite number of any of the atom number types; false, leaving *number, otherwise.
bool readNumber(const LV2_Atom* atom, const Urids& urids, double* number);

// The messages (each answers false when the forge's buffer is too small).
bool writeLearnCommand(LV2_Atom_Forge& forge, const Urids& urids, int parameter, float value);
bool writeValuesRequest(LV2_Atom_Forge& forge, const Urids& urids);
// stored and synced hold kNumParams floats each; the rate and the beat (in
// samples, 0 before the first block) go with them.
bool writeValues(LV2_Atom_Forge& forge, const Urids& urids, const float* stored, const float* synced,
                 float sampleRate, float samplesPerBeat);

bool readLearnCommand(const LV2_Atom_Object* object, const Urids& urids, int* parameter, float* value);
// Fills kNumParams floats of each; false, changing nothing, unless both vectors are whole.
// `context`, when given, takes the rate and the beat where the message has
// usable ones (a positive rate, a beat not below 0) and keeps its own otherwise.
bool readValues(const LV2_Atom_Object* object, const Urids& urids, float* stored, float* synced,
                DisplayContext* context = nullptr);

}  // namespace lv2
}  // namespace kovalith
