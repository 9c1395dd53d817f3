#include "gui/CView.h"

#include "gui/CBitmap.h"
#include "gui/CDrawContext.h"
#include "gui/CFrame.h"

#include <algorithm>
#include <cstring>

namespace VSTGUI {

// CView

CView::CView(const CRect& size) : size_(size) {}

CView::~CView() {
    if (background_) background_->forget();
}

void CView::draw(CDrawContext* context) {
    if (background_) background_->draw(context, size_);
}

CMouseEventResult CView::onMouseDown(CPoint&, const CButtonState&) { return kMouseEventNotImplemented; }
CMouseEventResult CView::onMouseUp(CPoint&, const CButtonState&) { return kMouseEventNotImplemented; }
CMouseEventResult CView::onMouseMoved(CPoint&, const CButtonState&) { return kMouseEventNotImplemented; }
bool CView::onWheel(const CPoint&, float, const CButtonState&) { return false; }

void CView::setViewSize(const CRect& rect) {
    size_ = rect;
    setDirty();
}

void CView::setBackground(CBitmap* bitmap) {
    if (bitmap) bitmap->remember();
    if (background_) background_->forget();
    background_ = bitmap;
    setDirty();
}

bool CView::setAttribute(CViewAttributeID id, int size, const void* data) {
    if (size < 0 || (size > 0 && !data)) return false;
    const char* bytes = static_cast<const char*>(data);
    attributes_[id].assign(bytes, bytes + size);
    return true;
}

bool CView::getAttributeSize(CViewAttributeID id, int& size) const {
    auto it = attributes_.find(id);
    if (it == attributes_.end()) return false;
    size = static_cast<int>(it->second.size());
    return true;
}

bool CView::getAttribute(CViewAttributeID id, int inSize, void* data, int& outSize) const {
    auto it = attributes_.find(id);
    if (it == attributes_.end() || !data || inSize < static_cast<int>(it->second.size())) return false;
    outSize = static_cast<int>(it->second.size());
    if (outSize > 0) std::memcpy(data, it->second.data(), it->second.size());
    return true;
}

bool CView::removeAttribute(CViewAttributeID id) { return attributes_.erase(id) > 0; }

const char* CView::getAttributeText(CViewAttributeID id) const {
    auto it = attributes_.find(id);
    if (it == attributes_.end() || it->second.empty() || it->second.back() != '\0') return nullptr;
    return it->second.data();
}

bool CView::attached(CView* parent) {
    parent_ = parent;
    frame_ = parent ? parent->getFrame() : nullptr;
    setDirty();
    return true;
}

bool CView::removed(CView*) {
    parent_ = nullptr;
    frame_ = nullptr;
    return true;
}

CPoint CView::frameToLocal(const CPoint& framePoint) const {
    CPoint p = framePoint;
    for (const CView* a = parent_; a && a != frame_; a = a->parent_) p.offset(-a->size_.left, -a->size_.top);
    return p;
}

CRect CView::localToFrame(const CRect& local) const {
    CRect r = local;
    for (const CView* a = parent_; a && a != frame_; a = a->parent_) r.offset(a->size_.left, a->size_.top);
    return r;
}

// CViewContainer

CViewContainer::CViewContainer(const CRect& size) : CView(size) {}

CViewContainer::~CViewContainer() { removeAll(true); }

bool CViewContainer::addView(CView* view) {
    if (!view || view == this || view->isAttached()) return false;
    children_.push_back(view);
    view->attached(this);
    return true;
}

bool CViewContainer::removeView(CView* view, bool withForget) {
    auto it = std::find(children_.begin(), children_.end(), view);
    if (it == children_.end()) return false;
    if (CFrame* frame = getFrame()) frame->onViewRemoved(view);
    children_.erase(it);
    view->removed(this);
    setDirty();  // uncover what the view hid
    if (withForget) view->forget();
    return true;
}

void CViewContainer::removeAll(bool withForget) {
    while (!children_.empty()) removeView(children_.back(), withForget);
}

CView* CViewContainer::getView(int index) const {
    return index >= 0 && index < getNbViews() ? children_[index] : nullptr;
}

bool CViewContainer::isChild(CView* view) const {
    return std::find(children_.begin(), children_.end(), view) != children_.end();
}

bool CViewContainer::contains(const CView* view) const {
    for (const CView* v = view; v; v = v->getParentView())
        if (v == this) return true;
    return false;
}

void CViewContainer::draw(CDrawContext* context) { drawRect(context, size_); }

void CViewContainer::drawBackgroundRect(CDrawContext* context, const CRect& localRect) {
    if (hasBackgroundColor_) {
        context->setFillColor(backgroundColor_);
        context->fillRect(localRect);
    }
    if (!background_) return;
    // The whole picture, clipped: at a fractional scale its drawing for that scale is made
    // once and every part of the window comes from it, so redrawn parts leave no seams.
    context->saveGlobalState();
    CRect clip = context->getClipRect();
    context->setClipRect(clip.bound(localRect));
    background_->draw(context, CRect(0, 0, background_->getWidth(), background_->getHeight()));
    context->restoreGlobalState();
}

void CViewContainer::drawRect(CDrawContext* context, const CRect& updateRect) {
    CRect area = updateRect;
    area.bound(size_);
    if (area.isEmpty()) return;

    context->saveGlobalState();
    CRect clip = context->getClipRect();
    context->setClipRect(clip.bound(area));
    const CPoint origin = context->getOffset();
    context->setOffset(CPoint(origin.x + size_.left, origin.y + size_.top));
    CRect local = area;
    local.offset(-size_.left, -size_.top);
    drawBackgroundRect(context, local);

    for (CView* child : children_) {
        CRect childArea = child->getViewSize();
        if (!childArea.rectOverlap(local)) continue;
        context->saveGlobalState();
        CRect childClip = context->getClipRect();
        context->setClipRect(childClip.bound(childArea));
        if (child->isContainer())
            static_cast<CViewContainer*>(child)->drawRect(context, local);
        else
            child->draw(context);
        context->restoreGlobalState();
    }
    context->restoreGlobalState();
}

bool CViewContainer::attached(CView* parent) {
    CView::attached(parent);
    for (CView* child : children_) child->attached(this);  // they learn the frame now
    return true;
}

bool CViewContainer::removed(CView* parent) {
    for (CView* child : children_) child->removed(this);
    return CView::removed(parent);
}

void CViewContainer::collectViewsAt(const CPoint& where, std::vector<CView*>& out) const {
    const CPoint local(where.x - size_.left, where.y - size_.top);
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
        CView* child = *it;
        if (!child->getMouseEnabled() || !child->hitTest(local)) continue;
        if (child->isContainer()) static_cast<CViewContainer*>(child)->collectViewsAt(local, out);
        out.push_back(child);
    }
}

void CViewContainer::takeDirtyRects(std::vector<CRect>& out) {
    if (takeDirty()) out.push_back(localToFrame(size_));
    for (CView* child : children_) {
        if (child->isContainer())
            static_cast<CViewContainer*>(child)->takeDirtyRects(out);
        else if (child->takeDirty())
            out.push_back(child->localToFrame(child->getViewSize()));
    }
}

}  // namespace VSTGUI
