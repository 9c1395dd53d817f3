// PNG decoding from memory into premultiplied 32-bit pixels, and writing such pixels to a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace VSTGUI {

struct DecodedImage {
    int width = 0;
    int height = 0;
    // Native-endian 0xAARRGGBB words with premultiplied colour, row after row.
    std::vector<uint32_t> pixels;
};

// Decodes any PNG colour type, bit depth and interlacing. Answers false, with `out`
// emptied, for data that is not a complete valid PNG or an image too large to hold.
bool decodePng(const unsigned char* data, size_t size, DecodedImage& out);

// Writes width x height pixels (rows `strideBytes` apart, laid out as DecodedImage's) as an
// 8-bit RGBA PNG file. False when the file cannot be written.
bool encodePngFile(const uint32_t* pixels, int width, int height, int strideBytes, const char* path);

}  // namespace VSTGUI
