// Drawing with GDI: the native parts of CDrawContext, COffscreenContext and CBitmap.
// Every context draws into a 32-bit top-down DIB section, whose pixels have the same
// layout as the toolkit's 0xAARRGGBB words; GDI leaves the alpha byte undefined, so
// these images count as opaque.
#include "gui/CBitmap.h"
#include "gui/CDrawContext.h"
#include "gui/PngDecoder.h"
#include "gui/platform/win32/GdiNative.h"
#include "gui/platform/win32/Msimg32.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace VSTGUI {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr COLORREF kKeyColour = RGB(255, 0, 255);

COLORREF colourRef(const CColor& c) { return RGB(c.red, c.green, c.blue); }

// A top-down 32-bit DIB section; `bits` receives its pixels.
HBITMAP createDib(CCoord width, CCoord height, uint32_t** bits) {
    *bits = nullptr;
    if (width <= 0 || height <= 0) return nullptr;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (bitmap) *bits = static_cast<uint32_t*>(pixels);
    return bitmap;
}

CDrawContext::Native* createImageContext(CCoord width, CCoord height) {
    auto* native = new CDrawContext::Native;
    native->dc = CreateCompatibleDC(nullptr);
    native->bitmap = createDib(width, height, &native->bits);
    if (native->bitmap) {
        native->previousBitmap = SelectObject(native->dc, native->bitmap);
        std::memset(native->bits, 0, size_t(width) * size_t(height) * 4);
    }
    SetBkMode(native->dc, TRANSPARENT);
    SetTextAlign(native->dc, TA_BASELINE | TA_LEFT | TA_NOUPDATECP);
    return native;
}

// A GDI object selected into a device context for one scope, then deleted.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), object_(object), previous_(SelectObject(dc, object)) {}
    ~SelectedObject() {
        SelectObject(dc_, previous_);
        DeleteObject(object_);
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ object_;
    HGDIOBJ previous_;
};

// Solid lines of `width` pixels: a one-pixel cosmetic pen, or a geometric pen whose
// square caps reach the end points as the cairo lines do.
HPEN createPen(const CColor& colour, int width) {
    if (width <= 1) return CreatePen(PS_SOLID, 1, colourRef(colour));
    LOGBRUSH brush{BS_SOLID, colourRef(colour), 0};
    return ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_SQUARE | PS_JOIN_MITER, static_cast<DWORD>(width),
                        &brush, 0, nullptr);
}

void fillSolid(HDC dc, const CRect& r, const CColor& colour) {
    if (r.isEmpty()) return;
    const RECT rect{r.left, r.top, r.right, r.bottom};
    HBRUSH brush = CreateSolidBrush(colourRef(colour));
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
}

// A one-pixel cosmetic pen leaves out a line's last pixel; the toolkit's lines include it.
void finishLine(HDC dc, const CPoint& end, const CColor& colour, int width) {
    if (width <= 1) SetPixelV(dc, end.x, end.y, colourRef(colour));
}

CPoint pointOnRay(const CRect& r, double angle) {
    const double cx = r.left + r.width() / 2.0, cy = r.top + r.height() / 2.0;
    return CPoint(static_cast<CCoord>(std::lround(cx + r.width() * std::cos(angle))),
                  static_cast<CCoord>(std::lround(cy - r.height() * std::sin(angle))));
}

// Premultiplied `source` pixels over `dest` ones, for the fallback without msimg32.
uint32_t blendOver(uint32_t source, uint32_t dest) {
    const uint32_t inverse = 255 - (source >> 24);
    auto channel = [&](int shift) {
        const uint32_t s = (source >> shift) & 0xff, d = (dest >> shift) & 0xff;
        return std::min<uint32_t>(255, s + (d * inverse + 127) / 255) << shift;
    };
    return channel(24) | channel(16) | channel(8) | channel(0);
}

// The bitmap with its transparent pixels in the key colour (and opaque key-coloured
// pixels moved off it), for TransparentBlt.
HBITMAP keyedCopy(const CBitmap::Native& image) {
    uint32_t* bits = nullptr;
    HBITMAP keyed = createDib(image.width, image.height, &bits);
    if (!keyed) return nullptr;
    const uint32_t key = 0xff00ff;
    for (size_t i = 0; i < size_t(image.width) * size_t(image.height); ++i) {
        const uint32_t p = image.bits[i];
        uint32_t rgb = p & 0xffffff;
        if ((p >> 24) == 0) rgb = key;
        else if (rgb == key) rgb = 0xfe00ff;
        bits[i] = rgb;
    }
    return keyed;
}

}  // namespace

