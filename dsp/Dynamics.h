// Dynamics and lo-fi units: the peak envelope follower, the feed-forward
// compressor built on it, the DC blocker and the sample-and-hold decimator.
#pragma once

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <type_traits>

#include "dsp/PairRun.h"
#include "dsp/UnitProcessorBase.h"

namespace kovalith {

namespace dynamics_detail {

// A one-pole smoothing coefficient base^exponent, kept inside [0, 1] so that no
// setting can make the envelope recursion grow; NaN gives 0 (instant follow).
inline float smoothingCoefficient(double base, double exponent) {
    const double k = std::pow(base, exponent);
    if (!(k > 0.0)) return 0.0f;
    return k < 1.0 ? static_cast<float>(k) : 1.0f;
}

// Times arrive from parameters; a NaN is taken as 0 so it never reaches a formula.
inline float sanitiseTime(float seconds) { return seconds == seconds ? seconds : 0.0f; }

}  // namespace dynamics_detail

// Peak follower with separate attack and release: the envelope moves towards the
// rectified input by the attack coefficient when rising and by the release
// coefficient when falling. Coefficient 0 follows the input at once.
template <typename T>
class CEnvelopeFollower : public CUnitProcessorBase<T> {
public:
    T process(T x) override {
        // Both offsets keep the envelope off the denormal range in silence.
        const T c = std::fabs(x) + tinyOffset_ + this->antiDenormal;
        track(c);
        this->antiDenormal = -this->antiDenormal;
        return this->lastOutput;
    }

    // One step of the follower law towards b, without the offsets; the compressor
    // drives its detector with it.
    T track(T b) {
        const T k = this->lastOutput < b ? attackCoefficient_ : releaseCoefficient_;
        this->lastOutput = b + (this->lastOutput - b) * k;
        return this->lastOutput;
    }

    void reset() override { this->lastOutput = resetValue_; }

    // The attack reaches 1 - level of a step after `seconds`:
    // coefficient ((1 - level)^2)^(1 / (seconds * sampleRate)).
    void setAttack(T level, T seconds) {
        level_ = level;
        attackTime_ = dynamics_detail::sanitiseTime(seconds);
        const double n = static_cast<double>(attackTime_) * static_cast<double>(this->sampleRate);
        const double base = (1.0 - static_cast<double>(level)) * (1.0 - static_cast<double>(level));
        attackCoefficient_ = n > 0.0 ? dynamics_detail::smoothingCoefficient(base, 1.0 / n) : T(0);
    }

    void setAttackTime(T seconds) { setAttack(T(0.5), seconds); }

    // Release coefficient (level^2)^(2 / (seconds * sampleRate)).
    void setRelease(T level, T seconds) {
        level_ = level;
        releaseTime_ = dynamics_detail::sanitiseTime(seconds);
        const double n = static_cast<double>(releaseTime_) * static_cast<double>(this->sampleRate);
        const double base = static_cast<double>(level) * static_cast<double>(level);
        releaseCoefficient_ = releaseTime_ > T(0) ? dynamics_detail::smoothingCoefficient(base, 2.0 / n) : T(0);
    }

    void setReleaseTime(T seconds) { setRelease(T(0.5), seconds); }

    // The lowest level the compressor's detector sees, and the envelope after reset.
    void setFloor(T floor) {
        floor_ = floor;
        resetValue_ = floor;
    }

    T getEnvelope() const { return this->lastOutput; }
    T getFloor() const { return floor_; }
    T getAttackCoefficient() const { return attackCoefficient_; }
    T getReleaseCoefficient() const { return releaseCoefficient_; }
    T getAttackTime() const { return attackTime_; }
    T getReleaseTime() const { return releaseTime_; }

private:
    T tinyOffset_ = T(2e-13f);
    T level_ = T(0);
    T floor_ = T(0);
    T attackTime_ = T(0);
    T releaseTime_ = T(0);
    T resetValue_ = T(0);
    T attackCoefficient_ = T(1);
    T releaseCoefficient_ = T(1);
};

// Feed-forward compressor working in dB on a power (squared amplitude): the
// follower detects the level, the overshoot above the threshold is reduced to the
// slope factor r (1/ratio), and the gain reduction is smoothed by 0.7 per call.
template <typename T>
class CUnitCompressor : public CUnitProcessorBase<T> {
public:
    // Gain reduction below this is a boost of 10^30 at most: only a slope factor
    // above 1 (an expander setting such as the "off" level's 1e10) gets near it, and
    // the bound keeps the gain finite there.
    static constexpr float kMinGainReductionDb = -600.0f;
    // Thresholds beyond this would overflow the detector's floor and coefficients.
    static constexpr float kThresholdLimitDb = 240.0f;

