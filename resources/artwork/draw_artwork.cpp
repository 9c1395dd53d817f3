// Draws the editor's artwork with cairo: the background panel and the four
// control bitmaps, written as PNG files into one directory.
//
//   kovalith_artwork [--check] [--preview FILE] [--mockup FILE] [OUTPUT_DIR]
//
// Every run first checks the layout: no printed text may touch a control, and
// every control must sit inside a panel with a margin. --check stops after
// that; --preview also writes the background with every control outlined.

#include <cairo.h>

#include "editor/EditorLayout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace kovalith::artwork {
namespace {

constexpr int kWidth = layout::kWindowWidth;
constexpr int kHeight = layout::kWindowHeight;
constexpr double kPi = 3.14159265358979323846;
const char* const kFont = "Arial";  // fontconfig maps it to Liberation Sans

struct Rect {
    double left, top, right, bottom;
    double width() const { return right - left; }
    double height() const { return bottom - top; }
    Rect inflated(double d) const { return {left - d, top - d, right + d, bottom + d}; }
    bool intersects(const Rect& o) const {
        return left < o.right && o.left < right && top < o.bottom && o.top < bottom;
    }
    bool contains(const Rect& o) const {
        return left <= o.left && top <= o.top && o.right <= right && o.bottom <= bottom;
    }
};

struct Colour {
    double r, g, b;
};
constexpr Colour rgb(int r, int g, int b) { return {r / 255.0, g / 255.0, b / 255.0}; }

// The editor's own colours, which the artwork has to sit well with.
const Colour kTeal = rgb(22, 112, 150);
const Colour kYellow = rgb(228, 189, 31);
const Colour kOrange = rgb(222, 118, 28);

const Colour kGroundTop = rgb(224, 216, 197);
const Colour kGroundBottom = rgb(210, 201, 180);
const Colour kPanelTop = rgb(170, 171, 168);
const Colour kPanelBottom = rgb(152, 153, 150);
const Colour kPanelEdge = rgb(118, 119, 116);
const Colour kInk = rgb(36, 40, 44);
const Colour kInkSoft = rgb(70, 72, 72);
const Colour kInkGround = rgb(96, 88, 72);

// ---------------------------------------------------------------------------
// The editor's control layout (window coordinates), from the editor's own table.

struct Control {
    Rect rect;
    const char* kind;
};

Rect rectOf(const layout::Box& b) { return {double(b.left), double(b.top), double(b.right), double(b.bottom)}; }

// The rectangle of a menu's or a button's control.
Rect menuBox(int param) { return rectOf(layout::controlBoxOf(param)); }

std::vector<Control> allControls() {
    std::vector<Control> controls;
    for (const layout::KnobAnchor& k : layout::kKnobAnchors) {
        controls.push_back({rectOf(layout::captionBox(k.x, k.y)), "caption"});
        controls.push_back({rectOf(layout::knobBox(k.x, k.y)), "knob"});
        controls.push_back({rectOf(layout::readoutBox(k.x, k.y)), "read-out"});
    }
    for (const layout::ControlBox& m : layout::kMenuBoxes) controls.push_back({rectOf(m.box), "menu"});
    for (const layout::ControlBox& b : layout::kButtonBoxes) controls.push_back({rectOf(b.box), "button"});
    controls.push_back({rectOf(layout::kFilterDisplayBox), "filter display"});
    return controls;
}

// ---------------------------------------------------------------------------
// The panels of the background.

struct Panel {
    Rect rect;
    const char* title;  // printed at the bottom left; null for none
};

constexpr double kUpperTop = 25, kUpperBottom = 248;
const Panel kPanels[] = {
    {{10, kUpperTop, 283, kUpperBottom}, "analysis"},
    {{290, kUpperTop, 423, kUpperBottom}, "resynthesis"},
    {{430, kUpperTop, 564, kUpperBottom}, "delay"},
    {{570, kUpperTop, 648, kUpperBottom}, "output"},
    {{10, 254, 648, 474}, "modulation"},
    {{276, 1, 416, 22}, nullptr},  // compressor: its caption names it
};
constexpr double kControlMargin = 4;  // least room between a control and its panel's edge
constexpr double kTextClearance = 2;  // least room between printed text and a control

// ---------------------------------------------------------------------------
// Drawing helpers.

void setColour(cairo_t* cr, const Colour& c, double alpha = 1.0) {
    cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha);
}

