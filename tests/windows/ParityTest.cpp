// The sound of the DLL against the Linux library's: the same input, the same
// programs and settings, the same host calls, within 1e-4 of the reference's
// peak. parity-references.sh renders the references with build/kovalith
// render; the calls here follow that command (block 512, one second of tail).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "host/ParameterOptions.h"
#include "host/PluginHost.h"
#include "tests/ParityCases.h"
#include "tests/windows/WindowsTestSupport.h"

namespace kovalith::wintest {

namespace {

constexpr int kSampleRate = 44100;
constexpr int kBlock = 512;
constexpr int kTailFrames = kSampleRate;  // --tail 1
constexpr double kInputSeconds = 3.0;
constexpr double kTolerance = 1e-4;       // of the reference's peak

using paritytest::ParityCase;

// A fixed signal with transients, sustained partials and noise: drum-like
// hits, a detuned chord and a pulse train, different on the two channels.
StereoAudio parityInput() {
    StereoAudio audio;
    audio.sampleRate = kSampleRate;
    const size_t frames = static_cast<size_t>(kInputSeconds * kSampleRate);
    audio.samples.resize(2 * frames);
    uint32_t seed = 12345u;
    const double twoPi = 6.283185307179586;
    for (size_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / kSampleRate;
        const double sinceHit = std::fmod(t, 0.25);
        seed = seed * 1664525u + 1013904223u;
        const double noise = static_cast<double>(seed >> 8) / 8388608.0 - 1.0;
        const double hit = (std::sin(twoPi * 60.0 * sinceHit) + 0.4 * noise) * std::exp(-18.0 * sinceHit);
        double chord = 0.0;
        for (const double f : {220.0, 277.2, 329.6})
            for (int k = 1; k <= 4; ++k) chord += std::sin(twoPi * f * 1.003 * k * t) / k;
        const double pulse = std::fmod(t * 110.0, 1.0) < 0.05 ? 0.5 : 0.0;
        audio.samples[2 * n] = static_cast<float>(0.5 * hit + 0.08 * chord + 0.2 * pulse);
        audio.samples[2 * n + 1] = static_cast<float>(0.45 * hit + 0.1 * chord - 0.15 * pulse);
    }
    return audio;
}

// What `kovalith render` does with the same options: set-up, then the input
// block by block, then the tail as silence.
StereoAudio renderWithDll(const ParityCase& c, const StereoAudio& input, std::string* error) {
    StereoAudio out;
    std::vector<std::string> args = c.args;
    host::ParameterOptions options;
    if (!host::extractParameterOptions(args, options, error)) return out;
    std::optional<double> tempo;
    for (size_t i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] != "--tempo") {
            *error = "unknown option " + args[i];
            return out;
        }
        tempo = host::parseNumber(args[i + 1]);
    }
    auto plugin = host::PluginInstance::load(pluginPath(), error);
    if (!plugin) return out;
    plugin->suspend();
    plugin->setSampleRate(input.sampleRate);
    plugin->setBlockSize(kBlock);
    if (!host::applyParameterOptions(*plugin, options, error)) return out;
    if (tempo) plugin->setTransport(host::Transport{*tempo, 0.0, true, 0.0});
    else plugin->setTransport(std::nullopt);
    plugin->resume();

    auto play = [&](float** ins, float** outs, int frames, size_t) {
        if (!plugin->process(ins, outs, frames)) return false;
        plugin->advance(frames);
        return true;
    };
    if (!renderInBlocks(input, kTailFrames, kBlock, out, play)) *error = "the plug-in refused to process";
    return out;
}

struct Difference {
    double largest = 0.0;
    double peak = 0.0;
};

Difference compare(const StereoAudio& reference, const StereoAudio& rendered) {
    Difference d;
    for (size_t i = 0; i < reference.samples.size(); ++i) {
        d.peak = std::max(d.peak, static_cast<double>(std::fabs(reference.samples[i])));
        d.largest = std::max(d.largest, std::fabs(static_cast<double>(reference.samples[i]) - rendered.samples[i]));
    }
    return d;
}

std::string referenceProblem() {
    std::ifstream why(parityFile("no-references.txt"));
    std::string reason;
    std::getline(why, reason);
    return reason;
}

}  // namespace

bool writeParityInput() { return writeWav(parityFile("input.wav"), parityInput()); }

TEST(Parity, EveryCaseMatchesTheLinuxLibraryWithinATenThousandthOfThePeak) {
    const std::string problem = referenceProblem();
    if (!problem.empty()) GTEST_SKIP() << problem;
    StereoAudio input;
    std::string error;
    ASSERT_TRUE(readWav(parityFile("input.wav"), input, &error)) << error;
    const std::vector<ParityCase> cases = paritytest::readParityCases(KOVALITH_PARITY_CASES);
    ASSERT_GE(cases.size(), 5u) << "no cases in " << KOVALITH_PARITY_CASES;
    std::ofstream report(parityFile(sizeof(void*) == 8 ? "report-win64.txt" : "report-win32.txt"));
    for (const ParityCase& c : cases) {
        SCOPED_TRACE(c.name);
        StereoAudio reference;
        ASSERT_TRUE(readWav(parityFile(c.name + ".wav"), reference, &error)) << error;
        const StereoAudio rendered = renderWithDll(c, input, &error);
        ASSERT_EQ(rendered.samples.size(), reference.samples.size()) << error;
        const Difference d = compare(reference, rendered);
        ASSERT_GT(d.peak, 0.0) << "silent reference";
        char line[160];
        std::snprintf(line, sizeof line, "%-16s largest difference %.3g, peak %.4f, %.3g of the peak", c.name.c_str(),
                      d.largest, d.peak, d.largest / d.peak);
        std::printf("%s\n", line);
        report << line << "\n";
        EXPECT_LE(d.largest, kTolerance * d.peak);
    }
}

}  // namespace kovalith::wintest
