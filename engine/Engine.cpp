// The block pipeline: per-call set-up, control steps of 8 samples and the
// per-sample chain input + feedback -> saturation -> varispeed -> FIR lattice ->
// decimator -> IIR lattice -> mix, with the DC-blocked wet signal feeding the
// delay lines for the next sample's feedback.
#include "engine/Engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kovalith {

namespace {

// Inputs further out than this (about +80 dBFS) are limited on their way into the
// wet path, so their powers stay finite in the followers; NaN enters as silence.
constexpr float kMaxWetInput = 1.0e4f;

inline float wetInput(float x) {
    const float limited = x >= -kMaxWetInput ? (x <= kMaxWetInput ? x : kMaxWetInput) : -kMaxWetInput;
    return x == x ? limited : 0.0f;
}

// The wet chains' input (after the saturation) stays within 116 for inputs within
// +12 dBFS, even at the strongest saturation with full-scale feedback. Beyond this
// the cubic has blown up a spike or an over (1e4 becomes about 1e12 at the
// presets' saturation), and the synthesis lattice would ring with it for minutes
// while the music goes on. Such a sample enters as silence, the channel's wet
// output is silent to the end of the control step, and its wet path then starts
// again from silence.
constexpr float kAbsurdWetInput = 500.0f;

// (The wet input is never NaN: the input and the feedback enter as numbers.)
inline bool absurd(float s) { return std::fabs(s) > kAbsurdWetInput; }

// Absurd samples of s[0..count) enter the wet chain as silence; answers the
// first of them, or count.
inline int silenceAbsurd(float* s, int count) {
    int first = count;
    for (int n = count - 1; n >= 0; --n)
        if (absurd(s[n])) {
            s[n] = 0.0f;
            first = n;
        }
    return first;
}

// |fb| >= 1 becomes +-1 with its sign; a NaN becomes 0 rather than entering the loop.
inline float limitFeedback(float fb) {
    if (fb >= 1.0f) return 1.0f;
    if (fb <= -1.0f) return -1.0f;
    return fb == fb ? fb : 0.0f;
}

// The varispeed loop may not outgrow the delay store.
constexpr float kMaxLoopLength = 176399.0f;
// Delay times beyond the store are limited by the lines; this only keeps the
// arithmetic away from infinities before that.
constexpr float kMaxDelaySeconds = 1.0e6f;
// The first seed of the random LFO shapes; each random table takes the next one.
constexpr unsigned kFirstLfoSeed = 0x2545F491u;

// A unit whose output y left the finite range starts again from silence; y becomes 0.
template <typename Unit>
inline void restartIfNotFinite(Unit& unit, float& y) {
    if (std::isfinite(y)) return;
    unit.reset();
    y = 0.0f;
}

// A pair run form (RunPair: a unit's static run over both channels that stops
// after a sample whose output is not finite and returns the samples it took)
// over `count` samples. A unit that left the finite range there, e.g. a marginal
// filter that overflowed, is restarted at that sample and the run goes on.
template <auto RunPair, typename Unit>
void runPairRestarting(Unit& left, const float* xL, float* yL, Unit& right, const float* xR, float* yR, int count) {
    for (int n = 0; n < count;) {
        n += RunPair(left, xL + n, yL + n, right, xR + n, yR + n, count - n);
        restartIfNotFinite(left, yL[n - 1]);
        restartIfNotFinite(right, yR[n - 1]);
    }
}

}  // namespace