CDrawContext::~CDrawContext() {
    if (native_->previousBitmap) SelectObject(native_->dc, native_->previousBitmap);
    SelectObject(native_->dc, GetStockObject(SYSTEM_FONT));
    if (native_->font) DeleteObject(native_->font);
    if (native_->bitmap) DeleteObject(native_->bitmap);
    DeleteDC(native_->dc);
    delete native_;
}

// GDI draws in device pixels: every coordinate is converted with the offset and the
// scale (devicePoint, deviceRect), and pens and fonts are made at the scaled size.
void CDrawContext::applyTransform() {
    HDC dc = native_->dc;
    SetViewportOrgEx(dc, 0, 0, nullptr);
    HRGN clip = CreateRectRgn(toDevice(clip_.left), toDevice(clip_.top), toDevice(clip_.right), toDevice(clip_.bottom));
    SelectClipRgn(dc, clip);  // the device context keeps its own copy
    DeleteObject(clip);
}

namespace {

// A rectangle in the context's coordinates, in device pixels.
CRect deviceRect(const CDrawContext& context, const CRect& r) {
    const CPoint o = context.getOffset();
    return CRect(context.toDevice(r.left + o.x), context.toDevice(r.top + o.y), context.toDevice(r.right + o.x),
                 context.toDevice(r.bottom + o.y));
}

// A line's width in device pixels.
int deviceLineWidth(const CDrawContext& context) {
    return std::max(1, static_cast<int>(std::lround(context.getLineWidth() * context.getScale())));
}

// Where GDI must draw a line through coordinate `c` (with the context's `offset` on that
// axis) so that it covers the same device pixels as the toolkit's lines: odd widths on
// the pixel, even ones centred on its edge, scaled and on whole device pixels.
CCoord deviceLineCoordinate(const CDrawContext& context, double c, CCoord offset) {
    const int width = deviceLineWidth(context);
    const double centre = (c + offset + ((context.getLineWidth() % 2) ? 0.5 : 0.0)) * context.getScale();
    return static_cast<CCoord>(std::lround(centre - width / 2.0)) + width / 2;
}

template <typename Point>
POINT devicePoint(const CDrawContext& context, const Point& p) {
    const CPoint o = context.getOffset();
    return POINT{deviceLineCoordinate(context, p.x, o.x), deviceLineCoordinate(context, p.y, o.y)};
}

}  // namespace

void CDrawContext::lineTo(const CPoint& point) {
    const int width = deviceLineWidth(*this);
    const POINT from = devicePoint(*this, pen_), to = devicePoint(*this, point);
    {
        SelectedObject pen(native_->dc, createPen(frameColor_, width));
        MoveToEx(native_->dc, from.x, from.y, nullptr);
        LineTo(native_->dc, to.x, to.y);
    }
    finishLine(native_->dc, CPoint(to.x, to.y), frameColor_, width);
    pen_ = point;
}

namespace {

// A joined line through `count` points in the frame colour.
template <typename Point>
void drawPolyline(CDrawContext& context, HDC dc, const Point* points, int count) {
    const int width = deviceLineWidth(context);
    std::vector<POINT> path(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) path[size_t(i)] = devicePoint(context, points[i]);
    {
        SelectedObject pen(dc, createPen(context.getFrameColor(), width));
        Polyline(dc, path.data(), count);
    }
    finishLine(dc, CPoint(path.back().x, path.back().y), context.getFrameColor(), width);
}

}  // namespace

void CDrawContext::polyline(const CPoint* points, int count) {
    if (!points || count < 2) return;
    drawPolyline(*this, native_->dc, points, count);
    pen_ = points[count - 1];
}

void CDrawContext::polyline(const CFinePoint* points, int count) {
    if (!points || count < 2) return;
    drawPolyline(*this, native_->dc, points, count);
    const CFinePoint& last = points[count - 1];
    pen_ = CPoint(static_cast<CCoord>(std::floor(last.x)), static_cast<CCoord>(std::floor(last.y)));
}

void CDrawContext::drawLines(const CPoint* points, int numberOfLines) {
    if (!points) return;
    for (int i = 0; i < numberOfLines; ++i) {
        moveTo(points[2 * i]);
        lineTo(points[2 * i + 1]);
    }
}

