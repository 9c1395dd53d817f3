// Modulation: LFO rates with tempo sync and position lock, the envelope
// source, the matrix sums with their stereo signs, and the bounds of every
// target.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "tests/engine/EngineRig.h"

namespace kovalith::test {
namespace {

constexpr float kRate = 44100.0f;

// ---- LFO rate -----------------------------------------------------------------------

TEST(LfoRate, FreeRunningIsTheFrequencyTimesTheControlPeriod) {
    for (const float multiplier : {0.0f, 0.25f, 0.5f}) {  // "off", "4/1" and anything below 1
        const LfoRate r = computeLfoRate(1.5f, multiplier, 8.0f, kRate, 22050, 3.7);
        EXPECT_FALSE(r.synced) << multiplier;
        EXPECT_FLOAT_EQ(r.rate, 12.0f);
    }
}

TEST(LfoRate, ZeroFrequencyStaysFrozenWhateverTheSync) {
    for (const float multiplier : {0.0f, 1.0f, 4.0f, 64.0f}) {
        const LfoRate r = computeLfoRate(0.0f, multiplier, 8.0f, kRate, 22050, 1.0);
        EXPECT_FALSE(r.synced);
        EXPECT_EQ(r.rate, 0.0f);
    }
}

TEST(LfoRate, SyncedPeriodIsRoundedUpToGridUnitsAndLockedToThePosition) {
    // 120 bpm, "1/1", 1 Hz: ceil(44100 / 22050) = 2 units, P = 44100 samples.
    for (const double ppq : {0.0, 0.25, 1.0, 1.5, 2.0, 13.75}) {
        const LfoRate r = computeLfoRate(1.0f, 1.0f, 8.0f, kRate, 22050, ppq);
        EXPECT_TRUE(r.synced);
        EXPECT_FLOAT_EQ(r.rate, 8.0f);
        const double fraction = std::fmod(ppq * 22050.0, 44100.0) / 44100.0;
        EXPECT_EQ(r.phase, static_cast<uint32_t>(fraction * (1u << 29))) << ppq;
    }
    // 3 Hz at "1/4": free period 14700 samples, 3 units of 5512.5 = 16537.5 samples.
    const LfoRate r = computeLfoRate(3.0f, 4.0f, 8.0f, kRate, 22050, 0.0);
    EXPECT_FLOAT_EQ(r.rate, static_cast<float>(8.0 * 44100.0 / 16537.5));
}

// The position is rounded to single precision, and the grid arithmetic after it
// stays in single precision: far into a song the product position * beat loses
// whole samples in float, which moves the phase against a double computation.
TEST(LfoRate, PositionAndGridArithmeticAreSinglePrecision) {
    const auto floatPhase = [](double ppq) {
        float fraction = std::fmod(static_cast<float>(ppq) * 22050.0f, 44100.0f) / 44100.0f;
        if (fraction < 0.0f) fraction += 1.0f;
        return static_cast<uint32_t>(fraction * static_cast<float>(1u << 29));
    };
    for (const double ppq : {1000.0 + 1.0 / 3.0, 123456.789, -0.25, -3.3, -1.0e6}) {
        const LfoRate r = computeLfoRate(1.0f, 1.0f, 8.0f, kRate, 22050, ppq);
        EXPECT_EQ(r.phase, floatPhase(ppq)) << ppq;
    }
    const double fraction = std::fmod(static_cast<double>(static_cast<float>(123456.789)) * 22050.0, 44100.0) / 44100.0;
    EXPECT_NE(computeLfoRate(1.0f, 1.0f, 8.0f, kRate, 22050, 123456.789).phase,
              static_cast<uint32_t>(fraction * (1u << 29)))
        << "a double computation gives another phase here";
    // 3 Hz at "1/8 T" (12 units per beat): every step in float.
    const float period = std::ceil(12.0f * (44100.0f / 3.0f) / 22050.0f) / 12.0f * 22050.0f;
    EXPECT_EQ(computeLfoRate(3.0f, 12.0f, 8.0f, kRate, 22050, 0.0).rate, 8.0f * 44100.0f / period);
}

TEST(LfoRate, NegativePositionsWrapIntoTheCycle) {
    for (const double ppq : {-0.25, -1.0, -3.3, -1.0e6})
        EXPECT_LT(computeLfoRate(1.0f, 1.0f, 8.0f, kRate, 22050, ppq).phase, 1u << 29) << ppq;
    // Half a beat before the start is three quarters into a two-beat cycle.
    EXPECT_EQ(computeLfoRate(1.0f, 1.0f, 8.0f, kRate, 22050, -0.5).phase, 3u << 27);
}

TEST(LfoRate, EngineAppliesRateAndPhaseAtEveryCall) {
    EngineRig rig;
    FakeTime time;
    rig.time = &time;
    rig.set(kLfo1Freq, 0.5f);  // 5 Hz
    rig.set(kLfo1Sync, 2.0f);  // "1/1": one unit, P = one beat of 22050 samples
    rig.set(kLfo2Freq, 0.5f);
    rig.set(kLfo2Sync, 1.0f);  // "4/1" acts as "off"
    const auto increment = [](float rate) {
        CUnitLFO<float> lfo;
        lfo.setRate(rate);
        return lfo.getIncrement();
    };
    const uint32_t synced = increment(8.0f * 44100.0f / 22050.0f);
    const uint32_t free = increment(8.0f * 5.0f);

    Stereo in(8), out(8);
    time.playing(120.0, 0.5);
    rig.process(in.left.data(), in.right.data(), out.left.data(), out.right.data(), 8);
    const CKovalithUnits& u = rig.engine->units();
    EXPECT_TRUE(rig.engine->blockSetup().lfo1.synced);
    EXPECT_FALSE(rig.engine->blockSetup().lfo2.synced);
    EXPECT_EQ(u.lfo1.getIncrement(), synced);
    EXPECT_EQ(u.lfo2.getIncrement(), free);
    // One tick ran after the phase was set to half a cycle.
    EXPECT_EQ(u.lfo1.getPhase(), (1u << 28) + synced);
    EXPECT_EQ(u.lfo2.getPhase(), free);

    // With the transport standing still, a synced LFO restarts from the same phase.
    rig.process(in.left.data(), in.right.data(), out.left.data(), out.right.data(), 8);
    EXPECT_EQ(u.lfo1.getPhase(), (1u << 28) + synced);
    EXPECT_EQ(u.lfo2.getPhase(), 2 * free);
}

TEST(LfoRate, SampleAndHoldRunsAtATenthOfTheRate) {
    EngineRig rig;
    rig.set(kLfo1Shape, 6.0f);
    rig.set(kLfo1Freq, 0.5f);  // 5 Hz
    Stereo in(8), out(8);
    rig.process(in.left.data(), in.right.data(), out.left.data(), out.right.data(), 8);
    EXPECT_FLOAT_EQ(rig.engine->units().lfo1.getRate(), 8.0f * 5.0f / 10.0f);
}

TEST(LfoRate, AbsurdFrequenciesAreLimited) {
    const LfoRate free = computeLfoRate(1.0e30f, 0.0f, 8.0f, kRate, 22050, 0.0);
    EXPECT_LE(free.rate, 8.0f * kMaxLfoFrequency);
    const LfoRate synced = computeLfoRate(1.0e30f, 64.0f, 8.0f, kRate, 1, 0.0);
    EXPECT_LE(synced.rate, 8.0f * kMaxLfoFrequency);
    EXPECT_TRUE(std::isfinite(synced.rate));
}

// ---- matrix sums ------------------------------------------------------------------

ModMatrix matrixWith(int param, float amount, float stereo1 = 0.0f, float stereo2 = 0.0f) {
    float eng[kNumParams] = {};
    eng[param] = amount;
    eng[kLfo1Stereo] = stereo1;
    eng[kLfo2Stereo] = stereo2;
    return readModMatrix(eng);
}

TEST(ModMatrix, SumsUseTheDestinationScalesAndTheStereoSigns) {
    // LFO 1 -> S Warp with the stereo switch on: the right side moves against the left.
    ModSums s = computeModSums(matrixWith(kLfo1ToSWarp, 0.5f, 1.0f), 0.0f, 0.6f, 0.0f);
    EXPECT_FLOAT_EQ(s.left[kModSWarp], 0.8f * 0.6f * 0.5f);
    EXPECT_FLOAT_EQ(s.right[kModSWarp], -0.8f * 0.6f * 0.5f);
    // The stereo switch of LFO 1 leaves LFO 2 alone.
    s = computeModSums(matrixWith(kLfo2ToDec, -1.0f, 1.0f), 0.0f, 0.9f, 0.4f);
    EXPECT_FLOAT_EQ(s.left[kModDec], 0.5f * 0.4f * -1.0f);
    EXPECT_FLOAT_EQ(s.right[kModDec], s.left[kModDec]);
    // LFO 2's own switch.
    s = computeModSums(matrixWith(kLfo2ToGain, 1.0f, 0.0f, 1.0f), 0.0f, 0.0f, 0.4f);
    EXPECT_FLOAT_EQ(s.left[kModGain], 0.2f);
    EXPECT_FLOAT_EQ(s.right[kModGain], -0.2f);
    // The envelope has no stereo sign.
    s = computeModSums(matrixWith(kEnvToBufRate, 0.5f, 1.0f, 1.0f), 2.0f, 0.0f, 0.0f);
    EXPECT_FLOAT_EQ(s.left[kModBufRate], 0.5f);
    EXPECT_FLOAT_EQ(s.right[kModBufRate], 0.5f);
    // Switch values at or below 0.5 are mono.
    s = computeModSums(matrixWith(kLfo1ToSRes, 1.0f, 0.5f), 0.0f, 0.5f, 0.0f);
    EXPECT_FLOAT_EQ(s.right[kModSRes], 0.5f);
}

TEST(ModMatrix, ScalesPerDestination) {
    const int rows[3] = {kModRowEnv, kModRowLfo1, kModRowLfo2};
    const float expected[kNumModDestinations] = {0.8f, 1.0f, 0.5f, 0.5f, 0.8f, 0.5f, 0.5f};
    for (int row = 0; row < 3; ++row)
        for (int d = 0; d < kNumModDestinations; ++d) {
            const ModSums s = computeModSums(matrixWith(rows[row] + d, 1.0f), 1.0f, 1.0f, 1.0f);
            for (int other = 0; other < kNumModDestinations; ++other)
                EXPECT_FLOAT_EQ(s.left[other], other == d ? expected[d] : 0.0f) << row << " " << d << " " << other;
        }
}

TEST(ModMatrix, CentredAmountsLeaveEveryTargetAtItsBase) {
    EngineRig rig;
    rig.set(kLfo1Freq, 1.0f);
    rig.set(kLfo2Freq, 0.7f);
    rig.set(kLfo1Stereo, 1.0f);
    rig.set(kAWarp, 0.6f);
    rig.set(kARes, 0.49f);
    rig.set(kSWarp, 0.3f);
    rig.set(kSRes, 0.81f);
    rig.set(kDecimation, 0.2f);
    rig.set(kCutoff, 0.25f);
    rig.set(kBufferRate, 0.75f);
    Stereo in = testSignal(4096, 1.0f), out(4096);
    for (int n = 0; n < 4096; n += 8) {
        rig.process(in.left.data() + n, in.right.data() + n, out.left.data() + n, out.right.data() + n, 8);
        const ControlTargets& t = rig.engine->targets();
        ASSERT_FLOAT_EQ(t.analysisWarp, std::sqrt(0.6f) * 0.999f);
        ASSERT_FLOAT_EQ(t.synthesisWarpL, std::sqrt(0.3f) * 0.999f);
        ASSERT_FLOAT_EQ(t.synthesisWarpR, t.synthesisWarpL);
        ASSERT_FLOAT_EQ(t.analysisResonance, 0.7f * 0.999f + 0.001f);
        ASSERT_FLOAT_EQ(t.synthesisResonanceL, 0.9f * 0.999f + 0.001f);
        ASSERT_FLOAT_EQ(t.synthesisResonanceR, t.synthesisResonanceL);
        ASSERT_FLOAT_EQ(t.decimationL, 0.2f);
        ASSERT_FLOAT_EQ(t.cutoffL, 5500.0f);
        ASSERT_FLOAT_EQ(t.speedL, 1.5f);
        ASSERT_FLOAT_EQ(t.speedR, 1.5f);
        ASSERT_FLOAT_EQ(t.feedbackGainL, 1.0f);
        ASSERT_FLOAT_EQ(t.feedbackGainR, 1.0f);
    }
}

TEST(ModMatrix, StereoLfoMovesTheSynthesisWarpsApartAndTheAnalysisWarpAlike) {
    EngineRig rig;
    rig.set(kLfo1Shape, 0.0f);  // sinus
    rig.set(kLfo1Freq, 0.5f);   // 5 Hz
    rig.set(kLfo1Stereo, 1.0f);
    rig.set(kLfo1ToSWarp, 0.75f);  // +0.5
    rig.set(kLfo1ToAWarp, 0.75f);
    rig.set(kSWarp, 0.5f);
    rig.set(kAWarp, 0.5f);
    Stereo in(8), out(8);
    int apart = 0;
    for (int step = 0; step < 2000; ++step) {
        rig.process(in.left.data(), in.right.data(), out.left.data(), out.right.data(), 8);
        const float l1 = rig.engine->units().lfo1.lastOutput;
        const ControlTargets& t = rig.engine->targets();
        const float m = 0.8f * l1 * 0.5f;
        ASSERT_FLOAT_EQ(t.synthesisWarpL, std::sqrt(clampTo(0.5f + m, 0.0f, 1.0f)) * 0.999f);
        ASSERT_FLOAT_EQ(t.synthesisWarpR, std::sqrt(clampTo(0.5f - m, 0.0f, 1.0f)) * 0.999f);
        ASSERT_FLOAT_EQ(t.analysisWarp, std::sqrt(clampTo(0.5f + m, 0.0f, 1.0f)) * 0.999f);
        if (std::fabs(t.synthesisWarpL - t.synthesisWarpR) > 0.1f) ++apart;
    }
    EXPECT_GT(apart, 500);
}

TEST(ModMatrix, EnvelopeIsTenTimesTheRootOfTheFollowedPower) {
    EngineRig rig;
    rig.set(kEnvAttack, 0.0f);
    rig.set(kEnvRelease, 0.0f);
    rig.set(kEnvToGain, 1.0f);  // +1
    Stereo in(64), out(64);
    std::fill(in.left.begin(), in.left.end(), 0.5f);
    std::fill(in.right.begin(), in.right.end(), -0.5f);
    rig.process(in.left.data(), in.right.data(), out.left.data(), out.right.data(), 64);
    // The follower tracks (0.25 + 0.25) / 2 at once: env = 10 * 0.5 = 5.
    const float env = 10.0f * std::sqrt(rig.engine->units().envelope.lastOutput);
    EXPECT_NEAR(env, 5.0f, 1e-5f);
    EXPECT_NEAR(rig.engine->targets().feedbackGainL, 1.0f + 0.5f * env, 1e-5f);  // not bounded
    EXPECT_EQ(rig.engine->targets().feedbackGainL, rig.engine->targets().feedbackGainR);
}

TEST(ModMatrix, EnvelopeDecaysAtTheReleaseRateAfterTheInputStops) {
    EngineRig rig;
    rig.set(kEnvAttack, 0.0f);
    rig.set(kEnvRelease, 0.5f);  // 0.25 s
    Stereo in(44100), out(44100);
    std::fill(in.left.begin(), in.left.begin() + 4410, 0.8f);
    std::fill(in.right.begin(), in.right.begin() + 4410, 0.8f);
    rig.process(in.left.data(), in.right.data(), out.left.data(), out.right.data(), 4410);
    const float start = rig.engine->units().envelope.lastOutput;
    EXPECT_NEAR(start, 0.64f, 1e-4f);
    rig.process(in.left.data() + 4410, in.right.data() + 4410, out.left.data(), out.right.data(), 11025);
    // Release coefficient 0.25^(2 / (0.25 * 44100)): a quarter after 0.125 s, a sixteenth after 0.25 s.
    EXPECT_NEAR(rig.engine->units().envelope.lastOutput / start, 1.0 / 16.0, 1e-3);
}

// ---- bounds --------------------------------------------------------------------------

TEST(Targets, PlaybackSpeed) {
    EXPECT_FLOAT_EQ(playbackSpeed(0.5f, 0.0f, 1024.0f), 1.0f);
    EXPECT_FLOAT_EQ(playbackSpeed(0.0f, 0.0f, 1024.0f), 0.5f);
    EXPECT_FLOAT_EQ(playbackSpeed(1.0f, 0.0f, 1024.0f), 2.0f);
    EXPECT_FLOAT_EQ(playbackSpeed(0.25f, 0.0f, 1024.0f), 0.75f);
    EXPECT_FLOAT_EQ(playbackSpeed(0.75f, 0.0f, 1024.0f), 1.5f);
    EXPECT_FLOAT_EQ(playbackSpeed(0.5f, -1.0f, 1024.0f), 0.5f);
    EXPECT_FLOAT_EQ(playbackSpeed(0.5f, 1.0f, 1024.0f), 2.0f);
    EXPECT_FLOAT_EQ(playbackSpeed(1.0f, 0.0f, 1.0f), 0.9f);  // the window bound
    EXPECT_EQ(playbackSpeed(0.3f, 0.0f, 0.0f), 0.0f);
}

TEST(Targets, EveryTargetStaysInsideItsBounds) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f), wide(-50.0f, 50.0f);
    for (int trial = 0; trial < 20000; ++trial) {
        TargetBase base;
        base.aWarp = unit(rng);
        base.aRes = unit(rng);
        base.sWarp = unit(rng);
        base.sRes = unit(rng);
        base.decimation = unit(rng);
        base.cutoff = unit(rng);
        base.bufferRate = unit(rng);
        ModSums mod;
        for (int d = 0; d < kNumModDestinations; ++d) {
            mod.left[d] = wide(rng);
            mod.right[d] = wide(rng);
        }
        const float window = trial % 7 == 0 ? unit(rng) * 3.0f : unit(rng) * 1024.0f;
        const ControlTargets t = computeTargets(base, mod, window, window);
        for (const float w : {t.analysisWarp, t.synthesisWarpL, t.synthesisWarpR})
            ASSERT_TRUE(w >= 0.0f && w <= 0.999f) << w;
        for (const float r : {t.analysisResonance, t.synthesisResonanceL, t.synthesisResonanceR})
            ASSERT_TRUE(r >= 0.001f && r <= 1.0f) << r;
        for (const float d : {t.decimationL, t.decimationR}) ASSERT_TRUE(d >= 0.0f && d <= 1.0f) << d;
        for (const float c : {t.cutoffL, t.cutoffR}) ASSERT_TRUE(c >= 80.0f && c <= 22000.0f) << c;
        for (const float r : {t.speedL, t.speedR}) {
            ASSERT_LE(r, 2.0f);
            ASSERT_LE(std::fabs(r), 0.9f * window + 1e-6f);
            if (window >= 0.5f / 0.9f) {
                ASSERT_GE(r, 0.5f);
            }
        }
        ASSERT_FLOAT_EQ(t.feedbackGainL, 1.0f + mod.left[kModGain]);
        ASSERT_FLOAT_EQ(t.feedbackGainR, 1.0f + mod.right[kModGain]);
    }
}

