// Frequency-warped lattice filters: every unit delay of an ordinary lattice is the
// first-order allpass D(z) = (-lambda + z^-1) / (1 - lambda z^-1).
//
// The owner hands in reflection coefficients as targets (P) once per analysis
// block; each update() glides the working coefficients (C) towards gain * P and
// moves the warp and the gain 5 % towards the owner's targets. process() runs
// once per sample with the working set. All filter arithmetic is double.
#pragma once

#include <cmath>
#include <limits>
#include <utility>

#include "dsp/UnitProcessorBase.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kovalith {

namespace lattice_detail {

// Two doubles computed lane by lane (one SSE2 operation where the target has
// it): the two channels' lattices of a kind side by side. Each lane's arithmetic
// is exactly the scalar arithmetic of its own lattice.
#if defined(__SSE2__)
struct Pair {
    __m128d v;
    Pair() = default;
    Pair(__m128d x) : v(x) {}
    Pair(double lo, double hi) : v(_mm_set_pd(hi, lo)) {}
    double lo() const { return _mm_cvtsd_f64(v); }
    double hi() const { return _mm_cvtsd_f64(_mm_unpackhi_pd(v, v)); }
    friend Pair operator+(Pair a, Pair b) { return _mm_add_pd(a.v, b.v); }
    friend Pair operator-(Pair a, Pair b) { return _mm_sub_pd(a.v, b.v); }
    friend Pair operator*(Pair a, Pair b) { return _mm_mul_pd(a.v, b.v); }
    friend Pair operator-(Pair a) { return _mm_xor_pd(a.v, _mm_set1_pd(-0.0)); }
    // Each lane rounded to single precision and widened again. (Written as two
    // conversions because GCC 12 drops the rounding of double(float(x)) when it
    // builds a vector from such lanes.)
    Pair roundedToFloat() const { return _mm_cvtps_pd(_mm_cvtpd_ps(v)); }
    // Both lanes finite.
    bool finite() const {
        const __m128d magnitude = _mm_andnot_pd(_mm_set1_pd(-0.0), v);
        return _mm_movemask_pd(_mm_cmple_pd(magnitude, _mm_set1_pd(std::numeric_limits<double>::max()))) == 3;
    }
    // Finite lanes bounded to [-limit, limit] (limit > 0), as compares give it.
    Pair boundedBy(Pair limit) const { return _mm_min_pd(_mm_max_pd(v, (-limit).v), limit.v); }
};
#else
struct Pair {
    double l, h;
    Pair() = default;
    Pair(double lo, double hi) : l(lo), h(hi) {}
    double lo() const { return l; }
    double hi() const { return h; }
    friend Pair operator+(Pair a, Pair b) { return {a.l + b.l, a.h + b.h}; }
    friend Pair operator-(Pair a, Pair b) { return {a.l - b.l, a.h - b.h}; }
    friend Pair operator*(Pair a, Pair b) { return {a.l * b.l, a.h * b.h}; }
    friend Pair operator-(Pair a) { return {-a.l, -a.h}; }
    Pair roundedToFloat() const { return {double(float(l)), double(float(h))}; }
    bool finite() const { return std::isfinite(l) && std::isfinite(h); }
    Pair boundedBy(Pair limit) const {
        return {l < limit.l ? (l > -limit.l ? l : -limit.l) : limit.l, h < limit.h ? (h > -limit.h ? h : -limit.h) : limit.h};
    }
};
#endif


// Both lanes of y into out0 and out1; true when both of those and both lanes of
// `next` are finite numbers.
inline bool allFinite(Pair y, Pair next, double& out0, double& out1) {
    out0 = y.lo();
    out1 = y.hi();
    return std::isfinite(out0) && std::isfinite(out1) && std::isfinite(next.lo()) && std::isfinite(next.hi());
}

// The same with y rounded to single precision.
inline bool allFinite(Pair y, Pair next, float& out0, float& out1) {
#if defined(__SSE2__)
    const __m128 f = _mm_cvtpd_ps(y.v);  // the upper two lanes are zero
    out0 = _mm_cvtss_f32(f);
    out1 = _mm_cvtss_f32(_mm_shuffle_ps(f, f, 1));
    // x - x is 0 for a finite x and NaN for an infinity or a NaN.
    const __m128 fd = _mm_sub_ps(f, f);
    const __m128d nd = _mm_sub_pd(next.v, next.v);
    return _mm_movemask_ps(_mm_cmpord_ps(fd, fd)) == 0xF && _mm_movemask_pd(_mm_cmpord_pd(nd, nd)) == 3;
#else
    out0 = float(y.lo());
    out1 = float(y.hi());
    return std::isfinite(out0) && std::isfinite(out1) && std::isfinite(next.lo()) && std::isfinite(next.hi());
#endif
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

    // approach() of two lattices, the warps side by side and the gains side by side
    // when all four targets are finite.
    static void approachBoth(CUnitWarpedLatticeBase& a, double warp0, double gain0, CUnitWarpedLatticeBase& b,
                             double warp1, double gain1) {
        using lattice_detail::Pair;
        const Pair warp(warp0, warp1), gain(gain0, gain1);
        if (&a == &b || !warp.finite() || !gain.finite()) {
            a.approach(warp0, gain0);
            b.approach(warp1, gain1);
            return;
        }
        const Pair glide(kGlide, kGlide);
        const Pair w = warp.boundedBy(Pair(kMaxWarp, kMaxWarp));
        const Pair lambda = w + (Pair(a.lambda_, b.lambda_) - w) * glide;
        const Pair g = gain.boundedBy(Pair(1.0, 1.0));
        const Pair newGain = g + (Pair(a.gain_, b.gain_) - g) * glide;
        a.lambda_ = lambda.lo(), b.lambda_ = lambda.hi();
        a.gain_ = newGain.lo(), b.gain_ = newGain.hi();
    }

    // glide() of two lattices of the same order in one loop.
    static void glideBoth(CUnitWarpedLatticeBase& a, CUnitWarpedLatticeBase& b) {
        const int order = a.order_;
        if (&a == &b || b.order_ != order) {
            a.glide();
            b.glide();
            return;
        }
        const Glide ga(a), gb(b);
        int i = 0;
#if defined(__SSE2__)
        for (; i + 2 <= order; i += 2) {
            ga.two(i);
            gb.two(i);
        }
#endif
        for (; i < order; ++i) {
            ga.one(i);
            gb.one(i);
        }
    }

    // A finite x within [-limit, limit] (limit > 0): what fmax(-limit, fmin(limit, x))
    // gives, as compares rather than two library calls per update.
    static double bounded(double x, double limit) { return x < limit ? (x > -limit ? x : -limit) : limit; }

    // Two coefficients per SSE2 step where the target has it, each the scalar
    // arithmetic.
    void glide() {
        const int order = order_;
        const Glide g(*this);
        int i = 0;
#if defined(__SSE2__)
        for (; i + 2 <= order; i += 2) g.two(i);
#endif
        for (; i < order; ++i) g.one(i);
    }

    // One lattice's glide step c = keep c + take p, on one coefficient or two.
    struct Glide {
        explicit Glide(CUnitWarpedLatticeBase& l)
            : c(l.c_), p(l.p_), keep(l.smoothing_), take((1.0 - l.smoothing_) * l.gain_) {}
        void one(int i) const { c[i] = keep * c[i] + take * p[i]; }
#if defined(__SSE2__)
        void two(int i) const {
            const __m128d kept = _mm_mul_pd(_mm_set1_pd(keep), _mm_loadu_pd(c + i));
            _mm_storeu_pd(c + i, _mm_add_pd(kept, _mm_mul_pd(_mm_set1_pd(take), _mm_loadu_pd(p + i))));
        }
#endif
        double* c;
        const double* p;
        double keep, take;
    };

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
    // The IIR lattice's chain run takes a FIR pair's samples in its own passes.
    template <typename, int>
    friend class CUnitWIIRLattice;

    using Base::update;
    void update() override { Base::glide(); }

    // update(targetWarp, targetGain) of both channels' lattices, the two warps and
    // gains side by side and the two glides in one loop; each ends as its own
    // update would leave it.
    static void updatePair(CUnitWFIRLattice& first, double warp0, double gain0, CUnitWFIRLattice& second,
                           double warp1, double gain1) {
        if (&first == &second) {
            first.update(warp0, gain0);
            first.update(warp1, gain1);
            return;
        }
        Base::approachBoth(first, warp0, gain0, second, warp1, gain1);
        Base::glideBoth(first, second);
    }

    T process(T x) override {
        Pass pass(*this, x);
        for (int i = 0; i < Base::order_; ++i) pass.stage(i);
        return pass.finish();
    }

    // Two lattices (the two channels) in one interleaved pass; each ends as its own
    // process() would leave it, with its result in lastOutput. The two recursions
    // are independent, so they overlap instead of running one after the other.
    static void processPair(CUnitWFIRLattice& first, T x0, CUnitWFIRLattice& second, T x1) {
        if (&first == &second || first.order_ != second.order_) {
            first.process(x0);
            second.process(x1);
            return;
        }
        Pass p0(first, x0), p1(second, x1);
        for (int i = 0; i < first.order_; ++i) {
            p0.stage(i);
            p1.stage(i);
        }
        p0.finish();
        p1.finish();
    }

    // The longest run processRunPair takes.
    static constexpr int kMaxRun = 8;

    // Both channels over a run of `count` samples (1..kMaxRun) during which the
    // coefficients and the warp stay put, stage by stage instead of sample by
    // sample. Within a stage only the allpass section recurs from one sample to
    // the next, so the stages' recursions overlap instead of forming one chain
    // through every stage of every sample. Each lattice ends as `count` calls of
    // process() would leave it, with the same results in y0 and y1; only a
    // non-finite result is handled per run: it comes out as 0 and the lattice's
    // states are cleared at the end of the run.
    static void processRunPair(CUnitWFIRLattice& first, const T* x0, T* y0, CUnitWFIRLattice& second, const T* x1,
                               T* y1, int count) {
        if (&first == &second || first.order_ != second.order_ || count < 1 || count > kMaxRun) {
            for (int n = 0; n < count; ++n) {
                y0[n] = first.process(x0[n]);
                y1[n] = second.process(x1[n]);
            }
            return;
        }
        if (first.order_ == 1)
            runOneStage(first, x0, y0, second, x1, y1, count);
        else if (count == kMaxRun)
            runPair<kMaxRun>(first, x0, y0, second, x1, y1, count);
        else
            runPair<0>(first, x0, y0, second, x1, y1, count);
    }

private:
    using Pair = lattice_detail::Pair;

    // The run of processRunPair; Length is the run's length when known at compile
    // time (0: `count`).
    template <int Length>
    static void runPair(CUnitWFIRLattice& first, const T* x0, T* y0, CUnitWFIRLattice& second, const T* x1, T* y1,
                        int count) {
        const int length = Length ? Length : count;
        Pair a[kMaxRun], q[kMaxRun];
        for (int n = 0; n < length; ++n) {
            a[n] = Pair(double(x0[n]) + double(first.antiDenormal), double(x1[n]) + double(second.antiDenormal));
            q[n] = a[n];
            first.antiDenormal = -first.antiDenormal;
            second.antiDenormal = -second.antiDenormal;
        }
        const Pair lambda = Pair(first.lambda_, second.lambda_).roundedToFloat();
        int i = 0;
        for (; i + kStagesPerPass <= first.order_; i += kStagesPerPass)
            stagesOverRun<kStagesPerPass, Length>(first, second, i, lambda, a, q, length);
        for (; i < first.order_; ++i) stagesOverRun<1, Length>(first, second, i, lambda, a, q, length);
        bool finite0 = true, finite1 = true;
        for (int n = 0; n < length; ++n) {
            y0[n] = finiteOutput(q[n].lo(), finite0);
            y1[n] = finiteOutput(q[n].hi(), finite1);
        }
        if (!finite0) first.clearStates();
        if (!finite1) second.clearStates();
        first.lastOutput = y0[length - 1];
        second.lastOutput = y1[length - 1];
    }

    // runPair for a single stage (the least "# Stages" gives): each sample goes
    // in, through the stage and out in one pass, with the stage's states in
    // registers; the arithmetic is runPair's.
    static void runOneStage(CUnitWFIRLattice& first, const T* x0, T* y0, CUnitWFIRLattice& second, const T* x1,
                            T* y1, int count) {
        // The offsets' signs alternate from sample to sample.
        const Pair offset[2] = {Pair(double(first.antiDenormal), double(second.antiDenormal)),
                                Pair(double(-first.antiDenormal), double(-second.antiDenormal))};
        const Pair lambda = Pair(first.lambda_, second.lambda_).roundedToFloat();
        const Pair k(first.c_[0], second.c_[0]);
        Pair s1(first.s1_[0], second.s1_[0]), s2(first.s2_[0], second.s2_[0]);
        bool finite0 = true, finite1 = true;
        for (int n = 0; n < count; ++n) {
            const Pair a = Pair(double(x0[n]), double(x1[n])) + offset[n & 1];
            const Pair u = s2 + lambda * (s1 - a);
            s2 = a;
            s1 = u;
            const Pair q = a + k * u;
            y0[n] = finiteOutput(q.lo(), finite0);
            y1[n] = finiteOutput(q.hi(), finite1);
        }
        first.s1_[0] = s1.lo(), second.s1_[0] = s1.hi();
        first.s2_[0] = s2.lo(), second.s2_[0] = s2.hi();
        if (count & 1) {
            first.antiDenormal = -first.antiDenormal;
            second.antiDenormal = -second.antiDenormal;
        }
        if (!finite0) first.clearStates();
        if (!finite1) second.clearStates();
        first.lastOutput = y0[count - 1];
        second.lastOutput = y1[count - 1];
    }

    // Stages taken together in one pass over the run: a sample's a and q go
    // through them one after the other while the stages' states and
    // coefficients stay in registers. Each stage's arithmetic on each sample is
    // unchanged.
    static constexpr int kStagesPerPass = 2;

    // Stages i .. i+G-1 over the run.
    template <int G, int Length>
    static void stagesOverRun(CUnitWFIRLattice& first, CUnitWFIRLattice& second, int i, Pair lambda, Pair* a,
                              Pair* q, int count) {
        const int length = Length ? Length : count;
        Pair s1[G], s2[G], k[G];
        for (int g = 0; g < G; ++g) {
            s1[g] = Pair(first.s1_[i + g], second.s1_[i + g]);
            s2[g] = Pair(first.s2_[i + g], second.s2_[i + g]);
            k[g] = Pair(first.c_[i + g], second.c_[i + g]);
        }
        for (int n = 0; n < length; ++n) {
            Pair an = a[n], qn = q[n];
#pragma GCC unroll 2
            for (int g = 0; g < G; ++g) {
                const Pair u = s2[g] + lambda * (s1[g] - an);
                s2[g] = an;
                s1[g] = u;
                an = u + k[g] * qn;
                qn = qn + k[g] * u;
            }
            a[n] = an;
            q[n] = qn;
        }
        for (int g = 0; g < G; ++g) {
            first.s1_[i + g] = s1[g].lo();
            second.s1_[i + g] = s1[g].hi();
            first.s2_[i + g] = s2[g].lo();
            second.s2_[i + g] = s2[g].hi();
        }
    }

    static T finiteOutput(double q, bool& finite) {
        if (std::isfinite(q)) return T(q);
        finite = false;
        return T(0);
    }

    // One sample through the lattice, all in double with the warp rounded to single
    // precision: a travels through the allpass sections (S2 holds a section's last
    // input, S1 its last output), q is the forward path.
    struct Pass {
        Pass(CUnitWFIRLattice& lattice, T x)
            : l(lattice), lambda(double(float(lattice.lambda_))), a(double(x) + double(lattice.antiDenormal)), q(a) {}

        void stage(int i) {
            const double u = l.s2_[i] + lambda * (l.s1_[i] - a);
            l.s2_[i] = a;
            l.s1_[i] = u;
            const double k = l.c_[i];
            a = u + k * q;
            q = q + k * u;
        }

        T finish() {
            // A non-finite input (or an overflow) would stay in the allpass states
            // for good; start again from silence instead.
            if (!std::isfinite(q)) {
                l.clearStates();
                q = 0.0;
            }
            const T y = T(q);
            l.lastOutput = y;
            l.antiDenormal = -l.antiDenormal;
            return y;
        }

        CUnitWFIRLattice& l;
        const double lambda;
        double a, q;
    };
};

// Warped all-pole lattice: imposes the envelope. Its allpass chain makes a
// delay-free loop, solved in closed form with the gain gNorm that update()
// precomputes. No anti-denormal offset is added here (the input comes from the
// offset-carrying chain before it); only the offset's sign is kept in step.
//
// The state update never writes element 0, so the first section's allpass has no
// memory (it passes -lambda times its input): the filter is the exact inverse of a
// warped all-zero lattice whose first section is memoryless, not of
// CUnitWFIRLattice.
//
// The feedback sum a sample needs depends only on the states the previous sample
// left, so process() computes it for the next sample in the same pass as the state
// update; the two recursions then overlap instead of running one after the other.
// Whatever changes the coefficients, the warp, the order or the states discards
// that precomputed sum, and the next process() forms it afresh with the same
// arithmetic.
template <typename T, int Stages = 100>
class CUnitWIIRLattice : public CUnitWarpedLatticeBase<T, Stages> {
    using Base = CUnitWarpedLatticeBase<T, Stages>;

public:
    CUnitWIIRLattice() : Base(-1.0f) {}

