// Second-order IIR filter with the cookbook coefficient recipes, Direct Form I.
#pragma once

#include <cmath>
#include <limits>
#include <type_traits>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "dsp/PairRun.h"
#include "dsp/UnitProcessorBase.h"

namespace kovalith {

enum BiquadType {
    kBiquadLowpass = 0,
    kBiquadHighpass = 1,
    kBiquadBandpass = 2,
    kBiquadBandstop = 3,
    kBiquadAllpass = 4,
    kBiquadLowShelf = 5,
    kBiquadHighShelf = 6,
    kBiquadPeaking = 7,
    kBiquadSlopeAllpass = 8,  // second-order allpass set by `slope`; not offered to the user
    kNumBiquadTypes = 9
};

// The settings record of CUnitBiquad::setFilter.
struct BiquadParams {
    float frequency = 0.0f;  // centre or corner frequency in Hz
    float q = 1.0f;          // Q, or the bandwidth in octaves when useBandwidth is set
    float gain = 1.0f;       // linear amplitude A of the shelves and the peaking type
    float slope = 1.0f;      // S of the slope-driven allpass
    bool useBandwidth = false;
    bool bandpassPeakUnity = true;  // 0 dB peak; otherwise the peak gain equals q
};

// The five coefficients divided by a0 (feedback ones not negated).
template <typename T>
struct BiquadNormalised {
    T b0, b1, b2, a1, a2;
};

// Coefficients and states live in single precision in both instantiations, so the
// editor's double filter draws exactly what the audio filter plays. setFilter takes
// effect at the next sample and leaves the states alone; nothing is smoothed here
// (processSmoothed is the engine's gliding variant). One owner serialises all calls.
template <typename T>
class CUnitBiquad : public CUnitProcessorBase<T> {
    using Base = CUnitProcessorBase<T>;

public:
    CUnitBiquad() : block_(kBlockSize) {}

    // Computes the coefficients of `type` for `params` at the stored sample rate.
    // The type and record are stored first, whatever the outcome. Returns false and
    // keeps the previous coefficients for a type outside 0..8 and for settings that
    // would leave the filter undefined or unstable: a frequency whose w0 has no
    // positive sine (0 Hz, the Nyquist frequency and beyond), a Q that is not
    // positive, a shelf or peaking gain that is not positive, or any coefficient
    // that is not a finite single-precision number. One NaN in the recursion would
    // stay there for good.
    bool setFilter(int type, const BiquadParams& params) {
        type_ = type;
        params_ = params;
        designed_ = true;
        designRate_ = Base::sampleRate;
        designOk_ = apply(type, params);
        return designOk_;
    }

    // Stores a new frequency in the kept record and recomputes with the kept type.
    // The same frequency at the same rate designs the same coefficients, so the
    // design is skipped then (the engine sets the cutoff at every control step).
    bool setFrequency(float hz) {
        if (hz == params_.frequency && Base::sampleRate == designRate_ && designed_) return designOk_;
        BiquadParams p = params_;
        p.frequency = hz;
        return setFilter(type_, p);
    }

    // setFrequency for a filter that shares its type and record with `other`
    // (the other channel): when other's last design had exactly the settings this
    // one would design with, its coefficients are taken rather than computed again.
    bool setFrequencyAs(float hz, const CUnitBiquad& other) {
        if (hz == params_.frequency && Base::sampleRate == designRate_ && designed_) return designOk_;
        BiquadParams p = params_;
        p.frequency = hz;
        if (!other.designed_ || other.type_ != type_ || !sameParams(other.params_, p) ||
            other.designRate_ != Base::sampleRate)
            return setFilter(type_, p);
        params_ = p;
        designed_ = true;
        designRate_ = other.designRate_;
        designOk_ = other.designOk_;
        if (designOk_) {
            b0_ = other.b0_, b1_ = other.b1_, b2_ = other.b2_, a0_ = other.a0_, a1_ = other.a1_, a2_ = other.a2_;
            norm_ = other.norm_;
            copyPacked(block_.data() + kCoeffs, other.block_.data() + kCoeffs);
        }
        return designOk_;
    }

