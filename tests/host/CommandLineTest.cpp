// The `kovalith` executable end to end, run as a subprocess.
#include "host/PresetFiles.h"
#include "tests/HostProcess.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kovalith {
namespace host {
namespace {

using RunResult = testing::HostRun;

// Runs build/kovalith with `args` (already shell-quoted where needed).
RunResult runHost(const std::string& args) {
    return testing::runHostProcess(KOVALITH_HOST_EXE, args, std::string(TEST_TMP_DIR) + "/cli");
}

bool installed(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

const std::string kMVerb = "/usr/lib/vst/MVerb-vst.so";
const std::string kFixture = std::string(FIXTURE_DIR) + "/fixture_normal.so";

// The longest line of a text.
size_t widest(const std::string& text) {
    size_t widest = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) widest = std::max(widest, line.size());
    return widest;
}

TEST(CommandLine, HelpAndUsageErrors) {
    const char* const commands[] = {"demo", "edit", "export-fxb", "export-fxp", "info", "params", "render", "snapshot", "validate"};
    for (const char* args : {"", "help", "--help", "-h", "help help"}) {
        const RunResult r = runHost(args);
        EXPECT_EQ(r.exitCode, 0) << args;
        EXPECT_EQ(r.out.rfind("usage: kovalith [options] COMMAND", 0), 0u) << args;
        for (const char* command : commands) EXPECT_NE(r.out.find("\n  " + std::string(command) + " "), std::string::npos);
        EXPECT_LE(widest(r.out), 80u) << r.out;
    }
    // Each command's own help, without a plug-in to load.
    for (const std::string command : commands) {
        for (const std::string& args : {"help " + command, command + " --help", command + " -h", command + " x y --help"}) {
            const RunResult r = runHost("--plugin /nonexistent.so " + args);
            EXPECT_EQ(r.exitCode, 0) << args << ": " << r.err;
            EXPECT_EQ(r.out.rfind("usage: kovalith [options] " + command, 0), 0u) << args << ": " << r.out;
            EXPECT_NE(r.out.find("\nExamples:\n  kovalith "), std::string::npos) << args;
            EXPECT_LE(widest(r.out), 80u) << r.out;
        }
    }
    const RunResult version = runHost("--version");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("kovalith 0.", 0), 0u) << version.out;
    // The parameter reference needs no plug-in and fits a 100-column terminal.
    const RunResult params = runHost("--plugin /nonexistent.so params");
    EXPECT_EQ(params.exitCode, 0) << params.err;
    EXPECT_LE(widest(params.out), 100u) << params.out;
    EXPECT_NE(params.out.find("\n  8  A Res (reserved twin of 5)"), std::string::npos) << params.out;
    EXPECT_EQ(runHost("params --bogus").exitCode, 2);
    EXPECT_EQ(runHost("help frobnicate").exitCode, 2);
    for (const char* args : {"frobnicate", "--plugin", "--bogus info", "--plugin x.so", "--block-size 0 info",
                             "--sample-rate abc info"}) {
        const RunResult r = runHost(args);
        EXPECT_EQ(r.exitCode, 2) << args;
        EXPECT_NE(r.err.find("kovalith: "), std::string::npos) << args;
        EXPECT_TRUE(r.out.empty()) << args;
    }
    const RunResult extra = runHost("--plugin '" + kFixture + "' info extra");
    EXPECT_EQ(extra.exitCode, 2);
    EXPECT_NE(extra.err.find("usage: kovalith [options] info"), std::string::npos) << extra.err;
    const RunResult missingFile = runHost("--plugin '" + kFixture + "' export-fxp");
    EXPECT_EQ(missingFile.exitCode, 2);
    const RunResult notPng = runHost("--plugin '" + kFixture + "' snapshot '" + TEST_TMP_DIR + "/window.jpg'");
    EXPECT_EQ(notPng.exitCode, 2);
    EXPECT_NE(notPng.err.find("snapshot writes PNG files only"), std::string::npos) << notPng.err;
}

TEST(CommandLine, RuntimeFailuresExitWithOne) {
    const RunResult noPlugin = runHost("--plugin /nonexistent/None.so info");
    EXPECT_EQ(noPlugin.exitCode, 1);
    EXPECT_NE(noPlugin.err.find("/nonexistent/None.so"), std::string::npos) << noPlugin.err;

    const RunResult badLoad = runHost("--plugin '" + kFixture + "' --load /nonexistent/x.fxp info");
    EXPECT_EQ(badLoad.exitCode, 1);
    EXPECT_TRUE(badLoad.out.empty());
    EXPECT_EQ(badLoad.err, "kovalith: cannot read '/nonexistent/x.fxp': no such file or directory\n");

    const RunResult badExport = runHost("--plugin '" + kFixture + "' export-fxb /nonexistent/x.fxb");
    EXPECT_EQ(badExport.exitCode, 1);
    EXPECT_EQ(badExport.err, "kovalith: cannot write '/nonexistent/x.fxb': no such file or directory\n");
}

// The session's edits would be lost to a target found bad only when the
// window closes; without a display, the window would be the first failure.
TEST(CommandLine, EditChecksItsSaveTargetBeforeOpeningTheWindow) {
    const auto edit = [](const std::string& target) {
        return testing::runHostProcess(KOVALITH_HOST_EXE,
                                       "--plugin '" + kFixture + "' edit --seconds 0.1 --save-fxp '" + target + "'",
                                       std::string(TEST_TMP_DIR) + "/cli", "env -u DISPLAY ");
    };
    RunResult r = edit(std::string(TEST_TMP_DIR) + "/x.txt");
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_NE(r.err.find("--save-fxp needs a file ending in .fxp or .fxb"), std::string::npos) << r.err;
    r = edit("/nonexistent/a.fxp");
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("cannot write '/nonexistent/a.fxp': no such file or directory"), std::string::npos) << r.err;
}

