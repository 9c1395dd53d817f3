// Frequency-warped linear prediction: the block collector and the extractor that
// turns a block into reflection coefficients.
#pragma once

#include <cmath>
#include <limits>
#include <type_traits>

#include "dsp/ExtendedPrecision.h"
#include "dsp/UnitProcessorBase.h"

// The vector lags need scalar float arithmetic in SSE registers too, so that both
// round alike (x87 arithmetic would not).
#if defined(__SSE2__) && defined(__SSE2_MATH__)
#include <emmintrin.h>
#endif

namespace kovalith {

// Collects the mono analysis signal and reports each completed block. The block
// length may change while a block fills; a write position at or past the new
// length completes the block at once.
template <typename T, int Capacity = 44100>
class CUnitAnalysisBuffer : public CUnitProcessorBase<T> {
    static_assert(Capacity >= 2, "a block needs at least one sample");
    using Base = CUnitProcessorBase<T>;

public:
    static constexpr int kMaxLength = Capacity - 1;

    CUnitAnalysisBuffer() : store_(Capacity) {}

    // Stores x; returns 1 when this sample completes a block (the block then sits
    // at positions 0..length-1 in time order and the write position is 0), else 0.
    T process(T x) override {
        store_[position_] = x;
        ++position_;
        if (position_ >= length_) {
            position_ = 0;
            Base::lastOutput = T(1);
        } else {
            Base::lastOutput = T(0);
        }
        return Base::lastOutput;
    }

    // Restarts the block; the store's contents stay except its first sample.
    void reset() override {
        Base::reset();
        position_ = 0;
        store_[0] = T(0);
    }

    // The sample n positions before the write position, wrapping over the whole store.
    T* tap(int n) {
        long long index = (static_cast<long long>(position_) - n) % Capacity;
        if (index < 0) index += Capacity;
        return store_.data() + index;
    }

    // Start of the store: after a completed block, its first sample.
    const T* data() const { return store_.data(); }

    // Lengths outside 1..Capacity-1 select the longest block.
    void setLength(int n) { length_ = (n >= 1 && n <= kMaxLength) ? n : kMaxLength; }
    int getLength() const { return length_; }
    // The write position: the block completes after length - position more samples.
    int getPosition() const { return position_; }

private:
    int length_ = kMaxLength;
    int position_ = 0;
    CAlignedBuffer<T> store_;
};

// Warped LPC of one frame: raised-cosine window, warped (or plain) autocorrelation,
// white-noise correction and a regularised Levinson-Durbin recursion in extended
// precision. Every coefficient it writes lies strictly inside (-1, 1).
//
// The warped autocorrelation accumulates its zero lag onto what the previous
// extraction left in R[0] (1 + order * 0.0007 after an ordinary frame, 0 after
// reset or a silent frame), so a quiet frame after a loud one is normalised more
// gently; that memory is part of the sound.
template <typename T, int FrameCapacity = 2048, int OrderCapacity = 100>
class CWarpedLPCExtraction : public CUnitProcessorBase<T> {
    static_assert(FrameCapacity > OrderCapacity, "R shares the frame capacity");
    using Base = CUnitProcessorBase<T>;
    using Extended = long double;
    static constexpr Extended kFloatMax = std::numeric_limits<float>::max();
    // Lags computed per pass over the frame.
    static constexpr int kLagGroup = 4;

public:
    static constexpr int kMaxOrder = OrderCapacity;
    // An allpass warp of magnitude 1 or more diverges along the frame.
    static constexpr T kMaxWarp = T(0.9999);

    CWarpedLPCExtraction()
        : window_(FrameCapacity), windowed_(FrameCapacity), r_(FrameCapacity), work_(FrameCapacity) {
        setWindowLength(1024);
    }

    // While set, extract returns at once and leaves its output untouched.
    bool hold = false;

    // Analyses frame[0..N-1] (N the window length, which follows frameLength below
    // the frame capacity) and writes `order` coefficients to reflections. An order
    // outside 0..OrderCapacity is limited to that range.
    void extract(const T* frame, int frameLength, T* reflections, int order, T lambda) {
        if (hold) return;
        if (frameLength != length_) setWindowLength(frameLength);
        order_ = order < 0 ? 0 : (order > OrderCapacity ? OrderCapacity : order);
        lambda_ = std::isnan(lambda) ? T(0) : (lambda > kMaxWarp ? kMaxWarp : lambda);
        // The plain autocorrelation and the recursion rely on 64-bit long double.
        [[maybe_unused]] const CExtendedPrecisionScope extended{};

        if (!applyWindow(frame) || !autocorrelate()) {
            silence(reflections);
            return;
        }
        r_[0] += T(order_ * 0.0007);  // white-noise correction
        levinson();
        for (int i = 0; i < order_; ++i) reflections[i] = limitReflection(nk_[i]);
    }

