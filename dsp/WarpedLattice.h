// Frequency-warped lattice filters: every unit delay of an ordinary lattice is the
// first-order allpass D(z) = (-lambda + z^-1) / (1 - lambda z^-1).
//
// The owner hands in reflection coefficients as targets (P) once per analysis
// block; each update() glides the working coefficients (C) towards gain * P and
// moves the warp and the gain 5 % towards the owner's targets. process() runs
// once per sample with the working set. All filter arithmetic is double.
#pragma once

#include <cmath>

#include "dsp/UnitProcessorBase.h"

namespace kovalith {

template <typename T, int Stages = 100>
class CUnitWarpedLatticeBase : public CUnitProcessorBase<T> {
    static_assert(Stages >= 1, "a lattice needs a stage");
    using Base = CUnitProcessorBase<T>;

public:
    static constexpr int kMaxStages = Stages;
    // |lambda| >= 1 makes the allpass sections unstable; the owner stays well inside.
    static constexpr double kMaxWarp = 0.9999;

    explicit CUnitWarpedLatticeBase(float sign = 1.0f) : sign_(sign) { clearArrays(); }

    // Clears signal state and coefficients (P, C and the states); warp, gain,
    // smoothing and order stay.
    void reset() override {
        Base::reset();
        Base::antiDenormal = std::abs(Base::antiDenormal);
        stateToggle_ = true;
        clearArrays();
    }

    // Sets the working coefficients at once (no glide), then the targets as
    // setCoefficients does. Non-finite values are skipped.
    virtual void setCoefficientsNow(const T* values, int count) {
        count = limitCount(count);
        for (int i = 0; i < count; ++i)
            if (std::isfinite(values[i])) c_[i] = double(sign_ * values[i]);
        setCoefficients(values, count);
    }

    // New targets; a value of magnitude 1 or more (or NaN) leaves the old target at
    // its index. The order becomes count (limited to 0..Stages).
    virtual void setCoefficients(const T* values, int count) {
        count = limitCount(count);
        for (int i = 0; i < count; ++i)
            if (std::abs(values[i]) < T(1)) p_[i] = double(sign_ * values[i]);
        order_ = count;
    }

    // As setCoefficients, with the list read cyclically from offset
    // trunc(count * rotate), rotate limited to [0, 1] (1 means no rotation). The
    // magnitude test is made on values[i]; the value taken must pass it as well.
    virtual void setCoefficientsRotated(const T* values, int count, T rotate) {
        count = limitCount(count);
        order_ = count;
        if (count == 0) return;
        const T r = rotate > T(0) ? (rotate < T(1) ? rotate : T(1)) : T(0);
        const int offset = int(T(count) * r);
        for (int i = 0; i < count; ++i) {
            const T taken = values[(i + offset) % count];
            if (std::abs(values[i]) < T(1) && std::abs(taken) < T(1)) p_[i] = double(sign_ * taken);
        }
    }

    // One gliding step with the present warp and gain.
    virtual void update() = 0;

    // Moves the warp and the gain 5 % towards their targets, then glides. A
    // non-finite target leaves its value where it is; the warp is kept inside
    // (-1, 1) and the gain inside [-1, 1], where the coefficients stay below 1.
    void update(double targetWarp, double targetGain) {
        if (std::isfinite(targetWarp)) {
            const double w = std::fmax(-kMaxWarp, std::fmin(kMaxWarp, targetWarp));
            lambda_ = w + (lambda_ - w) * kGlide;
        }
        if (std::isfinite(targetGain)) {
            const double g = std::fmax(-1.0, std::fmin(1.0, targetGain));
            gain_ = g + (gain_ - g) * kGlide;
        }
        update();
    }

    // The glide factor per update: the part of the old coefficient kept, so that
    // the coefficients cover half the way in `seconds` of updates at the unit's
    // sample rate. 0 (or a non-positive time) makes them jump to their targets; a
    // non-finite time changes nothing.
    void setSmoothingTime(T seconds) {
        if (!std::isfinite(seconds)) return;
        const T updates = seconds * Base::sampleRate;
        smoothing_ = updates > T(0) ? double(float(std::pow(0.5, 1.0 / double(updates)))) : 0.0;
    }

    double warp() const { return lambda_; }
    double gain() const { return gain_; }
    double smoothing() const { return smoothing_; }
    int order() const { return order_; }
    double target(int i) const { return p_[i]; }
    double coefficient(int i) const { return c_[i]; }

protected:
    // 0.95 as the single-precision value the glide has always used.
    static constexpr double kGlide = double(0.95f);

