// The LV2 UI in a real host: jalv (on a JACK server of the test's own, with
// the dummy driver) embeds the editor in its window on a private Xvfb; the
// window's pixels must be `kovalith snapshot`'s for the same settings.
// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include "tests/XServer.h"
#include "tests/EditorPixels.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

const auto* const gXServer = ::testing::AddGlobalTestEnvironment(new xtest::PrivateXServer);

using xtest::kEditorHeight;
using xtest::kEditorWidth;
const std::string kTmp = std::string(TEST_TMP_DIR) + "/jalv-" + std::to_string(getpid());

bool haveCommand(const char* name) { return std::system((std::string("command -v ") + name + " >/dev/null").c_str()) == 0; }

// A child process that is ended (SIGTERM, then waited for) when this goes.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& environment, const std::string& log) {
        pid_ = fork();
        if (pid_ != 0) return;
        for (const std::string& setting : environment) putenv(const_cast<char*>(setting.c_str()));
        if (!freopen(log.c_str(), "w", stdout) || !freopen(log.c_str(), "a", stderr)) _exit(127);
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    ~Child() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        for (int i = 0; i < 50 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (waitpid(pid_, nullptr, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

private:
    pid_t pid_ = -1;
};

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

std::string readFile(const std::string& path) {
    std::string text;
    if (FILE* file = std::fopen(path.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
        std::fclose(file);
    }
    return text;
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
    Child jack({"jackd", "--no-realtime", "-n", server, "-d", "dummy", "-r", "44100", "-p", "1024"}, environment,
               kTmp + "-jackd.log");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ASSERT_TRUE(jack.running()) << readFile(kTmp + "-jackd.log");
    Child jalv({"jalv.gtk3", "-p", "https://kovalith.audio/lv2/kovalith#program-03", "-c", "feedback=0.7", "-c",
                "lfo2_shape=2", "-c", "lfo2_stereo=0", "https://kovalith.audio/lv2/kovalith"},
               environment, kTmp + "-jalv.log");

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
    ASSERT_NE(editor, 0u) << "jalv showed no editor window:\n" << readFile(kTmp + "-jalv.log");
    if (seen != wanted) xtest::writePng(seen, kTmp + "-seen.png");
    EXPECT_TRUE(seen == wanted) << xtest::pixelDifference(seen, wanted) << " from " << expected
                                << "; jalv's window is in " << kTmp << "-seen.png";
    if (seen == wanted && !HasFailure()) std::system(("rm -rf '" + kTmp + "'-*").c_str());
}

}  // namespace