    // An unstable coefficient (magnitude 1 or more) becomes a small one of the same
    // sign rather than one clamped next to 1.
    static T limitReflection(double nk) {
        if (std::abs(nk) < 1.0 && std::abs(T(nk)) < T(1)) return T(nk);
        return std::signbit(nk) ? T(-0.01) : T(0.01);
    }

    // Recomputes the window for n points below the frame capacity and returns the
    // window length; from the capacity on, nothing changes and the capacity is returned.
    int setWindowLength(int n) {
        if (n >= FrameCapacity) return FrameCapacity;
        length_ = n > 0 ? n : 0;
        if (length_ == 0) return 0;
        const double increment = 2.0 * double(Base::pi) / length_;
        double phase = 0.0;
        // Raised cosine that stays at 0.01 at its ends, so no sample is lost entirely.
        for (int i = 0; i < length_; ++i) {
            window_[i] = T(0.5 - 0.49 * std::cos(phase));
            phase += increment;
        }
        return length_;
    }

    int getWindowLength() const { return length_; }
    const T* window() const { return window_.data(); }
    // The autocorrelation as the last extraction left it (R[0] includes the correction).
    const T* autocorrelation() const { return r_.data(); }
    // The negated reflection coefficients of the last extraction, before the
    // replacement of unstable ones.
    const double* negatedReflections() const { return nk_; }

    // Lags 0..count-1 of the warped autocorrelation of x[0..length-1]: adds to
    // sums[j] the sum over n, in order and in single precision, of x[n] times x
    // through j allpass sections. work (length values) is scratch.
    static void warpedLagSums(const T* x, T* work, int length, T lambda, T* sums, int count) {
        const T* in = x;
        int done = 0;
#if defined(__SSE2__) && defined(__SSE2_MATH__)
        if constexpr (std::is_same_v<T, float>) {
            // Sixteen lags per pass while more than eight are left, then eight or
            // four; lanes beyond count compute lags nobody asked for.
            for (; done < count; in = work) {
                const int left = count - done;
                const auto pass = left > 8 ? wavefrontLags<4> : left > 4 ? wavefrontLags<2> : wavefrontLags<1>;
                pass(x, in, work, length, lambda, sums + done, left);
                done += left > 8 ? 16 : left > 4 ? 8 : 4;
            }
            return;
        }
#endif
        for (; done + kLagGroup <= count; done += kLagGroup, in = work)
            warpedLags<kLagGroup>(x, in, work, length, lambda, sums + done);
        for (; done < count; ++done, in = work) warpedLags<1>(x, in, work, length, lambda, sums + done);
    }

    // The unit does no per-sample work.
    T process(T) override { return T(0); }

    // Forgets R[0]'s memory, the allpass work buffer and the last result.
    void reset() override {
        Base::reset();
        r_[0] = T(0);
        for (int i = 0; i < FrameCapacity; ++i) work_[i] = T(0);
        for (int i = 0; i <= OrderCapacity; ++i) a_[i] = 0.0;
        for (int i = 0; i < OrderCapacity; ++i) nk_[i] = 0.0;
    }

private:
    // Windows the frame; false for a silent (or non-finite) frame.
    bool applyWindow(const T* frame) {
        T sum = T(0);
        for (int i = 0; i < length_; ++i) {
            windowed_[i] = window_[i] * frame[i];
            sum += std::abs(frame[i]);
        }
        return length_ > 0 && sum > T(0) && std::isfinite(sum);
    }

    // Fills R[0..M] normalised to R[0] = 1 (or all zero for a frame without energy);
    // false when the frame overflowed the arithmetic.
    bool autocorrelate() {
        if (lambda_ > T(0))
            warpedAutocorrelation();
        else
            plainAutocorrelation();
        for (int j = 0; j <= order_; ++j)
            if (!std::isfinite(r_[j])) return false;
        return true;
    }

    // R[j] correlates the frame with itself through j first-order allpass sections
    // D(z) = (-lambda + z^-1) / (1 - lambda z^-1), in single precision. R[0] adds
    // onto what it holds.
    void warpedAutocorrelation() {
        for (int j = 1; j <= order_; ++j) r_[j] = T(0);
        warpedLagSums(windowed_.data(), work_.data(), length_, lambda_, r_.data(), order_ + 1);
        const T r0 = r_[0];
        if (!(r0 > T(0))) {
            for (int j = 0; j <= order_; ++j) r_[j] = T(0);
            return;
        }
        for (int i = 1; i <= order_; ++i) r_[i] /= r0;
        r_[0] = T(1);
    }

