#include "plugin/AudioEffectX.h"

#include "plugin/AEffEditor.h"

namespace kovalith {

vst2::VstTimeInfo* AudioEffectX::getTimeInfo(int32_t filter) {
    return reinterpret_cast<vst2::VstTimeInfo*>(callHost(vst2::audioMasterGetTime, 0, filter));
}

bool AudioEffectX::sizeWindow(int32_t width, int32_t height) {
    return callHost(vst2::audioMasterSizeWindow, width, height) != 0;
}

bool AudioEffectX::updateDisplay() { return callHost(vst2::audioMasterUpdateDisplay) != 0; }

int32_t AudioEffectX::getMasterVersion() {
    return static_cast<int32_t>(callHost(vst2::audioMasterVersion));
}

intptr_t AudioEffectX::dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) {
    char* text = static_cast<char*>(ptr);
    switch (opcode) {
        case vst2::effProcessEvents: return processEvents(static_cast<const vst2::VstEvents*>(ptr));
        case vst2::effCanBeAutomated: return canParameterBeAutomated(index) ? 1 : 0;
        case vst2::effGetPlugCategory: return getPlugCategory();
        case vst2::effGetEffectName: return text && getEffectName(text) ? 1 : 0;
        case vst2::effGetVendorString: return text && getVendorString(text) ? 1 : 0;
        case vst2::effGetProductString: return text && getProductString(text) ? 1 : 0;
        case vst2::effGetVendorVersion: return getVendorVersion();
        case vst2::effCanDo: return text ? canDo(text) : -1;
        case vst2::effGetTailSize: return getGetTailSize();
        case vst2::effGetVstVersion: return getVstVersion();
        case vst2::effEditKeyDown:
        case vst2::effEditKeyUp: {
            if (!editor) return 0;
            // The key arrives spread over the arguments: character, virtual key, modifiers.
            VstKeyCode key{index, static_cast<unsigned char>(value), static_cast<unsigned char>(opt)};
            return (opcode == vst2::effEditKeyDown ? editor->onKeyDown(key) : editor->onKeyUp(key)) ? 1 : 0;
        }
        case vst2::effSetEditKnobMode: return editor && editor->setKnobMode(static_cast<int32_t>(value)) ? 1 : 0;
        case vst2::effGetCurrentMidiProgram: return getCurrentMidiProgram(index);
        case vst2::effGetSpeakerArrangement:
            // Both arrangements are "none": the host keeps its own stereo default.
            if (value) *reinterpret_cast<void**>(value) = nullptr;
            if (ptr) *static_cast<void**>(ptr) = nullptr;
            return 0;
        case vst2::effSetTotalSampleToProcess: return value;
        default: return AudioEffect::dispatcher(opcode, index, value, ptr, opt);
    }
}

}  // namespace kovalith
