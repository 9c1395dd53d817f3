#include "gui/CKnob.h"

#include "gui/CBitmap.h"
#include "gui/CDrawContext.h"
#include "gui/CFrame.h"
#include "gui/VSTGUIEditorInterface.h"

#include <algorithm>
#include <cmath>

namespace VSTGUI {

namespace {

constexpr double kPi = 3.14159265358979323846;

float clamp01(float v) { return std::min(std::max(v, 0.f), 1.f); }

// The difference of two angles folded into (-pi, pi].
double angleDifference(double a, double b) {
    double d = std::fmod(a - b, 2 * kPi);
    if (d > kPi) d -= 2 * kPi;
    if (d <= -kPi) d += 2 * kPi;
    return d;
}

}  // namespace

CKnob::CKnob(const CRect& size, CControlListener* listener, int tag, CBitmap* background, CBitmap* handle,
             const CPoint& offset)
    : CControl(size, listener, tag, background),
      handle_(handle),
      offset_(offset),
      startAngle_(5.0 * kPi / 4.0),
      rangeAngle_(-3.0 * kPi / 2.0) {
    if (handle_) handle_->remember();
    backColor_ = kGreyCColor;
    frameColor_ = kBlackCColor;
    fontColor_ = kWhiteCColor;
}

CKnob::~CKnob() {
    if (handle_) handle_->forget();
}

CPoint CKnob::handleCentre(float normalizedValue) const {
    const double angle = startAngle_ + clamp01(normalizedValue) * rangeAngle_;
    const double cx = size_.left + size_.width() / 2.0;
    const double cy = size_.top + size_.height() / 2.0;
    const double radius = std::min(size_.width(), size_.height()) / 2.0 - inset_;
    // Screen y grows downwards, paper angles upwards.
    return CPoint(static_cast<CCoord>(std::lround(cx + radius * std::cos(angle))),
                  static_cast<CCoord>(std::lround(cy - radius * std::sin(angle))));
}

void CKnob::draw(CDrawContext* context) {
    const CPoint centre = handleCentre(getValueNormalized());
    if (background_ && background_->isLoaded()) {
        background_->draw(context, size_, offset_);
    } else {
        context->setFillColor(backColor_);
        context->setFrameColor(frameColor_);
        context->drawEllipse(size_, kDrawFilledAndStroked);
    }
    if (handle_ && handle_->isLoaded()) {
        const CCoord w = handle_->getWidth();
        const CCoord h = handle_->getHeight();
        handle_->draw(context, CRect(CPoint(centre.x - w / 2, centre.y - h / 2), w, h));
    } else {
        context->setFrameColor(fontColor_);
        context->setLineWidth(2);
        context->moveTo(CPoint(size_.left + size_.width() / 2, size_.top + size_.height() / 2));
        context->lineTo(centre);
        context->setLineWidth(1);
    }
}

double CKnob::angleAt(const CPoint& where) const {
    const double dx = where.x - (size_.left + size_.width() / 2.0);
    const double dy = (size_.top + size_.height() / 2.0) - where.y;
    return std::atan2(dy, dx);
}

void CKnob::startDrag(const CPoint& where, const CButtonState& buttons) {
    anchorPoint_ = where;
    anchorValue_ = getValueNormalized();
    anchorAngle_ = angleAt(where);
    dragFine_ = buttons.isShiftSet();
}

float CKnob::dragValue(const CPoint& where, const CButtonState& buttons) {
    // Pressing or releasing Shift mid-drag re-anchors, so the knob never jumps.
    if (buttons.isShiftSet() != dragFine_) startDrag(where, buttons);
    const float zoom = dragFine_ ? zoomFactor_ : 1.f;
    if (dragMode_ == kLinearMode) {
        const int travel = (where.x - anchorPoint_.x) - (where.y - anchorPoint_.y);
        return anchorValue_ + travel / (kLinearRangePixels * zoom);
    }
    const double angle = angleAt(where);
    if (dragMode_ == kCircularMode && !dragFine_) {
        // The value the pointer's direction points at; the gap at the bottom snaps to the nearer end.
        const double fromStart = angleDifference(angle, startAngle_);
        double turned = rangeAngle_ < 0 ? -fromStart : fromStart;
        if (turned < 0) turned += 2 * kPi;
        const double span = std::fabs(rangeAngle_);
        if (turned > span) turned = (turned - span < 2 * kPi - turned) ? span : 0.0;
        return static_cast<float>(turned / span);
    }
    const double turned = angleDifference(angle, anchorAngle_);
    return anchorValue_ + static_cast<float>(turned / rangeAngle_) / zoom;
}

CMouseEventResult CKnob::onMouseDown(CPoint& where, const CButtonState& buttons) {
    if (!buttons.isLeftButton()) return kMouseEventNotHandled;
    if (listener_ && (buttons.getModifierState() || buttons.isDoubleClick()) &&
        listener_->controlModifierClicked(this, buttons) != 0)
        return kMouseDownEventHandledButDontNeedMovedOrUpEvents;
    CFrame* frame = getFrame();
    dragMode_ = frame && frame->getEditor() ? frame->getEditor()->getKnobMode() : kLinearMode;
    if (dragMode_ != kCircularMode && dragMode_ != kRelativCircularMode) dragMode_ = kLinearMode;
    startDrag(where, buttons);
    dragging_ = true;
    beginEdit();
    if (dragMode_ == kCircularMode) return onMouseMoved(where, buttons);
    return kMouseEventHandled;
}

CMouseEventResult CKnob::onMouseMoved(CPoint& where, const CButtonState& buttons) {
    if (!dragging_) return kMouseEventNotHandled;
    const float normalized = clamp01(dragValue(where, buttons));
    updateValue(getMin() + normalized * (getMax() - getMin()));
    return kMouseEventHandled;
}

CMouseEventResult CKnob::onMouseUp(CPoint&, const CButtonState&) {
    if (!dragging_) return kMouseEventNotHandled;
    dragging_ = false;
    endEdit();
    return kMouseEventHandled;
}

bool CKnob::onWheel(const CPoint&, float distance, const CButtonState& buttons) {
    if (dragging_) return false;
    float step = distance * wheelIncrement_;
    if (buttons.isShiftSet()) step /= zoomFactor_;
    const float normalized = clamp01(getValueNormalized() + step);
    beginEdit();
    updateValue(getMin() + normalized * (getMax() - getMin()));
    endEdit();
    return true;
}

}  // namespace VSTGUI
