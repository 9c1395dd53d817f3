// The LV2 UI in a real host: jalv (on a JACK server of the test's own, with
// the dummy driver) embeds the editor in its window on a private Xvfb; the
// window's pixels must be `kovalith snapshot`'s for the same settings.
// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include "tests/XServer.h"
#include "tests/EditorPixels.h"
#include "tests/HostProcess.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

const auto* const gXServer = ::testing::AddGlobalTestEnvironment(new xtest::PrivateXServer);

using kovalith::testing::Child;
using kovalith::testing::readTextFile;
using xtest::kEditorHeight;
using xtest::kEditorWidth;
const std::string kTmp = std::string(TEST_TMP_DIR) + "/jalv-" + std::to_string(getpid());

bool haveCommand(const char* name) { return std::system((std::string("command -v ") + name + " >/dev/null").c_str()) == 0; }

// The deepest window of the editor's size: the editor's own, inside the host's wrappers.
Window findEditor(Display* display, Window window, int depth, int* bestDepth) {
    Window found = 0, root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes) && attributes.width == kEditorWidth &&
        attributes.height == kEditorHeight && attributes.map_state == IsViewable && depth > *bestDepth) {
        found = window;
        *bestDepth = depth;
    }
    if (XQueryTree(display, window, &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count; ++i)
            if (Window deeper = findEditor(display, children[i], depth + 1, bestDepth)) found = deeper;
        if (children) XFree(children);
    }
    return found;
}

TEST(JalvEditor, EmbedsTheEditorAsKovalithSnapshotDrawsIt) {
#if defined(__SANITIZE_ADDRESS__)
    // It would need the sanitizer's run-time preloaded into jalv, where GTK's
    // start-up then hangs on a lock (Debian 12's jalv 1.6.6, GCC 12).
    GTEST_SKIP() << "a sanitized plug-in cannot be loaded into jalv, which is not sanitized";
#endif
    if (!xtest::PrivateXServer::available()) GTEST_SKIP() << "no X server (Xvfb is not installed)";
    for (const char* tool : {"jalv.gtk3", "jackd"})
        if (!haveCommand(tool)) GTEST_SKIP() << tool << " is not installed (scripts/deps.sh test installs it)";

    // A program through its preset, a knob, a menu and a switch set on jalv's command line.
    std::string expected;
    ASSERT_TRUE(xtest::runSnapshot(KOVALITH_HOST_EXE, kTmp, "--preset 3 --set 17=0.7 --set 31=2 --set 34=0", &expected));
    const xtest::Pixels wanted = xtest::readPng(expected);
    ASSERT_EQ(wanted.size(), static_cast<std::size_t>(kEditorWidth * kEditorHeight));

    const std::string server = "kovalith-lv2-" + std::to_string(getpid());
    const std::string lv2Path = kTmp + "-lv2";
    ASSERT_EQ(std::system(("mkdir -p '" + lv2Path + "' && ln -sfn '" + KOVALITH_LV2_BUNDLE + "' '" + lv2Path +
                           "/Kovalith.lv2'").c_str()), 0);
    std::vector<std::string> environment = {"JACK_DEFAULT_SERVER=" + server, "JACK_NO_START_SERVER=1",
                                            "LV2_PATH=" + lv2Path};
    Child jack({"jackd", "--no-realtime", "-n", server, "-d", "dummy", "-r", "44100", "-p", "1024"},
               kTmp + "-jackd.log", environment);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ASSERT_TRUE(jack.running()) << readTextFile(kTmp + "-jackd.log");
    Child jalv({"jalv.gtk3", "-p", "https://kovalith.audio/lv2/kovalith#program-03", "-c", "feedback=0.7", "-c",
                "lfo2_shape=2", "-c", "lfo2_stereo=0", "https://kovalith.audio/lv2/kovalith"},
               kTmp + "-jalv.log", environment);

    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    // Until the window shows the values the plug-in reported: at most 30 seconds.
    xtest::Pixels seen;
    Window editor = 0;
    for (int attempt = 0; attempt < 300 && jalv.running(); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        int depth = -1;
        editor = findEditor(display, DefaultRootWindow(display), 0, &depth);
        if (!editor) continue;
        seen = xtest::capturePixels(display, editor);
        if (seen == wanted) break;
    }
    XCloseDisplay(display);
    ASSERT_NE(editor, 0u) << "jalv showed no editor window:\n" << readTextFile(kTmp + "-jalv.log");
    if (seen != wanted) xtest::writePng(seen, kTmp + "-seen.png");
    EXPECT_TRUE(seen == wanted) << xtest::pixelDifference(seen, wanted) << " from " << expected
                                << "; jalv's window is in " << kTmp << "-seen.png";
    if (seen == wanted && !HasFailure()) std::system(("rm -rf '" + kTmp + "'-*").c_str());
}

}  // namespace

namespace {

// The stored value of parameter `index` in the newest values message that jalv's
// dump (-d) shows going from the plug-in to its UI; NAN before the first.
float lastReportedValue(const std::string& log, int index) {
    const std::size_t message = log.rfind("kovalith#stored>");
    if (message == std::string::npos) return NAN;
    std::size_t at = log.find('(', message);
    for (int i = 0; at != std::string::npos; ++i) {
        at = log.find('"', at);
        if (at == std::string::npos) break;
        const std::size_t end = log.find('"', at + 1);
        if (end == std::string::npos) break;
        if (i == index) return std::strtof(log.substr(at + 1, end - at - 1).c_str(), nullptr);
        at = end + 1;
    }
    return NAN;
}

bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

}  // namespace