    // Processes one sample through its own gain: y = x * gain(x^2).
    T process(T x) override {
        const T y = x * computeGain(x * x);
        this->lastOutput = y;
        return y;
    }

    // Applies one gain per sub-block of blockLength samples, computed from the
    // sub-block's peak power and never above 1/headroom. Returns `blocks`.
    virtual int processBlock(T* buffer, int blocks, int blockLength, T headroom) {
        if (!buffer || blockLength <= 0) return blocks;
        for (int b = 0; b < blocks; ++b) {
            T* block = buffer + static_cast<long>(b) * blockLength;
            T peak = T(0);
            for (int i = 0; i < blockLength; ++i) peak = std::max(peak, block[i] * block[i]);
            T g = computeGain(peak);
            if (g * headroom > T(1)) g = T(1) / headroom;
            for (int i = 0; i < blockLength; ++i) block[i] *= g;
        }
        return blocks;
    }

    void setSampleRate(T rate) override {
        this->sampleRate = rate;
        follower_.setSampleRate(rate);
    }

    void reset() override {
        gainReduction_ = T(0);
        follower_.reset();
        follower_.setSampleRate(this->sampleRate);
    }

    // The gain for a power, with the threshold and make-up as set. Leaves it in lastOutput.
    T computeGain(T power) { return gainFor(power, threshold_, makeup_); }

    // The engine's form: the working threshold and make-up first glide 1 % towards
    // the settings, so level changes don't step the gain.
    T computeGainSmoothed(T power) {
        workingThreshold_ = T(0.99f) * workingThreshold_ + T(0.01f) * threshold_;
        workingMakeup_ = T(0.99f) * workingMakeup_ + T(0.01f) * makeup_;
        return gainFor(power, workingThreshold_, workingMakeup_);
    }

    // Sets the threshold; it is lowered by up to 3.01 dB for short times, since a
    // fast peak detector reads a sine about 3 dB above its mean power. Both
    // follower coefficients and the detector floor follow. A non-finite value is
    // refused; the threshold is bounded to +-240 dB.
    void setThreshold(T dB) {
        if (!std::isfinite(dB)) return;
        previousThreshold_ = threshold_;
        const T fullCorrection = T(20) * std::log10(std::sqrt(T(2)));
        T b = fullCorrection;
        if (!(releaseTime_ > T(0.05) && attackTime_ > T(0.05))) {
            // fmax drops the NaN of 0 * inf and keeps the root's argument non-negative.
            const T v = std::sqrt(std::fmax(attackTime_ * releaseTime_, T(0)));
            const T m = std::min(v, T(0.05));
            b = std::sqrt(m / T(0.05)) * fullCorrection;
        }
        threshold_ = std::clamp(dB - b, -T(kThresholdLimitDb), T(kThresholdLimitDb));
        setReleaseTime(releaseTime_);
        follower_.setAttack(thresholdAmplitude(), attackTime_);
        follower_.setFloor(std::pow(T(10), (threshold_ - T(0.2)) * T(0.1)));
    }

    void setAttackTime(T seconds) {
        attackTime_ = dynamics_detail::sanitiseTime(seconds);
        follower_.setAttack(thresholdAmplitude(), attackTime_);
    }

    void setReleaseTime(T seconds) {
        releaseTime_ = dynamics_detail::sanitiseTime(seconds);
        follower_.setRelease(thresholdAmplitude(), releaseTime_);
    }

    // Stores the ratio and its slope factor r = 1/(ratio + 1e-10); a ratio whose
    // slope would not be finite is refused.
    void setRatio(T ratio) {
        const T slope = T(1) / (ratio + T(1e-10));
        if (!std::isfinite(slope)) return;
        ratio_ = ratio;
        slope_ = slope;
    }

