// Text between the effect (8-bit, ASCII names; program names as stored in
// chunks) and VST3's 16-bit strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kovalith::vst3 {

// Each byte as one code unit (Latin-1), cut to fit `size` units with the terminator.
inline void toUtf16(int16_t* out, std::size_t size, const char* text) {
    if (size == 0) return;
    std::size_t n = 0;
    for (; text && text[n] && n + 1 < size; ++n) out[n] = static_cast<int16_t>(static_cast<unsigned char>(text[n]));
    out[n] = 0;
}

// Up to `size` units or the terminator; units beyond Latin-1 become '?'.
inline std::string fromUtf16(const int16_t* text, std::size_t size) {
    std::string out;
    for (std::size_t n = 0; text && n < size && text[n]; ++n) {
        const auto unit = static_cast<uint16_t>(text[n]);
        out += unit < 256 ? static_cast<char>(unit) : '?';
    }
    return out;
}

// A terminated copy that fits `size` bytes.
inline void copyText(char* out, std::size_t size, const char* text) {
    if (size == 0) return;
    std::size_t n = 0;
    for (; text && text[n] && n + 1 < size; ++n) out[n] = text[n];
    out[n] = 0;
}

}  // namespace kovalith::vst3
