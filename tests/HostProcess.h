// Runs the command-line host as a user does, as a subprocess, and keeps what
// it printed.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

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

}  // namespace testing
}  // namespace kovalith