// Typing, resetting and fine control in the editor that jalv embeds, driven by
// xdotool: what the plug-in reports back is exactly the value typed.
TEST(JalvEditor, TypedValuesResetsAndShiftDragReachThePlugin) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "a sanitized plug-in cannot be loaded into jalv, which is not sanitized";
#endif
    if (!xtest::PrivateXServer::available()) GTEST_SKIP() << "no X server (Xvfb is not installed)";
    for (const char* tool : {"jalv.gtk3", "jackd", "xdotool", "stdbuf"})
        if (!haveCommand(tool)) GTEST_SKIP() << tool << " is not installed (scripts/deps.sh test installs it)";

    const std::string tmp = kTmp + "-input";
    const std::string lv2Path = tmp + "-lv2";
    ASSERT_TRUE(run("mkdir -p '" + lv2Path + "' && ln -sfn '" + KOVALITH_LV2_BUNDLE + "' '" + lv2Path + "/Kovalith.lv2'"));
    const std::string server = "kovalith-input-" + std::to_string(getpid());
    std::vector<std::string> environment = {"JACK_DEFAULT_SERVER=" + server, "JACK_NO_START_SERVER=1",
                                            "LV2_PATH=" + lv2Path};
    Child jack({"jackd", "--no-realtime", "-n", server, "-d", "dummy", "-r", "44100", "-p", "1024"},
               tmp + "-jackd.log", environment);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ASSERT_TRUE(jack.running()) << readTextFile(tmp + "-jackd.log");
    // The dump, line-buffered, shows every values message the plug-in sends its UI.
    const std::string log = tmp + "-jalv.log";
    Child jalv({"stdbuf", "-oL", "jalv.gtk3", "-d", "-c", "delay=0.1", "-c", "mix=0.9", "-c", "feedback=0.25",
                "https://kovalith.audio/lv2/kovalith"},
               log, environment);

    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    Window editor = 0;
    for (int attempt = 0; attempt < 300 && jalv.running() && !editor; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        int depth = -1;
        editor = findEditor(display, DefaultRootWindow(display), 0, &depth);
    }
    ASSERT_NE(editor, 0u) << "jalv showed no editor window:\n" << readTextFile(log);
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(display, editor, DefaultRootWindow(display), 0, 0, &x, &y, &child);
    const auto at = [&](int wx, int wy) {
        return " mousemove " + std::to_string(x + wx) + " " + std::to_string(y + wy);
    };
    const auto focused = [&] {
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(display, &focus, &revert);
        return focus == editor;
    };
    // Until `done` holds, at most ten seconds (jalv reports values some times a second).
    const auto waitFor = [&](const std::function<bool()>& done) {
        for (int i = 0; i < 200; ++i) {
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    };
    const auto reported = [&](int index) { return lastReportedValue(readTextFile(log), index); };
    ASSERT_TRUE(waitFor([&] { return reported(58) == 0.9f; })) << readTextFile(log);

    // The "Delay" read-out: double click, type, Return.
    ASSERT_TRUE(run("xdotool" + at(469, 82) + " click --repeat 2 --delay 60 1"));
    ASSERT_TRUE(waitFor(focused)) << "the field takes the keyboard";
    ASSERT_TRUE(run("xdotool type --delay 20 '250 ms' && xdotool key Return"));
    EXPECT_TRUE(waitFor([&] { return reported(16) == 0.25f; })) << reported(16);
    EXPECT_TRUE(waitFor([&] { return !focused(); })) << "and gives it back";

    // Garbage: the field stays open and the plug-in keeps its value; Escape closes it.
    ASSERT_TRUE(run("xdotool" + at(469, 82) + " click --repeat 2 --delay 60 1"));
    ASSERT_TRUE(waitFor(focused));
    const std::size_t messages = readTextFile(log).size();
    ASSERT_TRUE(run("xdotool type --delay 20 'garbage' && xdotool key Return sleep 1"));
    EXPECT_TRUE(focused()) << "the field stays open for correction";
    EXPECT_EQ(readTextFile(log).size(), messages) << "the plug-in was told nothing";
    ASSERT_TRUE(run("xdotool key Escape"));
    EXPECT_TRUE(waitFor([&] { return !focused(); }));

    // Ctrl-click on "Mix" sets the default; a Shift-drag on "Feedback" moves a tenth.
    ASSERT_TRUE(run("xdotool" + at(605, 59) + " keydown ctrl click 1 keyup ctrl"));
    EXPECT_TRUE(waitFor([&] { return reported(58) == 0.5f; })) << reported(58);
    ASSERT_TRUE(run("xdotool sleep 0.5 keydown shift" + at(520, 59) + " mousedown 1" + at(520, 49) + at(520, 19) +
                    " mouseup 1 keyup shift"));
    EXPECT_TRUE(waitFor([&] { return std::fabs(reported(17) - 0.27f) < 1e-5f; })) << reported(17);
    XCloseDisplay(display);
    if (!HasFailure()) run("rm -rf '" + tmp + "'-*");
}