void roundedRect(cairo_t* cr, const Rect& r, double radius) {
    const double rad = std::min(radius, std::min(r.width(), r.height()) / 2);
    cairo_new_sub_path(cr);
    cairo_arc(cr, r.right - rad, r.top + rad, rad, -kPi / 2, 0);
    cairo_arc(cr, r.right - rad, r.bottom - rad, rad, 0, kPi / 2);
    cairo_arc(cr, r.left + rad, r.bottom - rad, rad, kPi / 2, kPi);
    cairo_arc(cr, r.left + rad, r.top + rad, rad, kPi, 3 * kPi / 2);
    cairo_close_path(cr);
}

void fillVertical(cairo_t* cr, const Rect& r, const Colour& top, const Colour& bottom) {
    cairo_pattern_t* p = cairo_pattern_create_linear(0, r.top, 0, r.bottom);
    cairo_pattern_add_color_stop_rgb(p, 0, top.r, top.g, top.b);
    cairo_pattern_add_color_stop_rgb(p, 1, bottom.r, bottom.g, bottom.b);
    cairo_set_source(cr, p);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
}

// A soft drop shadow: a few widening, faint layers, slightly below the panel.
void panelShadow(cairo_t* cr, const Rect& r, double radius) {
    for (int i = 4; i >= 1; --i) {
        Rect s = r.inflated(i * 0.9);
        s.top += 1.5;
        s.bottom += 1.5;
        roundedRect(cr, s, radius + i);
        cairo_set_source_rgba(cr, 0.18, 0.14, 0.08, 0.045);
        cairo_fill(cr);
    }
}

void drawPanel(cairo_t* cr, const Rect& r, double radius) {
    panelShadow(cr, r, radius);
    roundedRect(cr, r, radius);
    fillVertical(cr, r, kPanelTop, kPanelBottom);
    // An inner light edge along the top and a darker rim give the panel some depth.
    roundedRect(cr, {r.left + 1.5, r.top + 1.5, r.right - 1.5, r.bottom - 1.5}, radius - 1);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.16);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    roundedRect(cr, {r.left + 0.5, r.top + 0.5, r.right - 0.5, r.bottom - 0.5}, radius);
    setColour(cr, kPanelEdge);
    cairo_stroke(cr);
}

// An engraved rule: a dark line with a light one beside it.
void engravedLine(cairo_t* cr, double x0, double y0, double x1, double y1) {
    const bool vertical = x0 == x1;
    cairo_set_line_width(cr, 1);
    cairo_move_to(cr, x0 + 0.5, y0 + 0.5);
    cairo_line_to(cr, x1 + 0.5, y1 + 0.5);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.20);
    cairo_stroke(cr);
    cairo_move_to(cr, x0 + (vertical ? 1.5 : 0.5), y0 + (vertical ? 0.5 : 1.5));
    cairo_line_to(cr, x1 + (vertical ? 1.5 : 0.5), y1 + (vertical ? 0.5 : 1.5));
    cairo_set_source_rgba(cr, 1, 1, 1, 0.22);
    cairo_stroke(cr);
}

// ---------------------------------------------------------------------------
// Text. Every printed string is recorded so that the layout check can see it.

struct TextStyle {
    double size;
    bool bold;
    Colour colour;
    double tracking;  // extra room between letters, pixels
};

const TextStyle kTitleStyle = {16, true, kInk, 0};
const TextStyle kDomainStyle = {10, false, kInkGround, 0};
const TextStyle kSectionStyle = {11, true, kInk, 0.4};
const TextStyle kRowStyle = {11, true, kInk, 0};
const TextStyle kLabelStyle = {10, false, kInkSoft, 0};