// One host block: the per-call set-up, then a control step before each group of
// kControlPeriod samples and the group's samples.
void CKovalithEngine::process(const float* const* inputs, float* const* outputs, int sampleFrames,
                              ITimeInfoSource* timeSource) {
    if (!outputs || !outputs[0] || !outputs[1] || sampleFrames <= 0) return;
    if (!inputs || !inputs[0] || !inputs[1]) {
        for (int ch = 0; ch < 2; ++ch)
            std::memset(outputs[ch], 0, sizeof(float) * static_cast<size_t>(sampleFrames));
        return;
    }
    if (resetRequested_.exchange(false, std::memory_order_acq_rel)) performReset();
    beginBlock(timeSource);

    // Control steps restart with every call; a last group shorter than a step
    // ends with the block, and the next call opens with a fresh step.
    for (int start = 0; start < sampleFrames; start += kControlPeriod) {
        controlStep();
        const int count = std::min(kControlPeriod, sampleFrames - start);
        processGroup(inputs[0] + start, inputs[1] + start, outputs[0] + start, outputs[1] + start, count);
    }
}

// The per-call set-up, before any sample: host time, delay times, analysis and
// varispeed lengths, LFO rates and the values read once per call.
void CKovalithEngine::beginBlock(ITimeInfoSource* timeSource) {
    sampleRate_ = pendingSampleRate_.load(std::memory_order_relaxed);
    updateTimeInfo(timeSource);
    updateDelayTimes();

    // The product in double: at 44100 Hz "Block Size" 0 gives 15 samples.
    const double length = static_cast<double>(sampleRate_) * static_cast<double>(engValues_[kBlockSize]);
    units_.analysis.setLength(length >= 1.0 && length < 44100.0 ? static_cast<int>(length) : 0);
    setup_.analysisLength = units_.analysis.getLength();

    setup_.loopLength = clampTo(values_[kBlockSize] * 1024.0f, 0.0f, kMaxLoopLength);
    for (auto& v : units_.varispeed) v.loopLength = setup_.loopLength;

    setLfoRate(units_.lfo1, engValues_[kLfo1Freq], syncFactor(values_[kLfo1Sync]), setup_.lfo1);
    setLfoRate(units_.lfo2, engValues_[kLfo2Freq], syncFactor(values_[kLfo2Sync]), setup_.lfo2);

    setup_.order = truncTo(engValues_[kNumStages], 1, kMaxOrder);
    matrix_ = readModMatrix(engValues_);
    base_ = readTargetBase(values_);

    // Values outside their host range (a damaged chunk) are limited where they
    // would otherwise drive the feedback loop or the output to infinity.
    feedback_ = clampTo(values_[kFeedback], -1.0f, 1.0f);
    saturation_ = clampTo(values_[kSaturation], 0.0f, 1.0f);
    pingPong_ = values_[kPingPong] >= 0.5f;
    setup_.compressorLevel = compressorLevel(values_[kCompressorType]);
    compressorOn_ = setup_.compressorLevel != kCompressorOff;
    setup_.mix = clampTo(values_[kMix], 0.0f, 1.0f);
    const float out = clampTo(values_[kOut], 0.0f, 1.0f);
    setup_.outGain = out * out * out * out;
    // The delay lines' outputs of a whole group can be read ahead when both lines
    // are at least as long as the group (less its last sample).
    const int shorterDelay = std::min(units_.delay[0].getDelaySamples(), units_.delay[1].getDelaySamples());
    groupReturnsWritten_ = shorterDelay >= kControlPeriod - 1;
    returnAfterGroupWritten_ = shorterDelay >= kControlPeriod;
}

void CKovalithEngine::updateTimeInfo(ITimeInfoSource* timeSource) {
    HostTimeInfo info;
    const bool answered = timeSource && timeSource->readHostTime(info);
    setup_.tempo = readTempoInfo(answered ? &info : nullptr, sampleRate_);
    samplesPerBeat_.store(setup_.tempo.samplesPerBeat, std::memory_order_relaxed);
}

void CKovalithEngine::updateDelayTimes() {
    float base = clampTo(engValues_[kDelay], 0.0f, kMaxDelaySeconds) * sampleRate_;
    base = syncedDelaySamples(base, syncFactor(values_[kDelaySync]), setup_.tempo.samplesPerBeat);
    setup_.delaySamples = base;
    // The multiplier scales the left line only; the lines limit the time to their store.
    units_.delay[0].setDelayTime(base / sampleRate_ * engValues_[kDelayStereoMult]);
    units_.delay[1].setDelayTime(base / sampleRate_);
}

