#include "gui/CTooltipSupport.h"

#include "gui/CDrawContext.h"
#include "gui/CFrame.h"
#include "gui/CVSTGUITimer.h"

namespace VSTGUI {

namespace {
const CFontDesc kTipFont{"Arial", 11.0, kNormalFace};
constexpr CColor kTipBackground{255, 255, 225, 255};
}  // namespace

CPoint CTooltipSupport::getTipSize(const char* text) {
    COffscreenContext measure(1, 1);
    measure.setFont(kTipFont);
    return CPoint(static_cast<CCoord>(measure.getStringWidth(text)) + 10, static_cast<CCoord>(kTipFont.size) + 8);
}

void CTooltipSupport::drawTip(CDrawContext& context, const char* text) {
    const CPoint size = getTipSize(text);
    const CRect all(0, 0, size.x, size.y);
    context.setFillColor(kTipBackground);
    context.setFrameColor(kBlackCColor);
    context.drawRect(all, kDrawFilledAndStroked);
    context.setFont(kTipFont);
    context.setFontColor(kBlackCColor);
    context.drawString(text, all, kCenterText, true);
}

void CTooltipSupport::onMouseEntered(CView* view, CFrame* frame) {
    hide(frame);
    const char* text = view ? view->getAttributeText(kCViewTooltipAttribute) : nullptr;
    if (!text || !*text) return;
    view_ = view;
    text_ = text;
    state_ = kPending;
    restingSince_ = getTicks();
}

void CTooltipSupport::onMouseExited(CView* view, CFrame* frame) {
    if (view == view_) hide(frame);
}

void CTooltipSupport::onMouseMoved(CFrame*, const CPoint& where) {
    lastPoint_ = where;
    if (state_ == kPending) restingSince_ = getTicks();
}

void CTooltipSupport::onMouseDown(CFrame* frame, const CPoint&) { hide(frame); }

void CTooltipSupport::onIdle(CFrame* frame) {
    if (state_ != kPending || getTicks() - restingSince_ < delay_) return;
    state_ = kVisible;
    if (frame) frame->showTooltip(lastPoint_, text_.c_str());
}

void CTooltipSupport::hide(CFrame* frame) {
    if (state_ == kVisible && frame) frame->hideTooltip();
    state_ = kIdle;
    view_ = nullptr;
    text_.clear();
}

}  // namespace VSTGUI
