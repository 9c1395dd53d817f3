#include "gui/platform/win32/Win32Window.h"

#include "gui/CDrawContext.h"
#include "gui/CFrame.h"
#include "gui/COptionMenu.h"
#include "gui/CTooltipSupport.h"
#include "gui/SystemScale.h"
#include "gui/VSTGUIEditorInterface.h"
#include "gui/platform/win32/CDropTarget.h"
#include "gui/platform/win32/GdiNative.h"

#include <ole2.h>
#include <windowsx.h>

#include <cmath>
#include <cstdio>
#include <vector>

namespace VSTGUI {

std::unique_ptr<CPlatformWindow> CPlatformWindow::open(CFrame& frame, void* parent, CCoord width, CCoord height) {
    return Win32Window::open(frame, parent, width, height);
}

bool platformInitialize() {
    const HRESULT result = OleInitialize(nullptr);
    return result == S_OK || result == S_FALSE;
}

void platformUninitialize() { OleUninitialize(); }

namespace {

constexpr UINT kOpenMenuMessage = WM_APP + 1;
// WM_DPICHANGED and WM_DPICHANGED_AFTERPARENT, which older headers lack.
constexpr UINT kDpiChangedMessage = 0x02E0;
constexpr UINT kDpiChangedAfterParentMessage = 0x02E3;

HINSTANCE moduleOfThisCode() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&moduleOfThisCode), &module);
    return module;
}

// Shift and Control as the message carries them, Alt (and the others once more) from the
// keyboard state, which messages do not carry.
int modifierBits(WPARAM wParam) {
    int bits = 0;
    if ((wParam & MK_SHIFT) || GetKeyState(VK_SHIFT) < 0) bits |= kShift;
    if ((wParam & MK_CONTROL) || GetKeyState(VK_CONTROL) < 0) bits |= kControl;
    if (GetKeyState(VK_MENU) < 0) bits |= kAlt;
    return bits;
}

int buttonBits(WPARAM wParam) {
    int bits = 0;
    if (wParam & MK_LBUTTON) bits |= kLButton;
    if (wParam & MK_MBUTTON) bits |= kMButton;
    if (wParam & MK_RBUTTON) bits |= kRButton;
    return bits;
}

CVirtualKey virtualKey(WPARAM key) {
    switch (key) {
        case VK_RETURN: return kKeyReturn;
        case VK_ESCAPE: return kKeyEscape;
        case VK_BACK: return kKeyBackspace;
        case VK_DELETE: return kKeyDelete;
        case VK_LEFT: return kKeyLeft;
        case VK_RIGHT: return kKeyRight;
        case VK_HOME: return kKeyHome;
        case VK_END: return kKeyEnd;
        default: return kKeyNone;
    }
}

// One code point as UTF-8.
std::string utf8Of(unsigned long c) {
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xc0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xe0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (c & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (c & 0x3f));
    }
    return out;
}

// Win32 menus take '&' for a mnemonic; the entries mean the character itself.
std::string menuText(const char* text) {
    std::string out;
    for (const char* c = text ? text : ""; *c; ++c) {
        if (*c == '&') out += '&';
        out += *c;
    }
    return out;
}

// The pop-up menu of `menu` and its sub-menus. Command ids are positions in `commands`
// plus one; every menu shown is remembered in `held` for the life of the list.
HMENU buildMenu(COptionMenu* menu, std::vector<std::pair<COptionMenu*, int>>& commands,
                std::vector<COptionMenu*>& held) {
    menu->remember();
    held.push_back(menu);
    HMENU popup = CreatePopupMenu();
    const bool check = (menu->getStyle() & kCheckStyle) != 0;
    for (int i = 0; i < menu->getNbEntries(); ++i) {
        const std::string text = menuText(menu->getEntryText(i));
        if (menu->isSeparator(i)) {
            AppendMenuA(popup, MF_SEPARATOR, 0, nullptr);
        } else if (COptionMenu* sub = menu->getSubMenu(i)) {
            AppendMenuA(popup, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(buildMenu(sub, commands, held)),
                        text.c_str());
        } else {
            commands.emplace_back(menu, i);
            const UINT checked = check && i == menu->getCurrent() ? MF_CHECKED : MF_UNCHECKED;
            AppendMenuA(popup, MF_STRING | checked, commands.size(), text.c_str());
        }
    }
    return popup;
}

}  // namespace

std::unique_ptr<Win32Window> Win32Window::open(CFrame& frame, void* parent, CCoord width, CCoord height) {
    HWND parentWindow = static_cast<HWND>(parent);
    if (!parentWindow || !IsWindow(parentWindow) || width <= 0 || height <= 0) return nullptr;
    std::unique_ptr<Win32Window> window(new Win32Window(frame, width, height));
    if (!window->create(parentWindow)) return nullptr;  // the destructor undoes what was done
    return window;
}