    using Base::update;
    // Glides, then recomputes 1 - lambda^2 and the loop gain gNorm = 1 / (1 - sum)
    // with e = -lambda, f = 1: per stage sum += e k, then e = -lambda (e - k f) and
    // f = f - e k with the old e. The next sample's feedback sum, which the new
    // coefficients change, is formed in the same pass.
    void update() override {
        settle();
        Base::glide();
        Lane lane(*this);
        lane.recompute(Base::order_);
        lane.store(*this);
    }

    // update(targetWarp, targetGain) of both channels' lattices in one pass, as
    // SSE2 pairs; each ends as its own update would leave it.
    static void updatePair(CUnitWIIRLattice& first, double warp0, double gain0, CUnitWIIRLattice& second,
                           double warp1, double gain1) {
        if (updatePairDeferred(first, warp0, gain0, second, warp1, gain1)) completeUpdatePair(first, second);
    }

    // updatePair with the loop-gain recomputation left for later: the glide is
    // done, and the recomputation, which runs through every stage, waits for
    // the pair's next chainRunPair (beside the FIR pair's first sample there),
    // for completeUpdatePair, or for whatever next touches a lattice, which
    // completes its own first. Either way each ends exactly as its update
    // would leave it. Returns whether the recomputation waits.
    static bool updatePairDeferred(CUnitWIIRLattice& first, double warp0, double gain0, CUnitWIIRLattice& second,
                                   double warp1, double gain1) {
        first.settle();
        second.settle();
        Base::approachBoth(first, warp0, gain0, second, warp1, gain1);
        if (&first == &second || first.order_ != second.order_) {
            first.update();
            second.update();
            return false;
        }
        Base::glideBoth(first, second);
        first.recomputeWaits_ = second.recomputeWaits_ = true;
        return true;
    }