void CKovalithEngine::setLfoRate(CUnitLFO<float>& lfo, float frequencyHz, float multiplier, LfoRate& record) {
    record = computeLfoRate(frequencyHz, multiplier, static_cast<float>(kControlPeriod), sampleRate_,
                            setup_.tempo.samplesPerBeat, setup_.tempo.ppqPosition);
    if (record.synced) lfo.setPhase(record.phase);
    lfo.setRate(record.rate);
}

// A control step: the modulation targets and every unit that takes them.
void CKovalithEngine::controlStep() {
    CKovalithUnits& u = units_;
    const float l1 = u.lfo1.tick();
    const float l2 = u.lfo2.tick();
    const float env = 10.0f * std::sqrt(std::max(u.envelope.lastOutput, 0.0f));
    const ModSums sums = computeModSums(matrix_, env, l1, l2);
    targets_ = computeTargets(base_, sums, u.varispeed[0].loopLength, u.varispeed[1].loopLength);
    const ControlTargets& t = targets_;

    u.decimator[0].setFactor(t.decimationL * 64.0f);
    u.decimator[1].setFactor(t.decimationR * 64.0f);

    CUnitWFIRLattice<float>::updatePair(u.fir[0], t.analysisWarp, t.analysisResonance, u.fir[1], t.analysisWarp,
                                        t.analysisResonance);
    // The IIR pair's loop-gain recomputation waits for the group's wet chain
    // (the chain run does it beside the FIR pair's first sample).
    CUnitWIIRLattice<float>::updatePairDeferred(u.iir[0], t.synthesisWarpL, t.synthesisResonanceL, u.iir[1],
                                                t.synthesisWarpR, t.synthesisResonanceR);

    // Without a stereo offset both cutoffs are the same: the right filter then
    // takes the left one's design.
    if (t.cutoffL > 0.01f && t.cutoffL < 0.49f * u.biquad[0].sampleRate) u.biquad[0].setFrequency(t.cutoffL);
    if (t.cutoffR > 0.01f && t.cutoffR < 0.49f * u.biquad[1].sampleRate)
        u.biquad[1].setFrequencyAs(t.cutoffR, u.biquad[0]);
    u.varispeed[0].speed = t.speedL;
    u.varispeed[1].speed = t.speedR;
}

// One control step's samples: as one run when every wet input can be known
// before the wet chains run (processRun), else sample by sample.
void CKovalithEngine::processGroup(const float* inL, const float* inR, float* outL, float* outR, int count) {
    // A group that completes an analysis block goes sample by sample: the new
    // block may change the lattices' order from that sample on.
    const CUnitAnalysisBuffer<float>& analysis = units_.analysis;
    if (groupReturnsWritten_ && analysis.getPosition() + count < analysis.getLength()) {
        processRun(inL, inR, outL, outR, count);
        return;
    }
    CKovalithUnits& u = units_;
    bool absurdL = false, absurdR = false;  // as in processRun
    for (int n = 0; n < count; ++n) {
        float sL, sR, wL, wR;
        if (feedbackRun(inL + n, inR + n, &u.delay[0].lastOutput, &u.delay[1].lastOutput, &sL, &sR, 1)) {
            absurdL = silenceAbsurd(&sL, 1) == 0 || absurdL;
            absurdR = silenceAbsurd(&sR, 1) == 0 || absurdR;
        }
        wetChain(&sL, &sR, &wL, &wR, 1);
        if (absurdL) wL = 0.0f;
        if (absurdR) wR = 0.0f;
        mixSample(inL[n], inR[n], wL, wR, outL[n], outR[n]);
        float line0, line1;
        delayInputRun(&wL, &wR, &line0, &line1, 1);
        u.delay[0].process(line0);
        u.delay[1].process(line1);
    }
    restartAbsurdChannels(absurdL, absurdR);
}

