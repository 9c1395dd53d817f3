#include "dsp/Dynamics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "tests/dsp/Noise.h"
#include "tests/dsp/PairRunCheck.h"

namespace kovalith {
namespace {

constexpr int kTenSeconds = 441000;
const float kTimeCorrectionDb = 20.0f * std::log10(std::sqrt(2.0f));

// --- envelope follower -------------------------------------------------------------

TEST(EnvelopeFollower, ZeroTimesFollowTheRectifiedInputPlusOffsets) {
    CEnvelopeFollower<float> env;
    env.setAttackTime(0.0f);
    env.setReleaseTime(0.0f);
    EXPECT_EQ(env.getAttackCoefficient(), 0.0f);
    EXPECT_EQ(env.getReleaseCoefficient(), 0.0f);
    float offset = 1e-13f;
    for (float x : {0.5f, -0.25f, 0.0f, -1.0f, 0.125f}) {
        const float expected = std::fabs(x) + 2e-13f + offset;
        EXPECT_EQ(env.process(x), expected) << x;
        offset = -offset;
    }
}

TEST(EnvelopeFollower, AttackReachesThreeQuartersAfterOneAttackTime) {
    CEnvelopeFollower<float> env;
    env.setAttackTime(1.0f);
    env.setReleaseTime(1.0f);
    EXPECT_EQ(env.getAttackCoefficient(), float(std::pow(0.25, 1.0 / 44100)));
    float y = 0.0f;
    for (int n = 0; n < 44100; ++n) y = env.process(1.0f);
    EXPECT_NEAR(y, 0.75f, 2e-3f);
}

TEST(EnvelopeFollower, ReleaseFallsToAQuarterAfterHalfTheReleaseTime) {
    CEnvelopeFollower<float> env;
    env.setAttackTime(0.0f);
    env.setReleaseTime(1.0f);  // 0.25^(2/44100): a quarter per half second
    env.process(1.0f);
    float y = 0.0f;
    for (int n = 0; n < 22050; ++n) y = env.process(0.0f);
    EXPECT_NEAR(y, 0.25f, 2e-3f);
}

TEST(EnvelopeFollower, ResetReturnsToTheResetValue) {
    CEnvelopeFollower<float> env;
    env.setAttackTime(0.0f);
    env.process(0.8f);
    env.setFloor(1e-3f);
    env.reset();
    EXPECT_EQ(env.getEnvelope(), 1e-3f);
}

TEST(EnvelopeFollower, HostileTimesGiveBoundedCoefficients) {
    CEnvelopeFollower<float> env;
    for (float t : {std::nanf(""), -1.0f, INFINITY, 1e-30f, 1e30f}) {
        env.setAttackTime(t);
        env.setReleaseTime(t);
        EXPECT_GE(env.getAttackCoefficient(), 0.0f) << t;
        EXPECT_LE(env.getAttackCoefficient(), 1.0f) << t;
        EXPECT_GE(env.getReleaseCoefficient(), 0.0f) << t;
        EXPECT_LE(env.getReleaseCoefficient(), 1.0f) << t;
        EXPECT_FALSE(std::isnan(env.getAttackTime()));
    }
    // A level beyond 0..2 would make the attack law grow; the coefficient stays at most 1.
    env.setAttack(5.0f, 0.001f);
    EXPECT_LE(env.getAttackCoefficient(), 1.0f);
}

// --- compressor --------------------------------------------------------------------

TEST(Compressor, ThresholdIsCorrectedByThreeDecibelsForLongTimes) {
    CUnitCompressor<float> comp;
    comp.setAttackTime(0.1f);
    comp.setReleaseTime(0.2f);
    comp.setThreshold(-20.0f);
    EXPECT_NEAR(comp.getThreshold(), -23.0103f, 1e-3f);
    EXPECT_EQ(comp.getPreviousThreshold(), -12.0f);
    // The detector floor is the threshold less 0.2 dB, as a power.
    EXPECT_NEAR(comp.follower().getFloor(), std::pow(10.0f, (comp.getThreshold() - 0.2f) * 0.1f), 1e-9f);
}

TEST(Compressor, ThresholdCorrectionShrinksForShortTimes) {
    CUnitCompressor<float> comp;
    comp.setAttackTime(0.001f);
    comp.setReleaseTime(0.001f);
    comp.setThreshold(-20.0f);
    const float b = std::sqrt(0.001f / 0.05f) * kTimeCorrectionDb;
    EXPECT_NEAR(b, 0.4257f, 1e-3f);
    EXPECT_NEAR(comp.getThreshold(), -20.0f - b, 1e-5f);
}

TEST(Compressor, ReleaseCoefficientFollowsTheThresholdAmplitude) {
    CUnitCompressor<float> comp;
    comp.setAttackTime(0.002f);
    comp.setReleaseTime(0.2f);
    comp.setThreshold(-6.0f);
    const double A = std::pow(10.0, comp.getThreshold() * 0.05);
    EXPECT_NEAR(comp.follower().getReleaseCoefficient(), std::pow(A * A, 2.0 / (0.2 * 44100)), 1e-6);
    EXPECT_NEAR(comp.follower().getAttackCoefficient(),
                std::pow((1 - A) * (1 - A), 1.0 / (0.002 * 44100)), 1e-6);
}

// With times 0 the detector follows the power at once, which isolates the gain law.
void makeInstant(CUnitCompressor<float>& comp, float ratio, float thresholdDb) {
    comp.setRatio(ratio);
    comp.setAttackTime(0.0f);
    comp.setReleaseTime(0.0f);
    comp.setThreshold(thresholdDb);
}

TEST(Compressor, OvershootIsReducedToTheSlopeFactor) {
    CUnitCompressor<float> comp;
    makeInstant(comp, 10.0f, -6.0f);
    EXPECT_EQ(comp.getThreshold(), -6.0f);  // no correction for zero times
    float gain = 0.0f;
    for (int n = 0; n < 200; ++n) gain = comp.computeGain(1.0f);  // 0 dB: 6 dB over
    EXPECT_NEAR(comp.getGainReduction(), 0.9f * 6.0f, 1e-4f);
    EXPECT_NEAR(gain, std::pow(10.0f, -5.4f / 20), 1e-5f);
    EXPECT_EQ(comp.lastOutput, gain);
}

TEST(Compressor, BelowThresholdTheReductionDecaysBySevenTenths) {
    CUnitCompressor<float> comp;
    makeInstant(comp, 10.0f, -6.0f);
    for (int n = 0; n < 50; ++n) comp.computeGain(1.0f);
    float gr = comp.getGainReduction();
    ASSERT_GT(gr, 5.0f);
    for (int n = 0; n < 10; ++n) {
        comp.computeGain(0.0f);
        EXPECT_NEAR(comp.getGainReduction(), gr * 0.7f, 1e-6f) << n;
        gr = comp.getGainReduction();
    }
    float gain = 0.0f;
    for (int n = 0; n < 200; ++n) gain = comp.computeGain(0.0f);
    EXPECT_NEAR(gain, 1.0f, 1e-6f);  // the make-up factor
    EXPECT_LT(std::fabs(comp.getGainReduction()), 1e-12f);
}

TEST(Compressor, ProcessAppliesTheGainOfTheSquaredInput) {
    CUnitCompressor<float> a;
    makeInstant(a, 4.0f, -12.0f);
    CUnitCompressor<float> b;
    makeInstant(b, 4.0f, -12.0f);
    for (float x : {0.9f, -0.5f, 0.01f, 1.0f}) {
        const float g = b.computeGain(x * x);
        EXPECT_EQ(a.process(x), x * g);
    }
}

TEST(Compressor, BlockGainNeverExceedsTheInverseHeadroom) {
    CUnitCompressor<float> comp;
    makeInstant(comp, 10.0f, -20.0f);
    auto x = noise(64 * 16, 9);
    for (int b = 0; b < 16; b += 2)  // every other block quiet, where the gain would be ~1
        for (int i = 0; i < 64; ++i) x[b * 64 + i] *= 1e-3f;
    auto y = x;
    EXPECT_EQ(comp.processBlock(y.data(), 16, 64, 2.0f), 16);
    for (size_t i = 0; i < x.size(); ++i) EXPECT_LE(std::fabs(y[i]), 0.5f * std::fabs(x[i]) + 1e-9f) << i;
    EXPECT_EQ(y[0], 0.5f * x[0]);  // quiet block: limited to exactly 1/headroom
}

TEST(Compressor, SmoothedFormGlidesTheThresholdOnePercentPerCall) {
    CUnitCompressor<float> plain, smoothed;
    for (auto* c : {&plain, &smoothed}) {
        c->setRatio(10.0f);
        c->setAttackTime(0.0f);
        c->setReleaseTime(0.0f);
        c->setThreshold(-30.0f);  // the working threshold starts at -12
    }
    const float power = 0.01f;  // -20 dB: over the new threshold, under the old one
    EXPECT_LT(plain.computeGain(power), 0.99f);
    EXPECT_NEAR(smoothed.computeGainSmoothed(power), 1.0f, 1e-6f);
    float gPlain = 0.0f, gSmoothed = 0.0f;
    for (int n = 0; n < 3000; ++n) {
        gPlain = plain.computeGain(power);
        gSmoothed = smoothed.computeGainSmoothed(power);
    }
    EXPECT_NEAR(gSmoothed, gPlain, 1e-4f);
}

TEST(Compressor, HostileSettingsAndPowersKeepTheGainFinite) {
    CUnitCompressor<float> comp;
    comp.setAttackTime(std::nanf(""));
    comp.setReleaseTime(-1.0f);
    comp.setThreshold(std::nanf(""));
    EXPECT_EQ(comp.getThreshold(), -12.0f);  // refused
    comp.setThreshold(INFINITY);
    EXPECT_EQ(comp.getThreshold(), -12.0f);
    comp.setRatio(-1e-10f);  // a slope of 1/0
    EXPECT_TRUE(std::isfinite(comp.getSlope()));
    comp.setThreshold(1e6f);
    EXPECT_TRUE(std::isfinite(comp.getThreshold()));
    for (float p : {1.0f, std::nanf(""), INFINITY, -INFINITY, 1e38f, 0.0f}) {
        EXPECT_TRUE(std::isfinite(comp.computeGain(p))) << p;
        EXPECT_TRUE(std::isfinite(comp.computeGainSmoothed(p))) << p;
    }
    // The "off" level's slope 1e10 turns the law into an expander; the boost stays finite.
    CUnitCompressor<float> off;
    makeInstant(off, 0.0f, 0.0f);
    for (int n = 0; n < 100; ++n) ASSERT_TRUE(std::isfinite(off.computeGain(1e6f)));
}

// --- DC killer --------------------------------------------------------------------

TEST(DCKiller, ConstantInputSettlesAtHalf) {
    CUnitDCKiller<float> dc;
    float y = 0.0f;
    for (int n = 0; n < 20000; ++n) y = dc.process(1.0f);
    EXPECT_NEAR(y, 0.5f, 1e-4f);
}

TEST(DCKiller, GainIsNearUnityAboveAFewHertz) {
    for (double hz : {100.0, 1000.0, 10000.0}) {
        CUnitDCKiller<float> dc;
        const double w = 2 * M_PI * hz / 44100;
        float peak = 0.0f;
        for (int n = 0; n < 44100; ++n) {
            const float y = dc.process(float(std::sin(w * n)));
            if (n > 22050) peak = std::max(peak, std::fabs(y));
        }
        // |1 - 0.999 e^-jw| / |1 - 0.998 e^-jw|
        const double num = std::hypot(1 - 0.999 * std::cos(w), 0.999 * std::sin(w));
        const double den = std::hypot(1 - 0.998 * std::cos(w), 0.998 * std::sin(w));
        EXPECT_NEAR(peak, num / den, 5e-3) << hz;
        EXPECT_GT(peak, 0.985f) << hz;
    }
}

// The pair run against alternating single calls, bit for bit, with different
// states per channel, and non-finite inputs and an overflow in the middle of runs.
TEST(DCKiller, PairRunEqualsAlternatingCalls) {
    CUnitDCKiller<float> run[2], ref[2];
    for (auto* dc : {&run[0], &ref[0]}) dc->process(0.25f);  // the channels' offsets differ in sign
    std::vector<float> x[2] = {noise(300, 5), noise(300, 6)};
    x[0][19] = NAN, x[1][43] = INFINITY, x[0][90] = x[0][91] = 3.4e38f, x[0][148] = x[1][148] = NAN;
    const int stops = checkPairRun(
        run, ref, x, CUnitDCKiller<float>::processRunPair,
        [](CUnitDCKiller<float>& dc, float v) { return dc.process(v); }, [](int) {});
    EXPECT_EQ(stops, 4);  // each stop in the middle of a run
}

// --- decimator ----------------------------------------------------------------------

TEST(Decimator, FactorFourTakesEveryFourthSampleAndDecaysBetween) {
    CUnitLoFiDecimate<float> dec;
    dec.setFactor(4.0f);
    float held = 0.0f;
    for (int n = 0; n < 40; ++n) {
        const float x = float(n + 1);
        const float y = dec.process(x);
        if (n % 4 == 0 && n > 0) {
            EXPECT_EQ(y, x) << n;  // the phase passes 1 on calls 4, 8, ...
        } else {
            EXPECT_EQ(y, held * 0.98f) << n;
        }
        held = y;
    }
}

TEST(Decimator, FactorOfOneOrLessTakesEverySecondSample) {
    for (float f : {1.0f, 0.5f, -3.0f, std::nanf("")}) {
        CUnitLoFiDecimate<float> dec;
        dec.setFactor(f);
        EXPECT_EQ(dec.getStep(), 1.0f) << f;
        float held = 0.0f;
        for (int n = 0; n < 10; ++n) {
            const float x = float(n + 1);
            const float y = dec.process(x);
            EXPECT_EQ(y, n % 2 == 1 ? x : held * 0.9800000190734863f) << f << " " << n;
            held = y;
        }
    }
}

// A run in place gives what single calls give, over runs of 1 to 8 samples and
// fractional factors changed between runs: the phase and held value carry over.
TEST(Decimator, RunInPlaceEqualsSingleCalls) {
    CUnitLoFiDecimate<float> run, single;
    const std::vector<float> x = noise(300, 7);
    const float factors[] = {7.4f, 2.5f, 19.2f, 1.0f};
    for (int n = 0, runs = 0; n < 300; ++runs) {
        const int count = std::min(1 + runs % 8, 300 - n);
        run.setFactor(factors[runs / 6 % 4]);
        single.setFactor(factors[runs / 6 % 4]);
        float y[8];
        std::copy(&x[n], &x[n] + count, y);
        run.processRun(y, y, count);
        for (int i = 0; i < count; ++i, ++n) ASSERT_EQ(bitsOf(y[i]), bitsOf(single.process(x[n]))) << n;
        ASSERT_EQ(bitsOf(run.lastOutput), bitsOf(single.lastOutput)) << n;
    }
}

TEST(Decimator, ResetClearsThePhase) {
    CUnitLoFiDecimate<float> dec;
    dec.setFactor(4.0f);
    for (int n = 0; n < 3; ++n) dec.process(1.0f);
    dec.reset();
    for (int n = 0; n < 4; ++n) EXPECT_EQ(dec.process(1.0f), 0.0f) << n;
    EXPECT_EQ(dec.process(1.0f), 1.0f);
}

// --- stability ----------------------------------------------------------------------

TEST(DynamicsStability, NoiseThenSilenceStaysFiniteAndDecaysToTheOffsetLevel) {
    const auto x = noise(kTenSeconds, 21);
    // Shortest times, where the recursions react hardest.
    CEnvelopeFollower<float> env;
    env.setAttackTime(0.0f);
    env.setReleaseTime(1e-4f);
    CUnitCompressor<float> insane;
    makeInstant(insane, 200.0f, -60.0f);
    CUnitCompressor<float> slow;  // the longest envelope and the "insane" level
    slow.setRatio(200.0f);
    slow.setAttackTime(0.002f);
    slow.setReleaseTime(2.0f);
    slow.setThreshold(-60.0f);
    CUnitDCKiller<float> dc;
    CUnitLoFiDecimate<float> dec64, decInf;
    dec64.setFactor(64.0f);
    decInf.setFactor(INFINITY);

    auto runAll = [&](float v) {
        const float outs[] = {env.process(v * v), insane.process(v), slow.computeGainSmoothed(v * v),
                              dc.process(v), dec64.process(v), decInf.process(v)};
        for (float o : outs)
            if (!std::isfinite(o)) return false;
        return true;
    };
    for (float v : x) ASSERT_TRUE(runAll(v));
    for (int n = 0; n < kTenSeconds; ++n) ASSERT_TRUE(runAll(0.0f));

    EXPECT_GE(env.getEnvelope(), 1e-13f);
    EXPECT_LE(env.getEnvelope(), 3.1e-13f);
    EXPECT_LT(std::fabs(insane.getGainReduction()), 1e-12f);
    EXPECT_LT(std::fabs(slow.getGainReduction()), 1e-12f);
    EXPECT_NEAR(slow.lastOutput, 1.0f, 1e-6f);
    EXPECT_LT(std::fabs(dc.lastOutput), 3e-13f);
    EXPECT_EQ(dec64.lastOutput, 0.0f);
}

}  // namespace
}  // namespace kovalith
