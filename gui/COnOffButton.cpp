#include "gui/COnOffButton.h"

#include "gui/CBitmap.h"
#include "gui/CDrawContext.h"

namespace VSTGUI {

COnOffButton::COnOffButton(const CRect& size, CControlListener* listener, int tag, CBitmap* background, int style)
    : CControl(size, listener, tag, background) {
    style_ = style;
    backColor_ = kGreyCColor;
    frameColor_ = kBlackCColor;
    fontColor_ = kWhiteCColor;
}

void COnOffButton::draw(CDrawContext* context) {
    if (background_ && background_->isLoaded()) {
        const CCoord frameHeight = background_->getHeight() / 2;
        background_->draw(context, size_, CPoint(0, isOn() ? frameHeight : 0));
        return;
    }
    context->setFillColor(isOn() ? fontColor_ : backColor_);
    context->setFrameColor(frameColor_);
    context->drawRect(size_, kDrawFilledAndStroked);
}

CMouseEventResult COnOffButton::onMouseDown(CPoint&, const CButtonState& buttons) {
    if (!buttons.isLeftButton()) return kMouseEventNotHandled;
    if (listener_ && buttons.getModifierState() && listener_->controlModifierClicked(this, buttons) != 0)
        return kMouseDownEventHandledButDontNeedMovedOrUpEvents;
    beginEdit();
    updateValue(isOn() ? getMin() : getMax());
    endEdit();
    return kMouseDownEventHandledButDontNeedMovedOrUpEvents;
}

}  // namespace VSTGUI