enum class Align { left, right };

class TextWriter {
public:
    explicit TextWriter(cairo_t* cr) : cr_(cr) {}

    double width(const char* text, const TextStyle& style) {
        select(style);
        if (style.tracking == 0) {
            cairo_text_extents_t e;
            cairo_text_extents(cr_, text, &e);
            return e.x_advance;
        }
        double w = 0;
        for (const char* c = text; *c; ++c) {
            char glyph[2] = {*c, 0};
            cairo_text_extents_t e;
            cairo_text_extents(cr_, glyph, &e);
            w += e.x_advance + (c[1] ? style.tracking : 0);
        }
        return w;
    }

    // Draws text on a whole-pixel baseline and returns the box its ink covers.
    Rect draw(const char* text, const TextStyle& style, double x, double baseline,
              Align align = Align::left) {
        const double w = width(text, style);
        double pen = std::round(align == Align::left ? x : x - w);
        baseline = std::round(baseline);
        select(style);
        cairo_font_extents_t fe;
        cairo_font_extents(cr_, &fe);
        const Rect box = {pen, baseline - fe.ascent * 0.78, pen + w, baseline + fe.descent * 0.9};
        setColour(cr_, style.colour);
        if (style.tracking == 0) {  // whole strings keep the font's kerning
            cairo_move_to(cr_, pen, baseline);
            cairo_show_text(cr_, text);
        }
        for (const char* c = text; style.tracking != 0 && *c; ++c) {
            char glyph[2] = {*c, 0};
            cairo_move_to(cr_, pen, baseline);
            cairo_show_text(cr_, glyph);
            cairo_text_extents_t e;
            cairo_text_extents(cr_, glyph, &e);
            pen += e.x_advance + style.tracking;
        }
        boxes_.push_back({box, text});
        return box;
    }

    // Centres a single line of text vertically on a control's rectangle.
    Rect drawBeside(const char* text, const TextStyle& style, const Rect& control, double gap) {
        select(style);
        cairo_text_extents_t e;
        cairo_text_extents(cr_, "x", &e);  // x-height: centre the lower-case body
        const double baseline = (control.top + control.bottom) / 2 + e.height / 2;
        return draw(text, style, control.left - gap, baseline, Align::right);
    }

    struct Printed {
        Rect box;
        std::string text;
    };
    const std::vector<Printed>& printed() const { return boxes_; }

private:
    void select(const TextStyle& style) {
        cairo_select_font_face(cr_, kFont, CAIRO_FONT_SLANT_NORMAL,
                               style.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr_, style.size);
    }

    cairo_t* cr_;
    std::vector<Printed> boxes_;
};

void setTextOptions(cairo_t* cr) {
    cairo_font_options_t* fo = cairo_font_options_create();
    cairo_font_options_set_antialias(fo, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(fo, CAIRO_HINT_STYLE_SLIGHT);
    cairo_font_options_set_hint_metrics(fo, CAIRO_HINT_METRICS_ON);
    cairo_set_font_options(cr, fo);
    cairo_font_options_destroy(fo);
}

// ---------------------------------------------------------------------------
// The background.

// Two faint dots mark where each knob's sweep starts and ends (lower left and
// lower right, 135 degrees either side of the top).
void knobScaleMarks(cairo_t* cr, double x, double y) {
    const double cx = x + 15, cy = y + 29, radius = 16.5;
    for (double angle : {3 * kPi / 4, kPi / 4}) {
        cairo_arc(cr, cx + radius * std::cos(angle), cy + radius * std::sin(angle), 1.2, 0, 2 * kPi);
        cairo_set_source_rgba(cr, 0.12, 0.13, 0.14, 0.55);
        cairo_fill(cr);
    }
}

// A shallow recess around the filter display, so it reads as a screen.
void displayWell(cairo_t* cr, const Rect& r) {
    roundedRect(cr, r.inflated(2), 3);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.25);
    cairo_fill(cr);
    cairo_set_line_width(cr, 1);
    roundedRect(cr, {r.left - 2.5, r.top - 2.5, r.right + 2.5, r.bottom + 2.5}, 3.5);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.25);
    cairo_stroke(cr);
}

