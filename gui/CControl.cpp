#include "gui/CControl.h"

#include "gui/CFrame.h"
#include "gui/VSTGUIEditorInterface.h"

#include <algorithm>
#include <cmath>

namespace VSTGUI {

CControl::CControl(const CRect& size, CControlListener* listener, int tag, CBitmap* background)
    : CView(size), listener_(listener), tag_(tag) {
    setBackground(background);
}

float CControl::clampToRange(float value) const {
    const float lo = std::min(min_, max_);
    const float hi = std::max(min_, max_);
    return std::min(std::max(value, lo), hi);
}

void CControl::setValue(float value) {
    if (std::isnan(value)) return;
    value_.store(clampToRange(value), std::memory_order_relaxed);
}

float CControl::getValueNormalized() const {
    const float range = max_ - min_;
    if (range == 0.f) return 0.f;
    return std::min(std::max((getValue() - min_) / range, 0.f), 1.f);
}

bool CControl::updateValue(float value) {
    const float before = getValue();
    setValue(value);
    if (getValue() == before) return false;
    setDirty();
    valueChanged();
    return true;
}

void CControl::valueChanged() {
    if (listener_) listener_->valueChanged(this);
}

void CControl::beginEdit() {
    if (listener_) listener_->controlBeginEdit(this);
    if (CFrame* frame = getFrame())
        if (VSTGUIEditorInterface* editor = frame->getEditor()) editor->beginEdit(tag_);
}

void CControl::endEdit() {
    if (CFrame* frame = getFrame())
        if (VSTGUIEditorInterface* editor = frame->getEditor()) editor->endEdit(tag_);
    if (listener_) listener_->controlEndEdit(this);
}

void CControl::setFont(const char* name, double size, int style) {
    font_.name = name ? name : "Arial";
    font_.size = size > 0 ? size : 11.0;
    font_.style = style;
    setDirty();
}

}  // namespace VSTGUI
