// The audio engine: every DSP unit of the effect, owned by value, and the
// block pipeline that runs them.
//
// Threading: the effect's shell stores parameter values for the host and
// queues each change; the audio thread hands the changes to applyParameter in
// the order they were made, right before it calls process. So the units are
// only ever touched by the audio thread, and a block never sees a half-applied
// setting.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "dsp/Biquad.h"
#include "dsp/Delay.h"
#include "dsp/Dynamics.h"
#include "dsp/LFO.h"
#include "dsp/WarpedLPC.h"
#include "dsp/WarpedLattice.h"
#include "engine/ControlMath.h"
#include "engine/ParameterIds.h"

namespace kovalith {

// Where the engine gets the host's time information: one request per block,
// answered by whatever adapter connects the engine to its host.
class ITimeInfoSource {
public:
    virtual ~ITimeInfoSource() = default;
    // Fills `info` and answers true, or answers false when the host gives no
    // time information.
    virtual bool readHostTime(HostTimeInfo& info) = 0;
};

// The samples between two control steps: modulation and unit targets are
// evaluated once per group of this many samples.
constexpr int kControlPeriod = 8;
// Units keep these time bases whatever the host's rate (the lattices' smoothing
// factor is applied once per control step).
constexpr float kUnitSampleRate = 44100.0f;
constexpr float kLatticeSampleRate = 11025.0f;
constexpr int kMaxOrder = 70;
constexpr int kNumReflections = 100;
constexpr int kMaxAnalysisFrame = 1024;

// Every unit of the signal path; two of each per-channel unit.
struct CKovalithUnits {
    CUnitBiquad<float> biquad[2];
    CUnitLFO<float> lfo1, lfo2;
    CUnitFracDelay<float> delay[2];
    CUnitWFIRLattice<float> fir[2];
    CUnitWIIRLattice<float> iir[2];
    CUnitVariSpeedDelay<float> varispeed[2];
    CUnitLoFiDecimate<float> decimator[2];
    CUnitDCKiller<float> dcKiller[2];
    CEnvelopeFollower<float> envelope;
    CUnitCompressor<float> compressor;
    CUnitAnalysisBuffer<float> analysis;
    CWarpedLPCExtraction<float> lpc;
};

// What the latest block's set-up computed, for tests and displays.
struct CBlockSetup {
    TempoInfo tempo;
    float delaySamples = 0.0f;   // the right line's time in samples before the multiplier
    int analysisLength = 0;
    float loopLength = 0.0f;     // varispeed window, samples
    LfoRate lfo1, lfo2;
    int order = 1;
    int compressorLevel = 0;
    float mix = 0.0f;
    float outGain = 0.0f;
};

class CKovalithEngine {
public:
    CKovalithEngine();
    ~CKovalithEngine();
    CKovalithEngine(const CKovalithEngine&) = delete;
    CKovalithEngine& operator=(const CKovalithEngine&) = delete;

    // Once, from the effect's constructor: builds the unit list and gives every
    // unit its initial settings.
    void init();

    // Audio thread (or the constructor): one parameter change as the host made it,
    // with the engineering value the shell computed. Stores both for the pipeline
    // and reconfigures the units that react at once.
    void applyParameter(int index, float value, float engValue);

    // Any thread: the signal state is cleared before the next block.
    void requestReset();

    // Any thread: the host's sample rate, used from the next block on. A rate that
    // is not a positive number is ignored.
    void setSampleRate(float rate);

    // Audio thread: one host block. Always overwrites the outputs; does nothing
    // for null buffers or a non-positive frame count.
    void process(const float* const* inputs, float* const* outputs, int sampleFrames,
                 ITimeInfoSource* timeSource);

    // Any thread: the beat length in samples of the latest block (0 before the first).
    int samplesPerBeat() const { return samplesPerBeat_.load(std::memory_order_relaxed); }

    // Audio thread (or a test between blocks): read-only views of the state.
    const CKovalithUnits& units() const { return units_; }
    const CBlockSetup& blockSetup() const { return setup_; }
    const ControlTargets& targets() const { return targets_; }
    const float* reflectionCoefficients() const { return reflections_.data(); }
    float value(int index) const { return values_[index]; }
    float engValue(int index) const { return engValues_[index]; }

private:
    static constexpr int kNumUnits = 19;

    // In the order of Engine.cpp: the block, the control step, the groups, the
    // feedback side, the wet chain, the outputs; then set-up and parameters.
    void beginBlock(ITimeInfoSource* timeSource);
    void updateTimeInfo(ITimeInfoSource* timeSource);
    void updateDelayTimes();
    void setLfoRate(CUnitLFO<float>& lfo, float frequencyHz, float multiplier, LfoRate& record);
    void controlStep();
    void processGroup(const float* inL, const float* inR, float* outL, float* outR, int count);
    void processRun(const float* inL, const float* inR, float* outL, float* outR, int count);
    bool feedbackRun(const float* inL, const float* inR, const float* delayL, const float* delayR, float* sL,
                     float* sR, int count);
    void analysisBlockComplete();
    void wetChain(const float* sL, const float* sR, float* wL, float* wR, int count);
    void wetSample(float sL, float sR, float& wL, float& wR);
    void wetStageRuns(const float* sL, const float* sR, float* wL, float* wR, int count);
    void wetChainRun(const float* sL, const float* sR, float* wL, float* wR, int count);
    void synthesisRun(const float* dL, const float* dR, float* wL, float* wR, int count);
    void recoverIfNotFinite(float& wL, float& wR);
    void recoverChannel(int ch);
    void restartAbsurdChannels(bool left, bool right);
    void mixSample(float dryL, float dryR, float wL, float wR, float& outL, float& outR);
    void delayInputRun(const float* wL, const float* wR, float* line0, float* line1, int count);

    void performReset();
    void applyFeedbackFilter();
    void applyCompressorLevel(float value);
    void applyLfoShape(CUnitLFO<float>& lfo, float value);

    CKovalithUnits units_;
    std::array<CUnitProcessorBase<float>*, kNumUnits> unitList_{};
    std::array<float, kNumReflections> reflections_{};

    unsigned randomSeed_ = 0;  // the next seed for a random LFO table

    // Values set once per call to process, and the targets of each control step.
    CBlockSetup setup_;
    ModMatrix matrix_;
    TargetBase base_;
    ControlTargets targets_{};
    float feedback_ = 0.0f;
    float saturation_ = 0.0f;
    bool pingPong_ = false;
    bool compressorOn_ = false;
    // Both delay lines at least kControlPeriod - 1 samples long: every feedback
    // return a group reads was written before the group.
    bool groupReturnsWritten_ = false;
    // At least kControlPeriod samples: so was the lines' output after the group's
    // last write.
    bool returnAfterGroupWritten_ = false;

    float sampleRate_ = 44100.0f;  // the audio thread's copy for the current block
    std::atomic<float> pendingSampleRate_{44100.0f};
    std::atomic<bool> resetRequested_{false};
    std::atomic<int> samplesPerBeat_{0};
    float values_[kNumParams] = {};
    float engValues_[kNumParams] = {};
};

}  // namespace kovalith
