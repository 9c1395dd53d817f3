// The editor as a VST 2.4 host drives it: the dispatcher's editor requests go
// to the window, and the window's edits come back as the effect's automated
// parameter changes, edit gestures and MIDI-learn commands.
#pragma once

#include "editor/KovalithEditor.h"
#include "plugin/AEffEditor.h"

namespace kovalith {

class Kovalith;

class VstEditor : public AEffEditor, private IEditController {
public:
    explicit VstEditor(Kovalith* effect);

    bool getRect(vst2::ERect** rect) override;
    bool open(void* parentWindow) override;
    void close() override;
    bool isOpen() override { return window.isOpen(); }
    void idle() override { window.idle(); }
    bool setKnobMode(int32_t mode) override { return window.setKnobMode(mode); }
    void setParameter(int index, float value) override { window.setParameter(index, value); }

    KovalithEditor& getWindow() { return window; }

private:
    float parameterValue(int index) override;
    float syncedValue(int index) override;
    void beginEdit(int index) override;
    void performEdit(int index, float value) override;
    void endEdit(int index) override;
    void learnCommand(int index, float value) override;
    DisplayContext displayContext() override;

    Kovalith* kovalith;
    KovalithEditor window;
    vst2::ERect rect{0, 0, 0, 0};
};

}  // namespace kovalith