// The product mark: a miniature of the knob, teal in a yellow ring.
void productMark(cairo_t* cr, double cx, double cy) {
    cairo_arc(cr, cx, cy, 6.5, 0, 2 * kPi);
    setColour(cr, kOrange);
    cairo_fill(cr);
    cairo_arc(cr, cx, cy, 5.3, 0, 2 * kPi);
    setColour(cr, kYellow);
    cairo_fill(cr);
    cairo_arc(cr, cx, cy, 4.1, 0, 2 * kPi);
    setColour(cr, kTeal);
    cairo_fill(cr);
    cairo_arc(cr, cx - 1.6, cy - 1.6, 1.1, 0, 2 * kPi);
    setColour(cr, kYellow);
    cairo_fill(cr);
}

void drawGround(cairo_t* cr) {
    cairo_rectangle(cr, 0, 0, kWidth, kHeight);
    fillVertical(cr, {0, 0, kWidth, kHeight}, kGroundTop, kGroundBottom);
}

void drawTitleLine(cairo_t* cr, TextWriter& text) {
    productMark(cr, 18.5, 12.5);
    const Rect name = text.draw("Kovalith", kTitleStyle, 30, 18);
    text.draw("kovalith.audio", kDomainStyle, name.right + 9, 18);
}

void drawSectionTitles(TextWriter& text) {
    for (const Panel& p : kPanels)
        if (p.title) text.draw(p.title, kSectionStyle, p.rect.left + 9, p.rect.bottom - 5);
}

// The analysis panel holds two groups: the block analysis on the left, the
// filter and its lo-fi stages on the right.
void drawAnalysisRule(cairo_t* cr) {
    const Rect& a = kPanels[0].rect;
    engravedLine(cr, 146, a.top + 8, 146, a.bottom - 24);
}

void drawModulationRules(cairo_t* cr) {
    const Rect& m = kPanels[4].rect;
    // Sources on the left, the seven destinations on the right, one row per source.
    engravedLine(cr, 228, m.top + 8, 228, m.bottom - 8);
    for (double y : {323.0, 393.0}) engravedLine(cr, m.left + 8, y, m.right - 9, y);
}

void drawPrintedCaptions(TextWriter& text) {
    text.drawBeside("compressor", kLabelStyle, menuBox(kCompressorType), 6);
    text.drawBeside("stereo", kLabelStyle, menuBox(kDelayStereoMult), 6);
    text.drawBeside("sync", kLabelStyle, menuBox(kDelaySync), 6);
    text.drawBeside("path", kLabelStyle, menuBox(kPingPong), 6);

    const char* const rowNames[] = {"LFO 1", "LFO 2", "Env."};
    const int rowY[] = {layout::kLfo1RowY, layout::kLfo2RowY, layout::kEnvRowY};
    for (int row = 0; row < 3; ++row) text.draw(rowNames[row], kRowStyle, 19, rowY[row] + 10);
    const int lfoMenus[2][2] = {{kLfo1Shape, kLfo1Sync}, {kLfo2Shape, kLfo2Sync}};
    for (const auto& menus : lfoMenus) {
        text.drawBeside("shape", kLabelStyle, menuBox(menus[0]), 6);
        text.drawBeside("sync", kLabelStyle, menuBox(menus[1]), 6);
    }
}

std::vector<TextWriter::Printed> drawBackground(cairo_t* cr) {
    setTextOptions(cr);
    TextWriter text(cr);
    drawGround(cr);
    drawTitleLine(cr, text);
    drawPanel(cr, kPanels[5].rect, 5);
    for (int i = 0; i < 5; ++i) drawPanel(cr, kPanels[i].rect, 7);
    drawAnalysisRule(cr);
    drawModulationRules(cr);
    displayWell(cr, rectOf(layout::kFilterDisplayBox));
    for (const layout::KnobAnchor& k : layout::kKnobAnchors) knobScaleMarks(cr, k.x, k.y);
    drawSectionTitles(text);
    drawPrintedCaptions(text);
    return text.printed();
}

