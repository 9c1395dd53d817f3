#include "gui/CBitmap.h"

#include "gui/CDrawContext.h"
#include "gui/PngDecoder.h"

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

}  // namespace

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
    if ((gProvider && gProvider(id, name, &data, &size)) || findInTable(id, name, &data, &size))
        decode(data, size);
}

void CBitmap::decode(const unsigned char* data, size_t size) {
    DecodedImage image;
    if (!decodePng(data, size, image)) return;
    native_ = createNative(image.pixels.data(), image.width, image.height);
    if (!native_) return;
    width_ = image.width;
    height_ = image.height;
}

void CBitmap::draw(CDrawContext* context, const CRect& rect, const CPoint& offset) {
    if (context) context->drawBitmap(this, rect, offset);
}

}  // namespace VSTGUI
