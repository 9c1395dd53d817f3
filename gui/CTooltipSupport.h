// Tooltips: a view's 'cvtt' text, shown once the mouse has rested on the view for a delay.
#pragma once

#include "gui/CView.h"

#include <cstdint>
#include <string>

namespace VSTGUI {

// A mouse observer for a frame. Entering a view with tooltip text makes it pending; once
// the mouse has not moved for the delay (checked at each frame idle) it becomes visible,
// and stays so until the mouse leaves the view or clicks. A click keeps the view's
// tooltip away until the mouse enters a view again. GUI thread only.
class CTooltipSupport : public CMouseObserver {
public:
    explicit CTooltipSupport(uint32_t delayMs = 1000) : delay_(delayMs) {}

    void onMouseEntered(CView* view, CFrame* frame) override;
    void onMouseExited(CView* view, CFrame* frame) override;
    void onMouseMoved(CFrame* frame, const CPoint& where) override;
    void onMouseDown(CFrame* frame, const CPoint& where) override;
    void onIdle(CFrame* frame) override;

    // The text waiting for the delay to pass, or nullptr.
    const char* getPendingText() const { return state_ == kPending ? text_.c_str() : nullptr; }
    // The text on screen, or nullptr.
    const char* getVisibleText() const { return state_ == kVisible ? text_.c_str() : nullptr; }
    uint32_t getDelay() const { return delay_; }

    // The look of a tooltip, shared by the platform windows: its size for `text`, and
    // the tip drawn at (0, 0) of `context` in that size.
    static CPoint getTipSize(const char* text);
    static void drawTip(CDrawContext& context, const char* text);

private:
    enum State { kIdle, kPending, kVisible };
    void hide(CFrame* frame);

    uint32_t delay_;
    State state_ = kIdle;
    const CView* view_ = nullptr;  // compared only, never dereferenced
    std::string text_;
    uint64_t restingSince_ = 0;
    CPoint lastPoint_;
};

}  // namespace VSTGUI
