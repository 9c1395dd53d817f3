// The pop-up list of an option menu, independent of any window system: item layout,
// hover, sub-menu levels and what a click chooses.
#pragma once

#include "gui/CGeometry.h"

#include <deque>
#include <string>
#include <vector>

namespace VSTGUI {

class CDrawContext;
class COptionMenu;
class COptionMenuScheme;

// All rectangles are in one coordinate space of the caller's choice (the X11 layer uses
// the screen). Holds references to the menus it shows. A level handed out by getLevel
// stays valid while it is open, even when sub-menus open or close above it.
class CMenuPopupModel {
public:
    struct Item {
        CRect rect;
        int index;
        bool separator;
        bool subMenu;
        bool checked;
        std::string text;
    };
    struct Level {
        COptionMenu* menu;
        CRect bounds;
        std::vector<Item> items;
        int hover = -1;  // position in `items`, -1 for none
    };
    // What a click decided: close without a choice, choose an entry, or nothing yet.
    struct Click {
        enum Kind { kOutside, kChoice, kNone } kind = kNone;
        COptionMenu* menu = nullptr;
        int index = -1;
    };

    // Lays out the root list at `anchor` (the control's rectangle): below it, or from its
    // top with the menu's pop-up style; kept inside `screen`.
    CMenuPopupModel(COptionMenu* root, const CRect& anchor, const CRect& screen);
    ~CMenuPopupModel();
    CMenuPopupModel(const CMenuPopupModel&) = delete;
    CMenuPopupModel& operator=(const CMenuPopupModel&) = delete;

    int getLevelCount() const { return static_cast<int>(levels_.size()); }
    const Level& getLevel(int level) const { return levels_[level]; }
    // Moves the highlight; resting on a sub-menu's title opens it. Answers whether anything changed.
    bool hover(const CPoint& where);
    Click click(const CPoint& where);
    // Draws one level with its top-left corner at (0, 0) of `context`.
    void drawLevel(CDrawContext& context, int level) const;

    static constexpr CCoord kItemPadding = 6;
    static constexpr CCoord kSeparatorHeight = 7;
    static constexpr CCoord kMarginLeft = 16;   // room for the check mark
    static constexpr CCoord kMarginRight = 16;  // room for the sub-menu arrow

private:
    void openLevel(COptionMenu* menu, const CPoint& topLeft, CCoord minWidth, bool above, CCoord anchorTop);
    void closeLevelsAbove(int level);
    int levelAt(const CPoint& where) const;
    const COptionMenuScheme& schemeOf(int level) const;

    std::deque<Level> levels_;  // a deque: opening a level must not move the ones below
    CRect screen_;
    COptionMenuScheme* defaultScheme_;
};

}  // namespace VSTGUI
