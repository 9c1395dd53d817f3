#include "gui/platform/x11/X11Window.h"

#include "gui/CDrawContext.h"
#include "gui/CFrame.h"
#include "gui/CMenuPopupModel.h"
#include "gui/COptionMenu.h"
#include "gui/CTooltipSupport.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace VSTGUI {

namespace {

// X errors on our connection are counted here instead of reaching the process-wide
// handler (the default one would end the host). Errors of other connections (the host's
// own) go on to the handler that was installed before.
Display* gTrappedDisplay = nullptr;
int gErrorCount = 0;
int (*gPreviousHandler)(Display*, XErrorEvent*) = nullptr;
int countError(Display* display, XErrorEvent* error) {
    if (display == gTrappedDisplay || !gPreviousHandler) {
        ++gErrorCount;
        return 0;
    }
    return gPreviousHandler(display, error);
}

// Routes X errors of `display` to countError for its lifetime; syncs first so every
// request made inside the scope has been answered before the host's handler returns.
// The display must stay open for the trap's whole lifetime. Traps nest.
class ErrorTrap {
public:
    explicit ErrorTrap(Display* display)
        : display_(display), errorsBefore_(gErrorCount), outerDisplay_(gTrappedDisplay) {
        previous_ = XSetErrorHandler(countError);
        if (previous_ != countError) gPreviousHandler = previous_;
        gTrappedDisplay = display_;
    }
    ~ErrorTrap() {
        XSync(display_, False);
        gTrappedDisplay = outerDisplay_;
        XSetErrorHandler(previous_);
    }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;
    bool failed() {
        XSync(display_, False);
        return gErrorCount != errorsBefore_;
    }

private:
    Display* display_;
    int errorsBefore_;
    Display* outerDisplay_;
    int (*previous_)(Display*, XErrorEvent*);
};

// Creates and maps a child window of `parent`; 0 if the parent is not a usable window.
Window createChildWindow(Display* display, Window parent, int width, int height, long eventMask) {
    ErrorTrap trap(display);
    XWindowAttributes parentAttributes;
    if (!XGetWindowAttributes(display, parent, &parentAttributes) || trap.failed()) return 0;
    XSetWindowAttributes attributes{};
    attributes.event_mask = eventMask;
    attributes.background_pixel = BlackPixel(display, DefaultScreen(display));
    Window window = XCreateWindow(display, parent, 0, 0, static_cast<unsigned>(width),
                                  static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                                  CWEventMask | CWBackPixel, &attributes);
    if (trap.failed()) return 0;
    XMapWindow(display, window);
    if (trap.failed()) {
        XDestroyWindow(display, window);
        return 0;
    }
    return window;
}

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

}  // namespace

std::unique_ptr<CPlatformWindow> CPlatformWindow::open(CFrame& frame, void* parent, CCoord width, CCoord height) {
    return X11Window::open(frame, parent, width, height);
}

// X11 needs no set-up per thread.
bool platformInitialize() { return true; }
void platformUninitialize() {}

std::unique_ptr<X11Window> X11Window::open(CFrame& frame, void* parent, CCoord width, CCoord height) {
    const Window parentWindow = static_cast<Window>(reinterpret_cast<uintptr_t>(parent));
    if (parentWindow == 0 || width <= 0 || height <= 0) return nullptr;
    Display* display = XOpenDisplay(nullptr);
    if (!display) return nullptr;

    // The trap inside createChildWindow is gone before the connection is closed.
    const double scale = frame.getScale();
    const Window window = createChildWindow(display, parentWindow, static_cast<int>(std::lround(width * scale)),
                                            static_cast<int>(std::lround(height * scale)), kFrameEvents);
    if (!window) {
        XCloseDisplay(display);
        return nullptr;
    }
    return std::unique_ptr<X11Window>(new X11Window(frame, display, window, width, height));
}

