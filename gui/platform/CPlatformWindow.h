// What a frame needs of its window system: one implementation per platform, chosen at
// build time by the source file that defines CPlatformWindow::open (x11/ or win32/).
#pragma once

#include "gui/CGeometry.h"

#include <memory>

namespace VSTGUI {

class CFrame;
class COptionMenu;

class CPlatformWindow {
public:
    // Opens a child window of `parent` (an X11 Window id, an HWND) showing `frame`; null when
    // the parent is not a usable window or there is no display. Nothing is left behind then.
    static std::unique_ptr<CPlatformWindow> open(CFrame& frame, void* parent, CCoord width, CCoord height);

    CPlatformWindow() = default;
    CPlatformWindow(const CPlatformWindow&) = delete;
    CPlatformWindow& operator=(const CPlatformWindow&) = delete;
    virtual ~CPlatformWindow() = default;

    // Handles the window's pending input where the platform does not deliver it itself.
    virtual void processEvents() = 0;
    // Draws the frame's dirty views into the back buffer and shows them and exposed areas.
    virtual void redraw() = 0;

    // Shows the pop-up list of `menu` at `frameRect` (the control's rectangle in frame
    // coordinates). A choice reaches the menu through COptionMenu::chooseEntry.
    virtual bool openMenu(COptionMenu* menu, const CRect& frameRect) = 0;
    virtual void closeMenu() = 0;
    // The menu whose list is open, or null.
    virtual COptionMenu* getMenuOwner() const = 0;

    // Resizes the window to the frame's size x `scale` device pixels; the frame redraws.
    virtual void setScale(double scale) = 0;

    // Takes the keyboard from the host's window (true) or gives it back to whoever had it.
    virtual void setKeyboardFocus(bool /*take*/) {}

    virtual void showTooltip(const CPoint& where, const char* text) = 0;
    virtual void hideTooltip() = 0;
};

}  // namespace VSTGUI
