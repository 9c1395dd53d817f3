// What identifies Kovalith to a VST3 host: its classes, its factory's
// answers and the identifiers of its parameters. Hosts store these in
// sessions, so none of them may ever change.
#pragma once

#include <cstdint>

#include "vst3/Vst3Com.h"

namespace kovalith::vst3 {

// Generated once; V3_ID lays the bytes out as each platform's hosts expect.
constexpr v3_tuid kProcessorClassId = V3_ID(0x897B0AF3, 0x6B5D45A7, 0x9D182A44, 0x6CE504D6);
constexpr v3_tuid kControllerClassId = V3_ID(0xD5A4AE6B, 0x323F428C, 0x93D964BA, 0x6A3DFB30);

constexpr const char* kPluginName = "Kovalith";
constexpr const char* kVendor = "kovalith.audio";
constexpr const char* kVendorUrl = "https://kovalith.audio";
constexpr const char* kVendorEmail = "dev@kovalith.audio";
constexpr const char* kVersion = "0.9.0";
constexpr const char* kSdkVersion = "VST 3.7.0";
constexpr const char* kAudioEffectCategory = "Audio Module Class";
constexpr const char* kControllerCategory = "Component Controller Class";
constexpr const char* kSubCategories = "Fx|Delay|Filter";

// Parameters: the effect's own at their index (0 to 66; the chunk fixes the
// indices for good), the program selector, and one hidden parameter per MIDI
// controller that a learned binding can follow (VST3 hands a plug-in its
// controllers only as parameter changes).
constexpr v3_param_id kProgramParamId = 0x20000;
constexpr v3_param_id kControllerParamBase = 0x10000;
constexpr int kNumLearnableControllers = 126;  // 0 to 125: 126 and 127 are never learned

constexpr int32_t kRootUnitId = 0;
constexpr int32_t kProgramListId = 1;

}  // namespace kovalith::vst3
