// The CLAP plug-in's editor in a real X window on a private Xvfb: the gui
// extension's lifecycle, idle from the host's timer, and a knob drag that
// reaches the host as a gesture with its values.
#include "tests/XServer.h"
#include "tests/EditorPixels.h"

#include <cmath>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include "tests/clap/ClapHost.h"

namespace claptest {
namespace {

const auto* const gServer = ::testing::AddGlobalTestEnvironment(new xtest::PrivateXServer);

ClapModule& module() {
    static std::unique_ptr<ClapModule> loaded = [] {
        std::string error;
        auto m = ClapModule::open(KOVALITH_CLAP, &error);
        if (!m) ADD_FAILURE() << error;
        return m;
    }();
    return *loaded;
}

class ClapEditorTest : public xtest::HostWindowTest {
protected:
    void SetUp() override {
        openHostWindow(xtest::kEditorWidth, xtest::kEditorHeight);
        if (IsSkipped() || HasFatalFailure()) return;
        std::string why;
        k = ClapInstance::create(module(), "audio.kovalith.kovalith", &why);
        ASSERT_NE(k, nullptr) << why;
        gui = k->gui();
        ASSERT_NE(gui, nullptr);
    }
    void TearDown() override {
        k.reset();
        HostWindowTest::TearDown();
    }

    clap_window_t parentWindow() const {
        clap_window_t w{};
        w.api = CLAP_WINDOW_API_X11;
        w.x11 = parent_;
        return w;
    }
    // The host's run loop: timers until `done` holds or two seconds pass.
    bool runUntil(const std::function<bool()>& done) {
        return xtest::stepUntil([&] { k->fireTimers(); }, done);
    }