// ---------------------------------------------------------------------------
// The control bitmaps.

void clear(cairo_t* cr) {
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr);
    cairo_restore(cr);
}

void drawKnobBody(cairo_t* cr) {
    clear(cr);
    const double c = 15;
    cairo_pattern_t* ring = cairo_pattern_create_linear(0, 0, 0, 30);
    cairo_pattern_add_color_stop_rgb(ring, 0, 0.93, 0.55, 0.16);
    cairo_pattern_add_color_stop_rgb(ring, 1, 0.74, 0.36, 0.08);
    cairo_arc(cr, c, c, 14.6, 0, 2 * kPi);
    cairo_set_source(cr, ring);
    cairo_fill(cr);
    cairo_pattern_destroy(ring);

    cairo_arc(cr, c, c, 13.1, 0, 2 * kPi);
    setColour(cr, kYellow);
    cairo_fill(cr);

    // The teal face, lit from the upper left.
    cairo_pattern_t* face = cairo_pattern_create_radial(c - 3.5, c - 4, 1, c, c, 11.4);
    cairo_pattern_add_color_stop_rgb(face, 0, 0.16, 0.56, 0.71);
    cairo_pattern_add_color_stop_rgb(face, 1, 0.07, 0.37, 0.50);
    cairo_arc(cr, c, c, 11.2, 0, 2 * kPi);
    cairo_set_source(cr, face);
    cairo_fill(cr);
    cairo_pattern_destroy(face);

    // A fine dark line between the face and the yellow ring.
    cairo_arc(cr, c, c, 11.3, 0, 2 * kPi);
    cairo_set_line_width(cr, 0.6);
    cairo_set_source_rgba(cr, 0.05, 0.20, 0.28, 0.7);
    cairo_stroke(cr);
}

void drawKnobHandle(cairo_t* cr) {
    clear(cr);
    cairo_arc(cr, 4, 4, 3.3, 0, 2 * kPi);
    cairo_set_source_rgba(cr, 0.04, 0.16, 0.22, 0.85);
    cairo_fill(cr);
    cairo_arc(cr, 4, 4, 2.5, 0, 2 * kPi);
    cairo_pattern_t* dot = cairo_pattern_create_radial(3.3, 3.2, 0.3, 4, 4, 2.6);
    cairo_pattern_add_color_stop_rgb(dot, 0, 1.0, 0.93, 0.60);
    cairo_pattern_add_color_stop_rgb(dot, 1, kYellow.r, kYellow.g, kYellow.b);
    cairo_set_source(cr, dot);
    cairo_fill(cr);
    cairo_pattern_destroy(dot);
}

// The face of a two-state button: the editor's teal with a thin dark rim.
void buttonFace(cairo_t* cr, const Rect& r, bool on) {
    roundedRect(cr, {r.left + 0.5, r.top + 0.5, r.right - 0.5, r.bottom - 0.5}, 3);
    cairo_pattern_t* p = cairo_pattern_create_linear(0, r.top, 0, r.bottom);
    const double lift = on ? 0.05 : 0.0;
    cairo_pattern_add_color_stop_rgb(p, 0, 0.13 + lift, 0.50 + lift, 0.65 + lift);
    cairo_pattern_add_color_stop_rgb(p, 1, kTeal.r, kTeal.g, kTeal.b);
    cairo_set_source(cr, p);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(p);
    cairo_set_line_width(cr, 1);
    cairo_set_source_rgba(cr, 0.03, 0.18, 0.25, 0.9);
    cairo_stroke(cr);
}

void bar(cairo_t* cr, double x0, double y0, double x1, double y1) {
    cairo_rectangle(cr, x0, y0, x1 - x0, y1 - y0);
    setColour(cr, kYellow);
    cairo_fill(cr);
}

