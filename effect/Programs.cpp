#include "effect/Programs.h"

#include <cstring>

#include "effect/Parameters.h"

namespace kovalith {
namespace {

constexpr const char* kVersionTag = "0.9";

constexpr const char* kFactoryPresetNames[kNumFactoryPresets] = {
    "Rubber Boots", "Intermittent", "Scratchy", "FBM", "Skaro Defence Force"};

// The stored values of the factory presets, by parameter index (menus and
// switches hold their item number; "Filter Type" holds type / 10).
constexpr float kFactoryPresetParams[kNumFactoryPresets][kNumParams] = {
    // "Rubber Boots"
    {
        0.0f, 0.401611f, 0.276518f, 0.19906f, 0.645516f, 0.98f,  // 0-5
        0.0f, 0.0f, 0.0f, 0.359722f, 0.276833f, 0.5f,  // 6-11
        0.0f, 0.6296f, 0.0f, 0.98f, 0.291445f, 0.254183f,  // 12-17
        0.0f, 0.197159f, 0.333333f, 0.48f, 0.0f, 1.0f,  // 18-23
        0.1285f, 0.34746f, 1.0f, 0.266781f, 0.145516f, 0.0f,  // 24-29
        1.0f, 6.0f, 0.162336f, 0.0742818f, 0.0f, 4.0f,  // 30-35
        0.917111f, 0.487155f, 0.5f, 0.5f, 0.5f, 0.5f,  // 36-41
        0.5f, 0.931722f, 0.5f, 0.5f, 0.5f, 0.5f,  // 42-47
        0.5f, 0.510097f, 0.647428f, 0.5f, 0.624778f, 0.5f,  // 48-53
        0.5f, 0.5f, 0.555302f, 1.0f, 0.5f, 0.0f,  // 54-59
        0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f,  // 60-65
        0.0f,  // 66
    },
    // "Intermittent"
    {
        0.0f, 0.234944f, 0.143184f, 0.19906f, 0.645516f, 0.98f,  // 0-5
        0.0f, 0.0f, 0.0f, 0.359722f, 0.0f, 0.5f,  // 6-11
        0.0f, 0.6296f, 0.0f, 0.98f, 0.379736f, 0.438151f,  // 12-17
        0.0f, 0.419009f, 0.426667f, 3.0f, 4.0f, 1.0f,  // 18-23
        0.1285f, 0.34746f, 1.0f, 0.186816f, 0.145516f, 1.0f,  // 24-29
        0.0f, 1.0f, 0.0682776f, 0.0742818f, 1.0f, 0.0f,  // 30-35
        0.917111f, 0.487155f, 0.5f, 0.5f, 0.5f, 0.5f,  // 36-41
        0.5f, 0.5f, 0.5f, 0.5f, 0.509425f, 0.5f,  // 42-47
        0.5f, 0.510097f, 0.647428f, 0.5f, 0.5f, 0.5f,  // 48-53
        0.701712f, 0.5f, 0.555302f, 1.0f, 0.5f, 0.0f,  // 54-59
        0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f,  // 60-65
        0.0f,  // 66
    },
    // "Scratchy"
    {
        0.0f, 0.401611f, 0.182357f, 0.19906f, 0.645516f, 0.324113f,  // 0-5
        0.0f, 0.0f, 0.0f, 0.375222f, 0.0682776f, 0.5f,  // 6-11
        0.0f, 0.901611f, 0.214795f, 0.285205f, 0.201712f, 0.795167f,  // 12-17
        0.2f, 0.186051f, 0.146667f, 3.0f, 5.0f, 1.0f,  // 18-23
        0.1285f, 0.34746f, 1.0f, 0.0949667f, 0.145516f, 0.0f,  // 24-29
        1.0f, 1.0f, 0.0381661f, 0.0742818f, 1.0f, 0.0f,  // 30-35
        0.917111f, 0.487155f, 0.34746f, 0.5f, 0.5f, 0.5f,  // 36-41
        0.5f, 0.511158f, 0.5f, 0.5f, 0.5f, 0.5f,  // 42-47
        0.5f, 0.510097f, 0.487532f, 0.5f, 0.624778f, 0.5f,  // 48-53
        0.5f, 0.5f, 0.687817f, 1.0f, 0.5f, 0.0f,  // 54-59
        0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 3.0f,  // 60-65
        0.0f,  // 66
    },
    // "FBM"
    {
        0.0f, 0.21307f, 0.1f, 0.303222f, 0.8f, 0.98f,  // 0-5
        0.0f, 0.0f, 0.0f, 0.568278f, 0.0f, 0.5f,  // 6-11
        0.0f, 0.65254f, 0.453597f, 0.98f, 0.438151f, 0.875222f,  // 12-17
        0.0f, 0.263477f, 0.333333f, 1.0f, 1.0f, 0.0f,  // 18-23
        0.0659958f, 0.17351f, 0.0f, 0.0474232f, 0.05f, 0.0f,  // 24-29
        0.0f, 0.0f, 0.0682776f, 0.05f, 1.0f, 0.0f,  // 30-35
        0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f,  // 36-41
        0.5f, 0.71307f, 0.5f, 0.5f, 0.5f, 0.5f,  // 42-47
        0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f,  // 48-53
        0.5f, 0.795167f, 0.5f, 1.0f, 0.5f, 0.0f,  // 54-59
        0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 4.0f,  // 60-65
        0.0f,  // 66
    },
    // "Skaro Defence Force"
    {
        0.0f, 0.21307f, 0.250444f, 0.303222f, 0.8f, 0.98f,  // 0-5
        0.0f, 0.0f, 0.0f, 0.771484f, 0.0f, 0.5f,  // 6-11
        0.0f, 0.794001f, 0.0f, 0.98f, 0.239459f, 0.5f,  // 12-17
        0.1f, 0.0230657f, 0.346667f, 1.0f, 5.0f, 1.0f,  // 18-23
        0.0659958f, 0.385319f, 5.0f, 0.0917597f, 0.05f, 0.0f,  // 24-29
        0.0f, 7.0f, 0.833333f, 0.05f, 1.0f, 0.0f,  // 30-35
        0.5f, 0.5f, 0.818201f, 0.5f, 0.5f, 0.5f,  // 36-41
        0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f,  // 42-47
        0.5f, 0.654198f, 0.5f, 0.5f, 0.5f, 0.512113f,  // 48-53
        0.5f, 0.5f, 0.5f, 1.0f, 1.0f, 0.0f,  // 54-59
        0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f,  // 60-65
        0.0f,  // 66
    },
};

void writeName(char (&field)[kProgramNameSize], const char* name) {
    std::memset(field, 0, sizeof field);
    std::strncpy(field, name, sizeof field - 1);
}

}  // namespace

const char* factoryPresetName(int preset) {
    return preset >= 0 && preset < kNumFactoryPresets ? kFactoryPresetNames[preset] : "";
}

void initDefaultProgram(ProgramRecord& record) {
    std::memset(&record, 0, sizeof record);
    for (int i = 0; i < kNumParams; ++i) {
        record.params[i] = kParameterTable[i].defaultValue;
        record.midiMap[i] = -1;
    }
    writeName(record.name, "Default");
    std::strncpy(record.versionTag, kVersionTag, sizeof record.versionTag - 1);
}

void writeFactoryPresets(ProgramBank& bank) {
    for (int p = 0; p < kNumFactoryPresets; ++p) {
        ProgramRecord& record = bank.programs[p];
        std::memcpy(record.params, kFactoryPresetParams[p], sizeof record.params);
        writeName(record.name, kFactoryPresetNames[p]);
        std::memset(record.versionTag, 0, sizeof record.versionTag);
        std::strncpy(record.versionTag, kVersionTag, sizeof record.versionTag - 1);
    }
}

void copyIntoRecords(void* destination, const void* source, std::size_t byteCount) {
    auto* words = static_cast<uint32_t*>(destination);
    const auto* bytes = static_cast<const unsigned char*>(source);
    for (std::size_t i = 0; i < byteCount / sizeof(uint32_t); ++i) {
        uint32_t word;
        std::memcpy(&word, bytes + i * sizeof word, sizeof word);  // the host's data may be unaligned
        __atomic_store_n(&words[i], word, __ATOMIC_RELAXED);
    }
}

void copyFromRecords(void* destination, const void* source, std::size_t byteCount) {
    auto* bytes = static_cast<unsigned char*>(destination);
    const auto* words = static_cast<const uint32_t*>(source);
    for (std::size_t i = 0; i < byteCount / sizeof(uint32_t); ++i) {
        const uint32_t word = __atomic_load_n(&words[i], __ATOMIC_RELAXED);
        std::memcpy(bytes + i * sizeof word, &word, sizeof word);
    }
}

void readName(const char (&field)[kProgramNameSize], char* text) {
    if (!text) return;
    std::size_t length = 0;
    while (length + 1 < sizeof field && field[length] != '\0') ++length;
    std::memcpy(text, field, length);
    text[length] = '\0';
}

}  // namespace kovalith
