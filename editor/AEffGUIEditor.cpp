#include "editor/AEffGUIEditor.h"

#include "plugin/AudioEffect.h"

namespace kovalith {

AEffGUIEditor::AEffGUIEditor(AudioEffect* effect) : AEffEditor(effect) {}

AEffGUIEditor::~AEffGUIEditor() {
    delete frame;
    frame = nullptr;
    if (platformInUse) VSTGUI::platformUninitialize();
}

void AEffGUIEditor::beginPlatformUse() {
    if (!platformInUse) platformInUse = VSTGUI::platformInitialize();
}

bool AEffGUIEditor::getRect(vst2::ERect** out) {
    if (!out) return false;
    *out = &rect;
    return true;
}

bool AEffGUIEditor::open(void* parentWindow) { return AEffEditor::open(parentWindow); }

void AEffGUIEditor::close() {
    delete frame;
    frame = nullptr;
    AEffEditor::close();
}

void AEffGUIEditor::idle() {
    if (inIdle || !frame) return;
    inIdle = true;
    frame->idle();
    inIdle = false;
}

bool AEffGUIEditor::setKnobMode(int32_t mode) {
    if (mode != VSTGUI::kCircularMode && mode != VSTGUI::kRelativCircularMode && mode != VSTGUI::kLinearMode)
        return false;
    knobMode = mode;
    return true;
}

void AEffGUIEditor::draw(vst2::ERect* area) {
    if (!frame) return;
    if (!area) {
        frame->setDirty();
        return;
    }
    const VSTGUI::CRect dirty(area->left, area->top, area->right, area->bottom);
    for (int i = 0; i < frame->getNbViews(); ++i)
        if (VSTGUI::CView* view = frame->getView(i); view && view->getViewSize().rectOverlap(dirty)) view->setDirty();
}

// Only parameter tags are gestures the host knows; the learn menus carry command tags.
bool AEffGUIEditor::isParameterTag(int tag) const {
    return effect && tag >= 0 && tag < effect->getAeffect()->numParams;
}

void AEffGUIEditor::beginEdit(int tag) {
    if (isParameterTag(tag)) effect->beginEdit(tag);
}

void AEffGUIEditor::endEdit(int tag) {
    if (isParameterTag(tag)) effect->endEdit(tag);
}

}  // namespace kovalith