void CDrawContext::drawRect(const CRect& logicalRect, CDrawStyle style) {
    if (logicalRect.isEmpty()) return;
    HDC dc = native_->dc;
    const CRect rect = deviceRect(*this, logicalRect);
    if (style != kDrawStroked) fillSolid(dc, rect, fillColor_);
    if (style == kDrawFilled) return;
    // Four bands along the inside of the edge, as wide as the line.
    const CCoord w = std::min({deviceLineWidth(*this), rect.width(), rect.height()});
    fillSolid(dc, CRect(rect.left, rect.top, rect.right, rect.top + w), frameColor_);
    fillSolid(dc, CRect(rect.left, rect.bottom - w, rect.right, rect.bottom), frameColor_);
    fillSolid(dc, CRect(rect.left, rect.top + w, rect.left + w, rect.bottom - w), frameColor_);
    fillSolid(dc, CRect(rect.right - w, rect.top + w, rect.right, rect.bottom - w), frameColor_);
}

void CDrawContext::drawArc(const CRect& logicalRect, double startAngle, double endAngle, CDrawStyle style) {
    if (logicalRect.isEmpty()) return;
    HDC dc = native_->dc;
    const CRect rect = deviceRect(*this, logicalRect);
    const bool fullCircle = std::fabs(endAngle - startAngle) >= 2.0 * kPi;
    const CPoint from = pointOnRay(rect, startAngle), to = pointOnRay(rect, endAngle);
    SetArcDirection(dc, endAngle < startAngle ? AD_CLOCKWISE : AD_COUNTERCLOCKWISE);
    if (style != kDrawStroked) {
        // Without a pen GDI fills one pixel less to the right and bottom.
        SelectedObject brush(dc, CreateSolidBrush(colourRef(fillColor_)));
        HGDIOBJ previousPen = SelectObject(dc, GetStockObject(NULL_PEN));
        if (fullCircle)
            Ellipse(dc, rect.left, rect.top, rect.right + 1, rect.bottom + 1);
        else
            Pie(dc, rect.left, rect.top, rect.right + 1, rect.bottom + 1, from.x, from.y, to.x, to.y);
        SelectObject(dc, previousPen);
    }
    if (style != kDrawFilled) {
        LOGBRUSH brush{BS_SOLID, colourRef(frameColor_), 0};
        SelectedObject pen(dc, ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_INSIDEFRAME | PS_ENDCAP_FLAT,
                                            static_cast<DWORD>(deviceLineWidth(*this)), &brush, 0, nullptr));
        HGDIOBJ previousBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
        if (fullCircle)
            Ellipse(dc, rect.left, rect.top, rect.right, rect.bottom);
        else
            Arc(dc, rect.left, rect.top, rect.right, rect.bottom, from.x, from.y, to.x, to.y);
        SelectObject(dc, previousBrush);
    }
    SetArcDirection(dc, AD_COUNTERCLOCKWISE);
}

namespace {

// The font at `scale` times its size, for a context that draws at that scale.
HFONT createFont(const CFontDesc& desc, double scale, int averageWidth = 0) {
    return CreateFontA(-static_cast<int>(std::lround(desc.size * scale)), averageWidth, 0, 0,
                       (desc.style & kBoldFace) ? FW_BOLD : FW_NORMAL, (desc.style & kItalicFace) ? TRUE : FALSE, FALSE,
                       FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, desc.name.c_str());
}

// Selects the context's font, creating it when the description changed.
void selectFont(CDrawContext::Native& native, const CFontDesc& desc, double scale) {
    if (!native.font || !(native.fontDesc == desc)) {
        SelectObject(native.dc, GetStockObject(SYSTEM_FONT));
        if (native.font) DeleteObject(native.font);
        native.font = createFont(desc, scale);
        native.fontDesc = desc;
    }
    SelectObject(native.dc, native.font);
}

// One line in the selected font, centred vertically in `rect` on a whole-pixel baseline.
void drawTextLine(HDC dc, const char* text, const CRect& rect, CHoriTxtAlign align, bool clip, const CColor& colour) {
    const int length = static_cast<int>(std::strlen(text));
    SIZE size{};
    GetTextExtentPoint32A(dc, text, length, &size);
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    double x = rect.left;
    if (align == kCenterText)
        x = rect.left + (rect.width() - size.cx) / 2.0;
    else if (align == kRightText)
        x = rect.right - size.cx;
    const double baseline =
        std::round(rect.top + (rect.height() - (metrics.tmAscent + metrics.tmDescent)) / 2.0 + metrics.tmAscent);
    SetTextColor(dc, colourRef(colour));
    const RECT box{rect.left, rect.top, rect.right, rect.bottom};
    ExtTextOutA(dc, static_cast<int>(std::lround(x)), static_cast<int>(baseline), clip ? ETO_CLIPPED : 0, &box, text,
                static_cast<UINT>(length), nullptr);
}

}  // namespace

