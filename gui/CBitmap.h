// Bitmaps decoded from PNG data: the embedded artwork of the application or raw bytes.
#pragma once

#include "gui/CGeometry.h"
#include "gui/CReferenceCounter.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace VSTGUI {

class CDrawContext;

// One embedded PNG resource, found by integer id or by name.
struct CResourceEntry {
    int id;             // 0 when the resource is only known by name
    const char* name;   // nullptr when the resource is only known by id
    const unsigned char* data;
    size_t size;
};

// Looks a resource up by id (name null) or by name; answers false if there is none.
using CResourceProvider = bool (*)(int id, const char* name, const unsigned char** data, size_t* size);

// A reference-counted image, held in the platform's own form (a cairo image surface, a
// GDI DIB section) made from premultiplied 0xAARRGGBB pixels.
// A resource that is missing or cannot be decoded gives a bitmap that is not loaded:
// it is 0 x 0 and draws nothing. Created with `new`, released with `forget`.
class CBitmap : public CReferenceCounter {
public:
    // The platform's image (platform code).
    struct Native;

    explicit CBitmap(int resourceId);
    explicit CBitmap(const char* resourceName);
    CBitmap(const unsigned char* pngData, size_t size);

    // Where bitmaps find the application's resources. The provider is asked first, then
    // the table. Set once before any bitmap is created; the table must outlive its use.
    static void setResourceProvider(CResourceProvider provider);
    static void setResourceTable(const CResourceEntry* table, size_t count);

    bool isLoaded() const { return native_ != nullptr; }
    CCoord getWidth() const { return width_; }
    CCoord getHeight() const { return height_; }

    // Draws the part of the bitmap starting at `offset` into `rect`, blended by its alpha.
    void draw(CDrawContext* context, const CRect& rect, const CPoint& offset = CPoint());

    Native* getNative() const { return native_; }

    // Adds a drawing of the same picture at `scale` times its size (a resource found like
    // the bitmap's own), for drawing sharp at high scales. Decoded on first use; one that
    // is not exactly the picture's size x scale is never used. False if there is none.
    bool addScaledResource(const char* resourceName, double scale);

    // The pixels that show `source` (a rectangle of the bitmap) on a surface of `scale`
    // device pixels per bitmap pixel: lround(width x scale) x lround(height x scale) device
    // pixels from the closest drawing at or above the scale, resampled (area-averaged when
    // shrinking) where no drawing has exactly that scale. `origin` receives where
    // `source` starts in the answer. Null when nothing can be drawn. Kept until the bitmap
    // goes or the cache makes room; GUI thread only.
    Native* getNativeAt(double scale, const CRect& source, CPoint& origin);

protected:
    ~CBitmap() override;

private:
    struct Variant;
    struct ScaledImage;

    void loadResource(int id, const char* name);
    void decode(const unsigned char* data, size_t size);
    Variant* variantFor(double scale);
    Native* resample(const Variant& from, double scale, const CRect& source);
    // Defined by the platform: null when the image cannot be made.
    static Native* createNative(const uint32_t* pixels, CCoord width, CCoord height);
    static void destroyNative(Native* native);

    Native* native_ = nullptr;
    CCoord width_ = 0;
    CCoord height_ = 0;
    std::vector<std::unique_ptr<Variant>> variants_;
    std::vector<std::unique_ptr<ScaledImage>> scaled_;  // most recently used first
};

}  // namespace VSTGUI