    // One allpass section on v, its history in inPrev and outPrev.
    static T allpass(T v, T lambda, T& inPrev, T& outPrev) {
        const T out = inPrev - lambda * (v - outPrev);
        inPrev = v;
        outPrev = out;
        return out;
    }

    // G lags in one pass over the frame: `in` holds the frame through the first
    // lag's sections, `out` (which may be `in`) receives it through G more. Each lag
    // keeps its own sum and each section its own history, so every value is the
    // one a pass per lag would give; the G recursions merely overlap.
    template <int G>
    static void warpedLags(const T* x, const T* in, T* out, int length, T lambda, T* sums) {
        T acc[G], inPrev[G], outPrev[G];
        for (int g = 0; g < G; ++g) {
            acc[g] = sums[g];
            inPrev[g] = outPrev[g] = T(0);
        }
        for (int n = 0; n < length; ++n) {
            const T xn = x[n];
            T v = in[n];
#pragma GCC unroll 8
            for (int g = 0; g < G; ++g) {
                acc[g] += xn * v;
                v = allpass(v, lambda, inPrev[g], outPrev[g]);
            }
            out[n] = v;
        }
        for (int g = 0; g < G; ++g) sums[g] = acc[g];
    }

#if defined(__SSE2__) && defined(__SSE2_MATH__)
    // 4 * Vectors lags per pass as a skewed wavefront, one SSE2 lane each. At step
    // s, lane k works at sample s + k on the group's lag L - 1 - k: its input is lane
    // k + 1's output of the step before (the last lane reads `in`), and lane 0's
    // output is the frame through all L sections. So a sample's sections no longer
    // wait for each other, and every lane does the scalar arithmetic of its lag in
    // the scalar order. The steps where some lane lies outside the frame run lane
    // by lane. Adds to the first `count` (at most L) of the sums.
    template <int Vectors>
    static void wavefrontLags(const float* x, const float* in, float* out, int length, float lambda, float* sums,
                              int count) {
        constexpr int L = 4 * Vectors;
        alignas(16) float acc[L], inPrev[L] = {}, outPrev[L] = {};
        for (int k = 0; k < L; ++k) acc[k] = L - 1 - k < count ? sums[L - 1 - k] : 0.0f;
        const int firstFull = length < L - 1 ? length - (L - 1) : 0, endFull = length - (L - 1);
        for (int s = 1 - L; s < firstFull; ++s)
            wavefrontEdgeStep<L>(x, in, out, length, lambda, s, acc, inPrev, outPrev);

        __m128 sum[Vectors], prevIn[Vectors], prevOut[Vectors];
        for (int i = 0; i < Vectors; ++i) {
            sum[i] = _mm_load_ps(acc + 4 * i);
            prevIn[i] = _mm_load_ps(inPrev + 4 * i);
            prevOut[i] = _mm_load_ps(outPrev + 4 * i);
        }
        const __m128 lambdas = _mm_set1_ps(lambda);
        for (int s = firstFull; s < endFull; ++s) {
            // Vector i's input takes lane 0 of vector i + 1 before that one moves on.
#pragma GCC unroll 4
            for (int i = 0; i < Vectors; ++i) {
                const __m128 next = i + 1 < Vectors ? prevOut[i + 1] : _mm_load_ss(in + s + L - 1);
                const __m128 v = shiftedIn(prevOut[i], next);
                sum[i] = _mm_add_ps(sum[i], _mm_mul_ps(_mm_loadu_ps(x + s + 4 * i), v));
                prevOut[i] = _mm_sub_ps(prevIn[i], _mm_mul_ps(lambdas, _mm_sub_ps(v, prevOut[i])));
                prevIn[i] = v;
            }
            _mm_store_ss(out + s, prevOut[0]);
        }
        for (int i = 0; i < Vectors; ++i) {
            _mm_store_ps(acc + 4 * i, sum[i]);
            _mm_store_ps(inPrev + 4 * i, prevIn[i]);
            _mm_store_ps(outPrev + 4 * i, prevOut[i]);
        }

        for (int s = endFull; s < length; ++s)
            wavefrontEdgeStep<L>(x, in, out, length, lambda, s, acc, inPrev, outPrev);
        for (int j = 0; j < count && j < L; ++j) sums[j] = acc[L - 1 - j];
    }

