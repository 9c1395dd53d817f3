// The plug-in's window: the background picture with a knob group for each
// continuous parameter, option menus, image buttons and the feedback filter's
// display. Every control's tag is the index of the parameter it edits; the
// learn menus carry index + 68, the MIDI-learn command of that parameter. It
// knows no plug-in format: it reads values from and sends edits to an
// IEditController, which each format's shell implements.
//
// Threads: open, close, idle, valueChanged and renderSnapshot run on the host's
// user-interface thread. setParameter may come from any thread (automation, a
// MIDI controller on the processing thread); it only stores the value and a
// dirty mark in atomics, and the next idle brings the controls up to date and
// redraws them, so no other thread ever touches a control or draws.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "editor/EditorLayout.h"
#include "effect/EditController.h"
#include "effect/Parameters.h"
#include "gui/vstgui.h"

namespace kovalith {

class CBiquadControl;

// Colours of the editor: text, panel (backs and frames), pop-up selection and highlighted text.
constexpr VSTGUI::CColor kTextColour{228, 189, 31, 64};
constexpr VSTGUI::CColor kPanelColour{22, 112, 150, 64};
constexpr VSTGUI::CColor kSelectColour{255, 255, 255, 64};
constexpr VSTGUI::CColor kHiliteTextColour{48, 148, 189, 64};

// The window's size when the background can't be loaded, and the knob's.
constexpr int kEditorWidth = layout::kWindowWidth;
constexpr int kEditorHeight = layout::kWindowHeight;
constexpr int kKnobFallbackSize = 30;

// Installs the embedded artwork as the toolkit's resource source, once per process.
void installEditorResources();
// The provider installEditorResources uses (tests put it back after replacing it).
bool editorResourceProvider(int id, const char* name, const unsigned char** data, std::size_t* size);

class KovalithEditor : public VSTGUI::VSTGUIEditorInterface, public VSTGUI::CControlListener {
public:
    // The four controls of one knob group; null for parameters without a knob.
    struct ControlGroup {
        VSTGUI::CTextLabel* caption = nullptr;
        VSTGUI::CKnob* knob = nullptr;
        VSTGUI::CParamDisplay* readout = nullptr;
        VSTGUI::COptionMenu* learnMenu = nullptr;
    };

    explicit KovalithEditor(IEditController* controller);
    // Destroys a frame that is still open and ends the toolkit's use of the platform.
    ~KovalithEditor() override;
    KovalithEditor(const KovalithEditor&) = delete;
    KovalithEditor& operator=(const KovalithEditor&) = delete;

    // The window's size in device pixels: the background picture's times the scale.
    // Controls and the frame keep the picture's coordinates at every scale.
    int width() const;
    int height() const;
    // Device pixels per picture pixel, limited to 1..3 (NaN counts as 1). Before open it is
    // remembered for the next window; while open the window takes it at once.
    void setScale(double scale);
    double scale() const { return scale_; }
    // The window's size in device pixels at `scale` (what renderSnapshot fills).
    int pixelWidthAt(double scale) const;
    int pixelHeightAt(double scale) const;

    // Opens the window as a child of `parentWindow` (an X11 Window id or an HWND). Answers
    // false, leaving nothing behind, for a null or invalid parent, without an X
    // server, or while the window is already open.
    bool open(void* parentWindow);
    // Builds every control into a frame without a window (for drawing offscreen
    // and for tests). False while a frame exists.
    bool openWithoutWindow();
    // Destroys the frame with every view in it.
    void close();
    bool isOpen() const { return frame != nullptr; }
    // Brings the controls up to date with the changes reported since the last
    // idle, then lets the frame handle events and redraw. Calls from inside an
    // idle (a host that idles from a callback) do nothing.
    void idle();
    // Any thread: notes the change for the next idle. Indices outside 0..66 and
    // changes while the window is closed are ignored.
    void setParameter(int index, float value);
    // The host's knob mode (circular, relative circular or linear); every knob
    // follows it. False for another value.
    bool setKnobMode(int mode);
    // Marks the views overlapping `area` (window coordinates) for the next idle.
    void invalidate(const VSTGUI::CRect& area);

