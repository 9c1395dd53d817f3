// The scale the window system asks applications to draw at: 0 when it says nothing.
#pragma once

namespace VSTGUI {

// Linux: Xft.dpi of the X resources over 96, else GDK_SCALE. Windows: the DPI of
// `window` (an HWND; the system's when null or on systems before per-monitor DPI) over 96.
// Opens a short display connection of its own on X11.
double systemScale(void* window);

// "Xft.dpi" of a resource string as XResourceManagerString gives it, over 96.
double scaleFromXResources(const char* resources);
// A GDK_SCALE value: a whole factor of 1 or more.
double scaleFromGdkScale(const char* value);

}  // namespace VSTGUI
