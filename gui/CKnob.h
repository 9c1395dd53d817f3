// A rotary control drawn as a body bitmap with a handle bitmap moving on a circle.
#pragma once

#include "gui/CControl.h"

namespace VSTGUI {

// The handle sweeps from startAngle by rangeAngle (radians, counter-clockwise positive as on
// paper); by default from the lower left 270 degrees clockwise to the lower right.
// A left drag follows the frame editor's knob mode: linear (default: up or right
// increases, 200 pixels for the whole range) or circular. Shift makes the drag and the
// wheel finer by the zoom factor. A click with modifier keys, and a double click, go to
// the listener's controlModifierClicked first. Without loaded bitmaps the knob draws a
// plain disc and pointer.
class CKnob : public CControl {
public:
    CKnob(const CRect& size, CControlListener* listener, int tag, CBitmap* background, CBitmap* handle,
          const CPoint& offset = CPoint());
    ~CKnob() override;

    void draw(CDrawContext* context) override;
    CMouseEventResult onMouseDown(CPoint& where, const CButtonState& buttons) override;
    CMouseEventResult onMouseUp(CPoint& where, const CButtonState& buttons) override;
    CMouseEventResult onMouseMoved(CPoint& where, const CButtonState& buttons) override;
    bool onWheel(const CPoint& where, float distance, const CButtonState& buttons) override;

    // Distance of the handle's centre inside the body's edge, in pixels.
    void setInsetValue(int inset) { inset_ = inset; setDirty(); }
    int getInsetValue() const { return inset_; }
    void setStartAngle(double radians) { startAngle_ = radians; setDirty(); }
    double getStartAngle() const { return startAngle_; }
    void setRangeAngle(double radians) { rangeAngle_ = radians; setDirty(); }
    double getRangeAngle() const { return rangeAngle_; }
    void setZoomFactor(float factor) { zoomFactor_ = factor > 0 ? factor : 1.f; }
    float getZoomFactor() const { return zoomFactor_; }
    // Value change per wheel notch.
    void setWheelIncrement(float increment) { wheelIncrement_ = increment; }
    CBitmap* getHandleBitmap() const { return handle_; }

    // Where the handle's centre lies for a value (in the knob's coordinates, i.e. its parent's).
    CPoint handleCentre(float normalizedValue) const;

    static constexpr int kLinearRangePixels = 200;

private:
    double angleAt(const CPoint& where) const;
    void startDrag(const CPoint& where, const CButtonState& buttons);
    float dragValue(const CPoint& where, const CButtonState& buttons);

    CBitmap* handle_;
    CPoint offset_;
    int inset_ = 3;
    double startAngle_;
    double rangeAngle_;
    float zoomFactor_ = 1.5f;
    float wheelIncrement_ = 0.05f;

    bool dragging_ = false;
    int dragMode_ = 0;
    bool dragFine_ = false;
    CPoint anchorPoint_;
    float anchorValue_ = 0.f;  // normalised
    double anchorAngle_ = 0.0;
};

}  // namespace VSTGUI
