#include "editor/CBiquadControl.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "effect/Parameters.h"
#include "engine/ControlMath.h"
#include "gui/CFrame.h"

namespace kovalith {

using namespace VSTGUI;

namespace {

constexpr double kPi = 3.14159265358979323846;
static_assert(CBiquadControl::kNumFilterTypes == kNumFilterTypes, "one name per type");

// Not drawn, opening at the control's top, with a check mark on the current type.
constexpr int kTypeMenuStyle = kNoDrawStyle | kPopupStyle | kCheckStyle;  // 5632
constexpr int kControlStyle = kNoDrawStyle | kPopupStyle;                  // 4608

// The response axis spans 70 dB: 0 stands for +30 dB, 1 for -40 dB.
constexpr float kTopDecibels = 30.0f;
constexpr float kRangeDecibels = 70.0f;

// A coordinate on the curve. A notch gives an infinite attenuation, so limit the
// value well outside the control (the drawing is clipped to it) before converting.
double curveCoordinate(double value, double extent) {
    const double limit = 4.0 * std::max(extent, 1.0);
    if (std::isnan(value)) return 0;
    return std::trunc(std::min(std::max(value, -limit), limit));
}

}  // namespace

const double CBiquadControl::logMin = static_cast<double>(std::log(100.0f / 44100.0f));

CBiquadControl::CBiquadControl(const CRect& size, CControlListener* listener, int cutoffTag, int learnTag, int typeTag,
                               CFrame*, const CColor& backColour, const CColor& frameColour,
                               const CColor& lineColour, int style)
    : COptionMenu(size, listener, learnTag, nullptr, nullptr, kControlStyle),
      typeTag_(typeTag),
      learnTag_(learnTag),
      cutoffTag_(cutoffTag),
      backColour_(backColour),
      frameColour_(frameColour),
      lineColour_(lineColour),
      storedStyle_(style),
      width_(size.width()),
      height_(size.height()) {
    typeMenu_ = new COptionMenu(size, listener, typeTag, nullptr, nullptr, kTypeMenuStyle);
    typeMenu_->setFont("Arial", 11);
    typeMenu_->setFontColor(lineColour_);
    typeMenu_->setBackColor(backColour_);
    typeMenu_->setFrameColor(frameColour_);
    for (const char* name : kFilterTypeNames) typeMenu_->addEntry(name);

    addEntry(typeMenu_, "Filter Type");
    addEntry("-");
    addEntry("Learn Midi (Cutoff)");
    addEntry("Learn Midi (Q)");
    addEntry("Forget Midi (All)");
    setCurrent(kEntryFilterType);
    typeMenu_->forget();  // this menu holds the sub-menu's reference now

    // A sample rate of 2 makes a frequency argument a fraction of the Nyquist frequency.
    filter_.setSampleRate(2.0);

    backgroundBuffer_ = std::make_unique<COffscreenContext>(width_, height_);
    backgroundBuffer_->setFillColor(backColour_);
    backgroundBuffer_->fillRect(CRect(0, 0, width_, height_));
}

CBiquadControl::~CBiquadControl() = default;

void CBiquadControl::setLabelText(const char* text) {
    std::snprintf(labelText_, sizeof labelText_, "%s", text ? text : "");
    setDirty();
}

void CBiquadControl::getFilter(float* cutoff, float* q, int* type) {
    if (cutoff) *cutoff = cutoff_;
    if (q) *q = q_;
    if (type) *type = type_;
}

void CBiquadControl::setFilter(float cutoff, float q, int type) {
    cutoff_ = cutoff;
    q_ = q;
    type_ = type;
    typeMenu_->setCurrent(std::min(type, kNumFilterTypes - 1));
    setDirty();
}

void CBiquadControl::drawBackground() {
    backgroundBuffer_->setFillColor(backColour_);
    backgroundBuffer_->fillRect(CRect(0, 0, width_, height_));
    backgroundBuffer_->setFrameColor(frameColour_);
    backgroundBuffer_->drawRect(CRect(0, 0, width_ - 1, height_ - 1));
}

void CBiquadControl::computeResponse() {
    // The engine's own mapping of "Resonance" to Q or gain, so the curve is the filter it makes.
    BiquadParams params;
    feedbackFilterShape(type_, clampTo(q_, 0.0f, 1.0f), params);
    params.frequency = cutoff_;
    // A refused setting keeps the previous coefficients, so the curve stays as it was.
    filter_.setFilter(type_, params);
    double a[3], b[3];
    filter_.getCoefficients(a, b);

    // |H|^2 of a biquad at w, expanded so that each point costs two cosines.
    const double sa = a[0] * a[0] + a[1] * a[1] + a[2] * a[2];
    const double pa = a[0] * a[1] + a[1] * a[2];
    const double ra = a[0] * a[2];
    const double sb = b[0] * b[0] + b[1] * b[1] + b[2] * b[2];
    const double pb = b[0] * b[1] + b[1] * b[2];
    const double rb = b[0] * b[2];

    // Logarithmic axis from about 50 Hz to the Nyquist frequency of 44.1 kHz.
    float x = 40.0f / 44100.0f;
    const float step = 0.003902707f;
    for (int i = 0; i < kResponsePoints; ++i) {
        const float exponent = static_cast<float>(static_cast<float>(x * (logMax - logMin)) + logMin);
        const float f = static_cast<float>(std::exp(exponent));
        const float w = static_cast<float>(f * kPi);
        const double c1 = 2.0 * std::cos(static_cast<double>(w));
        const double c2 = 2.0 * std::cos(2.0 * static_cast<double>(w));
        const double ratio = (c1 * pa + sa + ra * c2) / (c1 * pb + sb + rb * c2);
        // a is the denominator: this is the attenuation in dB.
        response_[i] = static_cast<float>(20.0 * std::log10(std::sqrt(ratio)));
        x += step;
    }
    for (float& r : response_) r = (r + kTopDecibels) / kRangeDecibels;
    if (!(std::fabs(response_[0]) < 10.0f)) response_[0] = response_[1];
}

// The curve's points fall on whole device pixels: whole window pixels at scale 1, and
// as many steps finer as the context's scale allows above it.
void CBiquadControl::drawCurve(CDrawContext& context, double dy, double dx) {
    const double scale = context.getScale();
    const double deviceWidth = width_ * scale, deviceHeight = height_ * scale;
    auto x = [&](int i) { return curveCoordinate((i / 256.0 * width_ + dx) * scale, deviceWidth) / scale; };
    auto y = [&](int i) {
        return curveCoordinate((height_ * static_cast<double>(response_[i]) + dy) * scale, deviceHeight) / scale;
    };
    CFinePoint points[kResponsePoints];
    points[0] = CFinePoint{0.0, y(0)};
    for (int i = 1; i < kResponsePoints; ++i) points[i] = CFinePoint{x(i), y(i)};
    context.polyline(points, kResponsePoints);
}

void CBiquadControl::draw(CDrawContext* context) {
    computeResponse();
    // The buffers draw at the target's scale, so the copy below is pixel for pixel.
    const double scale = context->getScale();
    if (backgroundBuffer_->getScale() != scale) {
        backgroundBuffer_ = std::make_unique<COffscreenContext>(width_, height_, scale);
        backgroundBuffer_->setFillColor(backColour_);
        backgroundBuffer_->fillRect(CRect(0, 0, width_, height_));
    }
    if (!drawBuffer_ || drawBuffer_->getScale() != scale)
        drawBuffer_ = std::make_unique<COffscreenContext>(width_, height_, scale);
    COffscreenContext& buffer = *drawBuffer_;
    buffer.copyFrom(*backgroundBuffer_, CRect(0, 0, width_, height_));

    // A soft shadow: the curve shifted by half a pixel each way, in the colour
    // halfway between the background and the line.
    const CColor shadow{static_cast<uint8_t>((backColour_.red + lineColour_.red) / 2),
                        static_cast<uint8_t>((backColour_.green + lineColour_.green) / 2),
                        static_cast<uint8_t>((backColour_.blue + lineColour_.blue) / 2), backColour_.alpha};
    buffer.setFrameColor(shadow);
    buffer.setFillColor(shadow);
    drawCurve(buffer, +0.5, 0.0);
    drawCurve(buffer, -0.5, 0.0);
    drawCurve(buffer, 0.0, +0.5);
    drawCurve(buffer, 0.0, -0.5);
    buffer.setFrameColor(lineColour_);
    buffer.setFillColor(lineColour_);
    drawCurve(buffer, 0.0, 0.0);

    buffer.setFont("Arial", 11);
    buffer.setFontColor(lineColour_);
    typeMenu_->getEntry(type_, labelText_);  // an unknown type keeps the last name
    buffer.drawString(labelText_, CRect(5, 0, width_, 20), kLeftText);
    char text[32];
    formatCutoff(cutoff_, text, sizeof text);
    buffer.drawString(text, CRect(5, height_ - 10, width_, height_), kLeftText, false);

    buffer.copyTo(*context, size_);
    setDirty(false);
}

void CBiquadControl::formatCutoff(float cutoff, char* text, std::size_t size) {
    // NaN compares false both ways and would pass a plain min/max: show the bottom.
    const float hertz = cutoff * 22000.0f;
    const float shown = hertz >= 80.0f ? std::min(hertz, 22000.0f) : 80.0f;
    std::snprintf(text, size, "%0.f Hz", static_cast<double>(shown));
}

CMouseEventResult CBiquadControl::onMouseDown(CPoint& where, const CButtonState& buttons) {
    if (buttons.isRightButton()) {
        setTag(learnTag_);
        popup();
        return kMouseDownEventHandledButDontNeedMovedOrUpEvents;
    }
    if (!buttons.isLeftButton()) return kMouseEventNotHandled;
    setTag(cutoffTag_);
    anchorCutoff_ = cutoff_;
    anchorQ_ = q_;
    anchorButtons_ = buttons.getButtonState();
    dragging_ = true;
    beginEdit();
    onMouseMoved(where, buttons);
    return kMouseEventHandled;
}

CMouseEventResult CBiquadControl::onMouseMoved(CPoint& where, const CButtonState& buttons) {
    if (!dragging_) return kMouseEventNotHandled;
    const int state = buttons.getButtonState();
    if (state != anchorButtons_ && buttons.isShiftSet()) {
        anchorCutoff_ = cutoff_;
        anchorQ_ = q_;
        anchorButtons_ = state;
    } else if (!(buttons.isShiftSet() && state == anchorButtons_)) {
        anchorCutoff_ = cutoff_;
        anchorQ_ = q_;
    }

    double h = static_cast<double>(where.x - size_.left) / (size_.right - size_.left);
    double v = 1.0 - static_cast<double>(where.y - size_.top) / (size_.bottom - size_.top);
    if (buttons.isShiftSet()) {
        // Fine mode zooms around the anchor. The cutoff runs on a logarithmic axis,
        // so its anchor is taken back to a position on that axis first; mixing the
        // two scales would make the curve jump as soon as Shift is pressed.
        const double anchorPosition =
            anchorCutoff_ > 0.0f ? (std::log(static_cast<double>(anchorCutoff_)) - logMin) / (logMax - logMin) : 0.0;
        h = anchorPosition + (h - anchorPosition) / zoomFactor_;
        v = anchorQ_ + (v - anchorQ_) / zoomFactor_;
    }
    cutoff_ = static_cast<float>(std::exp(logMin + std::min(std::max(h, 0.0), 1.0) * (logMax - logMin)));
    q_ = static_cast<float>(std::min(std::max(v, 0.02), 1.0));

    // The position as one number, so a move inside the same 1/127 cell sends nothing.
    const double hc = std::min(std::max(h, -1000.0), 1000.0);
    const double vc = std::min(std::max(v, -1000.0), 1000.0);
    const float code = static_cast<float>((std::trunc(127.0 * hc) * 256.0 + std::trunc(127.0 * vc)) / 65536.0);
    if (code != dragCode_) {
        dragCode_ = code;
        valueChanged();
        setDirty();
    }
    return kMouseEventHandled;
}

CMouseEventResult CBiquadControl::onMouseUp(CPoint&, const CButtonState&) {
    if (!dragging_) return kMouseEventNotHandled;
    dragging_ = false;
    endEdit();
    return kMouseEventHandled;
}

bool CBiquadControl::attached(CView* parent) {
    drawBuffer_ = std::make_unique<COffscreenContext>(width_, height_);
    drawBuffer_->setFillColor(backColour_);
    drawBuffer_->fillRect(CRect(0, 0, width_, height_));
    return COptionMenu::attached(parent);
}

bool CBiquadControl::removed(CView* parent) {
    if (dragging_) {
        dragging_ = false;
        endEdit();  // the host must not wait for the end of a gesture that can't end
    }
    drawBuffer_.reset();
    return COptionMenu::removed(parent);
}

}  // namespace kovalith
