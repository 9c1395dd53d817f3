#include "plugin/Parameters.h"

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