// A group whose feedback returns were all written before it: the delay lines'
// outputs for the whole group are read first, so every wet input is known
// before the wet chains run. The results are those of the sample order; only a
// wet chain that leaves the finite range is recovered after the group's FIR
// outputs were formed, not before.
void CKovalithEngine::processRun(const float* inL, const float* inR, float* outL, float* outR, int count) {
    CKovalithUnits& u = units_;
    float sL[kControlPeriod] = {}, sR[kControlPeriod] = {};
    // The lines' returns for the group: their last outputs, then what their next
    // count - 1 calls will return.
    float delayL[kControlPeriod + 1], delayR[kControlPeriod + 1];
    delayL[0] = u.delay[0].lastOutput;
    delayR[0] = u.delay[1].lastOutput;
    // Lines longer than the group also give the output of its last call.
    const int peeked = returnAfterGroupWritten_ ? count : count - 1;
    u.delay[0].peekRun(delayL + 1, peeked);
    u.delay[1].peekRun(delayR + 1, peeked);
    const bool absurdInput = feedbackRun(inL, inR, delayL, delayR, sL, sR, count);
    int absurdL = count, absurdR = count;
    if (absurdInput) {
        absurdL = silenceAbsurd(sL, count);
        absurdR = silenceAbsurd(sR, count);
    }
    float wL[kControlPeriod], wR[kControlPeriod];
    wetChain(sL, sR, wL, wR, count);
    if (absurdInput) {
        std::fill(wL + absurdL, wL + count, 0.0f);
        std::fill(wR + absurdR, wR + count, 0.0f);
        restartAbsurdChannels(absurdL < count, absurdR < count);
    }
    float line0[kControlPeriod], line1[kControlPeriod];
    for (int n = 0; n < count; ++n) mixSample(inL[n], inR[n], wL[n], wR[n], outL[n], outR[n]);
    delayInputRun(wL, wR, line0, line1, count);
    // The lines' outputs of these calls were read ahead above.
    if (returnAfterGroupWritten_) {
        u.delay[0].writeRun(line0, count, delayL[count]);
        u.delay[1].writeRun(line1, count, delayR[count]);
    } else {
        u.delay[0].writeRun(line0, count);
        u.delay[1].writeRun(line1, count);
    }
}

