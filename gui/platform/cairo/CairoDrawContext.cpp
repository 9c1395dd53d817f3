// Drawing with cairo: the native parts of CDrawContext, COffscreenContext and CBitmap.
#include "gui/CBitmap.h"
#include "gui/CDrawContext.h"

#include <cairo.h>

#include <cmath>
#include <cstring>

namespace VSTGUI {

struct CDrawContext::Native {
    cairo_surface_t* surface;
    cairo_t* cr;
};

struct CBitmap::Native {
    cairo_surface_t* surface;
};

namespace {

// Lines of odd width are centred on pixel centres so that they cover whole pixels.
double pixelCentre(int lineWidth) { return (lineWidth % 2) ? 0.5 : 0.0; }

CDrawContext::Native* createImageContext(CCoord width, CCoord height) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, std::max(width, 0), std::max(height, 0));
    cairo_t* cr = cairo_create(surface);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_SQUARE);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
    return new CDrawContext::Native{surface, cr};
}

void setSource(cairo_t* cr, const CColor& color) {
    cairo_set_source_rgb(cr, color.red / 255.0, color.green / 255.0, color.blue / 255.0);
}

void stroke(cairo_t* cr, const CColor& color, int lineWidth) {
    setSource(cr, color);
    cairo_set_line_width(cr, lineWidth);
    cairo_stroke(cr);
}

void selectFont(cairo_t* cr, const CFontDesc& font) {
    cairo_select_font_face(cr, font.name.c_str(),
                           (font.style & kItalicFace) ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                           (font.style & kBoldFace) ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, font.size);
}

// A line's width in device pixels: whole pixels, so lines stay sharp at every scale.
int deviceLineWidth(const CDrawContext& context) {
    return std::max(1, static_cast<int>(std::lround(context.getLineWidth() * context.getScale())));
}

// Where a line through coordinate `c` runs in device pixels (`offset` being the context's
// offset on that axis): on a device pixel's centre for odd widths, between two for even ones.
double deviceLineCentre(const CDrawContext& context, double c, CCoord offset) {
    const double d = (c + offset + pixelCentre(context.getLineWidth())) * context.getScale();
    return (deviceLineWidth(context) % 2) ? std::floor(d) + 0.5 : std::round(d);
}

// A user-space coordinate moved onto the nearest device pixel edge.
double snapX(const CDrawContext& context, double x) {
    const CCoord offset = context.getOffset().x;
    return context.toDevice(x + offset) / context.getScale() - offset;
}
double snapY(const CDrawContext& context, double y) {
    const CCoord offset = context.getOffset().y;
    return context.toDevice(y + offset) / context.getScale() - offset;
}

// The path of `rect` with its edges on whole device pixels.
void snappedRectangle(cairo_t* cr, const CDrawContext& context, const CRect& rect) {
    const double left = snapX(context, rect.left), top = snapY(context, rect.top);
    cairo_rectangle(cr, left, top, snapX(context, rect.right) - left, snapY(context, rect.bottom) - top);
}

// Strokes the lines through `points` (pairs of segments, or one joined line) in device
// space, in the frame colour.
template <typename Point>
void strokeInDevice(const CDrawContext& context, const Point* points, int count, bool segments) {
    cairo_t* cr = context.getNative().cr;
    const CPoint offset = context.getOffset();
    auto x = [&](int i) { return deviceLineCentre(context, points[i].x, offset.x); };
    auto y = [&](int i) { return deviceLineCentre(context, points[i].y, offset.y); };
    cairo_save(cr);
    cairo_identity_matrix(cr);
    for (int i = 0; i < count; ++i) {
        if (i == 0 || (segments && i % 2 == 0))
            cairo_move_to(cr, x(i), y(i));
        else
            cairo_line_to(cr, x(i), y(i));
    }
    // Under the identity matrix, so the width counts device pixels.
    stroke(cr, context.getFrameColor(), deviceLineWidth(context));
    cairo_restore(cr);
}

}  // namespace

CDrawContext::~CDrawContext() {
    cairo_destroy(native_->cr);
    cairo_surface_destroy(native_->surface);
    delete native_;
}

void CDrawContext::applyTransform() {
    cairo_t* cr = native_->cr;
    cairo_reset_clip(cr);
    cairo_identity_matrix(cr);
    const CCoord left = toDevice(clip_.left), top = toDevice(clip_.top);
    cairo_rectangle(cr, left, top, toDevice(clip_.right) - left, toDevice(clip_.bottom) - top);
    cairo_clip(cr);
    cairo_scale(cr, scale_, scale_);
    cairo_translate(cr, offset_.x, offset_.y);
}

void CDrawContext::lineTo(const CPoint& point) {
    const CPoint line[2] = {pen_, point};
    strokeInDevice(*this, line, 2, false);
    pen_ = point;
}

