// kovalith-jack's window on a private Xvfb: the editor opens in it at its
// size, a knob dragged there moves the effect's parameter, and closing the
// window ends the program cleanly (saving the state it was asked to).
#include "tests/XServer.h"  // first: it orders gtest before Xlib

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "effect/KovalithEffect.h"
#include "jack/StateFile.h"
#include "tests/HostProcess.h"
#include "tests/jack/JackTestSupport.h"

namespace kovalith {
namespace jack {
namespace {

const auto* const gServer = ::testing::AddGlobalTestEnvironment(new xtest::PrivateXServer);

constexpr int kMix = 58;
constexpr int kMixKnobX = 605, kMixKnobY = 60;  // the "Mix" knob's centre in the editor

// The viewable top-level window of that name, or 0.
Window findWindow(Display* display, const char* name) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    Window found = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) return 0;
    for (unsigned i = 0; i < count && !found; ++i) {
        char* title = nullptr;
        XWindowAttributes attributes{};
        if (XFetchName(display, children[i], &title) && title && std::string(title) == name &&
            XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable)
            found = children[i];
        if (title) XFree(title);
    }
    if (children) XFree(children);
    return found;
}

// A press at (x, y) in the window, moved `dy` pixels in small steps, released.
void drag(Display* display, Window window, int x, int y, int dy) {
    Window child = 0;
    int rootX = 0, rootY = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), x, y, &rootX, &rootY, &child);
    XTestFakeMotionEvent(display, -1, rootX, rootY, 0);
    XTestFakeButtonEvent(display, 1, True, 0);
    for (int step = 1; step <= 8; ++step) {
        XSync(display, False);
        std::this_thread::sleep_for(40ms);  // the editor handles its events at its idle, ~30 Hz
        XTestFakeMotionEvent(display, -1, rootX, rootY + dy * step / 8, 0);
    }
    XSync(display, False);
    std::this_thread::sleep_for(80ms);
    XTestFakeButtonEvent(display, 1, False, 0);
    XSync(display, False);
}

// What a window manager sends when the user closes the window.
void requestClose(Display* display, Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
}

TEST(JackStandalone, EditorWindowEditsTheEffectAndClosingItQuits) {
    if (!xtest::PrivateXServer::available()) GTEST_SKIP() << "no X server (Xvfb is not installed)";
    JackLibrary jack;
    if (const std::string why = missingJack(jack); !why.empty()) GTEST_SKIP() << why;
    const std::unique_ptr<Child> jackd = startServer("editor");
    ASSERT_TRUE(waitForServer(jack, 10s)) << testing::readTextFile(scratchPath("editor-jackd.log"));

    // In the sanitizer build the program is checked for leaks at exit; fontconfig's
    // caches, which the editor's text fills, are excused as in the test programs.
    const std::string suppressions = scratchPath("lsan-suppressions");
    std::ofstream(suppressions) << "leak:libfontconfig.so\n";
    setenv("LSAN_OPTIONS", ("suppressions=" + suppressions).c_str(), 1);
    const std::string state = scratchPath("editor") + ".state";
    std::remove(state.c_str());
    Child standalone({KOVALITH_JACK_EXE, "--state", state, "--save"}, scratchPath("editor.log"));
    Display* display = xtest::openTestDisplay();
    ASSERT_NE(display, nullptr);
    Window window = 0;
    ASSERT_TRUE(waitFor([&] { return (window = findWindow(display, "Kovalith (Kovalith)")) != 0; }, 10s))
        << testing::readTextFile(scratchPath("editor.log"));
    EXPECT_EQ(xtest::windowSize(display, window), std::make_pair(659, 479));

    drag(display, window, kMixKnobX, kMixKnobY, -40);
    requestClose(display, window);
    EXPECT_EQ(standalone.wait(5s), 0) << testing::readTextFile(scratchPath("editor.log"));
    XCloseDisplay(display);

    // "Rubber Boots" mixes at 0.5; the drag upwards raised it.
    KovalithEffect effect;
    StateFileKind kind;
    std::string error;
    ASSERT_TRUE(loadStateFile(effect, state, kind, &error)) << error;
    EXPECT_GT(effect.getParameter(kMix), 0.55f);
    std::remove(state.c_str());
}

