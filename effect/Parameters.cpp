#include "effect/Parameters.h"

#include <algorithm>
#include <cmath>

namespace kovalith {

float engineeringValue(int index, float v, float sampleRate) {
    if (!isParameterIndex(index)) return v;
    switch (kParameterTable[index].rule) {
        case EngRule::Identity: return v;
        case EngRule::BlockSize: return (16.0f + v * v * (sampleRate - 17.0f)) / sampleRate;
        case EngRule::NumStages: return 69.0f * v + 1.0f;
        case EngRule::Smoothing: return 0.1f * v;
        case EngRule::BufferRate: return v < 0.5f ? v + 0.5f : 2.0f * v;
        // In float, so that the editor's n * 0.1f gives back exactly n.
        case EngRule::FilterType: return 10.0f * v;
        case EngRule::StereoMult:
            // Negative values would index before the table: they take its first entry.
            if (v < static_cast<float>(kNumStereoMultipliers))
                return kStereoMultFactors[safeMenuIndex(v, kNumStereoMultipliers)];
            return v;
        case EngRule::Cube: return v * v * v;
        case EngRule::TwiceCube: return 2.0f * (v * v * v);
        case EngRule::LfoFreq: return 20.0f * (v * v);
        case EngRule::Bipolar: return 2.0f * v - 1.0f;
    }
    return v;
}

float quantiseToSync(float seconds, float factor, float sampleRate, float samplesPerBeat) {
    const float beat = samplesPerBeat > 0.0f ? samplesPerBeat : 0.5f * sampleRate;
    const float samples = seconds * sampleRate;
    if (seconds > 0.0f && factor > 0.0f)
        return beat * std::ceil(factor * samples / beat) / factor / sampleRate;
    return samples / sampleRate;
}

}  // namespace kovalith

