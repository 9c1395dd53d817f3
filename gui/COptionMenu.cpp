#include "gui/COptionMenu.h"

#include "gui/CBitmap.h"
#include "gui/CFrame.h"

#include <cmath>
#include <cstring>

namespace VSTGUI {

COptionMenu::COptionMenu(const CRect& size, CControlListener* listener, int tag, CBitmap* background,
                         CBitmap* backgroundWhenClicked, int style)
    : CParamDisplay(size, background, style), backgroundWhenClicked_(backgroundWhenClicked) {
    setListener(listener);
    setTag(tag);
    if (backgroundWhenClicked_) backgroundWhenClicked_->remember();
    updateRange();
}

COptionMenu::~COptionMenu() {
    removeAllEntry();
    if (scheme_) scheme_->forget();
    if (backgroundWhenClicked_) backgroundWhenClicked_->forget();
}

void COptionMenu::updateRange() {
    setMin(0.f);
    setMax(entries_.empty() ? 0.f : static_cast<float>(entries_.size() - 1));
}

bool COptionMenu::addEntry(const char* text, int index) {
    if (!text) return false;
    Entry entry{text, nullptr};
    if (index < 0 || index >= getNbEntries())
        entries_.push_back(entry);
    else
        entries_.insert(entries_.begin() + index, entry);
    updateRange();
    setDirty();
    return true;
}

bool COptionMenu::addEntry(COptionMenu* subMenu, const char* title) {
    if (!subMenu || !title || subMenu == this) return false;
    subMenu->remember();
    entries_.push_back(Entry{title, subMenu});
    updateRange();
    return true;
}

bool COptionMenu::removeEntry(int index) {
    if (index < 0 || index >= getNbEntries()) return false;
    if (entries_[index].subMenu) entries_[index].subMenu->forget();
    entries_.erase(entries_.begin() + index);
    updateRange();
    setDirty();
    return true;
}

void COptionMenu::removeAllEntry() {
    while (!entries_.empty()) removeEntry(getNbEntries() - 1);
}

const char* COptionMenu::getEntryText(int index) const {
    return index >= 0 && index < getNbEntries() ? entries_[index].text.c_str() : nullptr;
}

bool COptionMenu::getEntry(int index, char* text) const {
    const char* entry = getEntryText(index);
    if (!entry || !text) return false;
    std::strncpy(text, entry, kMaxEntryText - 1);
    text[kMaxEntryText - 1] = '\0';
    return true;
}

COptionMenu* COptionMenu::getSubMenu(int index) const {
    return index >= 0 && index < getNbEntries() ? entries_[index].subMenu : nullptr;
}

bool COptionMenu::isSeparator(int index) const {
    const char* text = getEntryText(index);
    return text && std::strcmp(text, "-") == 0 && !getSubMenu(index);
}

bool COptionMenu::setCurrent(int index) {
    if (index < 0 || index >= getNbEntries()) return false;
    setValue(static_cast<float>(index));
    return true;
}

int COptionMenu::getCurrent() const { return static_cast<int>(std::lround(getValue())); }

void COptionMenu::setValue(float value) {
    // Menus hold whole entry numbers.
    if (!std::isnan(value)) value = std::round(value);
    CParamDisplay::setValue(value);
}

void COptionMenu::setScheme(COptionMenuScheme* scheme) {
    if (scheme) scheme->remember();
    if (scheme_) scheme_->forget();
    scheme_ = scheme;
}

bool COptionMenu::chooseEntry(int index) {
    if (index < 0 || index >= getNbEntries() || isSeparator(index) || getSubMenu(index)) return false;
    setValue(static_cast<float>(index));
    setDirty();
    valueChanged();
    return true;
}

bool COptionMenu::popup() {
    CFrame* frame = getFrame();
    return frame && frame->popupMenu(this);
}

std::string COptionMenu::getDisplayText() const {
    const char* text = getEntryText(getCurrent());
    return text ? text : "";
}

void COptionMenu::draw(CDrawContext* context) {
    if (style_ & kNoDrawStyle) return;
    drawText(context, getDisplayText().c_str());
}

CMouseEventResult COptionMenu::onMouseDown(CPoint&, const CButtonState& buttons) {
    if (!buttons.isLeftButton() && !buttons.isRightButton()) return kMouseEventNotHandled;
    if (listener_ && buttons.isLeftButton() && buttons.getModifierState() &&
        listener_->controlModifierClicked(this, buttons) != 0)
        return kMouseDownEventHandledButDontNeedMovedOrUpEvents;
    popup();
    return kMouseDownEventHandledButDontNeedMovedOrUpEvents;
}

bool COptionMenu::removed(CView* parent) {
    if (CFrame* frame = getFrame()) frame->onViewRemoved(this);  // closes our open list
    return CParamDisplay::removed(parent);
}

}  // namespace VSTGUI
