#include "gui/CFrame.h"

#include "gui/CDrawContext.h"
#include "gui/COptionMenu.h"
#include "gui/CVSTGUITimer.h"
#include "gui/platform/CPlatformWindow.h"

namespace VSTGUI {

namespace {

// Joins overlapping rectangles so that no area is drawn twice.
std::vector<CRect> mergeOverlapping(std::vector<CRect> rects) {
    bool merged = true;
    while (merged) {
        merged = false;
        for (size_t i = 0; i < rects.size() && !merged; ++i)
            for (size_t j = i + 1; j < rects.size(); ++j)
                if (rects[i].rectOverlap(rects[j])) {
                    rects[i].unite(rects[j]);
                    rects.erase(rects.begin() + static_cast<std::ptrdiff_t>(j));
                    merged = true;
                    break;
                }
    }
    return rects;
}

// Holds references to views for the length of a dispatch, in case a handler removes them.
class ViewsHeld {
public:
    explicit ViewsHeld(std::vector<CView*> views) : views_(std::move(views)) {
        for (CView* v : views_) v->remember();
    }
    ~ViewsHeld() {
        for (CView* v : views_) v->forget();
    }
    const std::vector<CView*>& get() const { return views_; }

private:
    std::vector<CView*> views_;
};

}  // namespace

namespace {

double limitScale(double scale) {
    if (!(scale >= kMinScale)) return kMinScale;  // NaN too
    return scale > kMaxScale ? kMaxScale : scale;
}

}  // namespace

CFrame::CFrame(const CRect& size, void* parentWindow, VSTGUIEditorInterface* editor, double scale)
    : CViewContainer(CRect(0, 0, size.width(), size.height())),
      parentWindow_(parentWindow),
      editor_(editor),
      scale_(limitScale(scale)) {
    if (parentWindow) window_ = CPlatformWindow::open(*this, parentWindow, size_.width(), size_.height());
}

CFrame::~CFrame() {
    if (window_) {
        window_->closeMenu();
        window_->hideTooltip();
    }
    onMouseExited();
    setFocusView(nullptr);
    if (mouseDownView_) {
        mouseDownView_->forget();
        mouseDownView_ = nullptr;
    }
    removeAll(true);
    setMouseObserver(nullptr);
    window_.reset();
}

void CFrame::setScale(double scale) {
    scale = limitScale(scale);
    if (scale == scale_) return;
    scale_ = scale;
    if (window_) window_->setScale(scale_);
    setDirty();
}

void CFrame::setMouseObserver(CMouseObserver* observer) {
    if (observer) observer->remember();
    if (observer_) {
        if (hovered_) observer_->onMouseExited(hovered_, this);
        observer_->forget();
    }
    observer_ = observer;
    if (observer_ && hovered_) observer_->onMouseEntered(hovered_, this);
}

void CFrame::idle() {
    if (inIdle_) return;
    inIdle_ = true;
    if (window_) window_->processEvents();
    CVSTGUITimer::fireDueTimers();
    if (observer_) observer_->onIdle(this);
    if (window_) window_->redraw();
    inIdle_ = false;
}

std::vector<CRect> CFrame::drawDirtyViews(CDrawContext* context) {
    std::vector<CRect> dirty;
    takeDirtyRects(dirty);
    for (CRect& r : dirty) r.bound(size_);
    dirty = mergeOverlapping(std::move(dirty));
    for (const CRect& r : dirty) drawRect(context, r);
    return dirty;
}

CView* CFrame::topViewAt(const CPoint& where) const {
    std::vector<CView*> views;
    collectViewsAt(where, views);
    return views.empty() ? nullptr : views.front();
}

CMouseEventResult CFrame::onMouseDown(CPoint& where, const CButtonState& buttons) {
    if (observer_) observer_->onMouseDown(this, where);
    if (mouseDownView_) return kMouseEventHandled;  // a second button during a drag
    // A click outside the focus view ends its keyboard input; the click still counts.
    if (focusView_ && !focusView_->localToFrame(focusView_->getViewSize()).pointInside(where)) setFocusView(nullptr);
    std::vector<CView*> candidates;
    collectViewsAt(where, candidates);
    ViewsHeld held(std::move(candidates));
    for (CView* view : held.get()) {
        if (!view->isAttached()) continue;  // removed by an earlier handler
        CPoint local = view->frameToLocal(where);
        const CMouseEventResult result = view->onMouseDown(local, buttons);
        if (result == kMouseEventHandled) {
            if (view->isAttached()) {
                view->remember();
                mouseDownView_ = view;
            }
            return result;
        }
        if (result == kMouseDownEventHandledButDontNeedMovedOrUpEvents) return result;
    }
    if (held.get().empty() && backgroundClick_ && backgroundClick_(where, buttons))
        return kMouseDownEventHandledButDontNeedMovedOrUpEvents;
    return kMouseEventNotHandled;
}

CMouseEventResult CFrame::onMouseUp(CPoint& where, const CButtonState& buttons) {
    CMouseEventResult result = kMouseEventNotHandled;
    if (CView* view = mouseDownView_) {
        mouseDownView_ = nullptr;
        CPoint local = view->frameToLocal(where);
        result = view->onMouseUp(local, buttons);
        view->forget();
    }
    updateHover(where);
    return result;
}

CMouseEventResult CFrame::onMouseMoved(CPoint& where, const CButtonState& buttons) {
    if (CView* view = mouseDownView_) {
        CPoint local = view->frameToLocal(where);
        return view->onMouseMoved(local, buttons);
    }
    updateHover(where);
    if (observer_) observer_->onMouseMoved(this, where);
    if (hovered_) {
        CPoint local = hovered_->frameToLocal(where);
        return hovered_->onMouseMoved(local, buttons);
    }
    return kMouseEventNotHandled;
}

bool CFrame::onWheel(const CPoint& where, float distance, const CButtonState& buttons) {
    if (mouseDownView_) return false;
    std::vector<CView*> candidates;
    collectViewsAt(where, candidates);
    ViewsHeld held(std::move(candidates));
    for (CView* view : held.get()) {
        if (!view->isAttached()) continue;
        if (view->onWheel(view->frameToLocal(where), distance, buttons)) return true;
    }
    return false;
}

void CFrame::updateHover(const CPoint& where) {
    CView* top = topViewAt(where);
    if (top == hovered_) return;
    CView* old = hovered_;
    hovered_ = top;
    if (observer_) {
        if (old) observer_->onMouseExited(old, this);
        if (top) observer_->onMouseEntered(top, this);
    }
}

void CFrame::onMouseExited() {
    if (!hovered_) return;
    CView* old = hovered_;
    hovered_ = nullptr;
    if (observer_) observer_->onMouseExited(old, this);
}

void CFrame::setFocusView(CView* view) {
    if (view == focusView_) return;
    CView* old = focusView_;
    if (view) view->remember();
    focusView_ = view;
    if (window_ && (old == nullptr) != (view == nullptr)) window_->setKeyboardFocus(view != nullptr);
    if (old) {
        old->onFocusLost();
        old->forget();
    }
}

bool CFrame::onKeyDown(const CKeyEvent& key) {
    if (CView* view = focusView_) {
        view->remember();  // its handler may close it
        const bool used = view->onKeyDown(key);
        view->forget();
        return used;
    }
    if (key.key == kKeyEscape && isPopupMenuOpen()) {
        closePopupMenu();
        return true;
    }
    return false;
}

void CFrame::onKeyboardFocusLost() { setFocusView(nullptr); }

void CFrame::onViewRemoved(CView* view) {
    auto inside = [view](const CView* v) {
        if (!v) return false;
        if (v == view) return true;
        return view->isContainer() && static_cast<CViewContainer*>(view)->contains(v);
    };
    if (inside(hovered_)) onMouseExited();
    if (inside(focusView_)) setFocusView(nullptr);
    if (inside(mouseDownView_)) {
        mouseDownView_->forget();
        mouseDownView_ = nullptr;
    }
    if (window_ && inside(window_->getMenuOwner())) window_->closeMenu();
}

bool CFrame::popupMenu(COptionMenu* menu) {
    if (!window_ || !menu) return false;
    return window_->openMenu(menu, menu->localToFrame(menu->getViewSize()));
}

bool CFrame::popupMenu(COptionMenu* menu, const CRect& frameRect) {
    if (!window_ || !menu) return false;
    return window_->openMenu(menu, frameRect);
}

void CFrame::closePopupMenu() {
    if (window_) window_->closeMenu();
}

bool CFrame::isPopupMenuOpen() const { return window_ && window_->getMenuOwner() != nullptr; }

void CFrame::showTooltip(const CPoint& where, const char* text) {
    if (window_ && text) window_->showTooltip(where, text);
}

void CFrame::hideTooltip() {
    if (window_) window_->hideTooltip();
}

}  // namespace VSTGUI
