// Controls driven through the frame's mouse entry points, as the window layer drives them.
#include "TestSupport.h"

#include <limits>

namespace guitest {
namespace {

struct KnobInFrame : ::testing::Test {
    RecordingEditor editor;
    RecordingListener listener;
    CFrame frame{CRect(0, 0, 200, 200), nullptr, &editor};
    CKnob* knob = new CKnob(CRect(50, 50, 80, 80), &listener, 7, nullptr, nullptr);

    void SetUp() override { frame.addView(knob); }

    void press(CPoint p, int buttons = kLButton) { frame.onMouseDown(p, buttons); }
    void move(CPoint p, int buttons = kLButton) { frame.onMouseMoved(p, buttons); }
    void release(CPoint p, int buttons = kLButton) { frame.onMouseUp(p, buttons); }
};

TEST_F(KnobInFrame, LinearDragChangesValueAndNotifiesOnRealChangesOnly) {
    press(CPoint(60, 60));
    EXPECT_EQ(frame.getMouseDownView(), knob);
    move(CPoint(60, 40));  // 20 px up of 200
    EXPECT_NEAR(knob->getValue(), 0.1f, 1e-6);
    move(CPoint(80, 40));  // and 20 px right
    EXPECT_NEAR(knob->getValue(), 0.2f, 1e-6);
    move(CPoint(80, 40));  // no movement, no notification
    move(CPoint(150, -200));  // far outside: still captured, limited to 1
    EXPECT_FLOAT_EQ(knob->getValue(), 1.f);
    move(CPoint(160, -210));  // beyond the end: no change, no call
    release(CPoint(160, -210));
    EXPECT_EQ(frame.getMouseDownView(), nullptr);
    ASSERT_EQ(listener.values.size(), 3u);
    EXPECT_EQ(listener.changed[0], knob);
    EXPECT_FLOAT_EQ(listener.values[2], 1.f);

    move(CPoint(60, 10), 0);  // after the release moves no longer turn the knob
    EXPECT_FLOAT_EQ(knob->getValue(), 1.f);
}

TEST_F(KnobInFrame, DragIsBracketedByBeginAndEndEdit) {
    press(CPoint(60, 60));
    move(CPoint(60, 50));
    move(CPoint(60, 45));
    release(CPoint(60, 45));
    ASSERT_EQ(editor.calls.size(), 2u);
    EXPECT_EQ(editor.calls[0], std::make_pair('b', 7));
    EXPECT_EQ(editor.calls[1], std::make_pair('e', 7));
    EXPECT_EQ(listener.begins, 1);
    EXPECT_EQ(listener.ends, 1);
    EXPECT_EQ(listener.values.size(), 2u);
}

TEST_F(KnobInFrame, ShiftDragIsFinerByTheZoomFactor) {
    press(CPoint(60, 60), kLButton | kShift);
    move(CPoint(60, 30), kLButton | kShift);
    release(CPoint(60, 30), kLButton | kShift);
    EXPECT_NEAR(knob->getValue(), 30.f / 200.f / 1.5f, 1e-6);
    EXPECT_FLOAT_EQ(knob->getZoomFactor(), 1.5f);

    // Pressing Shift mid-drag continues from where the knob is, without a jump.
    knob->setValue(0.f);
    press(CPoint(60, 60));
    move(CPoint(60, 40));
    const float before = knob->getValue();
    move(CPoint(60, 40), kLButton | kShift);
    EXPECT_FLOAT_EQ(knob->getValue(), before);
    move(CPoint(60, 10), kLButton | kShift);
    EXPECT_NEAR(knob->getValue(), before + 30.f / 300.f, 1e-6);
    release(CPoint(60, 10));
}

TEST_F(KnobInFrame, CircularModesFollowTheEditorsKnobMode) {
    editor.knobMode = kCircularMode;
    press(CPoint(65, 52));  // straight above the centre (65, 65): the middle of the sweep
    EXPECT_NEAR(knob->getValue(), 0.5f, 0.01f);
    move(CPoint(78, 65));  // three o'clock: 90 degrees past the middle
    EXPECT_NEAR(knob->getValue(), 0.5f + 1.f / 3.f, 0.01f);
    move(CPoint(66, 79));  // in the gap at the bottom, nearer the end
    EXPECT_FLOAT_EQ(knob->getValue(), 1.f);
    release(CPoint(66, 79));

    editor.knobMode = kRelativCircularMode;
    knob->setValue(0.2f);
    press(CPoint(65, 52));  // the click itself changes nothing
    EXPECT_FLOAT_EQ(knob->getValue(), 0.2f);
    move(CPoint(78, 65));  // a quarter turn clockwise: 90 of 270 degrees
    EXPECT_NEAR(knob->getValue(), 0.2f + 1.f / 3.f, 0.01f);
    release(CPoint(78, 65));
}

TEST_F(KnobInFrame, WheelStepsAndBracketsTheChange) {
    knob->setValue(0.5f);
    EXPECT_TRUE(frame.onWheel(CPoint(60, 60), 1.f, 0));
    EXPECT_NEAR(knob->getValue(), 0.55f, 1e-6);
    EXPECT_TRUE(frame.onWheel(CPoint(60, 60), -1.f, kShift));
    EXPECT_NEAR(knob->getValue(), 0.55f - 0.05f / 1.5f, 1e-6);
    EXPECT_EQ(editor.calls.size(), 4u);
    EXPECT_FALSE(frame.onWheel(CPoint(150, 150), 1.f, 0)) << "nothing under the mouse";
}

TEST_F(KnobInFrame, RightClickAndModifierClicksClaimedByTheListenerDoNotDrag) {
    press(CPoint(60, 60), kRButton);
    EXPECT_EQ(frame.getMouseDownView(), nullptr);
    struct Claiming : RecordingListener {
        int controlModifierClicked(CControl*, int) override { return 1; }
    } claiming;
    knob->setListener(&claiming);
    press(CPoint(60, 60), kLButton | kControl);
    move(CPoint(60, 20), kLButton | kControl);
    EXPECT_FLOAT_EQ(knob->getValue(), 0.f);
    EXPECT_TRUE(editor.calls.empty());
    knob->setListener(&listener);
}

TEST_F(KnobInFrame, RemovingTheCapturedViewEndsTheCapture) {
    press(CPoint(60, 60));
    frame.removeView(knob);
    EXPECT_EQ(frame.getMouseDownView(), nullptr);
    move(CPoint(60, 20));
    release(CPoint(60, 20));
    EXPECT_EQ(frame.getNbViews(), 0);
}

TEST(Control, ValueIsKeptInRangeAndNaNIsRefused) {
    CControl control(CRect(0, 0, 10, 10));
    control.setValue(2.f);
    EXPECT_FLOAT_EQ(control.getValue(), 1.f);
    control.setValue(-1.f);
    EXPECT_FLOAT_EQ(control.getValue(), 0.f);
    control.setValue(0.3f);
    control.setValue(std::numeric_limits<float>::quiet_NaN());
    EXPECT_FLOAT_EQ(control.getValue(), 0.3f);
    control.setMin(-2.f);
    control.setMax(2.f);
    control.setValue(1.f);
    EXPECT_FLOAT_EQ(control.getValueNormalized(), 0.75f);
    control.setDirty(false);
    control.setFontColor(kRedCColor);
    EXPECT_TRUE(control.isDirty());
}

TEST(OnOffButtonClick, TogglesAndNotifiesEachTime) {
    RecordingEditor editor;
    RecordingListener listener;
    CFrame frame(CRect(0, 0, 100, 100), nullptr, &editor);
    auto* button = new COnOffButton(CRect(10, 10, 32, 24), &listener, 29, nullptr);
    frame.addView(button);
    CPoint p(15, 15);
    EXPECT_EQ(frame.onMouseDown(p, kLButton), kMouseDownEventHandledButDontNeedMovedOrUpEvents);
    EXPECT_FLOAT_EQ(button->getValue(), 1.f);
    EXPECT_EQ(frame.getMouseDownView(), nullptr) << "a click needs no capture";
    frame.onMouseUp(p, kLButton);
    frame.onMouseDown(p, kLButton);
    EXPECT_FLOAT_EQ(button->getValue(), 0.f);
    ASSERT_EQ(listener.values.size(), 2u);
    EXPECT_EQ(listener.changed[1], button);
    EXPECT_EQ(editor.calls.size(), 4u);
}

TEST(FrameDispatch, LaterViewsAreHitFirstAndUnhandledClicksFallThrough) {
    RecordingListener listener;
    CFrame frame(CRect(0, 0, 100, 100), nullptr, nullptr);
    auto* label = new CTextLabel(CRect(0, 0, 50, 12), "Delay");
    auto* learn = new COptionMenu(CRect(0, 0, 50, 12), &listener, 84, nullptr, nullptr, kNoDrawStyle);
    auto* button = new COnOffButton(CRect(0, 20, 20, 40), &listener, 1, nullptr);
    auto* over = new CView(CRect(0, 20, 20, 40));  // a plain view handles no clicks
    frame.addView(label);
    frame.addView(learn);
    frame.addView(button);
    frame.addView(over);
    CPoint p(10, 5);
    EXPECT_EQ(frame.onMouseDown(p, kLButton), kMouseDownEventHandledButDontNeedMovedOrUpEvents)
        << "the learn menu above the caption takes the click";
    CPoint q(10, 30);
    frame.onMouseDown(q, kLButton);
    EXPECT_FLOAT_EQ(button->getValue(), 1.f) << "passed on to the view below";
    CPoint outside(90, 90);
    EXPECT_EQ(frame.onMouseDown(outside, kLButton), kMouseEventNotHandled);
}

TEST(FrameContainers, NestedViewsUseContainerCoordinates) {
    RecordingListener listener;
    CFrame frame(CRect(0, 0, 100, 100), nullptr, nullptr);
    auto* box = new CViewContainer(CRect(40, 40, 90, 90));
    auto* button = new COnOffButton(CRect(5, 5, 15, 15), &listener, 3, nullptr);
    box->addView(button);
    frame.addView(box);
    EXPECT_EQ(button->getFrame(), &frame);
    EXPECT_EQ(button->localToFrame(button->getViewSize()), CRect(45, 45, 55, 55));
    CPoint p(50, 50);
    frame.onMouseDown(p, kLButton);
    EXPECT_FLOAT_EQ(button->getValue(), 1.f);
    button->setFontColor(kRedCColor);
    COffscreenContext ctx(100, 100);
    frame.drawDirtyViews(&ctx);
    expectRGB(ctx.getPixel(50, 50), kRedCColor, "nested view drawn at its frame position");
}

TEST(ViewAttributes, StoreCopiesAndTooltipText) {
    CView view(CRect(0, 0, 10, 10));
    const char tip[] = "Dry/wet mix";
    EXPECT_TRUE(view.setAttribute(kCViewTooltipAttribute, sizeof tip, tip));
    EXPECT_EQ(kCViewTooltipAttribute, 0x63767474u);
    int size = 0;
    ASSERT_TRUE(view.getAttributeSize(kCViewTooltipAttribute, size));
    EXPECT_EQ(size, static_cast<int>(sizeof tip));
    char out[64];
    int outSize = 0;
    EXPECT_FALSE(view.getAttribute(kCViewTooltipAttribute, 4, out, outSize)) << "buffer too small";
    ASSERT_TRUE(view.getAttribute(kCViewTooltipAttribute, sizeof out, out, outSize));
    EXPECT_STREQ(out, tip);
    EXPECT_STREQ(view.getAttributeText(kCViewTooltipAttribute), tip);
    const char unterminated[3] = {'a', 'b', 'c'};
    view.setAttribute(makeAttributeID('x', 'x', 'x', 'x'), 3, unterminated);
    EXPECT_EQ(view.getAttributeText(makeAttributeID('x', 'x', 'x', 'x')), nullptr);
    EXPECT_FALSE(view.setAttribute(1, 4, nullptr));
    EXPECT_TRUE(view.removeAttribute(kCViewTooltipAttribute));
    EXPECT_FALSE(view.getAttributeSize(kCViewTooltipAttribute, size));
}

}  // namespace
}  // namespace guitest
