// The parameters that reconfigure units the moment they arrive: the feedback
// filter, lattice smoothing, decimators, envelope times, LFO shapes and the
// compressor levels.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/engine/EngineRig.h"

namespace kovalith::test {
namespace {

const CKovalithUnits& units(const EngineRig& rig) { return rig.engine->units(); }

// ---- feedback filter ------------------------------------------------------------

TEST(FeedbackFilterParameters, TypeIsTheIntegerPartOfTenTimesTheValue) {
    EngineRig rig;
    const struct {
        float v;
        int type;
    } cases[] = {{0.0f, kBiquadLowpass}, {0.1f, kBiquadHighpass}, {0.2f, kBiquadBandpass},
                 {0.35f, kBiquadBandstop}, {0.7f, kBiquadPeaking}, {0.85f, kBiquadSlopeAllpass}};
    for (const auto& c : cases) {
        rig.set(kFilterType, c.v);
        EXPECT_EQ(units(rig).biquad[0].getType(), c.type) << c.v;
        EXPECT_EQ(units(rig).biquad[1].getType(), c.type) << c.v;
    }
}

TEST(FeedbackFilterParameters, UnknownTypeKeepsThePreviousCoefficients) {
    EngineRig rig;
    rig.set(kFilterType, 0.2f);
    rig.set(kCutoff, 0.4f);
    float a[3], b[3], a2[3], b2[3];
    units(rig).biquad[0].getCoefficients(a, b);
    for (const float v : {0.95f, 1.0f, -0.05f, 3.0f}) {
        rig.set(kFilterType, v);
        units(rig).biquad[0].getCoefficients(a2, b2);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(a[i], a2[i]) << v;
            EXPECT_EQ(b[i], b2[i]) << v;
        }
    }
    // The control steps' cutoff updates use the stored (unknown) type and are refused as well.
    Stereo in = testSignal(256), out(256);
    rig.process(in.left.data(), in.right.data(), out.left.data(), out.right.data(), 256);
    units(rig).biquad[0].getCoefficients(a2, b2);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(b[i], b2[i]);
}

TEST(FeedbackFilterParameters, CutoffIsClampedBeforeCubing) {
    EngineRig rig;
    rig.set(kCutoff, 0.0f);
    EXPECT_FLOAT_EQ(units(rig).biquad[0].getParams().frequency, 22000.0f * 1e-9f);  // 0.000022 Hz
    rig.set(kCutoff, 1.5f);
    EXPECT_FLOAT_EQ(units(rig).biquad[0].getParams().frequency, 22000.0f);
    rig.set(kCutoff, 0.5f);
    EXPECT_FLOAT_EQ(units(rig).biquad[1].getParams().frequency, 2750.0f);
}

TEST(FeedbackFilterParameters, ResonanceIsQBelowTheShelvesAndGainFromThem) {
    EngineRig rig;
    rig.set(kFilterType, 0.0f);
    rig.set(kResonance, 1.0f);
    BiquadParams p = units(rig).biquad[0].getParams();
    EXPECT_FLOAT_EQ(p.q, 10.0f);
    EXPECT_FLOAT_EQ(p.gain, 1.0f);
    rig.set(kResonance, 0.5f);
    EXPECT_FLOAT_EQ(units(rig).biquad[0].getParams().q, 2.5f);
    rig.set(kResonance, 0.0f);
    EXPECT_FLOAT_EQ(units(rig).biquad[0].getParams().q, 1e-10f);

    rig.set(kFilterType, 0.7f);  // peaking
    rig.set(kResonance, 1.0f);
    p = units(rig).biquad[0].getParams();
    EXPECT_FLOAT_EQ(p.q, 1.0f);
    EXPECT_FLOAT_EQ(p.gain, 2.0f);
    EXPECT_FLOAT_EQ(p.slope, 1.0f);
    EXPECT_FALSE(p.useBandwidth);
    EXPECT_TRUE(p.bandpassPeakUnity);

    // Peaking with gain 1 is flat: numerator equals denominator.
    rig.set(kResonance, 0.5f);
    const BiquadNormalised<float> n = units(rig).biquad[0].normalised();
    EXPECT_FLOAT_EQ(n.b0, 1.0f);
    EXPECT_FLOAT_EQ(n.b1, n.a1);
    EXPECT_FLOAT_EQ(n.b2, n.a2);
}

TEST(FeedbackFilterParameters, NoResonanceGivesAFiniteFilterForEveryType) {
    // Resonance 0 makes a gain of 0 for the shelves and the peaking type; the
    // filter must stay usable rather than take alpha / 0.
    for (int type = 0; type < 9; ++type) {
        EngineRig rig;
        rig.set(kFeedback, 0.9f);
        rig.set(kResonance, 0.0f);
        rig.set(kFilterType, 0.1f * static_cast<float>(type) + 0.01f);
        Stereo in = testSignal(22050), out(22050);
        Stereo result = rig.render(in, 512);
        EXPECT_TRUE(allFinite(result.left) && allFinite(result.right)) << "type " << type;
        float a[3], b[3];
        units(rig).biquad[0].getCoefficients(a, b);
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(std::isfinite(a[i]) && std::isfinite(b[i])) << "type " << type;
    }
}

// ---- lattices, decimators, envelope, LFO shapes ----------------------------------------

TEST(UnitParameters, SmoothingSetsAllFourLattices) {
    EngineRig rig;
    rig.set(kSmoothing, 0.5f);  // 0.05 s at the lattices' 11025 Hz
    const double expected = static_cast<float>(std::pow(0.5, 1.0 / static_cast<double>(0.05f * 11025.0f)));
    const CKovalithUnits& u = units(rig);
    for (const CUnitWarpedLatticeBase<float>* lattice :
         {static_cast<const CUnitWarpedLatticeBase<float>*>(&u.fir[0]), static_cast<const CUnitWarpedLatticeBase<float>*>(&u.fir[1]),
          static_cast<const CUnitWarpedLatticeBase<float>*>(&u.iir[0]), static_cast<const CUnitWarpedLatticeBase<float>*>(&u.iir[1])})
        EXPECT_DOUBLE_EQ(lattice->smoothing(), expected);
    rig.set(kSmoothing, 0.0f);
    EXPECT_EQ(u.iir[1].smoothing(), 0.0);  // coefficients jump to their targets
}

TEST(UnitParameters, DecimationSetsBothDecimators) {
    EngineRig rig;
    rig.set(kDecimation, 0.25f);  // factor 16
    EXPECT_FLOAT_EQ(units(rig).decimator[0].getStep(), 1.0f / 16.0f);
    EXPECT_FLOAT_EQ(units(rig).decimator[1].getStep(), 1.0f / 16.0f);
}

TEST(UnitParameters, EnvelopeTimesAreCubes) {
    EngineRig rig;
    rig.set(kEnvAttack, 0.5f);
    rig.set(kEnvRelease, 0.5f);
    EXPECT_FLOAT_EQ(units(rig).envelope.getAttackTime(), 0.125f);
    EXPECT_FLOAT_EQ(units(rig).envelope.getReleaseTime(), 0.25f);
    // The follower's attack reaches half way after 0.125 s at 44100 Hz.
    EXPECT_FLOAT_EQ(units(rig).envelope.getAttackCoefficient(),
                    static_cast<float>(std::pow(0.25, 1.0 / (0.125 * 44100.0))));
}

TEST(UnitParameters, LfoShapesAreTheIntegerPart) {
    EngineRig rig;
    rig.set(kLfo1Shape, 4.0f);  // square
    EXPECT_EQ(units(rig).lfo1.getShape(), 4);
    EXPECT_EQ(units(rig).lfo1.tableEntry(0), -1.0f);
    rig.set(kLfo2Shape, 0.9f);  // what a host sweeping 0..1 sends: "sinus"
    EXPECT_EQ(units(rig).lfo2.getShape(), 0);
    rig.set(kLfo1Shape, 6.7f);
    EXPECT_EQ(units(rig).lfo1.getShape(), 6);
    const float before = units(rig).lfo1.tableEntry(100);
    rig.set(kLfo1Shape, 12.0f);  // no such shape: the table stays
    EXPECT_EQ(units(rig).lfo1.tableEntry(100), before);
}

TEST(UnitParameters, RandomShapesAreReproducibleBetweenInstances) {
    EngineRig a, b;
    a.set(kLfo1Shape, 7.0f);
    b.set(kLfo1Shape, 7.0f);
    for (int i = 0; i <= 512; ++i) ASSERT_EQ(a.engine->units().lfo1.tableEntry(i), b.engine->units().lfo1.tableEntry(i));
    float largest = -2.0f;
    for (int i = 0; i < 512; ++i) largest = std::max(largest, a.engine->units().lfo1.tableEntry(i));
    EXPECT_EQ(largest, 1.0f);
}

// ---- compressor levels -------------------------------------------------------------

struct LevelCase {
    float v;
    int level;
    float ratio, slope, thresholdDb;
};

TEST(CompressorLevels, EveryMenuValueSelectsALevel) {
    // With attack 0.002 s and release 0.2 s the unit lowers the threshold by
    // sqrt(sqrt(0.002 * 0.2) / 0.05) * 20 log10(sqrt 2), about 1.904 dB.
    const float correction = std::sqrt(std::sqrt(0.002f * 0.2f) / 0.05f) * 20.0f * std::log10(std::sqrt(2.0f));
    const LevelCase cases[] = {
        {0.0f, 0, 0.0f, 1.0e10f, 0.0f},     {1.0f, 1, 10.0f, 0.1f, -6.0f},
        {2.0f, 2, 20.0f, 0.05f, -12.0f},    {3.0f, 3, 40.0f, 0.025f, -18.0f},
        {4.0f, 4, 200.0f, 0.005f, -60.0f},  {7.0f, 4, 200.0f, 0.005f, -60.0f},
        {2.5f, 2, 20.0f, 0.05f, -12.0f},    {0.5f, 0, 0.0f, 1.0e10f, 0.0f},
        {0.99f, 0, 0.0f, 1.0e10f, 0.0f},    {-3.0f, 0, 0.0f, 1.0e10f, 0.0f},
    };
    EngineRig rig;
    for (const LevelCase& c : cases) {
        rig.set(kCompressorType, 3.0f);  // a different level first, so every case is a real change
        rig.set(kCompressorType, 1.0f);
        rig.set(kCompressorType, c.v);
        const CUnitCompressor<float>& comp = units(rig).compressor;
        EXPECT_FLOAT_EQ(comp.getRatio(), c.ratio) << c.v;
        EXPECT_NEAR(comp.getSlope(), c.slope, c.slope * 1e-6) << c.v;
        EXPECT_NEAR(comp.getThreshold(), c.thresholdDb - correction, 1e-4) << c.v;
        EXPECT_FLOAT_EQ(comp.follower().getAttackTime(), 0.002f);
        EXPECT_FLOAT_EQ(comp.follower().getReleaseTime(), 0.2f);
        Stereo in(8), out(8);
        rig.process(in.left.data(), in.right.data(), out.left.data(), out.right.data(), 8);
        EXPECT_EQ(rig.engine->blockSetup().compressorLevel, c.level) << c.v;
    }
    EXPECT_NEAR(correction, 1.904, 0.001);
}

// A loud feedback loop with the compressor menu between "off" and "weak", as a
// host automating the menu in 0..1 sends it. The off level's slope factor of
// 1e10 would drive the gain to infinity if the compressor ran.
TEST(CompressorLevels, ValuesBetweenOffAndWeakLeaveTheCompressorOff) {
    Stereo in = testSignal(3 * 44100, 1.0f);
    auto render = [&](float compressor) {
        EngineRig rig;
        rig.loadFactory(0);
        rig.set(kFeedback, 1.0f);
        rig.set(kDelay, 0.05f);
        rig.set(kCompressorType, compressor);
        return rig.render(in, 512);
    };
    const Stereo off = render(0.0f);
    for (const float v : {0.5f, 0.01f, 0.999f}) {
        const Stereo between = render(v);
        ASSERT_TRUE(allFinite(between.left) && allFinite(between.right)) << v;
        EXPECT_EQ(between.left, off.left) << v;
        EXPECT_EQ(between.right, off.right) << v;
    }
}

// The compressor works on the feedback only. A loop whose filter peak lifts
// its gain above 1 rings at the feedback limit without it; every level holds
// the ringing well below that, "insane" most of all.
TEST(CompressorLevels, EveryLevelHoldsDownARingingFeedbackLoop) {
    Stereo in(2 * 44100);
    const Stereo burst = testSignal(22050, 1.0f);
    std::copy(burst.left.begin(), burst.left.end(), in.left.begin());
    std::copy(burst.right.begin(), burst.right.end(), in.right.begin());
    double tail[5];
    for (int level = 0; level <= 4; ++level) {
        EngineRig rig;
        setCleanChain(rig);
        rig.set(kFilterType, 0.0f);
        rig.set(kCutoff, 0.8f);
        rig.set(kResonance, 0.3f);
        rig.set(kFeedback, 1.0f);
        rig.set(kDelay, 0.02f);
        rig.set(kCompressorType, static_cast<float>(level));
        const Stereo out = rig.render(in, 256);
        ASSERT_TRUE(allFinite(out.left) && allFinite(out.right)) << level;
        tail[level] = rms(out.left, 26000);
    }
    EXPECT_GT(tail[0], 0.2) << "the uncompressed loop rings on";
    for (int level = 1; level <= 4; ++level) EXPECT_LT(tail[level], 0.5 * tail[0]) << "level " << level;
    for (int level = 1; level <= 3; ++level) EXPECT_LT(tail[4], 0.1 * tail[level]) << "level " << level;
}

// Without feedback the compressor's detector gets the power of nothing: loud
// input leaves it without gain reduction.
TEST(CompressorLevels, WithoutFeedbackTheCompressorSeesSilence) {
    EngineRig rig;
    rig.loadFactory(0);
    rig.set(kFeedback, 0.0f);
    rig.set(kCompressorType, 4.0f);
    rig.render(testSignal(44100, 4.0f), 512);
    EXPECT_EQ(rig.engine->blockSetup().compressorLevel, 4);
    EXPECT_LT(std::fabs(rig.engine->units().compressor.getGainReduction()), 1e-6f);
    EXPECT_NEAR(rig.engine->units().compressor.lastOutput, 1.0f, 1e-6f);

    rig.set(kFeedback, 0.8f);  // and with it, the same input is compressed
    rig.render(testSignal(44100, 4.0f), 512);
    EXPECT_GT(rig.engine->units().compressor.getGainReduction(), 1.0f);
}

}  // namespace
}  // namespace kovalith::test
