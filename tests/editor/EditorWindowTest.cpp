// The module's editor in real windows: opened through the binary interface as
// a host does, driven with XTEST pointer events, closed and reopened.
#include "tests/editor/EditorWindowHost.h"

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "host/PluginHost.h"

namespace editortest {
namespace {

using xtest::countOpenFiles;

using kovalith::host::HostRequest;
using kovalith::host::PluginInstance;

const auto* const gServer = ::testing::AddGlobalTestEnvironment(new xtest::PrivateXServer);

class EditorWindow : public EditorWindowHost {
protected:
    void SetUp() override {
        openHostWindow(659, 479);
        if (IsSkipped() || HasFatalFailure()) return;
        loadPlugin();
    }
    std::vector<HostRequest> automations() {
        std::vector<HostRequest> out;
        for (const HostRequest& r : plugin->requests())
            if (r.opcode == vst2::audioMasterAutomate) out.push_back(r);
        return out;
    }

};

TEST_F(EditorWindow, OpensAsAChildOfTheHostsWindow) {
    ASSERT_EQ(openEditor(parentHandle()), 1);
    const std::vector<Window> kids = children();
    ASSERT_EQ(kids.size(), 1u);
    EXPECT_EQ(sizeOf(kids[0]), std::make_pair(659, 479));
    XWindowAttributes attributes;
    XGetWindowAttributes(display_, kids[0], &attributes);
    EXPECT_EQ(attributes.map_state, IsViewable);
    plugin->dispatch(vst2::effEditIdle);

    // A second open without a close is refused and leaves the window as it is.
    EXPECT_EQ(openEditor(parentHandle()), 0);
    EXPECT_EQ(children(), kids);
    plugin->dispatch(vst2::effEditClose);
    EXPECT_TRUE(children().empty());
}

TEST_F(EditorWindow, FeedbackDragAndPingPongClickReachTheHost) {
    plugin->setParameter(17, 0.25f);
    ASSERT_EQ(openEditor(parentHandle()), 1);
    plugin->dispatch(vst2::effEditIdle);
    plugin->clearRecord();

    // The Feedback knob's centre is (520, 59): drag up 40 pixels.
    pointerTo(520, 59);
    button(1, true);
    for (int y = 54; y >= 19; y -= 5) pointerTo(520, y);
    ASSERT_TRUE(idleUntil([&] { return plugin->getParameter(17) >= 0.45f - 1e-6f; }))
        << "Feedback " << plugin->getParameter(17);
    button(1, false);
    ASSERT_TRUE(idleUntil([&] { return plugin->counters().endEdit >= 1; }));
    const std::vector<HostRequest> feedback = automations();
    ASSERT_FALSE(feedback.empty());
    for (const HostRequest& r : feedback) EXPECT_EQ(r.index, 17);
    EXPECT_NEAR(feedback.back().opt, 0.45f, 1e-5);
    EXPECT_EQ(plugin->counters().beginEdit, 1);

    // A click on the ping-pong button toggles it.
    plugin->clearRecord();
    const float before = plugin->getParameter(23);
    pointerTo(525, 222);
    button(1, true);
    button(1, false);
    ASSERT_TRUE(idleUntil([&] { return !automations().empty(); }));
    EXPECT_EQ(automations()[0].index, 23);
    EXPECT_FLOAT_EQ(automations()[0].opt, before > 0.5f ? 0.0f : 1.0f);
    EXPECT_FLOAT_EQ(plugin->getParameter(23), automations()[0].opt);
}

TEST_F(EditorWindow, ClosesAndReopensTwentyTimesWithoutLeaks) {
    ASSERT_EQ(openEditor(parentHandle()), 1);
    plugin->dispatch(vst2::effEditIdle);
    plugin->dispatch(vst2::effEditClose);
    const int filesBefore = countOpenFiles();
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(openEditor(parentHandle()), 1) << "round " << i;
        plugin->setParameter(17, static_cast<float>(i) / 20.0f);
        plugin->dispatch(vst2::effEditIdle);
        EXPECT_EQ(children().size(), 1u);
        plugin->dispatch(vst2::effEditClose);
        EXPECT_TRUE(children().empty());
    }
    EXPECT_EQ(countOpenFiles(), filesBefore) << "every display connection is closed";
}

TEST_F(EditorWindow, BadParentsAndMissingDisplayAnswerZero) {
    // Close and idle without a window do nothing.
    plugin->dispatch(vst2::effEditClose);
    plugin->dispatch(vst2::effEditIdle);
    EXPECT_EQ(openEditor(nullptr), 0);
    EXPECT_EQ(openEditor(reinterpret_cast<void*>(uintptr_t(0x3fffff0))), 0) << "not a window";
    plugin->dispatch(vst2::effEditIdle);
    plugin->dispatch(vst2::effEditClose);

    const std::string saved = std::getenv("DISPLAY");
    unsetenv("DISPLAY");
    const intptr_t answer = openEditor(parentHandle());
    setenv("DISPLAY", saved.c_str(), 1);
    EXPECT_EQ(answer, 0);
    EXPECT_TRUE(children().empty());

    // The editor still opens afterwards.
    EXPECT_EQ(openEditor(parentHandle()), 1);
    EXPECT_EQ(children().size(), 1u);
}

TEST_F(EditorWindow, HostDestroyingItsWindowFirst) {
    ASSERT_EQ(openEditor(parentHandle()), 1);
    plugin->dispatch(vst2::effEditIdle);
    XDestroyWindow(display_, parent_);
    XSync(display_, False);
    plugin->dispatch(vst2::effEditIdle);
    plugin->dispatch(vst2::effEditClose);
    parent_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 10, 10, 0, 0, 0);
    XSync(display_, False);  // the editor's own connection must see the new window
    EXPECT_EQ(openEditor(parentHandle()), 1);
}

TEST_F(EditorWindow, ClosingTheEffectWithTheWindowOpen) {
    ASSERT_EQ(openEditor(parentHandle()), 1);
    plugin->dispatch(vst2::effEditIdle);
    plugin.reset();  // effClose with the editor open: the window goes with it
    EXPECT_TRUE(children().empty());
}

}  // namespace
}  // namespace editortest
