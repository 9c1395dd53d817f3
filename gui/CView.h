// Views: a rectangle, a draw method, mouse handlers and a dirty mark; and the container
// that holds them.
#pragma once

#include "gui/CGeometry.h"
#include "gui/CKeyEvent.h"
#include "gui/CReferenceCounter.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <vector>

namespace VSTGUI {

class CBitmap;
class CDrawContext;
class CFrame;
class CView;

using CViewAttributeID = uint32_t;

constexpr CViewAttributeID makeAttributeID(char a, char b, char c, char d) {
    return (uint32_t(uint8_t(a)) << 24) | (uint32_t(uint8_t(b)) << 16) | (uint32_t(uint8_t(c)) << 8) |
           uint32_t(uint8_t(d));
}
// A view's tooltip: its text including the terminating zero.
constexpr CViewAttributeID kCViewTooltipAttribute = makeAttributeID('c', 'v', 't', 't');

// Told by the frame where the mouse goes (the tooltip support is one).
class CMouseObserver : public CReferenceCounter {
public:
    virtual void onMouseEntered(CView* view, CFrame* frame) = 0;
    virtual void onMouseExited(CView* view, CFrame* frame) = 0;
    virtual void onMouseMoved(CFrame*, const CPoint&) {}
    virtual void onMouseDown(CFrame*, const CPoint&) {}
    // Called once per frame idle.
    virtual void onIdle(CFrame*) {}
};

// The base of everything on screen. `size` is in the coordinates of the parent container;
// mouse positions passed to the handlers are in the same coordinates.
// The dirty mark may be set from any thread; everything else is GUI-thread only.
class CView : public CReferenceCounter {
public:
    explicit CView(const CRect& size);
    ~CView() override;

    // Draws the view at its rectangle. The default draws the background bitmap.
    virtual void draw(CDrawContext* context);

    virtual CMouseEventResult onMouseDown(CPoint& where, const CButtonState& buttons);
    virtual CMouseEventResult onMouseUp(CPoint& where, const CButtonState& buttons);
    virtual CMouseEventResult onMouseMoved(CPoint& where, const CButtonState& buttons);
    // `distance` is in wheel notches, positive away from the user. True if handled.
    virtual bool onWheel(const CPoint& where, float distance, const CButtonState& buttons);
    // Keys reach only the frame's focus view. True if the key was used.
    virtual bool onKeyDown(const CKeyEvent&) { return false; }
    // The view stopped being the frame's focus view (another took it, a click
    // elsewhere, the window lost the keyboard).
    virtual void onFocusLost() {}

    // Marks the view for redrawing at the next idle of its frame. Safe from any thread.
    virtual void setDirty(bool dirty = true) { dirty_.store(dirty, std::memory_order_relaxed); }
    virtual bool isDirty() const { return dirty_.load(std::memory_order_relaxed); }
    void invalid() { setDirty(true); }
    // Clears the dirty mark and tells whether it was set.
    bool takeDirty() { return dirty_.exchange(false, std::memory_order_relaxed); }

    const CRect& getViewSize() const { return size_; }
    void getViewSize(CRect& rect) const { rect = size_; }
    virtual void setViewSize(const CRect& rect);
    CCoord getWidth() const { return size_.width(); }
    CCoord getHeight() const { return size_.height(); }
    virtual bool hitTest(const CPoint& where) const { return size_.pointInside(where); }
    void setMouseEnabled(bool enabled) { mouseEnabled_ = enabled; }
    bool getMouseEnabled() const { return mouseEnabled_; }

    virtual void setBackground(CBitmap* bitmap);
    CBitmap* getBackground() const { return background_; }

    // Attributes by four-character id; the data is copied. Answer false on bad arguments.
    bool setAttribute(CViewAttributeID id, int size, const void* data);
    bool getAttributeSize(CViewAttributeID id, int& size) const;
    bool getAttribute(CViewAttributeID id, int inSize, void* data, int& outSize) const;
    bool removeAttribute(CViewAttributeID id);
    // The attribute as zero-terminated text, or nullptr if absent or not terminated.
    const char* getAttributeText(CViewAttributeID id) const;

    // Called when the view is added to / removed from a container that may be in a frame.
    virtual bool attached(CView* parent);
    virtual bool removed(CView* parent);
    bool isAttached() const { return parent_ != nullptr; }
    CView* getParentView() const { return parent_; }
    virtual CFrame* getFrame() const { return frame_; }
    virtual bool isContainer() const { return false; }

    // Converts between frame coordinates and those of this view's `size`.
    CPoint frameToLocal(const CPoint& framePoint) const;
    CRect localToFrame(const CRect& local) const;

protected:
    CRect size_;
    CBitmap* background_ = nullptr;

private:
    std::atomic<bool> dirty_{true};
    bool mouseEnabled_ = true;
    CView* parent_ = nullptr;
    CFrame* frame_ = nullptr;
    std::map<CViewAttributeID, std::vector<char>> attributes_;
};

// Holds child views, drawn in the order added (later ones on top, hit first). Children's
// rectangles are relative to the container's top-left corner. The container owns the
// reference each added view came with.
class CViewContainer : public CView {
public:
    explicit CViewContainer(const CRect& size);
    ~CViewContainer() override;

    // Takes over the caller's reference to `view`; false for null or a view already added.
    virtual bool addView(CView* view);
    // Takes the view out; with `withForget` the container's reference is released.
    virtual bool removeView(CView* view, bool withForget = true);
    // Removes every child, the last added first.
    virtual void removeAll(bool withForget = true);
    int getNbViews() const { return static_cast<int>(children_.size()); }
    CView* getView(int index) const;
    bool isChild(CView* view) const;
    // True if `view` is this container or lies anywhere inside it.
    bool contains(const CView* view) const;

    void setBackgroundColor(const CColor& color) { backgroundColor_ = color; hasBackgroundColor_ = true; }

    // Background and every child.
    void draw(CDrawContext* context) override;
    // The part inside `updateRect` (in this container's parent coordinates) only.
    virtual void drawRect(CDrawContext* context, const CRect& updateRect);

    bool attached(CView* parent) override;
    bool removed(CView* parent) override;
    bool isContainer() const override { return true; }

    // Views under `where` (parent coordinates), topmost first, containers after their children.
    void collectViewsAt(const CPoint& where, std::vector<CView*>& out) const;
    // Takes every dirty mark below (and of) this container; adds their frame rectangles.
    void takeDirtyRects(std::vector<CRect>& out);

protected:
    void drawBackgroundRect(CDrawContext* context, const CRect& localRect);

private:
    std::vector<CView*> children_;
    CColor backgroundColor_ = kBlackCColor;
    bool hasBackgroundColor_ = false;
};

}  // namespace VSTGUI
