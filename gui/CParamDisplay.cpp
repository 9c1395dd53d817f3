#include "gui/CParamDisplay.h"

#include "gui/CBitmap.h"
#include "gui/CDrawContext.h"

#include <cstdio>

namespace VSTGUI {

namespace {
constexpr CCoord kTextMargin = 2;  // keeps left- and right-aligned text off the frame
}

CParamDisplay::CParamDisplay(const CRect& size, CBitmap* background, int style)
    : CControl(size, nullptr, 0, background) {
    style_ = style;
}

std::string CParamDisplay::getDisplayText() const {
    char text[kParamDisplayTextSize] = {};
    if (const CParamDisplayStringConvert convert = getStringConvert())
        convert(getValue(), text);
    else
        std::snprintf(text, sizeof text, "%2.2f", getValue());
    text[kParamDisplayTextSize - 1] = '\0';
    return text;
}

void CParamDisplay::draw(CDrawContext* context) {
    if (style_ & kNoDrawStyle) return;
    drawText(context, getDisplayText().c_str());
}

CMouseEventResult CParamDisplay::onMouseDown(CPoint&, const CButtonState& buttons) {
    if (listener_ && buttons.isLeftButton() && (buttons.getModifierState() || buttons.isDoubleClick()) &&
        listener_->controlModifierClicked(this, buttons) != 0)
        return kMouseDownEventHandledButDontNeedMovedOrUpEvents;
    return kMouseEventNotHandled;
}

void CParamDisplay::drawText(CDrawContext* context, const char* text) {
    if (background_ && background_->isLoaded()) {
        background_->draw(context, size_);
    } else {
        context->setFillColor(backColor_);
        context->fillRect(size_);
    }
    if (!(style_ & kNoFrame)) {
        context->setFrameColor(frameColor_);
        context->drawRect(size_);
    }
    if (style_ & kNoTextStyle) return;
    CRect textRect = size_;
    if (align_ != kCenterText) textRect.inset(kTextMargin, 0);
    context->setFont(font_);
    context->setFontColor(fontColor_);
    context->drawString(text, textRect, align_, true);
}

CTextLabel::CTextLabel(const CRect& size, const char* text, CBitmap* background, int style)
    : CParamDisplay(size, background, style), text_(text ? text : "") {}

void CTextLabel::setText(const char* text) {
    text_ = text ? text : "";
    setDirty();
}

}  // namespace VSTGUI
