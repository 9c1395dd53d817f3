// A private Xvfb for the tests that open windows and move the pointer: each
// test program has its own server, so tests running side by side never move
// each other's pointer. Without Xvfb an existing DISPLAY is used; without
// either, the tests skip.
#pragma once

// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>
#include <X11/Xlib.h>

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace editortest {

inline bool& displayAvailable() {
    static bool available = false;
    return available;
}

class PrivateXServer : public ::testing::Environment {
public:
    void SetUp() override {
        if (startXvfb()) {
            setenv("DISPLAY", (":" + number_).c_str(), 1);
            unsetenv("XAUTHORITY");  // our server takes no authorisation
        }
        displayAvailable() = canConnect();
    }
    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }

private:
    // Xvfb picks a free display number and reports it on the pipe.
    bool startXvfb() {
        int fds[2];
        if (pipe(fds) != 0) return false;
        pid_ = fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            if (!freopen("/dev/null", "w", stderr)) _exit(127);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        pollfd p{fds[0], POLLIN, 0};
        char c;
        while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number_ += c;
        close(fds[0]);
        if (number_.empty()) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
            return false;
        }
        return true;
    }
    static bool canConnect() {
        for (int attempt = 0; attempt < 10; ++attempt) {
            if (Display* d = XOpenDisplay(nullptr)) {
                XCloseDisplay(d);
                return true;
            }
            usleep(20000);
        }
        return false;
    }

    pid_t pid_ = -1;
    std::string number_;
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

inline int countOpenFiles() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

}  // namespace editortest