    // The recomputation updatePairDeferred left, for both lattices at once.
    static void completeUpdatePair(CUnitWIIRLattice& first, CUnitWIIRLattice& second) {
        if (!first.recomputeWaits_ || !second.recomputeWaits_ || first.order_ != second.order_) {
            first.settle();
            second.settle();
            return;
        }
        PairLanes lanes(first, second);
        lanes.recompute(first.order_);
        lanes.store(first, second);
        first.recomputeWaits_ = second.recomputeWaits_ = false;
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

    T process(T x) override {
        const int order = Base::order_;
        prepareFeedback();
        const double y = Base::gNorm_ * (double(x) + feedback_);
        States lane(*this);
        return finish(y, advance<double>(lane, y, Base::lambda_, Base::m_, order));
    }

    // Two lattices (the two channels) in one pass as SSE2 pairs; each ends as its
    // own process() would leave it, with its result in lastOutput.
    static void processPair(CUnitWIIRLattice& first, T x0, CUnitWIIRLattice& second, T x1) {
        if (&first == &second || first.order_ != second.order_) {
            first.process(x0);
            second.process(x1);
            return;
        }
        first.prepareFeedback();
        second.prepareFeedback();
        const Pair y = Pair(first.gNorm_, second.gNorm_) * (Pair(double(x0), double(x1)) + Pair(first.feedback_, second.feedback_));
        PairStates lanes(first, second);
        const Pair next = advance<Pair>(lanes, y, Pair(first.lambda_, second.lambda_), Pair(first.m_, second.m_),
                                        first.order_);
        first.finish(y.lo(), next.lo());
        second.finish(y.hi(), next.hi());
    }

    // processPair over a run of samples, with the outputs in y0 and y1: each
    // lattice ends as its own process() calls would leave it. The loop gains, warps
    // and feedback sums stay in registers from one sample to the next. It stops
    // after a sample that leaves a lattice without its feedback sum or gives an
    // output outside the finite range, so the owner can act on it before the
    // next; returns how many samples it took.
    static int processRunPair(CUnitWIIRLattice& first, const T* x0, T* y0, CUnitWIIRLattice& second, const T* x1,
                              T* y1, int count) {
        if (&first == &second || first.order_ != second.order_) {
            for (int n = 0; n < count; ++n) {
                processPair(first, x0[n], second, x1[n]);
                y0[n] = first.lastOutput;
                y1[n] = second.lastOutput;
                if (!std::isfinite(y0[n]) || !std::isfinite(y1[n])) return n + 1;
            }
            return count;
        }
        // A single stage (the least "# Stages" gives) has its own copy of the
        // loop, with the stage loop gone.
        if (first.order_ == 1) return runPair<1>(first, x0, y0, second, x1, y1, count);
        return runPair<0>(first, x0, y0, second, x1, y1, count);
    }

    // The run of processRunPair; Order is the lattices' order when known at
    // compile time (0: their order_).
    template <int Order>
    static int runPair(CUnitWIIRLattice& first, const T* x0, T* y0, CUnitWIIRLattice& second, const T* x1, T* y1,
                       int count) {
        const int order = Order ? Order : first.order_;
        first.prepareFeedback();
        second.prepareFeedback();
        const Pair gNorm(first.gNorm_, second.gNorm_), lambda(first.lambda_, second.lambda_), m(first.m_, second.m_);
        Pair feedback(first.feedback_, second.feedback_);
        // Each sample reads the states the previous one wrote: the two halves of
        // each lattice's state swap roles from sample to sample.
        States states0(first), states1(second);
        for (int n = 0; n < count; ++n) {
            const Pair y = gNorm * (Pair(double(x0[n]), double(x1[n])) + feedback);
            PairStates lanes(states0, states1);
            const Pair next = advance<Pair>(lanes, y, lambda, m, order);
            T out0, out1;
            if (!lattice_detail::allFinite(y, next, out0, out1)) {
                // finish() clears what the sample left outside the finite range.
                first.endRun(n, feedback.lo());
                second.endRun(n, feedback.hi());
                y0[n] = first.finish(y.lo(), next.lo());
                y1[n] = second.finish(y.hi(), next.hi());
                return n + 1;
            }
            y0[n] = out0;
            y1[n] = out1;
            feedback = next;
            states0.swap();
            states1.swap();
        }
        first.endRun(count, feedback.lo());
        second.endRun(count, feedback.hi());
        first.lastOutput = y0[count - 1];
        second.lastOutput = y1[count - 1];
        return count;
    }

    // What chainRunPair took: samples through the FIR pair (and `between`), and
    // through the IIR pair.
    struct ChainRun {
        int whitened;
        int synthesised;
    };

    // Whether chainRunPair takes these lattices and a run of this length: four
    // lattices at one order of at least 1, and 1..kChainRun samples.
    static constexpr int kChainRun = 8;
    static bool chainFits(const CUnitWFIRLattice<T, Stages>& fir0, const CUnitWFIRLattice<T, Stages>& fir1,
                          const CUnitWIIRLattice& iir0, const CUnitWIIRLattice& iir1, int count) {
        const int order = iir0.order_;
        return &fir0 != &fir1 && &iir0 != &iir1 && order >= 1 && fir0.order_ == order && fir1.order_ == order &&
               iir1.order_ == order && count >= 1 && count <= kChainRun;
    }

    // A FIR lattice pair, a per-sample map of its outputs (`between(n, v0, v1)`
    // maps sample n's outputs in place) and an IIR lattice pair over a run: the
    // FIR pair takes sample n + 1 in the same pass over the stages as the IIR
    // pair takes sample n, so the two recursions overlap instead of following
    // each other. The results are exactly those of the FIR pair's
    // processRunPair over the whole run, `between` on each sample, and then
    // processRunPair of the IIR pair: m0 and m1 get the mapped FIR outputs, y0
    // and y1 the IIR outputs. As processRunPair, it stops after an IIR sample
    // that needs the owner's attention; the FIR side has then taken `whitened`
    // samples, and a FIR lattice that gave a non-finite output keeps its states
    // for the rest of the run, which clears them at its end. Needs chainFits().
    template <typename Between>
    static ChainRun chainRunPair(CUnitWFIRLattice<T, Stages>& fir0, CUnitWFIRLattice<T, Stages>& fir1,
                                 CUnitWIIRLattice& iir0, CUnitWIIRLattice& iir1, const T* x0, const T* x1, T* m0,
                                 T* m1, T* y0, T* y1, int count, Between between) {
        ChainFir<Between> fir(fir0, fir1, x0, x1, m0, m1, between);
        if (iir0.recomputeWaits_ && iir1.recomputeWaits_) {
            // The recomputation an update left goes beside the FIR pair's first sample.
            iir0.recomputeWaits_ = iir1.recomputeWaits_ = false;
            PairLanes lanes(iir0, iir1);
            lanes.r.run(lanes, iir0.order_, fir.beside(0));
            lanes.store(iir0, iir1);
        } else {
            fir.whitenAlone(0, iir0.order_);
        }
        iir0.prepareFeedback();
        iir1.prepareFeedback();
        const int order = iir0.order_;
        const Pair gNorm(iir0.gNorm_, iir1.gNorm_), lambda(iir0.lambda_, iir1.lambda_), m(iir0.m_, iir1.m_);
        Pair feedback(iir0.feedback_, iir1.feedback_);
        SideBySide lanes(iir0, iir1);
        for (int n = 0; n < count; ++n) {
            const Pair y = gNorm * (Pair(double(m0[n]), double(m1[n])) + feedback);
            Pair next;
            if (n + 1 < count)
                next = advance<Pair>(lanes, y, lambda, m, order, fir.beside(n + 1));
            else
                next = advance<Pair>(lanes, y, lambda, m, order);
            T out0, out1;
            if (!lattice_detail::allFinite(y, next, out0, out1)) {
                fir.end(count);
                lanes.end(iir0, iir1);
                iir0.endRun(n, feedback.lo());
                iir1.endRun(n, feedback.hi());
                y0[n] = iir0.finish(y.lo(), next.lo());
                y1[n] = iir1.finish(y.hi(), next.hi());
                return {fir.taken, n + 1};
            }
            y0[n] = out0;
            y1[n] = out1;
            feedback = next;
            lanes.swap();
        }
        fir.end(count);
        lanes.end(iir0, iir1);
        iir0.endRun(count, feedback.lo());
        iir1.endRun(count, feedback.hi());
        iir0.lastOutput = y0[count - 1];
        iir1.lastOutput = y1[count - 1];
        return {count, count};
    }

private:
    using Pair = lattice_detail::Pair;

    // The FIR side of chainRunPair: both lattices' states and coefficients side
    // by side for the run, and one sample at a time through the stages, either
    // alone or one stage per call beside the IIR pair's stages.
    template <typename Between>
    struct ChainFir {
        using Fir = CUnitWFIRLattice<T, Stages>;

        ChainFir(Fir& f0, Fir& f1, const T* in0, const T* in1, T* out0, T* out1, Between& map)
            : first(f0), second(f1), x0(in0), x1(in1), m0(out0), m1(out1), between(map),
              lambda(Pair(f0.lambda_, f1.lambda_).roundedToFloat()) {
            offset[0] = Pair(double(f0.antiDenormal), double(f1.antiDenormal));
            offset[1] = -offset[0];
            for (int i = 0; i < f0.order_; ++i) {
                s1[i] = Pair(f0.s1_[i], f1.s1_[i]);
                s2[i] = Pair(f0.s2_[i], f1.s2_[i]);
                k[i] = Pair(f0.c_[i], f1.c_[i]);
            }
        }

        void begin(int n) {
            a = Pair(double(x0[n]), double(x1[n])) + offset[n & 1];
            q = a;
        }

        void stage(int i) {
            const Pair u = s2[i] + lambda * (s1[i] - a);
            s2[i] = a;
            s1[i] = u;
            a = u + k[i] * q;
            q = q + k[i] * u;
        }

        // Sample n's outputs, as the FIR run gives them, through `between`.
        void finish(int n) {
            m0[n] = Fir::finiteOutput(q.lo(), finite0);
            m1[n] = Fir::finiteOutput(q.hi(), finite1);
            first.lastOutput = m0[n];
            second.lastOutput = m1[n];
            between(n, m0[n], m1[n]);
            taken = n + 1;
        }

        void whitenAlone(int n, int order) {
            begin(n);
            for (int i = 0; i < order; ++i) stage(i);
            finish(n);
        }

        // advance()'s companion: sample n beside the IIR pair's stages.
        struct Beside {
            ChainFir& fir;
            int n;
            void begin() { fir.begin(n); }
            void stage(int i) { fir.stage(i); }
            void finish() { fir.finish(n); }
        };
        Beside beside(int n) { return {*this, n}; }

        // The states go back to the lattices; a lattice that gave a non-finite
        // output is cleared once the run's last sample has passed it.
        void end(int count) {
            for (int i = 0; i < first.order_; ++i) {
                first.s1_[i] = s1[i].lo(), second.s1_[i] = s1[i].hi();
                first.s2_[i] = s2[i].lo(), second.s2_[i] = s2[i].hi();
            }
            if (taken & 1) {
                first.antiDenormal = -first.antiDenormal;
                second.antiDenormal = -second.antiDenormal;
            }
            if (taken < count) return;
            if (!finite0) first.clearStates();
            if (!finite1) second.clearStates();
        }

        Fir& first;
        Fir& second;
        const T* x0;
        const T* x1;
        T* m0;
        T* m1;
        Between& between;
        const Pair lambda;
        Pair offset[2];
        Pair a, q;
        bool finite0 = true, finite1 = true;
        int taken = 0;
        Pair s1[Stages], s2[Stages], k[Stages];
    };

    // The arithmetic of update() after the glide, on one lattice (V = double) or
    // on two side by side (V = Pair); read() gives stage i of coefficients or
    // states as a V.
    // No companion for advance() or Recompute::run.
    struct Alone {
        void begin() {}
        void stage(int) {}
        void finish() {}
    };

    template <typename V, typename Source>
    struct Recompute {
        V lambda, m, sum, feedback;

        // With `beside` given, its stage i runs in the same pass as stage i here,
        // for an order of at least 1.
        template <typename Beside = Alone>
        void run(const Source& src, int order, Beside beside = Beside()) {
            const V one = src.constant(1.0);
            m = one - lambda * lambda;
            V e = -lambda, f = one;
            sum = src.constant(0.0);
            feedback = src.constant(0.0);
            if (order <= 0) return;
            beside.begin();
            beside.stage(0);
            V k = src.k(0);
            sum = sum + e * k;
            V eNext = -lambda * (e - k * f);
            f = f - e * k;
            e = eNext;

            V w = m * src.rd(0);
            feedback = k * w;
            V acc = -k * w, z = src.constant(0.0);
            // Two stages per pass, so the carried values change registers
            // instead of being copied.
#pragma GCC unroll 2
            for (int i = 1; i < order; ++i) {
                const V kPrev = k;
                k = src.k(i);
                sum = sum + e * k;
                eNext = -lambda * (e - k * f);
                f = f - e * k;
                e = eNext;

                w = lambda * (kPrev * z - w) + m * src.rd(i);
                feedback = feedback + k * w;
                z = acc;
                acc = acc - k * w;
                beside.stage(i);
            }
            beside.finish();
        }
    };

    // One lattice's view for Recompute.
    struct Lane {
        explicit Lane(const CUnitWIIRLattice& l) : k_(l.c_), rd_(l.stateToggle_ ? l.s1_ : l.s2_) { r.lambda = l.lambda_; }
        double k(int i) const { return k_[i]; }
        double rd(int i) const { return rd_[i]; }
        static double constant(double c) { return c; }
        void recompute(int order) { r.run(*this, order); }
        void store(CUnitWIIRLattice& l) const { l.takeRecomputed(r.m, r.sum, r.feedback); }

        const double* k_;
        const double* rd_;
        Recompute<double, Lane> r;
    };

    // Two lattices' view for Recompute.
    struct PairLanes {
        PairLanes(const CUnitWIIRLattice& a, const CUnitWIIRLattice& b)
            : k0(a.c_), k1(b.c_), rd0(a.stateToggle_ ? a.s1_ : a.s2_), rd1(b.stateToggle_ ? b.s1_ : b.s2_) {
            r.lambda = Pair(a.lambda_, b.lambda_);
        }
        Pair k(int i) const { return Pair(k0[i], k1[i]); }
        Pair rd(int i) const { return Pair(rd0[i], rd1[i]); }
        static Pair constant(double c) { return Pair(c, c); }
        void recompute(int order) { r.run(*this, order); }
        void store(CUnitWIIRLattice& a, CUnitWIIRLattice& b) const {
            a.takeRecomputed(r.m.lo(), r.sum.lo(), r.feedback.lo());
            b.takeRecomputed(r.m.hi(), r.sum.hi(), r.feedback.hi());
        }

        const double* k0;
        const double* k1;
        const double* rd0;
        const double* rd1;
        Recompute<Pair, PairLanes> r;
    };

    // Completes a recomputation updatePairDeferred left.
    void settle() {
        if (!recomputeWaits_) return;
        recomputeWaits_ = false;
        Lane lane(*this);
        lane.recompute(Base::order_);
        lane.store(*this);
    }

    void takeRecomputed(double m, double sum, double feedback) {
        Base::m_ = m;
        const double g = 1.0 / (1.0 - sum);
        if (std::isfinite(g)) Base::gNorm_ = g;  // a loop gain of exactly 1 keeps the old gain
        feedback_ = feedback;
        feedbackReady_ = std::isfinite(feedback);
    }

    // The feedback through the previous sample's states, rd.
    static double feedbackSum(const double* rd, const double* k, double lambda, double m, int order) {
        if (order <= 0) return 0.0;
        double w = m * rd[0];
        double s = k[0] * w;
        double acc = -k[0] * w, z = 0.0;
        for (int i = 1; i < order; ++i) {
            w = lambda * (k[i - 1] * z - w) + m * rd[i];
            s += k[i] * w;
            z = acc;
            acc -= k[i] * w;
        }
        return s;
    }

    // The feedback sum over the previous sample's states, unless update() or the
    // previous sample left it ready.
    void prepareFeedback() {
        settle();
        if (feedbackReady_) return;
        const double* rd = Base::stateToggle_ ? Base::s1_ : Base::s2_;
        feedback_ = feedbackSum(rd, Base::c_, Base::lambda_, Base::m_, Base::order_);
    }

    // After the output y = gNorm (x + s) of one sample, the new states (wr;
    // element 0 is never written) from the previous ones (rd), with
    // P0 = y + lambda rd[0], q = y and per stage
    //   Qi = rd[i-1] - lambda P(i-1);  wr[i] = Qi + lambda rd[i] - k[i-1] q;
    //   q = q - Qi k[i-1]  (P(i-1) the value wr[i-1] just written),
    // and with them the next sample's feedback sum, which it returns:
    // w0 = m wr[0]; s = k0 w0; acc = -k0 w0; z = 0; per stage
    // wi = lambda (k[i-1] z - w(i-1)) + m wr[i]; s += k[i] wi; z = acc; acc -= k[i] wi.
    // V is double for one lattice, Pair for two side by side.
    // With `beside` given, its stage i runs in the same pass as stage i here
    // (its own arithmetic, independent of this lattice's), for an order of at
    // least 1.
    template <typename V, typename Src, typename Beside = Alone>
    static V advance(Src& src, V y, V lambda, V m, int order, Beside beside = Beside()) {
        if (order <= 0) return src.constant(0.0);
        beside.begin();
        beside.stage(0);
        V rdPrev = src.rd(0);
        V pPrev = y + lambda * rdPrev, q = y;
        V k = src.k(0);
        V w = m * src.wr(0);
        V next = k * w, acc = -k * w, z = src.constant(0.0);
        for (int i = 1; i < order; ++i) {
            const V kPrev = k;
            k = src.k(i);
            const V rdi = src.rd(i);
            const V qi = rdPrev - lambda * pPrev;
            const V wi = qi + lambda * rdi - kPrev * q;
            src.write(i, wi);
            q = q - qi * kPrev;
            pPrev = wi;

            w = lambda * (kPrev * z - w) + m * wi;
            next = next + k * w;
            z = acc;
            acc = acc - k * w;
            rdPrev = rdi;
            beside.stage(i);
        }
        beside.finish();
        return next;
    }

    // Ends one sample with output y and the next feedback sum.
    T finish(double y, double next) {
        feedback_ = next;
        feedbackReady_ = true;
        // A non-finite input (or an overflow) would stay in the states for good;
        // start again from silence instead.
        if (!std::isfinite(y) || !std::isfinite(next)) {
            Base::clearStates();
            feedbackReady_ = false;
            if (!std::isfinite(y)) y = 0.0;
        }
        Base::antiDenormal = -Base::antiDenormal;
        Base::stateToggle_ = !Base::stateToggle_;
        Base::lastOutput = T(y);
        return Base::lastOutput;
    }

    // What `samples` finished samples of a run leave besides the states, which
    // the run wrote in place: the feedback sum for the next sample and the
    // alternating offset sign and state halves.
    void endRun(int samples, double feedback) {
        feedback_ = feedback;
        feedbackReady_ = true;
        if (samples % 2) {
            Base::antiDenormal = -Base::antiDenormal;
            Base::stateToggle_ = !Base::stateToggle_;
        }
    }

    // One lattice's coefficients and states for advance().
    struct States {
        explicit States(CUnitWIIRLattice& l)
            : k_(l.c_), rd_(l.stateToggle_ ? l.s1_ : l.s2_), wr_(l.stateToggle_ ? l.s2_ : l.s1_) {}
        double k(int i) const { return k_[i]; }
        double rd(int i) const { return rd_[i]; }
        double wr(int i) const { return wr_[i]; }
        void write(int i, double v) { wr_[i] = v; }
        static double constant(double c) { return c; }
        void swap() { std::swap(rd_, wr_); }

        const double* __restrict k_;
        double* __restrict rd_;
        double* __restrict wr_;
    };

    // Two lattices' coefficients and states for advance(), copied side by side
    // for a run and written back at its end.
    struct SideBySide {
        SideBySide(CUnitWIIRLattice& a, CUnitWIIRLattice& b) : order(a.order_) {
            const States first(a), second(b);
            for (int i = 0; i < order; ++i) {
                coefficients[i] = Pair(first.k(i), second.k(i));
                halves[0][i] = Pair(first.rd(i), second.rd(i));
                halves[1][i] = Pair(first.wr(i), second.wr(i));
            }
        }
        Pair k(int i) const { return coefficients[i]; }
        Pair rd(int i) const { return read[i]; }
        Pair wr(int i) const { return written[i]; }
        void write(int i, Pair v) { written[i] = v; }
        static Pair constant(double c) { return Pair(c, c); }
        void swap() { std::swap(read, written); }

        // The states back where they came from (the lattices' halves have not
        // swapped yet).
        void end(CUnitWIIRLattice& a, CUnitWIIRLattice& b) const {
            States first(a), second(b);
            for (int i = 0; i < order; ++i) {
                first.rd_[i] = halves[0][i].lo(), second.rd_[i] = halves[0][i].hi();
                first.wr_[i] = halves[1][i].lo(), second.wr_[i] = halves[1][i].hi();
            }
        }

        const int order;
        Pair coefficients[Stages];
        Pair halves[2][Stages];
        Pair* read = halves[0];
        Pair* written = halves[1];
    };

    // Two lattices' coefficients and states for advance().
    struct PairStates {
        PairStates(CUnitWIIRLattice& a, CUnitWIIRLattice& b) : first(a), second(b) {}
        PairStates(const States& a, const States& b) : first(a), second(b) {}
        Pair k(int i) const { return Pair(first.k(i), second.k(i)); }
        Pair rd(int i) const { return Pair(first.rd(i), second.rd(i)); }
        Pair wr(int i) const { return Pair(first.wr(i), second.wr(i)); }
        void write(int i, Pair v) {
            first.write(i, v.lo());
            second.write(i, v.hi());
        }
        static Pair constant(double c) { return Pair(c, c); }

        States first, second;
    };

    double feedback_ = 0.0;
    bool feedbackReady_ = false;
    bool recomputeWaits_ = false;  // updatePairDeferred left the recomputation
};

}  // namespace kovalith