void drawStereoButton(cairo_t* cr) {
    clear(cr);
    // Off: "=", both channels in phase.
    buttonFace(cr, {0, 0, 22, 14}, false);
    bar(cr, 7, 4, 15, 6);
    bar(cr, 7, 8, 15, 10);
    // On: "+" and "-", the channels in opposite phase.
    buttonFace(cr, {0, 14, 22, 28}, true);
    bar(cr, 2, 20, 10, 22);
    bar(cr, 5, 17, 7, 25);
    bar(cr, 12, 20, 20, 22);
}

void arrow(cairo_t* cr, double x0, double y0, double x1, double y1) {
    const double angle = std::atan2(y1 - y0, x1 - x0), head = 5.0, spread = 0.5;
    const double shaftEnd = 3.5;
    cairo_set_line_width(cr, 2);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    cairo_move_to(cr, x0, y0);
    cairo_line_to(cr, x1 - shaftEnd * std::cos(angle), y1 - shaftEnd * std::sin(angle));
    setColour(cr, kYellow);
    cairo_stroke(cr);
    cairo_move_to(cr, x1, y1);
    cairo_line_to(cr, x1 - head * std::cos(angle - spread), y1 - head * std::sin(angle - spread));
    cairo_line_to(cr, x1 - head * std::cos(angle + spread), y1 - head * std::sin(angle + spread));
    cairo_close_path(cr);
    cairo_fill(cr);
}

void drawPathButton(cairo_t* cr) {
    clear(cr);
    // Off: two parallel arrows, each channel feeds back into itself.
    buttonFace(cr, {0, 0, 50, 17}, false);
    arrow(cr, 14, 5, 36, 5);
    arrow(cr, 14, 12, 36, 12);
    // On: two crossing arrows, left feeds right and right feeds left.
    buttonFace(cr, {0, 17, 50, 34}, true);
    arrow(cr, 14, 21.5, 36, 29.5);
    arrow(cr, 14, 29.5, 36, 21.5);
}

// ---------------------------------------------------------------------------
// Layout check and preview.

bool checkLayout(const std::vector<TextWriter::Printed>& printed) {
    const std::vector<Control> controls = allControls();
    const Rect window = {0, 0, kWidth, kHeight};
    bool ok = true;
    auto fail = [&ok](const std::string& what, const Rect& r) {
        std::fprintf(stderr, "layout: %s at (%g, %g, %g, %g)\n", what.c_str(), r.left, r.top,
                     r.right, r.bottom);
        ok = false;
    };
    for (const Control& c : controls) {
        int holders = 0;
        for (const Panel& p : kPanels) holders += p.rect.inflated(-kControlMargin).contains(c.rect);
        if (holders != 1) fail(std::string(c.kind) + " not inside exactly one panel", c.rect);
        for (const auto& t : printed)
            if (t.box.inflated(kTextClearance).intersects(c.rect))
                fail("text \"" + t.text + "\" touches a " + c.kind, t.box);
    }
    for (const auto& t : printed) {
        if (!window.inflated(-2).contains(t.box)) fail("text \"" + t.text + "\" leaves the window", t.box);
        for (const auto& u : printed)
            if (&t < &u && t.box.intersects(u.box)) fail("texts \"" + t.text + "\" and \"" + u.text + "\" overlap", t.box);
    }
    for (const Panel& p : kPanels) {
        if (!window.contains(p.rect)) fail("panel leaves the window", p.rect);
        for (const Panel& q : kPanels)
            if (&p < &q && p.rect.intersects(q.rect)) fail("panels overlap", p.rect);
    }
    return ok;
}

void outline(cairo_t* cr, const Rect& r, double red, double green, double blue) {
    cairo_rectangle(cr, r.left + 0.5, r.top + 0.5, r.width() - 1, r.height() - 1);
    cairo_set_source_rgba(cr, red, green, blue, 0.9);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
}