Win32Window::Win32Window(CFrame& frame, CCoord width, CCoord height)
    : frame_(frame), width_(width), height_(height), scale_(frame.getScale()), instance_(moduleOfThisCode()) {
    const void* owner = frame.getEditor() ? static_cast<const void*>(frame.getEditor()) : &frame;
    char name[64];
    std::snprintf(name, sizeof name, "Plugin%p", owner);
    className_ = name;
}

bool Win32Window::create(HWND parent) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_DBLCLKS;  // the second press of a double click comes as WM_xBUTTONDBLCLK
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance_;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.lpszClassName = className_.c_str();
    classRegistered_ = RegisterClassExA(&windowClass) != 0;
    if (!classRegistered_) return false;
    window_ = CreateWindowExA(0, className_.c_str(), "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0,
                              toDevice(width_), toDevice(height_), parent, nullptr, instance_, this);
    if (!window_) return false;
    backBuffer_ = std::make_unique<COffscreenContext>(width_, height_, scale_);
    frame_.setDirty();  // the first paint draws everything
    SetTimer(window_, kIdleTimer, kIdlePeriodMs, nullptr);
    // Registration needs OLE on this thread (platformInitialize); without it the window
    // simply is no drop target.
    dropTarget_ = new CDropTarget;
    dropTargetRegistered_ = RegisterDragDrop(window_, dropTarget_) == S_OK;
    return true;
}

Win32Window::~Win32Window() {
    *alive_ = false;
    closeMenu();
    hideTooltip();
    setKeyboardFocus(false);
    if (window_) {
        SetWindowLongPtrA(window_, GWLP_USERDATA, 0);  // no message reaches the frame from here on
        KillTimer(window_, kIdleTimer);
        if (GetCapture() == window_) ReleaseCapture();
        if (dropTargetRegistered_) RevokeDragDrop(window_);
        // The host may have destroyed its window, and ours with it, already.
        if (IsWindow(window_)) DestroyWindow(window_);
    }
    if (dropTarget_) dropTarget_->Release();
    backBuffer_.reset();
    if (classRegistered_) UnregisterClassA(className_.c_str(), instance_);
}

LRESULT CALLBACK Win32Window::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!self) return DefWindowProcA(window, message, wParam, lParam);
    return self->handleMessage(window, message, wParam, lParam);
}

