// Value controls: a value between min and max, a tag, a listener told of user changes.
#pragma once

#include "gui/CView.h"

#include <atomic>

namespace VSTGUI {

class CControl;

// Style bits of the text controls and menus.
enum CControlStyle : int {
    kNoFrame = 1 << 3,        // no frame around text controls
    kPopupStyle = 1 << 9,     // 512: a menu's list opens at the control's top instead of below it
    kCheckStyle = 1 << 10,    // 1024: a menu's list marks the current entry
    kNoTextStyle = 1 << 11,   // 2048: text controls draw no text
    kNoDrawStyle = 1 << 12,   // 4096: the control draws nothing at all
};

// Told of changes the user makes. GUI thread.
class CControlListener {
public:
    virtual ~CControlListener() = default;
    virtual void valueChanged(CControl* control) = 0;
    // A click with modifier keys; a non-zero answer means the listener handled it and the
    // control does nothing more with the click.
    virtual int controlModifierClicked(CControl*, int /*buttons*/) { return 0; }
    virtual void controlBeginEdit(CControl*) {}
    virtual void controlEndEdit(CControl*) {}
};

// The value is kept between min and max (a NaN is refused) and may be set from any thread;
// a user change notifies the listener only when the value really changed.
class CControl : public CView {
public:
    CControl(const CRect& size, CControlListener* listener = nullptr, int tag = 0, CBitmap* background = nullptr);

    virtual void setValue(float value);
    float getValue() const { return value_.load(std::memory_order_relaxed); }
    void setMin(float value) { min_ = value; }
    float getMin() const { return min_; }
    void setMax(float value) { max_ = value; }
    float getMax() const { return max_; }
    void setDefaultValue(float value) { default_ = value; }
    float getDefaultValue() const { return default_; }
    // The value as a fraction of the range, 0 to 1.
    float getValueNormalized() const;

    void setTag(int tag) { tag_ = tag; }
    int getTag() const { return tag_; }
    void setListener(CControlListener* listener) { listener_ = listener; }
    CControlListener* getListener() const { return listener_; }

    // Tells the listener the value changed (every control path that changes the value calls this).
    virtual void valueChanged();
    // Bracket a user gesture: the listener, then the frame's editor, with this tag.
    virtual void beginEdit();
    virtual void endEdit();

    void setStyle(int style) { style_ = style; setDirty(); }
    int getStyle() const { return style_; }
    void setFont(const CFontDesc& font) { font_ = font; setDirty(); }
    void setFont(const char* name, double size, int style = kNormalFace);
    const CFontDesc& getFont() const { return font_; }
    void setFontColor(const CColor& color) { fontColor_ = color; setDirty(); }
    const CColor& getFontColor() const { return fontColor_; }
    void setBackColor(const CColor& color) { backColor_ = color; setDirty(); }
    const CColor& getBackColor() const { return backColor_; }
    void setFrameColor(const CColor& color) { frameColor_ = color; setDirty(); }
    const CColor& getFrameColor() const { return frameColor_; }

protected:
    // Sets the value as the user's change: if it really changed, marks the control dirty and
    // tells the listener. Answers whether it changed.
    bool updateValue(float value);
    float clampToRange(float value) const;

    CControlListener* listener_;
    int tag_;
    int style_ = 0;
    CFontDesc font_;
    CColor fontColor_ = kWhiteCColor;
    CColor backColor_ = kBlackCColor;
    CColor frameColor_ = kGreyCColor;

private:
    std::atomic<float> value_{0.f};
    float min_ = 0.f;
    float max_ = 1.f;
    float default_ = 0.5f;
};

}  // namespace VSTGUI