double CDrawContext::getStringWidth(const char* text) {
    if (!text || !*text) return 0.0;
    selectFont(*native_, font_, scale_);
    SIZE size{};
    GetTextExtentPoint32A(native_->dc, text, static_cast<int>(std::strlen(text)), &size);
    return size.cx / scale_;
}

void CDrawContext::drawString(const char* text, const CRect& rect, CHoriTxtAlign align, bool clip) {
    if (!text || !*text) return;
    selectFont(*native_, font_, scale_);
    drawTextLine(native_->dc, text, deviceRect(*this, rect), align, clip, fontColor_);
}

void CDrawContext::drawNarrowedString(const char* text, const CRect& rect, double xScale) {
    if (!text || !*text) return;
    HDC dc = native_->dc;
    selectFont(*native_, font_, scale_);
    // The same font with narrower glyphs: its average character width scaled down.
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    HFONT narrow =
        createFont(font_, scale_, std::max(1, static_cast<int>(std::lround(metrics.tmAveCharWidth * xScale))));
    HGDIOBJ previous = SelectObject(dc, narrow);
    drawTextLine(dc, text, deviceRect(*this, rect), kCenterText, true, fontColor_);
    SelectObject(dc, previous);
    DeleteObject(narrow);
}

void CDrawContext::drawBitmap(CBitmap* bitmap, const CRect& logicalDest, const CPoint& logicalSource) {
    if (!bitmap || !bitmap->isLoaded() || logicalDest.isEmpty()) return;
    if (logicalSource.x < 0 || logicalSource.y < 0) return;
    // The part of the bitmap that `dest` shows, drawn for this scale, in device pixels.
    const CRect shown(logicalSource.x, logicalSource.y,
                      std::min(logicalSource.x + logicalDest.width(), bitmap->getWidth()),
                      std::min(logicalSource.y + logicalDest.height(), bitmap->getHeight()));
    if (shown.isEmpty()) return;
    CPoint source;
    CBitmap::Native* scaled = bitmap->getNativeAt(scale_, shown, source);
    if (!scaled) return;
    CBitmap::Native& image = *scaled;
    const CRect dest = deviceRect(*this, logicalDest);
    // Only the part of `dest` that the bitmap covers from `source` on.
    const CCoord width = std::min(dest.width(), image.width - source.x);
    const CCoord height = std::min(dest.height(), image.height - source.y);
    if (width <= 0 || height <= 0) return;
    HDC dc = native_->dc;
    const Msimg32& msimg32 = Msimg32::get();

    if (!image.opaque && !msimg32.alphaBlend && !(image.binaryAlpha && msimg32.transparentBlt)) {
        // The plain fallback: blend in software straight into our own pixels.
        if (!native_->bits) return;
        GdiFlush();
        CRect area(CPoint(dest.left, dest.top), width, height);
        area.bound(CRect(toDevice(clip_.left), toDevice(clip_.top), toDevice(clip_.right), toDevice(clip_.bottom)));
        const CCoord dx = dest.left - source.x, dy = dest.top - source.y;
        for (CCoord y = area.top; y < area.bottom; ++y)
            for (CCoord x = area.left; x < area.right; ++x) {
                uint32_t& d = native_->bits[size_t(y) * size_t(getDeviceWidth()) + size_t(x)];
                d = blendOver(image.bits[size_t(y - dy) * size_t(image.width) + size_t(x - dx)], d);
            }
        return;
    }

    HDC sourceDc = CreateCompatibleDC(dc);
    if (!image.opaque && !msimg32.alphaBlend) {
        if (!image.keyed) image.keyed = keyedCopy(image);
        HGDIOBJ previous = SelectObject(sourceDc, image.keyed);
        msimg32.transparentBlt(dc, dest.left, dest.top, width, height, sourceDc, source.x, source.y, width, height,
                               kKeyColour);
        SelectObject(sourceDc, previous);
    } else {
        HGDIOBJ previous = SelectObject(sourceDc, image.bitmap);
        if (image.opaque) {
            BitBlt(dc, dest.left, dest.top, width, height, sourceDc, source.x, source.y, SRCCOPY);
        } else {
            const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
            msimg32.alphaBlend(dc, dest.left, dest.top, width, height, sourceDc, source.x, source.y, width, height,
                               blend);
        }
        SelectObject(sourceDc, previous);
    }
    DeleteDC(sourceDc);
}

