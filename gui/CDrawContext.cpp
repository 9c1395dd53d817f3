// The platform-independent part of the drawing contexts: colours, font, offset, clip and
// their saved states. The drawing operations live in the platform's source file.
#include "gui/CDrawContext.h"

#include <cmath>

namespace VSTGUI {

namespace {
constexpr double kFullTurn = 2.0 * 3.14159265358979323846;
}

CDrawContext::CDrawContext(Native* native, CCoord width, CCoord height, double scale)
    : native_(native), surfaceWidth_(std::max(width, 0)), surfaceHeight_(std::max(height, 0)), scale_(scale) {
    clip_ = CRect(0, 0, surfaceWidth_, surfaceHeight_);
    applyTransform();
}

CCoord CDrawContext::toDevice(double c) const { return static_cast<CCoord>(std::lround(c * scale_)); }

void CDrawContext::drawEllipse(const CRect& rect, CDrawStyle style) { drawArc(rect, 0.0, kFullTurn, style); }

void CDrawContext::setFont(const char* name, double size, int style) {
    font_.name = name ? name : "Arial";
    font_.size = size > 0 ? size : 11.0;
    font_.style = style;
}

void CDrawContext::setClipRect(const CRect& clip) {
    clip_ = clip;
    clip_.offset(offset_.x, offset_.y);
    clip_.bound(CRect(0, 0, surfaceWidth_, surfaceHeight_));
    applyTransform();
}

CRect CDrawContext::getClipRect() const {
    CRect clip = clip_;
    return clip.offset(-offset_.x, -offset_.y);
}

void CDrawContext::resetClipRect() {
    clip_ = CRect(0, 0, surfaceWidth_, surfaceHeight_);
    applyTransform();
}

void CDrawContext::setOffset(const CPoint& offset) {
    offset_ = offset;
    applyTransform();
}

void CDrawContext::saveGlobalState() {
    saved_.push_back(State{offset_, clip_, frameColor_, fillColor_, fontColor_, lineWidth_, font_});
}

void CDrawContext::restoreGlobalState() {
    if (saved_.empty()) return;
    const State& s = saved_.back();
    offset_ = s.offset;
    clip_ = s.clip;
    frameColor_ = s.frameColor;
    fillColor_ = s.fillColor;
    fontColor_ = s.fontColor;
    lineWidth_ = s.lineWidth;
    font_ = s.font;
    saved_.pop_back();
    applyTransform();
}

void COffscreenContext::copyFrom(COffscreenContext& source, const CRect& destRect, const CPoint& sourceOffset) {
    source.copyTo(*this, destRect, sourceOffset);
}

}  // namespace VSTGUI
