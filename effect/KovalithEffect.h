// The effect without a host: the parameter values and their engineering rules,
// the 32-program bank and its chunk, MIDI learn, the synced read-outs, and the
// hand-over of every change to the engine. Each plug-in format wraps one of
// these in a thin shell.
//
// Threading: hosts call the parameter, program, chunk and state operations
// from their own threads while the audio thread processes. Those operations
// store the values for read-back at once (atomics) and queue each change; the
// audio thread replays the queue in order into the engine at the start of
// every block, so the engine never sees a half-applied program and nobody waits.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "effect/ChangeQueue.h"
#include "effect/Parameters.h"
#include "effect/ParameterText.h"
#include "effect/Programs.h"
#include "engine/Engine.h"

namespace kovalith {

constexpr std::size_t kChangeQueueCapacity = 1024;

// What a format shell hears of the effect's changes.
class IEffectListener {
public:
    virtual ~IEffectListener() = default;
    // After every setParameter with a non-negative index, from whichever thread
    // made it: a parameter (0 to 66) or a MIDI-learn command (68 to 134), with
    // the value as it is after the step. Must not block.
    virtual void parameterChanged(int index, float value) = 0;
    // A learned MIDI controller has just set parameter index (audio thread,
    // after parameterChanged): the host should show the new value. The change
    // is not automation.
    virtual void parameterSetByController(int index, float value) = 0;
};

// The state the formats other than VST 2.4 save: the bank chunk, then this
// tag and the current program as little-endian int32s.
constexpr uint32_t kStateProgramTag = 0x7250764B;  // "KvPr"
constexpr std::size_t kStateSize = sizeof(ProgramBank) + 8;

class KovalithEffect {
public:
    // Allocates the bank (without one the effect holds no programs: hasBank()
    // is false and the program and chunk operations refuse), writes the
    // factory presets and applies program 0.
    KovalithEffect();
    virtual ~KovalithEffect();
    KovalithEffect(const KovalithEffect&) = delete;
    KovalithEffect& operator=(const KovalithEffect&) = delete;

    // Set before the audio thread starts; null for none.
    void setListener(IEffectListener* listener) { listener_ = listener; }

    // ---- processing ----
    // Any thread: a rate that is not a positive number is ignored.
    void setSampleRate(float rate);
    float sampleRate() const { return sampleRate_.load(std::memory_order_relaxed); }
    // Any thread: the signal state is cleared before the next block.
    void reset();
    // Audio thread: applies the queued changes, then runs one block. The time
    // source is asked once for the host's tempo and position (null: none).
    void process(const float* const* inputs, float* const* outputs, int sampleFrames, ITimeInfoSource* time);
    // Replays the queued changes into the engine. process calls it; tests call it instead.
    void applyPendingChanges();
    // One MIDI message (status and two data bytes) in the order the host gave
    // it: control changes drive learned parameters or complete a learn.
    void handleMidiMessage(unsigned char status, unsigned char data1, unsigned char data2);

    // ---- parameters (any thread) ----
    // 0..66: a parameter, stored as given (a non-finite value is not taken);
    // 68..134: a MIDI-learn command for parameter index - 68.
    void setParameter(int index, float value);
    float getParameter(int index) const;
    float getEngineeringValue(int index) const;
    // The engineering value, or for a synced "Delay" / "LFO n Freq" the time
    // as a count of sync units (what the editor shows).
    float getSyncedValue(int index) const;
    // What the read-outs depend on now: the sample rate, the tempo, the sync settings.
    DisplayContext displayContext() const;
    // The display text of parameter index at stored value `stored`.
    void formatValue(int index, float stored, char* text, std::size_t size) const;

    // ---- programs ----
    int program() const { return curProgram_.load(std::memory_order_relaxed); }
    // 0 to 31 selects a program; any other number keeps the current one. Either
    // way the current record is applied again.
    void setProgram(int program);
    // Shorter than 23 characters: stored; longer names are ignored.
    void setProgramName(const char* name);
    // At least kProgramNameSize bytes: the name of the current program, or of `program`.
    void getProgramName(char* text) const;
    bool getProgramNameIndexed(int program, char* text) const;

    // ---- chunks and state ----
    // The live bank (24576 bytes) or current record (768 bytes), or 0 without a bank.
    int32_t getChunk(void** data, bool isPreset);
    // Exactly 24576 (bank) or 768 (preset) bytes are taken and the current
    // record applied (answer 1); any other size changes nothing (answer 0).
    int32_t setChunk(const void* data, int32_t byteSize, bool isPreset);
    // The bank followed by the current program (kStateSize bytes).
    std::vector<uint8_t> saveState() const;
    // A saveState image, or a bare bank chunk (the current program stays);
    // anything else is refused and nothing changes.
    bool loadState(const void* data, std::size_t size);

    // ---- MIDI learn and inspection (any thread) ----
    int controllerOf(int param) const;      // -1 when none
    int parameterOf(int controller) const;  // -1 when none
    bool isLearnArmed() const { return learnArmed.load(std::memory_order_acquire); }
    int learnParameter() const { return learnParam.load(std::memory_order_relaxed); }
    bool hasBank() const { return bank != nullptr; }
    // How often the queue overflowed and the engine was brought up to date from the arrays.
    unsigned resyncCount() const { return resyncs.load(std::memory_order_relaxed); }
    const CKovalithEngine& engine() const { return engine_; }

protected:
    // Where every replayed change enters the engine, in order.
    virtual void applyToEngine(int index, float value, float engValue);

    ProgramRecord* currentRecord();
    const ProgramRecord* currentRecord() const;
    // Stores one parameter value (arrays and record); answers false, changing
    // nothing but repairing the record, when v is not finite.
    bool storeParameter(int index, float v);
    void applyCurrentRecord();
    void queueChange(const ParameterChange& change);
    void notify(int index, float value);

    float applyLearnCommand(int param, float v);
    void armLearn(int param);
    void forgetController(int param);

    static_assert(std::atomic<float>::is_always_lock_free, "parameter values are read from any thread");
    static_assert(std::atomic<int>::is_always_lock_free, "MIDI tables are read from any thread");

    std::atomic<float> paramValues[kNumParams];
    std::atomic<float> engValues[kNumParams];
    std::atomic<int> ccToParam[kNumMidiControllers];
    std::atomic<int> paramToCC[kNumParams];
    ProgramBank* bank = nullptr;
    std::atomic<int> curProgram_{0};
    std::atomic<float> sampleRate_{44100.0f};
    CKovalithEngine engine_;
    std::atomic<int> learnParam{0};
    std::atomic<bool> learnArmed{false};
    IEffectListener* listener_ = nullptr;

    CChangeQueue<ParameterChange> changes{kChangeQueueCapacity};
    std::atomic<bool> resyncPending{false};
    std::atomic<unsigned> resyncs{0};
};

}  // namespace kovalith
