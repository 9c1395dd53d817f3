// What hosts of every format see of the parameters: unique names and symbols,
// stepped menus, and display texts that parse back to the value they show.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <set>
#include <string>

#include "effect/Parameters.h"
#include "effect/ParameterText.h"
#include "effect/Programs.h"

namespace {

using namespace kovalith;

std::string text(int index, float stored, const DisplayContext& context = {}) {
    char buffer[kValueTextSize];
    formatParameter(index, stored, context, buffer, sizeof buffer);
    return buffer;
}

TEST(ParameterDescriptions, NamesAndSymbolsAreUniqueAndUsable) {
    std::set<std::string> names, symbols;
    int exposed = 0;
    for (int i = 0; i < kNumParams; ++i) {
        const ParameterDescription& d = describeParameter(i);
        ASSERT_NE(d.name[0], '\0') << i;
        EXPECT_TRUE(names.insert(d.name).second) << d.name;
        EXPECT_TRUE(symbols.insert(d.symbol).second) << d.symbol;
        EXPECT_FALSE(std::isdigit(static_cast<unsigned char>(d.symbol[0]))) << d.symbol;
        for (const char* c = d.symbol; *c; ++c)
            EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(*c)) || *c == '_') << d.symbol;
        // Whatever the VST 2.4 host is told, a parameter with a name there is exposed elsewhere.
        if (kParameterTable[static_cast<std::size_t>(i)].name[0] != '\0' && i != kReserved8) {
            EXPECT_TRUE(d.exposed) << i;
        }
        exposed += d.exposed ? 1 : 0;
    }
    // 67 minus the 13 reserved indices.
    EXPECT_EQ(exposed, 54);
    EXPECT_STREQ(describeParameter(kARotate).name, "A Rotate");
    EXPECT_STREQ(describeParameter(kPingPong).name, "Ping-Pong");
    EXPECT_FALSE(describeParameter(kReserved8).exposed);
}

TEST(ParameterDescriptions, SteppedValuesMapToTheItemTheEngineSelects) {
    EXPECT_EQ(plainMaximum(kDelaySync), 14.0f);
    EXPECT_EQ(plainMaximum(kFilterType), 7.0f);
    EXPECT_EQ(plainMaximum(kPingPong), 1.0f);
    EXPECT_EQ(plainMaximum(kMix), 1.0f);
    // "Filter Type" stores its item / 10; the engine takes the integer part of 10 v.
    for (int item = 0; item < kNumFilterTypes; ++item) {
        const float stored = storedFromPlain(kFilterType, static_cast<float>(item));
        EXPECT_EQ(static_cast<int>(10.0f * stored), item);
        EXPECT_EQ(plainFromStored(kFilterType, stored), static_cast<float>(item));
    }
    // A stored value between items means its integer part; host values go to the nearest item.
    EXPECT_EQ(plainFromStored(kDelayStereoMult, 0.48f), 0.0f);
    EXPECT_EQ(plainFromStored(kLfo1Shape, 6.9f), 6.0f);
    EXPECT_EQ(storedFromPlain(kLfo1Shape, 5.6f), 6.0f);
    EXPECT_EQ(storedFromPlain(kLfo1Shape, 99.0f), 7.0f);
    EXPECT_EQ(storedFromPlain(kLfo1Shape, NAN), 0.0f);
    EXPECT_EQ(plainFromStored(kDelaySync, -3.0f), 0.0f);
    EXPECT_EQ(plainFromStored(kDelaySync, 1e30f), 14.0f);
    EXPECT_EQ(storedFromPlain(kMix, 1.5f), 1.0f);
    EXPECT_EQ(plainDefault(kDelayStereoMult), 1.0f);
    EXPECT_EQ(plainDefault(kBlockSize), 0.5f);
}

TEST(ParameterText, ReadsAsTheEditorShowsIt) {
    // "Rubber Boots" values.
    EXPECT_EQ(text(kBlockSize, 0.401611f), "161.6 ms");
    EXPECT_EQ(text(kCutoff, 0.197159f), "4337 Hz");
    EXPECT_EQ(text(kLfo1Shape, 1.0f), "tri");
    EXPECT_EQ(text(kLfo1Sync, 1.0f), "4/1");
    EXPECT_EQ(text(kNumStages, 0.276518f), "20");
    EXPECT_EQ(text(kFilterType, 0.2f), "Bandpass");
    EXPECT_EQ(text(kPingPong, 1.0f), "on");
    EXPECT_EQ(text(kEnvToSWarp, 0.917111f), "0.83");
    EXPECT_EQ(text(kEnvRelease, 0.34746f), "83.90 ms");
    EXPECT_EQ(text(kLfo1Freq, 0.266781f), "1.42 Hz");
    // Synced: whole sync units at the tempo (120 bpm at 44.1 kHz: 22050 samples a beat).
    DisplayContext synced;
    synced.samplesPerBeat = 22050.0f;
    synced.lfo1Sync = 1.0f;  // 4/1
    EXPECT_EQ(text(kLfo1Freq, 0.266781f, synced), "1");
    synced.delaySync = 4.0f;  // 1/4
    EXPECT_EQ(text(kDelay, 0.291445f, synced), "3.00");  // 12853 samples: 2.33 quarters, rounded up
    // Nothing undefined from values no host should send.
    EXPECT_EQ(text(kLfo1Shape, NAN), "sine");
    EXPECT_EQ(text(kNumStages, 1e30f), "2147483647");
}