    // One sample through the filter with the current coefficients.
    T process(T x) override {
        const float* k = block_.data() + kCoeffs;
        return step(x, k[4], k[0], k[1], k[2], k[3]);
    }

    // The feedback path's form: each working coefficient first glides 1 % of the way
    // to the current coefficient, then one sample runs through the working set. The
    // working set starts at zero (the filter fades in) and survives reset.
    T processSmoothed(T x) {
        const float* k = block_.data() + kCoeffs;
        float* w = block_.data() + kWorking;
        glide(w, k);
        return step(x, w[4], w[0], w[1], w[2], w[3]);
    }

    // processSmoothed on two filters (the two channels) over up to `count` samples,
    // alternating as single calls would: each filter ends as those calls would leave
    // it, with the same outputs. Stops after the first sample whose output in either
    // channel is not finite, so that the caller can recover there, and returns the
    // number of samples taken.
    static int processSmoothedRunPair(CUnitBiquad& left, const T* xL, T* yL, CUnitBiquad& right, const T* xR, T* yR,
                                      int count) {
#if defined(__SSE2__)
        if constexpr (std::is_same<T, float>::value)
            if (&left != &right && count > 0 && smoothedRunLanes(left, xL, yL, right, xR, yR, count)) return count;
#endif
        return alternateUntilNotFinite(left, xL, yL, right, xR, yR, count,
                                       [](CUnitBiquad& f, T x) { return f.processSmoothed(x); });
    }

    // Clears the four states and the output; coefficients and working set stay.
    void reset() override {
        Base::reset();
        for (int i = 0; i < 4; ++i) block_[kStates + i] = 0.0f;
        Base::antiDenormal = std::abs(Base::antiDenormal);
    }

    // Copies the raw (unnormalised) denominator into a and numerator into b.
    virtual void getCoefficients(T a[3], T b[3]) const {
        a[0] = a0_, a[1] = a1_, a[2] = a2_;
        b[0] = b0_, b[1] = b1_, b[2] = b2_;
    }

    BiquadNormalised<T> normalised() const { return norm_; }
    int getType() const { return type_; }
    const BiquadParams& getParams() const { return params_; }

private:
    // Block layout: the coefficients in the order b1, b2, -a1, -a2, b0, the states
    // x[n-1], x[n-2], y[n-1], y[n-2], and the smoothed form's working coefficients.
    static constexpr int kCoeffs = 0;
    static constexpr int kStates = 8;
    static constexpr int kWorking = 12;
    static constexpr int kBlockSize = 24;

