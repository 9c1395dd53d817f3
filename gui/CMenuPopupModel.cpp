#include "gui/CMenuPopupModel.h"

#include "gui/CDrawContext.h"
#include "gui/COptionMenu.h"

namespace VSTGUI {

namespace {

// Moves `r` inside `screen` where it fits, preferring its top-left corner.
void keepInside(CRect& r, const CRect& screen) {
    if (screen.isEmpty()) return;
    if (r.bottom > screen.bottom) r.offset(0, screen.bottom - r.bottom);
    if (r.right > screen.right) r.offset(screen.right - r.right, 0);
    if (r.top < screen.top) r.offset(0, screen.top - r.top);
    if (r.left < screen.left) r.offset(screen.left - r.left, 0);
}

}  // namespace

CMenuPopupModel::CMenuPopupModel(COptionMenu* root, const CRect& anchor, const CRect& screen)
    : screen_(screen), defaultScheme_(new COptionMenuScheme) {
    const bool atTop = (root->getStyle() & kPopupStyle) != 0;
    openLevel(root, CPoint(anchor.left, atTop ? anchor.top : anchor.bottom), anchor.width(), false, anchor.top);
}

CMenuPopupModel::~CMenuPopupModel() {
    closeLevelsAbove(-1);
    defaultScheme_->forget();
}

const COptionMenuScheme& CMenuPopupModel::schemeOf(int level) const {
    for (int l = level; l >= 0; --l)
        if (COptionMenuScheme* s = levels_[l].menu->getScheme()) return *s;
    return *defaultScheme_;
}

void CMenuPopupModel::openLevel(COptionMenu* menu, const CPoint& topLeft, CCoord minWidth, bool, CCoord) {
    menu->remember();
    levels_.push_back(Level{menu, CRect(), {}, -1});
    const COptionMenuScheme& scheme = schemeOf(getLevelCount() - 1);
    const CCoord itemHeight = static_cast<CCoord>(scheme.getFont().size) + kItemPadding;

    COffscreenContext measure(1, 1);
    measure.setFont(scheme.getFont());
    CCoord width = minWidth;
    CCoord y = 0;
    std::vector<Item> items;
    const bool check = (menu->getStyle() & kCheckStyle) != 0;
    for (int i = 0; i < menu->getNbEntries(); ++i) {
        Item item{CRect(), i, menu->isSeparator(i), menu->getSubMenu(i) != nullptr,
                  check && i == menu->getCurrent(), menu->getEntryText(i)};
        const CCoord h = item.separator ? kSeparatorHeight : itemHeight;
        item.rect = CRect(0, y, 0, y + h);
        y += h;
        if (!item.separator)
            width = std::max(width, static_cast<CCoord>(measure.getStringWidth(item.text.c_str())) + kMarginLeft +
                                        kMarginRight);
        items.push_back(item);
    }
    CRect bounds(topLeft, width, std::max<CCoord>(y, 1));
    keepInside(bounds, screen_);
    for (Item& item : items) {
        item.rect.left = bounds.left;
        item.rect.right = bounds.right;
        item.rect.offset(0, bounds.top);
    }
    levels_.back().bounds = bounds;
    levels_.back().items = std::move(items);
}

void CMenuPopupModel::closeLevelsAbove(int level) {
    while (getLevelCount() > level + 1) {
        levels_.back().menu->forget();
        levels_.pop_back();
    }
}

int CMenuPopupModel::levelAt(const CPoint& where) const {
    for (int l = getLevelCount() - 1; l >= 0; --l)
        if (levels_[l].bounds.pointInside(where)) return l;
    return -1;
}

bool CMenuPopupModel::hover(const CPoint& where) {
    const int l = levelAt(where);
    if (l < 0) return false;
    Level& level = levels_[l];
    int hovered = -1;
    for (size_t i = 0; i < level.items.size(); ++i)
        if (level.items[i].rect.pointInside(where) && !level.items[i].separator) hovered = static_cast<int>(i);
    if (hovered == level.hover && (hovered < 0 || !level.items[hovered].subMenu || getLevelCount() > l + 1))
        return false;
    level.hover = hovered;
    const bool subMenuOpen = getLevelCount() > l + 1 && hovered >= 0 && level.items[hovered].subMenu &&
                             levels_[l + 1].menu == level.menu->getSubMenu(level.items[hovered].index);
    if (!subMenuOpen) {
        closeLevelsAbove(l);
        if (hovered >= 0 && level.items[hovered].subMenu) {
            const Item& item = levels_[l].items[hovered];
            openLevel(levels_[l].menu->getSubMenu(item.index), CPoint(item.rect.right, item.rect.top), 0, false, 0);
        }
    }
    return true;
}

CMenuPopupModel::Click CMenuPopupModel::click(const CPoint& where) {
    Click result;
    const int l = levelAt(where);
    if (l < 0) {
        result.kind = Click::kOutside;
        return result;
    }
    hover(where);
    const Level& level = levels_[l];
    for (const Item& item : level.items) {
        if (!item.rect.pointInside(where) || item.separator || item.subMenu) continue;
        result.kind = Click::kChoice;
        result.menu = level.menu;
        result.index = item.index;
    }
    return result;
}

void CMenuPopupModel::drawLevel(CDrawContext& context, int l) const {
    const Level& level = levels_[l];
    const COptionMenuScheme& scheme = schemeOf(l);
    const CPoint origin = level.bounds.getTopLeft();
    const CRect all(0, 0, level.bounds.width(), level.bounds.height());
    context.setFillColor(scheme.getBackgroundColor());
    context.fillRect(all);
    context.setFont(scheme.getFont());
    for (size_t i = 0; i < level.items.size(); ++i) {
        const Item& item = level.items[i];
        CRect r = item.rect;
        r.offset(-origin.x, -origin.y);
        if (item.separator) {
            const CCoord y = r.top + r.height() / 2;
            context.setFrameColor(scheme.getDisabledTextColor());
            context.moveTo(CPoint(r.left + 2, y));
            context.lineTo(CPoint(r.right - 3, y));
            continue;
        }
        const bool hot = static_cast<int>(i) == level.hover;
        if (hot) {
            context.setFillColor(scheme.getSelectionColor());
            context.fillRect(r);
        }
        context.setFontColor(hot ? scheme.getHiliteTextColor() : scheme.getTextColor());
        CRect text = r;
        text.left += kMarginLeft;
        text.right -= kMarginRight;
        context.drawString(item.text.c_str(), text, kLeftText, true);
        context.setFillColor(context.getFontColor());
        if (item.checked) context.drawEllipse(CRect(r.left + 5, r.top + r.height() / 2 - 3, r.left + 11,
                                                    r.top + r.height() / 2 + 3), kDrawFilled);
        if (item.subMenu) {
            const CCoord cx = r.right - 9, cy = r.top + r.height() / 2;
            context.setFrameColor(context.getFontColor());
            const CPoint arrow[3] = {CPoint(cx, cy - 3), CPoint(cx + 3, cy), CPoint(cx, cy + 3)};
            context.polyline(arrow, 3);
        }
    }
    context.setFrameColor(scheme.getTextColor());
    context.drawRect(all);
}

}  // namespace VSTGUI
