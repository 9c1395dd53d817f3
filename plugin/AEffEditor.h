// The editor base as the effect sees it: the host's editor requests arrive
// here through the effect's dispatcher, and the effect reports every
// parameter change back through setParameter so the controls can follow.
#pragma once

#include <cstdint>

#include "plugin/vst2.h"

namespace kovalith {

class AudioEffect;

// A key event as the host passes it with effEditKeyDown / effEditKeyUp.
struct VstKeyCode {
    int32_t character;       // ASCII character, 0 when virt is used
    unsigned char virt;      // virtual key code
    unsigned char modifier;  // modifier key bits
};

class AEffEditor {
public:
    explicit AEffEditor(AudioEffect* effect = nullptr) : effect(effect) {}
    virtual ~AEffEditor() = default;
    AEffEditor(const AEffEditor&) = delete;
    AEffEditor& operator=(const AEffEditor&) = delete;

    virtual AudioEffect* getEffect() { return effect; }
    // Points *rect at the window rectangle; answers whether there is one.
    virtual bool getRect(vst2::ERect** rect) {
        if (rect) *rect = nullptr;
        return false;
    }
    virtual bool open(void* parentWindow) {
        systemWindow = parentWindow;
        return false;
    }
    virtual void close() { systemWindow = nullptr; }
    virtual bool isOpen() { return systemWindow != nullptr; }
    virtual void idle() {}
    virtual bool onKeyDown(VstKeyCode&) { return false; }
    virtual bool onKeyUp(VstKeyCode&) { return false; }
    virtual bool onWheel(float) { return false; }
    virtual bool setKnobMode(int32_t) { return false; }
    // Called by the effect after every parameter change, from whichever thread
    // made it: store the value and mark controls dirty, draw later in idle.
    virtual void setParameter(int /*index*/, float /*value*/) {}

protected:
    AudioEffect* effect = nullptr;
    void* systemWindow = nullptr;
};

}  // namespace kovalith