X11Window::X11Window(CFrame& frame, Display* display, unsigned long window, CCoord width, CCoord height)
    : frame_(frame), display_(display), window_(window), width_(width), height_(height), scale_(frame.getScale()) {
    ErrorTrap trap(display_);
    XWindowAttributes attributes{};
    XGetWindowAttributes(display_, window_, &attributes);
    windowTarget_ = ImageTarget{attributes.visual, attributes.depth, XCreateGC(display_, window_, 0, nullptr)};
    const int screen = DefaultScreen(display_);
    overlayTarget_ = ImageTarget{DefaultVisual(display_, screen), DefaultDepth(display_, screen),
                                 XCreateGC(display_, DefaultRootWindow(display_), 0, nullptr)};
    backBuffer_ = std::make_unique<COffscreenContext>(width_, height_, scale_);
    frame_.setDirty();  // the first idle draws everything
}

CCoord X11Window::toDevice(CCoord c) const { return static_cast<CCoord>(std::lround(c * scale_)); }

CRect X11Window::toDevice(const CRect& r) const {
    return CRect(toDevice(r.left), toDevice(r.top), toDevice(r.right), toDevice(r.bottom));
}

// The frame unit that device pixel `c` lies in.
CCoord X11Window::toFrame(int c) const { return static_cast<CCoord>(std::floor(c / scale_)); }

// The frame units that the device pixels of `r` touch.
CRect X11Window::toFrame(const CRect& r) const {
    return CRect(toFrame(r.left), toFrame(r.top), static_cast<CCoord>(std::ceil(r.right / scale_)),
                 static_cast<CCoord>(std::ceil(r.bottom / scale_)));
}

X11Window::~X11Window() {
    {
        ErrorTrap trap(display_);  // the host may already have destroyed its window
        closeMenu();
        hideTooltip();
        backBuffer_.reset();
        XFreeGC(display_, static_cast<GC>(windowTarget_.gc));
        XFreeGC(display_, static_cast<GC>(overlayTarget_.gc));
        XDestroyWindow(display_, window_);
    }
    XCloseDisplay(display_);
}

CPoint X11Window::screenOrigin() const {
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(display_, window_, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
    return CPoint(toFrame(x), toFrame(y));
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
            exposed_.unite(
                toFrame(CRect(CPoint(event.xexpose.x, event.xexpose.y), event.xexpose.width, event.xexpose.height)));
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
                frame_.onWheel(CPoint(toFrame(event.xbutton.x), toFrame(event.xbutton.y)), button == Button4 ? 1.f : -1.f,
                               modifiers);
            } else if (buttonBit(button)) {
                CPoint where(toFrame(event.xbutton.x), toFrame(event.xbutton.y));
                frame_.onMouseDown(where, CButtonState(buttonBit(button) | modifiers));
            }
            break;
        }
        case ButtonRelease:
            if (buttonBit(event.xbutton.button)) {
                CPoint where(toFrame(event.xbutton.x), toFrame(event.xbutton.y));
                frame_.onMouseUp(where, CButtonState(buttonBit(event.xbutton.button) |
                                                     (modifierBits(event.xbutton.state) & (kShift | kControl | kAlt))));
            }
            break;
        case MotionNotify: {
            CPoint where(toFrame(event.xmotion.x), toFrame(event.xmotion.y));
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
    putImage(*backBuffer_, toDevice(rect), window_, windowTarget_);
    XFlush(display_);
}

