// The run forms of the warped lattices: both channels' lattices of a kind over a
// run of up to 8 samples during which the coefficients and the warp stay put,
// giving exactly the outputs and end states that process() sample by sample
// gives. The engine takes them for a control step's samples whose wet inputs are
// all known before the step (its feedback returns were written before it) when
// the lattices have a single stage, and to finish a chain run
// (WarpedLatticeChain.h) that stopped early. Included at the end of
// dsp/WarpedLattice.h.
#pragma once

namespace kovalith {

// --- The all-zero run -------------------------------------------------------

// Stage by stage instead of sample by sample: within a stage only the allpass
// section recurs from one sample to the next, so the stages' recursions overlap
// instead of forming one chain through every stage of every sample. Only a
// non-finite result is handled per run: it comes out as 0 and the lattice's
// states are cleared at the end of the run.
template <typename T, int Stages>
inline void CUnitWFIRLattice<T, Stages>::processRunPair(CUnitWFIRLattice& first, const T* x0, T* y0,
                                                        CUnitWFIRLattice& second, const T* x1, T* y1, int count) {
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

// Length is the run's length when known at compile time (0: `count`).
template <typename T, int Stages>
template <int Length>
inline void CUnitWFIRLattice<T, Stages>::runPair(CUnitWFIRLattice& first, const T* x0, T* y0,
                                                 CUnitWFIRLattice& second, const T* x1, T* y1, int count) {
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
        y0[n] = runOutput(q[n].lo(), finite0);
        y1[n] = runOutput(q[n].hi(), finite1);
    }
    if (!finite0) first.clearStates();
    if (!finite1) second.clearStates();
    first.lastOutput = y0[length - 1];
    second.lastOutput = y1[length - 1];
}

// A single stage (the least "# Stages" gives): each sample goes in, through the
// stage and out in one pass, with the stage's states in registers.
template <typename T, int Stages>
inline void CUnitWFIRLattice<T, Stages>::runOneStage(CUnitWFIRLattice& first, const T* x0, T* y0,
                                                     CUnitWFIRLattice& second, const T* x1, T* y1, int count) {
    // The offsets' signs alternate from sample to sample.
    const Pair offset[2] = {Pair(double(first.antiDenormal), double(second.antiDenormal)),
                            Pair(double(-first.antiDenormal), double(-second.antiDenormal))};
    const Pair lambda = Pair(first.lambda_, second.lambda_).roundedToFloat();
    const Pair k(first.c_[0], second.c_[0]);
    Pair s1(first.s1_[0], second.s1_[0]), s2(first.s2_[0], second.s2_[0]);
    bool finite0 = true, finite1 = true;
    for (int n = 0; n < count; ++n) {
        Pair a = Pair(double(x0[n]), double(x1[n])) + offset[n & 1], q = a;
        lattice_detail::firStage(s1, s2, lambda, k, a, q);
        y0[n] = runOutput(q.lo(), finite0);
        y1[n] = runOutput(q.hi(), finite1);
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

// Stages i .. i+G-1 over the run, taken together in one pass: a sample's a and
// q go through them one after the other while the stages' states and
// coefficients stay in registers.
template <typename T, int Stages>
template <int G, int Length>
inline void CUnitWFIRLattice<T, Stages>::stagesOverRun(CUnitWFIRLattice& first, CUnitWFIRLattice& second, int i,
                                                       Pair lambda, Pair* a, Pair* q, int count) {
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
        for (int g = 0; g < G; ++g) lattice_detail::firStage(s1[g], s2[g], lambda, k[g], an, qn);
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

// A run's output: a non-finite one is 0, and `finite` records it.
template <typename T, int Stages>
inline T CUnitWFIRLattice<T, Stages>::runOutput(double q, bool& finite) {
    if (std::isfinite(q)) return T(q);
    finite = false;
    return T(0);
}

// --- The all-pole run -------------------------------------------------------

// processPair over a run of samples, with the outputs in y0 and y1. The loop
// gains, warps and feedback sums stay in registers from one sample to the next.
// It stops after a sample that leaves a lattice without its feedback sum or
// gives an output outside the finite range, so the owner can act on it before
// the next; returns how many samples it took.
template <typename T, int Stages>
inline int CUnitWIIRLattice<T, Stages>::processRunPair(CUnitWIIRLattice& first, const T* x0, T* y0,
                                                       CUnitWIIRLattice& second, const T* x1, T* y1, int count) {
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

// Order is the lattices' order when known at compile time (0: their order_).
template <typename T, int Stages>
template <int Order>
inline int CUnitWIIRLattice<T, Stages>::runPair(CUnitWIIRLattice& first, const T* x0, T* y0,
                                                CUnitWIIRLattice& second, const T* x1, T* y1, int count) {
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

// What `samples` finished samples of a run leave besides the states, which the
// run wrote in place: the feedback sum for the next sample and the alternating
// offset sign and state halves.
template <typename T, int Stages>
inline void CUnitWIIRLattice<T, Stages>::endRun(int samples, double feedback) {
    feedback_ = feedback;
    feedbackReady_ = true;
    if (samples % 2) {
        Base::antiDenormal = -Base::antiDenormal;
        Base::stateToggle_ = !Base::stateToggle_;
    }
}

}  // namespace kovalith