    // w[i] = 0.99 w[i] + 0.01 k[i] in T for the five coefficients. In single
    // precision the first four run as one SSE operation per step, lane by lane the
    // same arithmetic (both blocks are 16-byte aligned).
    static void glide(float* w, const float* k) {
#if defined(__SSE2__)
        if constexpr (std::is_same<T, float>::value) {
            const __m128 kept = _mm_mul_ps(_mm_set1_ps(0.99f), _mm_load_ps(w));
            const __m128 added = _mm_mul_ps(_mm_set1_ps(0.01f), _mm_load_ps(k));
            _mm_store_ps(w, _mm_add_ps(kept, added));
            w[4] = 0.99f * w[4] + 0.01f * k[4];
            return;
        }
#endif
        for (int i = 0; i < 5; ++i) w[i] = float(T(0.99) * T(w[i]) + T(0.01) * T(k[i]));
    }

#if defined(__SSE2__)
    // Both filters' blocks side by side in the lanes of SSE registers: a block's
    // four values i..i+3 of the left filter l and the right one r become
    // {l[i], r[i], l[i+1], r[i+1]} and {l[i+2], r[i+2], l[i+3], r[i+3]}.
    static void gatherLanes(const float* l, const float* r, __m128& low, __m128& high) {
        const __m128 vl = _mm_load_ps(l), vr = _mm_load_ps(r);
        low = _mm_unpacklo_ps(vl, vr);
        high = _mm_unpackhi_ps(vl, vr);
    }
    static void scatterLanes(__m128 low, __m128 high, float* l, float* r) {
        _mm_store_ps(l, _mm_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0)));
        _mm_store_ps(r, _mm_shuffle_ps(low, high, _MM_SHUFFLE(3, 1, 3, 1)));
    }
    // The single-precision processSmoothedRunPair over the whole run. Lanes 0 and 1
    // hold the left and right filter; each lane's arithmetic is processSmoothed's,
    // in its order. An output that is not finite is rare: the run then returns
    // false and leaves both filters untouched, for single calls to redo it.
    static bool smoothedRunLanes(CUnitBiquad& left, const float* xL, float* yL, CUnitBiquad& right, const float* xR,
                                 float* yR, int count) {
        using namespace float_lanes;
        float* bl = left.block_.data();
        float* br = right.block_.data();
        // Working and current coefficients {b1, b2} and {-a1, -a2}, then b0 in lanes 0 and 1.
        __m128 w12, wA, k12, kA;
        gatherLanes(bl + kWorking, br + kWorking, w12, wA);
        gatherLanes(bl + kCoeffs, br + kCoeffs, k12, kA);
        __m128 w0 = pairOf(bl[kWorking + 4], br[kWorking + 4]);
        const __m128 k0 = pairOf(bl[kCoeffs + 4], br[kCoeffs + 4]);
        // The glide's 1 % of the current coefficients is the same in every step.
        const __m128 keep = _mm_set1_ps(0.99f), part = _mm_set1_ps(0.01f);
        const __m128 add12 = _mm_mul_ps(part, k12), addA = _mm_mul_ps(part, kA), add0 = _mm_mul_ps(part, k0);
        // States {x[n-1], x[n-2]} and {y[n-1], y[n-2]}.
        __m128 sx, sy;
        gatherLanes(bl + kStates, br + kStates, sx, sy);
        __m128 offset = pairOf(left.antiDenormal, right.antiDenormal);
        const __m128 sign = signBits();
        // y - y summed over the run: NaN in a lane once its output was not finite.
        __m128 checked = _mm_setzero_ps();
        for (int n = 0; n < count; ++n) {
            w12 = _mm_add_ps(_mm_mul_ps(keep, w12), add12);
            wA = _mm_add_ps(_mm_mul_ps(keep, wA), addA);
            w0 = _mm_add_ps(_mm_mul_ps(keep, w0), add0);
            const __m128 xin = _mm_add_ps(pairOf(xL[n], xR[n]), offset);
            const __m128 feedForward = _mm_mul_ps(w12, sx);
            const __m128 feedBack = _mm_mul_ps(wA, sy);
            __m128 sum = _mm_add_ps(_mm_mul_ps(w0, xin), feedForward);
            sum = _mm_add_ps(sum, shuffled<_MM_SHUFFLE(3, 2, 3, 2)>(feedForward));
            sum = _mm_add_ps(sum, feedBack);
            const __m128 y = _mm_add_ps(sum, shuffled<_MM_SHUFFLE(3, 2, 3, 2)>(feedBack));
            sx = _mm_movelh_ps(xin, sx);
            sy = _mm_movelh_ps(y, sy);
            offset = _mm_xor_ps(offset, sign);
            storePair(y, yL + n, yR + n);
            checked = _mm_add_ps(checked, _mm_sub_ps(y, y));
        }
        if (pairNotFinite(checked)) return false;
        scatterLanes(w12, wA, bl + kWorking, br + kWorking);
        storePair(w0, bl + kWorking + 4, br + kWorking + 4);
        scatterLanes(sx, sy, bl + kStates, br + kStates);
        storePair(offset, &left.antiDenormal, &right.antiDenormal);
        left.lastOutput = yL[count - 1], right.lastOutput = yR[count - 1];
        return true;
    }
