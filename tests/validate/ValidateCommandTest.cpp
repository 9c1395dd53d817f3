// `kovalith validate` as a user runs it, against Kovalith, against an effect
// with one deliberate fault per group, and against Debian's VST 2.4 plug-ins.
#include "tests/XServer.h"  // first: gtest before Xlib
#include "tests/HostProcess.h"

#include <dlfcn.h>
#include <glob.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using kovalith::testing::HostRun;

const auto* const gServer = ::testing::AddGlobalTestEnvironment(new xtest::PrivateXServer);

const std::set<std::string> kGroups = {"load",   "dispatcher", "parameters", "state",
                                       "events", "blocks",     "threads",    "editor"};

// The verdict lines of one run, by group, and the totals of its last line.
struct Verdicts {
    std::map<std::string, std::vector<std::string>> failures, passes, skips;
    std::set<std::string> groups;
    int passed = -1, failed = -1, skipped = 0;

    std::set<std::string> failedGroups() const {
        std::set<std::string> names;
        for (const auto& entry : failures) names.insert(entry.first);
        return names;
    }
};

Verdicts parse(const std::string& out) {
    Verdicts v;
    std::istringstream lines(out);
    std::string line, last;
    while (std::getline(lines, line)) {
        if (line.empty()) continue;
        last = line;
        const std::string verdict = line.substr(0, 5);
        const size_t colon = line.find(':');
        if (colon == std::string::npos || (verdict != "PASS " && verdict != "FAIL " && verdict != "SKIP ")) continue;
        const std::string group = line.substr(5, colon - 5);
        v.groups.insert(group);
        auto& bucket = verdict == "PASS " ? v.passes : verdict == "FAIL " ? v.failures : v.skips;
        bucket[group].push_back(line);
    }
    if (std::sscanf(last.c_str(), "%d passed, %d failed, %d skipped", &v.passed, &v.failed, &v.skipped) < 2)
        v.passed = v.failed = -1;
    return v;
}

HostRun validate(const std::string& args) {
    return kovalith::testing::runHostProcess(KOVALITH_HOST_EXE, "validate " + args, TEST_TMP_DIR "/validate");
}

// A crash is reported with the call that was running; these are its forms.
bool namesTheCall(const std::string& line) {
    for (const char* call : {"dispatcher(", "processReplacing(", "setParameter(", "getParameter(", "loading (",
                             "closing ("})
        if (line.find(std::string(" in ") + call) != std::string::npos) return true;
    return false;
}

bool isCrash(const std::string& line) {
    return line.find("crashed (signal") != std::string::npos || line.find("died (exit code") != std::string::npos ||
           line.find("hung for") != std::string::npos;
}

TEST(Validate, KovalithPassesEveryGroup) {
    const HostRun run = validate("--strictness " + std::to_string(KOVALITH_VALIDATE_LEVEL) + " --seed 11");
    const Verdicts v = parse(run.out);
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(v.failed, 0) << run.out;
    EXPECT_GT(v.passed, 20) << run.out;
    EXPECT_EQ(v.groups, kGroups) << run.out;
    // With a display, the editor is really opened and closed, not skipped.
    if (xtest::PrivateXServer::available()) {
        EXPECT_EQ(v.skips.count("editor"), 0u) << run.out;
    }
}

// One fault per group in the fixture: each is found by its own group, and the
// other groups pass. The editor's fault needs a display to be seen.
TEST(Validate, FaultyPluginFailsExactlyTheGroupsOfItsFaults) {
    const HostRun run = validate("--strictness 2 --seed 3 " FAULTY_PLUGIN);
    const Verdicts v = parse(run.out);
    EXPECT_EQ(run.exitCode, 1) << run.out;
    std::set<std::string> faulty = {"load", "parameters", "state", "threads"};
    if (xtest::PrivateXServer::available()) faulty.insert("editor");
    EXPECT_EQ(v.failedGroups(), faulty) << run.out << run.err;
    for (const char* clean : {"dispatcher", "events", "blocks"}) EXPECT_FALSE(v.passes.at(clean).empty()) << clean;

    // The line of `group` that contains `text`, or empty.
    const auto lineWith = [&](const char* group, const std::string& text) {
        for (const std::string& line : v.failures.at(group))
            if (line.find(text) != std::string::npos) return line;
        return std::string();
    };
    EXPECT_NE(lineWith("load", "heap grows by"), "") << run.out;
    EXPECT_NE(lineWith("parameters", "is nan after"), "") << run.out;
    // The trusted length reads past the chunk: a crash in effSetChunk (a
    // sanitizer build reports it and exits instead of dying by the signal).
    EXPECT_TRUE(isCrash(lineWith("state", "in dispatcher(effSetChunk = opcode 24"))) << run.out;
    EXPECT_TRUE(isCrash(lineWith("threads", "sample-rate changes while audio runs"))) << run.out;
    if (xtest::PrivateXServer::available()) {
        EXPECT_NE(lineWith("editor", "X server resources grow by"), "") << run.out << run.err;
    }
}

