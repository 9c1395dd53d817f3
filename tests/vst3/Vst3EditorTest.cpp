// The VST3 view in a real X11 window (a private Xvfb): embedded in the host's
// window, idled by the host's run loop, edits announced as gestures, and drawn
// pixel for pixel as `kovalith snapshot` draws the VST 2.4 plug-in's editor.
#include "tests/XServer.h"
#include "tests/EditorPixels.h"

#include <chrono>
#include <thread>

#include "tests/vst3/Vst3TestHost.h"

namespace kovalith::vst3test {
namespace {

const auto* const gServer = ::testing::AddGlobalTestEnvironment(new xtest::PrivateXServer);

// The host's IPlugFrame with its Linux IRunLoop: timers are ticked by the test.
class HostFrame : public RefCounted {
public:
    HostFrame() : frameFace_{&frameTable, this}, loopFace_{&loopTable, this} {}
    v3_plugin_frame** frame() { return reinterpret_cast<v3_plugin_frame**>(&frameFace_); }

    v3_result queryInterface(const v3_tuid iid, void** out) {
        if (vst3::offer(this, iid, v3_funknown_iid, frameFace_, out) ||
            vst3::offer(this, iid, v3_plugin_frame_iid, frameFace_, out) ||
            vst3::offer(this, iid, v3_run_loop_iid, loopFace_, out))
            return vst3::kResultOk;
        *out = nullptr;
        return vst3::kNoInterface;
    }
    // As a host does: makes its window the size and tells the view.
    v3_result resizeView(v3_plugin_view** view, v3_view_rect* rect) {
        if (!view || !rect) return vst3::kInvalidArgument;
        ++resizes;
        lastResize = *rect;
        vst3::entries<v3_plugin_view>(view)->on_size(view, rect);
        return vst3::kResultOk;
    }
    v3_result registerEventHandler(v3_event_handler**, int) { return vst3::kResultFalse; }
    v3_result unregisterEventHandler(v3_event_handler**) { return vst3::kResultFalse; }
    v3_result registerTimer(v3_timer_handler** handler, uint64_t ms) {
        timer = handler;
        interval = ms;
        return vst3::kResultOk;
    }
    v3_result unregisterTimer(v3_timer_handler** handler) {
        if (handler == timer) timer = nullptr;
        return vst3::kResultOk;
    }
    void tick() {
        if (timer) vst3::entries<v3_timer_handler>(timer)->on_timer(timer);
    }

    v3_timer_handler** timer = nullptr;
    uint64_t interval = 0;
    int resizes = 0;
    v3_view_rect lastResize{};

private:
    struct LoopTable : v3_funknown {
        v3_run_loop loop;
    };
    static const v3_plugin_frame_cpp frameTable;
    static const LoopTable loopTable;
    vst3::Face frameFace_, loopFace_;
};

using vst3::Thunk;
const v3_plugin_frame_cpp HostFrame::frameTable{vst3::unknownTable<HostFrame>(), {Thunk<&HostFrame::resizeView>::call}};
const HostFrame::LoopTable HostFrame::loopTable{
    vst3::unknownTable<HostFrame>(),
    {Thunk<&HostFrame::registerEventHandler>::call, Thunk<&HostFrame::unregisterEventHandler>::call,
     Thunk<&HostFrame::registerTimer>::call, Thunk<&HostFrame::unregisterTimer>::call}};

class Vst3Editor : public xtest::HostWindowTest {
protected:
    void SetUp() override {
        openHostWindow(xtest::kEditorWidth, xtest::kEditorHeight, false);
        if (IsSkipped() || HasFatalFailure()) return;
        std::string error;
        plugin_ = Vst3Plugin::load(KOVALITH_VST3_MODULE, &error);
        ASSERT_TRUE(plugin_) << error;
        v3_edit_controller** c = plugin_->controller();
        view_ = v3_cpp_obj(c)->create_view(c, "editor");
        ASSERT_NE(view_, nullptr);
        frame_ = new HostFrame();
        ASSERT_EQ(call()->set_frame(view_, frame_->frame()), V3_OK);
    }
    void TearDown() override {
        if (view_) {
            call()->removed(view_);
            call()->set_frame(view_, nullptr);
            vst3::releaseInterface(view_);
        }
        if (frame_) frame_->release();
        plugin_.reset();
        HostWindowTest::TearDown();
    }

