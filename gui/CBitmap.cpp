#include "gui/CBitmap.h"

#include "gui/CDrawContext.h"
#include "gui/PngDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace VSTGUI {

namespace {

CResourceProvider gProvider = nullptr;
const CResourceEntry* gTable = nullptr;
size_t gTableSize = 0;

bool findInTable(int id, const char* name, const unsigned char** data, size_t* size) {
    for (size_t i = 0; i < gTableSize; ++i) {
        const CResourceEntry& e = gTable[i];
        const bool match = name ? (e.name && std::strcmp(e.name, name) == 0) : (e.id != 0 && e.id == id);
        if (match) {
            *data = e.data;
            *size = e.size;
            return true;
        }
    }
    return false;
}

bool findResource(int id, const char* name, const unsigned char** data, size_t* size) {
    return (gProvider && gProvider(id, name, data, size)) || findInTable(id, name, data, size);
}

// How many scaled copies of a bitmap are kept (a button's two frames at two scales fit).
constexpr size_t kScaledCacheSize = 6;

// The share each source pixel of one axis has in each target pixel. A target pixel covers
// `ratio` source pixels starting at first + i * ratio: shrinking averages what it covers,
// enlarging interpolates linearly between the two nearest. Sources outside
// [first, end) count as the edge pixel, so frames of a strip never bleed into each other.
struct Tap {
    int index;
    float weight;
};

std::vector<std::vector<Tap>> axisTaps(int targetCount, double ratio, int first, int end) {
    std::vector<std::vector<Tap>> taps(static_cast<size_t>(targetCount));
    auto clamped = [&](long k) { return static_cast<int>(std::min<long>(std::max<long>(k, first), end - 1)); };
    for (int i = 0; i < targetCount; ++i) {
        std::vector<Tap>& out = taps[static_cast<size_t>(i)];
        if (ratio > 1.0) {
            const double a = first + i * ratio, b = a + ratio;
            for (long k = static_cast<long>(std::floor(a)); k < static_cast<long>(std::ceil(b)); ++k) {
                const double overlap = std::min<double>(b, k + 1) - std::max<double>(a, k);
                if (overlap > 0) out.push_back({clamped(k), static_cast<float>(overlap / ratio)});
            }
        } else {
            const double centre = first + (i + 0.5) * ratio - 0.5;
            const long k = static_cast<long>(std::floor(centre));
            const double t = centre - k;
            out.push_back({clamped(k), static_cast<float>(1.0 - t)});
            if (t > 0) out.push_back({clamped(k + 1), static_cast<float>(t)});
        }
    }
    return taps;
}

uint8_t channelByte(float value) {
    return static_cast<uint8_t>(std::min(255.0f, std::max(0.0f, std::floor(value + 0.5f))));
}

}  // namespace

// One drawing of the picture: the bitmap's own (scale 1) or a larger one.
struct CBitmap::Variant {
    double scale = 1;
    const unsigned char* data = nullptr;  // PNG, decoded on first use
    size_t size = 0;
    bool decoded = false;
    CCoord width = 0, height = 0;
    std::vector<uint32_t> pixels;
    Native* native = nullptr;  // made on first use where the scale matches exactly

    ~Variant() {
        if (native) destroyNative(native);
    }
    bool usable() const { return !pixels.empty(); }
};

struct CBitmap::ScaledImage {
    double scale;
    CRect source;
    Native* native;
    ~ScaledImage() { destroyNative(native); }
};

void CBitmap::setResourceProvider(CResourceProvider provider) { gProvider = provider; }

void CBitmap::setResourceTable(const CResourceEntry* table, size_t count) {
    gTable = table;
    gTableSize = table ? count : 0;
}

CBitmap::CBitmap(int resourceId) { loadResource(resourceId, nullptr); }

CBitmap::CBitmap(const char* resourceName) {
    if (resourceName) loadResource(0, resourceName);
}

CBitmap::CBitmap(const unsigned char* pngData, size_t size) { decode(pngData, size); }

CBitmap::~CBitmap() {
    if (native_) destroyNative(native_);
}


void CBitmap::loadResource(int id, const char* name) {
    const unsigned char* data = nullptr;
    size_t size = 0;
    if (findResource(id, name, &data, &size)) decode(data, size);
}

void CBitmap::decode(const unsigned char* data, size_t size) {
    DecodedImage image;
    if (!decodePng(data, size, image)) return;
    native_ = createNative(image.pixels.data(), image.width, image.height);
    if (!native_) return;
    width_ = image.width;
    height_ = image.height;
    auto own = std::make_unique<Variant>();
    own->decoded = true;
    own->width = width_;
    own->height = height_;
    own->pixels = std::move(image.pixels);
    variants_.push_back(std::move(own));
}

bool CBitmap::addScaledResource(const char* resourceName, double scale) {
    const unsigned char* data = nullptr;
    size_t size = 0;
    if (!resourceName || !(scale > 1.0) || !findResource(0, resourceName, &data, &size)) return false;
    auto variant = std::make_unique<Variant>();
    variant->scale = scale;
    variant->data = data;
    variant->size = size;
    variants_.push_back(std::move(variant));
    return true;
}

