// The audio engine: every DSP unit of the effect, owned by value, and the
// block pipeline that runs them.
//
// Threading: the effect's shell stores parameter values for the host and
// queues each change; the audio thread hands the changes to applyParameter in
// the order they were made, right before it calls process. So the units are
// only ever touched by the audio thread, and a block never sees a half-applied
// setting.
#pragma once

#include <atomic>
#include <cstdint>

#include "plugin/ParameterIds.h"
#include "plugin/vst2.h"

namespace kovalith {

// Where the engine gets the host's time information: one request per block.
class ITimeInfoSource {
public:
    virtual ~ITimeInfoSource() = default;
    // Returns null when the host gives no time information.
    virtual const vst2::VstTimeInfo* getTimeInfo(int32_t filter) = 0;
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

    // Any thread: the host's sample rate, used from the next block on.
    void setSampleRate(float rate);

    // Audio thread: one host block. Always overwrites the outputs; does nothing
    // for null buffers or a non-positive frame count.
    void process(const float* const* inputs, float* const* outputs, int sampleFrames,
                 ITimeInfoSource* timeSource);

    // Any thread: the beat length in samples of the latest block (0 before the first).
    int samplesPerBeat() const { return samplesPerBeat_.load(std::memory_order_relaxed); }

private:
    std::atomic<float> sampleRate_{44100.0f};
    std::atomic<bool> resetRequested_{false};
    std::atomic<int> samplesPerBeat_{0};
    float values_[kNumParams] = {};
    float engValues_[kNumParams] = {};
};

}  // namespace kovalith
