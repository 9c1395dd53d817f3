// The editor's pixels, from a real window and from `kovalith snapshot`, for
// tests that check an editor draws as the VST 2.4 plug-in's does.
#pragma once

// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cairo.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace xtest {

constexpr int kEditorWidth = 659, kEditorHeight = 479;
using Pixels = std::vector<uint32_t>;  // 0x00RRGGBB, row by row

// The window's pixels (true-colour visuals); empty when it cannot be read.
inline Pixels capturePixels(Display* display, Window window) {
    Pixels pixels;
    XImage* image = XGetImage(display, window, 0, 0, kEditorWidth, kEditorHeight, AllPlanes, ZPixmap);
    if (!image) return pixels;
    for (int y = 0; y < kEditorHeight; ++y)
        for (int x = 0; x < kEditorWidth; ++x)
            pixels.push_back(static_cast<uint32_t>(XGetPixel(image, x, y)) & 0xFFFFFFu);
    XDestroyImage(image);
    return pixels;
}

// A PNG of the editor's size (opaque, so premultiplying changed nothing); empty
// when it cannot be read or has another size.
inline Pixels readPng(const std::string& path) {
    Pixels pixels;
    cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
    if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS && cairo_image_surface_get_width(surface) == kEditorWidth &&
        cairo_image_surface_get_height(surface) == kEditorHeight) {
        for (int y = 0; y < kEditorHeight; ++y) {
            const auto* row = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(surface) +
                                                                 y * cairo_image_surface_get_stride(surface));
            for (int x = 0; x < kEditorWidth; ++x) pixels.push_back(row[x] & 0xFFFFFFu);
        }
    }
    cairo_surface_destroy(surface);
    return pixels;
}

inline void writePng(const Pixels& pixels, const std::string& path) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kEditorWidth, kEditorHeight);
    cairo_surface_flush(surface);
    for (int y = 0; y < kEditorHeight; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(surface) +
                                                y * cairo_image_surface_get_stride(surface));
        for (int x = 0; x < kEditorWidth; ++x) row[x] = pixels[static_cast<std::size_t>(y * kEditorWidth + x)];
    }
    cairo_surface_mark_dirty(surface);
    cairo_surface_write_to_png(surface, path.c_str());
    cairo_surface_destroy(surface);
}

// `kovalith snapshot PNG ARGUMENTS` run by HOST, written to PREFIX-snapshot.png.
// The sanitizer build checks the host for leaks at exit; fontconfig's caches
// are excused as in the test programs (tests/LeakSuppressions.cpp).
inline ::testing::AssertionResult runSnapshot(const std::string& host, const std::string& prefix,
                                              const std::string& arguments, std::string* png) {
    *png = prefix + "-snapshot.png";
    const std::string suppressions = prefix + "-lsan-suppressions.txt";
    std::ofstream(suppressions) << "leak:libfontconfig.so\n";
    const std::string command = "LSAN_OPTIONS=suppressions='" + suppressions + "' '" + host + "' snapshot '" + *png +
                                "' " + arguments + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return ::testing::AssertionFailure() << "failed: " << command;
    return ::testing::AssertionSuccess();
}

// How many pixels differ, and where the first one is.
inline std::string pixelDifference(const Pixels& seen, const Pixels& wanted) {
    if (seen.size() != wanted.size())
        return std::to_string(seen.size()) + " pixels, not " + std::to_string(wanted.size());
    int differing = 0;
    std::size_t first = 0;
    for (std::size_t i = 0; i < seen.size(); ++i)
        if (seen[i] != wanted[i] && differing++ == 0) first = i;
    if (differing == 0) return "";
    return std::to_string(differing) + " pixels differ, the first at (" + std::to_string(first % kEditorWidth) +
           ", " + std::to_string(first / kEditorWidth) + ")";
}

}  // namespace xtest