// The exact drawing for `scale` if there is one, else the smallest above it, else the largest.
CBitmap::Variant* CBitmap::variantFor(double scale) {
    Variant* best = nullptr;
    for (auto& v : variants_) {
        if (!v->decoded) {
            v->decoded = true;
            DecodedImage image;
            const bool fits = decodePng(v->data, v->size, image) && image.width == std::lround(width_ * v->scale) &&
                              image.height == std::lround(height_ * v->scale);
            if (fits) {
                v->width = image.width;
                v->height = image.height;
                v->pixels = std::move(image.pixels);
            }
        }
        if (!v->usable()) continue;
        if (v->scale == scale) return v.get();
        const bool above = v->scale > scale;
        if (!best || (above && (best->scale < scale || v->scale < best->scale)) ||
            (!above && best->scale < scale && v->scale > best->scale))
            best = v.get();
    }
    return best;
}

CBitmap::Native* CBitmap::getNativeAt(double scale, const CRect& source, CPoint& origin) {
    if (!native_ || !(scale > 0)) return nullptr;
    origin = source.getTopLeft();
    if (scale == 1.0) return native_;
    Variant* variant = variantFor(scale);
    if (!variant) return nullptr;
    if (variant->scale == scale) {
        if (!variant->native) variant->native = createNative(variant->pixels.data(), variant->width, variant->height);
        origin = CPoint(static_cast<CCoord>(std::lround(source.left * scale)),
                        static_cast<CCoord>(std::lround(source.top * scale)));
        return variant->native;
    }
    origin = CPoint();
    for (auto it = scaled_.begin(); it != scaled_.end(); ++it)
        if ((*it)->scale == scale && (*it)->source == source) {
            std::rotate(scaled_.begin(), it, it + 1);
            return scaled_.front()->native;
        }
    Native* made = resample(*variant, scale, source);
    if (!made) return nullptr;
    if (scaled_.size() >= kScaledCacheSize) scaled_.pop_back();
    scaled_.insert(scaled_.begin(), std::unique_ptr<ScaledImage>(new ScaledImage{scale, source, made}));
    return made;
}

// `source` of the drawing `from`, at `scale` device pixels per bitmap pixel. Premultiplied
// pixels average correctly, so transparent edges stay clean.
CBitmap::Native* CBitmap::resample(const Variant& from, double scale, const CRect& source) {
    CRect area = source;
    area.bound(CRect(0, 0, width_, height_));
    const int targetWidth = static_cast<int>(std::lround(area.width() * scale));
    const int targetHeight = static_cast<int>(std::lround(area.height() * scale));
    if (targetWidth <= 0 || targetHeight <= 0) return nullptr;
    const double ratio = from.scale / scale;
    auto edge = [&](CCoord c) { return static_cast<int>(std::lround(c * from.scale)); };
    const int x0 = edge(area.left), x1 = edge(area.right), y0 = edge(area.top), y1 = edge(area.bottom);
    const auto columns = axisTaps(targetWidth, ratio, x0, x1);
    const auto rows = axisTaps(targetHeight, ratio, y0, y1);

    // Rows first: every source row of the area, narrowed to the target width.
    const int sourceRows = y1 - y0;
    std::vector<float> narrowed(size_t(sourceRows) * size_t(targetWidth) * 4, 0.0f);
    for (int y = 0; y < sourceRows; ++y) {
        const uint32_t* row = from.pixels.data() + size_t(y0 + y) * size_t(from.width);
        float* out = narrowed.data() + size_t(y) * size_t(targetWidth) * 4;
        for (int x = 0; x < targetWidth; ++x)
            for (const Tap& tap : columns[size_t(x)]) {
                const uint32_t p = row[tap.index];
                for (int c = 0; c < 4; ++c) out[x * 4 + c] += tap.weight * static_cast<float>((p >> (8 * c)) & 0xff);
            }
    }
    std::vector<uint32_t> pixels(size_t(targetWidth) * size_t(targetHeight));
    std::vector<float> sum(size_t(targetWidth) * 4);
    for (int y = 0; y < targetHeight; ++y) {
        std::fill(sum.begin(), sum.end(), 0.0f);
        for (const Tap& tap : rows[size_t(y)]) {
            const float* in = narrowed.data() + size_t(tap.index - y0) * size_t(targetWidth) * 4;
            for (size_t i = 0; i < sum.size(); ++i) sum[i] += tap.weight * in[i];
        }
        for (int x = 0; x < targetWidth; ++x) {
            uint32_t p = 0;
            const uint8_t alpha = channelByte(sum[size_t(x) * 4 + 3]);
            for (int c = 0; c < 3; ++c)  // premultiplied: no colour above the alpha
                p |= uint32_t(std::min(channelByte(sum[size_t(x) * 4 + size_t(c)]), alpha)) << (8 * c);
            pixels[size_t(y) * size_t(targetWidth) + size_t(x)] = p | (uint32_t(alpha) << 24);
        }
    }
    return createNative(pixels.data(), targetWidth, targetHeight);
}

void CBitmap::draw(CDrawContext* context, const CRect& rect, const CPoint& offset) {
    if (context) context->drawBitmap(this, rect, offset);
}

}  // namespace VSTGUI
