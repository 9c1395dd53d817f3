// What the tests of kovalith-jack share: child processes, waiting, and a
// private jackd with its dummy driver.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "jack/JackLibrary.h"

namespace kovalith {
namespace jack {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kRate = 44100;
constexpr int kPeriod = 256;

// A file in the test's build folder; each run overwrites the last one's.
inline std::string scratchPath(const std::string& name) { return std::string(TEST_TMP_DIR) + "/" + name; }

inline bool onPath(const char* program) {
    const std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

inline void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

using testing::Child;

inline void dropMessage(const char*) {}

// Waits until `ready` holds, polling every millisecond; false after `limit`.
template <typename Predicate>
bool waitFor(Predicate ready, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (!ready()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Why this test cannot run, or nothing.
inline std::string missingJack(JackLibrary& jack) {
    if (!onPath("jackd")) return "jackd is not installed (Debian package jackd2)";
    std::string why;
    return jack.load(&why) ? std::string() : why;
}

// jackd with its dummy driver in synchronous mode (the server waits for every
// client each cycle). Each test and build tree has its own server name: a run
// that died leaves a stale entry in JACK's registry of eight servers, which
// only the next server of the same name takes over. The clients' timeout is
// long: a sanitizer build on a loaded machine takes far longer than jackd's
// default half second to register, and jackd then refuses the client.
inline std::unique_ptr<Child> startServer(const std::string& test) {
    const std::string server =
        "kovalith-" + test + "-" + std::to_string(std::hash<std::string>()(TEST_TMP_DIR) % 100000);
    setenv("JACK_DEFAULT_SERVER", server.c_str(), 1);
    return std::make_unique<Child>(std::vector<std::string>{"jackd", "--no-realtime", "--sync", "-t", "20000", "-d", "dummy", "-r",
                                                            std::to_string(kRate), "-p", std::to_string(kPeriod)},
                                   scratchPath(test + "-jackd.log"));
}

// Waits until the server started by startServer takes clients.
inline bool waitForServer(const JackLibrary& jack, std::chrono::milliseconds limit) {
    jack.set_error_function(dropMessage);
    jack.set_info_function(dropMessage);
    jack_client_t* probe = nullptr;
    waitFor([&] { return (probe = jack.client_open("kovalith-probe", JackNoStartServer, nullptr)); }, limit);
    if (probe) jack.client_close(probe);
    return probe != nullptr;
}

}  // namespace jack
}  // namespace kovalith
