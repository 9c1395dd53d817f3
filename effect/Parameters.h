// The parameter set in one declarative table: for each of the 67 parameters
// its VST 2.4 host name, default (the "Default" program), kind and engineering
// rule, and what the other formats show of it (a stable symbol, a unique name,
// a unit, menu labels, how its read-out is written). The names, the default
// program, the engineering values, the editor's controls and every format
// shell's parameter list come from here.
#pragma once

#include <array>

#include "engine/ParameterIds.h"

namespace kovalith {

enum class ParamKind : unsigned char { Continuous, Switch, Menu };

// How the stored value v becomes the value in engineering units.
enum class EngRule : unsigned char {
    Identity,    // v
    BlockSize,   // (16 + v^2 (sr - 17)) / sr seconds: 16 to sr - 1 samples
    NumStages,   // 69 v + 1 stages
    Smoothing,   // 0.1 v seconds
    BufferRate,  // v + 0.5 below 0.5, else 2 v: 0.5 to 2
    FilterType,  // 10 v; the type is its integer part
    StereoMult,  // kStereoMultFactors[trunc v] below 13, else v
    Cube,        // v^3 seconds
    TwiceCube,   // 2 v^3 seconds
    LfoFreq,     // 20 v^2 Hz
    Bipolar,     // 2 v - 1: a modulation amount of -1 to +1
};

struct ParameterInfo {
    const char* name;      // host name; empty for parameters the host sees unnamed
    float defaultValue;    // value in the "Default" program
    ParamKind kind;
    int menuItems;         // item count of a menu, 2 for a switch, 0 otherwise
    EngRule rule;
};

constexpr ParameterInfo continuous(const char* name, float def, EngRule rule = EngRule::Identity) {
    return {name, def, ParamKind::Continuous, 0, rule};
}
constexpr ParameterInfo toggle(const char* name) { return {name, 0.0f, ParamKind::Switch, 2, EngRule::Identity}; }
constexpr ParameterInfo menu(const char* name, int items, float def = 0.0f, EngRule rule = EngRule::Identity) {
    return {name, def, ParamKind::Menu, items, rule};
}
constexpr ParameterInfo reserved(const char* name = "") { return continuous(name, 0.0f); }
constexpr ParameterInfo amount(const char* name) { return continuous(name, 0.5f, EngRule::Bipolar); }

constexpr int kNumLfoShapes = 8;
constexpr int kNumCompressorLevels = 5;

constexpr std::array<ParameterInfo, kNumParams> kParameterTable = {{
    reserved(),                                              // 0
    continuous("Block Size", 0.5f, EngRule::BlockSize),      // 1
    continuous("# Stages", 0.1f, EngRule::NumStages),        // 2
    continuous("Smoothing", 0.0f, EngRule::Smoothing),       // 3
    continuous("A Warp", 0.8f),                              // 4
    continuous("A Res", 0.98f),                              // 5
    continuous("", 0.0f),                                    // 6 A Rotate
    reserved(),                                              // 7
    reserved("A Res"),                                       // 8: the host sees "A Res" twice
    continuous("Saturation", 0.0f),                          // 9
    continuous("Decimation", 0.0f),                          // 10
    continuous("Buffer Rate", 0.5f, EngRule::BufferRate),    // 11
    reserved(),                                              // 12
    continuous("S Warp", 0.8f),                              // 13
    continuous("", 0.0f),                                    // 14 S Rotate
    continuous("S Res", 0.98f),                              // 15
    continuous("Delay", 0.0f),                               // 16
    continuous("Feedback", 0.0f),                            // 17
    continuous("Filter Type", 0.0f, EngRule::FilterType),    // 18
    continuous("Cutoff", 0.1f),                              // 19
    continuous("Resonance", 1.0f),                           // 20
    menu("Delay Stereo Multiplier", kNumStereoMultipliers, 1.0f, EngRule::StereoMult),  // 21
    menu("Delay Sync", kNumSyncDivisions),                   // 22
    toggle(""),                                              // 23 Ping-Pong
    continuous("Env. Attack", 0.0f, EngRule::Cube),          // 24
    continuous("Env. Release", 0.0f, EngRule::TwiceCube),    // 25
    menu("LFO 1 Shape", kNumLfoShapes),                      // 26
    continuous("LFO 1 Freq", 0.05f, EngRule::LfoFreq),       // 27
    reserved(),                                              // 28
    toggle("LFO 1 Stereo"),                                  // 29
    menu("LFO 1 Sync", kNumSyncDivisions),                   // 30
    menu("LFO 2 Shape", kNumLfoShapes),                      // 31
    continuous("LFO 2 Freq", 0.05f, EngRule::LfoFreq),       // 32
    reserved(),                                              // 33
    toggle("LFO 2 Stereo"),                                  // 34
    menu("LFO 2 Sync", kNumSyncDivisions),                   // 35
    amount("Env->S Warp"), amount("Env->S Res"), amount("Env->Dec."), amount("Env->BufRate"),          // 36-39
    amount("Env->A Warp"), amount("Env->Gain"), amount("Env->Fb Cutoff"),                              // 40-42
    amount("LFO 1->S Warp"), amount("LFO 1->S Res"), amount("LFO 1->Dec."), amount("LFO 1->BufRate"),  // 43-46
    amount("LFO 1->A Warp"), amount("LFO 1->Gain"), amount("LFO 1->Fb Cutoff"),                        // 47-49
    amount("LFO 2->S Warp"), amount("LFO 2->S Res"), amount("LFO 2->Dec."), amount("LFO 2->BufRate"),  // 50-53
    amount("LFO 2->A Warp"), amount("LFO 2->Gain"), amount("LFO 2->Fb Cutoff"),                        // 54-56
    continuous("Out", 1.0f),                                 // 57
    continuous("Mix", 0.5f),                                 // 58
    reserved(), reserved(), reserved(), reserved(), reserved(), reserved(),  // 59-64
    menu("Compressor Types", kNumCompressorLevels),          // 65
    reserved(),                                              // 66
}};

inline bool isParameterIndex(int index) { return index >= 0 && index < kNumParams; }

// The engineering value of parameter index for the stored value v at the given
// sample rate, in single precision. v must be finite.
float engineeringValue(int index, float v, float sampleRate);

// Q(t, f): a time t in seconds rounded up to whole sync units of 1/f beats,
// with a beat of samplesPerBeat samples (or half a second when that is not
// above 0). Single precision throughout.
float quantiseToSync(float seconds, float factor, float sampleRate, float samplesPerBeat);

}  // namespace kovalith

