#include "jack/EditorWindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>

namespace kovalith {
namespace jack {

namespace {

// The editor has one size at each scale: the window manager should not offer another.
void setFixedSize(Display* display, Window window, int width, int height) {
    XSizeHints* hints = XAllocSizeHints();
    if (!hints) return;
    hints->flags = PMinSize | PMaxSize;
    hints->min_width = hints->max_width = width;
    hints->min_height = hints->max_height = height;
    XSetWMNormalHints(display, window, hints);
    XFree(hints);
}

}  // namespace

bool EditorWindow::open(int width, int height, const std::string& title, std::string* error) {
    if (display_) return true;
    display_ = XOpenDisplay(nullptr);
    if (!display_) {
        if (error) *error = "cannot open the X display";
        return false;
    }
    const int screen = DefaultScreen(display_);
    window_ = XCreateSimpleWindow(display_, RootWindow(display_, screen), 0, 0, static_cast<unsigned>(width),
                                  static_cast<unsigned>(height), 0, BlackPixel(display_, screen),
                                  BlackPixel(display_, screen));
    setFixedSize(display_, window_, width, height);
    XClassHint* classHint = XAllocClassHint();
    if (classHint) {
        char name[] = "kovalith-jack", className[] = "Kovalith";
        classHint->res_name = name;
        classHint->res_class = className;
        XSetClassHint(display_, window_, classHint);
        XFree(classHint);
    }
    XStoreName(display_, window_, title.c_str());
    // The close button sends WM_DELETE_WINDOW instead of killing the connection.
    Atom deleteAtom = XInternAtom(display_, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display_, window_, &deleteAtom, 1);
    deleteAtom_ = deleteAtom;
    XSelectInput(display_, window_, StructureNotifyMask);
    XSync(display_, False);
    return true;
}

void EditorWindow::show() {
    if (!display_) return;
    XMapRaised(display_, window_);
    XFlush(display_);
}

bool EditorWindow::resize(int width, int height) {
    if (!display_ || destroyed_ || width <= 0 || height <= 0) return false;
    setFixedSize(display_, window_, width, height);
    XResizeWindow(display_, window_, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XFlush(display_);
    return true;
}

void* EditorWindow::parentHandle() const { return reinterpret_cast<void*>(static_cast<uintptr_t>(window_)); }

int EditorWindow::fd() const { return display_ ? ConnectionNumber(display_) : -1; }

bool EditorWindow::handleEvents() {
    if (!display_) return false;
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == ClientMessage && static_cast<unsigned long>(event.xclient.data.l[0]) == deleteAtom_)
            closeRequested_ = true;
        // Another client may destroy the window outright; then it is gone already.
        if (event.type == DestroyNotify && event.xdestroywindow.window == window_) closeRequested_ = destroyed_ = true;
    }
    return !closeRequested_;
}

void EditorWindow::close() {
    if (!display_) return;
    if (!destroyed_) XDestroyWindow(display_, window_);
    XCloseDisplay(display_);
    display_ = nullptr;
    window_ = 0;
}

}  // namespace jack
}  // namespace kovalith
