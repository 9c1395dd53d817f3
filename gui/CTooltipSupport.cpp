#include "gui/CTooltipSupport.h"

#include "gui/CFrame.h"
#include "gui/CVSTGUITimer.h"

namespace VSTGUI {

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