TEST(ParameterText, TypedTextsInDisplayUnits) {
    const DisplayContext context;
    auto parsed = [&](int index, const char* typed) { return parseParameter(index, typed, context); };
    ASSERT_TRUE(parsed(kCutoff, "4.4 kHz"));
    EXPECT_NEAR(*parsed(kCutoff, "4.4 kHz"), 0.2f, 1e-6f);
    EXPECT_NEAR(*parsed(kCutoff, "4400"), 0.2f, 1e-6f);
    EXPECT_NEAR(*parsed(kCutoff, "4.4k"), 0.2f, 1e-6f);
    EXPECT_NEAR(*parsed(kDelay, "250 ms"), 0.25f, 1e-6f);
    EXPECT_NEAR(*parsed(kDelay, "0.25 s"), 0.25f, 1e-6f);
    EXPECT_NEAR(*parsed(kEnvToGain, "-1"), 0.0f, 1e-6f);
    EXPECT_EQ(*parsed(kLfo2Shape, "S & H"), 6.0f);
    EXPECT_EQ(*parsed(kDelaySync, "1/8"), 5.0f);
    EXPECT_EQ(*parsed(kFilterType, "highpass"), storedFromPlain(kFilterType, 1.0f));
    EXPECT_EQ(*parsed(kMix, "7"), 1.0f);  // clamped to the range
    EXPECT_NEAR(*parsed(kSmoothing, "50 ms"), 0.5f, 1e-6f);
    // A bare number counts in the read-out's unit: the block's milliseconds.
    EXPECT_EQ(text(kBlockSize, *parsed(kBlockSize, "250")), text(kBlockSize, *parsed(kBlockSize, "0.25 s")));
    EXPECT_EQ(text(kBlockSize, *parsed(kBlockSize, "250")), "250.0 ms");
    EXPECT_EQ(text(kCutoff, *parsed(kCutoff, "4.3 kHz")), "4300 Hz");
    EXPECT_EQ(text(kCutoff, *parsed(kCutoff, "4k")), "4000 Hz");
    // Whether a text lay beyond the range; the shown ends typed back lie within it.
    const auto outside = [&](int index, const char* typed) {
        bool beyond = false;
        return parseParameter(index, typed, context, &beyond) && beyond;
    };
    EXPECT_TRUE(outside(kMix, "7"));
    EXPECT_TRUE(outside(kEnvToGain, "-3"));
    EXPECT_EQ(*parsed(kEnvToGain, "-3"), 0.0f);
    EXPECT_TRUE(outside(kDelay, "1.5 s"));
    EXPECT_TRUE(outside(kCutoff, "-5 Hz"));
    EXPECT_TRUE(outside(kBlockSize, "0.1 ms"));
    EXPECT_FALSE(outside(kBlockSize, "1000.0 ms"));
    EXPECT_FALSE(outside(kBlockSize, "0.4 ms"));
    EXPECT_FALSE(outside(kEnvRelease, "2.000 s"));
    for (const char* hostile : {"", "   ", "nan", "NaN", "inf", "-inf", "1e999", "tri", "250 parsecs", "\xff\xfe", "1/9"})
        for (int index : {kDelay, kMix, kLfo1Shape, kCutoff, kBlockSize})
            if (!(index == kLfo1Shape && std::string(hostile) == "tri")) {
                EXPECT_FALSE(parsed(index, hostile)) << index << " '" << hostile << "'";
            }
    EXPECT_FALSE(parsed(kMix, std::string(10000, '1').c_str()));
    EXPECT_FALSE(parsed(kMix, nullptr));
}

// Text -> value -> text is stable over each parameter's range, at two rates and synced.
TEST(ParameterText, EveryDisplayParsesBackToItself) {
    DisplayContext contexts[3];
    contexts[1].sampleRate = 96000.0f;
    contexts[2].samplesPerBeat = 20000.0f;
    contexts[2].delaySync = 5.0f;
    contexts[2].lfo1Sync = 0.0f;
    for (const DisplayContext& context : contexts)
        for (int index = 0; index < kNumParams; ++index) {
            if (!describeParameter(index).exposed) continue;
            const float top = describeParameter(index).items > 0 ? plainMaximum(index) : 1.0f;
            for (int step = 0; step <= 40; ++step) {
                const float plain = top * static_cast<float>(step) / 40.0f;
                const float stored = describeParameter(index).items > 0 ? storedFromPlain(index, plain) : plain;
                const std::string shown = text(index, stored, context);
                const std::optional<float> back = parseParameter(index, shown.c_str(), context);
                ASSERT_TRUE(back) << describeParameter(index).name << " '" << shown << "'";
                EXPECT_EQ(text(index, *back, context), shown) << describeParameter(index).name;
            }
        }
}

}  // namespace
