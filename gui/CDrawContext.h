// The context every view draws into, and its off-screen form. The drawing itself is done
// by the platform's graphics library (cairo on Linux, GDI on Windows), chosen at build
// time by the source file that defines CDrawContext::Native and the drawing operations.
#pragma once

#include "gui/CGeometry.h"

#include <cstdint>
#include <vector>

namespace VSTGUI {

class CBitmap;

enum CDrawStyle { kDrawStroked = 0, kDrawFilled, kDrawFilledAndStroked };

// Coordinates are whole pixels; a line of width 1 between two pixel positions covers
// exactly those pixels. The offset translates every operation; the clip rectangle is
// kept in surface coordinates. All colours are drawn opaque (see CColor).
// At a scale above 1 every coordinate still counts these (logical) pixels while the
// surface has scale times as many device pixels each way: lines, text and shapes are
// drawn at the device resolution, edges of rectangles and clips on whole device pixels,
// and bitmaps from their drawing for that scale (CBitmap::getNativeAt).
// GUI thread only.
class CDrawContext {
public:
    // The platform's drawing state (a cairo context, a GDI device context).
    struct Native;

    // Draws through `native`, which the context owns from now on, onto a surface of
    // width x height pixels at `scale` (its native surface is device-sized).
    CDrawContext(Native* native, CCoord width, CCoord height, double scale = 1.0);
    CDrawContext(const CDrawContext&) = delete;
    CDrawContext& operator=(const CDrawContext&) = delete;
    virtual ~CDrawContext();

    void setFrameColor(const CColor& color) { frameColor_ = color; }
    const CColor& getFrameColor() const { return frameColor_; }
    void setFillColor(const CColor& color) { fillColor_ = color; }
    const CColor& getFillColor() const { return fillColor_; }
    void setFontColor(const CColor& color) { fontColor_ = color; }
    const CColor& getFontColor() const { return fontColor_; }
    void setLineWidth(int width) { lineWidth_ = width < 1 ? 1 : width; }
    int getLineWidth() const { return lineWidth_; }

    // Lines in the frame colour.
    void moveTo(const CPoint& point) { pen_ = point; }
    void lineTo(const CPoint& point);
    const CPoint& getPenPosition() const { return pen_; }
    // Joined line through `count` points.
    void polyline(const CPoint* points, int count);
    // The same through points between whole coordinates, each placed on the device pixel
    // it falls in (at scale 1 exactly as the whole-coordinate form).
    void polyline(const CFinePoint* points, int count);
    // Separate segments: points[0]-points[1], points[2]-points[3], ...
    void drawLines(const CPoint* points, int numberOfLines);

    // Stroked rectangles lie just inside `rect`; filled ones cover it exactly.
    void drawRect(const CRect& rect, CDrawStyle style = kDrawStroked);
    void fillRect(const CRect& rect) { drawRect(rect, kDrawFilled); }
    void drawEllipse(const CRect& rect, CDrawStyle style = kDrawStroked);
    // Arc of the ellipse in `rect` from startAngle to endAngle, radians counter-clockwise
    // from three o'clock as on paper (y up); the end may be below the start (clockwise).
    void drawArc(const CRect& rect, double startAngle, double endAngle, CDrawStyle style = kDrawStroked);

    void setFont(const CFontDesc& font) { font_ = font; }
    void setFont(const char* name, double size, int style = kNormalFace);
    const CFontDesc& getFont() const { return font_; }
    // Text in the font colour, centred vertically in `rect`.
    void drawString(const char* text, const CRect& rect, CHoriTxtAlign align = kCenterText, bool clip = true);
    // Text centred in `rect` and clipped to it, its glyphs narrowed horizontally by
    // `xScale` (0 < xScale <= 1) about the rectangle's centre, so that it fits.
    void drawNarrowedString(const char* text, const CRect& rect, double xScale);
    double getStringWidth(const char* text);

    // Bitmap pixels from `source` (inside the bitmap) into `dest`, blended by their alpha.
    void drawBitmap(CBitmap* bitmap, const CRect& dest, const CPoint& source = CPoint());

    // Only pixels inside the clip rectangle (given in current coordinates) are touched.
    void setClipRect(const CRect& clip);
    CRect getClipRect() const;
    void resetClipRect();
    void setOffset(const CPoint& offset);
    const CPoint& getOffset() const { return offset_; }
    void saveGlobalState();
    void restoreGlobalState();

    Native& getNative() const { return *native_; }
    CCoord getSurfaceWidth() const { return surfaceWidth_; }
    CCoord getSurfaceHeight() const { return surfaceHeight_; }
    // Device pixels per coordinate unit.
    double getScale() const { return scale_; }
    // The device pixel where the coordinate `c` (surface coordinates, offset included) begins.
    CCoord toDevice(double c) const;
    // The surface in device pixels.
    CCoord getDeviceWidth() const { return toDevice(surfaceWidth_); }
    CCoord getDeviceHeight() const { return toDevice(surfaceHeight_); }

private:
    struct State {
        CPoint offset;
        CRect clip;
        CColor frameColor, fillColor, fontColor;
        int lineWidth;
        CFontDesc font;
    };
    // Hands offset and clip to the native context (platform code).
    void applyTransform();

    Native* native_;
    CCoord surfaceWidth_ = 0;
    CCoord surfaceHeight_ = 0;
    double scale_ = 1.0;
    CPoint offset_;
    CRect clip_;  // surface coordinates
    CPoint pen_;
    CColor frameColor_ = kBlackCColor;
    CColor fillColor_ = kWhiteCColor;
    CColor fontColor_ = kBlackCColor;
    int lineWidth_ = 1;
    CFontDesc font_;
    std::vector<State> saved_;
};

// A drawing context on its own image of 32-bit pixels, of a fixed size; needs no
// display. Starts fully transparent (cairo) or black (GDI, whose images are opaque).
// At a scale the image has getPixelWidth() x getPixelHeight() device pixels.
class COffscreenContext : public CDrawContext {
public:
    COffscreenContext(CCoord width, CCoord height, double scale = 1.0);
    ~COffscreenContext() override;

    CCoord getWidth() const { return getSurfaceWidth(); }
    CCoord getHeight() const { return getSurfaceHeight(); }
    CCoord getPixelWidth() const { return getDeviceWidth(); }
    CCoord getPixelHeight() const { return getDeviceHeight(); }

    // Replaces the pixels of `dest` inside destRect (and its clip) with this image's,
    // read from `source` onwards. Both images should have the same scale; the pixels
    // are copied one to one.
    void copyTo(CDrawContext& dest, const CRect& destRect, const CPoint& source = CPoint());
    // Replaces this image's pixels inside destRect with those of `source`.
    void copyFrom(COffscreenContext& source, const CRect& destRect, const CPoint& sourceOffset = CPoint());

    // Straight (not premultiplied) colour of one device pixel; transparent black outside the image.
    CColor getPixel(CCoord x, CCoord y);
    // The image's device pixels after all drawing so far: rows of native-endian 0xAARRGGBB words
    // with premultiplied colour, `strideBytes` apart. Valid until the next drawing.
    const uint32_t* getPixels(int& strideBytes);
    // Writes the image as a PNG file; false if it could not be written.
    bool writePNG(const char* path);
};

}  // namespace VSTGUI