#endif

    T step(T x, float b0, float b1, float b2, float na1, float na2) {
        float* s = block_.data() + kStates;
        const T xin = x + Base::antiDenormal;
        const T y = T(b0) * xin + T(b1) * T(s[0]) + T(b2) * T(s[1]) + T(na1) * T(s[2]) +
                    T(na2) * T(s[3]);
        s[1] = s[0];
        s[0] = float(xin);
        s[3] = s[2];
        s[2] = float(y);
        Base::antiDenormal = -Base::antiDenormal;
        Base::lastOutput = y;
        return y;
    }

    // The five packed coefficients; in single precision the first four as one
    // 16-byte move (both blocks are aligned).
    static void copyPacked(float* to, const float* from) {
#if defined(__SSE2__)
        _mm_store_ps(to, _mm_load_ps(from));
        to[4] = from[4];
#else
        for (int i = 0; i < 5; ++i) to[i] = from[i];
#endif
    }

    static bool sameParams(const BiquadParams& a, const BiquadParams& b) {
        return a.frequency == b.frequency && a.q == b.q && a.gain == b.gain && a.slope == b.slope &&
               a.useBandwidth == b.useBandwidth && a.bandpassPeakUnity == b.bandpassPeakUnity;
    }

    // Designs and stores the coefficients; false keeps the previous ones.
    bool apply(int type, const BiquadParams& params) {
        T c[6];  // b0 b1 b2 a0 a1 a2
        if (!design(type, params, c)) return false;
#if defined(__SSE2__)
        if constexpr (std::is_same<T, float>::value) return storeNormalised(c);
#endif
        for (T v : c)
            if (!fitsFloat(v)) return false;
        const T n[5] = {c[0] / c[3], c[1] / c[3], c[2] / c[3], c[4] / c[3], c[5] / c[3]};
        for (T v : n)
            if (!fitsFloat(v)) return false;
        b0_ = c[0], b1_ = c[1], b2_ = c[2], a0_ = c[3], a1_ = c[4], a2_ = c[5];
        norm_ = {n[0], n[1], n[2], n[3], n[4]};
        const float packed[5] = {float(n[1]), float(n[2]), float(-n[3]), float(-n[4]), float(n[0])};
        for (int i = 0; i < 5; ++i) block_[kCoeffs + i] = packed[i];
        return true;
    }

#if defined(__SSE2__)
    // The tail of apply() in single precision: four of the five divisions by a0
    // as one SSE division, lane by lane the same quotients, and the checks on
    // whole vectors.
    bool storeNormalised(const float c[6]) {
        const __m128 low = _mm_loadu_ps(c), high = _mm_loadu_ps(c + 2);  // b0 b1 b2 a0, b2 a0 a1 a2
        const __m128 a0 = _mm_set1_ps(c[3]);
        const __m128 q = _mm_div_ps(_mm_shuffle_ps(low, high, _MM_SHUFFLE(3, 2, 2, 1)), a0);  // b1 b2 a1 a2 / a0
        const __m128 q0 = _mm_div_ss(low, a0);                                                  // b0 / a0
        const __m128 max = _mm_set1_ps(std::numeric_limits<float>::max());
        const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
        const auto fits = [&](__m128 v) { return _mm_cmple_ps(_mm_and_ps(v, magnitude), max); };
        const __m128 all = _mm_and_ps(_mm_and_ps(fits(low), fits(high)), _mm_and_ps(fits(q), fits(q0)));
        if (_mm_movemask_ps(all) != 0xF) return false;
        b0_ = c[0], b1_ = c[1], b2_ = c[2], a0_ = c[3], a1_ = c[4], a2_ = c[5];
        alignas(16) float n[4];
        _mm_store_ps(n, q);
        norm_ = {_mm_cvtss_f32(q0), n[0], n[1], n[2], n[3]};
        const __m128 negateFeedback = _mm_castsi128_ps(_mm_setr_epi32(0, 0, int(0x80000000u), int(0x80000000u)));
        _mm_store_ps(block_.data() + kCoeffs, _mm_xor_ps(q, negateFeedback));
        block_[kCoeffs + 4] = _mm_cvtss_f32(q0);
        return true;
    }
