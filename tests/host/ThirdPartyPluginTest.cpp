// The loader against real third-party Linux VST 2.4 effects (Debian's
// dpf-plugins-vst), with the values they report themselves.
#include "host/PluginHost.h"
#include "host/PresetFiles.h"

#include <gtest/gtest.h>
#include <glob.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace kovalith {
namespace host {
namespace {

const std::string kVstDir = "/usr/lib/vst";

std::unique_ptr<PluginInstance> loadThirdParty(const std::string& name) {
    const std::string path = kVstDir + "/" + name;
    if (access(path.c_str(), R_OK) != 0) return nullptr;
    std::string error;
    auto plugin = PluginInstance::load(path, &error);
    EXPECT_TRUE(plugin) << error;
    return plugin;
}

#define LOAD_OR_SKIP(var, name)                                              \
    auto var = loadThirdParty(name);                                         \
    if (!var) GTEST_SKIP() << name << " is not installed in " << kVstDir

std::vector<std::string> parameterNames(PluginInstance& plugin) {
    std::vector<std::string> names;
    for (int i = 0; i < plugin.numParams(); ++i) names.push_back(plugin.parameterName(i));
    return names;
}

// A block of a 440 Hz sine on every input; answers the outputs.
std::vector<std::vector<float>> processSine(PluginInstance& plugin, int frames) {
    const int ins = std::max(plugin.numInputs(), 0), outs = std::max(plugin.numOutputs(), 0);
    std::vector<std::vector<float>> in(static_cast<size_t>(ins), std::vector<float>(frames));
    std::vector<std::vector<float>> out(static_cast<size_t>(outs), std::vector<float>(frames, 12345.0f));
    for (auto& channel : in)
        for (int i = 0; i < frames; ++i) channel[i] = 0.5f * std::sin(2.0f * 3.14159265f * 440.0f * i / 44100.0f);
    std::vector<float*> inPtrs, outPtrs;
    for (auto& channel : in) inPtrs.push_back(channel.data());
    for (auto& channel : out) outPtrs.push_back(channel.data());
    EXPECT_TRUE(plugin.process(inPtrs.data(), outPtrs.data(), frames));
    return out;
}

bool allFinite(const std::vector<std::vector<float>>& channels) {
    for (const auto& channel : channels)
        for (float v : channel)
            if (!std::isfinite(v)) return false;
    return true;
}

TEST(ThirdPartyPlugins, MVerbReportsItself) {
    LOAD_OR_SKIP(plugin, "MVerb-vst.so");
    EXPECT_EQ(plugin->effectName(), "MVerb");
    EXPECT_EQ(plugin->vendor(), "Martin Eastwood, falkTX");
    EXPECT_EQ(plugin->uniqueID(), vst2::fourCC('M', 'V', 'r', 'b'));
    EXPECT_EQ(plugin->numInputs(), 2);
    EXPECT_EQ(plugin->numOutputs(), 2);
    EXPECT_EQ(parameterNames(*plugin),
              (std::vector<std::string>{"Damping", "Density", "Bandwidth", "Decay", "Predelay", "Size", "Gain", "Mix",
                                        "Early/Late Mix"}));
    EXPECT_EQ(plugin->parameterLabel(0), "%");
    EXPECT_EQ(plugin->parameterDisplay(0), "50.000000");
    EXPECT_EQ(plugin->programNames(), std::vector<std::string>{"Default"});
}

TEST(ThirdPartyPlugins, ThreeBandEqAndPingPongPanReportThemselves) {
    LOAD_OR_SKIP(eq, "3BandEQ-vst.so");
    EXPECT_EQ(eq->effectName(), "3 Band EQ");
    EXPECT_EQ(parameterNames(*eq), (std::vector<std::string>{"Low", "Mid", "High", "Master", "Low-Mid Freq",
                                                             "Mid-High Freq"}));
    EXPECT_EQ(eq->parameterLabel(4), "Hz");
    LOAD_OR_SKIP(pan, "PingPongPan-vst.so");
    EXPECT_EQ(pan->effectName(), "Ping Pong Pan");
    EXPECT_EQ(parameterNames(*pan), (std::vector<std::string>{"Frequency", "Width"}));
}

TEST(ThirdPartyPlugins, MVerbProcessesAudio) {
    LOAD_OR_SKIP(plugin, "MVerb-vst.so");
    double energy = 0.0;
    for (int block = 0; block < 8; ++block) {
        const auto out = processSine(*plugin, 512);
        ASSERT_TRUE(allFinite(out));
        for (const auto& channel : out)
            for (float v : channel) energy += double(v) * v;
    }
    EXPECT_GT(energy, 1.0) << "the reverb passes the dry sine at its default mix";
}

TEST(ThirdPartyPlugins, ParameterProgramRoundTripsIntoAFreshInstance) {
    LOAD_OR_SKIP(source, "MVerb-vst.so");
    for (int i = 0; i < source->numParams(); ++i) source->setParameter(i, 0.1f + 0.08f * i);
    std::string error;
    const auto program = captureProgram(*source, &error);
    ASSERT_TRUE(program) << error;
    EXPECT_FALSE(program->isChunk) << "MVerb keeps no chunks";
    const auto parsed = parseFxp(serializeFxp(*program), &error);
    ASSERT_TRUE(parsed) << error;

    LOAD_OR_SKIP(target, "MVerb-vst.so");
    ASSERT_TRUE(applyProgram(*target, *parsed, &error)) << error;
    for (int i = 0; i < source->numParams(); ++i)
        EXPECT_FLOAT_EQ(target->getParameter(i), source->getParameter(i)) << "parameter " << i;
}

TEST(ThirdPartyPlugins, PresetOfAnotherPluginIsRefused) {
    LOAD_OR_SKIP(reverb, "MVerb-vst.so");
    LOAD_OR_SKIP(eq, "3BandEQ-vst.so");
    std::string error;
    const auto program = captureProgram(*reverb, &error);
    ASSERT_TRUE(program) << error;
    EXPECT_FALSE(applyProgram(*eq, *program, &error));
    EXPECT_NE(error.find("'MVrb'"), std::string::npos) << error;
}

TEST(ThirdPartyPlugins, EveryInstalledPluginLoadsProcessesAndCloses) {
    glob_t found{};
    if (glob((kVstDir + "/*.so").c_str(), 0, nullptr, &found) != 0) {
        globfree(&found);
        GTEST_SKIP() << "no VST plug-ins in " << kVstDir;
    }
    for (size_t k = 0; k < found.gl_pathc; ++k) {
        const std::string path = found.gl_pathv[k];
        SCOPED_TRACE(path);
        std::string error;
        auto plugin = PluginInstance::load(path, &error);
        ASSERT_TRUE(plugin) << error;
        EXPECT_FALSE(plugin->effectName().empty());
        EXPECT_GE(plugin->numParams(), 0);
        for (int i = 0; i < plugin->numParams(); ++i) EXPECT_TRUE(std::isfinite(plugin->getParameter(i)));
        EXPECT_TRUE(allFinite(processSine(*plugin, 256)));
        plugin.reset();
    }
    globfree(&found);
}

}  // namespace
}  // namespace host
}  // namespace kovalith
