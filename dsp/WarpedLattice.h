// Frequency-warped lattice filters: every unit delay of an ordinary lattice is the
// first-order allpass D(z) = (-lambda + z^-1) / (1 - lambda z^-1).
//
// The owner hands in reflection coefficients as targets (P) once per analysis
// block; each update() glides the working coefficients (C) towards gain * P and
// moves the warp and the gain 5 % towards the owner's targets. process() runs
// once per sample with the working set. All filter arithmetic is double.
//
// This header holds the plain per-sample forms, the reference for everything
// else. The stage arithmetic below is written once and shared with the faster
// forms the engine runs, which are defined beside this header and are equal to
// the reference bit for bit:
//   WarpedLatticePair.h   both channels' lattices of a kind in one pass;
//   WarpedLatticeRun.h    a pair over a run of samples with fixed coefficients;
//   WarpedLatticeChain.h  the FIR pair and the IIR pair over a run in one pass.
#pragma once

#include <cmath>
#include <limits>
#include <utility>

#include "dsp/UnitProcessorBase.h"

namespace kovalith {

namespace lattice_detail {

// Two doubles computed lane by lane (WarpedLatticePair.h).
struct Pair;

// One section of the all-zero lattice on one sample: the allpass takes a (s2
// holds the section's last input, s1 its last output, lambda the warp), then
// the two paths cross with the reflection coefficient k. V is double, or Pair
// for two lattices side by side.
template <typename V>
inline void firStage(V& s1, V& s2, V lambda, V k, V& a, V& q) {
    const V u = s2 + lambda * (s1 - a);
    s2 = a;
    s1 = u;
    a = u + k * q;
    q = q + k * u;
}

// The all-pole lattice's feedback sum s over one sample's states r, stage by
// stage: w0 = m r0, s = k0 w0, acc = -k0 w0, z = 0; then per stage i
//   wi = lambda (k(i-1) z - w(i-1)) + m ri;  s += ki wi;  z = acc;  acc -= ki wi.
template <typename V>
struct FeedbackSum {
    FeedbackSum(V k0, V m, V r0, V zero) : w(m * r0), s(k0 * w), acc(-k0 * w), z(zero) {}
    void stage(V kPrev, V k, V lambda, V m, V r) {
        w = lambda * (kPrev * z - w) + m * r;
        s = s + k * w;
        z = acc;
        acc = acc - k * w;
    }
    V w, s, acc, z;
};

// The sum behind the all-pole lattice's loop gain gNorm = 1 / (1 - sum): with
// e = -lambda, f = 1, sum = 0, per stage sum += e k, then e = -lambda (e - k f)
// and f = f - e k, both with the old e.
template <typename V>
struct LoopGainSum {
    LoopGainSum(V lambda, V one, V zero) : e(-lambda), f(one), sum(zero) {}
    void stage(V k, V lambda) {
        sum = sum + e * k;
        const V eNext = -lambda * (e - k * f);
        f = f - e * k;
        e = eNext;
    }
    V e, f, sum;
};

// One stage i >= 1 of the all-pole lattice's state update: from the previous
// states r(i-1), ri and the state p(i-1) just written, with the path value q,
//   Qi = r(i-1) - lambda p(i-1);  new ri = Qi + lambda ri - k(i-1) q;  q -= Qi k(i-1).
template <typename V>
inline V iirStateStage(V rPrev, V pPrev, V r, V kPrev, V lambda, V& q) {
    const V qi = rPrev - lambda * pPrev;
    const V written = qi + lambda * r - kPrev * q;
    q = q - qi * kPrev;
    return written;
}

}  // namespace lattice_detail

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
        approach(targetWarp, targetGain);
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

    // The first part of update(targetWarp, targetGain): warp and gain move.
    void approach(double targetWarp, double targetGain) {
        if (std::isfinite(targetWarp)) {
            const double w = bounded(targetWarp, kMaxWarp);
            lambda_ = w + (lambda_ - w) * kGlide;
        }
        if (std::isfinite(targetGain)) {
            const double g = bounded(targetGain, 1.0);
            gain_ = g + (gain_ - g) * kGlide;
        }
    }

    // The second part: C = s C + (1 - s) gain P over the order.
    void glide() {
        const double keep = smoothing_, take = (1.0 - smoothing_) * gain_;
        for (int i = 0; i < order_; ++i) c_[i] = keep * c_[i] + take * p_[i];
    }

    // Both parts for two lattices side by side (WarpedLatticePair.h).
    static void approachBoth(CUnitWarpedLatticeBase& a, double warp0, double gain0, CUnitWarpedLatticeBase& b,
                             double warp1, double gain1);
    static void glideBoth(CUnitWarpedLatticeBase& a, CUnitWarpedLatticeBase& b);
    struct Glide;

    // Where two lattices cannot run side by side (the same one twice, or two
    // orders), process() of each in turn; answers whether it did.
    template <typename Lattice>
    static bool processApart(Lattice& first, T x0, Lattice& second, T x1) {
        if (&first != &second && first.order_ == second.order_) return false;
        first.process(x0);
        second.process(x1);
        return true;
    }