namespace {

int lowestBit(unsigned long mask) {
    int shift = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

// One 8-bit channel scaled into the bits of `mask`.
unsigned long channelBits(unsigned value, unsigned long mask) {
    if (!mask) return 0;
    const int shift = lowestBit(mask);
    const unsigned long top = mask >> shift;
    return ((value * top + 127) / 255) << shift;
}

}  // namespace

// The pixels of `image` inside `rect` (device pixels) onto the same place of `window`. The image is
// opaque premultiplied ARGB32, which is exactly the pixel layout of the usual 24- and
// 32-bit true-colour visuals, so those take the bytes as they are; other visuals get
// a converted copy.
void X11Window::putImage(COffscreenContext& image, const CRect& rect, unsigned long window,
                         const ImageTarget& target) {
    CRect area = rect;
    area.bound(CRect(0, 0, image.getPixelWidth(), image.getPixelHeight()));
    if (area.isEmpty() || !target.gc) return;
    int stride = 0;
    // XCreateImage wants writable data; XPutImage only reads it.
    auto* data = const_cast<char*>(reinterpret_cast<const char*>(image.getPixels(stride)));
    auto* visual = static_cast<Visual*>(target.visual);
    if (!data || !visual) return;

    int bitsPerPixel = 0;
    int formatCount = 0;
    if (XPixmapFormatValues* formats = XListPixmapFormats(display_, &formatCount)) {
        for (int i = 0; i < formatCount; ++i)
            if (formats[i].depth == target.depth) bitsPerPixel = formats[i].bits_per_pixel;
        XFree(formats);
    }
    const uint32_t probe = 1;
    const bool littleEndianHost = *reinterpret_cast<const unsigned char*>(&probe) == 1;
    const bool sameLayout = (target.depth == 24 || target.depth == 32) && bitsPerPixel == 32 &&
                            visual->red_mask == 0xff0000 && visual->green_mask == 0xff00 &&
                            visual->blue_mask == 0xff && (ImageByteOrder(display_) == LSBFirst) == littleEndianHost;
    if (sameLayout) {
        XImage* x = XCreateImage(display_, visual, static_cast<unsigned>(target.depth), ZPixmap, 0, data,
                                 static_cast<unsigned>(image.getPixelWidth()),
                                 static_cast<unsigned>(image.getPixelHeight()),
                                 32, stride);
        if (!x) return;
        XPutImage(display_, window, static_cast<GC>(target.gc), x, area.left, area.top, area.left, area.top,
                  static_cast<unsigned>(area.width()), static_cast<unsigned>(area.height()));
        x->data = nullptr;  // the pixels belong to the image
        XDestroyImage(x);
        return;
    }
    XImage* x = XCreateImage(display_, visual, static_cast<unsigned>(target.depth), ZPixmap, 0, nullptr,
                             static_cast<unsigned>(area.width()), static_cast<unsigned>(area.height()), 32, 0);
    if (!x) return;
    x->data = static_cast<char*>(std::malloc(size_t(x->bytes_per_line) * size_t(area.height())));
    if (!x->data) {
        XDestroyImage(x);
        return;
    }
    const bool trueColour = visual->red_mask && visual->green_mask && visual->blue_mask;
    const unsigned long black = BlackPixel(display_, DefaultScreen(display_));
    const unsigned long white = WhitePixel(display_, DefaultScreen(display_));
    for (int y = 0; y < area.height(); ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(data + size_t(area.top + y) * stride) + area.left;
        for (int xPos = 0; xPos < area.width(); ++xPos) {
            const uint32_t p = row[xPos];
            const unsigned r = (p >> 16) & 0xff, g = (p >> 8) & 0xff, b = p & 0xff;
            const unsigned long pixel =
                trueColour ? channelBits(r, visual->red_mask) | channelBits(g, visual->green_mask) |
                                 channelBits(b, visual->blue_mask)
                           : ((r * 3 + g * 6 + b) / 10 >= 128 ? white : black);
            XPutPixel(x, xPos, y, pixel);
        }
    }
    XPutImage(display_, window, static_cast<GC>(target.gc), x, 0, 0, area.left, area.top,
              static_cast<unsigned>(area.width()), static_cast<unsigned>(area.height()));
    XDestroyImage(x);  // frees the converted pixels too
}

// `bounds` in screen frame units (screen pixels / scale).
X11Window::Overlay X11Window::createOverlay(const CRect& frameBounds) {
    Overlay overlay;
    overlay.bounds = frameBounds;
    const CRect bounds = toDevice(frameBounds);
    const int screen = DefaultScreen(display_);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.event_mask = kOverlayEvents;
    attributes.background_pixel = WhitePixel(display_, screen);
    overlay.window = XCreateWindow(display_, DefaultRootWindow(display_), bounds.left, bounds.top,
                                   std::max(bounds.width(), 1), std::max(bounds.height(), 1), 0, CopyFromParent,
                                   InputOutput, CopyFromParent, CWOverrideRedirect | CWEventMask | CWBackPixel,
                                   &attributes);
    XMapRaised(display_, overlay.window);
    return overlay;
}

void X11Window::destroyOverlay(Overlay& overlay) {
    if (!overlay.window) return;
    XDestroyWindow(display_, overlay.window);
    overlay = Overlay();
}

bool X11Window::openMenu(COptionMenu* menu, const CRect& frameRect) {
    ErrorTrap trap(display_);
    closeMenu();
    hideTooltip();
    // The list is laid out on the screen in frame units, so it grows with the window.
    CRect anchor = frameRect;
    const CPoint origin = screenOrigin();
    anchor.offset(origin.x, origin.y);
    const int screen = DefaultScreen(display_);
    const CRect screenRect(0, 0, toFrame(DisplayWidth(display_, screen)), toFrame(DisplayHeight(display_, screen)));
    menu_ = std::make_unique<CMenuPopupModel>(menu, anchor, screenRect);
    syncMenuWindows();
    Window root, child;
    int rootX = 0, rootY = 0, x, y;
    unsigned int mask;
    XQueryPointer(display_, window_, &root, &child, &rootX, &rootY, &x, &y, &mask);
    menuOpenedAt_ = CPoint(toFrame(rootX), toFrame(rootY));
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
    ErrorTrap trap(display_);
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
    COffscreenContext image(bounds.width(), bounds.height(), scale_);
    menu_->drawLevel(image, level);
    putImage(image, CRect(0, 0, image.getPixelWidth(), image.getPixelHeight()), menuWindows_[level].window,
             overlayTarget_);
    XFlush(display_);
}

void X11Window::handleMenuEvent(XEvent& event) {
    const bool motion = event.type == MotionNotify;
    const CPoint where = motion ? CPoint(toFrame(event.xmotion.x_root), toFrame(event.xmotion.y_root))
                                : CPoint(toFrame(event.xbutton.x_root), toFrame(event.xbutton.y_root));
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
    ErrorTrap trap(display_);
    hideTooltip();
    if (!text || !*text || menu_) return;
    const CPoint size = CTooltipSupport::getTipSize(text);
    const CCoord width = size.x, height = size.y;
    const CPoint origin = screenOrigin();
    CRect bounds(CPoint(origin.x + where.x + 4, origin.y + where.y + 20), width, height);
    const int screen = DefaultScreen(display_);
    const CCoord screenWidth = toFrame(DisplayWidth(display_, screen));
    if (bounds.right > screenWidth) bounds.offset(screenWidth - bounds.right, 0);
    if (bounds.bottom > toFrame(DisplayHeight(display_, screen))) bounds.offset(0, -height - 24);
    tooltipText_ = text;
    tooltip_ = createOverlay(bounds);
    XFlush(display_);
}

void X11Window::hideTooltip() {
    if (!tooltip_.window) return;
    ErrorTrap trap(display_);
    destroyOverlay(tooltip_);
    tooltipText_.clear();
    XFlush(display_);
}

void X11Window::drawTooltip() {
    if (!tooltip_.window) return;
    const CRect all(0, 0, tooltip_.bounds.width(), tooltip_.bounds.height());
    COffscreenContext image(all.width(), all.height(), scale_);
    CTooltipSupport::drawTip(image, tooltipText_.c_str());
    putImage(image, CRect(0, 0, image.getPixelWidth(), image.getPixelHeight()), tooltip_.window, overlayTarget_);
    XFlush(display_);
}

void X11Window::setScale(double scale) {
    if (scale == scale_) return;
    ErrorTrap trap(display_);
    closeMenu();
    hideTooltip();
    scale_ = scale;
    XResizeWindow(display_, window_, static_cast<unsigned>(toDevice(width_)), static_cast<unsigned>(toDevice(height_)));
    backBuffer_ = std::make_unique<COffscreenContext>(width_, height_, scale_);
    exposed_ = CRect();
    XFlush(display_);
}

}  // namespace VSTGUI