// Samples up to the wet chains (count at most one control step): compressor,
// envelope and analysis on the feedback side, the feedback filters on the delay
// lines' returns, the input sum and saturation. Leaves the wet chains' inputs in
// sL and sR and answers whether any of them is absurd. A run that completes an
// analysis block is one sample long (the new block may change the lattices from
// the next sample on).
//
// The filters run first over the whole run: nothing else here feeds them, and
// the detectors take each sample's previous filter output. Each detector then
// runs on its own over the run, so one sample's logarithm, exponential and root
// can overlap the next sample's. What has no recursion is formed over all the
// lanes of a control step at once, in loops of fixed length the compiler turns
// into vector operations; the lanes after a short run's end carry silence and
// are dropped.
bool CKovalithEngine::feedbackRun(const float* inL, const float* inR, const float* delayL, const float* delayR,
                                  float* sL, float* sR, int count) {
    CKovalithUnits& u = units_;
    // y[n + 1] is sample n's filter output.
    alignas(16) float yL[kControlPeriod + 1] = {}, yR[kControlPeriod + 1] = {};
    yL[0] = u.biquad[0].lastOutput;
    yR[0] = u.biquad[1].lastOutput;
    runPairRestarting<CUnitBiquad<float>::processSmoothedRunPair>(u.biquad[0], delayL, yL + 1, u.biquad[1], delayR,
                                                                  yR + 1, count);

    alignas(16) float xL[kControlPeriod] = {}, xR[kControlPeriod] = {};
    std::copy(inL, inL + count, xL);
    std::copy(inR, inR + count, xR);
    alignas(16) float power[kControlPeriod], level[kControlPeriod], mono[kControlPeriod];
    for (int n = 0; n < kControlPeriod; ++n) {
        xL[n] = wetInput(xL[n]);
        xR[n] = wetInput(xR[n]);
    }
    for (int n = 0; n < kControlPeriod; ++n) {
        const float fbRawL = yL[n] * feedback_;
        const float fbRawR = yR[n] * feedback_;
        power[n] = (fbRawL * fbRawL + fbRawR * fbRawR) * 0.5f;
        level[n] = (xL[n] * xL[n] + xR[n] * xR[n]) * 0.5f;
        mono[n] = (xL[n] + xR[n]) * 0.5f + fbRawL + fbRawR;
    }

    alignas(16) float gain[kControlPeriod];
    std::fill(gain, gain + kControlPeriod, 1.0f);
    if (compressorOn_)
        for (int n = 0; n < count; ++n) gain[n] = std::sqrt(u.compressor.computeGainSmoothed(power[n]));
    for (int n = 0; n < count; ++n) u.envelope.process(level[n]);
    for (int n = 0; n < count; ++n)
        if (u.analysis.process(mono[n]) != 0.0f) analysisBlockComplete();

    alignas(16) float l[kControlPeriod], r[kControlPeriod];
    for (int n = 0; n < kControlPeriod; ++n) {
        l[n] = xL[n] + limitFeedback(gain[n] * targets_.feedbackGainL * feedback_ * yL[n + 1]);
        r[n] = xR[n] + limitFeedback(gain[n] * targets_.feedbackGainR * feedback_ * yR[n + 1]);
    }
    if (saturation_ > 0.0f) {
        const float k = 1.0f + 0.8f * saturation_;
        for (int n = 0; n < kControlPeriod; ++n) {
            l[n] = k * l[n] - saturation_ * (l[n] * l[n] * l[n]);
            r[n] = k * r[n] - saturation_ * (r[n] * r[n] * r[n]);
        }
    }
    int absurdLanes = 0;
    // Both sides always evaluated (no branch), so the loop stays vectorised.
    for (int n = 0; n < kControlPeriod; ++n)
        absurdLanes |= static_cast<int>(absurd(l[n])) | static_cast<int>(absurd(r[n]));
    std::copy(l, l + count, sL);
    std::copy(r, r + count, sR);
    return absurdLanes != 0;
}

void CKovalithEngine::analysisBlockComplete() {
    CKovalithUnits& u = units_;
    const int order = setup_.order;
    const int frame = std::min(u.analysis.getLength(), kMaxAnalysisFrame);
    u.lpc.extract(u.analysis.data(), frame, reflections_.data(), order, targets_.analysisWarp);
    const float aRotate = finiteOr(values_[kARotate], 0.0f);
    const float sRotate = finiteOr(values_[kSRotate], 0.0f);
    u.fir[0].setCoefficientsRotated(reflections_.data(), order, aRotate);
    u.fir[1].setCoefficientsRotated(reflections_.data(), order, aRotate);
    u.iir[0].setCoefficientsRotated(reflections_.data(), order, sRotate);
    u.iir[1].setCoefficientsRotated(reflections_.data(), order, sRotate);
}

// Both channels' wet chains over `count` samples (at most a control step) whose
// wet inputs are all known: varispeed, FIR lattice, decimator, IIR lattice, the
// outputs into wL and wR. One rule picks the form, and every form gives exactly
// what the units give sample by sample:
// - one sample (a group that goes sample by sample): each unit's pair form;
// - lattices of a single stage: the stage runs, each unit over the whole run, as
//   a single stage has no recursion worth hiding and the chain run's set-up
//   costs more than it saves;
// - otherwise the chain run: the FIR pair takes each sample beside the IIR
//   pair's previous one, with the decimators between them.
// A wet path that leaves the finite range is cleared at that sample and gives 0
// (in a run, after the run's FIR outputs were formed).
void CKovalithEngine::wetChain(const float* sL, const float* sR, float* wL, float* wR, int count) {
    CKovalithUnits& u = units_;
    if (count > 1 && u.iir[0].order() >= 2 &&
        CUnitWIIRLattice<float>::chainFits(u.fir[0], u.fir[1], u.iir[0], u.iir[1], count)) {
        wetChainRun(sL, sR, wL, wR, count);
        return;
    }
    // The loop-gain recomputation the control step left for the chain run.
    CUnitWIIRLattice<float>::completeUpdatePair(u.iir[0], u.iir[1]);
    if (count == 1)
        wetSample(*sL, *sR, *wL, *wR);
    else
        wetStageRuns(sL, sR, wL, wR, count);
}