TEST(CommandLine, InfoOnAThirdPartyPlugin) {
    if (!installed(kMVerb)) GTEST_SKIP() << kMVerb << " is not installed";
    const RunResult r = runHost("--plugin " + kMVerb + " info");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("Effect name:     MVerb\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Unique ID:       'MVrb' (0x4D567262)"), std::string::npos);
    EXPECT_NE(r.out.find("Inputs:          2\n"), std::string::npos);
    EXPECT_NE(r.out.find("(HasEditor CanReplacing)"), std::string::npos);
    EXPECT_NE(r.out.find("Parameters (9):"), std::string::npos);
    EXPECT_NE(r.out.find("  8\tEarly/Late Mix\tlabel \"%\""), std::string::npos);
    EXPECT_NE(r.out.find("  0\tDefault\n"), std::string::npos);
}

TEST(CommandLine, ExportedProgramLoadsBack) {
    if (!installed(kMVerb)) GTEST_SKIP() << kMVerb << " is not installed";
    const std::string path = std::string(TEST_TMP_DIR) + "/mverb.fxp";
    ASSERT_EQ(runHost("--plugin " + kMVerb + " export-fxp '" + path + "'").exitCode, 0);

    // Change one value in the file, load it and see it in info.
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(readFileBytes(path, bytes, &error)) << error;
    auto program = parseFxp(bytes, &error);
    ASSERT_TRUE(program) << error;
    program->params[3] = 0.25f;
    ASSERT_TRUE(writeFileBytes(path, serializeFxp(*program), &error)) << error;

    const RunResult r = runHost("--plugin " + kMVerb + " --load '" + path + "' info");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("  3\tDecay\tlabel \"%\"\tdisplay \"25.000000\"\tvalue 0.25\n"), std::string::npos)
        << r.out;

    const std::string again = std::string(TEST_TMP_DIR) + "/mverb-again.fxp";
    ASSERT_EQ(runHost("--plugin " + kMVerb + " --load '" + path + "' export-fxp '" + again + "'").exitCode, 0);
    std::vector<uint8_t> reexported;
    ASSERT_TRUE(readFileBytes(again, reexported, &error)) << error;
    EXPECT_EQ(reexported, serializeFxp(*program));

    EXPECT_EQ(runHost("--plugin " + kMVerb + " export-fxp '" + path + ".txt'").exitCode, 2);
}

TEST(CommandLine, BankExportOfAChunkPlugin) {
    const std::string path = std::string(TEST_TMP_DIR) + "/fixture-cli.fxb";
    const RunResult r = runHost("--plugin '" + kFixture + "' export-fxb '" + path + "'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(readFileBytes(path, bytes, &error)) << error;
    const auto bank = parseFxb(bytes, &error);
    ASSERT_TRUE(bank) << error;
    EXPECT_TRUE(bank->isChunk);
    EXPECT_EQ(bank->chunk, (std::vector<uint8_t>{'f', 'i', 'x'}));
    EXPECT_EQ(runHost("--plugin '" + kFixture + "' --load '" + path + "' info").exitCode, 0);
}

}  // namespace
}  // namespace host
}  // namespace kovalith
