// The URIs of the LV2 plug-in, its UI, its saved state and the messages the
// two exchange through the atom ports. The TTL generator writes the same ones.
#pragma once

#define KOVALITH_LV2_URI "https://kovalith.audio/lv2/kovalith"

namespace kovalith {
namespace lv2 {

constexpr const char* kPluginUri = KOVALITH_LV2_URI;
constexpr const char* kUiUri = KOVALITH_LV2_URI "#ui";
// The preset for program n is kPresetUriPrefix followed by n in two digits.
constexpr const char* kPresetUriPrefix = KOVALITH_LV2_URI "#program-";

// State properties: the effect's whole state (KovalithEffect::saveState, an
// atom:Chunk), and a program to select (atom:Int), which is what a preset holds.
constexpr const char* kStateKey = KOVALITH_LV2_URI "#state";
constexpr const char* kProgramKey = KOVALITH_LV2_URI "#program";
// Saved with the state: the parameter ports' values when it was saved
// (kNumParams little-endian floats, an atom:Chunk; hidden parameters 0).
constexpr const char* kPortValuesKey = KOVALITH_LV2_URI "#ports";

// UI -> plug-in: a MIDI-learn command (parameter and value as the editor's menus send them).
constexpr const char* kLearnCommand = KOVALITH_LV2_URI "#LearnCommand";
constexpr const char* kParameterKey = KOVALITH_LV2_URI "#parameter";
constexpr const char* kValueKey = KOVALITH_LV2_URI "#value";
// UI -> plug-in: send the values now.
constexpr const char* kValuesRequest = KOVALITH_LV2_URI "#ValuesRequest";
// Plug-in -> UI: every parameter's stored value and its read-out value
// (KovalithEffect::getSyncedValue), two vectors of kNumParams floats.
constexpr const char* kValues = KOVALITH_LV2_URI "#Values";
constexpr const char* kStoredKey = KOVALITH_LV2_URI "#stored";
constexpr const char* kSyncedKey = KOVALITH_LV2_URI "#synced";
// With them, what the read-outs depend on beyond the values (floats), so that
// the UI reads typed values as the plug-in shows them.
constexpr const char* kSampleRateKey = KOVALITH_LV2_URI "#sampleRate";
constexpr const char* kSamplesPerBeatKey = KOVALITH_LV2_URI "#samplesPerBeat";

}  // namespace lv2
}  // namespace kovalith
