// Extended precision for long double arithmetic on Windows.
//
// long double is the x87 80-bit format here, computed at the precision the
// x87 control word selects. Linux starts processes at 64 bits; Windows starts
// them at 53, so a long double sum or quotient there rounds like a double.
// CExtendedPrecisionScope selects 64 bits for its lifetime and restores the
// previous setting; nothing else of the floating-point state is touched. On
// other systems it is empty.
#pragma once

#if defined(_WIN32) && defined(__i386__)
#include <float.h>
#endif

namespace kovalith {

#if defined(_WIN32) && defined(__i386__)

// 32-bit Windows: the C runtime's precision control.
class CExtendedPrecisionScope {
public:
    CExtendedPrecisionScope() {
        _controlfp_s(&saved_, 0, 0);
        unsigned int ignored = 0;
        _controlfp_s(&ignored, _PC_64, _MCW_PC);
    }
    ~CExtendedPrecisionScope() {
        unsigned int ignored = 0;
        _controlfp_s(&ignored, saved_ & _MCW_PC, _MCW_PC);
    }
    CExtendedPrecisionScope(const CExtendedPrecisionScope&) = delete;
    CExtendedPrecisionScope& operator=(const CExtendedPrecisionScope&) = delete;

private:
    unsigned int saved_ = 0;
};

#elif defined(_WIN32) && defined(__x86_64__)

// 64-bit Windows: the C runtime ignores precision control there (it is meant
// for SSE code), yet the x87 unit still starts at 53 bits, so the control
// word's precision field (bits 8-9) is set directly.
class CExtendedPrecisionScope {
public:
    CExtendedPrecisionScope() {
        __asm__ __volatile__("fnstcw %0" : "=m"(saved_) : : "memory");
        const unsigned short extended = static_cast<unsigned short>(saved_ | kPrecisionField);
        __asm__ __volatile__("fldcw %0" : : "m"(extended) : "memory");
    }
    ~CExtendedPrecisionScope() { __asm__ __volatile__("fldcw %0" : : "m"(saved_) : "memory"); }
    CExtendedPrecisionScope(const CExtendedPrecisionScope&) = delete;
    CExtendedPrecisionScope& operator=(const CExtendedPrecisionScope&) = delete;

private:
    static constexpr unsigned short kPrecisionField = 0x300;  // 11: 64-bit significand
    unsigned short saved_ = 0;
};

#else

class CExtendedPrecisionScope {};

#endif

}  // namespace kovalith