    // A finite x within [-limit, limit] (limit > 0): what fmax(-limit, fmin(limit, x))
    // gives, as compares rather than two library calls per update.
    static double bounded(double x, double limit) { return x < limit ? (x > -limit ? x : -limit) : limit; }

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

    void clearStates() {
        for (int i = 0; i < Stages; ++i) s1_[i] = s2_[i] = 0.0;
    }

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

    // One sample, all in double with the warp rounded to single precision: a
    // travels through the allpass sections, q is the forward path and the output.
    T process(T x) override {
        const double lambda = double(float(Base::lambda_));
        double a = double(x) + double(Base::antiDenormal), q = a;
        for (int i = 0; i < Base::order_; ++i)
            lattice_detail::firStage(Base::s1_[i], Base::s2_[i], lambda, Base::c_[i], a, q);
        Base::antiDenormal = -Base::antiDenormal;
        return Base::lastOutput = finiteOutput(*this, q);
    }

    // Faster forms, equal to the above (WarpedLatticePair.h, WarpedLatticeRun.h).
    static void updatePair(CUnitWFIRLattice& first, double warp0, double gain0, CUnitWFIRLattice& second,
                           double warp1, double gain1);
    static void processPair(CUnitWFIRLattice& first, T x0, CUnitWFIRLattice& second, T x1);
    static constexpr int kMaxRun = 8;
    static void processRunPair(CUnitWFIRLattice& first, const T* x0, T* y0, CUnitWFIRLattice& second, const T* x1,
                               T* y1, int count);

private:
    template <typename, int>
    friend class CUnitWIIRLattice;  // its chain run takes a FIR pair's samples
    using Pair = lattice_detail::Pair;

    // A non-finite input (or an overflow) would stay in the allpass states for
    // good; the lattice starts again from silence and gives 0 instead.
    static T finiteOutput(CUnitWFIRLattice& l, double q) {
        if (std::isfinite(q)) return T(q);
        l.clearStates();
        return T(0);
    }

    template <int Length>
    static void runPair(CUnitWFIRLattice& first, const T* x0, T* y0, CUnitWFIRLattice& second, const T* x1, T* y1,
                        int count);
    static void runOneStage(CUnitWFIRLattice& first, const T* x0, T* y0, CUnitWFIRLattice& second, const T* x1,
                            T* y1, int count);
    static constexpr int kStagesPerPass = 2;
    template <int G, int Length>
    static void stagesOverRun(CUnitWFIRLattice& first, CUnitWFIRLattice& second, int i, Pair lambda, Pair* a,
                              Pair* q, int count);
    static T runOutput(double q, bool& finite);
};

// Warped all-pole lattice: imposes the envelope. Its allpass chain makes a
// delay-free loop, solved in closed form with the gain gNorm that update()
// precomputes. No anti-denormal offset is added here (the input comes from the
// offset-carrying chain before it); only the offset's sign is kept in step.
//
// The state update never writes element 0, so the first section's allpass has no
// memory (it passes -lambda times its input): the filter is the exact inverse of a
// warped all-zero lattice whose first section is memoryless, not of
// CUnitWFIRLattice. The two state arrays take turns: R (S1 while stateToggle_
// is set) holds the previous sample's states, the sample writes W.
template <typename T, int Stages = 100>
class CUnitWIIRLattice : public CUnitWarpedLatticeBase<T, Stages> {
    using Base = CUnitWarpedLatticeBase<T, Stages>;
    using Fir = CUnitWFIRLattice<T, Stages>;

public:
    CUnitWIIRLattice() : Base(-1.0f) {}

    using Base::update;
    // Glides, then recomputes 1 - lambda^2 and the loop gain.
    void update() override {
        settle();
        Base::glide();
        recomputeLoopGain();
    }

    // One sample: y = gNorm (x + s) with s the feedback sum over R, then the
    // new states W with P0 = y + lambda R[0], q = y and iirStateStage per stage
    // (W[0] is never written).
    T process(T x) override {
        settle();
        const int order = Base::order_;
        const double lambda = Base::lambda_;
        const double* r = Base::stateToggle_ ? Base::s1_ : Base::s2_;
        double* w = Base::stateToggle_ ? Base::s2_ : Base::s1_;
        double y = Base::gNorm_ * (double(x) + feedbackSum(r, Base::c_, lambda, Base::m_, order));
        if (order > 0) {
            double p = y + lambda * r[0], q = y;
            for (int i = 1; i < order; ++i)
                p = w[i] = lattice_detail::iirStateStage(r[i - 1], p, r[i], Base::c_[i - 1], lambda, q);
        }
        feedbackReady_ = false;
        // A non-finite input (or an overflow) would stay in the states for good;
        // start again from silence instead.
        if (!std::isfinite(y)) {
            Base::clearStates();
            y = 0.0;
        }
        Base::antiDenormal = -Base::antiDenormal;
        Base::stateToggle_ = !Base::stateToggle_;
        return Base::lastOutput = T(y);
    }

