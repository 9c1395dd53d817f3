#include "engine/ControlMath.h"

#include <algorithm>

namespace kovalith {

namespace {

constexpr double kMaxSamplesPerBeat = 1 << 30;  // keeps the beat in an int at absurdly slow tempos

float warpTarget(float base, float mod) { return std::sqrt(clampTo(base + mod, 0.0f, 1.0f)) * 0.999f; }

float resonanceTarget(float base, float mod) {
    return std::sqrt(clampTo(base + mod, 0.0f, 1.0f)) * 0.999f + 0.001f;
}

float cutoffTarget(float base, float mod) { return clampTo((base + mod) * 22000.0f, 80.0f, 22000.0f); }

}  // namespace

TempoInfo readTempoInfo(const HostTimeInfo* info, float sampleRate) {
    TempoInfo t;
    if (info) {
        t.tempoValid = info->tempoValid;
        t.ppqValid = info->ppqValid;
        t.barsValid = info->barsValid;
        t.timeSigValid = info->timeSigValid;
        if (t.tempoValid) t.tempo = info->tempo;
        if (t.ppqValid && std::isfinite(info->ppqPosition)) t.ppqPosition = info->ppqPosition;
        if (t.barsValid && std::isfinite(info->barStartPosition)) t.barStartPosition = info->barStartPosition;
        if (t.timeSigValid) {
            t.timeSigNumerator = info->timeSigNumerator;
            t.timeSigDenominator = info->timeSigDenominator;
        }
    }
    // A tempo of zero, below zero or not a number counts as absent.
    if (!(t.tempo > 0.0) || !std::isfinite(t.tempo)) t.tempo = 120.0;
    const double beatsPerSecond = t.tempo / 60.0;
    const double beat = std::trunc(static_cast<double>(sampleRate) / beatsPerSecond);
    t.samplesPerBeat = static_cast<int>(std::clamp(beat, 1.0, kMaxSamplesPerBeat));
    return t;
}

float syncedDelaySamples(float baseSamples, float factor, int samplesPerBeat) {
    if (!(baseSamples > 0.0f) || !(factor > 0.0f) || samplesPerBeat <= 0) return baseSamples;
    const float beat = static_cast<float>(samplesPerBeat);
    return std::ceil(factor * baseSamples / beat) / factor * beat;
}

LfoRate computeLfoRate(float frequencyHz, float multiplier, float controlPeriod, float sampleRate,
                       int samplesPerBeat, double ppqPosition) {
    LfoRate out;
    const float frequency = clampTo(frequencyHz, 0.0f, kMaxLfoFrequency);
    if (!(frequency > 0.0f && multiplier >= 1.0f && samplesPerBeat > 0)) {
        out.rate = controlPeriod * frequency;
        return out;
    }
    // From the position rounded to single precision on, everything is float
    // arithmetic, as its operands are.
    const float beat = static_cast<float>(samplesPerBeat);
    const float freePeriod = sampleRate / frequency;
    const float units = std::ceil(multiplier * freePeriod / beat);
    const float period = units / multiplier * beat;
    const float position = static_cast<float>(std::isfinite(ppqPosition) ? ppqPosition : 0.0);
    float fraction = std::fmod(position * beat, period) / period;
    // fmod keeps the sign of a position before the song start: wrap into [0, 1).
    if (fraction < 0.0f) fraction += 1.0f;
    if (!(fraction >= 0.0f && fraction < 1.0f)) fraction = 0.0f;
    out.synced = true;
    out.phase = static_cast<uint32_t>(fraction * static_cast<float>(kLfoPhaseCycle)) & (kLfoPhaseCycle - 1);
    out.rate = std::min(controlPeriod * sampleRate / period, controlPeriod * kMaxLfoFrequency);
    return out;
}

ModMatrix readModMatrix(const float* engValues) {
    ModMatrix m;
    const int rows[3] = {kModRowEnv, kModRowLfo1, kModRowLfo2};
    for (int r = 0; r < 3; ++r)
        for (int d = 0; d < kNumModDestinations; ++d)
            m.amount[r][d] = clampTo(engValues[rows[r] + d], -1.0f, 1.0f);
    m.sign1 = engValues[kLfo1Stereo] > 0.5f ? -1.0f : 1.0f;
    m.sign2 = engValues[kLfo2Stereo] > 0.5f ? -1.0f : 1.0f;
    return m;
}

ModSums computeModSums(const ModMatrix& m, float env, float lfo1, float lfo2) {
    ModSums s;
    const float lfo1R = m.sign1 * lfo1;
    const float lfo2R = m.sign2 * lfo2;
    for (int d = 0; d < kNumModDestinations; ++d) {
        const float envTerm = env * m.amount[0][d];
        s.left[d] = kModScale[d] * (envTerm + lfo1 * m.amount[1][d] + lfo2 * m.amount[2][d]);
        s.right[d] = kModScale[d] * (envTerm + lfo1R * m.amount[1][d] + lfo2R * m.amount[2][d]);
    }
    return s;
}

TargetBase readTargetBase(const float* values) {
    TargetBase b;
    b.aWarp = values[kAWarp];
    // Only the analysis resonance enters its square root unbounded; out of 0..1
    // (a damaged chunk) it would give NaN or coefficients beyond the unit circle.
    b.aRes = clampTo(values[kARes], 0.0f, 1.0f);
    b.sWarp = values[kSWarp];
    b.sRes = values[kSRes];
    b.decimation = values[kDecimation];
    b.cutoff = values[kCutoff];
    b.bufferRate = values[kBufferRate];
    return b;
}

float playbackSpeed(float bufferRate, float mod, float window) {
    float r = bufferRate - 0.5f + mod;
    if (r > 0.0f) r = 2.0f * r;
    r = clampTo(r + 1.0f, 0.5f, 2.0f);
    const float bound = 0.9f * window;
    return clampTo(r, -bound, bound);
}

ControlTargets computeTargets(const TargetBase& b, const ModSums& mod, float windowL, float windowR) {
    ControlTargets t;
    t.aW = warpTarget(b.aWarp, mod.left[kModAWarp]);  // the analysis side is mono
    t.sWL = warpTarget(b.sWarp, mod.left[kModSWarp]);
    t.sWR = warpTarget(b.sWarp, mod.right[kModSWarp]);
    t.aR = std::sqrt(b.aRes) * 0.999f + 0.001f;
    t.sRL = resonanceTarget(b.sRes, mod.left[kModSRes]);
    t.sRR = resonanceTarget(b.sRes, mod.right[kModSRes]);
    t.dL = clampTo(b.decimation + mod.left[kModDec], 0.0f, 1.0f);
    t.dR = clampTo(b.decimation + mod.right[kModDec], 0.0f, 1.0f);
    t.cL = cutoffTarget(b.cutoff, mod.left[kModFbCutoff]);
    t.cR = cutoffTarget(b.cutoff, mod.right[kModFbCutoff]);
    t.rL = playbackSpeed(b.bufferRate, mod.left[kModBufRate], windowL);
    t.rR = playbackSpeed(b.bufferRate, mod.right[kModBufRate], windowR);
    t.gL = 1.0f + mod.left[kModGain];
    t.gR = 1.0f + mod.right[kModGain];
    return t;
}

bool feedbackFilterSettings(float typeEng, float cutoffEng, float resonanceEng, int& type, BiquadParams& p) {
    const float c = clampTo(cutoffEng, 0.001f, 1.0f);
    // Resonance beyond 0..1 only comes from a damaged chunk; inside it the rule is unchanged.
    const float r = clampTo(resonanceEng, 0.0f, 1.0f);
    const bool known = typeEng >= 0.0f && typeEng < static_cast<float>(kNumBiquadTypes);
    type = known ? static_cast<int>(typeEng) : -1;
    p = BiquadParams{};
    p.frequency = 22000.0f * c * c * c;
    if (type < kBiquadLowShelf) {
        p.q = 10.0f * r * r + 1e-10f;
        p.gain = 1.0f;
    } else {
        p.q = 1.0f;
        // A gain of 0 would put alpha / A = inf into the peaking recipe: -60 dB is the floor.
        p.gain = std::max(2.0f * r, 0.001f);
    }
    p.slope = 1.0f;
    p.useBandwidth = false;
    p.bandpassPeakUnity = true;
    return known;
}

}  // namespace kovalith
