// The VST 2.x extensions of the adapter: events, identity texts, capabilities,
// host time and display updates, and the editor's key and knob-mode requests.
#pragma once

#include "plugin/AudioEffect.h"

namespace kovalith {

class AudioEffectX : public AudioEffect {
public:
    using AudioEffect::AudioEffect;

    intptr_t dispatcher(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt) override;

    virtual int32_t processEvents(const vst2::VstEvents* /*events*/) { return 0; }
    virtual bool canParameterBeAutomated(int32_t index) { return index >= 0 && index < numParams; }
    virtual bool getEffectName(char* /*name*/) { return false; }
    virtual bool getVendorString(char* /*text*/) { return false; }
    virtual bool getProductString(char* /*text*/) { return false; }
    virtual int32_t getVendorVersion() { return 0; }
    // 1: can do, -1: cannot, 0: don't know.
    virtual int32_t canDo(const char* /*text*/) { return 0; }
    virtual int32_t getGetTailSize() { return 0; }
    virtual int32_t getPlugCategory() { return vst2::kPlugCategUnknown; }
    virtual int32_t getVstVersion() { return 2400; }
    virtual int32_t getCurrentMidiProgram(int32_t /*channel*/) { return -1; }

    // The host's time information for the fields in filter, or null when it has none.
    virtual vst2::VstTimeInfo* getTimeInfo(int32_t filter);
    // Asks the host to re-read names and values (after a change it did not make).
    virtual bool updateDisplay();
    // Asks the host to make the editor's window width x height pixels; false when it won't.
    virtual bool sizeWindow(int32_t width, int32_t height);
    // The host's interface version, 0 without a host.
    int32_t getMasterVersion();
};

}  // namespace kovalith
