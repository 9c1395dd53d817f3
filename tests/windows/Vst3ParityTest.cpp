// The sound of the VST3 module under Wine against the Linux library's: the
// factory programs of the parity cases, with the host calls of `kovalith
// render` (block 512, no transport, one second of tail), within 1e-4 of the
// reference's peak.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>

#include "tests/ParityCases.h"
#include "tests/vst3/Vst3TestHost.h"
#include "tests/windows/WindowsTestSupport.h"

namespace kovalith::wintest {
namespace {

constexpr int kBlock = 512;
constexpr double kTolerance = 1e-4;
constexpr v3_param_id kProgramParam = 0x20000;

// The programs of the cases that only choose one ("NAME\t--preset\tN").
std::vector<std::pair<std::string, int>> programCases() {
    std::vector<std::pair<std::string, int>> cases;
    for (const paritytest::ParityCase& c : paritytest::readParityCases(KOVALITH_PARITY_CASES))
        if (c.args.size() == 2 && c.args[0] == "--preset") cases.emplace_back(c.name, std::stoi(c.args[1]));
    return cases;
}

// As kovalith render does through the VST 2.4 interface. Its setProgram
// applies even the program the plug-in is on; a VST3 host's program parameter
// does not, so that one comes again by loading the state the plug-in has.
StereoAudio renderWithVst3(int program, const StereoAudio& input, std::string* error) {
    auto fail = [&](const char* why) {
        if (error->empty()) *error = why;
        return StereoAudio{};
    };
    auto plugin = vst3test::Vst3Plugin::load(vst3test::moduleInBundle(KOVALITH_VST3_BUNDLE_PATH), error);
    if (!plugin) return fail("the module did not load");
    plugin->context().present = false;
    vst3test::ChangeList select;
    if (program != 0)
        select.push_back({kProgramParam, {{0, program / 31.0}}});
    else if (!plugin->setState(plugin->state()))
        return fail("the plug-in refused its own state");
    if (!plugin->start(input.sampleRate, kBlock)) return fail("the plug-in did not start");

    StereoAudio out;
    const size_t tailFrames = static_cast<size_t>(input.sampleRate);
    auto play = [&](float** ins, float** outs, int frames, size_t done) {
        return plugin->process(ins, outs, frames, done == 0 ? select : vst3test::ChangeList{});
    };
    if (!renderInBlocks(input, tailFrames, kBlock, out, play)) return fail("the plug-in refused to process");
    return out;
}

}  // namespace

TEST(Vst3Parity, FactoryProgramsMatchTheLinuxLibraryWithinATenThousandthOfThePeak) {
    std::ifstream why(parityFile("no-references.txt"));
    std::string problem;
    std::getline(why, problem);
    if (!problem.empty()) GTEST_SKIP() << problem;
    StereoAudio input;
    std::string error;
    ASSERT_TRUE(readWav(parityFile("input.wav"), input, &error)) << error;
    const auto cases = programCases();
    ASSERT_GE(cases.size(), 5u) << "no program cases in " << KOVALITH_PARITY_CASES;
    for (const auto& [name, program] : cases) {
        SCOPED_TRACE(name);
        StereoAudio reference;
        ASSERT_TRUE(readWav(parityFile(name + ".wav"), reference, &error)) << error;
        const StereoAudio rendered = renderWithVst3(program, input, &error);
        ASSERT_EQ(rendered.samples.size(), reference.samples.size()) << error;
        double largest = 0.0, peak = 0.0;
        for (size_t i = 0; i < reference.samples.size(); ++i) {
            peak = std::max(peak, static_cast<double>(std::fabs(reference.samples[i])));
            largest = std::max(largest, std::fabs(static_cast<double>(reference.samples[i]) - rendered.samples[i]));
        }
        ASSERT_GT(peak, 0.0) << "silent reference";
        std::printf("VST3 %-12s largest difference %.3g, peak %.4f, %.3g of the peak\n", name.c_str(), largest, peak,
                    largest / peak);
        EXPECT_LE(largest, kTolerance * peak);
    }
}

}  // namespace kovalith::wintest
