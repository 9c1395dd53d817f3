#include "plugin/VstEditor.h"

#include "plugin/Kovalith.h"

namespace kovalith {

VstEditor::VstEditor(Kovalith* effect) : AEffEditor(effect), kovalith(effect), window(this) {
    window.setResizeRequest([this](int width, int height) { return kovalith->sizeWindow(width, height); });
}

bool VstEditor::getRect(vst2::ERect** out) {
    if (!out) return false;
    // The size at the scale of now: the user's choice, the host's factor, the system's.
    window.refreshScale();
    rect.bottom = static_cast<int16_t>(window.height());
    rect.right = static_cast<int16_t>(window.width());
    *out = &rect;
    return true;
}

bool VstEditor::open(void* parentWindow) {
    if (!window.open(parentWindow)) return false;
    AEffEditor::open(parentWindow);
    return true;
}

void VstEditor::close() {
    window.close();
    AEffEditor::close();
}

float VstEditor::parameterValue(int index) { return kovalith->effect().getParameter(index); }

float VstEditor::syncedValue(int index) { return kovalith->getSyncedValue(index); }

DisplayContext VstEditor::displayContext() { return kovalith->effect().displayContext(); }

void VstEditor::beginEdit(int index) { kovalith->beginEdit(index); }

// The host records menus as their item's position in 0..1.
void VstEditor::performEdit(int index, float value) {
    kovalith->setParameterAutomated(index, normalisedFromStored(index, value));
}

void VstEditor::endEdit(int index) { kovalith->endEdit(index); }

// Not a parameter, so not automation.
void VstEditor::learnCommand(int index, float value) { kovalith->setParameter(kLearnCommandBase + index, value); }

}  // namespace kovalith