#endif

    // Finite and within single-precision range (NaN fails), so the rounding is defined.
    static bool fitsFloat(T v) { return std::abs(v) <= T(std::numeric_limits<float>::max()); }

    // The cookbook formulas; false for an unknown type or a setting outside the
    // domain where they give a stable filter (see setFilter).
    bool design(int type, const BiquadParams& p, T c[6]) const {
        if (type < 0 || type >= kNumBiquadTypes) return false;
        const T w0 = T(2) * Base::pi * T(p.frequency) / Base::sampleRate;
        const T sn = std::sin(w0), cs = std::cos(w0);
        const T A = T(p.gain), q = T(p.q);
        if (type != kBiquadSlopeAllpass && !(sn > T(0) && q > T(0))) return false;
        const bool gainTypes = type == kBiquadLowShelf || type == kBiquadHighShelf || type == kBiquadPeaking;
        if (gainTypes && !(A > T(0))) return false;
        const T alpha = p.useBandwidth ? sn * std::sinh(T(std::log(2.0) / 2.0) * q * w0 / sn)
                                       : sn / (T(2) * q);
        // Only the shelves take beta.
        const T beta = gainTypes ? sn * std::sqrt(std::abs(A)) / q : T(0);
        T& b0 = c[0];
        T& b1 = c[1];
        T& b2 = c[2];
        T& a0 = c[3];
        T& a1 = c[4];
        T& a2 = c[5];
        a0 = T(1) + alpha, a1 = T(-2) * cs, a2 = T(1) - alpha;
        switch (type) {
            case kBiquadLowpass:
                b0 = (T(1) - cs) / T(2), b1 = T(1) - cs, b2 = (T(1) - cs) / T(2);
                break;
            case kBiquadHighpass:
                b0 = (T(1) + cs) / T(2), b1 = -(T(1) + cs), b2 = (T(1) + cs) / T(2);
                break;
            case kBiquadBandpass: {
                const T peak = p.bandpassPeakUnity ? alpha : q * alpha;
                b0 = peak, b1 = T(0), b2 = -peak;
                break;
            }
            case kBiquadBandstop:
                b0 = T(1), b1 = T(-2) * cs, b2 = T(1);
                break;
            case kBiquadAllpass:
                b0 = T(1) - alpha, b1 = T(-2) * cs, b2 = T(1) + alpha;
                break;
            case kBiquadLowShelf:
                b0 = A * ((A + 1) - (A - 1) * cs + beta);
                b1 = T(2) * A * ((A - 1) - (A + 1) * cs);
                b2 = A * ((A + 1) - (A - 1) * cs - beta);
                a0 = (A + 1) + (A - 1) * cs + beta;
                a1 = T(-2) * ((A - 1) + (A + 1) * cs);
                a2 = (A + 1) + (A - 1) * cs - beta;
                break;
            case kBiquadHighShelf:
                b0 = A * ((A + 1) + (A - 1) * cs + beta);
                b1 = T(-2) * A * ((A - 1) + (A + 1) * cs);
                b2 = A * ((A + 1) + (A - 1) * cs - beta);
                a0 = (A + 1) - (A - 1) * cs + beta;
                a1 = T(2) * ((A - 1) - (A + 1) * cs);
                a2 = (A + 1) - (A - 1) * cs - beta;
                break;
            case kBiquadPeaking:
                b0 = T(1) + alpha * A, b1 = T(-2) * cs, b2 = T(1) - alpha * A;
                a0 = T(1) + alpha / A, a1 = T(-2) * cs, a2 = T(1) - alpha / A;
                break;
            case kBiquadSlopeAllpass: {
                const T S = T(p.slope);
                const T outer = (S - 1) * (S - 2) / ((S + 1) * (S + 2));
                const T inner = T(2) * (S - 2) / (S + 1);
                b0 = outer, b1 = inner, b2 = T(1);
                a0 = T(1), a1 = inner, a2 = outer;
                break;
            }
            default:
                return false;
        }
        // The gain-dependent types keep single-precision coefficients in both forms.
        if (gainTypes)
            for (int i = 0; i < 6; ++i) {
                if (!fitsFloat(c[i])) return false;
                c[i] = T(float(c[i]));
            }
        return true;
    }

    CAlignedBuffer<float> block_;
    T a0_ = 0, a1_ = 0, a2_ = 0, b0_ = 0, b1_ = 0, b2_ = 0;
    int type_ = kBiquadLowpass;
    BiquadParams params_;
    BiquadNormalised<T> norm_ = {0, 0, 0, 0, 0};
    // What the last setFilter designed with, and whether it took.
    T designRate_ = T(0);
    bool designed_ = false;
    bool designOk_ = false;
};

}  // namespace kovalith
