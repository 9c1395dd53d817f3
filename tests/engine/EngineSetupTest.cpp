// The engine outside the sample loop: initial unit settings, the once-per-call
// set-up (time information, delay times, analysis and window lengths, order),
// reset and the sample-rate rules.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/engine/EngineRig.h"

namespace kovalith::test {
namespace {

// One block of silence, so that the per-call set-up runs.
void runBlock(EngineRig& rig, int frames = 64) {
    Stereo in(static_cast<size_t>(frames)), out(static_cast<size_t>(frames));
    rig.process(in.left.data(), in.right.data(), out.left.data(), out.right.data(), frames);
}

// ---- set-up at construction ---------------------------------------------------

TEST(EngineInit, UnitsStartWithTheirInitialSettings) {
    auto engine = std::make_unique<CKovalithEngine>();
    engine->init();
    const CKovalithUnits& u = engine->units();

    for (const auto& b : u.biquad) {
        EXPECT_EQ(b.getType(), kBiquadLowpass);
        EXPECT_FLOAT_EQ(b.getParams().frequency, 1000.0f);
        EXPECT_FLOAT_EQ(b.getParams().q, 1.0f);
        EXPECT_FLOAT_EQ(b.getParams().gain, 1.0f);
        EXPECT_TRUE(b.getParams().bandpassPeakUnity);
        EXPECT_FALSE(b.getParams().useBandwidth);
        EXPECT_FLOAT_EQ(b.sampleRate, 44100.0f);
    }
    for (const CUnitLFO<float>* lfo : {&u.lfo1, &u.lfo2}) {
        EXPECT_EQ(lfo->getShape(), CUnitLFO<float>::kTriangle);
        EXPECT_EQ(lfo->getIncrement(), 0u);
        EXPECT_FLOAT_EQ(lfo->sampleRate, 44100.0f);
    }
    EXPECT_EQ(u.analysis.getLength(), 512);

    // 1 ms at the lattices' own 11025 Hz: 0.5^(1 / 11.025), about 0.939.
    const double smoothing = static_cast<float>(std::pow(0.5, 1.0 / static_cast<double>(0.001f * 11025.0f)));
    const CUnitWarpedLatticeBase<float>* lattices[4] = {&u.fir[0], &u.fir[1], &u.iir[0], &u.iir[1]};
    for (const auto* lattice : lattices) {
        EXPECT_FLOAT_EQ(lattice->sampleRate, 11025.0f);
        EXPECT_DOUBLE_EQ(lattice->smoothing(), smoothing);
        EXPECT_NEAR(lattice->smoothing(), 0.939, 0.001);
        EXPECT_EQ(lattice->order(), 6);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(lattice->coefficient(i), 0.0);
    }
    for (const auto& d : u.decimator) EXPECT_FLOAT_EQ(d.getStep(), 1.0f / 7.4f);
    for (const auto& d : u.delay) EXPECT_FLOAT_EQ(d.sampleRate, 44100.0f);
    EXPECT_FLOAT_EQ(u.compressor.getRatio(), 0.0f);  // the "off" level
    EXPECT_FLOAT_EQ(u.compressor.getSlope(), 1.0e10f);
}

TEST(EngineInit, AFreshProgramDecidesTheFirstBlock) {
    EngineRig rig;
    rig.loadFactory(0);  // "Rubber Boots"
    runBlock(rig);
    const CBlockSetup& s = rig.engine->blockSetup();
    EXPECT_EQ(s.order, 20);  // trunc(1 + 69 * 0.276518)
    const float m = engineeringValue(kBlockSize, 0.401611f, 44100.0f);
    EXPECT_EQ(s.analysisLength, static_cast<int>(44100.0 * static_cast<double>(m)));
    EXPECT_FLOAT_EQ(s.loopLength, 0.401611f * 1024.0f);
    EXPECT_EQ(rig.engine->units().lfo2.getShape(), 6);  // "s & h"
    EXPECT_EQ(s.compressorLevel, 0);
}

// ---- analysis and window lengths --------------------------------------------------

TEST(BlockSetup, AnalysisLengthIsTheProductInDoublePrecision) {
    EngineRig rig;
    const struct {
        float v;
        int length;
    } cases[] = {{0.0f, 15}, {0.5f, 11036}, {1.0f, 44099}};
    for (const auto& c : cases) {
        rig.set(kBlockSize, c.v);
        runBlock(rig);
        EXPECT_EQ(rig.engine->blockSetup().analysisLength, c.length) << "Block Size " << c.v;
        EXPECT_EQ(rig.engine->units().analysis.getLength(), c.length);
    }
    // The float product would round 15.99999 up to 16.
    const float m0 = engineeringValue(kBlockSize, 0.0f, 44100.0f);
    EXPECT_EQ(static_cast<int>(44100.0f * m0), 16);
}

TEST(BlockSetup, BlockSizeKeepsTheRateCurrentWhenItWasSet) {
    EngineRig rig;
    rig.set(kBlockSize, 0.5f);  // at 44100: (16 + 0.25 * 44083) / 44100 s
    rig.setSampleRate(88200.0f);
    runBlock(rig);
    const double m44 = engineeringValue(kBlockSize, 0.5f, 44100.0f);
    EXPECT_EQ(rig.engine->blockSetup().analysisLength, static_cast<int>(88200.0 * m44));

    rig.set(kBlockSize, 0.5f);  // now at 88200
    runBlock(rig);
    const double m88 = engineeringValue(kBlockSize, 0.5f, 88200.0f);
    EXPECT_EQ(rig.engine->blockSetup().analysisLength, static_cast<int>(88200.0 * m88));
    EXPECT_EQ(rig.engine->blockSetup().analysisLength, 22061);
}

TEST(BlockSetup, WindowLengthFollowsBlockSizeAndStaysInsideTheStore) {
    EngineRig rig;
    const struct {
        float v;
        float loop;
    } cases[] = {{0.0f, 0.0f}, {0.5f, 512.0f}, {1.0f, 1024.0f}, {20.0f, 20480.0f}, {1000.0f, 176399.0f}, {-3.0f, 0.0f}};
    for (const auto& c : cases) {
        rig.set(kBlockSize, c.v);
        runBlock(rig);
        EXPECT_FLOAT_EQ(rig.engine->blockSetup().loopLength, c.loop) << "Block Size " << c.v;
        EXPECT_FLOAT_EQ(rig.engine->units().varispeed[0].loopLength, c.loop);
        EXPECT_FLOAT_EQ(rig.engine->units().varispeed[1].loopLength, c.loop);
    }
}

TEST(BlockSetup, ZeroWindowClampsThePlaybackRateToZero) {
    EngineRig rig;
    rig.set(kBlockSize, 0.0f);
    rig.set(kBufferRate, 1.0f);
    runBlock(rig);
    EXPECT_EQ(rig.engine->targets().speedL, 0.0f);
    EXPECT_EQ(rig.engine->targets().speedR, 0.0f);
    EXPECT_EQ(rig.engine->units().varispeed[0].speed, 0.0f);
}

TEST(BlockSetup, OrderIsTruncatedAndLimitedToSeventy) {
    EngineRig rig;
    const struct {
        float v;
        int order;
    } cases[] = {{0.0f, 1}, {1.0f, 70}, {0.5f, 35}, {0.1f, 7}, {2.0f, 70}, {-1.0f, 1}, {1.0e30f, 70}};
    for (const auto& c : cases) {
        rig.set(kNumStages, c.v);
        runBlock(rig);
        EXPECT_EQ(rig.engine->blockSetup().order, c.order) << "# Stages " << c.v;
    }
}

TEST(BlockSetup, MixAndOutputGain) {
    EngineRig rig;
    rig.set(kMix, 0.25f);
    rig.set(kOut, 0.5f);
    runBlock(rig);
    EXPECT_FLOAT_EQ(rig.engine->blockSetup().mix, 0.25f);
    EXPECT_FLOAT_EQ(rig.engine->blockSetup().outGain, 0.0625f);
}

// ---- host time information ----------------------------------------------------

TEST(TimeInfo, AskedOncePerCall) {
    EngineRig rig;
    FakeTime time;
    rig.time = &time;
    runBlock(rig, 100);
    runBlock(rig, 3);
    EXPECT_EQ(time.calls, 2);
}

TEST(TimeInfo, DefaultsWithoutAnAnswer) {
    for (const bool withSource : {false, true}) {
        EngineRig rig;
        FakeTime time;  // answers null
        if (withSource) rig.time = &time;
        runBlock(rig);
        const TempoInfo& t = rig.engine->blockSetup().tempo;
        EXPECT_EQ(t.tempo, 120.0);
        EXPECT_EQ(t.samplesPerBeat, 22050);
        EXPECT_EQ(t.ppqPosition, 0.0);
        EXPECT_EQ(t.barStartPosition, 0.0);
        EXPECT_EQ(t.timeSigNumerator, 4);
        EXPECT_EQ(t.timeSigDenominator, 4);
        EXPECT_FALSE(t.tempoValid || t.ppqValid || t.barsValid || t.timeSigValid);
        EXPECT_EQ(rig.engine->samplesPerBeat(), 22050);
    }
}

TEST(TimeInfo, OnlyFlaggedFieldsAreTaken) {
    EngineRig rig;
    FakeTime time;
    rig.time = &time;
    time.playing(90.0, 7.5);
    time.info->barStartPosition = 4.0;
    time.info->timeSigNumerator = 3;
    time.info->timeSigDenominator = 8;
    runBlock(rig);
    TempoInfo t = rig.engine->blockSetup().tempo;
    EXPECT_EQ(t.tempo, 90.0);
    EXPECT_EQ(t.samplesPerBeat, 29400);
    EXPECT_EQ(t.ppqPosition, 7.5);
    EXPECT_EQ(t.barStartPosition, 4.0);
    EXPECT_EQ(t.timeSigNumerator, 3);
    EXPECT_EQ(t.timeSigDenominator, 8);

    time.info->tempoValid = time.info->barsValid = time.info->timeSigValid = false;  // fields without their flag are not taken
    runBlock(rig);
    t = rig.engine->blockSetup().tempo;
    EXPECT_EQ(t.tempo, 120.0);
    EXPECT_EQ(t.ppqPosition, 7.5);
    EXPECT_EQ(t.barStartPosition, 0.0);
    EXPECT_EQ(t.timeSigNumerator, 4);
}

TEST(TimeInfo, UnusableTemposCountAsAbsentAndTheBeatIsNeverEmpty) {
    EngineRig rig;
    FakeTime time;
    rig.time = &time;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const double tempo : {0.0, -60.0, nan, inf}) {
        time.playing(tempo);
        runBlock(rig);
        EXPECT_EQ(rig.engine->blockSetup().tempo.tempo, 120.0) << tempo;
        EXPECT_EQ(rig.engine->blockSetup().tempo.samplesPerBeat, 22050);
    }
    // Faster than 60 * sampleRate: less than one sample per beat.
    rig.set(kDelay, 0.5f);
    rig.set(kDelaySync, 4.0f);
    rig.set(kLfo1Sync, 5.0f);
    rig.set(kLfo1Freq, 0.5f);
    for (const double tempo : {3.0e6, 1.0e12, 1.0e300}) {
        time.playing(tempo, 1.25);
        Stereo in = testSignal(512), out(512);
        rig.process(in.left.data(), in.right.data(), out.left.data(), out.right.data(), 512);
        EXPECT_GE(rig.engine->blockSetup().tempo.samplesPerBeat, 1) << tempo;
        EXPECT_TRUE(std::isfinite(rig.engine->blockSetup().delaySamples));
        EXPECT_TRUE(allFinite(out.left) && allFinite(out.right)) << tempo;
    }
}

// ---- delay times ----------------------------------------------------------------

TEST(DelayTimes, FreeTimeAndTheLeftMultiplier) {
    EngineRig rig;
    rig.set(kDelay, 0.3f);
    rig.set(kDelaySync, 0.0f);
    rig.set(kDelayStereoMult, 3.0f);  // "1/2"
    runBlock(rig);
    EXPECT_FLOAT_EQ(rig.engine->blockSetup().delaySamples, 0.3f * 44100.0f);
    EXPECT_FLOAT_EQ(rig.units().delay[1].getDelayTime(), 0.3f);
    EXPECT_FLOAT_EQ(rig.units().delay[0].getDelayTime(), 0.15f);
    // The lines turn seconds into samples at their own 44100 Hz.
    const auto lineSamples = [](float seconds) {
        return static_cast<int>(std::ceil(static_cast<float>(static_cast<double>(seconds) * 44100.0 - 1.0)));
    };
    EXPECT_EQ(rig.units().delay[1].getDelaySamples(), lineSamples(0.3f));
    EXPECT_EQ(rig.units().delay[0].getDelaySamples(), lineSamples(0.15f));
}

TEST(DelayTimes, TempoGridRoundsUpToWholeUnits) {
    EngineRig rig;
    FakeTime time;
    rig.time = &time;
    time.playing(120.0);
    rig.set(kDelay, 0.3f);  // 13230 samples
    rig.set(kDelayStereoMult, 0.0f);
    const struct {
        float sync;
        float samples;
    } cases[] = {
        {0.0f, 13230.0f},    // "off": free
        {4.0f, 16537.5f},    // "1/4": 3 units of 5512.5
        {2.0f, 22050.0f},    // "1/1": one beat
        {1.0f, 88200.0f},    // "4/1": one unit of four beats
        {5.0f, 13781.25f},   // "1/8": 5 units of 2756.25
        {9.0f, 14700.0f},    // "1/4 T": 4 units of 3675
        {12.0f, 16537.5f},   // "1/4 D": 2 units of 8268.75
    };
    for (const auto& c : cases) {
        rig.set(kDelaySync, c.sync);
        runBlock(rig);
        EXPECT_FLOAT_EQ(rig.engine->blockSetup().delaySamples, c.samples) << "sync " << c.sync;
        EXPECT_FLOAT_EQ(rig.units().delay[1].getDelayTime(), c.samples / 44100.0f);
    }
    rig.set(kDelay, 0.0f);  // no time: nothing to round
    rig.set(kDelaySync, 4.0f);
    runBlock(rig);
    EXPECT_EQ(rig.engine->blockSetup().delaySamples, 0.0f);
}

TEST(DelayTimes, SyncIndicesOutsideTheTableAreFree) {
    EngineRig rig;
    FakeTime time;
    rig.time = &time;
    time.playing(120.0);
    rig.set(kDelay, 0.3f);
    for (const float sync : {15.0f, 100.0f, -1.0f, 1.0e9f}) {
        rig.set(kDelaySync, sync);
        runBlock(rig);
        EXPECT_FLOAT_EQ(rig.engine->blockSetup().delaySamples, 13230.0f) << sync;
    }
}

TEST(DelayTimes, RawStereoMultiplierIsLimitedByTheLine) {
    EngineRig rig;
    rig.set(kDelay, 1.0f);
    for (const float mult : {13.0f, 20.0f, 1.0e30f}) {
        rig.set(kDelayStereoMult, mult);
        EXPECT_EQ(rig.engine->engValue(kDelayStereoMult), mult);
        Stereo in = testSignal(256), out(256);
        rig.process(in.left.data(), in.right.data(), out.left.data(), out.right.data(), 256);
        EXPECT_LE(rig.units().delay[0].getDelaySamples(), 176400 - 1);
        EXPECT_GT(rig.units().delay[0].getDelaySamples(), 44100 * 3);
        EXPECT_FLOAT_EQ(rig.units().delay[1].getDelayTime(), 1.0f);
        EXPECT_TRUE(allFinite(out.left) && allFinite(out.right));
    }
}

// ---- sample rate ------------------------------------------------------------------

TEST(SampleRate, TheHostRateDrivesOnlyTheEnginesOwnQuantities) {
    EngineRig rig(88200.0f);
    FakeTime time;
    rig.time = &time;
    time.playing(120.0);
    rig.set(kDelay, 0.5f);
    rig.set(kDelaySync, 0.0f);
    rig.set(kCutoff, 1000.0f / 22000.0f);
    runBlock(rig);
    CKovalithUnits& u = rig.units();
    EXPECT_EQ(rig.engine->blockSetup().tempo.samplesPerBeat, 44100);
    EXPECT_FLOAT_EQ(rig.engine->blockSetup().delaySamples, 44100.0f);
    // The lines keep 44100 Hz: half a second is 22049 samples there, 0.25 s at 88200.
    EXPECT_EQ(u.delay[1].getDelaySamples(), 22049);
    EXPECT_FLOAT_EQ(u.delay[1].getDelayTime(), 0.5f);
    // Units keep their own time bases.
    EXPECT_FLOAT_EQ(u.biquad[0].sampleRate, 44100.0f);
    EXPECT_FLOAT_EQ(u.lfo1.sampleRate, 44100.0f);
    EXPECT_FLOAT_EQ(u.fir[0].sampleRate, 11025.0f);
    // A 1000 Hz cutoff is designed for 44100 Hz.
    EXPECT_NEAR(u.biquad[0].getParams().frequency, 1000.0f, 0.01f);
    CUnitBiquad<float> reference;
    reference.setFilter(u.biquad[0].getType(), u.biquad[0].getParams());
    EXPECT_FLOAT_EQ(static_cast<float>(reference.normalised().a1), static_cast<float>(u.biquad[0].normalised().a1));
}

TEST(SampleRate, CutoffsAtOrAboveTheUnitsLimitAreNotApplied) {
    EngineRig rig;
    rig.set(kCutoff, 0.5f);  // 2750 Hz from the parameter, 11000 Hz from the control step
    runBlock(rig);
    EXPECT_FLOAT_EQ(rig.engine->units().biquad[0].getParams().frequency, 11000.0f);
    rig.set(kCutoff, 1.0f);  // 22000 Hz: above 0.49 * 44100, the step leaves it
    runBlock(rig);
    EXPECT_FLOAT_EQ(rig.engine->targets().cutoffL, 22000.0f);
    EXPECT_FLOAT_EQ(rig.engine->units().biquad[0].getParams().frequency, 22000.0f);  // from the parameter
    rig.set(kCutoff, 0.98f);  // 21560 Hz: just below
    runBlock(rig);
    EXPECT_FLOAT_EQ(rig.engine->units().biquad[0].getParams().frequency, 0.98f * 22000.0f);
}

TEST(SampleRate, ChangesBetweenBlocksTakeEffectAtTheNextCall) {
    EngineRig rig;
    rig.loadFactory(0);
    Stereo in = testSignal(44100), out(44100);
    rig.process(in.left.data(), in.right.data(), out.left.data(), out.right.data(), 4410);
    EXPECT_EQ(rig.engine->blockSetup().tempo.samplesPerBeat, 22050);
    const float rates[] = {48000.0f, 96000.0f, 8000.0f, 192000.0f, 44100.0f};
    size_t n = 4410;
    for (const float rate : rates) {
        rig.engine->setSampleRate(rate);
        rig.process(in.left.data() + n, in.right.data() + n, out.left.data() + n, out.right.data() + n, 4410);
        EXPECT_EQ(rig.engine->blockSetup().tempo.samplesPerBeat, static_cast<int>(rate / 2.0f));
        n += 4410;
    }
    EXPECT_TRUE(allFinite(out.left) && allFinite(out.right));
    EXPECT_GT(rms(out.left, 4410, n), 1e-3);
}

TEST(SampleRate, UnusableRatesAreIgnored) {
    EngineRig rig;
    for (const float rate : {0.0f, -44100.0f, std::numeric_limits<float>::quiet_NaN(),
                             std::numeric_limits<float>::infinity()}) {
        rig.engine->setSampleRate(rate);
        runBlock(rig);
        EXPECT_EQ(rig.engine->blockSetup().tempo.samplesPerBeat, 22050) << rate;
    }
}

// ---- reset --------------------------------------------------------------------------

TEST(Reset, ClearsSignalStateAndKeepsSettings) {
    EngineRig rig;
    rig.loadFactory(0);
    rig.set(kFeedback, 0.9f);
    rig.set(kDelay, 0.5f);
    Stereo loud = testSignal(44100, 1.0f);
    rig.render(loud, 512);
    CKovalithUnits& u = rig.units();
    const BiquadParams filterBefore = u.biquad[0].getParams();
    const double smoothingBefore = u.fir[0].smoothing();
    const float delayBefore = u.delay[1].getDelayTime();
    ASSERT_NE(u.fir[0].coefficient(0), 0.0);

    rig.engine->requestReset();
    EXPECT_NE(u.fir[0].coefficient(0), 0.0) << "the reset waits for the audio thread's next block";
    Stereo silence(8), out(8);
    rig.process(silence.left.data(), silence.right.data(), out.left.data(), out.right.data(), 0);  // no block: no reset
    EXPECT_NE(u.fir[0].coefficient(0), 0.0);
    rig.process(silence.left.data(), silence.right.data(), out.left.data(), out.right.data(), 1);

    for (int i = 0; i < kNumReflections; ++i) EXPECT_EQ(rig.engine->reflectionCoefficients()[i], 0.0f);
    for (const CUnitWarpedLatticeBase<float>* lattice : {static_cast<const CUnitWarpedLatticeBase<float>*>(&u.fir[0]),
                                                         static_cast<const CUnitWarpedLatticeBase<float>*>(&u.iir[1])})
        for (int i = 0; i < kMaxOrder; ++i) {
            EXPECT_EQ(lattice->target(i), 0.0);
            EXPECT_EQ(lattice->coefficient(i), 0.0);
        }
    EXPECT_EQ(filterBefore.q, u.biquad[0].getParams().q);
    EXPECT_EQ(u.biquad[0].getType(), kBiquadLowpass);
    EXPECT_EQ(smoothingBefore, u.fir[0].smoothing());
    EXPECT_EQ(delayBefore, u.delay[1].getDelayTime());
    // Every delay store is silent: their whole history reads back as zero.
    std::vector<float> history(176400);
    for (int ch = 0; ch < 2; ++ch) {
        u.delay[ch].copyHistory(history.data(), 176400);
        EXPECT_LT(peak(history), 1e-9) << "feedback line " << ch;
        u.varispeed[ch].copyHistory(history.data(), 176400);
        EXPECT_LT(peak(history), 1e-9) << "varispeed line " << ch;
    }
}

}  // namespace
}  // namespace kovalith::test