    void setMakeup(T factor) {
        if (std::isfinite(factor)) makeup_ = factor;
    }

    T getThreshold() const { return threshold_; }
    T getPreviousThreshold() const { return previousThreshold_; }
    T getGainReduction() const { return gainReduction_; }
    T getRatio() const { return ratio_; }
    T getSlope() const { return slope_; }
    const CEnvelopeFollower<T>& follower() const { return follower_; }

private:
    T thresholdAmplitude() const { return std::pow(T(10), threshold_ * T(0.05)); }

    T gainFor(T power, T threshold, T makeup) {
        // The floor keeps the logarithm's argument positive; the bounds also keep a
        // NaN or infinite power out of the detector's state. Written as compares
        // (a NaN fails them and takes the bound), which give exactly what fmax and
        // fmin give for these positive bounds, without a library call per sample.
        const T floored = std::fabs(power) > follower_.getFloor() ? std::fabs(power) : follower_.getFloor();
        const T b = floored < T(FLT_MAX) ? floored : T(FLT_MAX);
        const T env = follower_.track(b);
        const T level = T(10) * log10Remembered(env + T(1e-14f));  // 9.9999998e-15
        const T smoothing = T(0.7f);  // 0.699999988
        if (level > threshold) {
            const T over = level - threshold;
            const T target = std::min((T(1) - slope_) * over, over);
            gainReduction_ = target + (gainReduction_ - target) * smoothing + this->antiDenormal;
            if (!(gainReduction_ > T(kMinGainReductionDb))) gainReduction_ = T(kMinGainReductionDb);
        } else {
            gainReduction_ = gainReduction_ * smoothing + this->antiDenormal;
        }
        this->antiDenormal = -this->antiDenormal;
        const T ln10 = T(2.302585092994046);
        const T gain = makeup * expRemembered(-gainReduction_ * T(0.05) * ln10);
        this->lastOutput = gain;
        return gain;
    }

    // While the detector rests on its floor the logarithm's argument repeats from
    // sample to sample, and the gain reduction settles into a cycle of two values
    // (the anti-denormal offset flips its sign every sample). The library calls
    // are then skipped for an argument seen last (two last for the exponential);
    // the results are the calls' own, as the functions are pure.
    T log10Remembered(T x) {
        if (!(x == logArgument_)) {
            logArgument_ = x;
            logValue_ = std::log10(x);
        }
        return logValue_;
    }

    T expRemembered(T x) {
        if (x == expArgument_[0]) return expValue_[0];
        if (x == expArgument_[1]) return expValue_[1];
        expArgument_[1] = expArgument_[0];
        expValue_[1] = expValue_[0];
        expArgument_[0] = x;
        expValue_[0] = std::exp(x);
        return expValue_[0];
    }

    CEnvelopeFollower<T> follower_;
    // NaN arguments match nothing, so the first calls compute.
    T logArgument_ = std::numeric_limits<T>::quiet_NaN();
    T logValue_ = T(0);
    T expArgument_[2] = {std::numeric_limits<T>::quiet_NaN(), std::numeric_limits<T>::quiet_NaN()};
    T expValue_[2] = {T(0), T(0)};
    T gainReduction_ = T(0);
    T threshold_ = T(-12);
    T makeup_ = T(1);
    T ratio_ = T(1);
    T slope_ = T(1);
    T previousThreshold_ = T(-12);
    T workingThreshold_ = T(-12);
    T workingMakeup_ = T(1);
    T attackTime_ = T(0);
    T releaseTime_ = T(0);
};

// First-order DC blocker (1 - 0.999 z^-1) / (1 - 0.998 z^-1): the gain at DC is
// 0.5, not 0, and close to 1 above a few hertz.
template <typename T>
class CUnitDCKiller : public CUnitProcessorBase<T> {
public:
    T process(T x) override {
        const T wNew = pole_ * w_ + x + this->antiDenormal;
        const T y = wNew - zero_ * w_;
        w_ = wNew;
        this->antiDenormal = -this->antiDenormal;
        this->lastOutput = y;
        return y;
    }

    void reset() override {
        this->lastOutput = T(0);
        w_ = T(0);
    }