    const v3_plugin_view* call() const { return vst3::entries<v3_plugin_view>(view_); }
    v3_result attach() {
        return call()->attached(view_, parentHandle(), V3_VIEW_PLATFORM_TYPE_X11);
    }
    // The host's run loop for a while: its timer ticks and X has time to deliver.
    void run(int ticks) {
        for (int i = 0; i < ticks; ++i) {
            frame_->tick();
            XSync(display_, False);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    void pointerTo(int x, int y) {
        HostWindowTest::pointerTo(x, y);
        run(2);
    }

    std::unique_ptr<Vst3Plugin> plugin_;
    v3_plugin_view** view_ = nullptr;
    HostFrame* frame_ = nullptr;
};

TEST_F(Vst3Editor, EmbedsInTheHostsWindowAndIdlesOnItsRunLoop) {
    EXPECT_EQ(call()->is_platform_type_supported(view_, V3_VIEW_PLATFORM_TYPE_X11), V3_TRUE);
    EXPECT_NE(call()->is_platform_type_supported(view_, V3_VIEW_PLATFORM_TYPE_HWND), V3_TRUE);
    v3_view_rect size{};
    ASSERT_EQ(call()->get_size(view_, &size), V3_OK);
    EXPECT_EQ(size.right - size.left, 659);
    EXPECT_EQ(size.bottom - size.top, 479);
    EXPECT_NE(call()->can_resize(view_), V3_TRUE);

    ASSERT_EQ(attach(), V3_OK);
    const std::vector<Window> kids = children();
    ASSERT_EQ(kids.size(), 1u);
    EXPECT_EQ(sizeOf(kids[0]), std::make_pair(659, 479));
    ASSERT_NE(frame_->timer, nullptr) << "no timer on the host's run loop";
    EXPECT_GE(frame_->interval, 15u);
    EXPECT_LE(frame_->interval, 50u);

    EXPECT_NE(attach(), V3_OK) << "a second attach without removing";
    ASSERT_EQ(call()->removed(view_), V3_OK);
    EXPECT_TRUE(children().empty());
    EXPECT_EQ(frame_->timer, nullptr);
    ASSERT_EQ(attach(), V3_OK) << "attached again after removal";
    EXPECT_EQ(children().size(), 1u);
}

TEST_F(Vst3Editor, ContentScaleFactorSizesTheViewAndAChangeResizesTheFrame) {
    void* found = nullptr;
    ASSERT_EQ(vst3::unknown(view_)->query_interface(view_, v3_plugin_view_content_scale_iid, &found), V3_OK);
    auto** scaling = static_cast<v3_plugin_view_content_scale**>(found);
    const auto setFactor = [&](float factor) {
        return vst3::entries<v3_plugin_view_content_scale>(scaling)->set_content_scale_factor(scaling, factor);
    };
    EXPECT_NE(setFactor(0.0f), V3_OK);
    ASSERT_EQ(setFactor(1.5f), V3_OK);
    v3_view_rect size{};
    ASSERT_EQ(call()->get_size(view_, &size), V3_OK);
    EXPECT_EQ(size.right - size.left, 989);  // 659 x 1.5, rounded
    EXPECT_EQ(size.bottom - size.top, 719);
    v3_view_rect wanted{0, 0, 2000, 300};
    call()->check_size_constraint(view_, &wanted);
    EXPECT_EQ(wanted.right, 989);
    EXPECT_EQ(wanted.bottom, 719);

    ASSERT_EQ(attach(), V3_OK);
    EXPECT_EQ(frame_->resizes, 0) << "opened at the size the host was told";
    ASSERT_EQ(setFactor(2.0f), V3_OK);
    ASSERT_EQ(frame_->resizes, 1);
    EXPECT_EQ(frame_->lastResize.right - frame_->lastResize.left, 1318);
    EXPECT_EQ(frame_->lastResize.bottom - frame_->lastResize.top, 958);
    ASSERT_EQ(call()->get_size(view_, &size), V3_OK);
    EXPECT_EQ(size.right - size.left, 1318);
    run(2);
    vst3::releaseInterface(scaling);
}

// A host selecting a program hears of the new values only from the next timer
// tick: calling back from inside the host's own call can deadlock it.
TEST_F(Vst3Editor, ProgramChangeIsAnnouncedFromTheTimerOnly) {
    ASSERT_EQ(attach(), V3_OK);
    run(1);
    ASSERT_TRUE(plugin_->setParam(0x20000, 2 / 31.0));
    EXPECT_EQ(plugin_->record().restarts, 0);
    EXPECT_EQ(plugin_->getParam(5), static_cast<double>(0.324113f));  // "Scratchy"'s "A Res", at once
    run(1);
    EXPECT_EQ(plugin_->record().restarts, 1);
    run(2);
    EXPECT_EQ(plugin_->record().restarts, 1);
}

// The Feedback knob dragged with the pointer: one gesture for the host, the
// value in the controller.
TEST_F(Vst3Editor, KnobDragIsAnEditGesture) {
    if (!xtest::hasXTest(display_)) GTEST_SKIP() << "no XTEST";
    ASSERT_TRUE(plugin_->setParam(17, 0.25));
    ASSERT_EQ(attach(), V3_OK);
    run(3);
    pointerTo(520, 59);  // the Feedback knob's centre
    button(1, true);
    for (int y = 54; y >= 19; y -= 5) pointerTo(520, y);
    button(1, false);
    run(4);
    const HostRecord& r = plugin_->record();
    EXPECT_EQ(r.begins, 1);
    EXPECT_EQ(r.ends, 1);
    ASSERT_FALSE(r.performed.empty());
    for (const auto& edit : r.performed) EXPECT_EQ(edit.first, 17u);
    EXPECT_NEAR(r.performed.back().second, 0.45, 1e-5);
    EXPECT_EQ(plugin_->getParam(17), r.performed.back().second);
}

// What the window shows, read back from the X server, against `kovalith
// snapshot` of the VST 2.4 plug-in with the same program and setting.
TEST_F(Vst3Editor, DrawsAsTheVst2EditorDoes) {
    std::string png;
    ASSERT_TRUE(xtest::runSnapshot(KOVALITH_HOST_EXE, std::string(TEST_TMP_DIR) + "/vst3-editor",
                                   "--preset 3 --set 9=0.7", &png));
    const xtest::Pixels wanted = xtest::readPng(png);
    ASSERT_FALSE(wanted.empty()) << "no 659 x 479 snapshot in " << png;

    ASSERT_TRUE(plugin_->setParam(0x20000, 3 / 31.0));  // "FBM"
    ASSERT_TRUE(plugin_->setParam(9, 0.7));              // "Saturation"
    ASSERT_EQ(attach(), V3_OK);
    run(10);
    const std::vector<Window> kids = children();
    ASSERT_EQ(kids.size(), 1u);
    EXPECT_EQ(xtest::pixelDifference(xtest::capturePixels(display_, kids[0]), wanted), "");
}

}  // namespace
}  // namespace kovalith::vst3test
