// The VST 2.4 shell: the effect as a VST 2.4 host sees it (identity, the
// dispatcher's parameter, program and chunk requests, MIDI events, host time),
// answering from the format-neutral KovalithEffect it owns.
#pragma once

#include <memory>

#include "effect/KovalithEffect.h"
#include "plugin/AudioEffectX.h"

namespace kovalith {

constexpr int32_t kUniqueId = vst2::fourCC('Q', 'Z', 'V', 'M');
constexpr const char* kEffectName = "Kovalith";
constexpr const char* kProductName = "Kovalith";
constexpr const char* kVendorName = "kovalith.audio";
constexpr int32_t kVendorVersion = 90;

// The engine's one time request per block: position, tempo, bars, signature and
// transport change (0x2E01).
constexpr int32_t kTimeInfoRequest = vst2::kVstPpqPosValid | vst2::kVstTempoValid | vst2::kVstBarsValid |
                                     vst2::kVstTimeSigValid | vst2::kVstTransportChanged;

// The engine's time record from the host's: the fields with their validity flags.
HostTimeInfo hostTimeFrom(const vst2::VstTimeInfo& info);

class Kovalith : public AudioEffectX, public ITimeInfoSource, private IEffectListener {
public:
    // `effect` replaces the effect the shell would create (tests observe it that way).
    explicit Kovalith(vst2::audioMasterCallback audioMaster, std::unique_ptr<KovalithEffect> effect = nullptr);
    ~Kovalith() override;

    void resume() override;
    void setSampleRate(float rate) override;
    void processReplacing(float** inputs, float** outputs, int32_t sampleFrames) override;
    // 0..66: a parameter, in 0..1 as hosts move it (a menu of more than two
    // items as its item's position); 68..134: a MIDI-learn command for
    // parameter index - 68. Non-finite values are not taken: the parameter
    // keeps its value.
    void setParameter(int32_t index, float value) override;
    float getParameter(int32_t index) override;
    void setProgram(int32_t program) override;
    int32_t getProgram() override;
    void setProgramName(const char* name) override;
    void getProgramName(char* name) override;
    void getParameterLabel(int32_t index, char* label) override;
    void getParameterDisplay(int32_t index, char* text) override;
    void getParameterName(int32_t index, char* text) override;
    int32_t getChunk(void** data, bool isPreset) override;
    int32_t setChunk(const void* data, int32_t byteSize, bool isPreset) override;
    int32_t processEvents(const vst2::VstEvents* events) override;
    bool getEffectName(char* name) override;
    bool getVendorString(char* text) override;
    bool getProductString(char* text) override;
    int32_t getVendorVersion() override;
    int32_t canDo(const char* text) override;

    // The accumulating entry: processes like processReplacing.
    virtual void processAccumulating(float** inputs, float** outputs, int32_t sampleFrames);

    // The engine's one time request per block, asked of the host with kTimeInfoRequest.
    bool readHostTime(HostTimeInfo& info) override;

    KovalithEffect& effect() { return *effect_; }
    const KovalithEffect& effect() const { return *effect_; }

    // Shorthands of the effect's read-back, for the editor and tests; any thread.
    void applyPendingChanges() { effect_->applyPendingChanges(); }
    float getEngineeringValue(int index) const { return effect_->getEngineeringValue(index); }
    float getSyncedValue(int index) const { return effect_->getSyncedValue(index); }
    int controllerOf(int param) const { return effect_->controllerOf(param); }
    int parameterOf(int controller) const { return effect_->parameterOf(controller); }
    bool isLearnArmed() const { return effect_->isLearnArmed(); }
    int learnParameter() const { return effect_->learnParameter(); }
    bool hasBank() const { return effect_->hasBank(); }
    unsigned resyncCount() const { return effect_->resyncCount(); }

private:
    void parameterChanged(int index, float value) override;
    void parameterSetByController(int index, float value) override;

    std::unique_ptr<KovalithEffect> effect_;
};

}  // namespace kovalith