LRESULT Win32Window::handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window != window_) {  // the tooltip
        if (message != WM_PAINT) return DefWindowProcA(window, message, wParam, lParam);
        paint(window);
        return 0;
    }
    switch (message) {
        case WM_PAINT: paint(window); return 0;
        case WM_ERASEBKGND: return 1;  // the paint covers everything
        case WM_TIMER:
            if (wParam == kIdleTimer) frame_.idle();
            return 0;
        case WM_LBUTTONDOWN: onButtonDown(kLButton, wParam, lParam); return 0;
        case WM_MBUTTONDOWN: onButtonDown(kMButton, wParam, lParam); return 0;
        case WM_RBUTTONDOWN: onButtonDown(kRButton, wParam, lParam); return 0;
        case WM_LBUTTONDBLCLK: onButtonDown(kLButton | kDoubleClick, wParam, lParam); return 0;
        case WM_MBUTTONDBLCLK: onButtonDown(kMButton | kDoubleClick, wParam, lParam); return 0;
        case WM_RBUTTONDBLCLK: onButtonDown(kRButton | kDoubleClick, wParam, lParam); return 0;
        // While a view takes keys, every key is ours, dialog keys (Return, Escape, Tab) included.
        case WM_GETDLGCODE:
            if (keyboardHeld_) return DLGC_WANTALLKEYS | DLGC_WANTCHARS;
            return DefWindowProcA(window, message, wParam, lParam);
        case WM_KEYDOWN:
            if (!keyboardHeld_) return DefWindowProcA(window, message, wParam, lParam);
            onKeyDown(wParam);
            return 0;
        case WM_CHAR:
            if (!keyboardHeld_) return DefWindowProcA(window, message, wParam, lParam);
            onChar(wParam);
            return 0;
        case WM_KILLFOCUS:
            // Another window took the keyboard (a click into the host): the view lets go.
            if (keyboardHeld_) frame_.onKeyboardFocusLost();
            return 0;
        case WM_LBUTTONUP: onButtonUp(kLButton, wParam, lParam); return 0;
        case WM_MBUTTONUP: onButtonUp(kMButton, wParam, lParam); return 0;
        case WM_RBUTTONUP: onButtonUp(kRButton, wParam, lParam); return 0;
        case WM_MOUSEMOVE: onMouseMove(wParam, lParam); return 0;
        case WM_CAPTURECHANGED:
            // Another window took the mouse during a drag (a host's dialog, a system menu):
            // the drag ends here rather than waiting for a release that never comes.
            if (reinterpret_cast<HWND>(lParam) != window_ && frame_.getMouseDownView()) {
                CPoint where = lastMouse_;
                frame_.onMouseUp(where, CButtonState(dragButton_));
            }
            return 0;
        case WM_MOUSELEAVE:
            trackingLeave_ = false;
            if (GetCapture() != window_) frame_.onMouseExited();
            return 0;
        case WM_MOUSEWHEEL: {
            POINT where{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};  // screen coordinates
            ScreenToClient(window_, &where);
            const float notches = static_cast<float>(GET_WHEEL_DELTA_WPARAM(wParam)) / WHEEL_DELTA;
            frame_.onWheel(CPoint(toFrame(where.x), toFrame(where.y)), notches,
                           modifierBits(GET_KEYSTATE_WPARAM(wParam)));
            return 0;
        }
        case kOpenMenuMessage: runMenu(); return 0;
        case kDpiChangedMessage:
        case kDpiChangedAfterParentMessage:
            // Moved to a monitor of another DPI: a top-level window gets the first, a child
            // of a per-monitor aware host the second.
            if (VSTGUIEditorInterface* editor = frame_.getEditor()) editor->systemScaleChanged(systemScale(window_));
            return 0;
        default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

CCoord Win32Window::toDevice(CCoord c) const { return static_cast<CCoord>(std::lround(c * scale_)); }

CCoord Win32Window::toFrame(int c) const { return static_cast<CCoord>(std::floor(c / scale_)); }

// A mouse message's position in frame units.
CPoint Win32Window::pointOf(LPARAM lParam) const {
    return CPoint(toFrame(GET_X_LPARAM(lParam)), toFrame(GET_Y_LPARAM(lParam)));
}

void Win32Window::onButtonDown(int button, WPARAM wParam, LPARAM lParam) {
    // Moves and the release reach this window wherever the mouse goes during a drag.
    SetCapture(window_);
    CPoint where = lastMouse_ = pointOf(lParam);
    dragButton_ = button & ~kDoubleClick;
    frame_.onMouseDown(where, CButtonState(button | modifierBits(wParam)));
}

void Win32Window::onKeyDown(WPARAM wParam) {
    CKeyEvent key;
    key.key = virtualKey(wParam);
    if (key.key == kKeyNone) return;  // text comes as WM_CHAR
    key.modifiers = modifierBits(0);
    frame_.onKeyDown(key);
}

void Win32Window::onChar(WPARAM wParam) {
    const auto unit = static_cast<wchar_t>(wParam);
    if (unit >= 0xd800 && unit < 0xdc00) {
        highSurrogate_ = unit;
        return;
    }
    unsigned long c = unit;
    if (unit >= 0xdc00 && unit < 0xe000) {
        if (!highSurrogate_) return;
        c = 0x10000 + ((static_cast<unsigned long>(highSurrogate_) - 0xd800) << 10) + (unit - 0xdc00);
    }
    highSurrogate_ = 0;
    if (c < 0x20 || c == 0x7f) return;  // Return, Escape and Backspace came as WM_KEYDOWN
    CKeyEvent key;
    key.text = utf8Of(c);
    key.modifiers = modifierBits(0) & kShift;  // AltGr types text with Control and Alt down
    frame_.onKeyDown(key);
}

void Win32Window::setKeyboardFocus(bool take) {
    if (take == keyboardHeld_ || !window_) return;
    if (take) {
        previousFocus_ = SetFocus(window_);
        keyboardHeld_ = true;
        return;
    }
    keyboardHeld_ = false;  // first: losing the focus below ends nothing more
    highSurrogate_ = 0;
    if (GetFocus() == window_) SetFocus(previousFocus_ && IsWindow(previousFocus_) ? previousFocus_ : GetParent(window_));
    previousFocus_ = nullptr;
}

void Win32Window::onButtonUp(int button, WPARAM wParam, LPARAM lParam) {
    CPoint where = lastMouse_ = pointOf(lParam);
    frame_.onMouseUp(where, CButtonState(button | modifierBits(wParam)));
    // After the frame has the release, so that losing the capture ends nothing more.
    if (!buttonBits(wParam) && GetCapture() == window_) ReleaseCapture();
}

void Win32Window::onMouseMove(WPARAM wParam, LPARAM lParam) {
    if (!trackingLeave_) {
        TRACKMOUSEEVENT track{sizeof(TRACKMOUSEEVENT), TME_LEAVE, window_, 0};
        trackingLeave_ = TrackMouseEvent(&track) != FALSE;
    }
    CPoint where = lastMouse_ = pointOf(lParam);
    frame_.onMouseMoved(where, CButtonState(buttonBits(wParam) | modifierBits(wParam)));
}

void Win32Window::paint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (window == window_) {
        frame_.drawDirtyViews(backBuffer_.get());
        const RECT& r = paint.rcPaint;
        BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, backBuffer_->getNative().dc, r.left, r.top,
               SRCCOPY);
    } else if (window == tooltip_) {
        const CPoint size = CTooltipSupport::getTipSize(tooltipText_.c_str());
        COffscreenContext image(size.x, size.y, scale_);
        CTooltipSupport::drawTip(image, tooltipText_.c_str());
        BitBlt(dc, 0, 0, image.getPixelWidth(), image.getPixelHeight(), image.getNative().dc, 0, 0, SRCCOPY);
    }
    EndPaint(window, &paint);
}

