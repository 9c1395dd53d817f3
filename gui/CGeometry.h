// Value types shared by every part of the toolkit: points, rectangles, colours,
// mouse button states, font descriptions and text alignment.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

namespace VSTGUI {

using CCoord = int;  // whole pixels; the toolkit never lays out at sub-pixel positions

struct CPoint {
    CCoord x = 0;
    CCoord y = 0;

    constexpr CPoint() = default;
    constexpr CPoint(CCoord x_, CCoord y_) : x(x_), y(y_) {}

    CPoint& offset(CCoord dx, CCoord dy) { x += dx; y += dy; return *this; }
    constexpr bool operator==(const CPoint& o) const { return x == o.x && y == o.y; }
    constexpr bool operator!=(const CPoint& o) const { return !(*this == o); }
};

// A point between whole coordinates: at a scale above 1 a drawing can land there.
struct CFinePoint {
    double x = 0;
    double y = 0;
};

// A half-open pixel rectangle: left and top are inside, right and bottom are not.
struct CRect {
    CCoord left = 0;
    CCoord top = 0;
    CCoord right = 0;
    CCoord bottom = 0;

    constexpr CRect() = default;
    constexpr CRect(CCoord l, CCoord t, CCoord r, CCoord b) : left(l), top(t), right(r), bottom(b) {}
    constexpr CRect(const CPoint& origin, CCoord w, CCoord h)
        : left(origin.x), top(origin.y), right(origin.x + w), bottom(origin.y + h) {}

    constexpr CCoord width() const { return right - left; }
    constexpr CCoord height() const { return bottom - top; }
    constexpr CCoord getWidth() const { return width(); }
    constexpr CCoord getHeight() const { return height(); }
    constexpr bool isEmpty() const { return right <= left || bottom <= top; }
    constexpr CPoint getTopLeft() const { return CPoint(left, top); }

    CRect& setWidth(CCoord w) { right = left + w; return *this; }
    CRect& setHeight(CCoord h) { bottom = top + h; return *this; }

    constexpr bool pointInside(const CPoint& p) const {
        return p.x >= left && p.x < right && p.y >= top && p.y < bottom;
    }
    CRect& offset(CCoord dx, CCoord dy) {
        left += dx; right += dx; top += dy; bottom += dy;
        return *this;
    }
    CRect& moveTo(CCoord x, CCoord y) { return offset(x - left, y - top); }
    CRect& inset(CCoord dx, CCoord dy) {
        left += dx; right -= dx; top += dy; bottom -= dy;
        return *this;
    }
    constexpr bool rectOverlap(const CRect& o) const {
        return left < o.right && o.left < right && top < o.bottom && o.top < bottom;
    }
    // Limits this rectangle to the part that also lies in `o` (empty if they do not overlap).
    CRect& bound(const CRect& o) {
        left = std::max(left, o.left);
        top = std::max(top, o.top);
        right = std::max(left, std::min(right, o.right));
        bottom = std::max(top, std::min(bottom, o.bottom));
        return *this;
    }
    // Grows this rectangle to cover `o` as well; an empty rectangle takes `o` as it is.
    CRect& unite(const CRect& o) {
        if (o.isEmpty()) return *this;
        if (isEmpty()) { *this = o; return *this; }
        left = std::min(left, o.left);
        top = std::min(top, o.top);
        right = std::max(right, o.right);
        bottom = std::max(bottom, o.bottom);
        return *this;
    }
    constexpr bool operator==(const CRect& o) const {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
    constexpr bool operator!=(const CRect& o) const { return !(*this == o); }
};

// Colours are four bytes. Drawing treats every CColor as opaque: the alpha byte is
// carried along but ignored, because colours coming from older artwork conventions
// use small alpha values (64) to mean "solid". Transparency comes only from bitmaps.
struct CColor {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    uint8_t alpha = 255;

    constexpr bool operator==(const CColor& o) const {
        return red == o.red && green == o.green && blue == o.blue && alpha == o.alpha;
    }
    constexpr bool operator!=(const CColor& o) const { return !(*this == o); }
    // Same red, green and blue, whatever the alpha byte says.
    constexpr bool sameRGB(const CColor& o) const {
        return red == o.red && green == o.green && blue == o.blue;
    }
};

constexpr CColor kBlackCColor{0, 0, 0, 255};
constexpr CColor kWhiteCColor{255, 255, 255, 255};
constexpr CColor kGreyCColor{127, 127, 127, 255};
constexpr CColor kRedCColor{255, 0, 0, 255};
constexpr CColor kGreenCColor{0, 255, 0, 255};
constexpr CColor kBlueCColor{0, 0, 255, 255};
constexpr CColor kYellowCColor{255, 255, 0, 255};

// Mouse buttons and modifier keys held during a mouse event.
enum CButton : int {
    kLButton = 1 << 1,
    kMButton = 1 << 2,
    kRButton = 1 << 3,
    kShift = 1 << 4,
    kControl = 1 << 5,
    kAlt = 1 << 6,
    kDoubleClick = 1 << 7,
};

class CButtonState {
public:
    constexpr CButtonState(int state = 0) : state_(state) {}
    constexpr operator int() const { return state_; }
    constexpr int getButtonState() const { return state_; }
    constexpr bool isLeftButton() const { return (state_ & kLButton) != 0; }
    constexpr bool isRightButton() const { return (state_ & kRButton) != 0; }
    constexpr bool isShiftSet() const { return (state_ & kShift) != 0; }
    constexpr int getModifierState() const { return state_ & (kShift | kControl | kAlt); }

private:
    int state_;
};

enum CMouseEventResult {
    kMouseEventNotImplemented = 0,
    kMouseEventHandled,
    kMouseEventNotHandled,
    // The view took the click but wants no moved or up events for it (no capture).
    kMouseDownEventHandledButDontNeedMovedOrUpEvents,
};

enum CHoriTxtAlign { kLeftText = 0, kCenterText, kRightText };

enum CTxtFace { kNormalFace = 0, kBoldFace = 1 << 1, kItalicFace = 1 << 2 };

// A font by family name (resolved through fontconfig), pixel size and CTxtFace bits.
struct CFontDesc {
    std::string name = "Arial";
    double size = 11.0;
    int style = kNormalFace;

    bool operator==(const CFontDesc& o) const {
        return name == o.name && size == o.size && style == o.style;
    }
};

}  // namespace VSTGUI