void CDrawContext::polyline(const CPoint* points, int count) {
    if (!points || count < 2) return;
    strokeInDevice(*this, points, count, false);
    pen_ = points[count - 1];
}

void CDrawContext::polyline(const CFinePoint* points, int count) {
    if (!points || count < 2) return;
    strokeInDevice(*this, points, count, false);
    const CFinePoint& last = points[count - 1];
    pen_ = CPoint(static_cast<CCoord>(std::floor(last.x)), static_cast<CCoord>(std::floor(last.y)));
}

void CDrawContext::drawLines(const CPoint* points, int numberOfLines) {
    if (!points || numberOfLines <= 0) return;
    strokeInDevice(*this, points, 2 * numberOfLines, true);
}

void CDrawContext::drawRect(const CRect& rect, CDrawStyle style) {
    if (rect.isEmpty()) return;
    cairo_t* cr = native_->cr;
    // In device pixels: the edges on whole pixels, the frame as wide as a device line.
    const double left = toDevice(rect.left + offset_.x), top = toDevice(rect.top + offset_.y);
    const double right = toDevice(rect.right + offset_.x), bottom = toDevice(rect.bottom + offset_.y);
    cairo_save(cr);
    cairo_identity_matrix(cr);
    if (style != kDrawStroked) {
        cairo_rectangle(cr, left, top, right - left, bottom - top);
        setSource(cr, fillColor_);
        cairo_fill(cr);
    }
    if (style != kDrawFilled) {
        // The stroke runs along the inside of the rectangle's edge pixels.
        const int width = deviceLineWidth(*this);
        const double half = width / 2.0;
        cairo_rectangle(cr, left + half, top + half, std::max(0.0, right - left - 2 * half),
                        std::max(0.0, bottom - top - 2 * half));
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
        stroke(cr, frameColor_, width);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_SQUARE);
    }
    cairo_restore(cr);
}

void CDrawContext::drawArc(const CRect& rect, double startAngle, double endAngle, CDrawStyle style) {
    if (rect.isEmpty()) return;
    cairo_t* cr = native_->cr;
    const double inset = style == kDrawFilled ? 0.0 : lineWidth_ / 2.0;
    const double rx = rect.width() / 2.0 - inset;
    const double ry = rect.height() / 2.0 - inset;
    if (rx <= 0 || ry <= 0) return;
    const bool fullCircle = std::fabs(endAngle - startAngle) >= 2.0 * M_PI;
    cairo_new_path(cr);
    cairo_save(cr);
    cairo_translate(cr, rect.left + rect.width() / 2.0, rect.top + rect.height() / 2.0);
    cairo_scale(cr, rx, ry);
    if (style != kDrawStroked && !fullCircle) cairo_move_to(cr, 0, 0);
    // Cairo measures angles clockwise on screen, so the paper angle changes sign.
    if (endAngle < startAngle)
        cairo_arc(cr, 0, 0, 1, -startAngle, -endAngle);
    else
        cairo_arc_negative(cr, 0, 0, 1, -startAngle, -endAngle);
    if (style != kDrawStroked && !fullCircle) cairo_close_path(cr);
    cairo_restore(cr);  // the line width must not be scaled with the path
    if (style != kDrawStroked) {
        setSource(cr, fillColor_);
        if (style == kDrawFilledAndStroked)
            cairo_fill_preserve(cr);
        else
            cairo_fill(cr);
    }
    if (style != kDrawFilled) stroke(cr, frameColor_, lineWidth_);
}

double CDrawContext::getStringWidth(const char* text) {
    if (!text || !*text) return 0.0;
    selectFont(native_->cr, font_);
    cairo_text_extents_t extents;
    cairo_text_extents(native_->cr, text, &extents);
    return extents.x_advance;
}

void CDrawContext::drawString(const char* text, const CRect& rect, CHoriTxtAlign align, bool clip) {
    if (!text || !*text) return;
    cairo_t* cr = native_->cr;
    selectFont(cr, font_);
    cairo_font_extents_t font;
    cairo_font_extents(cr, &font);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, text, &extents);

    double x = rect.left;
    if (align == kCenterText)
        x = rect.left + (rect.width() - extents.x_advance) / 2.0;
    else if (align == kRightText)
        x = rect.right - extents.x_advance;
    // A baseline and a start on whole device pixels keep the glyphs crisp.
    const double baseline = snapY(*this, rect.top + (rect.height() - (font.ascent + font.descent)) / 2.0 + font.ascent);

    cairo_save(cr);
    if (clip) {
        snappedRectangle(cr, *this, rect);
        cairo_clip(cr);
    }
    setSource(cr, fontColor_);
    cairo_move_to(cr, snapX(*this, x), baseline);
    cairo_show_text(cr, text);
    cairo_restore(cr);
}