inline void CKovalithEngine::wetSample(float sL, float sR, float& wL, float& wR) {
    CKovalithUnits& u = units_;
    const float vL = u.varispeed[0].process(sL);
    const float vR = u.varispeed[1].process(sR);
    CUnitWFIRLattice<float>::processPair(u.fir[0], vL, u.fir[1], vR);
    const float dL = u.decimator[0].process(u.fir[0].lastOutput);
    const float dR = u.decimator[1].process(u.fir[1].lastOutput);
    CUnitWIIRLattice<float>::processPair(u.iir[0], dL, u.iir[1], dR);
    wL = u.iir[0].lastOutput;
    wR = u.iir[1].lastOutput;
    recoverIfNotFinite(wL, wR);
}

// The two varispeed units as one four-head computation, and the FIR lattices
// through the run stage by stage.
void CKovalithEngine::wetStageRuns(const float* sL, const float* sR, float* wL, float* wR, int count) {
    CKovalithUnits& u = units_;
    float vL[kControlPeriod], vR[kControlPeriod], dL[kControlPeriod], dR[kControlPeriod];
    CUnitVariSpeedDelay<float>::processRunPair(u.varispeed[0], sL, vL, u.varispeed[1], sR, vR, count);
    CUnitWFIRLattice<float>::processRunPair(u.fir[0], vL, dL, u.fir[1], vR, dR, count);
    u.decimator[0].processRun(dL, dL, count);
    u.decimator[1].processRun(dR, dR, count);
    synthesisRun(dL, dR, wL, wR, count);
}

void CKovalithEngine::wetChainRun(const float* sL, const float* sR, float* wL, float* wR, int count) {
    CKovalithUnits& u = units_;
    float vL[kControlPeriod], vR[kControlPeriod], dL[kControlPeriod], dR[kControlPeriod];
    CUnitVariSpeedDelay<float>::processRunPair(u.varispeed[0], sL, vL, u.varispeed[1], sR, vR, count);
    auto decimate = [&u](int, float& l, float& r) {
        l = u.decimator[0].process(l);
        r = u.decimator[1].process(r);
    };
    const auto run = CUnitWIIRLattice<float>::chainRunPair(u.fir[0], u.fir[1], u.iir[0], u.iir[1], vL, vR, dL, dR,
                                                           wL, wR, count, decimate);
    if (run.whitened < count) {
        // The rest of the FIR run goes first, as in the stage runs.
        const int w = run.whitened;
        CUnitWFIRLattice<float>::processRunPair(u.fir[0], vL + w, dL + w, u.fir[1], vR + w, dR + w, count - w);
        for (int n = w; n < count; ++n) decimate(n, dL[n], dR[n]);
    }
    const int n = run.synthesised;
    recoverIfNotFinite(wL[n - 1], wR[n - 1]);
    if (n < count) synthesisRun(dL + n, dR + n, wL + n, wR + n, count - n);
}

// The IIR lattice pair over a run of the decimators' outputs; a wet path that
// leaves the finite range is recovered at that sample.
void CKovalithEngine::synthesisRun(const float* dL, const float* dR, float* wL, float* wR, int count) {
    CKovalithUnits& u = units_;
    for (int n = 0; n < count;) {
        n += CUnitWIIRLattice<float>::processRunPair(u.iir[0], dL + n, wL + n, u.iir[1], dR + n, wR + n, count - n);
        recoverIfNotFinite(wL[n - 1], wR[n - 1]);
    }
}