// The background with every control outlined (red) and every printed text's
// box (blue), for checking the layout by eye.
void drawPreviewOverlay(cairo_t* cr, const std::vector<TextWriter::Printed>& printed) {
    for (const Control& c : allControls()) outline(cr, c.rect, 0.85, 0.1, 0.1);
    for (const auto& t : printed) outline(cr, t.box, 0.1, 0.2, 0.9);
}

// ---------------------------------------------------------------------------

using DrawFunction = void (*)(cairo_t*);

struct Bitmap {
    const char* file;
    int width, height;
    DrawFunction draw;
};

const Bitmap kBitmaps[] = {
    {"Kovalith_KnobBody.png", 30, 30, drawKnobBody},
    {"Kovalith_KnobHandle.png", 8, 8, drawKnobHandle},
    {"Kovalith_StereoButton.png", 22, 28, drawStereoButton},
    {"Kovalith_PathButton.png", 50, 34, drawPathButton},
};

bool writePng(cairo_surface_t* surface, const std::string& path) {
    const cairo_status_t status = cairo_surface_write_to_png(surface, path.c_str());
    if (status != CAIRO_STATUS_SUCCESS) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), cairo_status_to_string(status));
        return false;
    }
    return true;
}

// The scales the editor has drawings for besides 1: it draws these pixel for pixel and
// resamples the nearest one above for the scales between.
const int kExtraScales[] = {2, 3};

// "Kovalith_KnobBody.png" at scale 2 is "Kovalith_KnobBody_2x.png".
std::string scaledName(const std::string& file, int scale) {
    if (scale == 1) return file;
    return file.substr(0, file.size() - 4) + "_" + std::to_string(scale) + "x.png";
}

cairo_surface_t* renderBitmap(const Bitmap& b, int scale = 1) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, b.width * scale, b.height * scale);
    cairo_t* cr = cairo_create(s);
    cairo_scale(cr, scale, scale);
    b.draw(cr);
    cairo_destroy(cr);
    return s;
}

bool writeBitmap(const Bitmap& b, const std::string& dir, int scale) {
    cairo_surface_t* s = renderBitmap(b, scale);
    const bool ok = writePng(s, dir + "/" + scaledName(b.file, scale));
    cairo_surface_destroy(s);
    return ok;
}

void paintAt(cairo_t* cr, cairo_surface_t* s, double x, double y, double srcY, double w, double h) {
    cairo_save(cr);
    cairo_rectangle(cr, x, y, w, h);
    cairo_clip(cr);
    cairo_set_source_surface(cr, s, x, y - srcY);
    cairo_paint(cr);
    cairo_restore(cr);
}

void editorBox(cairo_t* cr, const Rect& r, const char* text) {
    cairo_rectangle(cr, r.left, r.top, r.width(), r.height());
    setColour(cr, kTeal);
    cairo_fill(cr);
    cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 11);
    cairo_text_extents_t e;
    cairo_text_extents(cr, text, &e);
    cairo_move_to(cr, std::round((r.left + r.right - e.x_advance) / 2), r.bottom - 2);
    setColour(cr, kYellow);
    cairo_show_text(cr, text);
}

