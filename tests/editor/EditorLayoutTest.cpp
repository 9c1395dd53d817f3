// Where every control of the window lies, what it shows and what its menus hold.
#include "EditorTestSupport.h"

#include <cstring>
#include <set>
#include <string>

namespace editortest {
namespace {

struct ExpectedKnob {
    int param;
    const char* caption;
    const char* tooltip;
};

const ExpectedKnob kKnobs[] = {
    {2, "Stages", "Set the order of the analysis/synthesis filters. Higher values use more CPU"},
    {1, "Block", "Length of analysis block in ms"},
    {3, "Smooth", "Smoothness of blend between each block's filters"},
    {4, "Warp", "Frequency warp of analysis filter"},
    {5, "Resonance", "Strength of analysis filter"},
    {9, "Saturation", "Saturation of signal after filtering"},
    {11, "BufRate", "Rate of buffer rate playback (cheap pitch shift)"},
    {10, "Decimation", "Decimation of signal after filtering"},
    {6, "Rotate", "Remaps analysis filter's spectrum"},
    {13, "Warp", "Frequency warp of synthesis filter"},
    {15, "Resonance", "Strength of synthesis filter"},
    {14, "Rotate", "Remaps synthesis filter's spectrum"},
    {16, "Delay", "Delay time (in seconds or tempo-related units)"},
    {17, "Feedback", "Feedback gain"},
    {58, "Mix", "Dry/wet mix"},
    {57, "Out", "Output gain"},
    {27, "LFO Freq", "LFO frequency in Hertz or in synchronized units"},
    {32, "LFO Freq", "LFO frequency in Hertz or in synchronized units"},
    {24, "Env. Att", "Attack (s)"},
    {25, "Env. Rel", "Release (s)"},
};

const char* const kRowCaptions[7] = {"A Warp", "Dec", "BufRate", "S Warp", "S Res", "Gain", "Fb Cut"};
const char* const kRowTooltips[7] = {"Modulation of analysis warp",       "Modulation of decimation",
                                     "Modulation of buffer playback rate", "Modulation of synthesis warp",
                                     "Modulation of synthesis resonance",  "Modulation of feedback gain",
                                     "Modulation of filter cutoff in feedback path"};
const int kRows[3][7] = {{47, 45, 46, 43, 44, 48, 49}, {54, 52, 53, 50, 51, 55, 56}, {40, 38, 39, 36, 37, 41, 42}};

std::vector<ExpectedKnob> allKnobs() {
    std::vector<ExpectedKnob> knobs(std::begin(kKnobs), std::end(kKnobs));
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 7; ++column)
            knobs.push_back({kRows[row][column], kRowCaptions[column], kRowTooltips[column]});
    return knobs;
}

CRect rectOf(const layout::Box& b) { return CRect(b.left, b.top, b.right, b.bottom); }

std::string tooltipOf(const CView* view) {
    const char* text = view ? view->getAttributeText(kCViewTooltipAttribute) : nullptr;
    return text ? text : "<none>";
}

std::vector<std::string> entriesOf(const COptionMenu* menu) {
    std::vector<std::string> texts;
    for (int i = 0; i < menu->getNbEntries(); ++i) texts.push_back(menu->getEntryText(i));
    return texts;
}

void expectTextStyle(const CControl* control, const char* what) {
    EXPECT_TRUE(control->getFontColor().sameRGB(kTextColour)) << what;
    EXPECT_TRUE(control->getBackColor().sameRGB(kPanelColour)) << what;
    EXPECT_TRUE(control->getFrameColor().sameRGB(kPanelColour)) << what;
    EXPECT_EQ(control->getFont(), (CFontDesc{"Arial", 11.0, kNormalFace})) << what;
}

TEST_F(EditorFixture, WindowRectangleComesFromTheBackground) {
    vst2::ERect* rect = nullptr;
    ASSERT_TRUE(effect->getEditor()->getRect(&rect));
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->bottom, 479);
    EXPECT_EQ(rect->right, 659);
    EXPECT_EQ(editor->width(), 659);
    EXPECT_EQ(editor->height(), 479);
    EXPECT_TRUE(editor->hasBackground());
    EXPECT_EQ(frame->getViewSize(), CRect(0, 0, 659, 479));
}

