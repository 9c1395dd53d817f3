// The GDI forms of the toolkit's drawing contexts and bitmaps, for the Win32 layer.
#pragma once

#include "gui/CBitmap.h"
#include "gui/CDrawContext.h"

#include <windows.h>

namespace VSTGUI {

struct CDrawContext::Native {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previousBitmap = nullptr;
    uint32_t* bits = nullptr;  // null when the image could not be made
    HFONT font = nullptr;
    CFontDesc fontDesc;
};

struct CBitmap::Native {
    HBITMAP bitmap = nullptr;
    uint32_t* bits = nullptr;
    CCoord width = 0, height = 0;
    bool opaque = true;        // every alpha 255
    bool binaryAlpha = true;   // every alpha 0 or 255
    HBITMAP keyed = nullptr;   // for TransparentBlt: transparent pixels in kKeyColour, made on first use
};

}  // namespace VSTGUI
