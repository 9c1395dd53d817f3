// Programs: the 768-byte record that holds one program, the 32-record bank
// that is also the effect's saved state, the "Default" record and the factory
// presets.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/ParameterIds.h"

namespace kovalith {

constexpr int kProgramNameSize = 24;  // including the terminating zero
constexpr int kNumFactoryPresets = 5;
constexpr int kNumMidiControllers = 127;  // controllers 0 to 126 can be learned

// One program, byte for byte as it is saved (little-endian, no header).
struct ProgramRecord {
    float params[kNumParams];     // the values as passed to setParameter
    int32_t midiMap[kNumParams];  // learned controller per parameter, -1 for none
    char name[kProgramNameSize];
    uint8_t reserved[200];        // carried along unread
    char versionTag[8];           // "0.9"
};

static_assert(offsetof(ProgramRecord, params) == 0, "ProgramRecord layout");
static_assert(offsetof(ProgramRecord, midiMap) == 268, "ProgramRecord layout");
static_assert(offsetof(ProgramRecord, name) == 536, "ProgramRecord layout");
static_assert(offsetof(ProgramRecord, reserved) == 560, "ProgramRecord layout");
static_assert(offsetof(ProgramRecord, versionTag) == 760, "ProgramRecord layout");
static_assert(sizeof(ProgramRecord) == 768, "ProgramRecord layout");

struct ProgramBank {
    ProgramRecord programs[kNumPrograms];
};
static_assert(sizeof(ProgramBank) == 24576, "ProgramBank layout");

// Writes the "Default" program into record.
void initDefaultProgram(ProgramRecord& record);
// Writes the five factory presets over records 0 to 4 of the bank.
void writeFactoryPresets(ProgramBank& bank);
// The name of a factory preset (0 to 4).
const char* factoryPresetName(int preset);

// The records are live memory that the host reads through getChunk while the
// audio thread (MIDI learn) and the host's other threads write single fields.
// These keep each 32-bit field access whole and visible to race detectors.
inline float loadField(const float& field) {
    float value;
    __atomic_load(&field, &value, __ATOMIC_RELAXED);
    return value;
}
inline int32_t loadField(const int32_t& field) { return __atomic_load_n(&field, __ATOMIC_RELAXED); }
inline void storeField(float& field, float value) { __atomic_store(&field, &value, __ATOMIC_RELAXED); }
inline void storeField(int32_t& field, int32_t value) { __atomic_store_n(&field, value, __ATOMIC_RELAXED); }

// Copies byteCount bytes (a multiple of 4) from any source into a record or
// bank, one whole 32-bit word at a time.
void copyIntoRecords(void* destination, const void* source, std::size_t byteCount);
// The other way: byteCount bytes (a multiple of 4) of a live record or bank,
// each 32-bit word read whole, into any destination.
void copyFromRecords(void* destination, const void* source, std::size_t byteCount);

// Copies a name field into text (at least kProgramNameSize bytes), reading no
// more than the field and always terminating: at most 23 characters.
void readName(const char (&field)[kProgramNameSize], char* text);

}  // namespace kovalith
