#include "engine/ControlMath.h"

#include <algorithm>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace kovalith {

namespace {

// Four floats computed lane by lane (one SSE operation where the target has it).
// Each lane's arithmetic is exactly the scalar arithmetic of its own value.
#if defined(__SSE2__)
struct Quad {
    __m128 v;
    Quad(__m128 x) : v(x) {}
    Quad(float a, float b, float c, float d) : v(_mm_setr_ps(a, b, c, d)) {}
    static Quad all(float x) { return _mm_set1_ps(x); }
    static Quad load(const float* p) { return _mm_loadu_ps(p); }
    void store(float* p) const { _mm_storeu_ps(p, v); }
    friend Quad operator+(Quad a, Quad b) { return _mm_add_ps(a.v, b.v); }
    friend Quad operator*(Quad a, Quad b) { return _mm_mul_ps(a.v, b.v); }
    friend Quad sqrt(Quad a) { return _mm_sqrt_ps(a.v); }
    // Lanes 0 and 1 of a, lanes 2 and 3 of b.
    friend Quad lowOfHighOf(Quad a, Quad b) { return _mm_shuffle_ps(a.v, b.v, _MM_SHUFFLE(3, 2, 1, 0)); }
    // clampTo in every lane: compares and selections, so NaN gives lo and a
    // value equal to a bound keeps its own bits.
    friend Quad clamped(Quad x, Quad lo, Quad hi) {
        const __m128 upper = select(_mm_cmple_ps(x.v, hi.v), x.v, hi.v);
        return select(_mm_cmpge_ps(x.v, lo.v), upper, lo.v);
    }

private:
    static __m128 select(__m128 mask, __m128 a, __m128 b) {
        return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b));
    }
};
#else
struct Quad {
    float l[4];
    Quad(float a, float b, float c, float d) : l{a, b, c, d} {}
    static Quad all(float x) { return {x, x, x, x}; }
    static Quad load(const float* p) { return {p[0], p[1], p[2], p[3]}; }
    void store(float* p) const {
        for (int i = 0; i < 4; ++i) p[i] = l[i];
    }
    friend Quad operator+(Quad a, Quad b) { return {a.l[0] + b.l[0], a.l[1] + b.l[1], a.l[2] + b.l[2], a.l[3] + b.l[3]}; }
    friend Quad operator*(Quad a, Quad b) { return {a.l[0] * b.l[0], a.l[1] * b.l[1], a.l[2] * b.l[2], a.l[3] * b.l[3]}; }
    friend Quad sqrt(Quad a) { return {std::sqrt(a.l[0]), std::sqrt(a.l[1]), std::sqrt(a.l[2]), std::sqrt(a.l[3])}; }
    friend Quad lowOfHighOf(Quad a, Quad b) { return {a.l[0], a.l[1], b.l[2], b.l[3]}; }
    friend Quad clamped(Quad x, Quad lo, Quad hi) {
        return {clampTo(x.l[0], lo.l[0], hi.l[0]), clampTo(x.l[1], lo.l[1], hi.l[1]),
                clampTo(x.l[2], lo.l[2], hi.l[2]), clampTo(x.l[3], lo.l[3], hi.l[3])};
    }
};
#endif

struct QuadValues {
    alignas(16) float lane[4];
    explicit QuadValues(Quad q) { q.store(lane); }
};

constexpr double kMaxSamplesPerBeat = 1 << 30;  // keeps the beat in an int at absurdly slow tempos

float warpTarget(float base, float mod) { return std::sqrt(clampTo(base + mod, 0.0f, 1.0f)) * 0.999f; }

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
    const Quad e = Quad::all(env), l1 = Quad::all(lfo1), l2 = Quad::all(lfo2);
    const Quad l1R = Quad::all(m.sign1 * lfo1), l2R = Quad::all(m.sign2 * lfo2);
    // Destinations 0..3 and 3..6: the middle one twice, with the same result.
    for (const int d : {0, kNumModDestinations - 4}) {
        const Quad envTerm = e * Quad::load(m.amount[0] + d);
        const Quad a1 = Quad::load(m.amount[1] + d), a2 = Quad::load(m.amount[2] + d);
        const Quad scale = Quad::load(kModScale + d);
        (scale * (envTerm + l1 * a1 + l2 * a2)).store(s.left + d);
        (scale * (envTerm + l1R * a1 + l2R * a2)).store(s.right + d);
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
    t.analysisWarp = warpTarget(b.aWarp, mod.left[kModAWarp]);  // the analysis side is mono
    t.analysisResonance = std::sqrt(b.aRes) * 0.999f + 0.001f;
    // The synthesis warps and resonances side by side: the root of the bounded sum
    // times 0.999, plus 0.001 for a resonance.
    const Quad zero = Quad::all(0.0f), one = Quad::all(1.0f);
    const Quad synthesis(b.sWarp + mod.left[kModSWarp], b.sWarp + mod.right[kModSWarp],
                         b.sRes + mod.left[kModSRes], b.sRes + mod.right[kModSRes]);
    const Quad scaled = sqrt(clamped(synthesis, zero, one)) * Quad::all(0.999f);
    const QuadValues s(lowOfHighOf(scaled, scaled + Quad::all(0.001f)));
    t.synthesisWarpL = s.lane[0], t.synthesisWarpR = s.lane[1];
    t.synthesisResonanceL = s.lane[2], t.synthesisResonanceR = s.lane[3];
    // The decimation amounts (the bounded sums) and the cutoffs (the sums times
    // 22000 Hz, bounded to 80 .. 22000 Hz) side by side.
    const Quad sum(b.decimation + mod.left[kModDec], b.decimation + mod.right[kModDec],
                   b.cutoff + mod.left[kModFbCutoff], b.cutoff + mod.right[kModFbCutoff]);
    const QuadValues dc(clamped(lowOfHighOf(sum, sum * Quad::all(22000.0f)), Quad(0.0f, 0.0f, 80.0f, 80.0f),
                                Quad(1.0f, 1.0f, 22000.0f, 22000.0f)));
    t.decimationL = dc.lane[0], t.decimationR = dc.lane[1], t.cutoffL = dc.lane[2], t.cutoffR = dc.lane[3];
    t.speedL = playbackSpeed(b.bufferRate, mod.left[kModBufRate], windowL);
    t.speedR = playbackSpeed(b.bufferRate, mod.right[kModBufRate], windowR);
    t.feedbackGainL = 1.0f + mod.left[kModGain];
    t.feedbackGainR = 1.0f + mod.right[kModGain];
    return t;
}

bool feedbackFilterSettings(float typeEng, float cutoffEng, float resonanceEng, int& type, BiquadParams& p) {
    const float c = clampTo(cutoffEng, 0.001f, 1.0f);
    // Resonance beyond 0..1 only comes from a damaged chunk; inside it the rule is unchanged.
    const float r = clampTo(resonanceEng, 0.0f, 1.0f);
    const bool known = typeEng >= 0.0f && typeEng < static_cast<float>(kNumBiquadTypes);
    type = known ? static_cast<int>(typeEng) : -1;
    feedbackFilterShape(type, r, p);
    p.frequency = 22000.0f * c * c * c;
    return known;
}

void feedbackFilterShape(int type, float resonance, BiquadParams& p) {
    p = BiquadParams{};
    const float r = resonance;
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
}

}  // namespace kovalith
