// Helpers shared by the toolkit tests: PNG data made on the spot, recording listeners.
#pragma once

#include "gui/vstgui.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <vector>

namespace guitest {

using namespace VSTGUI;

inline cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
    auto* out = static_cast<std::vector<unsigned char>*>(closure);
    out->insert(out->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

// A PNG of width x height: the top half `top`, the bottom half `bottom` (straight RGBA).
inline std::vector<unsigned char> makeTwoFramePng(int width, int height, CColor top, CColor bottom) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cr = cairo_create(s);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgba(cr, top.red / 255.0, top.green / 255.0, top.blue / 255.0, top.alpha / 255.0);
    cairo_rectangle(cr, 0, 0, width, height / 2);
    cairo_fill(cr);
    cairo_set_source_rgba(cr, bottom.red / 255.0, bottom.green / 255.0, bottom.blue / 255.0, bottom.alpha / 255.0);
    cairo_rectangle(cr, 0, height / 2, width, height - height / 2);
    cairo_fill(cr);
    cairo_destroy(cr);
    std::vector<unsigned char> png;
    cairo_surface_write_to_png_stream(s, appendBytes, &png);
    cairo_surface_destroy(s);
    return png;
}

inline std::vector<unsigned char> makeSolidPng(int width, int height, CColor c) {
    return makeTwoFramePng(width, height, c, c);
}

// Releases a reference-counted object at the end of a scope.
template <class T>
struct Owned {
    T* p;
    explicit Owned(T* object) : p(object) {}
    ~Owned() { if (p) p->forget(); }
    T* operator->() const { return p; }
    T* get() const { return p; }
};

struct RecordingListener : CControlListener {
    std::vector<CControl*> changed;
    std::vector<float> values;
    int begins = 0, ends = 0;
    void valueChanged(CControl* c) override {
        changed.push_back(c);
        values.push_back(c->getValue());
    }
    void controlBeginEdit(CControl*) override { ++begins; }
    void controlEndEdit(CControl*) override { ++ends; }
};

struct RecordingEditor : VSTGUIEditorInterface {
    std::vector<std::pair<char, int>> calls;  // 'b' or 'e' with the tag
    int knobMode = kLinearMode;
    void beginEdit(int tag) override { calls.push_back({'b', tag}); }
    void endEdit(int tag) override { calls.push_back({'e', tag}); }
    int getKnobMode() const override { return knobMode; }
};

inline void expectRGB(const CColor& actual, const CColor& expected, const char* where) {
    EXPECT_TRUE(actual.sameRGB(expected)) << where << ": got " << int(actual.red) << "," << int(actual.green) << ","
                                          << int(actual.blue) << " alpha " << int(actual.alpha);
}

}  // namespace guitest
