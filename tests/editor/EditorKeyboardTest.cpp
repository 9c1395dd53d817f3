// Typing, resetting and fine control in the module's real window, driven by
// xdotool on a private Xvfb as a user would: what the host records and whose
// the keyboard is.
#include "tests/editor/EditorWindowHost.h"

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "host/PluginHost.h"

namespace editortest {
namespace {

using kovalith::host::HostRequest;
using kovalith::host::PluginInstance;

const auto* const gServer = ::testing::AddGlobalTestEnvironment(new xtest::PrivateXServer);

// Window coordinates of the controls used here (the host window sits at the root's origin).
constexpr int kDelay = 16, kFeedback = 17, kMix = 58;
const char* const kDelayReadout = "469 82";
const char* const kMixKnob = "605 59";
const char* const kCompressorMenu = "375 12";

class EditorKeyboard : public EditorWindowHost {
protected:
    void SetUp() override {
        if (std::system("command -v xdotool >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "xdotool is not installed (scripts/deps.sh test installs it)";
        openHostWindow(659, 479, false);
        if (IsSkipped() || HasFatalFailure()) return;
        loadPlugin();
        if (HasFatalFailure()) return;
        ASSERT_EQ(openEditor(parentHandle()), 1);
        ASSERT_EQ(children().size(), 1u);
        editorWindow = children()[0];
        plugin->dispatch(vst2::effEditIdle);
    }

    // xdotool's input, then the host's idle loop until `done` holds or two seconds pass.
    bool xdotool(const std::string& arguments, const std::function<bool()>& done) {
        if (std::system(("xdotool " + arguments).c_str()) != 0) return false;
        return idleUntil(done);
    }
    // The same for input whose effect is checked afterwards: idles a fifth of a second.
    void xdotool(const std::string& arguments) {
        EXPECT_EQ(std::system(("xdotool " + arguments).c_str()), 0) << arguments;
        idleUntil([] { return false; }, 200);
    }
    Window focus() {
        Window window = 0;
        int revert = 0;
        XGetInputFocus(display_, &window, &revert);
        return window;
    }
    bool editorHasKeyboard() { return focus() == editorWindow; }
    std::vector<int32_t> opcodes() {
        std::vector<int32_t> out;
        for (const HostRequest& r : plugin->requests()) out.push_back(r.opcode);
        return out;
    }
    // The root's viewable override-redirect windows: the editor's pop-up lists.
    int popupsShown() {
        int shown = 0;
        for (Window w : xtest::childrenOf(display_, DefaultRootWindow(display_))) {
            XWindowAttributes attributes;
            if (XGetWindowAttributes(display_, w, &attributes) && attributes.override_redirect &&
                attributes.map_state == IsViewable)
                ++shown;
        }
        return shown;
    }
    bool openDelayEntry() {
        return xdotool(std::string("mousemove ") + kDelayReadout + " click --repeat 2 --delay 60 1",
                       [&] { return editorHasKeyboard(); });
    }

    Window editorWindow = 0;
};

TEST_F(EditorKeyboard, TypedValueReachesTheHostAsOneGesture) {
    plugin->setParameter(kDelay, 0.1f);
    const Window before = focus();
    ASSERT_TRUE(openDelayEntry()) << "the field takes the keyboard";
    plugin->clearRecord();
    xdotool("type --delay 20 '250 ms'");
    ASSERT_TRUE(xdotool("key Return", [&] { return plugin->counters().endEdit == 1; }));
    const std::vector<int32_t> gesture = {vst2::audioMasterBeginEdit, vst2::audioMasterAutomate,
                                          vst2::audioMasterEndEdit};
    EXPECT_EQ(opcodes(), gesture);
    EXPECT_EQ(plugin->requests()[1].index, kDelay);
    EXPECT_EQ(plugin->requests()[1].opt, 0.25f);
    EXPECT_EQ(plugin->getParameter(kDelay), 0.25f);
    EXPECT_FALSE(editorHasKeyboard());
    EXPECT_EQ(focus(), before) << "the keyboard goes back to whoever had it";
}

TEST_F(EditorKeyboard, GarbageSendsNothingAndEscapeCancels) {
    plugin->setParameter(kDelay, 0.1f);
    ASSERT_TRUE(openDelayEntry());
    plugin->clearRecord();
    xdotool("type --delay 20 'garbage'");
    xdotool("key Return");
    EXPECT_TRUE(plugin->requests().empty());
    EXPECT_EQ(plugin->getParameter(kDelay), 0.1f);
    EXPECT_TRUE(editorHasKeyboard()) << "the field stays open for correction";
    ASSERT_TRUE(xdotool("key Escape", [&] { return !editorHasKeyboard(); }));
    idleUntil([] { return false; }, 100);
    EXPECT_TRUE(plugin->requests().empty());
    EXPECT_EQ(plugin->getParameter(kDelay), 0.1f);

    // The host taking the keyboard back closes the field: a Return typed into the
    // editor's window afterwards applies nothing.
    ASSERT_TRUE(openDelayEntry());
    xdotool("type --delay 20 '0.5'");
    XSetInputFocus(display_, parent_, RevertToParent, CurrentTime);
    XSync(display_, False);
    idleUntil([] { return false; }, 200);
    EXPECT_EQ(focus(), parent_) << "the editor leaves the keyboard to the host";
    XSetInputFocus(display_, editorWindow, RevertToParent, CurrentTime);
    XSync(display_, False);
    xdotool("key Return");
    EXPECT_TRUE(plugin->requests().empty());
    EXPECT_EQ(plugin->getParameter(kDelay), 0.1f);

}

TEST_F(EditorKeyboard, ControlClickResetsAndShiftDragMovesATenth) {
    plugin->setParameter(kMix, 0.9f);
    plugin->clearRecord();
    ASSERT_TRUE(xdotool(std::string("mousemove ") + kMixKnob + " keydown ctrl click 1 keyup ctrl",
                        [&] { return plugin->counters().endEdit == 1; }));
    EXPECT_EQ(plugin->getParameter(kMix), 0.5f);
    EXPECT_EQ(plugin->counters().automate, 1);

    // The Feedback knob's centre is (520, 59): 40 pixels up, with Shift and without.
    const auto dragged = [&](const char* modifier) {
        plugin->setParameter(kFeedback, 0.25f);
        idleUntil([] { return false; }, 500);  // two presses in a row would make a double click
        plugin->dispatch(vst2::effEditIdle);
        const std::string down = std::string(modifier) + " mousemove 520 59 mousedown 1 mousemove 520 49 mousemove 520 19";
        const std::string up = std::string(" mouseup 1 ") + (modifier[0] ? "keyup shift" : "");
        plugin->clearRecord();
        xdotool(down + up, [&] { return plugin->counters().endEdit == 1; });
        return plugin->getParameter(kFeedback) - 0.25f;
    };
    const float normal = dragged("");
    const float fine = dragged("keydown shift");
    EXPECT_NEAR(normal, 0.2f, 1e-5f);
    EXPECT_NEAR(fine, 0.02f, 1e-5f);
}

TEST_F(EditorKeyboard, EscapeClosesAnOpenMenu) {
    const float before = plugin->getParameter(65);
    ASSERT_TRUE(xdotool(std::string("mousemove ") + kCompressorMenu + " click 1", [&] { return popupsShown() == 1; }));
    ASSERT_TRUE(xdotool("key Escape", [&] { return popupsShown() == 0; }));
    EXPECT_EQ(plugin->getParameter(65), before);
    EXPECT_EQ(plugin->counters().automate, 0);
}

}  // namespace
}  // namespace editortest
