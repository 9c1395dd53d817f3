#include "gui/CDrawContext.h"

#include "gui/CBitmap.h"

#include <cairo.h>

#include <cmath>
#include <cstdint>

namespace VSTGUI {

namespace {

// Lines of odd width are centred on pixel centres so that they cover whole pixels.
double pixelCentre(int lineWidth) { return (lineWidth % 2) ? 0.5 : 0.0; }

cairo_surface_t* createImageSurface(CCoord width, CCoord height) {
    return cairo_image_surface_create(CAIRO_FORMAT_ARGB32, std::max(width, 0), std::max(height, 0));
}

}  // namespace

CDrawContext::CDrawContext(cairo_surface_t* surface, CCoord width, CCoord height)
    : surface_(cairo_surface_reference(surface)), cr_(cairo_create(surface)) {
    if (cairo_surface_get_type(surface) == CAIRO_SURFACE_TYPE_IMAGE) {
        width = cairo_image_surface_get_width(surface);
        height = cairo_image_surface_get_height(surface);
    }
    surfaceWidth_ = std::max(width, 0);
    surfaceHeight_ = std::max(height, 0);
    clip_ = CRect(0, 0, surfaceWidth_, surfaceHeight_);
    cairo_set_line_cap(cr_, CAIRO_LINE_CAP_SQUARE);
    cairo_set_line_join(cr_, CAIRO_LINE_JOIN_MITER);
    applyTransform();
}

CDrawContext::~CDrawContext() {
    cairo_destroy(cr_);
    cairo_surface_destroy(surface_);
}

void CDrawContext::applyTransform() {
    cairo_reset_clip(cr_);
    cairo_identity_matrix(cr_);
    cairo_rectangle(cr_, clip_.left, clip_.top, clip_.width(), clip_.height());
    cairo_clip(cr_);
    cairo_translate(cr_, offset_.x, offset_.y);
}

void CDrawContext::setSource(const CColor& color) {
    cairo_set_source_rgb(cr_, color.red / 255.0, color.green / 255.0, color.blue / 255.0);
}

void CDrawContext::lineTo(const CPoint& point) {
    const double c = pixelCentre(lineWidth_);
    cairo_move_to(cr_, pen_.x + c, pen_.y + c);
    cairo_line_to(cr_, point.x + c, point.y + c);
    setSource(frameColor_);
    cairo_set_line_width(cr_, lineWidth_);
    cairo_stroke(cr_);
    pen_ = point;
}

void CDrawContext::polyline(const CPoint* points, int count) {
    if (!points || count < 2) return;
    const double c = pixelCentre(lineWidth_);
    cairo_move_to(cr_, points[0].x + c, points[0].y + c);
    for (int i = 1; i < count; ++i) cairo_line_to(cr_, points[i].x + c, points[i].y + c);
    setSource(frameColor_);
    cairo_set_line_width(cr_, lineWidth_);
    cairo_stroke(cr_);
    pen_ = points[count - 1];
}

void CDrawContext::drawLines(const CPoint* points, int numberOfLines) {
    if (!points) return;
    const double c = pixelCentre(lineWidth_);
    for (int i = 0; i < numberOfLines; ++i) {
        cairo_move_to(cr_, points[2 * i].x + c, points[2 * i].y + c);
        cairo_line_to(cr_, points[2 * i + 1].x + c, points[2 * i + 1].y + c);
    }
    setSource(frameColor_);
    cairo_set_line_width(cr_, lineWidth_);
    cairo_stroke(cr_);
}

void CDrawContext::strokeAndFill(CDrawStyle style) {
    if (style != kDrawStroked) {
        setSource(fillColor_);
        if (style == kDrawFilledAndStroked)
            cairo_fill_preserve(cr_);
        else
            cairo_fill(cr_);
    }
    if (style != kDrawFilled) {
        setSource(frameColor_);
        cairo_set_line_width(cr_, lineWidth_);
        cairo_stroke(cr_);
    }
}

void CDrawContext::drawRect(const CRect& rect, CDrawStyle style) {
    if (rect.isEmpty()) return;
    if (style != kDrawStroked) {
        cairo_rectangle(cr_, rect.left, rect.top, rect.width(), rect.height());
        setSource(fillColor_);
        cairo_fill(cr_);
    }
    if (style != kDrawFilled) {
        // The stroke runs along the inside of the rectangle's edge pixels.
        const double half = lineWidth_ / 2.0;
        cairo_rectangle(cr_, rect.left + half, rect.top + half, std::max(0.0, rect.width() - 2 * half),
                        std::max(0.0, rect.height() - 2 * half));
        cairo_set_line_cap(cr_, CAIRO_LINE_CAP_BUTT);
        strokeAndFill(kDrawStroked);
        cairo_set_line_cap(cr_, CAIRO_LINE_CAP_SQUARE);
    }
}

void CDrawContext::drawEllipse(const CRect& rect, CDrawStyle style) {
    drawArc(rect, 0.0, 2.0 * M_PI, style);
}

void CDrawContext::drawArc(const CRect& rect, double startAngle, double endAngle, CDrawStyle style) {
    if (rect.isEmpty()) return;
    const double inset = style == kDrawFilled ? 0.0 : lineWidth_ / 2.0;
    const double rx = rect.width() / 2.0 - inset;
    const double ry = rect.height() / 2.0 - inset;
    if (rx <= 0 || ry <= 0) return;
    const bool fullCircle = std::fabs(endAngle - startAngle) >= 2.0 * M_PI;
    cairo_new_path(cr_);
    cairo_save(cr_);
    cairo_translate(cr_, rect.left + rect.width() / 2.0, rect.top + rect.height() / 2.0);
    cairo_scale(cr_, rx, ry);
    if (style != kDrawStroked && !fullCircle) cairo_move_to(cr_, 0, 0);
    // Cairo measures angles clockwise on screen, so the paper angle changes sign.
    if (endAngle < startAngle)
        cairo_arc(cr_, 0, 0, 1, -startAngle, -endAngle);
    else
        cairo_arc_negative(cr_, 0, 0, 1, -startAngle, -endAngle);
    if (style != kDrawStroked && !fullCircle) cairo_close_path(cr_);
    cairo_restore(cr_);  // the line width must not be scaled with the path
    strokeAndFill(style);
}

void CDrawContext::setFont(const char* name, double size, int style) {
    font_.name = name ? name : "Arial";
    font_.size = size > 0 ? size : 11.0;
    font_.style = style;
}

void CDrawContext::selectFont() {
    cairo_select_font_face(cr_, font_.name.c_str(),
                           (font_.style & kItalicFace) ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                           (font_.style & kBoldFace) ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr_, font_.size);
}

double CDrawContext::getStringWidth(const char* text) {
    if (!text || !*text) return 0.0;
    selectFont();
    cairo_text_extents_t extents;
    cairo_text_extents(cr_, text, &extents);
    return extents.x_advance;
}

void CDrawContext::drawString(const char* text, const CRect& rect, CHoriTxtAlign align, bool clip) {
    if (!text || !*text) return;
    selectFont();
    cairo_font_extents_t font;
    cairo_font_extents(cr_, &font);
    cairo_text_extents_t extents;
    cairo_text_extents(cr_, text, &extents);

    double x = rect.left;
    if (align == kCenterText)
        x = rect.left + (rect.width() - extents.x_advance) / 2.0;
    else if (align == kRightText)
        x = rect.right - extents.x_advance;
    // A whole-pixel baseline keeps the glyphs crisp.
    const double baseline = std::round(rect.top + (rect.height() - (font.ascent + font.descent)) / 2.0 + font.ascent);

    cairo_save(cr_);
    if (clip) {
        cairo_rectangle(cr_, rect.left, rect.top, rect.width(), rect.height());
        cairo_clip(cr_);
    }
    setSource(fontColor_);
    cairo_move_to(cr_, std::round(x), baseline);
    cairo_show_text(cr_, text);
    cairo_restore(cr_);
}

void CDrawContext::drawBitmap(CBitmap* bitmap, const CRect& dest, const CPoint& source) {
    if (!bitmap || !bitmap->isLoaded() || dest.isEmpty()) return;
    cairo_save(cr_);
    cairo_rectangle(cr_, dest.left, dest.top, dest.width(), dest.height());
    cairo_clip(cr_);
    cairo_set_source_surface(cr_, bitmap->getSurface(), dest.left - source.x, dest.top - source.y);
    cairo_pattern_set_filter(cairo_get_source(cr_), CAIRO_FILTER_NEAREST);
    cairo_paint(cr_);
    cairo_restore(cr_);
}

void CDrawContext::setClipRect(const CRect& clip) {
    clip_ = clip;
    clip_.offset(offset_.x, offset_.y);
    clip_.bound(CRect(0, 0, surfaceWidth_, surfaceHeight_));
    applyTransform();
}

CRect CDrawContext::getClipRect() const {
    CRect clip = clip_;
    return clip.offset(-offset_.x, -offset_.y);
}

void CDrawContext::resetClipRect() {
    clip_ = CRect(0, 0, surfaceWidth_, surfaceHeight_);
    applyTransform();
}

void CDrawContext::setOffset(const CPoint& offset) {
    offset_ = offset;
    applyTransform();
}

void CDrawContext::saveGlobalState() {
    saved_.push_back(State{offset_, clip_, frameColor_, fillColor_, fontColor_, lineWidth_, font_});
}

void CDrawContext::restoreGlobalState() {
    if (saved_.empty()) return;
    const State& s = saved_.back();
    offset_ = s.offset;
    clip_ = s.clip;
    frameColor_ = s.frameColor;
    fillColor_ = s.fillColor;
    fontColor_ = s.fontColor;
    lineWidth_ = s.lineWidth;
    font_ = s.font;
    saved_.pop_back();
    applyTransform();
}

// COffscreenContext

COffscreenContext::COffscreenContext(CCoord width, CCoord height)
    : CDrawContext(createImageSurface(width, height)) {
    cairo_surface_destroy(getSurface());  // the base context holds the only reference now
}

COffscreenContext::~COffscreenContext() = default;

void COffscreenContext::copyTo(CDrawContext& dest, const CRect& destRect, const CPoint& source) {
    if (destRect.isEmpty()) return;
    cairo_surface_flush(getSurface());
    cairo_t* cr = dest.getCairo();
    cairo_save(cr);
    cairo_rectangle(cr, destRect.left, destRect.top, destRect.width(), destRect.height());
    cairo_clip(cr);
    cairo_set_source_surface(cr, getSurface(), destRect.left - source.x, destRect.top - source.y);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    cairo_restore(cr);
}

void COffscreenContext::copyFrom(COffscreenContext& source, const CRect& destRect, const CPoint& sourceOffset) {
    source.copyTo(*this, destRect, sourceOffset);
}

CColor COffscreenContext::getPixel(CCoord x, CCoord y) {
    if (x < 0 || y < 0 || x >= getWidth() || y >= getHeight()) return CColor{0, 0, 0, 0};
    cairo_surface_flush(getSurface());
    const unsigned char* row = cairo_image_surface_get_data(getSurface()) +
                               static_cast<size_t>(y) * cairo_image_surface_get_stride(getSurface());
    const uint32_t argb = reinterpret_cast<const uint32_t*>(row)[x];
    const unsigned a = argb >> 24;
    if (a == 0) return CColor{0, 0, 0, 0};
    auto straight = [a](uint32_t c) { return static_cast<uint8_t>((c * 255 + a / 2) / a); };
    return CColor{straight((argb >> 16) & 0xff), straight((argb >> 8) & 0xff), straight(argb & 0xff),
                  static_cast<uint8_t>(a)};
}

bool COffscreenContext::writePNG(const char* path) {
    if (!path || getWidth() == 0 || getHeight() == 0) return false;
    cairo_surface_flush(getSurface());
    return cairo_surface_write_to_png(getSurface(), path) == CAIRO_STATUS_SUCCESS;
}

}  // namespace VSTGUI