    // process() on two blockers (the two channels) over up to `count` samples,
    // alternating as single calls would: each ends as those calls would leave it,
    // with the same outputs. Stops after the first sample whose output in either
    // channel is not finite, so that the caller can recover there, and returns
    // the number of samples taken.
    static int processRunPair(CUnitDCKiller& left, const T* xL, T* yL, CUnitDCKiller& right, const T* xR, T* yR,
                              int count) {
#if defined(__SSE2__)
        if constexpr (std::is_same<T, float>::value)
            if (&left != &right && count > 0 && runLanes(left, xL, yL, right, xR, yR, count)) return count;
#endif
        return alternateUntilNotFinite(left, xL, yL, right, xR, yR, count,
                                       [](CUnitDCKiller& dc, T x) { return dc.process(x); });
    }

private:
#if defined(__SSE2__)
    // The single-precision processRunPair over the whole run: lanes 0 and 1 hold
    // the left and right blocker, each lane's arithmetic that of process(). An
    // output that is not finite is rare: the run then returns false and leaves
    // both blockers untouched, for single calls to redo it.
    static bool runLanes(CUnitDCKiller& left, const float* xL, float* yL, CUnitDCKiller& right, const float* xR,
                         float* yR, int count) {
        using namespace float_lanes;
        const __m128 pole = pairOf(left.pole_, right.pole_), zero = pairOf(left.zero_, right.zero_);
        const __m128 sign = signBits();
        __m128 w = pairOf(left.w_, right.w_);
        __m128 offset = pairOf(left.antiDenormal, right.antiDenormal);
        // y - y summed over the run: NaN in a lane once its output was not finite.
        __m128 checked = _mm_setzero_ps();
        for (int n = 0; n < count; ++n) {
            const __m128 wNew = _mm_add_ps(_mm_add_ps(_mm_mul_ps(pole, w), pairOf(xL[n], xR[n])), offset);
            const __m128 y = _mm_sub_ps(wNew, _mm_mul_ps(zero, w));
            w = wNew;
            offset = _mm_xor_ps(offset, sign);
            storePair(y, yL + n, yR + n);
            checked = _mm_add_ps(checked, _mm_sub_ps(y, y));
        }
        if (pairNotFinite(checked)) return false;
        storePair(w, &left.w_, &right.w_);
        storePair(offset, &left.antiDenormal, &right.antiDenormal);
        left.lastOutput = yL[count - 1], right.lastOutput = yR[count - 1];
        return true;
    }
#endif

    T zero_ = T(0.999f);
    T pole_ = T(0.998f);
    T w_ = T(0);
};

// Sample-and-hold decimator with a fractional rate: a new input sample is taken
// whenever the phase passes 1; in between the held value decays by 0.98 per call.
template <typename T>
class CUnitLoFiDecimate : public CUnitProcessorBase<T> {
public:
    // Takes one sample every f calls; f <= 1 (or NaN) means step 1, which takes
    // every second sample. An infinite f holds for ever.
    virtual void setFactor(T f) { step_ = f > T(1) ? T(1) / f : T(1); }

    T process(T x) override {
        T y;
        processRun(&x, &y, 1);
        return y;
    }

    // `count` calls of process() with the phase and the held value kept in
    // registers from sample to sample. y may be x (in place).
    void processRun(const T* x, T* y, int count) {
        T phase = phase_, held = this->lastOutput;
        for (int n = 0; n < count; ++n) {
            phase = phase + step_;
            if (phase > T(1)) {
                phase = phase - wholePart(phase);
                held = x[n];
            } else {
                // The float 0.98; the product of two floats rounds the same way as in double.
                held = held * T(0.98f);
            }
            y[n] = held;
        }
        phase_ = phase;
        this->lastOutput = held;
    }

    void reset() override {
        this->lastOutput = T(0);
        phase_ = T(0);
    }

    T getStep() const { return step_; }

private:
    // floor(x) for the phases seen here (x > 1), by truncation where that is
    // exact (below 2^23 every float converts to int exactly), rather than a
    // library call per taken sample.
    static T wholePart(T x) {
        if (!(x < T(8388608))) return std::floor(x);
        return static_cast<T>(static_cast<int>(x));
    }

    T phase_ = T(0);
    T step_ = T(1);
};

}  // namespace kovalith