// A wet output outside the finite range clears its channel's wet path and
// becomes 0.
void CKovalithEngine::recoverIfNotFinite(float& wL, float& wR) {
    if (!std::isfinite(wL)) {
        recoverChannel(0);
        wL = 0.0f;
    }
    if (!std::isfinite(wR)) {
        recoverChannel(1);
        wR = 0.0f;
    }
}

// Last line of defence: a wet path that left the finite range is cleared, so one
// bad sample cannot stay in the recursions for ever.
void CKovalithEngine::recoverChannel(int ch) {
    CKovalithUnits& u = units_;
    u.varispeed[ch].reset();
    u.fir[ch].reset();
    u.decimator[ch].reset();
    u.iir[ch].reset();
}

// A channel whose wet input went absurd in this group: its wet output was
// silence from that sample on, so the mix and the delay line never took what
// the absurd input gave, and its wet path now starts again from silence, as
// after a non-finite output.
void CKovalithEngine::restartAbsurdChannels(bool left, bool right) {
    CKovalithUnits& u = units_;
    // All that the varispeed heads can read: two loop lengths and the interpolation's sample.
    const int heard = 2 * static_cast<int>(std::ceil(setup_.loopLength)) + 2;
    for (int ch = 0; ch < 2; ++ch)
        if (ch == 0 ? left : right) {
            u.varispeed[ch].silenceRecent(heard);
            u.fir[ch].reset();
            u.decimator[ch].reset();
            u.iir[ch].reset();
        }
}

// The mix of one sample into the outputs.
inline void CKovalithEngine::mixSample(float dryL, float dryR, float wL, float wR, float& outL, float& outR) {
    outL = setup_.outGain * (dryL + setup_.mix * (wL - dryL));
    outR = setup_.outGain * (dryR + setup_.mix * (wR - dryR));
}

// The DC-blocked wet signals for the delay lines over a run (crossed for
// ping-pong): line0 feeds the left line, line1 the right. A wet sample near the
// float limit can overflow a blocker's state; it then starts again rather than
// writing NaN into four seconds of delay.
void CKovalithEngine::delayInputRun(const float* wL, const float* wR, float* line0, float* line1, int count) {
    CKovalithUnits& u = units_;
    runPairRestarting<CUnitDCKiller<float>::processRunPair>(u.dcKiller[0], wL, pingPong_ ? line1 : line0,
                                                            u.dcKiller[1], wR, pingPong_ ? line0 : line1, count);
}

// --- Set-up and parameters (outside the audio path, or between blocks) ---

CKovalithEngine::CKovalithEngine() = default;
CKovalithEngine::~CKovalithEngine() = default;

void CKovalithEngine::init() {
    CKovalithUnits& u = units_;
    unitList_ = {&u.biquad[0],    &u.biquad[1],    &u.lfo1,         &u.lfo2,         &u.delay[0],
                 &u.delay[1],     &u.fir[0],       &u.fir[1],       &u.iir[0],       &u.iir[1],
                 &u.varispeed[0], &u.varispeed[1], &u.decimator[0], &u.decimator[1], &u.dcKiller[0],
                 &u.dcKiller[1],  &u.envelope,     &u.compressor,   &u.analysis};
    for (CUnitProcessorBase<float>* unit : unitList_) {
        unit->setSampleRate(kUnitSampleRate);
        unit->reset();
    }

    BiquadParams filter;
    filter.frequency = 1000.0f;
    filter.q = 1.0f;
    filter.gain = 1.0f;
    filter.slope = 1.0f;
    for (auto& b : u.biquad) b.setFilter(kBiquadLowpass, filter);

    for (CUnitLFO<float>* lfo : {&u.lfo1, &u.lfo2}) {
        lfo->setShape(CUnitLFO<float>::kTriangle);
        lfo->setRate(0.0f);
    }
    u.analysis.setLength(512);

    CUnitWarpedLatticeBase<float>* lattices[4] = {&u.fir[0], &u.fir[1], &u.iir[0], &u.iir[1]};
    for (auto* lattice : lattices) {
        lattice->setCoefficientsNow(reflections_.data(), 6);
        lattice->setSampleRate(kLatticeSampleRate);
        lattice->setSmoothingTime(0.001f);
    }
    for (auto& d : u.decimator) d.setFactor(7.4f);

    u.envelope.setAttackTime(0.0f);
    u.envelope.setReleaseTime(0.0f);
    applyCompressorLevel(0.0f);
    randomSeed_ = kFirstLfoSeed;
}