TEST(Validate, OnlyRunsTheNamedGroupsAndRefusesBadArguments) {
    const HostRun run = validate("--only state,events --strictness 1 --seed 5 " FAULTY_PLUGIN);
    const Verdicts v = parse(run.out);
    EXPECT_EQ(v.groups, (std::set<std::string>{"state", "events"})) << run.out;
    EXPECT_EQ(run.exitCode, 1);

    for (const char* bad : {"--strictness 0", "--strictness 11", "--strictness 2.5", "--only nothing",
                            "--only state,nothing", "--only ,", "--seed -1", "--colour red", "--seed"}) {
        const HostRun refused = validate(bad);
        EXPECT_EQ(refused.exitCode, 2) << bad;
        EXPECT_NE(refused.err.find("usage: kovalith"), std::string::npos) << bad;
    }
    const HostRun loading = kovalith::testing::runHostProcess(KOVALITH_HOST_EXE, "--load x.fxb validate",
                                                              TEST_TMP_DIR "/validate");
    EXPECT_EQ(loading.exitCode, 2) << loading.err;
    const HostRun missing = validate("/nonexistent/plugin.so");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("cannot read the plug-in"), std::string::npos) << missing.err;
}

// A file that is no plug-in at all gets one line that says so, not a
// failure from every check.
TEST(Validate, AFileThatIsNoPluginIsOneError) {
    Dl_info libc{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&std::printf), &libc), 0);
    const std::string text = TEST_TMP_DIR "/not-a-plugin.so";
    std::ofstream(text) << std::string(100, 'x') << "\n";  // longer than an ELF header
    const struct {
        std::string path, reason;
    } cases[] = {{TEST_TMP_DIR, "it is a folder"}, {text, "invalid ELF header"},
                 {libc.dli_fname, "it has no VSTPluginMain or main entry point"}};
    for (const auto& c : cases) {
        const HostRun run = validate("'" + c.path + "'");
        EXPECT_EQ(run.exitCode, 1) << c.path;
        EXPECT_EQ(run.out, "") << c.path;
        EXPECT_EQ(run.err, "kovalith: " + c.path + " is not a VST 2.4 plug-in: " + c.reason + "\n") << c.path;
    }
}

// Debian's plug-ins have faults of their own; the point is that the battery
// runs to its end, names the call of every crash, and its exit code says
// whether anything failed. The findings go to the test's output.
TEST(Validate, DebianPluginsRunToTheEnd) {
#ifdef KOVALITH_SKIP_THIRD_PARTY
    GTEST_SKIP() << "third-party plug-ins run in the release build only";
#endif
    glob_t found{};
    glob("/usr/lib/vst/*.so", 0, nullptr, &found);
    std::vector<std::string> plugins(found.gl_pathv, found.gl_pathv + found.gl_pathc);
    globfree(&found);
    if (plugins.empty()) GTEST_SKIP() << "no VST 2.4 plug-ins in /usr/lib/vst (scripts/deps.sh test installs them)";
    for (const std::string& plugin : plugins) {
        const HostRun run = validate("--strictness 1 --seed 1 '" + plugin + "'");
        const Verdicts v = parse(run.out);
        ASSERT_GE(v.failed, 0) << plugin << " did not run to the end:\n" << run.out << run.err;
        EXPECT_EQ(run.exitCode, v.failed > 0 ? 1 : 0) << plugin;
        EXPECT_EQ(v.groups, kGroups) << plugin;
        std::cout << plugin << ": " << v.passed << " passed, " << v.failed << " failed, " << v.skipped
                  << " skipped\n";
        for (const auto& group : v.failures)
            for (const std::string& line : group.second) {
                std::cout << "  " << line << "\n";
                if (isCrash(line)) {
                    EXPECT_TRUE(namesTheCall(line)) << line;
                }
            }
    }
}

}  // namespace
