#include "gui/SystemScale.h"

#include <X11/Xlib.h>

#include <cstdlib>

namespace VSTGUI {

double systemScale(void*) {
    double scale = 0.0;
    if (Display* display = XOpenDisplay(nullptr)) {
        // The resources the server held when the connection opened (xrdb's database).
        scale = scaleFromXResources(XResourceManagerString(display));
        XCloseDisplay(display);
    }
    if (scale > 0.0) return scale;
    return scaleFromGdkScale(std::getenv("GDK_SCALE"));
}

}  // namespace VSTGUI
