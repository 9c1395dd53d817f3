// The feedback filter's display: its response curve against a direct evaluation
// of the filter, its texts, the drag and its right-click menu.
#include "EditorTestSupport.h"

#include <cmath>
#include <complex>
#include <cstring>
#include <string>

namespace editortest {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct RecordingListener : CControlListener {
    std::vector<std::pair<int, float>> changes;  // tag, value
    void valueChanged(CControl* control) override { changes.emplace_back(control->getTag(), control->getValue()); }
};

// The attenuation in dB of the display's filter at point i, evaluated as
// b(z) / a(z) on the unit circle, normalised as the display does.
std::vector<double> referenceCurve(int type, float cutoff, float q) {
    CUnitBiquad<double> filter;
    filter.setSampleRate(2.0);
    BiquadParams p;
    p.frequency = cutoff;
    p.q = type < 5 ? 10.0f * q * q + 1e-6f : 1.0f;
    p.gain = type < 5 ? 1.0f : 2.0f * q;
    filter.setFilter(type, p);
    double a[3], b[3];
    filter.getCoefficients(a, b);
    std::vector<double> curve;
    float x = 40.0f / 44100.0f;
    const double logMin = std::log(100.0f / 44100.0f);
    for (int i = 0; i < CBiquadControl::kResponsePoints; ++i, x += 0.003902707f) {
        const double w = std::exp(x * -logMin + logMin) * kPi;
        const std::complex<double> z1 = std::polar(1.0, -w), z2 = std::polar(1.0, -2.0 * w);
        const std::complex<double> h = (b[0] + b[1] * z1 + b[2] * z2) / (a[0] + a[1] * z1 + a[2] * z2);
        curve.push_back((-20.0 * std::log10(std::abs(h)) + 30.0) / 70.0);
    }
    return curve;
}

// The position on the display's axis of a cutoff.
double axisPosition(float cutoff) {
    return (std::log(static_cast<double>(cutoff)) - CBiquadControl::logMin) / (0.0 - CBiquadControl::logMin);
}

class FilterDisplay : public ::testing::Test {
protected:
    void SetUp() override {
        display = new CBiquadControl(CRect(445, 100, 550, 175), &listener, 19, 87, 18, nullptr, kPanelColour,
                                     kTextColour, kTextColour, 2);
    }
    void TearDown() override { display->forget(); }

