// The X11 side of a frame: a child window of the host's window on its own display
// connection, its pop-up lists and its tooltip. Only CFrame uses this.
#pragma once

#include "gui/CGeometry.h"
#include "gui/platform/CPlatformWindow.h"

#include <memory>
#include <string>
#include <vector>

typedef struct _XDisplay Display;
union _XEvent;

namespace VSTGUI {

class CFrame;
class CMenuPopupModel;
class COffscreenContext;
class COptionMenu;

class X11Window : public CPlatformWindow {
public:
    // Opens a child window of `parent` (an X11 Window id) of the given size; null when there
    // is no display or the parent is not a valid window. X errors never reach the host.
    static std::unique_ptr<X11Window> open(CFrame& frame, void* parent, CCoord width, CCoord height);
    ~X11Window() override;

    // Handles every pending event: mouse input goes to the frame or the open pop-up list.
    void processEvents() override;
    void redraw() override;

    bool openMenu(COptionMenu* menu, const CRect& frameRect) override;
    void closeMenu() override;
    COptionMenu* getMenuOwner() const override;

    void setScale(double scale) override;

    void showTooltip(const CPoint& where, const char* text) override;
    void hideTooltip() override;

    unsigned long getWindowId() const { return window_; }

private:
    struct Overlay {
        unsigned long window = 0;
        CRect bounds;  // screen coordinates in frame units
    };
    // What XPutImage needs to know of a kind of window (Visual* and GC, kept opaque here).
    struct ImageTarget {
        void* visual = nullptr;
        int depth = 0;
        void* gc = nullptr;
    };

    X11Window(CFrame& frame, Display* display, unsigned long window, CCoord width, CCoord height);
    void handleEvent(_XEvent& event);
    void handleMenuEvent(_XEvent& event);
    void present(const CRect& rect);
    void putImage(COffscreenContext& image, const CRect& rect, unsigned long window, const ImageTarget& target);
    // The screen position of the window in frame units.
    CPoint screenOrigin() const;
    CCoord toDevice(CCoord c) const;
    CRect toDevice(const CRect& r) const;
    CCoord toFrame(int c) const;
    CRect toFrame(const CRect& r) const;
    Overlay createOverlay(const CRect& screenBounds);
    void destroyOverlay(Overlay& overlay);
    void syncMenuWindows();
    void drawMenuLevel(int level);
    void drawTooltip();

    CFrame& frame_;
    Display* display_;
    unsigned long window_;
    CCoord width_, height_;  // frame units; the window is these x scale_ pixels
    double scale_;
    ImageTarget windowTarget_;   // the child window: the parent's visual and depth
    ImageTarget overlayTarget_;  // pop-up lists and tooltips: the root's
    std::unique_ptr<COffscreenContext> backBuffer_;
    CRect exposed_;

    std::unique_ptr<CMenuPopupModel> menu_;
    std::vector<Overlay> menuWindows_;
    CPoint menuOpenedAt_;
    bool menuAwaitingFirstRelease_ = false;

    Overlay tooltip_;
    std::string tooltipText_;
};

}  // namespace VSTGUI
