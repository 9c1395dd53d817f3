// A two-state button: a click toggles between min and max.
#pragma once

#include "gui/CControl.h"

namespace VSTGUI {

// The bitmap holds two frames stacked: the top half shows the off state, the bottom half
// the on state. Without a loaded bitmap the button draws a framed box, filled when on.
class COnOffButton : public CControl {
public:
    COnOffButton(const CRect& size, CControlListener* listener, int tag, CBitmap* background, int style = 0);

    void draw(CDrawContext* context) override;
    CMouseEventResult onMouseDown(CPoint& where, const CButtonState& buttons) override;

    bool isOn() const { return getValue() > getMin() + (getMax() - getMin()) / 2; }
};

}  // namespace VSTGUI
