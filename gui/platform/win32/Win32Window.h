// The Win32 side of a frame: a child window of the host's window, of a window class of
// its own, with its off-screen back buffer, Win32 pop-up menus and a tooltip window.
// Only CFrame uses this.
#pragma once

#include "gui/platform/CPlatformWindow.h"

#include <windows.h>

#include <memory>
#include <string>

namespace VSTGUI {

class CDropTarget;
class COffscreenContext;

// The window class is registered when the window opens, under "Plugin%p" with the
// editor's address (the frame's without an editor), and unregistered when it closes, so
// two editors open at once never share a class, timers or state. A timer runs the frame's
// idle (tooltips, dirty views) between the host's own idle calls.
class Win32Window : public CPlatformWindow {
public:
    static std::unique_ptr<Win32Window> open(CFrame& frame, void* parent, CCoord width, CCoord height);
    ~Win32Window() override;

    // The host's message loop delivers every message to the window procedure.
    void processEvents() override {}
    void redraw() override;

    // The list opens from the window's own message loop turn, not inside the click that
    // asked for it (TrackPopupMenu runs a modal loop of its own).
    bool openMenu(COptionMenu* menu, const CRect& frameRect) override;
    void closeMenu() override;
    COptionMenu* getMenuOwner() const override { return menuOwner_; }

    void setScale(double scale) override;

    void showTooltip(const CPoint& where, const char* text) override;
    void hideTooltip() override;

    HWND getHandle() const { return window_; }
    const std::string& getClassName() const { return className_; }

    static constexpr UINT kIdleTimer = 1;
    static constexpr UINT kIdlePeriodMs = 50;

private:
    Win32Window(CFrame& frame, CCoord width, CCoord height);
    bool create(HWND parent);
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void onButtonDown(int button, WPARAM wParam, LPARAM lParam);
    void onButtonUp(int button, WPARAM wParam, LPARAM lParam);
    void onMouseMove(WPARAM wParam, LPARAM lParam);
    void paint(HWND window);
    CCoord toDevice(CCoord c) const;
    CCoord toFrame(int c) const;
    CPoint pointOf(LPARAM lParam) const;
    void runMenu();

    CFrame& frame_;
    CCoord width_, height_;  // frame units; the window is these x scale_ pixels
    double scale_;
    HINSTANCE instance_ = nullptr;
    std::string className_;
    bool classRegistered_ = false;
    HWND window_ = nullptr;
    std::unique_ptr<COffscreenContext> backBuffer_;
    CDropTarget* dropTarget_ = nullptr;
    bool dropTargetRegistered_ = false;
    bool trackingLeave_ = false;
    CPoint lastMouse_;    // where the last mouse message was, in window coordinates
    int dragButton_ = 0;  // the button of the last press

    COptionMenu* menuOwner_ = nullptr;  // holds a reference while its list is pending or open
    CRect menuAnchor_;
    bool menuTracking_ = false;
    // Cleared by the destructor: the menu's modal loop may outlive the window.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    HWND tooltip_ = nullptr;
    std::string tooltipText_;
};

}  // namespace VSTGUI