namespace kovalith {
namespace {

constexpr ParameterDescription knob(const char* symbol, const char* name, const char* unit = "",
                                    Readout readout = Readout::Plain) {
    return {symbol, name, unit, readout, nullptr, 0, true};
}
constexpr ParameterDescription choice(const char* symbol, const char* name, const char* const* labels, int items,
                                      Readout readout = Readout::Menu) {
    return {symbol, name, "", readout, labels, items, true};
}
constexpr ParameterDescription onOff(const char* symbol, const char* name) {
    return {symbol, name, "", Readout::Switch, nullptr, 2, true};
}
constexpr ParameterDescription unused(const char* symbol, const char* name) {
    return {symbol, name, "", Readout::Plain, nullptr, 0, false};
}

constexpr std::array<ParameterDescription, kNumParams> kDescriptions = {{
    unused("reserved_0", "Reserved 0"),
    knob("block_size", "Block Size", "ms", Readout::BlockMs),
    knob("stages", "# Stages", "", Readout::Integer),
    knob("smoothing", "Smoothing", "s"),
    knob("a_warp", "A Warp"),
    knob("a_res", "A Res"),
    knob("a_rotate", "A Rotate"),
    unused("reserved_7", "Reserved 7"),
    unused("reserved_8", "Reserved 8"),
    knob("saturation", "Saturation"),
    knob("decimation", "Decimation"),
    knob("buffer_rate", "Buffer Rate"),
    unused("reserved_12", "Reserved 12"),
    knob("s_warp", "S Warp"),
    knob("s_rotate", "S Rotate"),
    knob("s_res", "S Res"),
    knob("delay", "Delay", "", Readout::Delay),
    knob("feedback", "Feedback"),
    choice("filter_type", "Filter Type", kFilterTypeNames, kNumFilterTypes, Readout::FilterType),
    knob("cutoff", "Cutoff", "Hz", Readout::Cutoff),
    knob("resonance", "Resonance"),
    choice("delay_stereo_multiplier", "Delay Stereo Multiplier", kStereoMultLabels, kNumStereoMultipliers),
    choice("delay_sync", "Delay Sync", kSyncLabels, kNumSyncDivisions),
    onOff("ping_pong", "Ping-Pong"),
    knob("env_attack", "Env. Attack", "s", Readout::Time),
    knob("env_release", "Env. Release", "s", Readout::Time),
    choice("lfo1_shape", "LFO 1 Shape", kLfoShapeNames, kNumLfoShapes),
    knob("lfo1_freq", "LFO 1 Freq", "Hz", Readout::LfoFreq),
    unused("reserved_28", "Reserved 28"),
    onOff("lfo1_stereo", "LFO 1 Stereo"),
    choice("lfo1_sync", "LFO 1 Sync", kSyncLabels, kNumSyncDivisions),
    choice("lfo2_shape", "LFO 2 Shape", kLfoShapeNames, kNumLfoShapes),
    knob("lfo2_freq", "LFO 2 Freq", "Hz", Readout::LfoFreq),
    unused("reserved_33", "Reserved 33"),
    onOff("lfo2_stereo", "LFO 2 Stereo"),
    choice("lfo2_sync", "LFO 2 Sync", kSyncLabels, kNumSyncDivisions),
    knob("env_s_warp", "Env->S Warp"), knob("env_s_res", "Env->S Res"), knob("env_dec", "Env->Dec."),
    knob("env_bufrate", "Env->BufRate"), knob("env_a_warp", "Env->A Warp"), knob("env_gain", "Env->Gain"),
    knob("env_fb_cutoff", "Env->Fb Cutoff"),
    knob("lfo1_s_warp", "LFO 1->S Warp"), knob("lfo1_s_res", "LFO 1->S Res"), knob("lfo1_dec", "LFO 1->Dec."),
    knob("lfo1_bufrate", "LFO 1->BufRate"), knob("lfo1_a_warp", "LFO 1->A Warp"), knob("lfo1_gain", "LFO 1->Gain"),
    knob("lfo1_fb_cutoff", "LFO 1->Fb Cutoff"),
    knob("lfo2_s_warp", "LFO 2->S Warp"), knob("lfo2_s_res", "LFO 2->S Res"), knob("lfo2_dec", "LFO 2->Dec."),
    knob("lfo2_bufrate", "LFO 2->BufRate"), knob("lfo2_a_warp", "LFO 2->A Warp"), knob("lfo2_gain", "LFO 2->Gain"),
    knob("lfo2_fb_cutoff", "LFO 2->Fb Cutoff"),
    knob("out", "Out"),
    knob("mix", "Mix"),
    unused("reserved_59", "Reserved 59"), unused("reserved_60", "Reserved 60"), unused("reserved_61", "Reserved 61"),
    unused("reserved_62", "Reserved 62"), unused("reserved_63", "Reserved 63"), unused("reserved_64", "Reserved 64"),
    choice("compressor", "Compressor Types", kCompressorLevelNames, kNumCompressorLevels),
    unused("reserved_66", "Reserved 66"),
}};

// "Filter Type" stores its item divided by ten.
constexpr float kFilterTypeScale = 0.1f;

}  // namespace

const ParameterDescription& describeParameter(int index) {
    return kDescriptions[static_cast<std::size_t>(isParameterIndex(index) ? index : 0)];
}

float plainFromStored(int index, float stored) {
    const int items = describeParameter(index).items;
    if (items == 0) return stored;
    // The item the engine selects: the integer part, as menus and the filter type read it.
    const float item = index == kFilterType ? std::trunc(stored * 10.0f) : std::trunc(stored);
    if (!(item >= 0.0f)) return 0.0f;
    return std::min(item, static_cast<float>(items - 1));
}

float storedFromPlain(int index, float plain) {
    const int items = describeParameter(index).items;
    if (items == 0) return std::isnan(plain) ? 0.0f : std::min(std::max(plain, 0.0f), 1.0f);
    const float item = std::isnan(plain) ? 0.0f : std::min(std::max(std::round(plain), 0.0f), static_cast<float>(items - 1));
    return index == kFilterType ? item * kFilterTypeScale : item;
}

bool isPositionedMenu(int index) {
    if (!isParameterIndex(index)) return false;
    const ParameterInfo& info = kParameterTable[static_cast<std::size_t>(index)];
    return info.kind == ParamKind::Menu && info.menuItems > 2;
}

float normalisedFromStored(int index, float stored) {
    if (!isPositionedMenu(index)) return stored;
    return plainFromStored(index, stored) / plainMaximum(index);
}

float storedFromNormalised(int index, float value) {
    if (!isPositionedMenu(index) || !std::isfinite(value)) return value;
    return storedFromPlain(index, value * plainMaximum(index));
}

float plainMaximum(int index) {
    const int items = describeParameter(index).items;
    return items == 0 ? 1.0f : static_cast<float>(items - 1);
}

float plainDefault(int index) { return plainFromStored(index, kParameterTable[static_cast<std::size_t>(index)].defaultValue); }

}  // namespace kovalith