    RecordingListener listener;
    CBiquadControl* display = nullptr;
};

TEST_F(FilterDisplay, ConstructionState) {
    float cutoff, q;
    int type;
    display->getFilter(&cutoff, &q, &type);
    EXPECT_FLOAT_EQ(cutoff, 0.5f);
    EXPECT_FLOAT_EQ(q, 0.3f);
    EXPECT_EQ(type, 0);
    EXPECT_EQ(display->getTag(), 87);
    EXPECT_EQ(display->getStyle(), 4608);
    EXPECT_TRUE(display->getFlag());
    ASSERT_EQ(display->getNbEntries(), 5);
    EXPECT_EQ(display->getSubMenu(0), display->getTypeMenu());
    EXPECT_STREQ(display->getEntryText(0), "Filter Type");
    EXPECT_TRUE(display->isSeparator(1));
    EXPECT_STREQ(display->getEntryText(2), "Learn Midi (Cutoff)");
    EXPECT_STREQ(display->getEntryText(3), "Learn Midi (Q)");
    EXPECT_STREQ(display->getEntryText(4), "Forget Midi (All)");
    EXPECT_EQ(display->getCurrent(), 0);

    COptionMenu* types = display->getTypeMenu();
    EXPECT_EQ(types->getTag(), 18);
    EXPECT_EQ(types->getStyle(), 5632);
    const char* names[] = {"Lowpass", "Highpass", "Bandpass", "Bandstop", "Allpass", "Low Shelf", "High Shelf", "Peaking"};
    ASSERT_EQ(types->getNbEntries(), 8);
    for (int i = 0; i < 8; ++i) EXPECT_STREQ(types->getEntryText(i), names[i]);
    EXPECT_TRUE(types->getFontColor().sameRGB(kTextColour));
    EXPECT_TRUE(types->getBackColor().sameRGB(kPanelColour));

    // The first draw names the type; the cutoff line reads 0.5 x 22000.
    COffscreenContext context(659, 479);
    display->draw(&context);
    EXPECT_STREQ(display->getLabelText(), "Lowpass");
    EXPECT_FALSE(display->isDirty());
    char text[32];
    CBiquadControl::formatCutoff(0.5f, text, sizeof text);
    EXPECT_STREQ(text, "11000 Hz");
}

TEST(FilterDisplayText, CutoffLineLimits) {
    char text[32];
    CBiquadControl::formatCutoff(0.001f, text, sizeof text);
    EXPECT_STREQ(text, "80 Hz");
    CBiquadControl::formatCutoff(1.0f, text, sizeof text);
    EXPECT_STREQ(text, "22000 Hz");
    CBiquadControl::formatCutoff(7.0f, text, sizeof text);
    EXPECT_STREQ(text, "22000 Hz");
    CBiquadControl::formatCutoff(std::nanf(""), text, sizeof text);
    EXPECT_STREQ(text, "80 Hz");
}

TEST_F(FilterDisplay, CurveMatchesTheFiltersResponse) {
    struct Case {
        int type;
        float cutoff, q;
    };
    for (const Case& c : {Case{0, 0.5f, 0.3f}, Case{1, 0.1f, 0.6f}, Case{2, 0.05f, 0.9f}, Case{3, 0.2f, 0.5f},
                          Case{5, 0.02f, 1.0f}, Case{6, 0.3f, 0.25f}, Case{7, 0.1f, 0.8f}}) {
        SCOPED_TRACE("type " + std::to_string(c.type));
        display->setFilter(c.cutoff, c.q, c.type);
        display->computeResponse();
        const std::vector<double> reference = referenceCurve(c.type, c.cutoff, c.q);
        for (int i = 0; i < CBiquadControl::kResponsePoints; ++i) {
            if (!std::isfinite(reference[static_cast<size_t>(i)]) || std::fabs(reference[static_cast<size_t>(i)]) > 5)
                continue;  // the depth of a notch is not meaningful in single precision
            EXPECT_NEAR(display->getResponse()[i], reference[static_cast<size_t>(i)], 2e-3) << "point " << i;
        }
    }
}

TEST_F(FilterDisplay, ShapeOfTheCurve) {
    const float* r = display->getResponse();
    display->setFilter(0.5f, 0.3f, 0);  // lowpass at 11 kHz
    display->computeResponse();
    EXPECT_NEAR(r[0], 30.0f / 70.0f, 1e-3f) << "0 dB in the pass band";
    EXPECT_GT(r[255], r[0] + 0.3f) << "attenuation towards the Nyquist frequency";
    display->setFilter(0.5f, 0.3f, 1);  // highpass: the low end is far down
    display->computeResponse();
    EXPECT_GT(r[0], 1.0f);
    EXPECT_NEAR(r[255], 30.0f / 70.0f, 0.05f);
    // The shelves read q as their amplitude A = 2 q: the shelf's gain is A^2.
    display->setFilter(0.05f, 1.0f, 5);
    display->computeResponse();
    EXPECT_NEAR(r[0], (30.0f - 20.0f * std::log10(4.0f)) / 70.0f, 2e-3f) << "+12 dB";
    display->setFilter(0.05f, 0.25f, 5);
    display->computeResponse();
    EXPECT_NEAR(r[0], (30.0f + 20.0f * std::log10(4.0f)) / 70.0f, 2e-3f) << "-12 dB";
    EXPECT_NEAR(r[255], 30.0f / 70.0f, 2e-3f) << "the high end is untouched";
}

TEST_F(FilterDisplay, RefusedTypeKeepsTheLastCurve) {
    display->setFilter(0.2f, 0.7f, 2);
    COffscreenContext context(659, 479);
    display->draw(&context);
    const std::vector<float> before(display->getResponse(), display->getResponse() + 256);
    EXPECT_STREQ(display->getLabelText(), "Bandpass");
    display->setFilter(0.2f, 0.7f, 9);
    EXPECT_EQ(display->getTypeMenu()->getCurrent(), 7) << "Peaking marked";
    display->draw(&context);
    EXPECT_EQ(std::vector<float>(display->getResponse(), display->getResponse() + 256), before);
    EXPECT_STREQ(display->getLabelText(), "Bandpass");
}

TEST_F(FilterDisplay, NotchesAndExtremesDrawWithoutFault) {
    COffscreenContext context(659, 479);
    for (float cutoff : {0.0f, 1e-6f, 0.5f, 1.0f, 2.0f, std::nanf("")})
        for (float q : {0.0f, 0.02f, 1.0f, -1.0f})
            for (int type = -1; type <= 9; ++type) {
                display->setFilter(cutoff, q, type);
                display->draw(&context);
            }
    SUCCEED();
}

// ---- in the editor ---------------------------------------------------------------

// The row of the curve (the pure line colour) in one column of the display, or -1.
int curveRow(COffscreenContext& context, int x) {
    for (int y = 100 + 20; y < 175 - 11; ++y)
        if (context.getPixel(x, y).sameRGB(kTextColour)) return y;
    return -1;
}

TEST_F(EditorFixture, CurveFollowsTypeAndCutoff) {
    effect->setParameter(kFilterType, 0.0f);
    effect->setParameter(kCutoff, 0.5f);
    effect->setParameter(kResonance, 0.3f);
    auto lowpass = render();
    const int lowRow = curveRow(*lowpass, 455);
    EXPECT_NEAR(lowRow, 100 + static_cast<int>(75 * 30 / 70.0), 1) << "0 dB at the low end";
    const int highRowWide = curveRow(*lowpass, 530);

    effect->setParameter(kFilterType, 0.1f);  // highpass
    auto highpass = render();
    EXPECT_EQ(curveRow(*highpass, 455), -1) << "the low end lies below the display";

    effect->setParameter(kFilterType, 0.0f);
    effect->setParameter(kCutoff, 0.05f);
    auto narrow = render();
    const int highRowNarrow = curveRow(*narrow, 530);
    ASSERT_NE(highRowWide, -1);
    EXPECT_TRUE(highRowNarrow == -1 || highRowNarrow > highRowWide + 10)
        << "a lower cutoff attenuates more at the same frequency: " << highRowWide << " vs " << highRowNarrow;
    // The background of the display is the panel colour.
    EXPECT_TRUE(narrow->getPixel(540, 110).sameRGB(kPanelColour));
}

TEST_F(EditorFixture, DragSetsCutoffAndResonanceWithinLimits) {
    const CRect r = editor->getFilterDisplay()->getViewSize();
    press(centreOf(r));
    EXPECT_EQ(editor->getFilterDisplay()->getTag(), kCutoff);
    ASSERT_FALSE(HostLog::get().of(vst2::audioMasterBeginEdit).empty());
    EXPECT_EQ(HostLog::get().of(vst2::audioMasterBeginEdit)[0].index, kCutoff);

    auto lastOf = [](int index) {
        float value = std::nanf("");
        for (const HostCall& c : automations())
            if (c.index == index) value = c.opt;
        return value;
    };
    move(CPoint(r.left - 40, r.bottom + 40));  // outside, lower left
    EXPECT_FLOAT_EQ(lastOf(kCutoff), static_cast<float>(std::exp(CBiquadControl::logMin)));
    EXPECT_NEAR(lastOf(kCutoff), 100.0f / 44100.0f, 1e-7f);
    EXPECT_FLOAT_EQ(lastOf(kResonance), 0.02f);
    char text[32];
    CBiquadControl::formatCutoff(lastOf(kCutoff), text, sizeof text);
    EXPECT_STREQ(text, "80 Hz");

    move(CPoint(r.right + 40, r.top - 40));  // outside, upper right
    EXPECT_FLOAT_EQ(lastOf(kCutoff), 1.0f);
    EXPECT_FLOAT_EQ(lastOf(kResonance), 1.0f);

    move(CPoint(r.left, r.bottom));  // the edges themselves
    EXPECT_NEAR(lastOf(kCutoff), 100.0f / 44100.0f, 1e-7f);
    EXPECT_FLOAT_EQ(lastOf(kResonance), 0.02f);
    release(CPoint(r.left, r.bottom));
    EXPECT_EQ(HostLog::get().of(vst2::audioMasterEndEdit).size(), 1u);

    // Each step sends cutoff, resonance and the type, in that order, and the effect has them.
    const std::vector<HostCall> automate = automations();
    ASSERT_EQ(automate.size() % 3, 0u);
    for (size_t i = 0; i < automate.size(); i += 3) {
        EXPECT_EQ(automate[i].index, kCutoff);
        EXPECT_EQ(automate[i + 1].index, kResonance);
        EXPECT_EQ(automate[i + 2].index, kFilterType);
        EXPECT_FLOAT_EQ(automate[i + 2].opt, effect->getParameter(kFilterType));
    }
    EXPECT_FLOAT_EQ(effect->getParameter(kCutoff), lastOf(kCutoff));
    EXPECT_FLOAT_EQ(effect->getParameter(kResonance), 0.02f);
}

TEST_F(EditorFixture, ShiftDragOnTheDisplayIsFinerAndDoesNotJump) {
    CBiquadControl* display = editor->getFilterDisplay();
    const CRect r = display->getViewSize();
    const CPoint start(r.left + 30, r.top + 40);
    press(start);
    float c0, q0;
    int type;
    display->getFilter(&c0, &q0, &type);
    const double h0 = 30.0 / 105.0, v0 = 1.0 - 40.0 / 75.0;
    EXPECT_NEAR(axisPosition(c0), h0, 1e-5);
    EXPECT_NEAR(q0, v0, 1e-6);

    // Shift pressed without moving: nothing jumps.
    move(start, kLButton | kShift);
    float c, q;
    display->getFilter(&c, &q, &type);
    EXPECT_NEAR(c, c0, 1e-6f * c0 + 1e-9f);
    EXPECT_NEAR(q, q0, 1e-6f);

    // With Shift the travel counts a tenth.
    move(CPoint(start.x + 30, start.y - 15), kLButton | kShift);
    display->getFilter(&c, &q, &type);
    EXPECT_NEAR(axisPosition(c), h0 + (30.0 / 105.0) / 10.0, 1e-4);
    EXPECT_NEAR(q, v0 + (15.0 / 75.0) / 10.0, 1e-4);
    release(CPoint(start.x + 30, start.y - 15), kShift);
}

TEST_F(EditorFixture, RightClickMenuLearnsAndForgetsWithoutAutomation) {
    CBiquadControl* display = editor->getFilterDisplay();
    const CRect r = display->getViewSize();
    press(centreOf(r));
    release(centreOf(r));
    HostLog::get().clear();
    press(centreOf(r), kRButton);  // the list needs a window; the tag changes anyway
    EXPECT_EQ(display->getTag(), 87);

    ASSERT_TRUE(display->chooseEntry(CBiquadControl::kEntryLearnCutoff));
    EXPECT_TRUE(effect->isLearnArmed());
    EXPECT_EQ(effect->learnParameter(), kCutoff);
    ASSERT_TRUE(display->chooseEntry(CBiquadControl::kEntryLearnQ));
    EXPECT_TRUE(effect->isLearnArmed());
    EXPECT_EQ(effect->learnParameter(), kResonance);
    ASSERT_TRUE(display->chooseEntry(CBiquadControl::kEntryForget));
    EXPECT_FALSE(display->chooseEntry(CBiquadControl::kEntrySeparator));
    EXPECT_FALSE(display->chooseEntry(CBiquadControl::kEntryFilterType));
    EXPECT_TRUE(automations().empty());

    // A type from the sub-menu is automated as its number / 10.
    ASSERT_TRUE(display->getTypeMenu()->chooseEntry(6));
    ASSERT_EQ(automations().size(), 1u);
    EXPECT_EQ(automations()[0].index, kFilterType);
    EXPECT_EQ(automations()[0].opt, 6.0f * 0.1f);
    float cutoff, q;
    int type;
    display->getFilter(&cutoff, &q, &type);
    EXPECT_EQ(type, 6);
    display->draw(render().get());
    EXPECT_STREQ(display->getLabelText(), "High Shelf");
}

TEST_F(EditorFixture, TypeChoiceBeyondTheListIsDropped) {
    auto* menu = new COptionMenu(CRect(0, 0, 10, 10), editor, kFilterType);
    for (int i = 0; i < 10; ++i) menu->addEntry("x");
    menu->setValue(9.0f);
    menu->takeDirty();
    editor->valueChanged(menu);
    EXPECT_TRUE(automations().empty());
    EXPECT_FALSE(menu->isDirty());
    menu->forget();
}

}  // namespace
}  // namespace editortest