    void glide() {
        const double keep = smoothing_, take = (1.0 - smoothing_) * gain_;
        for (int i = 0; i < order_; ++i) c_[i] = keep * c_[i] + take * p_[i];
    }

    static int limitCount(int count) { return count < 0 ? 0 : (count > Stages ? Stages : count); }

    double p_[Stages];
    double c_[Stages];
    double s1_[Stages];
    double s2_[Stages];
    double lambda_ = 0.0;
    double smoothing_ = 0.0;
    double m_ = 1.0;      // 1 - lambda^2
    double gNorm_ = 1.0;  // delay-free-loop gain of the all-pole form
    double gain_ = kGlide;
    int order_ = 0;
    bool stateToggle_ = true;
    const float sign_;

private:
    void clearArrays() {
        for (int i = 0; i < Stages; ++i) p_[i] = c_[i] = s1_[i] = s2_[i] = 0.0;
    }
};

// Warped all-zero lattice: whitens its input; the output is the forward prediction
// error. The anti-denormal offset enters at its input.
template <typename T, int Stages = 100>
class CUnitWFIRLattice : public CUnitWarpedLatticeBase<T, Stages> {
    using Base = CUnitWarpedLatticeBase<T, Stages>;

public:
    CUnitWFIRLattice() : Base(1.0f) {}

    using Base::update;
    void update() override { Base::glide(); }

    T process(T x) override {
        const double lambda = double(float(Base::lambda_));
        double a = double(x) + double(Base::antiDenormal);  // through the allpass chain
        double q = a;                                        // forward path
        for (int i = 0; i < Base::order_; ++i) {
            const double u = Base::s2_[i] + lambda * (Base::s1_[i] - a);
            Base::s2_[i] = a;
            Base::s1_[i] = u;
            const double k = Base::c_[i];
            a = u + k * q;
            q = q + k * u;
        }
        const T y = T(q);
        Base::lastOutput = y;
        Base::antiDenormal = -Base::antiDenormal;
        return y;
    }
};

// Warped all-pole lattice: imposes the envelope. Its allpass chain makes a
// delay-free loop, solved in closed form with the gain gNorm that update()
// precomputes. No anti-denormal offset is added here (the input comes from the
// offset-carrying chain before it); only the offset's sign is kept in step.
template <typename T, int Stages = 100>
class CUnitWIIRLattice : public CUnitWarpedLatticeBase<T, Stages> {
    using Base = CUnitWarpedLatticeBase<T, Stages>;

public:
    CUnitWIIRLattice() : Base(-1.0f) {}

    using Base::update;
    void update() override {
        Base::glide();
        const double lambda = Base::lambda_;
        Base::m_ = 1.0 - lambda * lambda;
        double e = -lambda, f = 1.0, sum = 0.0;
        for (int i = 0; i < Base::order_; ++i) {
            const double k = Base::c_[i];
            sum += e * k;
            const double eNext = -lambda * (e - k * f);
            f = f - e * k;
            e = eNext;
        }
        const double g = 1.0 / (1.0 - sum);
        if (std::isfinite(g)) Base::gNorm_ = g;  // a loop gain of exactly 1 keeps the old gain
    }

    T process(T x) override {
        const double* k = Base::c_;
        const double lambda = Base::lambda_, m = Base::m_;
        const int order = Base::order_;
        const double* rd = Base::stateToggle_ ? Base::s1_ : Base::s2_;
        double* wr = Base::stateToggle_ ? Base::s2_ : Base::s1_;

        // Feedback sum over the previous sample's states.
        double s = 0.0;
        if (order > 0) {
            double w = m * rd[0];
            s = k[0] * w;
            double acc = -k[0] * w, z = 0.0;
            for (int i = 1; i < order; ++i) {
                w = lambda * (k[i - 1] * z - w) + m * rd[i];
                s += k[i] * w;
                z = acc;
                acc -= k[i] * w;
            }
        }
        const double y = Base::gNorm_ * (double(x) + s);

        // New states; element 0 is never written.
        double pPrev = y + lambda * rd[0], q = y;
        for (int i = 1; i < order; ++i) {
            const double qi = rd[i - 1] - lambda * pPrev;
            wr[i] = qi + lambda * rd[i] - k[i - 1] * q;
            q -= qi * k[i - 1];
            pPrev = wr[i];
        }

        Base::antiDenormal = -Base::antiDenormal;
        Base::stateToggle_ = !Base::stateToggle_;
        Base::lastOutput = T(y);
        return Base::lastOutput;
    }
};

}  // namespace kovalith
