// The chain run: a FIR lattice pair, a per-sample map of its outputs and an IIR
// lattice pair over a run of up to 8 samples, with the FIR pair taking sample
// n + 1 in the same pass over the stages as the IIR pair takes sample n, so the
// two recursions overlap instead of following each other. It gives exactly what
// process() of each FIR lattice, the map, and process() of each IIR lattice give
// sample by sample (the same as the two run forms one after the other). The
// engine takes it for a control step's samples whose wet inputs are all known
// before the step, when the lattices have two stages or more. Included at the
// end of dsp/WarpedLattice.h.
#pragma once

namespace kovalith {

// Whether chainRunPair takes these lattices and a run of this length: four
// lattices at one order of at least 1, and 1..kChainRun samples.
template <typename T, int Stages>
inline bool CUnitWIIRLattice<T, Stages>::chainFits(const Fir& fir0, const Fir& fir1, const CUnitWIIRLattice& iir0,
                                                   const CUnitWIIRLattice& iir1, int count) {
    const int order = iir0.order_;
    return &fir0 != &fir1 && &iir0 != &iir1 && order >= 1 && fir0.order_ == order && fir1.order_ == order &&
           iir1.order_ == order && count >= 1 && count <= kChainRun;
}

// `between(n, v0, v1)` maps sample n's FIR outputs in place; m0 and m1 get the
// mapped FIR outputs, y0 and y1 the IIR outputs. As the IIR run, it stops after
// an IIR sample that needs the owner's attention; the FIR side has then taken
// `whitened` samples, and a FIR lattice that gave a non-finite output keeps its
// states for the rest of the run, which clears them at its end. A loop-gain
// recomputation that updatePairDeferred left goes beside the FIR pair's first
// sample. Needs chainFits().
template <typename T, int Stages>
template <typename Between>
inline typename CUnitWIIRLattice<T, Stages>::ChainRun CUnitWIIRLattice<T, Stages>::chainRunPair(
    Fir& fir0, Fir& fir1, CUnitWIIRLattice& iir0, CUnitWIIRLattice& iir1, const T* x0, const T* x1, T* m0, T* m1,
    T* y0, T* y1, int count, Between between) {
    ChainFir<Between> fir(fir0, fir1, x0, x1, m0, m1, between);
    if (iir0.recomputeWaits_ && iir1.recomputeWaits_) {
        iir0.recomputeWaits_ = iir1.recomputeWaits_ = false;
        PairLanes lanes(iir0, iir1);
        lanes.recompute(iir0.order_, fir.beside(0));
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

// The FIR side of the chain run: both lattices' states and coefficients side by
// side for the run, and one sample at a time through the stages, either alone
// or one stage per call beside the IIR pair's stages.
template <typename T, int Stages>
template <typename Between>
struct CUnitWIIRLattice<T, Stages>::ChainFir {
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

    void stage(int i) { lattice_detail::firStage(s1[i], s2[i], lambda, k[i], a, q); }

    // Sample n's outputs, as the FIR run gives them, through `between`.
    void finish(int n) {
        m0[n] = Fir::runOutput(q.lo(), finite0);
        m1[n] = Fir::runOutput(q.hi(), finite1);
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

// Two lattices' coefficients and states copied side by side for a run and
// written back at its end, for advance().
template <typename T, int Stages>
struct CUnitWIIRLattice<T, Stages>::SideBySide {
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

}  // namespace kovalith