TEST_F(EditorFixture, FortyOneKnobGroupsAtTheirAnchors) {
    const std::vector<ExpectedKnob> knobs = allKnobs();
    ASSERT_EQ(knobs.size(), 41u);
    std::set<int> withKnob;
    for (const ExpectedKnob& k : knobs) {
        SCOPED_TRACE(std::string("parameter ") + std::to_string(k.param) + " " + k.caption);
        withKnob.insert(k.param);
        const layout::KnobAnchor anchor = layout::knobAnchorOf(k.param);
        ASSERT_EQ(anchor.param, k.param) << "no place in the layout";
        const KovalithEditor::ControlGroup& g = editor->controlGroup(k.param);
        ASSERT_NE(g.caption, nullptr);
        ASSERT_NE(g.knob, nullptr);
        ASSERT_NE(g.readout, nullptr);
        ASSERT_NE(g.learnMenu, nullptr);

        EXPECT_EQ(g.caption->getViewSize(), rectOf(layout::captionBox(anchor.x, anchor.y)));
        EXPECT_STREQ(g.caption->getText(), k.caption);
        expectTextStyle(g.caption, "caption");

        EXPECT_EQ(g.knob->getViewSize(), rectOf(layout::knobBox(anchor.x, anchor.y)));
        EXPECT_EQ(g.knob->getTag(), k.param);
        EXPECT_EQ(g.knob->getInsetValue(), 8);
        EXPECT_EQ(g.knob->getListener(), editor);
        EXPECT_EQ(editor->controlFor(k.param), g.knob);
        EXPECT_EQ(tooltipOf(g.knob), k.tooltip);
        EXPECT_FLOAT_EQ(g.knob->getValue(), effect->getParameter(k.param));

        EXPECT_EQ(g.readout->getViewSize(), rectOf(layout::readoutBox(anchor.x, anchor.y)));
        expectTextStyle(g.readout, "read-out");
        EXPECT_FLOAT_EQ(g.readout->getValue(), effect->getSyncedValue(k.param));

        // The learn menu covers the caption, is not drawn and carries the learn command's tag.
        EXPECT_EQ(g.learnMenu->getViewSize(), g.caption->getViewSize());
        EXPECT_EQ(g.learnMenu->getTag(), k.param + 68);
        EXPECT_EQ(g.learnMenu->getStyle(), kNoDrawStyle);
        EXPECT_EQ(entriesOf(g.learnMenu), (std::vector<std::string>{"Learn Midi", "Forget Midi"}));
        std::vector<CView*> hit;
        frame->collectViewsAt(centreOf(g.caption->getViewSize()), hit);
        ASSERT_FALSE(hit.empty());
        EXPECT_EQ(hit.front(), g.learnMenu) << "a click on the caption opens the learn menu";
    }
    // Every other parameter has no knob group.
    for (int p = 0; p < kNumParams; ++p) {
        if (withKnob.count(p)) continue;
        const KovalithEditor::ControlGroup& g = editor->controlGroup(p);
        EXPECT_TRUE(!g.caption && !g.knob && !g.readout && !g.learnMenu) << "parameter " << p;
    }
}

TEST_F(EditorFixture, ParametersWithoutAnyControl) {
    for (int p : {0, 7, 8, 12, 28, 33, 59, 60, 61, 62, 63, 64, 66}) EXPECT_EQ(editor->controlFor(p), nullptr) << p;
    // 41 groups of four views, the filter display, seven menus and three buttons.
    EXPECT_EQ(editor->controlCount(), 41 * 4 + 1 + 7 + 3);
}

