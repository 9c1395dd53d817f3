// KovalithEditor: where the window's scale comes from, the panel's scale menu, and
// asking the host to resize its window when the scale changes.
#include "editor/KovalithEditor.h"
#include "editor/ScaleSettings.h"
#include "gui/SystemScale.h"

#include <cmath>
#include <iterator>

namespace kovalith {

using namespace VSTGUI;

namespace {

constexpr const char* kScaleMenuEntries[] = {"100 %", "125 %", "150 %", "175 %", "200 %", "Follow host/system"};
constexpr int kFollowEntry = 5;
static_assert(std::size(kUserScaleChoices) == kFollowEntry, "one entry per choice, then Follow");
constexpr int kScaleMenuStyle = kNoDrawStyle | kCheckStyle;

int entryOfChoice(double choice) {
    for (int i = 0; i < kFollowEntry; ++i)
        if (kUserScaleChoices[i] == choice) return i;
    return kFollowEntry;
}

}  // namespace

// The scale menu is no view of the frame: it only lends its list to the pop-up.
class KovalithEditor::ScaleMenuListener : public CControlListener {
public:
    explicit ScaleMenuListener(KovalithEditor& editor) : editor_(editor) {}
    void valueChanged(CControl* control) override {
        if (auto* menu = dynamic_cast<COptionMenu*>(control)) editor_.chooseScaleEntry(menu->getCurrent());
    }

private:
    KovalithEditor& editor_;
};

void KovalithEditor::setHostScale(double factor) {
    hostScale_ = std::isfinite(factor) && factor > 0.0 ? std::max(factor, 1.0) : 0.0;
    refreshScale();
}

void KovalithEditor::setUserScale(double choice) {
    userScale_ = entryOfChoice(choice) == kFollowEntry ? kFollowHostOrSystem : choice;
    userScaleKnown_ = true;
    // An unwritable settings file costs only the memory of the choice, not the choice.
    saveUserScale(userScale_);
    applyScale();
}

void KovalithEditor::refreshScale() {
    if (!userScaleKnown_) {
        userScale_ = loadUserScale();
        userScaleKnown_ = true;
    }
    if (!systemScaleKnown_) {
        systemScale_ = systemScale(systemScaleWindow_);
        systemScaleKnown_ = true;
    }
    applyScale();
}

void KovalithEditor::systemScaleChanged(double scale) {
    systemScale_ = std::isfinite(scale) && scale > 0.0 ? scale : 0.0;
    systemScaleKnown_ = true;
    applyScale();
}

void KovalithEditor::setResizeRequest(std::function<bool(int, int)> request) { resizeRequest_ = std::move(request); }

// Only a change of the resolved scale is applied, so a scale set directly (setScale)
// holds until the user, the host or the system says something new.
void KovalithEditor::applyScale() {
    const double resolved = resolveScale(userScale_, hostScale_, systemScale_);
    if (resolved == resolvedScale_) return;
    resolvedScale_ = resolved;
    if (resolved == scale()) return;
    setScale(resolved);
    if (frame && frame->isOpen() && resizeRequest_) resizeRequest_(width(), height());
}

bool KovalithEditor::popupScaleMenu(const CPoint& where) {
    if (!frame || !frame->isOpen()) return false;
    if (!scaleMenu) {
        scaleMenuListener = std::make_unique<ScaleMenuListener>(*this);
        scaleMenu = new COptionMenu(CRect(0, 0, 1, 1), scaleMenuListener.get(), -1, nullptr, nullptr, kScaleMenuStyle);
        for (const char* entry : kScaleMenuEntries) scaleMenu->addEntry(entry);
        scaleMenu->setScheme(menuScheme);
        styleTextControl(scaleMenu);
    }
    scaleMenu->setCurrent(entryOfChoice(userScale_));
    // The list opens where the click was.
    return frame->popupMenu(scaleMenu, CRect(where.x, where.y, where.x + 1, where.y + 1));
}

void KovalithEditor::chooseScaleEntry(int entry) {
    if (entry < 0 || entry > kFollowEntry) return;
    setUserScale(entry == kFollowEntry ? kFollowHostOrSystem : kUserScaleChoices[entry]);
}

}  // namespace kovalith