namespace kovalith {

// How a parameter's read-out is written (the editor's read-outs and every
// host's display text agree; effect/ParameterText.h writes and parses them).
enum class Readout : unsigned char {
    Plain,       // "%2.2f" of the engineering value
    Integer,     // whole number ("# Stages")
    BlockMs,     // "%0.1f ms" of seconds ("Block Size")
    Time,        // "%0.2f ms" below a second, else "%0.3f s" (envelope times)
    Delay,       // Plain in seconds, or whole sync units while "Delay Sync" is on
    LfoFreq,     // "%0.2f Hz", or whole sync units while the LFO's sync is on
    Cutoff,      // "%0.f Hz" of 22000 v, bounded to 80 .. 22000 Hz
    FilterType,  // the type's name ("Lowpass" ...)
    Menu,        // the item's label
    Switch,      // "off" / "on"
};

// What the formats other than VST 2.4 present of a parameter. The identifier a
// host stores is the parameter's index: the chunk fixes the indices for good,
// so they never move between versions.
struct ParameterDescription {
    const char* symbol;          // LV2 port symbol; unique, a C identifier
    const char* name;            // unique, non-empty
    const char* unit;            // of the read-out, "" for none
    Readout readout;
    const char* const* labels;   // menu item labels (Menu, FilterType), else null
    int items;                   // item count of a stepped parameter (menu, switch, filter type), else 0
    bool exposed;                // false: does nothing, so hosts don't list it (it stays in the state)
};

constexpr int kNumFilterTypes = 8;
constexpr const char* kFilterTypeNames[kNumFilterTypes] = {"Lowpass",  "Highpass",  "Bandpass",   "Bandstop",
                                                           "Allpass",  "Low Shelf", "High Shelf", "Peaking"};
constexpr const char* kLfoShapeNames[kNumLfoShapes] = {"sine", "tri", "saw up", "saw dn",
                                                       "square", "exp", "s & h", "rand"};
constexpr const char* kCompressorLevelNames[kNumCompressorLevels] = {"off", "weak", "medium", "strong", "insane"};

// The description of parameter index (0 to 66).
const ParameterDescription& describeParameter(int index);

// Stepped parameters (menus, switches, "Filter Type") travel to the formats
// other than VST 2.4 as their item number 0 .. items - 1; the rest as the
// stored value 0..1. These convert between that plain value and the stored one:
// the nearest item for a stepped parameter ("Filter Type" stores item / 10).
float plainFromStored(int index, float stored);
float storedFromPlain(int index, float plain);
// VST 2.4 hosts and MIDI controllers move every parameter through 0..1. A
// menu of more than two items travels there as its item's position,
// item / (items - 1), and a value from them selects the nearest item; the
// rest (switches and "Filter Type" included) travel as they are stored.
bool isPositionedMenu(int index);
float normalisedFromStored(int index, float stored);
// A value that is not finite stays so, so that the effect refuses it (an
// infinity would otherwise select the last item).
float storedFromNormalised(int index, float value);
// The plain value's range: 0 .. items - 1, or 0 .. 1.
float plainMaximum(int index);
// The plain value of the "Default" program.
float plainDefault(int index);

}  // namespace kovalith