// The user's choice from an earlier session sizes the window; a new choice from the
// panel's menu resizes it.
TEST(JackStandalone, WindowTakesTheUsersScaleAndFollowsTheMenu) {
    if (!xtest::PrivateXServer::available()) GTEST_SKIP() << "no X server (Xvfb is not installed)";
    JackLibrary jack;
    if (const std::string why = missingJack(jack); !why.empty()) GTEST_SKIP() << why;
    const std::unique_ptr<Child> jackd = startServer("scale");
    ASSERT_TRUE(waitForServer(jack, 10s)) << testing::readTextFile(scratchPath("scale-jackd.log"));

    const std::string suppressions = scratchPath("lsan-suppressions");
    std::ofstream(suppressions) << "leak:libfontconfig.so\n";
    setenv("LSAN_OPTIONS", ("suppressions=" + suppressions).c_str(), 1);
    // Settings of this test's own: 125 % chosen before.
    const std::string previousConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string config = previousConfig + "/jack-scale";
    std::filesystem::create_directories(config + "/kovalith");
    std::ofstream(config + "/kovalith/editor.conf") << "scale=125\n";
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    Child standalone({KOVALITH_JACK_EXE}, scratchPath("scale.log"));
    setenv("XDG_CONFIG_HOME", previousConfig.c_str(), 1);

    Display* display = xtest::openTestDisplay();
    ASSERT_NE(display, nullptr);
    Window window = 0;
    ASSERT_TRUE(waitFor([&] { return (window = findWindow(display, "Kovalith (Kovalith)")) != 0; }, 10s))
        << testing::readTextFile(scratchPath("scale.log"));
    const auto sizeOf = [&](Window w) { return xtest::windowSize(display, w); };
    EXPECT_EQ(sizeOf(window), std::make_pair(824, 599));  // 659 x 479 at 125 %

    // A right click in the panel's left margin, then the third entry of the list: 150 %.
    xtest::movePointer(display, window, 10, 375);
    xtest::pressButton(display, 3, true);
    Window list = 0;
    const auto findList = [&] {
        for (Window w : xtest::childrenOf(display, DefaultRootWindow(display))) {
            XWindowAttributes attributes{};
            if (XGetWindowAttributes(display, w, &attributes) && attributes.override_redirect &&
                attributes.map_state == IsViewable)
                return w;
        }
        return Window(0);
    };
    EXPECT_TRUE(waitFor([&] { return (list = findList()) != 0; }, 5s)) << "no scale menu";
    xtest::pressButton(display, 3, false);
    if (list) {
        const auto listSize = sizeOf(list);
        const int entry = listSize.second / 6;
        xtest::movePointer(display, list, listSize.first / 2, entry * 2 + entry / 2);
        std::this_thread::sleep_for(80ms);
        xtest::pressButton(display, 1, true);
        xtest::pressButton(display, 1, false);
        EXPECT_TRUE(waitFor([&] { return sizeOf(window) == std::make_pair(989, 719); }, 5s))
            << sizeOf(window).first << " x " << sizeOf(window).second;
    }
    requestClose(display, window);
    EXPECT_EQ(standalone.wait(5s), 0) << testing::readTextFile(scratchPath("scale.log"));
    XCloseDisplay(display);
    std::ifstream settings(config + "/kovalith/editor.conf");
    const std::string text((std::istreambuf_iterator<char>(settings)), {});
    EXPECT_NE(text.find("scale=150"), std::string::npos) << text;
}

}  // namespace
}  // namespace jack
}  // namespace kovalith