    std::unique_ptr<ClapInstance> k;
    const clap_plugin_gui_t* gui = nullptr;
};

TEST_F(ClapEditorTest, HostScaleSizesTheWindowAndAChangeAsksForAResize) {
    const clap_plugin_t* p = k->plugin();
    ASSERT_TRUE(gui->create(p, CLAP_WINDOW_API_X11, false));
    EXPECT_FALSE(gui->set_scale(p, 0.0));
    EXPECT_FALSE(gui->set_scale(p, NAN));
    ASSERT_TRUE(gui->set_scale(p, 1.5));
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(gui->get_size(p, &w, &h));
    EXPECT_EQ(w, 989u);  // 659 x 1.5, rounded
    EXPECT_EQ(h, 719u);
    EXPECT_TRUE(gui->set_size(p, 989, 719));
    EXPECT_FALSE(gui->set_size(p, 659, 479));

    const clap_window_t parent = parentWindow();
    ASSERT_TRUE(gui->set_parent(p, &parent));
    ASSERT_TRUE(gui->show(p));
    EXPECT_EQ(k->record().resizeRequests, 0) << "opened at the size the host was told";
    ASSERT_TRUE(gui->set_scale(p, 2.0));
    EXPECT_EQ(k->record().resizeRequests, 1);
    EXPECT_EQ(k->record().resizeWidth, 1318u);
    EXPECT_EQ(k->record().resizeHeight, 958u);
    ASSERT_TRUE(gui->get_size(p, &w, &h));
    EXPECT_EQ(w, 1318u);
    EXPECT_EQ(h, 958u);
    // Below 1 counts as 1.
    ASSERT_TRUE(gui->set_scale(p, 0.75));
    EXPECT_EQ(k->record().resizeRequests, 2);
    EXPECT_EQ(k->record().resizeWidth, 659u);
    gui->destroy(p);
}

TEST_F(ClapEditorTest, EmbedsInTheHostsWindowOnItsTimer) {
    const clap_plugin_t* p = k->plugin();
    EXPECT_TRUE(gui->is_api_supported(p, CLAP_WINDOW_API_X11, false));
    EXPECT_FALSE(gui->is_api_supported(p, CLAP_WINDOW_API_X11, true));
    EXPECT_FALSE(gui->is_api_supported(p, CLAP_WINDOW_API_WIN32, false));
    const char* api = nullptr;
    bool floating = true;
    ASSERT_TRUE(gui->get_preferred_api(p, &api, &floating));
    EXPECT_STREQ(api, CLAP_WINDOW_API_X11);
    EXPECT_FALSE(floating);
    EXPECT_FALSE(gui->create(p, CLAP_WINDOW_API_X11, true));

    ASSERT_TRUE(gui->create(p, CLAP_WINDOW_API_X11, false));
    ASSERT_EQ(k->timers().size(), 1u);
    EXPECT_GE(k->timerPeriod(k->timers()[0]), 15u);
    EXPECT_LE(k->timerPeriod(k->timers()[0]), 40u);
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(gui->get_size(p, &w, &h));
    EXPECT_EQ(w, 659u);
    EXPECT_EQ(h, 479u);
    EXPECT_FALSE(gui->can_resize(p));
    EXPECT_FALSE(gui->set_size(p, 700, 500));

    const clap_window_t parent = parentWindow();
    ASSERT_TRUE(gui->set_parent(p, &parent));
    ASSERT_TRUE(gui->show(p));
    const std::vector<Window> kids = children();
    ASSERT_EQ(kids.size(), 1u);
    EXPECT_EQ(sizeOf(kids[0]), std::make_pair(659, 479));
    XWindowAttributes attributes;
    XGetWindowAttributes(display_, kids[0], &attributes);
    EXPECT_EQ(attributes.map_state, IsViewable);
    k->fireTimers();

    EXPECT_TRUE(gui->hide(p));
    EXPECT_TRUE(children().empty());
    EXPECT_TRUE(gui->show(p));
    EXPECT_EQ(children().size(), 1u);
    gui->destroy(p);
    EXPECT_TRUE(children().empty());
    EXPECT_TRUE(k->timers().empty());

    // Created again after a destroy; destroyed with the plug-in.
    ASSERT_TRUE(gui->create(p, CLAP_WINDOW_API_X11, false));
    ASSERT_TRUE(gui->set_parent(p, &parent));
    EXPECT_EQ(children().size(), 1u);
    k.reset();
    EXPECT_TRUE(children().empty());
}

TEST_F(ClapEditorTest, DrawsWhatTheVst2EditorDraws) {
    // The same settings in both: "Scratchy" with a feedback of 0.9.
    std::string png;
    ASSERT_TRUE(xtest::runSnapshot(KOVALITH_HOST_EXE, std::string(TEST_TMP_DIR) + "/clap-" + std::to_string(getpid()),
                                   "--preset 2 --set Feedback=0.9", &png));
    const xtest::Pixels wanted = xtest::readPng(png);
    std::remove(png.c_str());
    ASSERT_FALSE(wanted.empty()) << "no 659 x 479 snapshot";

    std::vector<uint8_t> state = *k->saveState();
    state[24576 + 4] = 2;
    ASSERT_TRUE(k->loadState(state));
    EventList in, out;
    in.addParamValue(17, 0.9);
    k->flush(in, out);
    const clap_plugin_t* p = k->plugin();
    ASSERT_TRUE(gui->create(p, CLAP_WINDOW_API_X11, false));
    const clap_window_t parent = parentWindow();
    ASSERT_TRUE(gui->set_parent(p, &parent));
    ASSERT_TRUE(gui->show(p));
    for (int i = 0; i < 10; ++i) {
        k->fireTimers();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::vector<Window> kids = children();
    ASSERT_EQ(kids.size(), 1u);
    EXPECT_EQ(xtest::pixelDifference(xtest::capturePixels(display_, kids[0]), wanted), "");
}

TEST_F(ClapEditorTest, WithoutTheHostsTimerThereIsNoEditor) {
    std::string why;
    auto noTimers = ClapInstance::create(module(), "audio.kovalith.kovalith", &why, false);
    ASSERT_NE(noTimers, nullptr) << why;
    EXPECT_FALSE(noTimers->gui()->create(noTimers->plugin(), CLAP_WINDOW_API_X11, false));
}

TEST_F(ClapEditorTest, AKnobDragReachesTheHostAsAGesture) {
    const clap_plugin_t* p = k->plugin();
    ASSERT_TRUE(k->activate(44100.0, 1, 512));
    EventList in, out;
    in.addParamValue(17, 0.25);
    k->flush(in, out);
    ASSERT_TRUE(gui->create(p, CLAP_WINDOW_API_X11, false));
    const clap_window_t parent = parentWindow();
    ASSERT_TRUE(gui->set_parent(p, &parent));
    ASSERT_TRUE(gui->show(p));
    k->fireTimers();
    k->clearRecord();

    // The Feedback knob's centre is (520, 59): drag up 40 pixels.
    pointerTo(520, 59);
    button(1, true);
    for (int y = 54; y >= 19; y -= 5) pointerTo(520, y);
    ASSERT_TRUE(runUntil([&] { return *k->paramValue(17) >= 0.45 - 1e-6; })) << *k->paramValue(17);
    const int flushes = k->record().requestFlush;
    EXPECT_GE(flushes, 2) << "the gesture's begin and its values ask for a flush";
    button(1, false);
    ASSERT_TRUE(runUntil([&] { return k->record().requestFlush > flushes; })) << "the end asks too";

    // The host's next block carries the gesture; the audio already has the value.
    const std::vector<float> silence(64, 0.0f);
    std::vector<float> l(64), r(64);
    const float* ins[2] = {silence.data(), silence.data()};
    float* outs[2] = {l.data(), r.data()};
    ASSERT_EQ(k->process(ins, outs, 64, nullptr, &out), CLAP_PROCESS_CONTINUE);
    ASSERT_GE(out.size(), 3u);
    EXPECT_EQ(out.at(0).type, CLAP_EVENT_PARAM_GESTURE_BEGIN);
    EXPECT_EQ(out.at(out.size() - 1).type, CLAP_EVENT_PARAM_GESTURE_END);
    const auto values = out.ofType(CLAP_EVENT_PARAM_VALUE);
    ASSERT_EQ(values.size(), out.size() - 2);
    for (const clap_event_header_t* e : values) {
        EXPECT_EQ(reinterpret_cast<const clap_event_param_value_t*>(e)->param_id, 17u);
        EXPECT_FALSE(e->flags & CLAP_EVENT_DONT_RECORD) << "an edit is automation";
    }
    EXPECT_NEAR(reinterpret_cast<const clap_event_param_value_t*>(values.back())->value, 0.45, 1e-5);
    out.clear();
    ASSERT_EQ(k->process(ins, outs, 64, nullptr, &out), CLAP_PROCESS_CONTINUE);
    EXPECT_EQ(out.size(), 0u) << "reported once";
}

}  // namespace
}  // namespace claptest
