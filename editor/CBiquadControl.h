// The feedback filter's display in the delay section: draws the magnitude
// response of "Filter Type", "Cutoff" and "Resonance" with the very biquad the
// audio path uses, sets cutoff and resonance by a left drag, and offers the
// filter types and the MIDI-learn commands on a right click.
#pragma once

#include <cstddef>
#include <memory>

#include "dsp/Biquad.h"
#include "gui/COptionMenu.h"
#include "gui/CDrawContext.h"

namespace VSTGUI {
class CFrame;
}

namespace kovalith {

class CBiquadControl : public VSTGUI::COptionMenu {
public:
    static constexpr int kResponsePoints = 256;
    static constexpr int kNumFilterTypes = 8;  // the types the user may choose, 0..7
    // The right-click menu's own entries.
    enum Entry { kEntryFilterType = 0, kEntrySeparator, kEntryLearnCutoff, kEntryLearnQ, kEntryForget };

    // The control starts with tag `learnTag`; `typeTag` is the tag of the type list.
    // The last argument is stored and not used.
    CBiquadControl(const VSTGUI::CRect& size, VSTGUI::CControlListener* listener, int cutoffTag, int learnTag,
                   int typeTag, VSTGUI::CFrame* frame, const VSTGUI::CColor& backColour,
                   const VSTGUI::CColor& frameColour, const VSTGUI::CColor& lineColour, int style);
    ~CBiquadControl() override;

    virtual void setLabelText(const char* text);
    // The values shown: cutoff as a fraction of the Nyquist frequency, q 0..1, type 0..7.
    virtual void getFilter(float* cutoff, float* q, int* type);
    // Stores the values and marks type min(type, 7) in the type list. GUI thread.
    virtual void setFilter(float cutoff, float q, int type);
    virtual void setFlag(bool flag) { flag_ = flag; }
    virtual bool getFlag() { return flag_; }
    // A Shift drag moves the values by the pointer's travel divided by this factor.
    virtual void setZoomFactor(float factor) { zoomFactor_ = factor > 0.0f ? factor : 1.0f; }
    virtual float getZoomFactor() { return zoomFactor_; }
    // Refills the cached background with the back colour and frames it.
    virtual void drawBackground();
    // Recomputes `response` from the current values: 0 is +30 dB, 1 is -40 dB.
    virtual void computeResponse();

    void draw(VSTGUI::CDrawContext* context) override;
    VSTGUI::CMouseEventResult onMouseDown(VSTGUI::CPoint& where, const VSTGUI::CButtonState& buttons) override;
    VSTGUI::CMouseEventResult onMouseUp(VSTGUI::CPoint& where, const VSTGUI::CButtonState& buttons) override;
    VSTGUI::CMouseEventResult onMouseMoved(VSTGUI::CPoint& where, const VSTGUI::CButtonState& buttons) override;
    bool attached(VSTGUI::CView* parent) override;
    bool removed(VSTGUI::CView* parent) override;

    VSTGUI::COptionMenu* getTypeMenu() const { return typeMenu_; }
    const float* getResponse() const { return response_; }
    const char* getLabelText() const { return labelText_; }
    int getCutoffTag() const { return cutoffTag_; }
    int getLearnTag() const { return learnTag_; }
    int getTypeTag() const { return typeTag_; }
    // The cutoff line's text, "%0.f Hz" of cutoff x 22000 limited to 80 .. 22000.
    static void formatCutoff(float cutoff, char* text, std::size_t size);

    // The drag's encoding of the pointer position last sent to the listener.
    float getDragCode() const { return dragCode_; }

    // ln(100 / 44100) in single precision: the left edge of the frequency axis.
    static const double logMin;
    static constexpr double logMax = 0.0;

private:
    void drawCurve(VSTGUI::CDrawContext& context, double dy, double dx);

    int typeTag_;
    int learnTag_;
    int cutoffTag_;
    VSTGUI::CColor backColour_, frameColour_, lineColour_;
    int storedStyle_;
    VSTGUI::COptionMenu* typeMenu_ = nullptr;

    float cutoff_ = 0.5f;
    float q_ = 0.3f;
    int type_ = 0;
    float anchorCutoff_ = 0.0f;
    float anchorQ_ = 0.0f;
    int anchorButtons_ = 0;
    bool dragging_ = false;
    float dragCode_ = -1.0f;

    float response_[kResponsePoints] = {};
    char labelText_[kMaxEntryText] = {};
    int width_;
    int height_;
    std::unique_ptr<VSTGUI::COffscreenContext> backgroundBuffer_;
    std::unique_ptr<VSTGUI::COffscreenContext> drawBuffer_;
    float zoomFactor_ = 1.5f;
    bool flag_ = true;
    CUnitBiquad<double> filter_;
};

}  // namespace kovalith