// COffscreenContext

COffscreenContext::COffscreenContext(CCoord width, CCoord height, double scale)
    : CDrawContext(createImageContext(static_cast<CCoord>(std::lround(std::max(width, 0) * scale)),
                                      static_cast<CCoord>(std::lround(std::max(height, 0) * scale))),
                   width, height, scale) {}

COffscreenContext::~COffscreenContext() = default;

void COffscreenContext::copyTo(CDrawContext& dest, const CRect& destRect, const CPoint& source) {
    if (destRect.isEmpty()) return;
    // Source coordinates are our pixels, whatever offset this context draws with.
    const CRect to = deviceRect(dest, destRect);
    BitBlt(dest.getNative().dc, to.left, to.top, to.width(), to.height(), getNative().dc,
           toDevice(source.x - getOffset().x), toDevice(source.y - getOffset().y), SRCCOPY);
}

const uint32_t* COffscreenContext::getPixels(int& strideBytes) {
    strideBytes = getPixelWidth() * 4;
    uint32_t* bits = getNative().bits;
    if (!bits) return nullptr;
    GdiFlush();
    for (size_t i = 0; i < size_t(getPixelWidth()) * size_t(getPixelHeight()); ++i) bits[i] |= 0xff000000u;
    return bits;
}

CColor COffscreenContext::getPixel(CCoord x, CCoord y) {
    if (x < 0 || y < 0 || x >= getPixelWidth() || y >= getPixelHeight() || !getNative().bits)
        return CColor{0, 0, 0, 0};
    GdiFlush();
    const uint32_t p = getNative().bits[size_t(y) * size_t(getPixelWidth()) + size_t(x)];
    return CColor{static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p), 255};
}

bool COffscreenContext::writePNG(const char* path) {
    if (!path || getPixelWidth() == 0 || getPixelHeight() == 0) return false;
    int stride = 0;
    const uint32_t* pixels = getPixels(stride);
    return pixels && encodePngFile(pixels, getPixelWidth(), getPixelHeight(), stride, path);
}

// CBitmap

CBitmap::Native* CBitmap::createNative(const uint32_t* pixels, CCoord width, CCoord height) {
    auto* native = new Native;
    native->bitmap = createDib(width, height, &native->bits);
    if (!native->bitmap) {
        delete native;
        return nullptr;
    }
    native->width = width;
    native->height = height;
    for (size_t i = 0; i < size_t(width) * size_t(height); ++i) {
        const uint32_t alpha = pixels[i] >> 24;
        native->opaque = native->opaque && alpha == 255;
        native->binaryAlpha = native->binaryAlpha && (alpha == 0 || alpha == 255);
        native->bits[i] = pixels[i];
    }
    return native;
}

void CBitmap::destroyNative(Native* native) {
    DeleteObject(native->bitmap);
    if (native->keyed) DeleteObject(native->keyed);
    delete native;
}

// Msimg32

namespace {

Msimg32 loadMsimg32() {
    Msimg32 functions;
    if (HMODULE library = LoadLibraryA("msimg32.dll")) {
        functions.alphaBlend = reinterpret_cast<Msimg32::AlphaBlendFunction>(
            reinterpret_cast<void*>(GetProcAddress(library, "AlphaBlend")));
        functions.transparentBlt = reinterpret_cast<Msimg32::TransparentBltFunction>(
            reinterpret_cast<void*>(GetProcAddress(library, "TransparentBlt")));
    }
    return functions;
}

Msimg32& current() {
    static Msimg32 functions = loadMsimg32();
    return functions;
}

}  // namespace

const Msimg32& Msimg32::get() { return current(); }

void Msimg32::overrideForTesting(AlphaBlendFunction alphaBlend, TransparentBltFunction transparentBlt) {
    current().alphaBlend = alphaBlend;
    current().transparentBlt = transparentBlt;
}

void Msimg32::restore() { current() = loadMsimg32(); }

}  // namespace VSTGUI
