// Reference renders that pin the engine's output bit for bit: every factory
// preset and a set of settings that reach every unit and every branch of the
// block pipeline. Each render is kept as a hash of its output bits and a few
// exact samples, so a change of rounding anywhere in the path shows.
//
// A mismatch prints the render's new row; after a deliberate change of the
// sound, the rows are replaced by the printed ones.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tests/engine/EngineRig.h"

namespace kovalith::test {
namespace {

struct GoldenCase {
    const char* name;
    int program;         // factory preset 0..4, or -1 for the default program
    float sampleRate;
    int block;
    int frames;
    double tempo;        // 0: the host gives no time information
    std::vector<std::pair<int, float>> settings;  // parameter values over the program's
};

struct GoldenRow {
    uint64_t hash;
    uint32_t samples[3];  // bits of left[frames / 2], right[frames - 1], left[frames - 1]
};

// A compressor level on a resonant loop at full feedback.
std::vector<std::pair<int, float>> compressorAt(int level) {
    return {{kCompressorType, static_cast<float>(level)}, {kFeedback, 1.0f}, {kFilterType, 0.0f}, {kResonance, 0.6f}};
}

const GoldenCase kCases[] = {
    {"Rubber Boots", 0, 44100.0f, 512, 22050, 120.0, {}},
    {"Intermittent", 1, 44100.0f, 512, 22050, 120.0, {}},
    {"Scratchy", 2, 44100.0f, 512, 22050, 120.0, {}},
    {"FBM", 3, 44100.0f, 512, 22050, 120.0, {}},
    {"Skaro Defence Force", 4, 44100.0f, 512, 22050, 120.0, {}},
    {"Default", -1, 44100.0f, 512, 22050, 0.0, {}},
    {"70 stages", 0, 44100.0f, 512, 22050, 120.0, {{kNumStages, 1.0f}}},
    {"1-sample blocks", 0, 44100.0f, 1, 6000, 120.0, {{kBlockSize, 0.05f}}},
    {"blocks of 7", 4, 44100.0f, 7, 12000, 0.0, {}},
    {"blocks of 4096", 0, 44100.0f, 4096, 22050, 0.0, {}},
    // Delay at "1/8", LFO 1 at "1/4", LFO 2 at "1/8 T".
    {"tempo sync", 0, 44100.0f, 300, 22050, 133.0,
     {{kDelaySync, 5.0f}, {kLfo1Sync, 4.0f}, {kLfo2Sync, 10.0f}, {kLfo1ToSWarp, 0.9f}, {kLfo2ToDec, 0.8f}}},
    {"ping-pong", 1, 44100.0f, 512, 22050, 120.0,
     {{kPingPong, 1.0f}, {kDelayStereoMult, 3.0f}, {kFeedback, 0.8f}, {kDelay, 0.3f}, {kDelaySync, 0.0f}}},
    // 0.0357^3 s = 2 / 44100 s: a line of one sample.
    {"1-sample delay", 0, 44100.0f, 512, 11025, 0.0, {{kDelay, 0.0357f}, {kDelaySync, 0.0f}, {kFeedback, 0.9f}}},
    {"Delay 0", 0, 44100.0f, 512, 11025, 0.0, {{kDelay, 0.0f}, {kDelaySync, 0.0f}}},
    // Lines longer than one control step, shorter than two.
    {"11-sample delay", 0, 44100.0f, 512, 11025, 0.0, {{kDelay, 0.0648f}, {kDelaySync, 0.0f}, {kFeedback, 0.9f}}},
    // One unit of "4/1" at 60 bpm is four seconds, more than the lines hold.
    {"delay rounded up to four seconds", 2, 44100.0f, 512, 8192, 60.0, {{kDelay, 1.0f}, {kDelaySync, 1.0f}}},
    {"compressor weak", 2, 44100.0f, 256, 11025, 0.0, compressorAt(1)},
    {"compressor medium", 2, 44100.0f, 256, 11025, 0.0, compressorAt(2)},
    {"compressor strong", 2, 44100.0f, 256, 11025, 0.0, compressorAt(3)},
    {"compressor insane", 2, 44100.0f, 256, 11025, 0.0, compressorAt(4)},
    {"saturation, decimation, buffer rate, rotation", 0, 44100.0f, 512, 22050, 0.0,
     {{kSaturation, 1.0f}, {kDecimation, 0.3f}, {kBufferRate, 0.85f}, {kBlockSize, 0.3f},
      {kARotate, 0.3f}, {kSRotate, 0.7f}, {kLfo1Shape, 5.0f}, {kLfo2Shape, 7.0f},
      {kLfo1Stereo, 1.0f}, {kLfo2Stereo, 1.0f}, {kLfo2Freq, 0.6f}, {kLfo1ToBufRate, 0.2f},
      {kLfo2ToAWarp, 0.8f}, {kEnvToGain, 0.9f}, {kEnvToFbCutoff, 0.2f}, {kLfo1ToSRes, 0.3f},
      {kSmoothing, 0.0f}}},
    {"48 kHz", 0, 48000.0f, 333, 22050, 120.0, {}},
    {"88.2 kHz", 3, 88200.0f, 512, 22050, 0.0, {}},
    // The least "# Stages": runs of their own in the lattices.
    {"1 stage", 0, 44100.0f, 512, 22050, 120.0, {{kNumStages, 0.0f}}},
};

// Filter types 0..8 on the feedback path, one render each.
constexpr int kFilterTypes = 9;

uint64_t fnv1a(uint64_t hash, const std::vector<float>& v) {
    for (const float x : v) {
        uint32_t bits;
        std::memcpy(&bits, &x, sizeof bits);
        for (int b = 0; b < 4; ++b) {
            hash ^= (bits >> (8 * b)) & 0xFFu;
            hash *= 0x100000001B3ull;
        }
    }
    return hash;
}

uint32_t bitsOf(float x) {
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

// Renders one case with the transport (if any) moving on after every block.
GoldenRow render(const GoldenCase& c) {
    EngineRig rig(c.sampleRate);
    rig.load(c.program < 0 ? defaultProgram() : factoryPreset(c.program));
    for (const auto& [index, value] : c.settings) rig.set(index, value);
    FakeTime time;
    rig.time = &time;
    const Stereo in = testSignal(static_cast<size_t>(c.frames), 0.7f);
    Stereo out(in.size());
    double ppq = 0.0;
    for (int n = 0; n < c.frames; n += c.block) {
        if (c.tempo > 0.0) time.playing(c.tempo, ppq);
        const int frames = std::min(c.block, c.frames - n);
        rig.process(in.left.data() + n, in.right.data() + n, out.left.data() + n, out.right.data() + n, frames);
        ppq += frames * c.tempo / 60.0 / c.sampleRate;
    }
    GoldenRow row;
    row.hash = fnv1a(fnv1a(0xCBF29CE484222325ull, out.left), out.right);
    const size_t last = in.size() - 1;
    row.samples[0] = bitsOf(out.left[in.size() / 2]);
    row.samples[1] = bitsOf(out.right[last]);
    row.samples[2] = bitsOf(out.left[last]);
    return row;
}

GoldenCase filterTypeCase(int type) {
    return {"filter type", 2, 44100.0f, 512, 8192, 0.0,
            {{kFilterType, static_cast<float>(type) * 0.1f}, {kResonance, 0.8f}, {kFeedback, 0.7f}, {kDelay, 0.05f}}};
}

constexpr size_t kNumCases = sizeof kCases / sizeof kCases[0];

const GoldenRow kGolden[kNumCases + kFilterTypes] = {
#include "tests/engine/GoldenRenders.inc"
};

std::string rowText(const GoldenRow& r) {
    char text[96];
    std::snprintf(text, sizeof text, "{0x%016" PRIx64 "ull, {0x%08" PRIx32 "u, 0x%08" PRIx32 "u, 0x%08" PRIx32 "u}},",
                  r.hash, r.samples[0], r.samples[1], r.samples[2]);
    return text;
}

void expectGolden(const GoldenCase& c, const GoldenRow& expected, const std::string& label) {
    const GoldenRow actual = render(c);
    EXPECT_TRUE(actual.hash == expected.hash && std::memcmp(actual.samples, expected.samples, sizeof actual.samples) == 0)
        << label << ": the render changed; its row is now\n    " << rowText(actual);
}

TEST(GoldenRenders, EverySettingReproducesItsReferenceBitForBit) {
    for (size_t i = 0; i < kNumCases; ++i) expectGolden(kCases[i], kGolden[i], kCases[i].name);
    for (int type = 0; type < kFilterTypes; ++type)
        expectGolden(filterTypeCase(type), kGolden[kNumCases + static_cast<size_t>(type)],
                     "filter type " + std::to_string(type));
}

}  // namespace
}  // namespace kovalith::test
