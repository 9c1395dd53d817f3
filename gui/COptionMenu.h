// Option menus: a list of entries, shown as the current entry's text and chosen from a pop-up list.
#pragma once

#include "gui/CParamDisplay.h"

#include <string>
#include <vector>

namespace VSTGUI {

// The look of pop-up lists, shared by the menus that hold it.
class COptionMenuScheme : public CReferenceCounter {
public:
    void setFont(const CFontDesc& font) { font_ = font; }
    const CFontDesc& getFont() const { return font_; }
    void setColors(const CColor& background, const CColor& selection, const CColor& text,
                   const CColor& hiliteText, const CColor& disabledText) {
        background_ = background; selection_ = selection; text_ = text;
        hiliteText_ = hiliteText; disabledText_ = disabledText;
    }
    const CColor& getBackgroundColor() const { return background_; }
    const CColor& getSelectionColor() const { return selection_; }
    const CColor& getTextColor() const { return text_; }
    const CColor& getHiliteTextColor() const { return hiliteText_; }
    const CColor& getDisabledTextColor() const { return disabledText_; }

private:
    CFontDesc font_;
    CColor background_ = kWhiteCColor;
    CColor selection_ = CColor{0, 0, 128, 255};
    CColor text_ = kBlackCColor;
    CColor hiliteText_ = kWhiteCColor;
    CColor disabledText_ = kGreyCColor;
};

// Entries are numbered from 0 in list order, separators ("-") included. The value is the
// current entry's number. A click (left or right button) opens the pop-up list through
// the frame; a choice sets the value of the menu that holds the entry (a sub-menu for
// its entries) and calls valueChanged of that menu's listener, every time, even when the
// same entry is chosen again.
class COptionMenu : public CParamDisplay {
public:
    COptionMenu(const CRect& size, CControlListener* listener, int tag, CBitmap* background = nullptr,
                CBitmap* backgroundWhenClicked = nullptr, int style = 0);
    ~COptionMenu() override;

    // Appends (index -1 or past the end) or inserts an entry. False for null text.
    bool addEntry(const char* text, int index = -1);
    // Appends a sub-menu under `title`; the menu keeps a reference to it.
    bool addEntry(COptionMenu* subMenu, const char* title);
    bool removeEntry(int index);
    void removeAllEntry();
    int getNbEntries() const { return static_cast<int>(entries_.size()); }
    // Copies the entry's text (at most 256 bytes with the zero); false if there is none.
    bool getEntry(int index, char* text) const;
    const char* getEntryText(int index) const;
    COptionMenu* getSubMenu(int index) const;
    bool isSeparator(int index) const;

    bool setCurrent(int index);
    int getCurrent() const;
    void setValue(float value) override;

    void setScheme(COptionMenuScheme* scheme);
    COptionMenuScheme* getScheme() const { return scheme_; }

    // What a click on entry `index` of this menu's list does. False (and nothing happens)
    // for a separator, a sub-menu's title or a number outside the list.
    bool chooseEntry(int index);
    // Opens the pop-up list through the frame; false without a window.
    virtual bool popup();

    void draw(CDrawContext* context) override;
    CMouseEventResult onMouseDown(CPoint& where, const CButtonState& buttons) override;
    std::string getDisplayText() const override;
    bool removed(CView* parent) override;

    static constexpr int kMaxEntryText = 256;

private:
    struct Entry {
        std::string text;
        COptionMenu* subMenu = nullptr;
    };
    void updateRange();

    std::vector<Entry> entries_;
    COptionMenuScheme* scheme_ = nullptr;
    CBitmap* backgroundWhenClicked_ = nullptr;
};

}  // namespace VSTGUI
