// The loader against our fixture effect: entry, callback, recording,
// transport, MIDI and chunks, where the fixture reports what it saw.
#include "host/PluginHost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace kovalith {
namespace host {
namespace {

const std::string kFixture = std::string(FIXTURE_DIR) + "/fixture_normal.so";

// effVendorSpecific indices of the fixture.
enum Report : int32_t {
    kReportEntryVersion = 0,
    kReportEntrySampleRate = 1,
    kReportScribbleUser = 2,
    kReportTempo = 3,
    kReportPpq = 4,
    kReportLastMidi = 5,
    kReportProcessLevel = 6,
    kReportResumed = 7,
};

class FixtureTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        plugin = PluginInstance::load(kFixture, &error);
        ASSERT_TRUE(plugin) << error;
    }
    intptr_t report(Report what) { return plugin->dispatch(vst2::effVendorSpecific, what); }

    // One stereo block through the plug-in.
    void processBlock(int frames = 64) {
        std::vector<float> inL(frames, 1.0f), inR(frames, -1.0f), outL(frames), outR(frames);
        float* in[] = {inL.data(), inR.data()};
        float* out[] = {outL.data(), outR.data()};
        ASSERT_TRUE(plugin->process(in, out, frames));
        EXPECT_FLOAT_EQ(outL[0], 0.5f);
        EXPECT_FLOAT_EQ(outR[frames - 1], -0.5f);
    }

    std::unique_ptr<PluginInstance> plugin;
};

TEST_F(FixtureTest, EntryPointReachesTheHostBeforeTheEffectIsKnown) {
    EXPECT_EQ(report(kReportEntryVersion), 2400);
    EXPECT_EQ(report(kReportEntrySampleRate), 44100);
}

TEST_F(FixtureTest, IdentityAndTexts) {
    EXPECT_EQ(plugin->effectName(), "Fixture");
    EXPECT_EQ(plugin->vendor(), "Kovalith tests");
    EXPECT_EQ(plugin->vendorVersion(), 7);
    EXPECT_EQ(plugin->vstVersion(), 2400);
    EXPECT_EQ(plugin->uniqueID(), vst2::fourCC('K', 'v', 'F', 'x'));
    EXPECT_EQ(plugin->numParams(), 3);
    EXPECT_EQ(plugin->parameterName(1), "Beta");
    EXPECT_EQ(plugin->parameterLabel(1), "dB");
    EXPECT_EQ(plugin->parameterDisplay(2), "0.75");
    EXPECT_EQ(plugin->canDo("receiveVstMidiEvent"), 1);
    EXPECT_EQ(plugin->canDo("offline"), -1);
}

TEST_F(FixtureTest, ProcessResumesAndRefusesOversizedBlocks) {
    EXPECT_EQ(report(kReportResumed), 0);
    processBlock();
    EXPECT_EQ(report(kReportResumed), 1);
    EXPECT_EQ(report(kReportProcessLevel), 2) << "inside process the host reports the real-time level";

    float buffer[1] = {};
    float* channels[] = {buffer, buffer};
    EXPECT_FALSE(plugin->process(channels, channels, plugin->blockSize() + 1));

    plugin->setBlockSize(1024);
    EXPECT_EQ(report(kReportResumed), 1) << "a block-size change keeps the effect running";
    processBlock(1024);
    plugin->suspend();
    EXPECT_EQ(report(kReportResumed), 0);
}

TEST_F(FixtureTest, TimeInfoFollowsTheTransport) {
    processBlock();
    EXPECT_EQ(report(kReportTempo), -1000) << "no transport: no time information";

    plugin->setTransport(Transport{140.0, 8.0, true, 0.0});
    processBlock();
    EXPECT_EQ(report(kReportTempo), 140000);
    EXPECT_EQ(report(kReportPpq), 8000);
    EXPECT_NE(plugin->timeInfo().flags & vst2::kVstTransportPlaying, 0);

    plugin->setTransport(Transport{120.0, 0.0, true, 48000.0});
    plugin->advance(24000);  // half a second at 120 bpm: one beat
    processBlock();
    EXPECT_EQ(report(kReportPpq), 1000);
    EXPECT_DOUBLE_EQ(plugin->timeInfo().samplePos, 24000.0);

    plugin->setTransport(Transport{120.0, 2.0, false, 0.0});
    plugin->advance(44100);
    EXPECT_DOUBLE_EQ(plugin->timeInfo().ppqPos, 2.0) << "a stopped transport stays put";

    plugin->setTransport(std::nullopt);
    processBlock();
    EXPECT_EQ(report(kReportTempo), -1000);
    EXPECT_EQ(plugin->counters().getTime, 4);
}

