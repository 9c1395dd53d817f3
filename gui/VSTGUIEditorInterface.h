// The bridge from the toolkit to the application's editor: the toolkit calls it and knows
// nothing else of the application.
#pragma once

namespace VSTGUI {

// How a knob follows a drag; the values are those hosts pass for the knob mode.
enum CKnobMode { kCircularMode = 0, kRelativCircularMode = 1, kLinearMode = 2 };

class VSTGUIEditorInterface {
public:
    virtual ~VSTGUIEditorInterface() = default;

    // Bracket a user gesture on the control with this tag (a drag, a wheel turn, a click).
    virtual void beginEdit(int tag) = 0;
    virtual void endEdit(int tag) = 0;
    // The knob mode every knob of the frame follows.
    virtual int getKnobMode() const { return kLinearMode; }
    // The window system's scale for the window changed (it moved to another monitor).
    virtual void systemScaleChanged(double scale) { (void)scale; }
};

}  // namespace VSTGUI
