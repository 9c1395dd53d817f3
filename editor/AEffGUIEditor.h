// The bridge between the effect's editor requests and the widget toolkit: an
// AEffEditor that owns a VSTGUI frame while the window is open and answers the
// toolkit's edit gestures and knob mode.
#pragma once

#include "gui/CFrame.h"
#include "gui/VSTGUIEditorInterface.h"
#include "plugin/AEffEditor.h"

namespace kovalith {

class AEffGUIEditor : public AEffEditor, public VSTGUI::VSTGUIEditorInterface {
public:
    explicit AEffGUIEditor(AudioEffect* effect);
    // Destroys a frame that is still open and ends the toolkit's use of the platform.
    ~AEffGUIEditor() override;

    // Points *rect at `rect`; answers true.
    bool getRect(vst2::ERect** rect) override;
    // Stores the parent window; subclasses build the frame. Host UI thread.
    bool open(void* parentWindow) override;
    // Destroys the frame with every view in it. Host UI thread.
    void close() override;
    bool isOpen() override { return frame != nullptr; }
    // Lets the frame handle its window's events and redraw what is dirty.
    // Calls from inside an idle (a host that idles from a callback) do nothing.
    void idle() override;
    // Stores the host's knob mode; every knob of the frame follows it.
    bool setKnobMode(int32_t mode) override;
    // Marks the views inside `area` (the whole window for null) for the next idle.
    virtual void draw(vst2::ERect* area);

    // VSTGUIEditorInterface: drags and clicks are announced to the host as gestures.
    void beginEdit(int tag) override;
    void endEdit(int tag) override;
    int getKnobMode() const override { return knobMode; }

    VSTGUI::CFrame* getFrame() const { return frame; }

protected:
    // Starts the toolkit's use of the platform (OLE on Windows) on the first call; the
    // destructor ends it. Subclasses call it in open before building a frame.
    void beginPlatformUse();

    VSTGUI::CFrame* frame = nullptr;
    vst2::ERect rect{0, 0, 0, 0};
    bool inIdle = false;

private:
    bool isParameterTag(int tag) const;

    int knobMode = VSTGUI::kLinearMode;
    bool platformInUse = false;
};

}  // namespace kovalith