TEST_F(FixtureTest, ImplausibleTransportValuesAreReplaced) {
    plugin->setTransport(Transport{std::nan(""), std::nan(""), true, -1.0});
    EXPECT_DOUBLE_EQ(plugin->timeInfo().tempo, 120.0);
    EXPECT_DOUBLE_EQ(plugin->timeInfo().ppqPos, 0.0);
    EXPECT_DOUBLE_EQ(plugin->timeInfo().sampleRate, 44100.0);
}

TEST_F(FixtureTest, RequestsAreRecordedEvenWhenThePluginOverwritesUser) {
    report(kReportScribbleUser);
    const std::vector<HostRequest> requests = plugin->requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].opcode, vst2::audioMasterAutomate);
    EXPECT_EQ(requests[0].index, 2);
    EXPECT_FLOAT_EQ(requests[0].opt, 0.125f);
    EXPECT_EQ(plugin->counters().automate, 1);

    plugin->clearRecord();
    EXPECT_TRUE(plugin->requests().empty());
    EXPECT_EQ(plugin->counters().automate, 0);
}

TEST_F(FixtureTest, MidiAndChunksReachThePlugin) {
    EXPECT_TRUE(plugin->sendMidi(0xB3, 7, 127));
    EXPECT_EQ(report(kReportLastMidi), 0xB3077F);

    EXPECT_EQ(plugin->getChunk(true), (std::vector<uint8_t>{'f', 'i', 'x'}));
    const std::vector<uint8_t> bytes = {1, 2, 3, 4, 5};
    EXPECT_TRUE(plugin->setChunk(bytes, false));
    EXPECT_EQ(plugin->getChunk(false), bytes);
    EXPECT_FALSE(plugin->setChunk({}, false));
}

TEST_F(FixtureTest, ProgramNamesKeepTheCurrentProgramAndValues) {
    plugin->setProgram(1);
    plugin->setParameter(0, 0.9f);
    EXPECT_EQ(plugin->programNames(), (std::vector<std::string>{"First", "Second"}));
    EXPECT_EQ(plugin->programName(0), "First");
    EXPECT_EQ(plugin->currentProgram(), 1);
    EXPECT_FLOAT_EQ(plugin->getParameter(0), 0.9f);
}

TEST_F(FixtureTest, SizeWindowIsOnlyClaimedWithAHandler) {
    EXPECT_EQ(plugin->hostCanDo("sendVstTimeInfo"), 1);
    EXPECT_EQ(plugin->hostCanDo("sendVstMidiEvent"), 1);
    EXPECT_EQ(plugin->hostCanDo("offline"), 0);
    EXPECT_EQ(plugin->hostCanDo("sizeWindow"), 0);
    plugin->setSizeWindowHandler([](int, int) { return true; });
    EXPECT_EQ(plugin->hostCanDo("sizeWindow"), 1);
}

TEST_F(FixtureTest, InstancesAreIndependent) {
    std::string error;
    auto second = PluginInstance::load(kFixture, &error);
    ASSERT_TRUE(second) << error;
    plugin->setParameter(0, 0.1f);
    second->setParameter(0, 0.6f);
    EXPECT_FLOAT_EQ(plugin->getParameter(0), 0.1f);
    second.reset();
    report(kReportScribbleUser);
    EXPECT_EQ(plugin->counters().automate, 1) << "closing one instance leaves the other's callback intact";
}

TEST(PluginLoad, RefusesWhatIsNotAnEffect) {
    std::string error;
    EXPECT_FALSE(PluginInstance::load("/nonexistent/Nothing.so", &error));
    EXPECT_NE(error.find("/nonexistent/Nothing.so"), std::string::npos) << error;

    EXPECT_FALSE(PluginInstance::load("libm.so.6", &error));
    EXPECT_NE(error.find("entry point"), std::string::npos) << error;

    EXPECT_FALSE(PluginInstance::load(std::string(FIXTURE_DIR) + "/fixture_bad_magic.so", &error));
    EXPECT_NE(error.find("magic"), std::string::npos) << error;

    EXPECT_FALSE(PluginInstance::load(std::string(FIXTURE_DIR) + "/fixture_returns_null.so", &error));
    EXPECT_NE(error.find("no effect"), std::string::npos) << error;
}

}  // namespace
}  // namespace host
}  // namespace kovalith