TEST(Targets, EngineTargetsStayBoundedUnderFullModulation) {
    EngineRig rig;
    for (int i = kEnvToSWarp; i <= kLfo2ToFbCutoff; ++i) rig.set(i, (i % 2) ? 1.0f : 0.0f);
    rig.set(kLfo1Freq, 1.0f);
    rig.set(kLfo2Freq, 0.9f);
    rig.set(kLfo1Shape, 7.0f);
    rig.set(kLfo2Shape, 5.0f);
    rig.set(kLfo2Stereo, 1.0f);
    rig.set(kBlockSize, 0.3f);
    Stereo in = testSignal(64 * 700, 2.0f), out(64 * 700);
    for (size_t n = 0; n < in.size(); n += 64) {
        rig.process(in.left.data() + n, in.right.data() + n, out.left.data() + n, out.right.data() + n, 64);
        const ControlTargets& t = rig.engine->targets();
        ASSERT_TRUE(t.analysisWarp >= 0.0f && t.analysisWarp <= 0.999f && t.synthesisWarpL >= 0.0f &&
                    t.synthesisWarpR <= 0.999f);
        ASSERT_TRUE(t.synthesisResonanceL >= 0.001f && t.synthesisResonanceR <= 1.0f && t.decimationL >= 0.0f &&
                    t.decimationR <= 1.0f);
        ASSERT_TRUE(t.cutoffL >= 80.0f && t.cutoffR <= 22000.0f && t.speedL >= 0.5f && t.speedR <= 2.0f);
    }
    EXPECT_TRUE(allFinite(out.left) && allFinite(out.right));
}

}  // namespace
}  // namespace kovalith::test
