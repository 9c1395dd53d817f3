// Parameter indices and the menu tables: the engine reads parameters by these
// indices, and the shell and the editor name them the same way. The full
// parameter table (names, defaults, engineering rules) is the shell's, in
// plugin/Parameters.h.
#pragma once

namespace kovalith {

constexpr int kNumParams = 67;
constexpr int kNumPrograms = 32;
// setParameter(kLearnCommandBase + p, v) is a MIDI-learn command for parameter p.
constexpr int kLearnCommandBase = 68;

enum ParamId : int {
    kReserved0 = 0,
    kBlockSize = 1,
    kNumStages = 2,
    kSmoothing = 3,
    kAWarp = 4,
    kARes = 5,
    kARotate = 6,
    kReserved7 = 7,
    kReserved8 = 8,
    kSaturation = 9,
    kDecimation = 10,
    kBufferRate = 11,
    kReserved12 = 12,
    kSWarp = 13,
    kSRotate = 14,
    kSRes = 15,
    kDelay = 16,
    kFeedback = 17,
    kFilterType = 18,
    kCutoff = 19,
    kResonance = 20,
    kDelayStereoMult = 21,
    kDelaySync = 22,
    kPingPong = 23,
    kEnvAttack = 24,
    kEnvRelease = 25,
    kLfo1Shape = 26,
    kLfo1Freq = 27,
    kReserved28 = 28,
    kLfo1Stereo = 29,
    kLfo1Sync = 30,
    kLfo2Shape = 31,
    kLfo2Freq = 32,
    kReserved33 = 33,
    kLfo2Stereo = 34,
    kLfo2Sync = 35,
    // The modulation matrix: source rows Env, LFO 1, LFO 2; destination columns in this order.
    kEnvToSWarp = 36,
    kEnvToSRes = 37,
    kEnvToDec = 38,
    kEnvToBufRate = 39,
    kEnvToAWarp = 40,
    kEnvToGain = 41,
    kEnvToFbCutoff = 42,
    kLfo1ToSWarp = 43,
    kLfo1ToSRes = 44,
    kLfo1ToDec = 45,
    kLfo1ToBufRate = 46,
    kLfo1ToAWarp = 47,
    kLfo1ToGain = 48,
    kLfo1ToFbCutoff = 49,
    kLfo2ToSWarp = 50,
    kLfo2ToSRes = 51,
    kLfo2ToDec = 52,
    kLfo2ToBufRate = 53,
    kLfo2ToAWarp = 54,
    kLfo2ToGain = 55,
    kLfo2ToFbCutoff = 56,
    kOut = 57,
    kMix = 58,
    kCompressorType = 65,
    kReserved66 = 66,
};

// Destinations of the modulation matrix, in the column order of the parameters above.
enum ModDestination : int { kModSWarp, kModSRes, kModDec, kModBufRate, kModAWarp, kModGain, kModFbCutoff, kNumModDestinations };
constexpr int kModRowEnv = kEnvToSWarp;
constexpr int kModRowLfo1 = kLfo1ToSWarp;
constexpr int kModRowLfo2 = kLfo2ToSWarp;

// Tempo-sync divisions shared by "Delay Sync", "LFO 1 Sync" and "LFO 2 Sync":
// the factor is the number of sync units per beat (0 = free running).
constexpr int kNumSyncDivisions = 15;
constexpr const char* kSyncLabels[kNumSyncDivisions] = {
    "off", "4/1", "1/1", "1/2", "1/4", "1/8", "1/16", "1/32", "1/64",
    "1/4 T", "1/8 T", "1/16 T", "1/4 D", "1/8 D", "1/16 D"};
constexpr float kSyncFactors[kNumSyncDivisions] = {
    0.0f, 0.25f, 1.0f, 2.0f, 4.0f, 8.0f, 16.0f, 32.0f, 64.0f,
    6.0f, 12.0f, 24.0f, 8.0f / 3.0f, 16.0f / 3.0f, 32.0f / 3.0f};

// Ratio of the left feedback delay to the right one ("Delay Stereo Multiplier").
constexpr int kNumStereoMultipliers = 13;
constexpr const char* kStereoMultLabels[kNumStereoMultipliers] = {
    "1", "3/4", "2/3", "1/2", "2/5", "3/8", "1/3", "1/4", "3/16", "1/8", "3/32", "1/16", "1/32"};
constexpr float kStereoMultFactors[kNumStereoMultipliers] = {
    1.0f, 0.75f, 2.0f / 3.0f, 0.5f, 0.4f, 0.375f, 1.0f / 3.0f, 0.25f, 0.1875f, 0.125f, 0.09375f, 0.0625f, 0.03125f};

// A menu value as an index that is safe to look up: NaN, negative or too large give 0.
inline int safeMenuIndex(float value, int count) {
    if (!(value >= 0.0f) || !(value < static_cast<float>(count))) return 0;
    return static_cast<int>(value);
}

}  // namespace kovalith