TEST_F(EditorFixture, ReadOutFormatsOfTheirGroups) {
    char text[kParamDisplayTextSize];
    auto shown = [&](int param, float value) {
        CParamDisplay* readout = editor->controlGroup(param).readout;
        readout->setValue(value);
        return readout->getDisplayText();
    };
    EXPECT_EQ(shown(kEnvAttack, 0.25f), "250.00 ms");
    EXPECT_EQ(shown(kEnvAttack, 1.5f), "1.500 s");
    EXPECT_EQ(shown(kEnvAttack, 1.0f), "1.000 s");
    EXPECT_EQ(shown(kEnvRelease, 0.0f), "0.00 ms");
    EXPECT_EQ(shown(kBlockSize, 0.0464f), "46.4 ms");
    EXPECT_EQ(shown(kNumStages, 7.9f), "7");
    EXPECT_EQ(shown(kFeedback, 0.25f), "0.25");
    EXPECT_EQ(shown(kLfo1ToGain, -0.5f), "-0.50");
    // Read-outs show engineering values, not limited to a knob's range.
    EXPECT_EQ(shown(kNumStages, 70.0f), "70");

    formatSyncUnits(0.0f, text);
    EXPECT_STREQ(text, "--");
    formatSyncUnits(-3.0f, text);
    EXPECT_STREQ(text, "--");
    formatSyncUnits(4.9f, text);
    EXPECT_STREQ(text, "4");
    formatInteger(-2.7f, text);
    EXPECT_STREQ(text, "-2");
    formatInteger(1e20f, text);  // beyond int: no undefined conversion
    EXPECT_STREQ(text, "2147483647");
    formatHertz(0.05f, text);
    EXPECT_STREQ(text, "0.05 Hz");
    formatTime(0.999f, text);
    EXPECT_STREQ(text, "999.00 ms");
}

TEST_F(EditorFixture, ReadOutsFollowTheEffectsEngineeringValues) {
    // Env. Attack is v^3 seconds: v = 0.5 gives 125 ms.
    effect->setParameter(kEnvAttack, 0.5f);
    editor->idle();
    EXPECT_EQ(editor->controlGroup(kEnvAttack).readout->getDisplayText(), "125.00 ms");
    // "# Stages" is 69 v + 1.
    effect->setParameter(kNumStages, 0.1f);
    editor->idle();
    EXPECT_EQ(editor->controlGroup(kNumStages).readout->getDisplayText(), "7");
}

TEST_F(EditorFixture, OptionMenusWithTheirLists) {
    struct ExpectedMenu {
        int param;
        std::vector<std::string> entries;
        const char* tooltip;
    };
    const std::vector<std::string> shapes = {"sine", "tri", "saw up", "saw dn", "square", "exp", "s & h", "rand"};
    const std::vector<std::string> sync = {"off",    "4/1",    "1/1",   "1/2",   "1/4",  "1/8",  "1/16",  "1/32",
                                           "1/64",   "1/4 T",  "1/8 T", "1/16 T", "1/4 D", "1/8 D", "1/16 D"};
    const std::vector<std::string> stereo = {"1",   "3/4",  "2/3", "1/2",  "2/5",  "3/8", "1/3",
                                             "1/4", "3/16", "1/8", "3/32", "1/16", "1/32"};
    const ExpectedMenu menus[] = {
        {21, stereo, "Length of right-channel delay (relative to left)"},
        {22, sync, "Synchronize delays to tempo"},
        {26, shapes, "LFO Shape"},
        {30, sync, "Synchronize LFO to tempo"},
        {31, shapes, "LFO Shape"},
        {35, sync, "Synchronize LFO to tempo"},
        {65, {"off", "weak", "medium", "strong", "insane"}, "Compression level"},
    };
    for (const ExpectedMenu& m : menus) {
        SCOPED_TRACE("parameter " + std::to_string(m.param));
        auto* menu = dynamic_cast<COptionMenu*>(editor->controlFor(m.param));
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu->getViewSize(), rectOf(layout::controlBoxOf(m.param)));
        EXPECT_EQ(menu->getTag(), m.param);
        EXPECT_EQ(menu->getStyle(), 0);
        EXPECT_EQ(entriesOf(menu), m.entries);
        EXPECT_EQ(tooltipOf(menu), m.tooltip);
        expectTextStyle(menu, "menu");
        EXPECT_EQ(menu->getCurrent(), static_cast<int>(effect->effect().getParameter(m.param)));
        ASSERT_NE(menu->getScheme(), nullptr);
    }
    // One scheme, with the editor's colours, for every list.
    const COptionMenuScheme* scheme = static_cast<COptionMenu*>(editor->controlFor(22))->getScheme();
    EXPECT_EQ(static_cast<COptionMenu*>(editor->controlFor(65))->getScheme(), scheme);
    EXPECT_EQ(editor->controlGroup(17).learnMenu->getScheme(), scheme);
    EXPECT_TRUE(scheme->getBackgroundColor().sameRGB(kPanelColour));
    EXPECT_TRUE(scheme->getSelectionColor().sameRGB(kSelectColour));
    EXPECT_TRUE(scheme->getTextColor().sameRGB(kTextColour));
    EXPECT_TRUE(scheme->getHiliteTextColor().sameRGB(kHiliteTextColour));
    EXPECT_TRUE(scheme->getDisabledTextColor().sameRGB(kTextColour));
    // The lists are the effect's own labels.
    EXPECT_EQ(sync, std::vector<std::string>(std::begin(kSyncLabels), std::end(kSyncLabels)));
    EXPECT_EQ(stereo, std::vector<std::string>(std::begin(kStereoMultLabels), std::end(kStereoMultLabels)));
}

