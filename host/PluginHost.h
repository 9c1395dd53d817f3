// Loading and driving a Linux VST 2.4 plug-in the way a host does.
//
// PluginInstance owns one loaded library and one effect object: it opens the
// library, runs the entry point with our host callback, answers the plug-in's
// requests and records the ones a test or tool wants to inspect, and closes the
// effect and the library again in its destructor.
#pragma once

#include "plugin/vst2.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kovalith {
namespace host {

// The musical transport the host reports through audioMasterGetTime.
struct Transport {
    double tempo = 120.0;       // beats per minute
    double ppqPos = 0.0;        // position in quarter notes
    bool playing = true;
    double sampleRate = 0.0;    // 0: use the instance's sample rate
};

// One request the plug-in sent to the host.
struct HostRequest {
    int32_t opcode = 0;
    int32_t index = 0;
    intptr_t value = 0;
    float opt = 0.0f;
};

// How often each recorded request arrived since the last clearRecord().
struct HostCounters {
    int automate = 0;
    int updateDisplay = 0;
    int beginEdit = 0;
    int endEdit = 0;
    int sizeWindow = 0;
    int idle = 0;
    int getTime = 0;
};

class PluginInstance {
public:
    // Opens the library at `path`, creates the effect and sends effOpen, the
    // default sample rate and block size. On failure returns null and, when
    // `error` is given, says why.
    static std::unique_ptr<PluginInstance> load(const std::string& path, std::string* error = nullptr);
    // Whether `path` is a library with a plug-in entry point, without calling
    // it (the library's own initialisers do run). False, saying why, when not.
    static bool isPluginLibrary(const std::string& path, std::string* error);

    ~PluginInstance();
    PluginInstance(const PluginInstance&) = delete;
    PluginInstance& operator=(const PluginInstance&) = delete;

    vst2::AEffect* effect() const { return effect_; }
    const std::string& path() const { return path_; }

    intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f);

    // Sample rate and block size. While resumed the effect is suspended around
    // the change, as the interface requires.
    void setSampleRate(double rate);
    void setBlockSize(int frames);
    double sampleRate() const { return sampleRate_; }
    int blockSize() const { return blockSize_; }

    void resume();
    void suspend();
    bool isResumed() const { return resumed_; }

    // Runs processReplacing (or the accumulating entry on cleared outputs for
    // plug-ins without it). `in` and `out` hold numInputs / numOutputs channel
    // pointers. Resumes first if needed. Refuses (returns false) blocks larger
    // than the block size announced to the plug-in.
    bool process(float** in, float** out, int frames);

    void setParameter(int index, float value);
    float getParameter(int index) const;
    std::string parameterName(int index);
    std::string parameterLabel(int index);
    std::string parameterDisplay(int index);

    int numParams() const { return effect_->numParams; }
    int numPrograms() const { return effect_->numPrograms; }
    int numInputs() const { return effect_->numInputs; }
    int numOutputs() const { return effect_->numOutputs; }
    int32_t uniqueID() const { return effect_->uniqueID; }
    int32_t version() const { return effect_->version; }
    int32_t flags() const { return effect_->flags; }
    bool hasChunks() const { return (effect_->flags & vst2::effFlagsProgramChunks) != 0; }

    int currentProgram();
    void setProgram(int program);
    std::string currentProgramName();
    void setCurrentProgramName(const std::string& name);
    // The name of program `program`. Uses effGetProgramNameIndexed when the
    // plug-in answers it; otherwise switches to the program and back, putting
    // the current parameter values back afterwards.
    std::string programName(int program);
    std::vector<std::string> programNames();

    std::string effectName();
    std::string vendor();
    std::string product();
    int vendorVersion();
    int vstVersion();
    // The plug-in's answer: 1 yes, -1 no, 0 don't know.
    int canDo(const std::string& what);

    // The editor's size as effEditGetRect gives it; false when the plug-in gives
    // none or one no window could have.
    bool editorSize(int& width, int& height);

    // A copy of the plug-in's chunk (empty when it gives none).
    std::vector<uint8_t> getChunk(bool preset);
    // Hands the bytes to the plug-in; true when it accepted them.
    bool setChunk(const std::vector<uint8_t>& bytes, bool preset);

    // Sends one MIDI message (up to three bytes) through effProcessEvents.
    bool sendMidi(uint8_t status, uint8_t data1 = 0, uint8_t data2 = 0, int deltaFrames = 0);

    // Sets or clears the transport. Call from the thread that calls process(),
    // between blocks: the plug-in reads it from process() without a lock.
    void setTransport(const std::optional<Transport>& transport);
    // Moves the transport on by `frames` samples (when playing).
    void advance(int frames);
    const vst2::VstTimeInfo& timeInfo() const { return timeInfo_; }
    // From now on audioMasterGetTime answers exactly `info` (null: no time
    // information), unchecked, instead of the transport: for validating how a
    // plug-in copes with hostile hosts. The record must outlive the instance.
    void setTimeInfoOverride(const vst2::VstTimeInfo* info);

    // A snapshot of the recorded requests and counters.
    std::vector<HostRequest> requests() const;
    HostCounters counters() const;
    void clearRecord();

    // The host's answer to audioMasterCanDo: 1 yes, 0 no.
    int hostCanDo(const char* what) const;
    // What every instance can do, whatever window it has.
    static int baseCanDo(const char* what);

    // Lets an editor window follow audioMasterSizeWindow (width, height);
    // without a handler the request is recorded and refused. Set it on the
    // user-interface thread before the editor opens.
    void setSizeWindowHandler(std::function<bool(int, int)> handler);

private:
    PluginInstance() = default;
    friend struct HostCallbackAccess;

    intptr_t onHostRequest(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);
    intptr_t answerTime();
    void record(int32_t opcode, int32_t index, intptr_t value, float opt, int HostCounters::*counter);
    std::string textRequest(int32_t opcode, int32_t index);
    void refreshTimeInfo();

    void* library_ = nullptr;
    vst2::AEffect* effect_ = nullptr;
    std::string path_;
    double sampleRate_ = 44100.0;
    int blockSize_ = 512;
    bool resumed_ = false;
    std::atomic<bool> inProcess_{false};

    // Transport: written between blocks on the processing thread, read by the
    // plug-in's audioMasterGetTime from the same thread.
    std::atomic<bool> hasTransport_{false};
    Transport transport_;
    vst2::VstTimeInfo timeInfo_{};
    std::atomic<int> getTimeCount_{0};
    std::atomic<bool> timeOverridden_{false};
    std::atomic<const vst2::VstTimeInfo*> timeOverride_{nullptr};

    std::function<bool(int, int)> sizeWindowHandler_;

    mutable std::mutex recordMutex_;
    std::vector<HostRequest> requests_;
    HostCounters counters_;
};

}  // namespace host
}  // namespace kovalith