void CKovalithEngine::applyParameter(int index, float value, float engValue) {
    if (index < 0 || index >= kNumParams) return;
    values_[index] = value;
    engValues_[index] = engValue;
    CKovalithUnits& u = units_;
    switch (index) {
        case kSmoothing:
            u.fir[0].setSmoothingTime(engValue);
            u.fir[1].setSmoothingTime(engValue);
            u.iir[0].setSmoothingTime(engValue);
            u.iir[1].setSmoothingTime(engValue);
            break;
        case kDecimation:
            for (auto& d : u.decimator) d.setFactor(64.0f * engValue);
            break;
        case kFilterType:
        case kCutoff:
        case kResonance:
            applyFeedbackFilter();
            break;
        case kEnvAttack:
            u.envelope.setAttackTime(engValue);
            break;
        case kEnvRelease:
            u.envelope.setReleaseTime(engValue);
            break;
        case kLfo1Shape:
            applyLfoShape(u.lfo1, value);
            break;
        case kLfo2Shape:
            applyLfoShape(u.lfo2, value);
            break;
        case kCompressorType:
            applyCompressorLevel(value);
            break;
        default:
            break;
    }
}

void CKovalithEngine::applyFeedbackFilter() {
    int type = 0;
    BiquadParams params;
    feedbackFilterSettings(engValues_[kFilterType], engValues_[kCutoff], engValues_[kResonance], type, params);
    // A refused type leaves the coefficients as they were (and is remembered by
    // the unit, so the control steps' cutoff updates are refused too).
    units_.biquad[0].setFilter(type, params);
    units_.biquad[1].setFilter(type, params);
}

void CKovalithEngine::applyCompressorLevel(float value) {
    const CompressorLevel& level = kCompressorLevels[compressorLevel(value)];
    CUnitCompressor<float>& c = units_.compressor;
    c.setRatio(level.ratio);
    c.setThreshold(level.thresholdDb);
    c.setAttackTime(level.attack);
    c.setReleaseTime(level.release);
}

void CKovalithEngine::applyLfoShape(CUnitLFO<float>& lfo, float value) {
    // Numbers without a shape keep the table; NaN and huge values are such numbers.
    const int shape = (value >= 0.0f && value < 1024.0f) ? static_cast<int>(value) : -1;
    // The random shapes draw from the engine's own seed sequence: reproducible
    // renders, a new table at every choice, and no clock read on the audio thread.
    lfo.setRandomSeed(randomSeed_);
    randomSeed_ = randomSeed_ * 1664525u + 1013904223u;
    lfo.setShape(shape);
}

void CKovalithEngine::requestReset() { resetRequested_.store(true, std::memory_order_release); }

void CKovalithEngine::setSampleRate(float rate) {
    if (!(rate > 0.0f) || !std::isfinite(rate)) return;
    pendingSampleRate_.store(rate, std::memory_order_relaxed);
}

void CKovalithEngine::performReset() {
    units_.lpc.reset();
    for (CUnitProcessorBase<float>* unit : unitList_) unit->reset();
    reflections_.fill(0.0f);
}

}  // namespace kovalith
