// The host adapter: owns the AEffect record handed to the host and turns its
// dispatcher, process and parameter entries into virtual operations with the
// VST 2.4 meaning. The C-level entries themselves live in AEffectCallbacks.cpp.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "plugin/vst2.h"

namespace kovalith {

class AEffEditor;

// Copies at most capacity - 1 characters of source and terminates the result.
// Null pointers or a zero capacity write nothing.
void copyText(char* destination, const char* source, std::size_t capacity);

class AudioEffect {
public:
    AudioEffect(vst2::audioMasterCallback audioMaster, int32_t numPrograms, int32_t numParams);
    // Deletes the editor that is registered at that point.
    virtual ~AudioEffect();
    AudioEffect(const AudioEffect&) = delete;
    AudioEffect& operator=(const AudioEffect&) = delete;

    // Host requests. Answers 0 for everything the effect does not serve.
    virtual intptr_t dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);

    virtual void open() {}
    virtual void close() {}
    virtual void suspend() {}
    virtual void resume() {}
    // Ignores rates that are not finite and positive.
    virtual void setSampleRate(float rate);
    virtual void setBlockSize(int32_t size) { blockSize = size; }

    virtual void processReplacing(float** /*inputs*/, float** /*outputs*/, int32_t /*sampleFrames*/) {}
    virtual void processDoubleReplacing(double** /*inputs*/, double** /*outputs*/, int32_t /*sampleFrames*/) {}

    virtual void setParameter(int32_t /*index*/, float /*value*/) {}
    virtual float getParameter(int32_t /*index*/) { return 0.0f; }

    virtual void setProgram(int32_t program);
    virtual void setProgramName(const char* /*name*/) {}
    virtual int32_t getProgram() { return curProgram.load(std::memory_order_relaxed); }
    virtual void getProgramName(char* name);
    virtual void getParameterLabel(int32_t index, char* label);
    virtual void getParameterDisplay(int32_t index, char* text);
    virtual void getParameterName(int32_t index, char* text);
    // Points *data at the state to save and answers its size in bytes, 0 for none.
    virtual int32_t getChunk(void** data, bool isPreset);
    // Restores state from data; answers 1 when taken, 0 when refused.
    virtual int32_t setChunk(const void* data, int32_t byteSize, bool isPreset);

    // The editor registers itself here; the effect deletes it on destruction.
    // Passing null clears the editor flag and hands the old editor back to its owner.
    void setEditor(AEffEditor* newEditor);
    AEffEditor* getEditor() const { return editor; }

    // The editor's way of changing a parameter: sets it, then tells the host.
    virtual void setParameterAutomated(int32_t index, float value);
    // Automation gestures around a drag.
    virtual bool beginEdit(int32_t index);
    virtual bool endEdit(int32_t index);

    vst2::AEffect* getAeffect() { return &cEffect; }
    float getSampleRate() const { return sampleRate; }
    int32_t getBlockSize() const { return blockSize; }
    vst2::audioMasterCallback getAudioMaster() const { return audioMaster; }

    // Identity set-up, as the effect's constructor calls it.
    void setUniqueID(int32_t id) { cEffect.uniqueID = id; }
    void setNumInputs(int32_t inputs) { cEffect.numInputs = inputs; }
    void setNumOutputs(int32_t outputs) { cEffect.numOutputs = outputs; }
    void canProcessReplacing(bool state = true) { setFlag(vst2::effFlagsCanReplacing, state); }
    void programsAreChunks(bool state = true) { setFlag(vst2::effFlagsProgramChunks, state); }
    void setInitialDelay(int32_t delay) { cEffect.initialDelay = delay; }

protected:
    // One request to the host; skipped (answer 0) when there is no callback.
    intptr_t callHost(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                      float opt = 0.0f);
    void setFlag(int32_t flag, bool state);

    vst2::audioMasterCallback audioMaster = nullptr;
    AEffEditor* editor = nullptr;
    float sampleRate = 44100.0f;
    int32_t blockSize = 1024;
    int32_t numPrograms = 0;
    int32_t numParams = 0;
    // Read by MIDI learn on the audio thread while the host may switch programs.
    std::atomic<int32_t> curProgram{0};
    vst2::AEffect cEffect{};
};

}  // namespace kovalith
