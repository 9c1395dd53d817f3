#include "editor/KovalithEditor.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "editor/CBiquadControl.h"
#include "editor/EditorLayout.h"
#include "effect/ParameterText.h"
#include "resources/EmbeddedResources.h"

namespace kovalith {

using namespace VSTGUI;

// ---- artwork -------------------------------------------------------------------------

bool editorResourceProvider(int id, const char* name, const unsigned char** data, std::size_t* size) {
    const resources::EmbeddedResource* resource = name ? resources::findResource(name) : resources::findResource(id);
    if (!resource) return false;
    *data = resource->data;
    *size = resource->size;
    return true;
}

void installEditorResources() {
    static std::once_flag installed;
    std::call_once(installed, [] { CBitmap::setResourceProvider(editorResourceProvider); });
}

// ---- layout tables -------------------------------------------------------------------

namespace {

constexpr int kBackgroundId = 101;
constexpr int kStereoButtonId = 104;
constexpr int kPathButtonId = 105;
constexpr const char* kKnobBodyName = "Kovalith_KnobBody.png";
constexpr const char* kKnobHandleName = "Kovalith_KnobHandle.png";

// The artwork is also drawn at these scales, as "<name>_2x.png" and so on; the toolkit
// draws them pixel for pixel there and resamples the nearest larger one in between.
constexpr int kArtworkScales[] = {2, 3};

CBitmap* withScaledArtwork(CBitmap* bitmap, const char* baseName) {
    for (int scale : kArtworkScales) {
        const std::string name = std::string(baseName) + "_" + std::to_string(scale) + "x.png";
        bitmap->addScaledResource(name.c_str(), scale);
    }
    return bitmap;
}
constexpr uint32_t kTooltipDelayMs = 1500;
constexpr int kKnobInset = 8;
// The value the filter display's constructor stores without using.
constexpr int kFilterDisplayStyle = 2;
// The window's ground where the background picture is missing.
constexpr CColor kFallbackGround{226, 218, 196, 255};


struct KnobLayout {
    int param;
    const char* caption;
    const char* tooltip;
    CParamDisplayStringConvert convert;
};

constexpr KnobLayout kSynthesisKnobs[] = {
    {kNumStages, "Stages", "Set the order of the analysis/synthesis filters. Higher values use more CPU",
     formatInteger},
    {kBlockSize, "Block", "Length of analysis block in ms", formatBlockMs},
    {kSmoothing, "Smooth", "Smoothness of blend between each block's filters", nullptr},
    {kAWarp, "Warp", "Frequency warp of analysis filter", nullptr},
    {kARes, "Resonance", "Strength of analysis filter", nullptr},
    {kSaturation, "Saturation", "Saturation of signal after filtering", nullptr},
    {kBufferRate, "BufRate", "Rate of buffer rate playback (cheap pitch shift)", nullptr},
    {kDecimation, "Decimation", "Decimation of signal after filtering", nullptr},
    {kARotate, "Rotate", "Remaps analysis filter's spectrum", nullptr},
    {kSWarp, "Warp", "Frequency warp of synthesis filter", nullptr},
    {kSRes, "Resonance", "Strength of synthesis filter", nullptr},
    {kSRotate, "Rotate", "Remaps synthesis filter's spectrum", nullptr},
};

constexpr KnobLayout kDelayKnobs[] = {
    {kDelay, "Delay", "Delay time (in seconds or tempo-related units)", nullptr},
    {kFeedback, "Feedback", "Feedback gain", nullptr},
};

constexpr KnobLayout kOutputKnobs[] = {
    {kMix, "Mix", "Dry/wet mix", nullptr},
    {kOut, "Out", "Output gain", nullptr},
};

constexpr const char* kLfoFreqTooltip = "LFO frequency in Hertz or in synchronized units";

// The seven destinations of a modulation row, left to right.
using layout::kMatrixColumns;
constexpr const char* kMatrixCaptions[kMatrixColumns] = {"A Warp", "Dec", "BufRate", "S Warp", "S Res", "Gain",
                                                          "Fb Cut"};
constexpr const char* kMatrixTooltips[kMatrixColumns] = {
    "Modulation of analysis warp",      "Modulation of decimation",
    "Modulation of buffer playback rate", "Modulation of synthesis warp",
    "Modulation of synthesis resonance", "Modulation of feedback gain",
    "Modulation of filter cutoff in feedback path"};
constexpr int kLfo1Row[kMatrixColumns] = {kLfo1ToAWarp, kLfo1ToDec, kLfo1ToBufRate, kLfo1ToSWarp,
                                          kLfo1ToSRes,  kLfo1ToGain, kLfo1ToFbCutoff};
constexpr int kLfo2Row[kMatrixColumns] = {kLfo2ToAWarp, kLfo2ToDec, kLfo2ToBufRate, kLfo2ToSWarp,
                                          kLfo2ToSRes,  kLfo2ToGain, kLfo2ToFbCutoff};
constexpr int kEnvRow[kMatrixColumns] = {kEnvToAWarp, kEnvToDec, kEnvToBufRate, kEnvToSWarp,
                                         kEnvToSRes,  kEnvToGain, kEnvToFbCutoff};

constexpr CRect rectOf(const layout::Box& box) { return CRect(box.left, box.top, box.right, box.bottom); }

// Read-outs show engineering values, which go far beyond a knob's 0..1.
constexpr float kReadoutRange = 1e30f;

// A caption that keeps long words whole: text wider than the label is narrowed
// to fit (the font's height stays), where plain clipping would cut off its ends.
class CCaptionLabel : public CTextLabel {
public:
    using CTextLabel::CTextLabel;