    // With the coefficients cleared, the loop gain is 1 again.
    void reset() override {
        settle();
        Base::reset();
        Base::gNorm_ = 1.0;
        feedbackReady_ = false;
    }

    void setCoefficientsNow(const T* values, int count) override {
        settle();
        Base::setCoefficientsNow(values, count);
        feedbackReady_ = false;
    }

    // Targets alone don't enter the filter before update(); only a new order does.
    void setCoefficients(const T* values, int count) override {
        settle();
        const int order = Base::order_;
        Base::setCoefficients(values, count);
        if (Base::order_ != order) feedbackReady_ = false;
    }

    void setCoefficientsRotated(const T* values, int count, T rotate) override {
        settle();
        const int order = Base::order_;
        Base::setCoefficientsRotated(values, count, rotate);
        if (Base::order_ != order) feedbackReady_ = false;
    }

    // Faster forms, equal to the above (WarpedLatticePair.h, WarpedLatticeRun.h,
    // WarpedLatticeChain.h).
    static void updatePair(CUnitWIIRLattice& first, double warp0, double gain0, CUnitWIIRLattice& second,
                           double warp1, double gain1);
    static bool updatePairDeferred(CUnitWIIRLattice& first, double warp0, double gain0, CUnitWIIRLattice& second,
                                   double warp1, double gain1);
    static void completeUpdatePair(CUnitWIIRLattice& first, CUnitWIIRLattice& second);
    static void processPair(CUnitWIIRLattice& first, T x0, CUnitWIIRLattice& second, T x1);
    static int processRunPair(CUnitWIIRLattice& first, const T* x0, T* y0, CUnitWIIRLattice& second, const T* x1,
                              T* y1, int count);
    template <int Order>
    static int runPair(CUnitWIIRLattice& first, const T* x0, T* y0, CUnitWIIRLattice& second, const T* x1, T* y1,
                       int count);

    struct ChainRun {
        int whitened;
        int synthesised;
    };
    static constexpr int kChainRun = 8;
    static bool chainFits(const Fir& fir0, const Fir& fir1, const CUnitWIIRLattice& iir0,
                          const CUnitWIIRLattice& iir1, int count);
    template <typename Between>
    static ChainRun chainRunPair(Fir& fir0, Fir& fir1, CUnitWIIRLattice& iir0, CUnitWIIRLattice& iir1, const T* x0,
                                 const T* x1, T* m0, T* m1, T* y0, T* y1, int count, Between between);

private:
    using Pair = lattice_detail::Pair;

    // The feedback sum over the states r.
    static double feedbackSum(const double* r, const double* k, double lambda, double m, int order) {
        if (order <= 0) return 0.0;
        lattice_detail::FeedbackSum<double> sum(k[0], m, r[0], 0.0);
        for (int i = 1; i < order; ++i) sum.stage(k[i - 1], k[i], lambda, m, r[i]);
        return sum.s;
    }

    // m = 1 - lambda^2 and gNorm = 1 / (1 - sum) for the present coefficients.
    void recomputeLoopGain() {
        const double lambda = Base::lambda_;
        Base::m_ = 1.0 - lambda * lambda;
        lattice_detail::LoopGainSum<double> loop(lambda, 1.0, 0.0);
        for (int i = 0; i < Base::order_; ++i) loop.stage(Base::c_[i], lambda);
        takeLoopGain(loop.sum);
        feedbackReady_ = false;
    }

    void takeLoopGain(double sum) {
        const double g = 1.0 / (1.0 - sum);
        if (std::isfinite(g)) Base::gNorm_ = g;  // a loop gain of exactly 1 keeps the old gain
    }

    // Completes a recomputation updatePairDeferred left.
    void settle() {
        if (!recomputeWaits_) return;
        recomputeWaits_ = false;
        recomputeLoopGain();
    }

    // What the faster forms keep between samples: the next sample's feedback sum,
    // formed in the same pass as this sample's state update (WarpedLatticePair.h).
    void prepareFeedback();
    T finish(double y, double next);
    void endRun(int samples, double feedback);
    struct Alone;
    struct PairLanes;
    struct States;
    struct PairStates;
    struct SideBySide;
    template <typename Between>
    struct ChainFir;
    template <typename V, typename Src, typename Beside = Alone>
    static V advance(Src& src, V y, V lambda, V m, int order, Beside beside = Beside());

    double feedback_ = 0.0;       // the faster forms' next feedback sum,
    bool feedbackReady_ = false;  // valid while this is set
    bool recomputeWaits_ = false;  // updatePairDeferred left the recomputation
};

}  // namespace kovalith

#include "dsp/WarpedLatticePair.h"
#include "dsp/WarpedLatticeRun.h"
#include "dsp/WarpedLatticeChain.h"
