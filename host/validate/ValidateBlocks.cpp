// The blocks and rates group: block sizes from 0 to 8192 (also past the
// announced size), sample rates from 8 to 192 kHz, and hostile time info.
#include "host/validate/Validate.h"

#include <limits>

namespace kovalith {
namespace host {
namespace validate {
namespace {

constexpr int kMaxBlock = 8192;
constexpr int kAnnouncedSmall = 64;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

const int kBlockSizes[] = {0,   1,   2,   3,   7,   8,    15,   16,   31,   32,   63,   64,   100,  127,
                           128, 255, 256, 511, 512, 1000, 1023, 1024, 2047, 2048, 4095, 4096, 8191, 8192};
const float kStandardRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 88200, 96000, 176400, 192000};

void announce(Subject& plugin, int blockSize, float rate) {
    plugin.suspend();
    plugin.setSampleRate(rate);
    plugin.setBlockSize(blockSize);
    plugin.resume();
}

void checkBlockSizes(Check& check) {
    Subject& plugin = check.plugin();
    AudioBuffers buffers(plugin.numInputs(), plugin.numOutputs(), kMaxBlock);
    announce(plugin, kMaxBlock, 44100.0f);
    const int repeats = check.scaled(100, 2);
    for (int frames : kBlockSizes) {
        plugin.note("blocks of " + std::to_string(frames) + " frames");
        if (!check.processFinite(buffers, frames, repeats, "in blocks of " + std::to_string(frames))) return;
    }
}

void checkLargerThanAnnounced(Check& check) {
    Subject& plugin = check.plugin();
    AudioBuffers buffers(plugin.numInputs(), plugin.numOutputs(), kMaxBlock);
    announce(plugin, kAnnouncedSmall, 44100.0f);
    for (int frames : {kAnnouncedSmall + 1, 128, 512, 1024, 4096, kMaxBlock}) {
        plugin.note(std::to_string(frames) + " frames after announcing " + std::to_string(kAnnouncedSmall));
        if (!check.processFinite(buffers, frames, 2, "in blocks larger than announced")) return;
    }
}

void checkRandomBlocks(Check& check) {
    Subject& plugin = check.plugin();
    AudioBuffers buffers(plugin.numInputs(), plugin.numOutputs(), kMaxBlock);
    announce(plugin, kMaxBlock, 44100.0f);
    const int blocks = check.scaled(20000, 60);
    plugin.note("random block sizes");
    for (int b = 0; b < blocks; ++b) {
        // Mostly small blocks, as hosts split them around automation and loops.
        const int limit = check.rng().chance(0.8) ? 512 : kMaxBlock;
        if (!check.processFinite(buffers, check.rng().range(0, limit), 1, "in random block sizes")) return;
    }
}

void checkRates(Check& check) {
    Subject& plugin = check.plugin();
    AudioBuffers buffers(plugin.numInputs(), plugin.numOutputs(), 512);
    std::vector<float> rates(std::begin(kStandardRates), std::end(kStandardRates));
    for (int i = check.scaled(300, 6); i > 0; --i) rates.push_back(static_cast<float>(check.rng().range(8000, 192000)));
    const int blocks = check.scaled(40, 4);
    for (float rate : rates) {
        announce(plugin, 512, rate);
        plugin.note("processing at " + describeFloat(rate) + " Hz");
        check.processFinite(buffers, 512, blocks, "at " + describeFloat(rate) + " Hz");
    }
}

// Time info with every field valid by its flags and `change` applied.
vst2::VstTimeInfo timeInfo(void (*change)(vst2::VstTimeInfo&)) {
    vst2::VstTimeInfo t{};
    t.sampleRate = 44100.0;
    t.tempo = 120.0;
    t.ppqPos = 16.0;
    t.samplePos = 352800.0;
    t.barStartPos = 16.0;
    t.cycleStartPos = 0.0;
    t.cycleEndPos = 32.0;
    t.timeSigNumerator = 4;
    t.timeSigDenominator = 4;
    t.flags = vst2::kVstTransportPlaying | vst2::kVstTransportCycleActive | vst2::kVstNanosValid |
              vst2::kVstPpqPosValid | vst2::kVstTempoValid | vst2::kVstBarsValid | vst2::kVstCyclePosValid |
              vst2::kVstTimeSigValid | vst2::kVstSmpteValid | vst2::kVstClockValid;
    change(t);
    return t;
}

void checkTimeInfo(Check& check) {
    Subject& plugin = check.plugin();
    AudioBuffers buffers(plugin.numInputs(), plugin.numOutputs(), 512);
    announce(plugin, 512, 44100.0f);
    const struct {
        const char* what;
        void (*change)(vst2::VstTimeInfo&);
    } cases[] = {
        {"tempo 0", [](vst2::VstTimeInfo& t) { t.tempo = 0.0; }},
        {"tempo -1", [](vst2::VstTimeInfo& t) { t.tempo = -1.0; }},
        {"tempo nan", [](vst2::VstTimeInfo& t) { t.tempo = kNaN; }},
        {"tempo inf", [](vst2::VstTimeInfo& t) { t.tempo = kInf; }},
        {"tempo 1e9", [](vst2::VstTimeInfo& t) { t.tempo = 1e9; }},
        {"position nan", [](vst2::VstTimeInfo& t) { t.ppqPos = t.samplePos = t.barStartPos = kNaN; }},
        {"position -1e12", [](vst2::VstTimeInfo& t) { t.ppqPos = t.samplePos = t.barStartPos = -1e12; }},
        {"position 1e12", [](vst2::VstTimeInfo& t) { t.ppqPos = t.samplePos = t.barStartPos = 1e12; }},
        {"time signature 0/0", [](vst2::VstTimeInfo& t) { t.timeSigNumerator = t.timeSigDenominator = 0; }},
        {"time signature -4/-4", [](vst2::VstTimeInfo& t) { t.timeSigNumerator = t.timeSigDenominator = -4; }},
        {"cycle nan", [](vst2::VstTimeInfo& t) { t.cycleStartPos = t.cycleEndPos = kNaN; }},
        {"sample rate 0 in the time info", [](vst2::VstTimeInfo& t) { t.sampleRate = 0.0; }},
    };
    const int blocks = check.scaled(100, 2);
    plugin.setTimeInfo(nullptr);
    plugin.note("no time info (null)");
    check.processFinite(buffers, 512, blocks, "without time info");
    for (const auto& c : cases) {
        const vst2::VstTimeInfo info = timeInfo(c.change);
        plugin.setTimeInfo(&info);
        plugin.note(std::string("time info with ") + c.what);
        check.processFinite(buffers, 512, blocks, std::string("with time info of ") + c.what);
        plugin.setTimeInfo(nullptr);
    }
}

}  // namespace

void validateBlocks(Session& session) {
    session.run("blocks", "block sizes 0 .. 8192", checkBlockSizes);
    session.run("blocks", "blocks larger than announced", checkLargerThanAnnounced);
    session.run("blocks", "random block sizes", checkRandomBlocks);
    session.run("blocks", "sample rates 8 k .. 192 k with suspend and resume", checkRates);
    session.run("blocks", "hostile time info", checkTimeInfo);
}

}  // namespace validate
}  // namespace host
}  // namespace kovalith
