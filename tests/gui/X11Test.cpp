// The frame in a real X11 window, under the test program's own Xvfb, driven with XTEST
// pointer events and the host's idle calls.
#include "TestSupport.h"
#include "tests/XServer.h"

#include <X11/Xutil.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

namespace guitest {
namespace {

const auto* const gXServer = ::testing::AddGlobalTestEnvironment(new xtest::PrivateXServer);

using xtest::countOpenFiles;

// A host: its own connection, a top-level window as the editor's parent, XTEST input.
class HostWindow : public xtest::HostWindowTest {
protected:
    void SetUp() override { openHostWindow(300, 200); }

    Window firstChild(Window of) {
        const std::vector<Window> kids = xtest::childrenOf(display_, of);
        return kids.empty() ? 0 : kids[0];
    }

    // The colour the X server holds for a pixel of `window` (true-colour visuals).
    CColor pixelOf(Window window, int x, int y) {
        XWindowAttributes a;
        XGetWindowAttributes(display_, window, &a);
        XImage* image = XGetImage(display_, window, x, y, 1, 1, AllPlanes, ZPixmap);
        if (!image) return CColor{0, 0, 0, 0};
        const unsigned long p = XGetPixel(image, 0, 0);
        XDestroyImage(image);
        auto channel = [p](unsigned long mask) {
            int shift = 0;
            while (mask && !(mask & 1)) {
                mask >>= 1;
                ++shift;
            }
            return static_cast<uint8_t>(mask ? ((p >> shift) & mask) * 255 / mask : 0);
        };
        return CColor{channel(a.visual->red_mask), channel(a.visual->green_mask), channel(a.visual->blue_mask), 255};
    }

    static constexpr CColor kPanel{22, 112, 150, 64}, kText{228, 189, 31, 64};
    // A frame of the panel colour with a label of the text colour at (20, 20)-(70, 32).
    static void paintPanelAndLabel(CFrame& frame) {
        frame.setBackgroundColor(kPanel);
        auto* label = new CTextLabel(CRect(20, 20, 70, 32), "");
        label->setBackColor(kText);
        label->setFrameColor(kText);
        frame.addView(label);
    }

    // Paints two known colours through the frame and reads them back from the server.
    void expectWindowShowsTheFrame(CFrame& frame, Window child) {
        const CColor panel = kPanel, text = kText;
        paintPanelAndLabel(frame);
        frame.setDirty();
        frame.idle();
        expectRGB(pixelOf(child, 5, 5), panel, "frame background");
        expectRGB(pixelOf(child, 40, 25), text, "label");
        expectRGB(pixelOf(child, 199, 149), panel, "far corner");
    }

    unsigned childCount() { return static_cast<unsigned>(children().size()); }

