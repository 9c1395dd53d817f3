// The effect as the host sees it: identity, parameters, programs and chunks,
// MIDI learn, and the hand-over of every change to the audio engine.
//
// Threading: the host and the editor call the parameter, program and chunk
// operations from their own threads while the audio thread processes. Those
// operations store the values for read-back at once (atomics) and queue each
// change; the audio thread replays the queue in order into the engine at the
// start of every block, so the engine never sees a half-applied program and
// nobody waits.
#pragma once

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "engine/Engine.h"
#include "plugin/AudioEffectX.h"
#include "plugin/ChangeQueue.h"
#include "plugin/Parameters.h"
#include "plugin/Programs.h"

namespace kovalith {

constexpr int32_t kUniqueId = vst2::fourCC('Q', 'Z', 'V', 'M');
constexpr const char* kEffectName = "Kovalith";
constexpr const char* kProductName = "Kovalith";
constexpr const char* kVendorName = "kovalith.audio";
constexpr int32_t kVendorVersion = 90;
constexpr std::size_t kChangeQueueCapacity = 1024;

// The engine's one time request per block: position, tempo, bars, signature and
// transport change (0x2E01).
constexpr int32_t kTimeInfoRequest = vst2::kVstPpqPosValid | vst2::kVstTempoValid | vst2::kVstBarsValid |
                                     vst2::kVstTimeSigValid | vst2::kVstTransportChanged;

// The engine's time record from the host's: the fields with their validity flags.
HostTimeInfo hostTimeFrom(const vst2::VstTimeInfo& info);

class Kovalith : public AudioEffectX, public ITimeInfoSource {
public:
    explicit Kovalith(vst2::audioMasterCallback audioMaster);
    ~Kovalith() override;

    void resume() override;
    void setSampleRate(float rate) override;
    void processReplacing(float** inputs, float** outputs, int32_t sampleFrames) override;
    // 0..66: a parameter; 68..134: a MIDI-learn command for parameter index - 68.
    // Non-finite values are not taken: the parameter keeps its value.
    void setParameter(int32_t index, float value) override;
    float getParameter(int32_t index) override;
    void setProgram(int32_t program) override;
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

    // Once, from the constructor: the engine's units get their initial settings.
    virtual void initEngine();
    // The accumulating entry: processes like processReplacing.
    virtual void processAccumulating(float** inputs, float** outputs, int32_t sampleFrames);
    // Audio thread: applies the queued changes, then runs one block.
    virtual void processEngine(float** inputs, float** outputs, int32_t sampleFrames, bool replacing);
    // The engineering value, or for a synced "Delay" / "LFO n Freq" the time
    // as a count of sync units (what the editor shows).
    virtual float getSyncedValue(int index);
    virtual void buildFactoryPresets();

    // The engine's one time request per block, asked of the host with kTimeInfoRequest.
    bool readHostTime(HostTimeInfo& info) override;

    // Replays the queued changes into the engine. The audio thread calls it
    // at the start of each block; tests call it instead of processing.
    void applyPendingChanges();

    // Read-back for the editor and tests; any thread.
    float getEngineeringValue(int index) const;
    int controllerOf(int param) const;    // -1 when none
    int parameterOf(int controller) const;  // -1 when none
    bool isLearnArmed() const { return learnArmed.load(std::memory_order_acquire); }
    int learnParameter() const { return learnParam.load(std::memory_order_relaxed); }
    bool hasBank() const { return bank != nullptr; }
    // How often the queue overflowed and the engine was brought up to date from the arrays.
    unsigned resyncCount() const { return resyncs.load(std::memory_order_relaxed); }
    const std::vector<std::string>& syncLabels() const { return delaySyncLabels; }
    const std::vector<std::string>& stereoLabels() const { return stereoMultLabels; }

protected:
    // Where every replayed change enters the engine, in order.
    virtual void applyToEngine(int index, float value, float engValue);

    ProgramRecord* currentRecord();
    // Stores one parameter value (arrays and record); answers false, changing
    // nothing but repairing the record, when v is not finite.
    bool storeParameter(int index, float v);
    void applyCurrentRecord();
    void queueChange(const ParameterChange& change);
    void notifyEditor(int index, float value);

    float applyLearnCommand(int param, float v);
    void armLearn(int param);
    void forgetController(int param);
    void handleMidiMessage(unsigned char status, unsigned char data1, unsigned char data2);

    static_assert(std::atomic<float>::is_always_lock_free, "parameter values are read from any thread");
    static_assert(std::atomic<int>::is_always_lock_free, "MIDI tables are read from any thread");

    std::atomic<float> paramValues[kNumParams];
    std::atomic<float> engValues[kNumParams];
    std::map<int, std::string> parameterNames;
    std::map<int, std::string> displayFormats;
    std::vector<std::string> delaySyncLabels;
    std::vector<float> delaySyncFactors;
    std::vector<std::string> stereoMultLabels;
    std::vector<float> stereoMultFactors;
    std::atomic<int> ccToParam[kNumMidiControllers];
    std::atomic<int> paramToCC[kNumParams];
    ProgramBank* bank = nullptr;
    std::atomic<float> effectSampleRate{44100.0f};
    CKovalithEngine engine;
    std::atomic<int> learnParam{0};
    std::atomic<bool> learnArmed{false};

    CChangeQueue<ParameterChange> changes{kChangeQueueCapacity};
    std::atomic<bool> resyncPending{false};
    std::atomic<unsigned> resyncs{0};
};

}  // namespace kovalith