    // VSTGUIEditorInterface: drags and clicks are announced to the host as gestures.
    void beginEdit(int tag) override;
    void endEdit(int tag) override;
    int getKnobMode() const override { return knobMode; }

    // CControlListener: a control the user changed.
    void valueChanged(VSTGUI::CControl* control) override;
    // Ctrl-click on a knob, read-out, menu or button resets its parameter to the
    // "Default" program's value; a double click on a knob or its read-out opens the
    // value entry. Answers 1 when it took the click.
    int controlModifierClicked(VSTGUI::CControl* control, int buttons) override;

    // Typed values: a text field over the read-out of knob parameter `index`,
    // holding the read-out's text. Return applies a text that parses (clamped to the
    // range) as one edit gesture; text that does not parse sends nothing and the
    // field stays open, marked refused. Escape or a click elsewhere cancels.
    // False without a knob for the index.
    bool openValueEntry(int index);
    void closeValueEntry();
    VSTGUI::CTextEdit* getValueEntry() const { return valueEntry; }
    // The parameter to its "Default" program value, as one edit gesture.
    void resetToDefault(int index);
    // Shift-drag and Shift-wheel move knobs by a tenth of their normal rate.
    static constexpr float kFineControlFactor = 10.0f;

    // Draws the whole window into `pixels` (width() x height(), 32-bit native
    // 0xAARRGGBB premultiplied words, rows `strideBytes` apart) with the current
    // values, whether the window is open or not. False for a null buffer or a
    // stride too small for a row.
    bool renderSnapshot(uint32_t* pixels, int strideBytes);
    // The same at `scale` (1..3, else false) whatever the editor's own scale: the
    // buffer holds lround(picture size x scale) pixels each way.
    bool renderSnapshot(uint32_t* pixels, int strideBytes, double scale);
    // The same into an offscreen context of the window's size, at the context's scale.
    bool renderSnapshot(VSTGUI::COffscreenContext& context);

    // ---- where the scale comes from: the user's choice > the host's > the system's > 1 ----
    // The host's factor; 0 (or anything not above 0) when the host gives none, and a
    // factor below 1 counts as 1.
    void setHostScale(double factor);
    double hostScale() const { return hostScale_; }
    // The user's choice (kFollowHostOrSystem or one of kUserScaleChoices), written to the
    // settings file for every instance and later session; applied at once.
    void setUserScale(double choice);
    double userScale() const { return userScale_; }
    double systemScaleFactor() const { return systemScale_; }
    // Reads the user's choice and the system's scale where not yet known and applies the
    // scale they resolve to. Shells call it before answering a host's size query; open
    // reads both anew, so a choice made in another instance shows on the next open.
    void refreshScale();
    // How to ask the host to make its window width x height device pixels; called when
    // the scale changes while the window is open. Answers whether the host did.
    void setResizeRequest(std::function<bool(int width, int height)> request);
    // VSTGUIEditorInterface: the window moved to a monitor of another DPI.
    void systemScaleChanged(double scale) override;
    // The panel's scale menu at `where` (frame coordinates): 100 % to 200 % and "Follow
    // host/system", the current choice checked. A right click on the panel's background
    // opens it. False without a window.
    bool popupScaleMenu(const VSTGUI::CPoint& where);
    // The menu of the last popupScaleMenu, while the window is open (tests).
    VSTGUI::COptionMenu* getScaleMenu() const { return scaleMenu; }

    // Applies the changes noted by setParameter. GUI thread; idle calls it.
    void applyPendingChanges();

