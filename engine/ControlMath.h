// The engine's control-rate arithmetic as plain functions: the host's tempo and
// position, the tempo grid for delay and LFO, the modulation matrix and the
// bounded targets, the compressor levels and the feedback filter record.
// Nothing here touches a unit, so every rule can be checked on its own.
#pragma once

#include <cmath>
#include <cstdint>

#include "dsp/Biquad.h"
#include "engine/ParameterIds.h"

namespace kovalith {

// x bounded to [lo, hi]; NaN gives lo, so no NaN leaves a bound.
inline float clampTo(float x, float lo, float hi) { return x >= lo ? (x <= hi ? x : hi) : lo; }

// A finite value or the fallback.
inline float finiteOr(float x, float fallback) { return std::isfinite(x) ? x : fallback; }

// The integer part of v limited to lo..hi; NaN gives lo.
inline int truncTo(float v, int lo, int hi) {
    if (!(v >= static_cast<float>(lo))) return lo;
    if (!(v < static_cast<float>(hi) + 1.0f)) return hi;
    return static_cast<int>(v);
}

// A sync menu value as its factor; indices outside the table mean "off".
inline float syncFactor(float menuValue) { return kSyncFactors[safeMenuIndex(menuValue, kNumSyncDivisions)]; }

// The host's tempo and position for one block, as a host adapter read them;
// each field counts only when its flag is set.
struct HostTimeInfo {
    double tempo = 0.0;  // beats per minute
    double ppqPosition = 0.0;
    double barStartPosition = 0.0;
    int timeSigNumerator = 4;
    int timeSigDenominator = 4;
    bool tempoValid = false;
    bool ppqValid = false;
    bool barsValid = false;
    bool timeSigValid = false;
};

// What the engine takes from it for one call: the fields it took (the others
// at their defaults, 120 bpm and 4/4 at the song's start) and the beat length.
struct TempoInfo : HostTimeInfo {
    TempoInfo() { tempo = 120.0; }
    int samplesPerBeat = 22050;
};

// Reads the host's record (null: none) at the engine's sample rate. A missing,
// non-positive or non-finite tempo is 120 bpm; the beat is at least one sample
// long, so the tempo grid never divides by zero.
TempoInfo readTempoInfo(const HostTimeInfo* info, float sampleRate);

// A free delay in samples rounded up to whole grid units of samplesPerBeat / f
// samples (at least one unit); unchanged when base or f is not positive.
float syncedDelaySamples(float baseSamples, float factor, int samplesPerBeat);

// The LFO frequency and phase for one host call.
struct LfoRate {
    float rate = 0.0f;        // the value for the LFO's setRate (already scaled by the control period)
    bool synced = false;      // true: phase holds the position-locked phase
    uint32_t phase = 0;       // 9.20 fixed point, 0 .. 2^29 - 1
};

constexpr uint32_t kLfoPhaseCycle = 1u << 29;  // 512 table entries of 2^20 steps
// Above this an LFO frequency is no longer a modulation (the knob ends at 20 Hz).
constexpr float kMaxLfoFrequency = 2000.0f;

// The rate of an LFO ticked once per controlPeriod samples: free at
// frequencyHz, or, when multiplier >= 1, with its period rounded up to whole
// grid units and its phase locked to the host position.
LfoRate computeLfoRate(float frequencyHz, float multiplier, float controlPeriod, float sampleRate,
                       int samplesPerBeat, double ppqPosition);

// The 21 amounts (rows Env, LFO 1, LFO 2) with their destination scales, and the
// stereo signs of the two LFOs, fixed for one host call.
struct ModMatrix {
    float amount[3][kNumModDestinations] = {};
    float sign1 = 1.0f;
    float sign2 = 1.0f;
};

constexpr float kModScale[kNumModDestinations] = {0.8f, 1.0f, 0.5f, 0.5f, 0.8f, 0.5f, 0.5f};

// engValues of the matrix amounts and of the two stereo switches.
ModMatrix readModMatrix(const float* engValues);

// The matrix sums of one control step for the left and right channel.
struct ModSums {
    float left[kNumModDestinations];
    float right[kNumModDestinations];
};

ModSums computeModSums(const ModMatrix& matrix, float env, float lfo1, float lfo2);

// The base values the targets start from (the stored values v).
struct TargetBase {
    float aWarp = 0, aRes = 0, sWarp = 0, sRes = 0, decimation = 0, cutoff = 0, bufferRate = 0;
};

TargetBase readTargetBase(const float* values);

// Everything a control step hands to the units.
struct ControlTargets {
    float analysisWarp, synthesisWarpL, synthesisWarpR;                 // 0 .. 0.999
    float analysisResonance, synthesisResonanceL, synthesisResonanceR;  // 0.001 .. 1
    float decimationL, decimationR;                                     // 0 .. 1
    float cutoffL, cutoffR;                                             // feedback filters, 80 .. 22000 Hz
    float speedL, speedR;                                               // varispeed playback speeds
    float feedbackGainL, feedbackGainR;  // feedback gain factors (unbounded; the feedback itself is limited)
};

ControlTargets computeTargets(const TargetBase& base, const ModSums& mod, float windowL, float windowR);

// One playback speed: v + 0.5 below the centre, 2 v above, bounded to 0.5 .. 2
// and to 0.9 of the window so the heads never overtake the writer.
float playbackSpeed(float bufferRate, float mod, float window);

// The settings of one "Compressor Types" level.
struct CompressorLevel {
    float ratio;
    float slope;        // 1 / (ratio + 1e-10): the part of the overshoot that passes
    float thresholdDb;
    float attack;       // seconds
    float release;      // seconds
};

constexpr int kCompressorOff = 0;
constexpr int kNumCompressorLevelsEngine = 5;
constexpr CompressorLevel kCompressorLevels[kNumCompressorLevelsEngine] = {
    {0.0f, 1.0e10f, 0.0f, 0.002f, 0.2f},       // off
    {10.0f, 0.1f, -6.0f, 0.002f, 0.2f},        // weak
    {20.0f, 0.05f, -12.0f, 0.002f, 0.2f},      // medium: between weak and strong
    {40.0f, 0.025f, -18.0f, 0.002f, 0.2f},     // strong
    {200.0f, 0.005f, -60.0f, 0.002f, 0.2f},    // insane
};

// The level in effect for a menu value: its integer part limited to 0..4, so a
// host sweeping the menu through 0..1 never lands between levels.
inline int compressorLevel(float value) { return truncTo(value, 0, kNumCompressorLevelsEngine - 1); }

// The feedback biquads' type and record from the engineering values of
// "Filter Type", "Cutoff" and "Resonance". Returns false for a type outside
// 0..8 (the filter keeps what it has); the record is filled either way.
bool feedbackFilterSettings(float typeEng, float cutoffEng, float resonanceEng, int& type, BiquadParams& params);
// The shape part of those settings (Q or gain from "Resonance" 0..1, slope and
// band-pass scaling) for a filter of the given type, with the frequency left
// at its default; the filter display draws the same filter from it.
void feedbackFilterShape(int type, float resonance, BiquadParams& params);

}  // namespace kovalith
