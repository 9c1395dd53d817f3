// The Windows Kovalith.clap under Wine, loaded with LoadLibrary by the same
// small host as on Linux: what a host sees of it, its state, and the parity
// cases (tests/windows/parity-cases.txt) against the Linux library's
// references (`kovalith render --block 512 --tail 1`), within 1e-4 of each
// reference's peak.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "tests/clap/ClapParity.h"

namespace claptest {
namespace {

constexpr const char* kPluginId = "audio.kovalith.kovalith";
constexpr uint32_t kBlock = 512;
constexpr double kTolerance = 1e-4;  // of the reference's peak

std::string parityFile(const std::string& name) { return std::string(KOVALITH_PARITY_DIR) + "/" + name; }

struct Loaded {
    std::unique_ptr<ClapModule> module;
    std::unique_ptr<ClapInstance> instance;
};

Loaded load() {
    Loaded l;
    std::string error;
    l.module = ClapModule::open(KOVALITH_CLAP_PATH, &error);
    EXPECT_NE(l.module, nullptr) << error;
    if (l.module) l.instance = ClapInstance::create(*l.module, kPluginId, &error);
    EXPECT_NE(l.instance, nullptr) << error;
    return l;
}

TEST(ClapWindows, WhatAHostSeesAndTheStateRoundTrip) {
    Loaded l = load();
    ASSERT_NE(l.instance, nullptr);
    ClapInstance& k = *l.instance;
    const clap_plugin_descriptor_t* d = k.plugin()->desc;
    EXPECT_STREQ(d->id, kPluginId);
    EXPECT_STREQ(d->version, "0.9");
    EXPECT_EQ(k.paramCount(), 54u);
    EXPECT_EQ(k.paramText(26, 1), std::optional<std::string>("tri"));
    ASSERT_NE(k.gui(), nullptr);
    EXPECT_TRUE(k.gui()->is_api_supported(k.plugin(), CLAP_WINDOW_API_WIN32, false));
    EXPECT_FALSE(k.gui()->is_api_supported(k.plugin(), CLAP_WINDOW_API_X11, false));

    const std::optional<std::vector<uint8_t>> saved = k.saveState();
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->size(), 24576u + 8u);
    ASSERT_TRUE(k.loadState(*saved, 100));
    EXPECT_EQ(k.saveState(), saved);
    std::vector<uint8_t> damaged = *saved;
    damaged.pop_back();
    EXPECT_FALSE(k.loadState(damaged));
    EXPECT_EQ(k.saveState(), saved);
}

TEST(ClapWindows, ParityCasesMatchTheLinuxLibraryWithinATenThousandthOfThePeak) {
    std::ifstream why(parityFile("no-references.txt"));
    std::string problem;
    if (std::getline(why, problem) && !problem.empty()) GTEST_SKIP() << problem;
    Stereo input;
    int rate = 0;
    std::string error;
    ASSERT_TRUE(readFloatWav(parityFile("input.wav"), input, rate, &error)) << error;
    const std::vector<ParityCase> cases = readParityCases(KOVALITH_PARITY_CASES);
    ASSERT_GE(cases.size(), 5u);
    std::ofstream report(parityFile(sizeof(void*) == 8 ? "report-clap-win64.txt" : "report-clap-win32.txt"));
    for (const ParityCase& c : cases) {
        SCOPED_TRACE(c.name);
        Stereo reference;
        int referenceRate = 0;
        ASSERT_TRUE(readFloatWav(parityFile(c.name + ".wav"), reference, referenceRate, &error)) << error;
        Loaded l = load();
        ASSERT_NE(l.instance, nullptr);
        ASSERT_TRUE(l.instance->activate(rate, 1, kBlock));
        CaseSettings settings;
        ASSERT_TRUE(parseCase(*l.instance, c, settings, &error)) << error;
        ASSERT_TRUE(applySettings(*l.instance, settings, &error)) << error;
        std::optional<clap_event_transport_t> transport;
        if (settings.tempo) transport = makeTransport(*settings.tempo, 0);
        const Stereo rendered = renderClap(*l.instance, input, kBlock, transport, static_cast<size_t>(rate));
        ASSERT_EQ(rendered[0].size(), reference[0].size());
        double largest = 0.0, peak = 0.0;
        for (int ch = 0; ch < 2; ++ch)
            for (size_t n = 0; n < reference[ch].size(); ++n) {
                peak = std::max(peak, static_cast<double>(std::fabs(reference[ch][n])));
                largest = std::max(largest, std::fabs(static_cast<double>(reference[ch][n]) - rendered[ch][n]));
            }
        ASSERT_GT(peak, 0.0) << "silent reference";
        char line[160];
        std::snprintf(line, sizeof line, "%-16s largest difference %.3g, peak %.4f, %.3g of the peak", c.name.c_str(),
                      largest, peak, largest / peak);
        std::printf("%s\n", line);
        report << line << "\n";
        EXPECT_LE(largest, kTolerance * peak);
    }
}

}  // namespace
}  // namespace claptest