    // Inspection, for tests and the snapshot: valid while a frame exists.
    const ControlGroup& controlGroup(int index) const { return controlGroups[static_cast<std::size_t>(index)]; }
    VSTGUI::CControl* controlFor(int index) const;
    CBiquadControl* getFilterDisplay() const { return filterDisplay; }
    VSTGUI::COnOffButton* getButton(int index) const;
    VSTGUI::CTooltipSupport* getTooltipSupport() const { return tooltipSupport; }
    int controlCount() const;
    bool hasBackground() const { return backgroundBitmap && backgroundBitmap->isLoaded(); }
    VSTGUI::CFrame* getFrame() const { return frame; }

private:
    enum BitmapSlot { kKnobBody, kKnobHandle, kStereoButton, kPathButton, kNumBitmapSlots };

    bool buildFrame(void* parentWindow);
    void destroyFrame();
    void addKnobGroup(int param, const char* caption, const char* tooltip,
                      VSTGUI::CParamDisplayStringConvert convert);
    void addMenu(const char* const* items, int count, int param, const char* tooltip);
    void addButton(VSTGUI::CBitmap* bitmap, int param, const char* tooltip);
    void addModulationRow(const int* params);
    void addLfoSection(int shape, int sync, int freq, int stereo, const int* row);
    void styleTextControl(VSTGUI::CControl* control) const;
    void setTooltip(VSTGUI::CView* view, const char* text) const;
    void mirror(int index, float passedValue);
    void applyScale();
    void chooseScaleEntry(int entry);
    class ScaleMenuListener;
    void refreshSyncedReadouts();
    bool commitValueEntry(int index, const std::string& text);

    IEditController* controller;
    VSTGUI::CFrame* frame = nullptr;
    int width_ = kEditorWidth;
    int height_ = kEditorHeight;
    double scale_ = 1.0;
    bool inIdle = false;
    bool platformInUse = false;
    int knobMode = VSTGUI::kLinearMode;
    VSTGUI::CBitmap* backgroundBitmap = nullptr;
    std::array<ControlGroup, kNumParams> controlGroups{};
    std::map<int, VSTGUI::CControl*> tagToControl;
    VSTGUI::COptionMenu* delayStereoMenu = nullptr;
    VSTGUI::COptionMenu* delaySyncMenu = nullptr;
    VSTGUI::COptionMenu* lfo1ShapeMenu = nullptr;
    VSTGUI::COptionMenu* lfo1SyncMenu = nullptr;
    VSTGUI::COptionMenu* lfo2ShapeMenu = nullptr;
    VSTGUI::COptionMenu* lfo2SyncMenu = nullptr;
    VSTGUI::COptionMenu* compressorMenu = nullptr;
    VSTGUI::COnOffButton* pingPongButton = nullptr;
    VSTGUI::COnOffButton* lfo1StereoButton = nullptr;
    VSTGUI::COnOffButton* lfo2StereoButton = nullptr;
    CBiquadControl* filterDisplay = nullptr;
    VSTGUI::COptionMenuScheme* menuScheme = nullptr;
    VSTGUI::CTooltipSupport* tooltipSupport = nullptr;
    VSTGUI::CBitmap* bitmaps[kNumBitmapSlots] = {};
    VSTGUI::CCoord knobWidth = kKnobFallbackSize;
    VSTGUI::CCoord knobHeight = kKnobFallbackSize;
    VSTGUI::CTextEdit* valueEntry = nullptr;  // the frame owns it while it is open

    double hostScale_ = 0.0;
    double userScale_ = 0.0;
    double systemScale_ = 0.0;
    double resolvedScale_ = 1.0;  // what applyScale last set; the editor starts at 1
    bool userScaleKnown_ = false;
    bool systemScaleKnown_ = false;
    void* systemScaleWindow_ = nullptr;  // the window whose DPI counts (Windows)
    std::function<bool(int, int)> resizeRequest_;
    VSTGUI::COptionMenu* scaleMenu = nullptr;
    std::unique_ptr<VSTGUI::CControlListener> scaleMenuListener;

    // Filled by setParameter on any thread, emptied by applyPendingChanges.
    std::atomic<bool> accepting{false};
    std::atomic<bool> anyPending{false};
    std::array<std::atomic<bool>, kNumParams> pending{};
    std::array<std::atomic<float>, kNumParams> passedValues{};
};

}  // namespace kovalith
