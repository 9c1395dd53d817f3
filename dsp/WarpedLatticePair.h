// The pair forms of the warped lattices: both channels' lattices of a kind in one
// pass, updatePair and processPair giving exactly what update() and process() of
// each lattice give, the two lattices' arithmetic side by side (as SSE2 lanes
// where the target has them) so that the two recursions overlap. The engine runs
// them on groups that go sample by sample, and its control steps update the
// lattices through them. Included at the end of dsp/WarpedLattice.h.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kovalith {

namespace lattice_detail {

// Two doubles computed lane by lane: the two channels' lattices of a kind side
// by side. Each lane's arithmetic is exactly the scalar arithmetic of its own
// lattice.
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

// --- Both kinds: warp, gain and glide of two lattices ----------------------

// approach() of two lattices, the warps side by side and the gains side by side
// when all four targets are finite.
template <typename T, int Stages>
inline void CUnitWarpedLatticeBase<T, Stages>::approachBoth(CUnitWarpedLatticeBase& a, double warp0, double gain0,
                                                             CUnitWarpedLatticeBase& b, double warp1, double gain1) {
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

// One lattice's glide step c = keep c + take p, on one coefficient or, as one
// SSE2 operation, two.
template <typename T, int Stages>
struct CUnitWarpedLatticeBase<T, Stages>::Glide {
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

// glide() of two lattices of the same order in one loop.
template <typename T, int Stages>
inline void CUnitWarpedLatticeBase<T, Stages>::glideBoth(CUnitWarpedLatticeBase& a, CUnitWarpedLatticeBase& b) {
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

// --- The all-zero pair ------------------------------------------------------

// update(targetWarp, targetGain) of both channels' lattices, the two warps and
// gains side by side and the two glides in one loop.
template <typename T, int Stages>
inline void CUnitWFIRLattice<T, Stages>::updatePair(CUnitWFIRLattice& first, double warp0, double gain0,
                                                    CUnitWFIRLattice& second, double warp1, double gain1) {
    if (&first == &second) {
        first.update(warp0, gain0);
        first.update(warp1, gain1);
        return;
    }
    Base::approachBoth(first, warp0, gain0, second, warp1, gain1);
    Base::glideBoth(first, second);
}

// The two lattices' samples interleaved stage by stage; the two recursions are
// independent, so they overlap instead of running one after the other.
template <typename T, int Stages>
inline void CUnitWFIRLattice<T, Stages>::processPair(CUnitWFIRLattice& first, T x0, CUnitWFIRLattice& second, T x1) {
    if (Base::processApart(first, x0, second, x1)) return;
    const double lambda0 = double(float(first.lambda_)), lambda1 = double(float(second.lambda_));
    double a0 = double(x0) + double(first.antiDenormal), q0 = a0;
    double a1 = double(x1) + double(second.antiDenormal), q1 = a1;
    for (int i = 0; i < first.order_; ++i) {
        lattice_detail::firStage(first.s1_[i], first.s2_[i], lambda0, first.c_[i], a0, q0);
        lattice_detail::firStage(second.s1_[i], second.s2_[i], lambda1, second.c_[i], a1, q1);
    }
    first.antiDenormal = -first.antiDenormal;
    second.antiDenormal = -second.antiDenormal;
    first.lastOutput = finiteOutput(first, q0);
    second.lastOutput = finiteOutput(second, q1);
}

// --- The all-pole pair ------------------------------------------------------
//
// The feedback sum a sample needs depends only on the states the previous sample
// left, so the faster forms compute it for the next sample in the same pass as
// the state update (advance()), and a control step's loop-gain recomputation
// forms it too; the two recursions then overlap instead of running one after
// the other. Whatever changes the coefficients, the warp, the order or the
// states discards that sum, and the next sample forms it afresh. One edge
// differs from process(): a next feedback sum beyond the double range clears
// the states at once, where process() clears them a sample later (its output is
// then 0).

template <typename T, int Stages>
inline void CUnitWIIRLattice<T, Stages>::updatePair(CUnitWIIRLattice& first, double warp0, double gain0,
                                                    CUnitWIIRLattice& second, double warp1, double gain1) {
    if (updatePairDeferred(first, warp0, gain0, second, warp1, gain1)) completeUpdatePair(first, second);
}

// updatePair with the loop-gain recomputation left for later: the glide is
// done, and the recomputation, which runs through every stage, waits for the
// pair's next chainRunPair (beside the FIR pair's first sample there), for
// completeUpdatePair, or for whatever next touches a lattice, which completes
// its own first. Either way each ends exactly as its update would leave it.
// Returns whether the recomputation waits.
template <typename T, int Stages>
inline bool CUnitWIIRLattice<T, Stages>::updatePairDeferred(CUnitWIIRLattice& first, double warp0, double gain0,
                                                            CUnitWIIRLattice& second, double warp1, double gain1) {
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
template <typename T, int Stages>
inline void CUnitWIIRLattice<T, Stages>::completeUpdatePair(CUnitWIIRLattice& first, CUnitWIIRLattice& second) {
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

template <typename T, int Stages>
inline void CUnitWIIRLattice<T, Stages>::processPair(CUnitWIIRLattice& first, T x0, CUnitWIIRLattice& second, T x1) {
    if (Base::processApart(first, x0, second, x1)) return;
    first.prepareFeedback();
    second.prepareFeedback();
    const Pair y =
        Pair(first.gNorm_, second.gNorm_) * (Pair(double(x0), double(x1)) + Pair(first.feedback_, second.feedback_));
    PairStates lanes(first, second);
    const Pair next =
        advance<Pair>(lanes, y, Pair(first.lambda_, second.lambda_), Pair(first.m_, second.m_), first.order_);
    first.finish(y.lo(), next.lo());
    second.finish(y.hi(), next.hi());
}

// The feedback sum over the previous sample's states, unless the loop-gain
// recomputation or the previous sample left it ready.
template <typename T, int Stages>
inline void CUnitWIIRLattice<T, Stages>::prepareFeedback() {
    settle();
    if (feedbackReady_) return;
    const double* r = Base::stateToggle_ ? Base::s1_ : Base::s2_;
    feedback_ = feedbackSum(r, Base::c_, Base::lambda_, Base::m_, Base::order_);
}

// Ends one sample with output y and the next feedback sum.
template <typename T, int Stages>
inline T CUnitWIIRLattice<T, Stages>::finish(double y, double next) {
    feedback_ = next;
    feedbackReady_ = true;
    // As in process(); a feedback sum out of range clears the states as well.
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

// No companion for advance() or PairLanes::recompute.
template <typename T, int Stages>
struct CUnitWIIRLattice<T, Stages>::Alone {
    void begin() {}
    void stage(int) {}
    void finish() {}
};

// Two lattices' loop-gain recomputation after their glide, with the feedback sum
// over their present states formed in the same pass.
template <typename T, int Stages>
struct CUnitWIIRLattice<T, Stages>::PairLanes {
    PairLanes(const CUnitWIIRLattice& a, const CUnitWIIRLattice& b)
        : k0(a.c_), k1(b.c_), r0(a.stateToggle_ ? a.s1_ : a.s2_), r1(b.stateToggle_ ? b.s1_ : b.s2_),
          lambda(a.lambda_, b.lambda_) {}
    Pair k(int i) const { return Pair(k0[i], k1[i]); }
    Pair r(int i) const { return Pair(r0[i], r1[i]); }

    // With `beside` given, its stage i runs in the same pass as stage i here,
    // for an order of at least 1.
    template <typename Beside = Alone>
    void recompute(int order, Beside beside = Beside()) {
        const Pair one(1.0, 1.0), zero(0.0, 0.0);
        m = one - lambda * lambda;
        lattice_detail::LoopGainSum<Pair> loop(lambda, one, zero);
        sum = feedback = zero;
        if (order <= 0) return;
        beside.begin();
        beside.stage(0);
        Pair kNow = k(0);
        loop.stage(kNow, lambda);
        lattice_detail::FeedbackSum<Pair> fb(kNow, m, r(0), zero);
        // Two stages per pass, so the carried values change registers
        // instead of being copied.
#pragma GCC unroll 2
        for (int i = 1; i < order; ++i) {
            const Pair kPrev = kNow;
            kNow = k(i);
            loop.stage(kNow, lambda);
            fb.stage(kPrev, kNow, lambda, m, r(i));
            beside.stage(i);
        }
        beside.finish();
        sum = loop.sum;
        feedback = fb.s;
    }

    void store(CUnitWIIRLattice& a, CUnitWIIRLattice& b) const {
        a.Base::m_ = m.lo(), b.Base::m_ = m.hi();
        a.takeLoopGain(sum.lo()), b.takeLoopGain(sum.hi());
        a.feedback_ = feedback.lo(), b.feedback_ = feedback.hi();
        a.feedbackReady_ = std::isfinite(a.feedback_);
        b.feedbackReady_ = std::isfinite(b.feedback_);
    }

    const double* k0;
    const double* k1;
    const double* r0;
    const double* r1;
    const Pair lambda;
    Pair m, sum, feedback;
};

// One lattice's coefficients and state halves for advance(): rd the previous
// sample's states (R), wr the ones this sample writes (W).
template <typename T, int Stages>
struct CUnitWIIRLattice<T, Stages>::States {
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

// Two lattices' coefficients and states for advance().
template <typename T, int Stages>
struct CUnitWIIRLattice<T, Stages>::PairStates {
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

// After the output y = gNorm (x + s) of one sample, process()'s state update
// from rd into wr, and with it the next sample's feedback sum over wr, which it
// returns. V is double for one lattice, Pair for two side by side. With
// `beside` given, its stage i runs in the same pass as stage i here (its own
// arithmetic, independent of this lattice's), for an order of at least 1.
template <typename T, int Stages>
template <typename V, typename Src, typename Beside>
inline V CUnitWIIRLattice<T, Stages>::advance(Src& src, V y, V lambda, V m, int order, Beside beside) {
    if (order <= 0) return src.constant(0.0);
    beside.begin();
    beside.stage(0);
    V rPrev = src.rd(0);
    V p = y + lambda * rPrev, q = y;
    V k = src.k(0);
    lattice_detail::FeedbackSum<V> next(k, m, src.wr(0), src.constant(0.0));
    for (int i = 1; i < order; ++i) {
        const V kPrev = k;
        k = src.k(i);
        const V r = src.rd(i);
        p = lattice_detail::iirStateStage(rPrev, p, r, kPrev, lambda, q);
        src.write(i, p);
        next.stage(kPrev, k, lambda, m, p);
        rPrev = r;
        beside.stage(i);
    }
    beside.finish();
    return next.s;
}

}  // namespace kovalith
