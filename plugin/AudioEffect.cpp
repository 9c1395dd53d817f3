#include "plugin/AudioEffect.h"

#include <cmath>
#include <cstring>

#include "plugin/AEffEditor.h"
#include "plugin/AEffectCallbacks.h"

namespace kovalith {

void copyText(char* destination, const char* source, std::size_t capacity) {
    if (!destination || capacity == 0) return;
    std::size_t length = 0;
    if (source)
        while (length + 1 < capacity && source[length] != '\0') ++length;
    if (length) std::memcpy(destination, source, length);
    destination[length] = '\0';
}

AudioEffect::AudioEffect(vst2::audioMasterCallback audioMaster, int32_t numPrograms, int32_t numParams)
    : audioMaster(audioMaster), numPrograms(numPrograms), numParams(numParams) {
    cEffect.magic = vst2::kEffectMagic;
    cEffect.dispatcher = callbacks::dispatch;
    cEffect.process = callbacks::processAccumulating;
    cEffect.setParameter = callbacks::setParameter;
    cEffect.getParameter = callbacks::getParameter;
    cEffect.numPrograms = numPrograms;
    cEffect.numParams = numParams;
    cEffect.numInputs = 1;
    cEffect.numOutputs = 2;
    cEffect.flags = vst2::effFlagsCanReplacing;
    cEffect.ioRatio = 1.0f;
    cEffect.object = this;
    cEffect.uniqueID = vst2::fourCC('N', 'o', 'E', 'f');
    cEffect.version = 1;
    cEffect.processReplacing = callbacks::processReplacing;
    cEffect.processDoubleReplacing = callbacks::processDoubleReplacing;
}

AudioEffect::~AudioEffect() { delete editor; }

void AudioEffect::setFlag(int32_t flag, bool state) {
    if (state)
        cEffect.flags |= flag;
    else
        cEffect.flags &= ~flag;
}

void AudioEffect::setEditor(AEffEditor* newEditor) {
    editor = newEditor;
    setFlag(vst2::effFlagsHasEditor, editor != nullptr);
}

intptr_t AudioEffect::callHost(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    if (!audioMaster) return 0;
    return audioMaster(&cEffect, opcode, index, value, ptr, opt);
}

void AudioEffect::setSampleRate(float rate) {
    if (std::isfinite(rate) && rate > 0.0f) sampleRate = rate;
}

void AudioEffect::setProgram(int32_t program) {
    if (program >= 0 && program < numPrograms) curProgram.store(program, std::memory_order_relaxed);
}

void AudioEffect::getProgramName(char* name) { copyText(name, "", vst2::kVstMaxProgNameLen); }
void AudioEffect::getParameterLabel(int32_t, char* label) { copyText(label, "", vst2::kVstMaxParamStrLen); }
void AudioEffect::getParameterDisplay(int32_t, char* text) { copyText(text, "", vst2::kVstMaxParamStrLen); }
void AudioEffect::getParameterName(int32_t, char* text) { copyText(text, "", vst2::kVstMaxParamStrLen); }

int32_t AudioEffect::getChunk(void** data, bool) {
    if (data) *data = nullptr;
    return 0;
}

int32_t AudioEffect::setChunk(const void*, int32_t, bool) { return 0; }

void AudioEffect::setParameterAutomated(int32_t index, float value) {
    setParameter(index, value);
    callHost(vst2::audioMasterAutomate, index, 0, nullptr, value);
}

bool AudioEffect::beginEdit(int32_t index) { return callHost(vst2::audioMasterBeginEdit, index) != 0; }
bool AudioEffect::endEdit(int32_t index) { return callHost(vst2::audioMasterEndEdit, index) != 0; }

intptr_t AudioEffect::dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    char* text = static_cast<char*>(ptr);
    switch (opcode) {
        case vst2::effOpen: open(); return 0;
        case vst2::effSetProgram:
            // Host program numbers are untrusted: only 0 .. numPrograms - 1 reach setProgram.
            if (value >= 0 && value < numPrograms) setProgram(static_cast<int32_t>(value));
            return 0;
        case vst2::effGetProgram: return getProgram();
        case vst2::effSetProgramName:
            if (text) setProgramName(text);
            return 0;
        case vst2::effGetProgramName: getProgramName(text); return 0;
        case vst2::effGetParamLabel: getParameterLabel(index, text); return 0;
        case vst2::effGetParamDisplay: getParameterDisplay(index, text); return 0;
        case vst2::effGetParamName: getParameterName(index, text); return 0;
        case vst2::effSetSampleRate: setSampleRate(opt); return 0;
        case vst2::effSetBlockSize: setBlockSize(static_cast<int32_t>(value)); return 0;
        case vst2::effMainsChanged:
            if (value)
                resume();
            else
                suspend();
            return 0;
        case vst2::effEditGetRect:
            return editor && ptr ? editor->getRect(static_cast<vst2::ERect**>(ptr)) : 0;
        case vst2::effEditOpen: return editor ? editor->open(ptr) : 0;
        case vst2::effEditClose:
            if (editor) editor->close();
            return 0;
        case vst2::effEditIdle:
            if (editor) editor->idle();
            return 0;
        case vst2::effIdentify: return vst2::fourCC('N', 'v', 'E', 'f');
        case vst2::effGetChunk: return ptr ? getChunk(static_cast<void**>(ptr), index != 0) : 0;
        case vst2::effSetChunk:
            // A size outside int32 range can never be a valid chunk.
            if (value < 0 || value > INT32_MAX) return 0;
            return setChunk(ptr, static_cast<int32_t>(value), index != 0);
        default: return 0;
    }
}

}  // namespace kovalith
