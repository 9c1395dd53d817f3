// The VST3 view in a real X11 window (a private Xvfb): embedded in the host's
// window, idled by the host's run loop, edits announced as gestures, and drawn
// pixel for pixel as `kovalith snapshot` draws the VST 2.4 plug-in's editor.
#include "tests/editor/XServer.h"

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <cairo.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "tests/vst3/Vst3TestHost.h"

namespace kovalith::vst3test {
namespace {

using editortest::displayAvailable;

const auto* const gServer = ::testing::AddGlobalTestEnvironment(new editortest::PrivateXServer);

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
    v3_result resizeView(v3_plugin_view**, v3_view_rect*) { return vst3::kResultFalse; }
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

class Vst3Editor : public ::testing::Test {
protected:
    void SetUp() override {
        if (!displayAvailable()) GTEST_SKIP() << "no X server (install xvfb)";
        display_ = editortest::openTestDisplay();
        ASSERT_NE(display_, nullptr);
        parent_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 659, 479, 0, 0, 0);
        XMapWindow(display_, parent_);
        XSync(display_, False);
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
        if (!display_) return;
        XDestroyWindow(display_, parent_);
        XCloseDisplay(display_);
    }

    const v3_plugin_view* call() const { return vst3::entries<v3_plugin_view>(view_); }
    v3_result attach() {
        void* parent = reinterpret_cast<void*>(static_cast<uintptr_t>(parent_));
        return call()->attached(view_, parent, V3_VIEW_PLATFORM_TYPE_X11);
    }
    std::vector<Window> children() {
        XSync(display_, False);
        Window root, parent, *list = nullptr;
        unsigned n = 0;
        XQueryTree(display_, parent_, &root, &parent, &list, &n);
        std::vector<Window> out(list, list + n);
        if (list) XFree(list);
        return out;
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
        int sx, sy;
        Window child;
        XTranslateCoordinates(display_, parent_, DefaultRootWindow(display_), x, y, &sx, &sy, &child);
        XTestFakeMotionEvent(display_, DefaultScreen(display_), sx, sy, CurrentTime);
        XSync(display_, False);
        run(2);
    }

    Display* display_ = nullptr;
    Window parent_ = 0;
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
    XWindowAttributes attributes;
    XGetWindowAttributes(display_, kids[0], &attributes);
    EXPECT_EQ(attributes.width, 659);
    EXPECT_EQ(attributes.height, 479);
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
    int event, error, major, minor;
    if (!XTestQueryExtension(display_, &event, &error, &major, &minor)) GTEST_SKIP() << "no XTEST";
    ASSERT_TRUE(plugin_->setParam(17, 0.25));
    ASSERT_EQ(attach(), V3_OK);
    run(3);
    pointerTo(520, 59);  // the Feedback knob's centre
    XTestFakeButtonEvent(display_, 1, True, CurrentTime);
    for (int y = 54; y >= 19; y -= 5) pointerTo(520, y);
    XTestFakeButtonEvent(display_, 1, False, CurrentTime);
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
    const std::string png = std::string(TEST_TMP_DIR) + "/vst3-editor-reference.png";
    // The sanitizer build checks the host for leaks at exit; fontconfig's caches
    // are excused as in the test programs (tests/LeakSuppressions.cpp).
    const std::string suppressions = std::string(TEST_TMP_DIR) + "/vst3_lsan_suppressions.txt";
    std::ofstream(suppressions) << "leak:libfontconfig.so\n";
    const std::string command = "LSAN_OPTIONS=suppressions='" + suppressions + "' " + KOVALITH_HOST_EXE +
                                " snapshot '" + png + "' --preset 3 --set 9=0.7 >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    cairo_surface_t* reference = cairo_image_surface_create_from_png(png.c_str());
    ASSERT_EQ(cairo_surface_status(reference), CAIRO_STATUS_SUCCESS);

    ASSERT_TRUE(plugin_->setParam(0x20000, 3 / 31.0));  // "FBM"
    ASSERT_TRUE(plugin_->setParam(9, 0.7));              // "Saturation"
    ASSERT_EQ(attach(), V3_OK);
    run(10);
    const std::vector<Window> kids = children();
    ASSERT_EQ(kids.size(), 1u);
    XImage* image = XGetImage(display_, kids[0], 0, 0, 659, 479, AllPlanes, ZPixmap);
    ASSERT_NE(image, nullptr);
    const unsigned char* data = cairo_image_surface_get_data(reference);
    const int stride = cairo_image_surface_get_stride(reference);
    int differing = 0;
    for (int y = 0; y < 479; ++y)
        for (int x = 0; x < 659; ++x) {
            const uint32_t want = reinterpret_cast<const uint32_t*>(data + y * stride)[x] & 0xFFFFFF;
            const uint32_t got = static_cast<uint32_t>(XGetPixel(image, x, y)) & 0xFFFFFF;
            if (want != got && differing++ < 5) ADD_FAILURE() << "pixel " << x << "," << y << std::hex << ": " << got << " not " << want;
        }
    EXPECT_EQ(differing, 0);
    XDestroyImage(image);
    cairo_surface_destroy(reference);
}

}  // namespace
}  // namespace kovalith::vst3test
