// The editor's keyboard and modifier input: typed values, resets to the default,
// and the clicks that lead to them.
#include <string>

#include "editor/CBiquadControl.h"
#include "editor/KovalithEditor.h"
#include "effect/ParameterText.h"

namespace kovalith {

using namespace VSTGUI;

int KovalithEditor::controlModifierClicked(CControl* control, int buttons) {
    if (!control || !frame) return 0;
    const int index = control->getTag();
    // The learn menus (command tags) and the filter display keep their own clicks.
    if (!isParameterIndex(index) || control == static_cast<CControl*>(filterDisplay)) return 0;
    const CButtonState state(buttons);
    if (state.isControlSet()) {
        resetToDefault(index);
        return 1;
    }
    const ControlGroup& group = controlGroups[static_cast<std::size_t>(index)];
    if (state.isDoubleClick() && (control == group.knob || control == group.readout))
        return openValueEntry(index) ? 1 : 0;
    return 0;
}

void KovalithEditor::resetToDefault(int index) {
    if (!isParameterIndex(index)) return;
    controller->beginEdit(index);
    controller->performEdit(index, kParameterTable[static_cast<std::size_t>(index)].defaultValue);
    controller->endEdit(index);
    applyPendingChanges();
}

bool KovalithEditor::openValueEntry(int index) {
    if (!frame || !isParameterIndex(index)) return false;
    const ControlGroup& group = controlGroups[static_cast<std::size_t>(index)];
    if (!group.knob || !group.readout) return false;
    closeValueEntry();
    applyPendingChanges();  // the text is the value shown now
    auto* field = new CTextEdit(group.readout->getViewSize(), group.readout->getDisplayText());
    styleTextControl(field);
    field->setCommitFunction([this, index](const std::string& text) { return commitValueEntry(index, text); });
    field->setCancelFunction([this] { closeValueEntry(); });
    frame->addView(field);
    valueEntry = field;
    frame->setFocusView(field);
    return true;
}

// The parameter's own parser reads the text; the editor repeats none of its units.
bool KovalithEditor::commitValueEntry(int index, const std::string& text) {
    const std::optional<float> value = parseParameter(index, text.c_str(), controller->displayContext());
    if (!value) return false;
    controller->beginEdit(index);
    controller->performEdit(index, *value);
    controller->endEdit(index);
    closeValueEntry();
    applyPendingChanges();
    return true;
}

void KovalithEditor::closeValueEntry() {
    CTextEdit* field = valueEntry;
    if (!field) return;
    valueEntry = nullptr;  // first: giving up the focus cancels, which comes back here
    if (frame) {
        if (frame->getFocusView() == field) frame->setFocusView(nullptr);
        frame->removeView(field);
    }
}

}  // namespace kovalith