    // [a1, a2, a3, b0]: lanes 1..3 of a moved down one, lane 0 of b on top.
    static __m128 shiftedIn(__m128 a, __m128 b) {
        const __m128 top = _mm_shuffle_ps(a, b, _MM_SHUFFLE(0, 0, 3, 3));  // [a3, a3, b0, b0]
        return _mm_shuffle_ps(a, top, _MM_SHUFFLE(2, 0, 2, 1));
    }

    // A wavefront step lane by lane; lanes outside the frame keep their sums and
    // histories. Lane k reads lane k + 1's output before that lane moves on.
    template <int L>
    static void wavefrontEdgeStep(const float* x, const float* in, float* out, int length, float lambda, int s,
                                  float* acc, float* inPrev, float* outPrev) {
        for (int k = 0; k < L; ++k) {
            const int n = s + k;
            if (n < 0 || n >= length) continue;
            const float v = k == L - 1 ? in[n] : outPrev[k + 1];
            acc[k] += x[n] * v;
            const float section = allpass(v, lambda, inPrev[k], outPrev[k]);
            if (k == 0) out[n] = section;
        }
    }
#endif

    // Ordinary autocorrelation with extended-precision sums, several lags per pass
    // (each lag's sum still runs over n in order).
    void plainAutocorrelation() {
        const T* x = windowed_.data();
        Extended energy = 0;
        for (int n = 0; n < length_; ++n) energy += Extended(x[n]) * x[n];
        if (!(energy > 0)) {
            for (int j = 0; j <= order_; ++j) r_[j] = T(0);
            return;
        }
        r_[0] = T(1);
        int j = 1;
        for (; j + kLagGroup - 1 <= order_; j += kLagGroup) plainLags<kLagGroup>(j, energy);
        for (; j <= order_; ++j) plainLags<1>(j, energy);
    }

    template <int G>
    void plainLags(int j, Extended energy) {
        const T* __restrict x = windowed_.data();
        Extended acc[G] = {};
        // Up to the shortest range, lag j + G - 1's, all lags together; then the
        // longer lags' remaining terms.
        const int common = length_ - (j + G - 1);
        int n = 0;
        for (; n < common; ++n) {
            const Extended xn = x[n];
#pragma GCC unroll 8
            for (int g = 0; g < G; ++g) acc[g] += xn * x[n + j + g];
        }
        for (int g = 0; g < G; ++g)
            for (int m = n; m + j + g < length_; ++m) acc[g] += Extended(x[m]) * x[m + j + g];
        for (int g = 0; g < G; ++g) r_[j + g] = T(acc[g] / energy);
    }

    // Levinson-Durbin in extended precision. The error gets a bias of 0.003 R[0] so
    // that k stays small when the error collapses; A keeps single-precision values.
    void levinson() {
        const int m = order_;
        const T* r = r_.data();
        if (r[0] == T(0)) {
            for (int i = 1; i <= m; ++i) a_[i] = 0.0;
            for (int i = 0; i < m; ++i) nk_[i] = 0.0;
            return;
        }
        a_[0] = 1.0;
        for (int i = 0; i <= m; ++i) prev_[i] = a_[i];
        Extended error = r[0];
        const Extended bias = 0.003 * Extended(r[0]);
        for (int i = 0; i < m; ++i) {
            Extended predicted = 0;
            for (int j = 1; j <= i; ++j) predicted += prev_[j] * Extended(r[i + 1 - j]);
            Extended k = (Extended(r[i + 1]) - predicted) / (error + bias);
            // A collapsed (non-positive) error can make k unbounded; such a stage
            // predicts nothing rather than letting inf and NaN through the rest.
            if (!(std::abs(k) <= kFloatMax)) k = 0;
            a_[i + 1] = double(float(k));
            nk_[i] = -double(float(k));
            for (int j = 1; j <= i; ++j) {
                const Extended v = prev_[j] - k * prev_[i + 1 - j];
                a_[j] = std::abs(v) <= kFloatMax ? double(float(v)) : 0.0;
            }
            error *= 1 - k * k;
            for (int j = 0; j <= m; ++j) prev_[j] = a_[j];
        }
    }

    void silence(T* reflections) {
        reset();
        for (int i = 0; i < order_; ++i) reflections[i] = T(nk_[i]);
    }

    int length_ = 0;
    int order_ = 50;
    T lambda_ = T(0);
    CAlignedBuffer<T> window_;
    CAlignedBuffer<T> windowed_;
    CAlignedBuffer<T> r_;
    CAlignedBuffer<T> work_;
    double a_[OrderCapacity + 1] = {};
    double nk_[OrderCapacity] = {};
    Extended prev_[OrderCapacity + 1] = {};
};

}  // namespace kovalith
