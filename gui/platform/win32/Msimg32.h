// The blending functions of msimg32.dll, loaded at run time: a system without the library
// still draws, through the plain fallback in GdiDrawContext.cpp.
#pragma once

#include <windows.h>

namespace VSTGUI {

struct Msimg32 {
    using AlphaBlendFunction = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, int, int, BLENDFUNCTION);
    using TransparentBltFunction = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, int, int, UINT);

    AlphaBlendFunction alphaBlend = nullptr;          // null when missing
    TransparentBltFunction transparentBlt = nullptr;  // null when missing

    // Loads the library on the first call; it then stays loaded for the process's life.
    static const Msimg32& get();
    // Tests replace the functions (null for missing); `restore` returns to the library's.
    static void overrideForTesting(AlphaBlendFunction alphaBlend, TransparentBltFunction transparentBlt);
    static void restore();
};

}  // namespace VSTGUI