    void draw(CDrawContext* context) override {
        const char* text = getText();
        context->setFont(getFont());
        const double available = getWidth() - 2.0 * kCaptionMargin;
        const double needed = context->getStringWidth(text);
        if (needed <= available || needed <= 0.0) {
            CTextLabel::draw(context);
            return;
        }
        drawText(context, "");  // background and frame
        context->setFontColor(getFontColor());
        context->drawNarrowedString(text, getViewSize(), available / needed);
    }

private:
    static constexpr int kCaptionMargin = 1;
};

// The LFO whose "LFO Freq" read-out follows a sync parameter, or -1.
int lfoFreqOfSync(int param) {
    if (param == kLfo1Sync) return kLfo1Freq;
    if (param == kLfo2Sync) return kLfo2Freq;
    return -1;
}

}  // namespace

// ---- life cycle ----------------------------------------------------------------------

KovalithEditor::KovalithEditor(IEditController* controller) : controller(controller) {
    installEditorResources();
    menuScheme = new COptionMenuScheme;
    for (auto& flag : pending) flag.store(false, std::memory_order_relaxed);
    for (auto& value : passedValues) value.store(0.0f, std::memory_order_relaxed);
    backgroundBitmap = withScaledArtwork(new CBitmap(kBackgroundId), "Kovalith_Background");
    // Without its picture the window keeps the size the picture has.
    if (backgroundBitmap->isLoaded()) {
        width_ = static_cast<int>(backgroundBitmap->getWidth());
        height_ = static_cast<int>(backgroundBitmap->getHeight());
    }
}

KovalithEditor::~KovalithEditor() {
    close();
    backgroundBitmap->forget();
    menuScheme->forget();
    if (platformInUse) platformUninitialize();
}

int KovalithEditor::width() const { return pixelWidthAt(scale_); }
int KovalithEditor::height() const { return pixelHeightAt(scale_); }
int KovalithEditor::pixelWidthAt(double scale) const { return static_cast<int>(std::lround(width_ * scale)); }
int KovalithEditor::pixelHeightAt(double scale) const { return static_cast<int>(std::lround(height_ * scale)); }

void KovalithEditor::setScale(double scale) {
    scale_ = std::isnan(scale) ? kMinScale : std::min(std::max(scale, kMinScale), kMaxScale);
    if (frame) frame->setScale(scale_);
}

bool KovalithEditor::open(void* parentWindow) {
    if (frame || !parentWindow) return false;
    // The toolkit's use of the platform (OLE on Windows) starts with the first window.
    if (!platformInUse) platformInUse = platformInitialize();
    // The window opens at the scale of now: another instance's choice, this monitor's DPI.
    const int widthBefore = width(), heightBefore = height();
    userScaleKnown_ = systemScaleKnown_ = false;
    systemScaleWindow_ = parentWindow;
    refreshScale();
    if (!buildFrame(parentWindow)) return false;
    frame->setBackgroundClickHandler([this](const CPoint& where, const CButtonState& buttons) {
        return buttons.isRightButton() && popupScaleMenu(where);
    });
    if ((width() != widthBefore || height() != heightBefore) && resizeRequest_) resizeRequest_(width(), height());
    return true;
}

bool KovalithEditor::openWithoutWindow() {
    if (frame) return false;
    return buildFrame(nullptr);
}

void KovalithEditor::close() { destroyFrame(); }

void KovalithEditor::destroyFrame() {
    accepting.store(false, std::memory_order_release);
    closeValueEntry();
    delete frame;  // releases every control
    frame = nullptr;
    if (scaleMenu) scaleMenu->forget();  // its list closed with the frame
    scaleMenu = nullptr;
    controlGroups.fill(ControlGroup{});
    tagToControl.clear();
    delayStereoMenu = delaySyncMenu = nullptr;
    lfo1ShapeMenu = lfo1SyncMenu = lfo2ShapeMenu = lfo2SyncMenu = compressorMenu = nullptr;
    pingPongButton = lfo1StereoButton = lfo2StereoButton = nullptr;
    filterDisplay = nullptr;
    if (tooltipSupport) tooltipSupport->forget();
    tooltipSupport = nullptr;
    anyPending.store(false, std::memory_order_relaxed);
    for (auto& flag : pending) flag.store(false, std::memory_order_relaxed);
}

// ---- building the window -------------------------------------------------------------

bool KovalithEditor::buildFrame(void* parentWindow) {
    const CRect size(0, 0, width_, height_);
    frame = new CFrame(size, parentWindow, this, scale_);
    if (parentWindow && !frame->isOpen()) {
        delete frame;  // no display, or not a window we can use
        frame = nullptr;
        return false;
    }
    // From here on changes are noted; the controls below read the values after that.
    anyPending.store(false, std::memory_order_relaxed);
    for (auto& flag : pending) flag.store(false, std::memory_order_relaxed);
    accepting.store(true, std::memory_order_release);

    const CFontDesc font{"Arial", 11.0, kNormalFace};
    menuScheme->setFont(font);
    menuScheme->setColors(kPanelColour, kSelectColour, kTextColour, kHiliteTextColour, kTextColour);

    if (backgroundBitmap->isLoaded())
        frame->setBackground(backgroundBitmap);
    else
        frame->setBackgroundColor(kFallbackGround);

    tooltipSupport = new CTooltipSupport(kTooltipDelayMs);
    frame->setMouseObserver(tooltipSupport);

    bitmaps[kKnobHandle] = withScaledArtwork(new CBitmap(kKnobHandleName), "Kovalith_KnobHandle");
    bitmaps[kKnobBody] = withScaledArtwork(new CBitmap(kKnobBodyName), "Kovalith_KnobBody");
    bitmaps[kStereoButton] = withScaledArtwork(new CBitmap(kStereoButtonId), "Kovalith_StereoButton");
    bitmaps[kPathButton] = withScaledArtwork(new CBitmap(kPathButtonId), "Kovalith_PathButton");
    // Knob rectangles take the body's size, or that of the artwork when it can't be loaded.
    const bool bodyLoaded = bitmaps[kKnobBody]->isLoaded();
    knobWidth = bodyLoaded ? bitmaps[kKnobBody]->getWidth() : kKnobFallbackSize;
    knobHeight = bodyLoaded ? bitmaps[kKnobBody]->getHeight() : kKnobFallbackSize;

    for (const KnobLayout& k : kSynthesisKnobs) addKnobGroup(k.param, k.caption, k.tooltip, k.convert);
    for (const KnobLayout& k : kDelayKnobs) addKnobGroup(k.param, k.caption, k.tooltip, k.convert);

    filterDisplay = new CBiquadControl(rectOf(layout::kFilterDisplayBox), this, kCutoff, kLearnCommandBase + kCutoff, kFilterType,
                                       frame, kPanelColour, kTextColour, kTextColour, kFilterDisplayStyle);
    tagToControl[kResonance] = filterDisplay;
    tagToControl[kFilterType] = filterDisplay;
    tagToControl[kCutoff] = filterDisplay;
    filterDisplay->setZoomFactor(kFineControlFactor);
    setTooltip(filterDisplay, "Set characteristic of filter in feedback path. Right click for filter types");
    mirror(kFilterType, controller->parameterValue(kFilterType));
    frame->addView(filterDisplay);

    addMenu(kStereoMultLabels, kNumStereoMultipliers, kDelayStereoMult,
            "Length of right-channel delay (relative to left)");
    delayStereoMenu = static_cast<COptionMenu*>(tagToControl[kDelayStereoMult]);
    addMenu(kSyncLabels, kNumSyncDivisions, kDelaySync, "Synchronize delays to tempo");
    delaySyncMenu = static_cast<COptionMenu*>(tagToControl[kDelaySync]);
    addButton(bitmaps[kPathButton], kPingPong,
              "Feedback normal or ping-pong (right->left, left->right)");
    pingPongButton = static_cast<COnOffButton*>(tagToControl[kPingPong]);

    for (const KnobLayout& k : kOutputKnobs) addKnobGroup(k.param, k.caption, k.tooltip, k.convert);

    addLfoSection(kLfo1Shape, kLfo1Sync, kLfo1Freq, kLfo1Stereo, kLfo1Row);
    lfo1ShapeMenu = static_cast<COptionMenu*>(tagToControl[kLfo1Shape]);
    lfo1SyncMenu = static_cast<COptionMenu*>(tagToControl[kLfo1Sync]);
    lfo1StereoButton = static_cast<COnOffButton*>(tagToControl[kLfo1Stereo]);
    addLfoSection(kLfo2Shape, kLfo2Sync, kLfo2Freq, kLfo2Stereo, kLfo2Row);
    lfo2ShapeMenu = static_cast<COptionMenu*>(tagToControl[kLfo2Shape]);
    lfo2SyncMenu = static_cast<COptionMenu*>(tagToControl[kLfo2Sync]);
    lfo2StereoButton = static_cast<COnOffButton*>(tagToControl[kLfo2Stereo]);

    addKnobGroup(kEnvAttack, "Env. Att", "Attack (s)", formatTime);
    addKnobGroup(kEnvRelease, "Env. Rel", "Release (s)", formatTime);
    addModulationRow(kEnvRow);

    addMenu(kCompressorLevelNames, kNumCompressorLevels, kCompressorType, "Compression level");
    compressorMenu = static_cast<COptionMenu*>(tagToControl[kCompressorType]);

    // Each "LFO Freq" read-out counts sync units while its LFO is synced.
    for (int sync : {kLfo1Sync, kLfo2Sync}) {
        CParamDisplay* readout = controlGroups[static_cast<std::size_t>(lfoFreqOfSync(sync))].readout;
        readout->setStringConvert(controller->syncedValue(sync) > 0.5f ? formatSyncUnits : formatHertz);
    }

    // The controls hold their own references now.
    for (CBitmap*& bitmap : bitmaps) {
        bitmap->forget();
        bitmap = nullptr;
    }
    return true;
}

void KovalithEditor::styleTextControl(CControl* control) const {
    control->setFont("Arial", 11, kNormalFace);
    control->setFontColor(kTextColour);
    control->setBackColor(kPanelColour);
    control->setFrameColor(kPanelColour);
}

void KovalithEditor::setTooltip(CView* view, const char* text) const {
    if (text) view->setAttribute(kCViewTooltipAttribute, static_cast<int>(std::strlen(text) + 1), text);
}

void KovalithEditor::addKnobGroup(int param, const char* caption, const char* tooltip,
                                  CParamDisplayStringConvert convert) {
    ControlGroup& group = controlGroups[static_cast<std::size_t>(param)];
    const layout::KnobAnchor anchor = layout::knobAnchorOf(param);
    const int x = anchor.x, y = anchor.y;
    const CRect captionRect = rectOf(layout::captionBox(x, y));

    group.caption = new CCaptionLabel(captionRect, caption, nullptr, 0);
    styleTextControl(group.caption);
    frame->addView(group.caption);

    group.knob = new CKnob(rectOf(layout::knobBox(x, y, knobWidth, knobHeight)), this, param, bitmaps[kKnobBody],
                           bitmaps[kKnobHandle], CPoint(0, 0));
    group.knob->setValue(controller->parameterValue(param));
    group.knob->setInsetValue(kKnobInset);
    group.knob->setZoomFactor(kFineControlFactor);
    tagToControl[param] = group.knob;
    frame->addView(group.knob);

    group.readout = new CParamDisplay(rectOf(layout::readoutBox(x, y)), nullptr, 0);
    styleTextControl(group.readout);
    group.readout->setMin(-kReadoutRange);
    group.readout->setMax(kReadoutRange);
    group.readout->setValue(controller->syncedValue(param));
    // Tells the editor of double clicks and Ctrl-clicks; a read-out changes no value.
    group.readout->setListener(this);
    group.readout->setTag(param);
    frame->addView(group.readout);

    setTooltip(group.knob, tooltip);
    if (convert) group.readout->setStringConvert(convert);

    // Lies over the caption and draws nothing: a click on a caption opens it.
    group.learnMenu = new COptionMenu(captionRect, this, kLearnCommandBase + param, nullptr, nullptr, kNoDrawStyle);
    group.learnMenu->addEntry("Learn Midi");
    group.learnMenu->addEntry("Forget Midi");
    group.learnMenu->setScheme(menuScheme);
    styleTextControl(group.learnMenu);
    frame->addView(group.learnMenu);
}

void KovalithEditor::addMenu(const char* const* items, int count, int param, const char* tooltip) {
    auto* menu = new COptionMenu(rectOf(layout::controlBoxOf(param)), this, param, nullptr, nullptr, 0);
    menu->setScheme(menuScheme);
    styleTextControl(menu);
    for (int i = 0; i < count; ++i) menu->addEntry(items[i]);
    tagToControl[param] = menu;
    menu->setValue(controller->parameterValue(param));
    setTooltip(menu, tooltip);
    frame->addView(menu);
}

void KovalithEditor::addButton(CBitmap* bitmap, int param, const char* tooltip) {
    auto* button = new COnOffButton(rectOf(layout::controlBoxOf(param)), this, param, bitmap, 0);
    tagToControl[param] = button;
    button->setValue(controller->parameterValue(param));
    setTooltip(button, tooltip);
    frame->addView(button);
}

// One LFO's row of the modulation panel: shape and sync menus, the frequency
// knob, the stereo button and its matrix row.
void KovalithEditor::addLfoSection(int shape, int sync, int freq, int stereo, const int* row) {
    addMenu(kLfoShapeNames, kNumLfoShapes, shape, "LFO Shape");
    addMenu(kSyncLabels, kNumSyncDivisions, sync, "Synchronize LFO to tempo");
    addKnobGroup(freq, "LFO Freq", kLfoFreqTooltip, formatHertz);
    addButton(bitmaps[kStereoButton], stereo, "LFO phase (mono/stereo)");
    addModulationRow(row);
}

void KovalithEditor::addModulationRow(const int* params) {
    for (int column = 0; column < kMatrixColumns; ++column)
        addKnobGroup(params[column], kMatrixCaptions[column], kMatrixTooltips[column], nullptr);
}

// ---- changes from the user -----------------------------------------------------------

void KovalithEditor::valueChanged(CControl* control) {
    if (!control) return;
    const int tag = control->getTag();
    const float value = control->getValue();
    if (tag >= kLearnCommandBase) {
        // A MIDI-learn command: not a parameter, so not automation.
        controller->learnCommand(tag - kLearnCommandBase, value);
    } else if (tag == kCutoff || tag == kResonance) {
        float cutoff = 0.0f, q = 0.0f;
        int type = 0;
        filterDisplay->getFilter(&cutoff, &q, &type);
        controller->performEdit(kCutoff, cutoff);
        controller->performEdit(kResonance, q);
        controller->performEdit(kFilterType, static_cast<float>(type) * 0.1f);
    } else if (tag == kFilterType) {
        if (value > static_cast<float>(CBiquadControl::kNumFilterTypes - 1)) return;
        // The type is stored as its number divided by ten.
        controller->performEdit(kFilterType, value * 0.1f);
    } else {
        controller->performEdit(tag, value);
    }
    control->setDirty();
    // The effect reported the change back; show it in the same redraw.
    applyPendingChanges();
}

// ---- changes from the effect ---------------------------------------------------------

void KovalithEditor::setParameter(int index, float value) {
    if (!accepting.load(std::memory_order_acquire) || !isParameterIndex(index)) return;
    const auto i = static_cast<std::size_t>(index);
    passedValues[i].store(value, std::memory_order_relaxed);
    pending[i].store(true, std::memory_order_release);
    anyPending.store(true, std::memory_order_release);
}

void KovalithEditor::applyPendingChanges() {
    if (!frame || !anyPending.exchange(false, std::memory_order_acq_rel)) return;
    for (int index = 0; index < kNumParams; ++index) {
        const auto i = static_cast<std::size_t>(index);
        if (pending[i].exchange(false, std::memory_order_acq_rel))
            mirror(index, passedValues[i].load(std::memory_order_relaxed));
    }
}

void KovalithEditor::mirror(int index, float passedValue) {
    const auto shown = tagToControl.find(index);
    if (shown != tagToControl.end()) {
        if (index == kFilterType || index == kCutoff || index == kResonance) {
            // Limited first: the float-to-int conversion of a huge value is undefined.
            const float scaled = std::min(std::max(controller->parameterValue(kFilterType) * 10.0f, -1000.0f), 1000.0f);
            filterDisplay->setFilter(controller->parameterValue(kCutoff), controller->parameterValue(kResonance),
                                     static_cast<int>(std::trunc(scaled + 0.5f)));
        } else {
            shown->second->setValue(controller->parameterValue(index));
        }
        shown->second->setDirty();
    }
    const int lfoFreq = lfoFreqOfSync(index);
    if (lfoFreq >= 0) {
        CParamDisplay* readout = controlGroups[static_cast<std::size_t>(lfoFreq)].readout;
        readout->setStringConvert(passedValue >= 0.5f ? formatSyncUnits : formatHertz);
        readout->setDirty();
    }
    // A sync change changes what the frequency and delay read-outs count.
    if (lfoFreq >= 0 || index == kDelaySync) refreshSyncedReadouts();
    const ControlGroup& group = controlGroups[static_cast<std::size_t>(index)];
    if (group.knob && group.readout) {
        group.readout->setValue(controller->syncedValue(index));
        group.readout->setDirty();
    }
}

// The synced read-outs also follow the host's tempo, which arrives with no parameter change.
void KovalithEditor::refreshSyncedReadouts() {
    for (int index : {kDelay, kLfo1Freq, kLfo2Freq}) {
        CParamDisplay* readout = controlGroups[static_cast<std::size_t>(index)].readout;
        if (!readout) continue;
        const float value = controller->syncedValue(index);
        if (std::isnan(value) || value == readout->getValue()) continue;
        readout->setValue(value);
        readout->setDirty();
    }
}

// ---- idle and drawing ----------------------------------------------------------------

void KovalithEditor::idle() {
    if (!frame || inIdle) return;
    inIdle = true;
    applyPendingChanges();
    refreshSyncedReadouts();
    frame->idle();
    inIdle = false;
}

bool KovalithEditor::setKnobMode(int mode) {
    if (mode != kCircularMode && mode != kRelativCircularMode && mode != kLinearMode) return false;
    knobMode = mode;
    return true;
}

void KovalithEditor::invalidate(const CRect& area) {
    if (!frame) return;
    for (int i = 0; i < frame->getNbViews(); ++i)
        if (CView* view = frame->getView(i); view && view->getViewSize().rectOverlap(area)) view->setDirty();
}

// Only parameter tags are gestures the host knows; the learn menus carry command tags.
void KovalithEditor::beginEdit(int tag) {
    if (isParameterIndex(tag)) controller->beginEdit(tag);
}

void KovalithEditor::endEdit(int tag) {
    if (isParameterIndex(tag)) controller->endEdit(tag);
}

bool KovalithEditor::renderSnapshot(COffscreenContext& context) {
    const bool temporary = frame == nullptr;
    if (temporary && !openWithoutWindow()) return false;
    applyPendingChanges();
    refreshSyncedReadouts();
    context.saveGlobalState();
    frame->draw(&context);
    context.restoreGlobalState();
    if (temporary)
        destroyFrame();
    else
        frame->setDirty();  // drawing here took dirty marks the window still needs
    return true;
}

bool KovalithEditor::renderSnapshot(uint32_t* pixels, int strideBytes) {
    return renderSnapshot(pixels, strideBytes, scale_);
}

bool KovalithEditor::renderSnapshot(uint32_t* pixels, int strideBytes, double scale) {
    if (!(scale >= kMinScale && scale <= kMaxScale)) return false;
    COffscreenContext context(width_, height_, scale);
    const int width = context.getPixelWidth();
    const int height = context.getPixelHeight();
    if (!pixels || strideBytes < width * 4) return false;
    if (!renderSnapshot(context)) return false;
    int sourceStride = 0;
    const auto* source = reinterpret_cast<const unsigned char*>(context.getPixels(sourceStride));
    if (!source) return false;
    auto* target = reinterpret_cast<unsigned char*>(pixels);
    for (int y = 0; y < height; ++y)
        std::memcpy(target + static_cast<std::size_t>(y) * static_cast<std::size_t>(strideBytes),
                    source + static_cast<std::size_t>(y) * static_cast<std::size_t>(sourceStride),
                    static_cast<std::size_t>(width) * 4);
    return true;
}

// ---- inspection ----------------------------------------------------------------------

CControl* KovalithEditor::controlFor(int index) const {
    const auto found = tagToControl.find(index);
    return found == tagToControl.end() ? nullptr : found->second;
}

COnOffButton* KovalithEditor::getButton(int index) const { return dynamic_cast<COnOffButton*>(controlFor(index)); }

int KovalithEditor::controlCount() const { return frame ? frame->getNbViews() : 0; }

}  // namespace kovalith