    void pointerTo(CPoint p) { HostWindowTest::pointerTo(static_cast<int>(p.x), static_cast<int>(p.y)); }
    // Runs the host's idle until `done` holds or ten seconds pass (the machine may be busy).
    bool idleUntil(CFrame& frame, const std::function<bool()>& done) {
        return xtest::stepUntil([&] { frame.idle(); }, done, std::chrono::seconds(10));
    }
};

TEST_F(HostWindow, OpensAsChildOfTheParentAndClosesCleanly) {
    {
        CFrame frame(CRect(0, 0, 200, 150), parentHandle(), nullptr);
        ASSERT_TRUE(frame.isOpen());
        EXPECT_EQ(childCount(), 1u);
        frame.idle();
    }
    XSync(display_, False);
    EXPECT_EQ(childCount(), 0u);
}

TEST_F(HostWindow, TheWindowShowsWhatTheFrameDraws) {
    CFrame frame(CRect(0, 0, 200, 150), parentHandle(), nullptr);
    ASSERT_TRUE(frame.isOpen());
    const Window child = firstChild(parent_);
    ASSERT_NE(child, 0u);
    expectWindowShowsTheFrame(frame, child);
}

// Some hosts give their editor windows a 32-bit visual with alpha; the child takes the
// parent's visual and depth, and its pixels must still come out right.
TEST_F(HostWindow, OpensAndDrawsInAParentWithAnAlphaVisual) {
    XVisualInfo info;
    if (!XMatchVisualInfo(display_, DefaultScreen(display_), 32, TrueColor, &info))
        GTEST_SKIP() << "the server has no 32-bit visual";
    XSetWindowAttributes attributes{};
    attributes.colormap = XCreateColormap(display_, DefaultRootWindow(display_), info.visual, AllocNone);
    attributes.border_pixel = 0;
    attributes.background_pixel = 0;
    const Window argbParent =
        XCreateWindow(display_, DefaultRootWindow(display_), 0, 0, 300, 200, 0, 32, InputOutput, info.visual,
                      CWColormap | CWBorderPixel | CWBackPixel, &attributes);
    XMapWindow(display_, argbParent);
    XSync(display_, False);
    {
        CFrame frame(CRect(0, 0, 200, 150), reinterpret_cast<void*>(static_cast<uintptr_t>(argbParent)), nullptr);
        ASSERT_TRUE(frame.isOpen());
        const Window child = firstChild(argbParent);
        ASSERT_NE(child, 0u);
        XWindowAttributes a;
        XGetWindowAttributes(display_, child, &a);
        EXPECT_EQ(a.depth, 32);
        expectWindowShowsTheFrame(frame, child);
    }
    XDestroyWindow(display_, argbParent);
    XFreeColormap(display_, attributes.colormap);
    XSync(display_, False);
}

TEST_F(HostWindow, RealPointerDragTurnsAKnobBetweenBeginAndEndEdit) {
    RecordingEditor editor;
    RecordingListener listener;
    CFrame frame(CRect(0, 0, 200, 150), parentHandle(), &editor);
    ASSERT_TRUE(frame.isOpen());
    auto* knob = new CKnob(CRect(50, 50, 80, 80), &listener, 16, nullptr, nullptr);
    frame.addView(knob);
    frame.idle();

    pointerTo(CPoint(65, 75));
    button(1, true);
    for (int y = 70; y >= 35; y -= 5) pointerTo(CPoint(65, y));
    ASSERT_TRUE(idleUntil(frame, [&] { return knob->getValue() >= 0.2f; })) << "value " << knob->getValue();
    EXPECT_NEAR(knob->getValue(), 40.f / 200.f, 1e-5);
    button(1, false);
    ASSERT_TRUE(idleUntil(frame, [&] { return editor.calls.size() == 2; }));
    EXPECT_EQ(editor.calls[0], std::make_pair('b', 16));
    EXPECT_EQ(editor.calls[1], std::make_pair('e', 16));
    EXPECT_FALSE(listener.changed.empty());

    // The wheel over the knob turns it further.
    const float before = knob->getValue();
    pointerTo(CPoint(65, 65));
    button(4, true);
    button(4, false);
    ASSERT_TRUE(idleUntil(frame, [&] { return knob->getValue() > before; }));
    EXPECT_NEAR(knob->getValue(), before + 0.05f, 1e-5);
}

// At scale 2 the window has twice the pixels each way and shows the frame's drawing at
// that size, while the frame sees positions in its own units: a drag of 80 device
// pixels moves a knob by 40. A new scale resizes the window.
TEST_F(HostWindow, ScaledWindowDrawsLargerAndHandsTheFrameItsOwnUnits) {
    RecordingEditor editor;
    RecordingListener listener;
    CFrame frame(CRect(0, 0, 200, 150), parentHandle(), &editor, 2.0);
    ASSERT_TRUE(frame.isOpen());
    const Window child = firstChild(parent_);
    ASSERT_NE(child, 0u);
    EXPECT_EQ(sizeOf(child), std::make_pair(400, 300));

    const CColor panel = kPanel, text = kText;
    paintPanelAndLabel(frame);
    auto* knob = new CKnob(CRect(50, 50, 80, 80), &listener, 16, nullptr, nullptr);
    frame.addView(knob);
    frame.setDirty();
    frame.idle();
    expectRGB(pixelOf(child, 41, 41), text, "label's first device pixel");
    expectRGB(pixelOf(child, 139, 63), text, "label's last device pixel");
    expectRGB(pixelOf(child, 39, 41), panel, "left of the label");
    expectRGB(pixelOf(child, 141, 65), panel, "below right of the label");

    HostWindowTest::pointerTo(130, 150);
    button(1, true);
    for (int y = 140; y >= 70; y -= 10) HostWindowTest::pointerTo(130, y);
    ASSERT_TRUE(idleUntil(frame, [&] { return knob->getValue() >= 0.2f; })) << "value " << knob->getValue();
    EXPECT_NEAR(knob->getValue(), 40.f / 200.f, 1e-5);
    button(1, false);
    ASSERT_TRUE(idleUntil(frame, [&] { return editor.calls.size() == 2; }));

    frame.setScale(1.5);
    EXPECT_EQ(frame.getScale(), 1.5);
    EXPECT_EQ(sizeOf(child), std::make_pair(300, 225));
    frame.idle();
    expectRGB(pixelOf(child, 31, 31), text, "label at 1.5");
    expectRGB(pixelOf(child, 29, 31), panel, "left of the label at 1.5");
}

TEST_F(HostWindow, MenuClickOpensItsListAndAChoiceReachesTheListener) {
    RecordingListener listener;
    CFrame frame(CRect(0, 0, 200, 150), parentHandle(), nullptr);
    ASSERT_TRUE(frame.isOpen());
    auto* menu = new COptionMenu(CRect(20, 20, 70, 32), &listener, 22);
    for (const char* t : {"off", "4/1", "1/1", "1/2"}) menu->addEntry(t);
    frame.addView(menu);
    frame.idle();

    pointerTo(CPoint(30, 25));
    button(1, true);
    button(1, false);
    ASSERT_TRUE(idleUntil(frame, [&] { return frame.isPopupMenuOpen(); }));
    // The list opens below the control, one row of 11 + padding pixels per entry.
    const int row = 11 + CMenuPopupModel::kItemPadding;
    pointerTo(CPoint(40, 32 + 2 * row + row / 2));
    button(1, true);
    button(1, false);
    ASSERT_TRUE(idleUntil(frame, [&] { return !listener.changed.empty(); }));
    EXPECT_EQ(listener.changed[0], menu);
    EXPECT_FLOAT_EQ(menu->getValue(), 2.f);
    EXPECT_FALSE(frame.isPopupMenuOpen());

    // A click outside the list closes it without a choice.
    pointerTo(CPoint(30, 25));
    button(1, true);
    button(1, false);
    ASSERT_TRUE(idleUntil(frame, [&] { return frame.isPopupMenuOpen(); }));
    pointerTo(CPoint(190, 140));
    button(1, true);
    button(1, false);
    ASSERT_TRUE(idleUntil(frame, [&] { return !frame.isPopupMenuOpen(); }));
    EXPECT_EQ(listener.changed.size(), 1u);
}

TEST_F(HostWindow, TooltipWindowComesAndGoes) {
    CFrame frame(CRect(0, 0, 200, 150), parentHandle(), nullptr);
    ASSERT_TRUE(frame.isOpen());
    auto* view = new CView(CRect(10, 10, 60, 60));
    view->setAttribute(kCViewTooltipAttribute, 5, "Mix!");
    frame.addView(view);
    Owned<CTooltipSupport> tooltips(new CTooltipSupport(50));
    frame.setMouseObserver(tooltips.get());
    frame.idle();
    pointerTo(CPoint(30, 30));
    ASSERT_TRUE(idleUntil(frame, [&] { return tooltips->getVisibleText() != nullptr; }));
    pointerTo(CPoint(150, 120));
    ASSERT_TRUE(idleUntil(frame, [&] { return tooltips->getVisibleText() == nullptr; }));
}

TEST_F(HostWindow, OpensAndClosesTwentyTimesWithoutLeaks) {
    const int filesBefore = countOpenFiles();
    for (int i = 0; i < 20; ++i) {
        auto* frame = new CFrame(CRect(0, 0, 200, 150), parentHandle(), nullptr);
        ASSERT_TRUE(frame->isOpen());
        frame->addView(new CKnob(CRect(10, 10, 40, 40), nullptr, 0, nullptr, nullptr));
        frame->idle();
        delete frame;
    }
    XSync(display_, False);
    EXPECT_EQ(childCount(), 0u);
    EXPECT_EQ(countOpenFiles(), filesBefore) << "every display connection is closed";
}

TEST_F(HostWindow, InvalidParentsAndNoDisplayDoNotOpen) {
    CFrame none(CRect(0, 0, 100, 100), nullptr, nullptr);
    EXPECT_FALSE(none.isOpen());
    CFrame bogus(CRect(0, 0, 100, 100), reinterpret_cast<void*>(uintptr_t(0x3fffff0)), nullptr);
    EXPECT_FALSE(bogus.isOpen());
    bogus.idle();  // still usable without a window

    const std::string saved = std::getenv("DISPLAY");
    unsetenv("DISPLAY");
    CFrame noDisplay(CRect(0, 0, 100, 100), parentHandle(), nullptr);
    setenv("DISPLAY", saved.c_str(), 1);
    EXPECT_FALSE(noDisplay.isOpen());
}

int gHostErrors = 0;
int countHostError(Display*, XErrorEvent*) {
    ++gHostErrors;
    return 0;
}

TEST_F(HostWindow, LeavesTheHostsErrorHandlerInPlaceAndItsErrorsToIt) {
    gHostErrors = 0;
    auto* previous = XSetErrorHandler(countHostError);
    {
        CFrame frame(CRect(0, 0, 100, 100), parentHandle(), nullptr);
        ASSERT_TRUE(frame.isOpen());
        frame.idle();
        CFrame bogus(CRect(0, 0, 100, 100), reinterpret_cast<void*>(uintptr_t(0x3fffff0)), nullptr);
        EXPECT_FALSE(bogus.isOpen());
        EXPECT_EQ(gHostErrors, 0) << "the toolkit's own errors stay with the toolkit";
    }
    // An error on the host's connection still reaches the host's handler.
    XMapWindow(display_, 0x3fffff1);
    XSync(display_, False);
    EXPECT_EQ(gHostErrors, 1);
    EXPECT_EQ(XSetErrorHandler(previous), countHostError);
}

TEST_F(HostWindow, SurvivesTheHostDestroyingItsWindowWhileATooltipIsDue) {
    auto* frame = new CFrame(CRect(0, 0, 200, 150), parentHandle(), nullptr);
    ASSERT_TRUE(frame->isOpen());
    auto* view = new CView(CRect(10, 10, 60, 60));
    view->setAttribute(kCViewTooltipAttribute, 5, "Mix!");
    frame->addView(view);
    Owned<CTooltipSupport> tooltips(new CTooltipSupport(0));
    frame->setMouseObserver(tooltips.get());
    CPoint inside(30, 30);
    frame->onMouseMoved(inside, CButtonState());
    ASSERT_NE(tooltips->getPendingText(), nullptr);
    XDestroyWindow(display_, parent_);
    XSync(display_, False);
    frame->idle();  // shows the tooltip of a window that is gone
    frame->idle();
    delete frame;
    parent_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 10, 10, 0, 0, 0);
}

TEST_F(HostWindow, SurvivesTheHostDestroyingItsWindowFirst) {
    auto* frame = new CFrame(CRect(0, 0, 100, 100), parentHandle(), nullptr);
    ASSERT_TRUE(frame->isOpen());
    XDestroyWindow(display_, parent_);
    XSync(display_, False);
    frame->idle();
    delete frame;  // BadWindow errors must not end the process
    parent_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 10, 10, 0, 0, 0);
}

}  // namespace
}  // namespace guitest
