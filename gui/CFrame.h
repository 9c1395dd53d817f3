// The top-level view: owns the views of one editor window and, when it has a parent
// window, the platform window that shows them.
#pragma once

#include "gui/CView.h"

#include <functional>
#include <memory>
#include <vector>

namespace VSTGUI {

class COptionMenu;
class CPlatformWindow;
class VSTGUIEditorInterface;

// Starts the toolkit's use of the platform on the calling thread (OLE on Windows, for the
// windows' drag-and-drop registration); call it before opening frames with windows. Each
// true answer is balanced by one platformUninitialize on the same thread.
bool platformInitialize();
void platformUninitialize();

// The scales a frame draws at: device pixels per frame unit.
constexpr double kMinScale = 1.0;
constexpr double kMaxScale = 3.0;

// Frame coordinates are the window's pixel coordinates: the frame's rectangle always starts
// at (0, 0), and the rectangles of the views added to it are in frame coordinates.
// With a parent window (an X11 Window id or an HWND as `void*`) the constructor opens a
// child window through the platform layer; `isOpen` tells whether that worked. Without one
// the frame still holds and draws views, e.g. into a COffscreenContext.
// GUI thread only, except the dirty marks of its views.
class CFrame : public CViewContainer {
public:
    CFrame(const CRect& size, void* parentWindow, VSTGUIEditorInterface* editor, double scale = 1.0);
    ~CFrame() override;

    bool isOpen() const { return window_ != nullptr; }
    // The number of device pixels per frame unit, 1 to 3. Frame and view coordinates stay
    // the same at every scale; the window becomes size x scale pixels and is redrawn whole.
    void setScale(double scale);
    double getScale() const { return scale_; }
    void* getParentWindow() const { return parentWindow_; }
    VSTGUIEditorInterface* getEditor() const { return editor_; }
    CFrame* getFrame() const override { return const_cast<CFrame*>(this); }

    // The frame keeps a reference to the observer (null removes it).
    void setMouseObserver(CMouseObserver* observer);
    CMouseObserver* getMouseObserver() const { return observer_; }

    // Handles the window's pending events, fires due timers, lets the mouse observer run,
    // then redraws the views marked dirty. Does nothing when called from inside itself.
    void idle();
    // Draws every view marked dirty (clearing the marks) into `context`; answers the frame
    // rectangles that were drawn.
    std::vector<CRect> drawDirtyViews(CDrawContext* context);

    // Mouse input in frame coordinates; the window calls these, and so can tests.
    // A view that handles a click receives all moves and the release until the button
    // goes up (capture), wherever the mouse goes.
    CMouseEventResult onMouseDown(CPoint& where, const CButtonState& buttons) override;
    CMouseEventResult onMouseUp(CPoint& where, const CButtonState& buttons) override;
    CMouseEventResult onMouseMoved(CPoint& where, const CButtonState& buttons) override;
    bool onWheel(const CPoint& where, float distance, const CButtonState& buttons) override;
    // The mouse left the window.
    void onMouseExited();

    // Keyboard. While a focus view is set, it receives every key and the window holds
    // the keyboard (so the host's shortcuts do not see the keys typed); clearing it, or a
    // click outside it, gives the keyboard back and tells the view (onFocusLost).
    void setFocusView(CView* view);
    CView* getFocusView() const { return focusView_; }
    // A key pressed in the window: to the focus view; without one, Escape closes an open
    // pop-up list. True if the key was used.
    bool onKeyDown(const CKeyEvent& key);
    // The window lost the keyboard to another window: the focus view is cleared.
    void onKeyboardFocusLost();
    CView* getMouseDownView() const { return mouseDownView_; }
    CView* getHoveredView() const { return hovered_; }

    // Shows the pop-up list of `menu` at the menu's rectangle; false if there is no window.
    bool popupMenu(COptionMenu* menu);
    // The same at `frameRect` instead (a menu that is not one of the frame's views).
    bool popupMenu(COptionMenu* menu, const CRect& frameRect);
    // Called with a click that lands on no view (the frame's own background); it answers
    // whether it took the click. Null removes it.
    using BackgroundClickHandler = std::function<bool(const CPoint& where, const CButtonState& buttons)>;
    void setBackgroundClickHandler(BackgroundClickHandler handler) { backgroundClick_ = std::move(handler); }
    void closePopupMenu();
    bool isPopupMenuOpen() const;
    // Shows a tooltip near `where` (frame coordinates); no-ops without a window.
    void showTooltip(const CPoint& where, const char* text);
    void hideTooltip();

    // Called by containers before a view leaves them, so nothing keeps pointing at it.
    void onViewRemoved(CView* view);

    bool attached(CView*) override { return false; }

private:
    void updateHover(const CPoint& where);
    CView* topViewAt(const CPoint& where) const;

    void* parentWindow_;
    VSTGUIEditorInterface* editor_;
    CMouseObserver* observer_ = nullptr;
    CView* mouseDownView_ = nullptr;  // holds a reference while captured
    CView* hovered_ = nullptr;
    CView* focusView_ = nullptr;  // holds a reference
    bool inIdle_ = false;
    double scale_ = 1.0;
    std::unique_ptr<CPlatformWindow> window_;
    BackgroundClickHandler backgroundClick_;
};

}  // namespace VSTGUI
