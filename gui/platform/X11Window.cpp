#include "gui/platform/X11Window.h"

#include "gui/CDrawContext.h"
#include "gui/CFrame.h"
#include "gui/CMenuPopupModel.h"
#include "gui/COptionMenu.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cairo-xlib.h>
#include <cairo.h>

#include <cstdlib>

namespace VSTGUI {

namespace {

// X errors on our connection are counted here instead of reaching the process-wide
// handler (the default one would end the host).
int gErrorCount = 0;
int countError(Display*, XErrorEvent*) {
    ++gErrorCount;
    return 0;
}

// Routes X errors to countError for its lifetime; syncs first so every request made
// inside the scope has been answered before the host's handler returns.
class ErrorTrap {
public:
    explicit ErrorTrap(Display* display) : display_(display), errorsBefore_(gErrorCount) {
        previous_ = XSetErrorHandler(countError);
    }
    ~ErrorTrap() {
        XSync(display_, False);
        XSetErrorHandler(previous_);
    }
    bool failed() {
        XSync(display_, False);
        return gErrorCount != errorsBefore_;
    }

private:
    Display* display_;
    int errorsBefore_;
    int (*previous_)(Display*, XErrorEvent*);
};

int buttonBit(unsigned int button) {
    switch (button) {
        case Button1: return kLButton;
        case Button2: return kMButton;
        case Button3: return kRButton;
        default: return 0;
    }
}

int modifierBits(unsigned int state) {
    int bits = 0;
    if (state & ShiftMask) bits |= kShift;
    if (state & ControlMask) bits |= kControl;
    if (state & Mod1Mask) bits |= kAlt;
    if (state & Button1Mask) bits |= kLButton;
    if (state & Button2Mask) bits |= kMButton;
    if (state & Button3Mask) bits |= kRButton;
    return bits;
}

constexpr long kFrameEvents = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                              LeaveWindowMask | StructureNotifyMask;
constexpr long kOverlayEvents = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask;
constexpr CCoord kDragSelectDistance = 4;  // pixels a press must travel before its release chooses
const CFontDesc kTooltipFont{"Arial", 11.0, kNormalFace};

}  // namespace

std::unique_ptr<X11Window> X11Window::open(CFrame& frame, void* parent, CCoord width, CCoord height) {
    const Window parentWindow = static_cast<Window>(reinterpret_cast<uintptr_t>(parent));
    if (parentWindow == 0 || width <= 0 || height <= 0) return nullptr;
    Display* display = XOpenDisplay(nullptr);
    if (!display) return nullptr;

    Window window = 0;
    {
        ErrorTrap trap(display);
        XWindowAttributes parentAttributes;
        if (!XGetWindowAttributes(display, parentWindow, &parentAttributes) || trap.failed()) {
            XCloseDisplay(display);
            return nullptr;
        }
        XSetWindowAttributes attributes{};
        attributes.event_mask = kFrameEvents;
        attributes.background_pixel = BlackPixel(display, DefaultScreen(display));
        window = XCreateWindow(display, parentWindow, 0, 0, width, height, 0, CopyFromParent, InputOutput,
                               CopyFromParent, CWEventMask | CWBackPixel, &attributes);
        if (trap.failed()) window = 0;
        if (window) XMapWindow(display, window);
        if (window && trap.failed()) {
            XDestroyWindow(display, window);
            window = 0;
        }
    }
    if (!window) {
        XCloseDisplay(display);
        return nullptr;
    }
    return std::unique_ptr<X11Window>(new X11Window(frame, display, window, width, height));
}

X11Window::X11Window(CFrame& frame, Display* display, unsigned long window, CCoord width, CCoord height)
    : frame_(frame), display_(display), window_(window), width_(width), height_(height) {
    XWindowAttributes attributes;
    XGetWindowAttributes(display_, window_, &attributes);
    windowSurface_ = cairo_xlib_surface_create(display_, window_, attributes.visual, width_, height_);
    backBuffer_ = std::make_unique<COffscreenContext>(width_, height_);
    frame_.setDirty();  // the first idle draws everything
}

X11Window::~X11Window() {
    {
        ErrorTrap trap(display_);  // the host may already have destroyed its window
        closeMenu();
        hideTooltip();
        backBuffer_.reset();
        cairo_surface_destroy(windowSurface_);
        XDestroyWindow(display_, window_);
    }
    XCloseDisplay(display_);
}

CPoint X11Window::screenOrigin() const {
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(display_, window_, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
    return CPoint(x, y);
}

void X11Window::processEvents() {
    ErrorTrap trap(display_);
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        // Only the newest of a run of moves matters.
        while (event.type == MotionNotify && XPending(display_) > 0) {
            XEvent next;
            XPeekEvent(display_, &next);
            if (next.type != MotionNotify || next.xmotion.window != event.xmotion.window) break;
            XNextEvent(display_, &event);
        }
        handleEvent(event);
    }
}

void X11Window::handleEvent(XEvent& event) {
    if (event.type == Expose) {
        if (event.xexpose.window == window_) {
            exposed_.unite(CRect(CPoint(event.xexpose.x, event.xexpose.y), event.xexpose.width, event.xexpose.height));
        } else if (event.xexpose.window == tooltip_.window) {
            drawTooltip();
        } else {
            for (size_t i = 0; i < menuWindows_.size(); ++i)
                if (menuWindows_[i].window == event.xexpose.window) drawMenuLevel(static_cast<int>(i));
        }
        return;
    }
    if (menu_ && (event.type == ButtonPress || event.type == ButtonRelease || event.type == MotionNotify)) {
        handleMenuEvent(event);
        return;
    }
    switch (event.type) {
        case ButtonPress: {
            const unsigned int button = event.xbutton.button;
            const int modifiers = modifierBits(event.xbutton.state) & (kShift | kControl | kAlt);
            if (button == Button4 || button == Button5) {
                frame_.onWheel(CPoint(event.xbutton.x, event.xbutton.y), button == Button4 ? 1.f : -1.f, modifiers);
            } else if (buttonBit(button)) {
                CPoint where(event.xbutton.x, event.xbutton.y);
                frame_.onMouseDown(where, CButtonState(buttonBit(button) | modifiers));
            }
            break;
        }
        case ButtonRelease:
            if (buttonBit(event.xbutton.button)) {
                CPoint where(event.xbutton.x, event.xbutton.y);
                frame_.onMouseUp(where, CButtonState(buttonBit(event.xbutton.button) |
                                                     (modifierBits(event.xbutton.state) & (kShift | kControl | kAlt))));
            }
            break;
        case MotionNotify: {
            CPoint where(event.xmotion.x, event.xmotion.y);
            frame_.onMouseMoved(where, CButtonState(modifierBits(event.xmotion.state)));
            break;
        }
        case LeaveNotify:
            if (event.xcrossing.mode == NotifyNormal) frame_.onMouseExited();
            break;
        default:
            break;
    }
}

void X11Window::redraw() {
    ErrorTrap trap(display_);
    for (const CRect& r : frame_.drawDirtyViews(backBuffer_.get())) exposed_.unite(r);
    if (!exposed_.isEmpty()) present(exposed_);
    exposed_ = CRect();
}

void X11Window::present(const CRect& rect) {
    cairo_t* cr = cairo_create(windowSurface_);
    cairo_set_source_surface(cr, backBuffer_->getSurface(), 0, 0);
    cairo_rectangle(cr, rect.left, rect.top, rect.width(), rect.height());
    cairo_fill(cr);
    cairo_destroy(cr);
    cairo_surface_flush(windowSurface_);
    XFlush(display_);
}

X11Window::Overlay X11Window::createOverlay(const CRect& bounds) {
    Overlay overlay;
    overlay.bounds = bounds;
    const int screen = DefaultScreen(display_);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.event_mask = kOverlayEvents;
    attributes.background_pixel = WhitePixel(display_, screen);
    overlay.window = XCreateWindow(display_, DefaultRootWindow(display_), bounds.left, bounds.top,
                                   std::max(bounds.width(), 1), std::max(bounds.height(), 1), 0, CopyFromParent,
                                   InputOutput, CopyFromParent, CWOverrideRedirect | CWEventMask | CWBackPixel,
                                   &attributes);
    overlay.surface = cairo_xlib_surface_create(display_, overlay.window, DefaultVisual(display_, screen),
                                                std::max(bounds.width(), 1), std::max(bounds.height(), 1));
    XMapRaised(display_, overlay.window);
    return overlay;
}

void X11Window::destroyOverlay(Overlay& overlay) {
    if (!overlay.window) return;
    cairo_surface_destroy(overlay.surface);
    XDestroyWindow(display_, overlay.window);
    overlay = Overlay();
}

bool X11Window::openMenu(COptionMenu* menu, const CRect& frameRect) {
    closeMenu();
    hideTooltip();
    CRect anchor = frameRect;
    const CPoint origin = screenOrigin();
    anchor.offset(origin.x, origin.y);
    const int screen = DefaultScreen(display_);
    const CRect screenRect(0, 0, DisplayWidth(display_, screen), DisplayHeight(display_, screen));
    menu_ = std::make_unique<CMenuPopupModel>(menu, anchor, screenRect);
    syncMenuWindows();
    Window root, child;
    int rootX = 0, rootY = 0, x, y;
    unsigned int mask;
    XQueryPointer(display_, window_, &root, &child, &rootX, &rootY, &x, &y, &mask);
    menuOpenedAt_ = CPoint(rootX, rootY);
    menuAwaitingFirstRelease_ = (mask & (Button1Mask | Button2Mask | Button3Mask)) != 0;
    // All pointer input goes to the list while it is open; a click elsewhere closes it.
    XGrabPointer(display_, menuWindows_.front().window, False,
                 ButtonPressMask | ButtonReleaseMask | PointerMotionMask, GrabModeAsync, GrabModeAsync, None,
                 None, CurrentTime);
    XFlush(display_);
    return true;
}

void X11Window::closeMenu() {
    if (!menu_) return;
    XUngrabPointer(display_, CurrentTime);
    for (Overlay& o : menuWindows_) destroyOverlay(o);
    menuWindows_.clear();
    menu_.reset();
    XFlush(display_);
}

COptionMenu* X11Window::getMenuOwner() const { return menu_ ? menu_->getLevel(0).menu : nullptr; }

void X11Window::syncMenuWindows() {
    const size_t levels = static_cast<size_t>(menu_->getLevelCount());
    for (size_t i = 0; i < menuWindows_.size() && i < levels; ++i)
        if (menuWindows_[i].bounds != menu_->getLevel(static_cast<int>(i)).bounds) {
            destroyOverlay(menuWindows_[i]);
            menuWindows_[i] = createOverlay(menu_->getLevel(static_cast<int>(i)).bounds);
        }
    while (menuWindows_.size() > levels) {
        destroyOverlay(menuWindows_.back());
        menuWindows_.pop_back();
    }
    while (menuWindows_.size() < levels)
        menuWindows_.push_back(createOverlay(menu_->getLevel(static_cast<int>(menuWindows_.size())).bounds));
    for (size_t i = 0; i < levels; ++i) drawMenuLevel(static_cast<int>(i));
}

void X11Window::drawMenuLevel(int level) {
    if (!menu_ || level >= menu_->getLevelCount() || level >= static_cast<int>(menuWindows_.size())) return;
    const CRect& bounds = menu_->getLevel(level).bounds;
    COffscreenContext image(bounds.width(), bounds.height());
    menu_->drawLevel(image, level);
    CDrawContext window(menuWindows_[level].surface, bounds.width(), bounds.height());
    image.copyTo(window, CRect(0, 0, bounds.width(), bounds.height()));
    cairo_surface_flush(menuWindows_[level].surface);
    XFlush(display_);
}

void X11Window::handleMenuEvent(XEvent& event) {
    const bool motion = event.type == MotionNotify;
    const CPoint where = motion ? CPoint(event.xmotion.x_root, event.xmotion.y_root)
                                : CPoint(event.xbutton.x_root, event.xbutton.y_root);
    if (motion) {
        if (menu_->hover(where)) syncMenuWindows();
        return;
    }
    if (event.type == ButtonPress && !buttonBit(event.xbutton.button)) return;  // wheel
    if (event.type == ButtonRelease) {
        // The release of the click that opened the list chooses only after a drag onto an entry.
        const bool first = menuAwaitingFirstRelease_;
        menuAwaitingFirstRelease_ = false;
        const bool dragged = std::abs(where.x - menuOpenedAt_.x) > kDragSelectDistance ||
                             std::abs(where.y - menuOpenedAt_.y) > kDragSelectDistance;
        if (!first || !dragged) return;
    }
    const CMenuPopupModel::Click click = menu_->click(where);
    if (click.kind == CMenuPopupModel::Click::kNone) {
        syncMenuWindows();
        return;
    }
    COptionMenu* chosen = click.menu;
    if (chosen) chosen->remember();  // the list lets go of it on closing
    closeMenu();
    if (chosen) {
        chosen->chooseEntry(click.index);
        chosen->forget();
    }
}

void X11Window::showTooltip(const CPoint& where, const char* text) {
    hideTooltip();
    if (!text || !*text || menu_) return;
    COffscreenContext measure(1, 1);
    measure.setFont(kTooltipFont);
    const CCoord width = static_cast<CCoord>(measure.getStringWidth(text)) + 10;
    const CCoord height = static_cast<CCoord>(kTooltipFont.size) + 8;
    const CPoint origin = screenOrigin();
    CRect bounds(CPoint(origin.x + where.x + 4, origin.y + where.y + 20), width, height);
    const int screen = DefaultScreen(display_);
    if (bounds.right > DisplayWidth(display_, screen)) bounds.offset(DisplayWidth(display_, screen) - bounds.right, 0);
    if (bounds.bottom > DisplayHeight(display_, screen)) bounds.offset(0, -height - 24);
    tooltipText_ = text;
    tooltip_ = createOverlay(bounds);
    XFlush(display_);
}

void X11Window::hideTooltip() {
    destroyOverlay(tooltip_);
    tooltipText_.clear();
    XFlush(display_);
}

void X11Window::drawTooltip() {
    if (!tooltip_.window) return;
    const CRect all(0, 0, tooltip_.bounds.width(), tooltip_.bounds.height());
    CDrawContext context(tooltip_.surface, all.width(), all.height());
    context.setFillColor(CColor{255, 255, 225, 255});
    context.setFrameColor(kBlackCColor);
    context.drawRect(all, kDrawFilledAndStroked);
    context.setFont(kTooltipFont);
    context.setFontColor(kBlackCColor);
    context.drawString(tooltipText_.c_str(), all, kCenterText, true);
    cairo_surface_flush(tooltip_.surface);
    XFlush(display_);
}

}  // namespace VSTGUI
