// A one-line text field: takes the keyboard while it is its frame's focus view, and
// hands the text to its owner on Return.
#pragma once

#include "gui/CParamDisplay.h"

#include <functional>
#include <string>

namespace VSTGUI {

// Opens with its whole text selected, so that typing replaces it. Return offers the
// text to `onCommit`; an answer of false refuses it: the field frames itself in red and
// stays open for correction until the text changes. Escape, or losing the focus
// before a commit was taken, calls `onCancel`. The owner removes the field from its
// frame in either callback (the frame keeps it alive until the key is handled).
// Drawn with the font and colours of CControl, like a read-out.
class CTextEdit : public CParamDisplay {
public:
    using CommitFunction = std::function<bool(const std::string& text)>;
    using CancelFunction = std::function<void()>;

    CTextEdit(const CRect& size, const std::string& text);

    void setCommitFunction(CommitFunction commit) { onCommit_ = std::move(commit); }
    void setCancelFunction(CancelFunction cancel) { onCancel_ = std::move(cancel); }

    const std::string& getText() const { return text_; }
    std::string getDisplayText() const override { return text_; }
    bool isRefused() const { return refused_; }
    // Where the next typed text goes, in bytes from the start.
    std::size_t getCaret() const { return caret_; }

    void draw(CDrawContext* context) override;
    bool onKeyDown(const CKeyEvent& key) override;
    void onFocusLost() override;
    // Clicks inside the field keep it open; they place nothing.
    CMouseEventResult onMouseDown(CPoint& where, const CButtonState& buttons) override;

    // More is never needed for a value and keeps hostile input small.
    static constexpr std::size_t kMaxTextBytes = 64;
    static constexpr CColor kRefusedColor{220, 30, 30, 255};

private:
    void insert(const std::string& typed);
    void erase(bool forward);
    void moveCaret(CVirtualKey key);
    void edited();
    void finish(bool committed);

    std::string text_;
    std::size_t caret_ = 0;
    bool allSelected_ = true;
    bool refused_ = false;
    bool finished_ = false;
    CommitFunction onCommit_;
    CancelFunction onCancel_;
};

}  // namespace VSTGUI
