#include "gui/CTextEdit.h"

#include "gui/CDrawContext.h"

namespace VSTGUI {

namespace {

constexpr CCoord kTextMargin = 2;

bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xc0) == 0x80; }

// The start of the character before `at`, or of the one after it: the caret steps over
// whole UTF-8 sequences.
std::size_t previousCharacter(const std::string& s, std::size_t at) {
    if (at == 0) return 0;
    --at;
    while (at > 0 && isContinuationByte(s[at])) --at;
    return at;
}
std::size_t nextCharacter(const std::string& s, std::size_t at) {
    if (at >= s.size()) return s.size();
    ++at;
    while (at < s.size() && isContinuationByte(s[at])) ++at;
    return at;
}

// Whether `s` is well-formed UTF-8 (the text is drawn, and drawing wants nothing else).
bool isUtf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (length == 0 || (length > 1 && c < 0xc2 && length == 2) || i + length > s.size()) return false;
        for (std::size_t k = 1; k < length; ++k)
            if (!isContinuationByte(s[i + k])) return false;
        i += length;
    }
    return true;
}

// Typed text without control characters (a host may deliver a tab or a newline as
// text); nothing of text that is not UTF-8.
std::string printable(const std::string& typed) {
    std::string out;
    if (!isUtf8(typed)) return out;
    for (char c : typed)
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) out += c;
    return out;
}

}  // namespace

CTextEdit::CTextEdit(const CRect& size, const std::string& text)
    : CParamDisplay(size), text_(text.size() <= kMaxTextBytes && isUtf8(text) ? text : std::string()),
      caret_(text_.size()) {
    setHoriAlign(kLeftText);
}

void CTextEdit::draw(CDrawContext* context) {
    context->setFillColor(backColor_);
    context->fillRect(size_);
    context->setFrameColor(refused_ ? kRefusedColor : frameColor_);
    context->drawRect(size_);
    if (refused_) {  // a frame of one pixel is easily missed
        CRect inner = size_;
        context->drawRect(inner.inset(1, 1));
    }
    context->setFont(font_);
    CRect textRect = size_;
    textRect.inset(kTextMargin, 0);
    const double textWidth = context->getStringWidth(text_.c_str());
    // Text too long for the field shows its end, where the caret usually is.
    const double start =
        textWidth > textRect.width() ? textRect.right - textWidth : static_cast<double>(textRect.left);
    context->saveGlobalState();
    CRect clip = size_;
    context->setClipRect(clip.bound(context->getClipRect()));
    if (allSelected_ && !text_.empty()) {
        context->setFillColor(fontColor_);
        context->fillRect(CRect(static_cast<CCoord>(start), size_.top + 1,
                                static_cast<CCoord>(start + textWidth + 0.5), size_.bottom - 1));
        context->setFontColor(backColor_);
    } else {
        context->setFontColor(fontColor_);
    }
    const CRect drawRect(static_cast<CCoord>(start), textRect.top, static_cast<CCoord>(start + textWidth) + 1,
                         textRect.bottom);
    context->drawString(text_.c_str(), drawRect, kLeftText, false);
    if (!allSelected_ || text_.empty()) {
        const std::string before = text_.substr(0, caret_);
        const auto x = static_cast<CCoord>(start + context->getStringWidth(before.c_str()) + 0.5);
        context->setFrameColor(fontColor_);
        context->moveTo(CPoint(x, size_.top + 2));
        context->lineTo(CPoint(x, size_.bottom - 2));
    }
    context->restoreGlobalState();
}

bool CTextEdit::onKeyDown(const CKeyEvent& key) {
    if (finished_) return false;
    switch (key.key) {
        case kKeyReturn: {
            const bool taken = !onCommit_ || onCommit_(text_);
            if (taken) {
                finish(true);
            } else {
                refused_ = true;
                setDirty();
            }
            return true;
        }
        case kKeyEscape: finish(false); return true;
        case kKeyBackspace: erase(false); return true;
        case kKeyDelete: erase(true); return true;
        case kKeyLeft:
        case kKeyRight:
        case kKeyHome:
        case kKeyEnd: moveCaret(key.key); return true;
        case kKeyNone: break;
    }
    // Control and Alt combinations are shortcuts, not text.
    if (key.modifiers & (kControl | kAlt)) return false;
    const std::string typed = printable(key.text);
    if (typed.empty()) return false;
    insert(typed);
    return true;
}

void CTextEdit::insert(const std::string& typed) {
    if (allSelected_) {
        text_.clear();
        caret_ = 0;
        allSelected_ = false;
    }
    if (text_.size() + typed.size() > kMaxTextBytes) return;  // refuses the key as a whole
    text_.insert(caret_, typed);
    caret_ += typed.size();
    edited();
}

void CTextEdit::erase(bool forward) {
    if (allSelected_) {
        text_.clear();
        caret_ = 0;
        allSelected_ = false;
    } else if (forward) {
        text_.erase(caret_, nextCharacter(text_, caret_) - caret_);
    } else {
        const std::size_t from = previousCharacter(text_, caret_);
        text_.erase(from, caret_ - from);
        caret_ = from;
    }
    edited();
}

void CTextEdit::moveCaret(CVirtualKey key) {
    if (allSelected_) {
        // Leaving the selection puts the caret at its start or end.
        caret_ = (key == kKeyLeft || key == kKeyHome) ? 0 : text_.size();
        allSelected_ = false;
    } else if (key == kKeyLeft) {
        caret_ = previousCharacter(text_, caret_);
    } else if (key == kKeyRight) {
        caret_ = nextCharacter(text_, caret_);
    } else {
        caret_ = key == kKeyHome ? 0 : text_.size();
    }
    setDirty();
}

void CTextEdit::edited() {
    refused_ = false;
    setDirty();
}

void CTextEdit::onFocusLost() { finish(false); }

CMouseEventResult CTextEdit::onMouseDown(CPoint&, const CButtonState&) {
    return kMouseDownEventHandledButDontNeedMovedOrUpEvents;
}

void CTextEdit::finish(bool committed) {
    if (finished_) return;
    finished_ = true;
    if (!committed && onCancel_) onCancel_();
}

}  // namespace VSTGUI
