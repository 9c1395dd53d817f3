#include "gui/PngDecoder.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

namespace VSTGUI {

namespace {

// Refuses images whose pixel store would be unreasonably large for artwork (256 MB).
constexpr png_uint_32 kMaxDimension = 16384;
constexpr size_t kMaxPixels = size_t(1) << 26;

struct MemoryReader {
    const unsigned char* data;
    size_t size;
    size_t position;
};

void readFromMemory(png_structp png, png_bytep out, png_size_t count) {
    auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (count > reader->size - reader->position) png_error(png, "truncated data");
    std::memcpy(out, reader->data + reader->position, count);
    reader->position += count;
}

// Errors jump back into decodeInto; nothing is printed.
void onError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void onWarning(png_structp, png_const_charp) {}

// Only plain locals live between setjmp and the jumps, and every buffer belongs to the
// caller, so a jump skips no destructor. `rgba` receives straight RGBA bytes.
bool decodeInto(png_structp png, png_infop info, MemoryReader* reader, DecodedImage& out,
                std::vector<unsigned char>& rgba, std::vector<png_bytep>& rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_read_fn(png, reader, readFromMemory);
    png_read_info(png, info);

    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    if (width == 0 || height == 0 || width > kMaxDimension || height > kMaxDimension ||
        size_t(width) * height > kMaxPixels)
        return false;

    // Every colour type becomes 8-bit RGBA.
    const int colorType = png_get_color_type(png, info);
    png_set_expand(png);  // palette to RGB, gray below 8 bits to 8, tRNS to alpha
    png_set_strip_16(png);
    if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);  // no effect when alpha is present
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(width) * 4) return false;

    try {
        rgba.resize(size_t(width) * height * 4);
        rows.resize(height);
        out.pixels.resize(size_t(width) * height);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = rgba.data() + size_t(y) * width * 4;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    out.width = static_cast<int>(width);
    out.height = static_cast<int>(height);
    return true;
}

uint32_t premultiplied(const unsigned char* p) {
    const uint32_t a = p[3];
    auto scale = [a](uint32_t c) { return (c * a + 127) / 255; };
    return (a << 24) | (scale(p[0]) << 16) | (scale(p[1]) << 8) | scale(p[2]);
}

}  // namespace

bool decodePng(const unsigned char* data, size_t size, DecodedImage& out) {
    out = DecodedImage();
    if (!data || size < 8 || png_sig_cmp(data, 0, 8) != 0) return false;

    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    MemoryReader reader{data, size, 0};
    std::vector<unsigned char> rgba;
    std::vector<png_bytep> rows;
    const bool ok = decodeInto(png, info, &reader, out, rgba, rows);
    png_destroy_read_struct(&png, &info, nullptr);
    if (!ok) {
        out = DecodedImage();
        return false;
    }
    for (size_t i = 0; i < out.pixels.size(); ++i) out.pixels[i] = premultiplied(&rgba[i * 4]);
    return true;
}

namespace {

// As decodeInto: only the caller's buffers and plain locals live across the jumps.
bool encodeInto(png_structp png, png_infop info, std::FILE* file, int width, int height,
                std::vector<png_bytep>& rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, info);
    return true;
}

}  // namespace

bool encodePngFile(const uint32_t* pixels, int width, int height, int strideBytes, const char* path) {
    if (!pixels || !path || width <= 0 || height <= 0 || strideBytes < width * 4) return false;
    std::vector<unsigned char> rgba(size_t(width) * size_t(height) * 4);
    std::vector<png_bytep> rows(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(reinterpret_cast<const unsigned char*>(pixels) +
                                                            size_t(y) * size_t(strideBytes));
        unsigned char* out = rgba.data() + size_t(y) * size_t(width) * 4;
        rows[size_t(y)] = out;
        for (int x = 0; x < width; ++x, out += 4) {
            const uint32_t p = row[x], a = p >> 24;
            auto straight = [a](uint32_t c) { return static_cast<unsigned char>(a ? (c * 255 + a / 2) / a : 0); };
            out[0] = straight((p >> 16) & 0xff);
            out[1] = straight((p >> 8) & 0xff);
            out[2] = straight(p & 0xff);
            out[3] = static_cast<unsigned char>(a);
        }
    }
    std::FILE* file = std::fopen(path, "wb");
    if (!file) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    const bool ok = info && encodeInto(png, info, file, width, height, rows);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0 && ok;
}

}  // namespace VSTGUI
