// An X server of the test program's own, for tests that open real windows, and
// what those tests do in them as a host would.
//
// Every test program that registers this environment starts its own Xvfb (which picks a
// free display number and reports it through -displayfd) and points DISPLAY at it. So
// parallel ctest runs never share a server: XTEST pointer events of one test cannot land
// in another test's windows, and nothing depends on xvfb-run. Only when Xvfb cannot be
// started is an inherited DISPLAY used; with neither, xServerAvailable() is false and
// the tests skip.
//
// While the environment lives it holds one connection of its own open: an X server that
// loses its last client resets itself and refuses connections meanwhile, which made
// tests fail at random between one test's close and the next one's open.
#pragma once

// gtest first: Xlib defines macros (None, Bool, ...) that clash with its names.
#include <gtest/gtest.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace xtest {

class PrivateXServer : public ::testing::Environment {
public:
    static bool available() { return available_; }

    void SetUp() override {
        const char* inherited = std::getenv("DISPLAY");
        if (inherited) inheritedDisplay_ = inherited;
        hadInherited_ = inherited != nullptr;
        if (startXvfb()) {
            unsetenv("XAUTHORITY");  // our server takes no authorisation
            keepAlive_ = XOpenDisplay(nullptr);
        } else {
            stopXvfb();
            restoreDisplay();
            if (hadInherited_ && !inheritedDisplay_.empty()) keepAlive_ = XOpenDisplay(nullptr);
        }
        available_ = keepAlive_ != nullptr;
        if (!available_)
            std::fprintf(stderr, "PrivateXServer: no X server (install xvfb); the X tests skip\n");
    }

    void TearDown() override {
        available_ = false;
        if (keepAlive_) XCloseDisplay(keepAlive_);
        keepAlive_ = nullptr;
        stopXvfb();
        restoreDisplay();
    }

private:
    bool startXvfb() {
        int fds[2];
        if (pipe(fds) != 0) return false;
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ < 0) {
            close(fds[0]);
            close(fds[1]);
            return false;
        }
        if (pid_ == 0) {
            // The server goes with the test program, even when that one crashes.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent) _exit(1);
            close(fds[0]);
            // No inherited stdout or stderr: a pipe reader (ctest, `| tail`) must not wait
            // for the server.
            const int null = open("/dev/null", O_RDWR);
            if (null >= 0) {
                dup2(null, STDIN_FILENO);
                dup2(null, STDOUT_FILENO);
                dup2(null, STDERR_FILENO);
            }
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-noreset", "-nolisten", "tcp", "-screen", "0",
                   "1024x768x24", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        // A loaded machine (sanitizer builds, parallel tests) may take a while.
        std::string number;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        bool complete = false;
        while (!complete) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{fds[0], POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            char c;
            if (read(fds[0], &c, 1) != 1) break;  // the server ended (Xvfb missing: exit 127)
            if (c == '\n')
                complete = true;
            else
                number += c;
        }
        close(fds[0]);
        if (!complete || number.empty()) return false;
        setenv("DISPLAY", (":" + number).c_str(), 1);
        return true;
    }

    void stopXvfb() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    void restoreDisplay() {
        if (hadInherited_)
            setenv("DISPLAY", inheritedDisplay_.c_str(), 1);
        else
            unsetenv("DISPLAY");
    }

    static inline bool available_ = false;
    pid_t pid_ = -1;
    Display* keepAlive_ = nullptr;
    std::string inheritedDisplay_;
    bool hadInherited_ = false;
};

// Connecting to the test server now and then fails on the first try when
// connections come in quick succession; a few tries ride over that.
inline Display* openTestDisplay() {
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (Display* d = XOpenDisplay(nullptr)) return d;
        usleep(20000);
    }
    return nullptr;
}

inline bool hasXTest(Display* display) {
    int event, error, major, minor;
    return XTestQueryExtension(display, &event, &error, &major, &minor);
}

// A host's top-level window, mapped, for an editor to embed in.
inline Window createParentWindow(Display* display, int width, int height) {
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, width, height, 0, 0, 0);
    XMapWindow(display, window);
    XSync(display, False);
    return window;
}

inline void* windowHandle(Window window) { return reinterpret_cast<void*>(static_cast<uintptr_t>(window)); }

inline std::vector<Window> childrenOf(Display* display, Window window) {
    XSync(display, False);
    Window root, parent, *list = nullptr;
    unsigned n = 0;
    XQueryTree(display, window, &root, &parent, &list, &n);
    std::vector<Window> out(list, list + n);
    if (list) XFree(list);
    return out;
}

// Width and height of `window` as the server holds them now.
inline std::pair<int, int> windowSize(Display* display, Window window) {
    XSync(display, False);
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, window, &attributes);
    return {attributes.width, attributes.height};
}

// A host's loop: `step` (its idle, its timers) until `done` holds or `limit` passes.
inline bool stepUntil(const std::function<void()>& step, const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(2)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        step();
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// XTEST input at (x, y) of `window`.
inline void movePointer(Display* display, Window window, int x, int y) {
    int sx, sy;
    Window child;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), x, y, &sx, &sy, &child);
    XTestFakeMotionEvent(display, DefaultScreen(display), sx, sy, CurrentTime);
    XSync(display, False);
}
inline void pressButton(Display* display, unsigned button, bool down) {
    XTestFakeButtonEvent(display, button, down ? True : False, CurrentTime);
    XSync(display, False);
}

// A host's side of an embedded editor: its own connection to the test server
// and a mapped top-level window as the editor's parent.
class HostWindowTest : public ::testing::Test {
protected:
    // Skips without an X server, and without XTEST when `needXTest`; callers
    // return when IsSkipped() or HasFatalFailure().
    void openHostWindow(int width, int height, bool needXTest = true) {
        if (!PrivateXServer::available()) GTEST_SKIP() << "no X server (install xvfb)";
        display_ = openTestDisplay();
        ASSERT_NE(display_, nullptr);
        if (needXTest && !hasXTest(display_)) GTEST_SKIP() << "no XTEST";
        parent_ = createParentWindow(display_, width, height);
    }
    void TearDown() override {
        if (!display_) return;
        XDestroyWindow(display_, parent_);
        XCloseDisplay(display_);
        display_ = nullptr;
    }

    void* parentHandle() const { return windowHandle(parent_); }
    std::vector<Window> children() { return childrenOf(display_, parent_); }
    std::pair<int, int> sizeOf(Window window) { return windowSize(display_, window); }
    void pointerTo(int x, int y) { movePointer(display_, parent_, x, y); }
    void button(unsigned b, bool down) { pressButton(display_, b, down); }

    Display* display_ = nullptr;
    Window parent_ = 0;
};

inline int countOpenFiles() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

}  // namespace xtest