void Win32Window::redraw() {
    const std::vector<CRect> drawn = frame_.drawDirtyViews(backBuffer_.get());
    if (drawn.empty()) return;
    HDC dc = GetDC(window_);
    for (const CRect& frameRect : drawn) {
        const CRect r(toDevice(frameRect.left), toDevice(frameRect.top), toDevice(frameRect.right),
                      toDevice(frameRect.bottom));
        BitBlt(dc, r.left, r.top, r.width(), r.height(), backBuffer_->getNative().dc, r.left, r.top, SRCCOPY);
    }
    ReleaseDC(window_, dc);
}

bool Win32Window::openMenu(COptionMenu* menu, const CRect& frameRect) {
    closeMenu();
    hideTooltip();
    if (!menu) return false;
    menu->remember();
    menuOwner_ = menu;
    menuAnchor_ = frameRect;
    PostMessageA(window_, kOpenMenuMessage, 0, 0);
    return true;
}

void Win32Window::closeMenu() {
    if (menuTracking_) EndMenu();  // TrackPopupMenu returns at its next turn
    menuTracking_ = false;
    if (menuOwner_) menuOwner_->forget();
    menuOwner_ = nullptr;
}

void Win32Window::runMenu() {
    COptionMenu* root = menuOwner_;
    if (!root || menuTracking_) return;  // closed before its turn came
    std::vector<std::pair<COptionMenu*, int>> commands;
    std::vector<COptionMenu*> held;
    HMENU popup = buildMenu(root, commands, held);
    POINT at{toDevice(menuAnchor_.left),
             toDevice((root->getStyle() & kPopupStyle) ? menuAnchor_.top : menuAnchor_.bottom)};
    ClientToScreen(window_, &at);

    const std::shared_ptr<bool> alive = alive_;
    menuTracking_ = true;
    const int chosen = static_cast<int>(TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RETURNCMD |
                                                                  TPM_NONOTIFY | TPM_RIGHTBUTTON,
                                                              at.x, at.y, 0, window_, nullptr));
    DestroyMenu(popup);  // and its sub-menus
    // The editor may have been closed while the list was up: then only locals are left.
    if (*alive && menuTracking_) {
        menuTracking_ = false;
        if (chosen > 0 && static_cast<size_t>(chosen) <= commands.size()) {
            const auto& command = commands[static_cast<size_t>(chosen) - 1];
            closeMenu();
            command.first->chooseEntry(command.second);
        } else {
            closeMenu();
        }
    }
    for (COptionMenu* menu : held) menu->forget();
}

void Win32Window::showTooltip(const CPoint& where, const char* text) {
    hideTooltip();
    if (!text || !*text || menuOwner_) return;
    tooltipText_ = text;
    const CPoint size = CTooltipSupport::getTipSize(text);
    POINT at{toDevice(where.x + 4), toDevice(where.y + 20)};
    ClientToScreen(window_, &at);
    tooltip_ = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_NOACTIVATE, className_.c_str(), "",
                               WS_POPUP, at.x, at.y, toDevice(size.x), toDevice(size.y), window_, nullptr, instance_,
                               this);
    if (tooltip_) ShowWindow(tooltip_, SW_SHOWNOACTIVATE);
}

void Win32Window::hideTooltip() {
    if (tooltip_) DestroyWindow(tooltip_);
    tooltip_ = nullptr;
    tooltipText_.clear();
}

void Win32Window::setScale(double scale) {
    if (scale == scale_) return;
    closeMenu();
    hideTooltip();
    scale_ = scale;
    backBuffer_ = std::make_unique<COffscreenContext>(width_, height_, scale_);
    SetWindowPos(window_, nullptr, 0, 0, toDevice(width_), toDevice(height_),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(window_, nullptr, FALSE);
}

}  // namespace VSTGUI