TEST_F(EditorFixture, ButtonsAndTheFilterDisplay) {
    struct ExpectedButton {
        int param;
        const char* tooltip;
    };
    const ExpectedButton buttons[] = {
        {23, "Feedback normal or ping-pong (right->left, left->right)"},
        {29, "LFO phase (mono/stereo)"},
        {34, "LFO phase (mono/stereo)"},
    };
    for (const ExpectedButton& b : buttons) {
        COnOffButton* button = editor->getButton(b.param);
        ASSERT_NE(button, nullptr) << b.param;
        const CRect rect = rectOf(layout::controlBoxOf(b.param));
        EXPECT_EQ(button->getViewSize(), rect);
        EXPECT_EQ(button->getTag(), b.param);
        EXPECT_EQ(tooltipOf(button), b.tooltip);
        EXPECT_FLOAT_EQ(button->getValue(), effect->getParameter(b.param));
        ASSERT_NE(button->getBackground(), nullptr);
        EXPECT_TRUE(button->getBackground()->isLoaded());
        EXPECT_EQ(button->getBackground()->getHeight(), 2 * rect.height()) << "two frames stacked";
    }
    CBiquadControl* display = editor->getFilterDisplay();
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(display->getViewSize(), rectOf(layout::kFilterDisplayBox));
    for (int p : {18, 19, 20}) EXPECT_EQ(editor->controlFor(p), display) << p;
    EXPECT_EQ(tooltipOf(display), "Set characteristic of filter in feedback path. Right click for filter types");
    float cutoff, q;
    int type;
    display->getFilter(&cutoff, &q, &type);
    EXPECT_FLOAT_EQ(cutoff, effect->getParameter(kCutoff));
    EXPECT_FLOAT_EQ(q, effect->getParameter(kResonance));
    EXPECT_EQ(type, static_cast<int>(effect->getParameter(kFilterType) * 10.0f + 0.5f));
}

TEST_F(EditorFixture, TooltipsWaitTheirDelay) {
    ASSERT_NE(editor->getTooltipSupport(), nullptr);
    EXPECT_EQ(editor->getTooltipSupport()->getDelay(), 1500u);
    EXPECT_EQ(frame->getMouseObserver(), editor->getTooltipSupport());
    // Resting on the Feedback knob makes its text pending.
    move(centreOf(editor->controlGroup(kFeedback).knob->getViewSize()), 0);
    ASSERT_NE(editor->getTooltipSupport()->getPendingText(), nullptr);
    EXPECT_STREQ(editor->getTooltipSupport()->getPendingText(), "Feedback gain");
}

}  // namespace
}  // namespace editortest