void CDrawContext::drawNarrowedString(const char* text, const CRect& rect, double xScale) {
    cairo_t* cr = native_->cr;
    const double centre = rect.left + rect.width() / 2.0;
    cairo_save(cr);
    snappedRectangle(cr, *this, rect);
    cairo_clip(cr);
    cairo_translate(cr, centre, 0.0);
    cairo_scale(cr, xScale, 1.0);
    cairo_translate(cr, -centre, 0.0);
    drawString(text, rect, kCenterText, false);
    cairo_restore(cr);
}

void CDrawContext::drawBitmap(CBitmap* bitmap, const CRect& dest, const CPoint& source) {
    if (!bitmap || !bitmap->isLoaded() || dest.isEmpty()) return;
    // The part of the bitmap that `dest` shows, drawn for this scale.
    const CRect shown(source.x, source.y, std::min(source.x + dest.width(), bitmap->getWidth()),
                      std::min(source.y + dest.height(), bitmap->getHeight()));
    if (shown.isEmpty() || source.x < 0 || source.y < 0) return;
    CPoint origin;
    CBitmap::Native* image = bitmap->getNativeAt(scale_, shown, origin);
    if (!image) return;
    const CCoord left = toDevice(dest.left + offset_.x), top = toDevice(dest.top + offset_.y);
    cairo_t* cr = native_->cr;
    cairo_save(cr);
    cairo_identity_matrix(cr);
    cairo_rectangle(cr, left, top, toDevice(dest.right + offset_.x) - left, toDevice(dest.bottom + offset_.y) - top);
    cairo_clip(cr);
    cairo_set_source_surface(cr, image->surface, left - origin.x, top - origin.y);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    cairo_restore(cr);
}

// COffscreenContext

COffscreenContext::COffscreenContext(CCoord width, CCoord height, double scale)
    : CDrawContext(createImageContext(static_cast<CCoord>(std::lround(std::max(width, 0) * scale)),
                                      static_cast<CCoord>(std::lround(std::max(height, 0) * scale))),
                   width, height, scale) {}

COffscreenContext::~COffscreenContext() = default;

void COffscreenContext::copyTo(CDrawContext& dest, const CRect& destRect, const CPoint& source) {
    if (destRect.isEmpty()) return;
    cairo_surface_flush(getNative().surface);
    cairo_t* cr = dest.getNative().cr;
    const CPoint offset = dest.getOffset();
    const CCoord left = dest.toDevice(destRect.left + offset.x), top = dest.toDevice(destRect.top + offset.y);
    cairo_save(cr);
    cairo_identity_matrix(cr);
    cairo_rectangle(cr, left, top, dest.toDevice(destRect.right + offset.x) - left,
                    dest.toDevice(destRect.bottom + offset.y) - top);
    cairo_clip(cr);
    cairo_set_source_surface(cr, getNative().surface, left - toDevice(source.x), top - toDevice(source.y));
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    cairo_restore(cr);
}

const uint32_t* COffscreenContext::getPixels(int& strideBytes) {
    cairo_surface_t* surface = getNative().surface;
    cairo_surface_flush(surface);
    strideBytes = cairo_image_surface_get_stride(surface);
    return reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(surface));
}

CColor COffscreenContext::getPixel(CCoord x, CCoord y) {
    if (x < 0 || y < 0 || x >= getPixelWidth() || y >= getPixelHeight()) return CColor{0, 0, 0, 0};
    int stride = 0;
    const auto* row = reinterpret_cast<const unsigned char*>(getPixels(stride)) + static_cast<size_t>(y) * stride;
    const uint32_t argb = reinterpret_cast<const uint32_t*>(row)[x];
    const unsigned a = argb >> 24;
    if (a == 0) return CColor{0, 0, 0, 0};
    auto straight = [a](uint32_t c) { return static_cast<uint8_t>((c * 255 + a / 2) / a); };
    return CColor{straight((argb >> 16) & 0xff), straight((argb >> 8) & 0xff), straight(argb & 0xff),
                  static_cast<uint8_t>(a)};
}

bool COffscreenContext::writePNG(const char* path) {
    if (!path || getPixelWidth() == 0 || getPixelHeight() == 0) return false;
    cairo_surface_flush(getNative().surface);
    return cairo_surface_write_to_png(getNative().surface, path) == CAIRO_STATUS_SUCCESS;
}

// CBitmap

CBitmap::Native* CBitmap::createNative(const uint32_t* pixels, CCoord width, CCoord height) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    cairo_surface_flush(surface);
    unsigned char* target = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < height; ++y)
        std::memcpy(target + size_t(y) * stride, pixels + size_t(y) * width, size_t(width) * sizeof(uint32_t));
    cairo_surface_mark_dirty(surface);
    return new Native{surface};
}

void CBitmap::destroyNative(Native* native) {
    cairo_surface_destroy(native->surface);
    delete native;
}

}  // namespace VSTGUI