// A rough picture of the open editor at twice the size: the background with
// the control bitmaps, and the editor's teal boxes where its texts will go.
bool writeMockup(cairo_surface_t* background, const std::string& path) {
    cairo_surface_t* out = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 2 * kWidth, 2 * kHeight);
    cairo_t* cr = cairo_create(out);
    setTextOptions(cr);
    cairo_scale(cr, 2, 2);
    cairo_set_source_surface(cr, background, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    cairo_surface_t* body = renderBitmap(kBitmaps[0]);
    cairo_surface_t* handle = renderBitmap(kBitmaps[1]);
    cairo_surface_t* stereo = renderBitmap(kBitmaps[2]);
    cairo_surface_t* path2 = renderBitmap(kBitmaps[3]);
    int n = 0;
    for (const Control& c : allControls()) {
        const std::string kind = c.kind;
        if (kind == "knob") {
            paintAt(cr, body, c.rect.left, c.rect.top, 0, 30, 30);
            const double a = 5 * kPi / 4 - 1.5 * kPi * ((n++ % 5) / 4.0);
            paintAt(cr, handle, c.rect.left + 11 + 7 * std::cos(a), c.rect.top + 11 - 7 * std::sin(a), 0, 8, 8);
        } else if (kind == "caption") {
            editorBox(cr, c.rect, "Caption");
        } else if (kind == "read-out" || kind == "menu") {
            editorBox(cr, c.rect, "0.50");
        } else if (kind == "button") {
            const bool ping = c.rect.width() > 30;
            paintAt(cr, ping ? path2 : stereo, c.rect.left, c.rect.top, (n++ % 2) * c.rect.height(),
                    c.rect.width(), c.rect.height());
        } else {
            cairo_rectangle(cr, c.rect.left, c.rect.top, c.rect.width(), c.rect.height());
            setColour(cr, kTeal);
            cairo_fill(cr);
        }
    }
    for (cairo_surface_t* s : {body, handle, stereo, path2}) cairo_surface_destroy(s);
    cairo_destroy(cr);
    const bool ok = writePng(out, path);
    cairo_surface_destroy(out);
    return ok;
}

struct Options {
    bool checkOnly = false;
    std::string preview;
    std::string mockup;
    std::string outputDir = ".";
};

bool parseArguments(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--check") == 0) {
            options.checkOnly = true;
        } else if (std::strcmp(argv[i], "--preview") == 0 && i + 1 < argc) {
            options.preview = argv[++i];
        } else if (std::strcmp(argv[i], "--mockup") == 0 && i + 1 < argc) {
            options.mockup = argv[++i];
        } else if (argv[i][0] == '-') {
            return false;
        } else {
            options.outputDir = argv[i];
        }
    }
    return true;
}

// The background drawn again at `scale` times the size, every line and letter at that resolution.
bool writeScaledBackground(const std::string& path, int scale) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth * scale, kHeight * scale);
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, scale, scale);
    drawBackground(cr);
    cairo_destroy(cr);
    const bool ok = writePng(surface, path);
    cairo_surface_destroy(surface);
    return ok;
}

int run(const Options& options) {
    // The background is RGB: cairo writes an RGB24 surface as a PNG without alpha.
    cairo_surface_t* background = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight);
    cairo_t* cr = cairo_create(background);
    const std::vector<TextWriter::Printed> printed = drawBackground(cr);
    bool ok = checkLayout(printed);
    if (ok && !options.checkOnly) {
        ok = writePng(background, options.outputDir + "/Kovalith_Background.png");
        for (const Bitmap& b : kBitmaps) ok = writeBitmap(b, options.outputDir, 1) && ok;
        for (int scale : kExtraScales) {
            ok = writeScaledBackground(options.outputDir + "/" + scaledName("Kovalith_Background.png", scale), scale) &&
                 ok;
            for (const Bitmap& b : kBitmaps) ok = writeBitmap(b, options.outputDir, scale) && ok;
        }
    }
    if (!options.mockup.empty()) ok = writeMockup(background, options.mockup) && ok;
    if (!options.preview.empty()) {
        drawPreviewOverlay(cr, printed);
        ok = writePng(background, options.preview) && ok;
    }
    cairo_destroy(cr);
    cairo_surface_destroy(background);
    return ok ? 0 : 1;
}

}  // namespace
}  // namespace kovalith::artwork

int main(int argc, char** argv) {
    kovalith::artwork::Options options;
    if (!kovalith::artwork::parseArguments(argc, argv, options)) {
        std::fprintf(stderr, "usage: %s [--check] [--preview FILE] [--mockup FILE] [OUTPUT_DIR]\n", argv[0]);
        return 2;
    }
    const int status = kovalith::artwork::run(options);
    cairo_debug_reset_static_data();  // leaves nothing behind for leak checkers
    return status;
}
