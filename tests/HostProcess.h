// Runs the command-line host as a user does, as a subprocess, and keeps what
// it printed; and other programs beside the test, such as jackd or a host.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace kovalith {
namespace testing {

struct HostRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline std::string readTextFile(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Runs `executable args` through the shell (args already quoted where needed);
// `prefix` goes before it, e.g. "cd 'DIR' && " or environment settings. The
// output passes through files named after `scratchBase`, removed afterwards.
inline HostRun runHostProcess(const std::string& executable, const std::string& args,
                              const std::string& scratchBase, const std::string& prefix = "") {
    const std::string base = scratchBase + "-" + std::to_string(::getpid());
    const std::string command =
        prefix + "'" + executable + "' " + args + " >'" + base + ".out' 2>'" + base + ".err'";
    const int status = std::system(command.c_str());
    HostRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readTextFile(base + ".out");
    run.err = readTextFile(base + ".err");
    std::remove((base + ".out").c_str());
    std::remove((base + ".err").c_str());
    return run;
}

// A program whose output goes to a file; stopped, if still running, when this
// goes: SIGTERM first, since a killed jackd leaves its entry in JACK's registry
// of servers (which holds eight), SIGKILL after five seconds.
class Child {
public:
    // `environment` holds NAME=VALUE settings added to the program's own.
    Child(std::vector<std::string> args, const std::string& log, std::vector<std::string> environment = {}) {
        pid_ = fork();
        if (pid_ != 0) return;
        for (std::string& setting : environment) putenv(&setting[0]);
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || dup2(fd, 1) < 0 || dup2(fd, 2) < 0) _exit(127);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (pid_ <= 0 || terminate(std::chrono::seconds(5)) >= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    bool running() {
        if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0) return true;
        pid_ = 0;
        return false;
    }
    // The exit status after SIGTERM, or -1 when it is not over within `limit`.
    int terminate(std::chrono::milliseconds limit) {
        kill(pid_, SIGTERM);
        return wait(limit);
    }
    // The exit status, or -1 when it is not over within `limit`.
    int wait(std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (std::chrono::steady_clock::now() < end) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = 0;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return -1;
    }

private:
    pid_t pid_ = -1;
};

}  // namespace testing
}  // namespace kovalith
