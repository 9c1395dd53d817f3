// Text controls: a value read-out and a static label.
#pragma once

#include "gui/CControl.h"

#include <atomic>
#include <string>

namespace VSTGUI {

// Writes the text for a value into `text`, which holds kParamDisplayTextSize bytes.
using CParamDisplayStringConvert = void (*)(float value, char* text);
constexpr int kParamDisplayTextSize = 256;

// Shows its value as text: through the string-convert function if one is set, otherwise
// as "%2.2f". Fills its rectangle with the back colour (or draws its background bitmap),
// frames it with the frame colour unless kNoFrame, and draws the text in the font colour.
class CParamDisplay : public CControl {
public:
    CParamDisplay(const CRect& size, CBitmap* background = nullptr, int style = 0);

    void draw(CDrawContext* context) override;
    // A left click with modifier keys, or a double click, goes to the listener's
    // controlModifierClicked; the read-out takes no other input.
    CMouseEventResult onMouseDown(CPoint& where, const CButtonState& buttons) override;

    // May be called from any thread, like setValue (the editor switches a read-out's
    // format when another thread changes a sync setting).
    void setStringConvert(CParamDisplayStringConvert convert) {
        convert_.store(convert, std::memory_order_relaxed);
        setDirty();
    }
    CParamDisplayStringConvert getStringConvert() const { return convert_.load(std::memory_order_relaxed); }
    void setHoriAlign(CHoriTxtAlign align) { align_ = align; setDirty(); }
    CHoriTxtAlign getHoriAlign() const { return align_; }

    // The text draw() shows for the current value.
    virtual std::string getDisplayText() const;

protected:
    // Background, frame and `text` as this control draws them.
    void drawText(CDrawContext* context, const char* text);

private:
    std::atomic<CParamDisplayStringConvert> convert_{nullptr};
    CHoriTxtAlign align_ = kCenterText;
};

// Static text.
class CTextLabel : public CParamDisplay {
public:
    CTextLabel(const CRect& size, const char* text = nullptr, CBitmap* background = nullptr, int style = 0);

    void setText(const char* text);
    const char* getText() const { return text_.c_str(); }
    std::string getDisplayText() const override { return text_; }

private:
    std::string text_;
};

}  // namespace VSTGUI
