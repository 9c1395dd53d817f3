#include "gui/SystemScale.h"

#include <windows.h>

namespace VSTGUI {

namespace {

using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);

// Windows 10 1607 and later; looked up at run time so the library still loads on
// older systems (and Wine versions), which then answer the system's DPI.
GetDpiForWindowFunction getDpiForWindow() {
    static const GetDpiForWindowFunction function = [] {
        HMODULE user32 = GetModuleHandleA("user32.dll");
        return user32 ? reinterpret_cast<GetDpiForWindowFunction>(
                            reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForWindow")))
                      : nullptr;
    }();
    return function;
}

}  // namespace

double systemScale(void* window) {
    constexpr double kReferenceDpi = 96.0;
    HWND handle = static_cast<HWND>(window);
    UINT dpi = 0;
    if (handle && IsWindow(handle))
        if (GetDpiForWindowFunction function = getDpiForWindow()) dpi = function(handle);
    if (dpi == 0) {
        if (HDC screen = GetDC(nullptr)) {
            dpi = static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSX));
            ReleaseDC(nullptr, screen);
        }
    }
    return dpi > 0 ? dpi / kReferenceDpi : 0.0;
}

}  // namespace VSTGUI
