#include "dsp/Delay.h"
#include "tests/dsp/Noise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace kovalith {
namespace {

constexpr int kCapacity = 176400;

// The stores are 705600 bytes each: keep them off the test's stack.
template <typename Unit>
std::unique_ptr<Unit> makeUnit(float sampleRate = 44100.0f) {
    auto unit = std::make_unique<Unit>();
    unit->setSampleRate(sampleRate);
    return unit;
}

// Index of the first sample whose magnitude exceeds half, or -1.
int firstPeak(const std::vector<float>& y) {
    for (size_t i = 0; i < y.size(); ++i)
        if (std::fabs(y[i]) > 0.5f) return static_cast<int>(i);
    return -1;
}

template <typename Unit>
std::vector<float> impulseResponse(Unit& unit, int length) {
    std::vector<float> y(length);
    for (int n = 0; n < length; ++n) y[n] = unit.process(n == 0 ? 1.0f : 0.0f);
    return y;
}

// --- fractional delay -----------------------------------------------------------

TEST(FracDelay, DelayIsSecondsTimesRatePlusOne) {
    auto d = makeUnit<CUnitFracDelay<float>>(1000.0f);
    EXPECT_EQ(d->setDelayTime(0.01f), 0.01f);
    EXPECT_EQ(d->getDelaySamples(), 9);
    const auto y = impulseResponse(*d, 32);
    EXPECT_EQ(firstPeak(y), 11);
    EXPECT_NEAR(y[11], 1.0f, 1e-6f);
    for (int n = 0; n < 32; ++n)
        if (n != 11) {
            EXPECT_NEAR(y[n], 0.0f, 1e-6f) << n;
        }
}

TEST(FracDelay, WholeSampleDelayReturnsX0Exactly) {
    auto d = makeUnit<CUnitFracDelay<float>>(1000.0f);
    d->setDelayTime(0.005f);  // a = 4, t = 0: x0 is the sample 6 calls back
    const std::vector<float> x = noise(64, 7);
    for (int n = 0; n < 64; ++n) {
        const float y = d->process(x[n]);
        const float expected = n >= 6 ? x[n - 6] : 0.0f;
        // The store carries the +-1e-30 offset; anything above it would be interpolation.
        EXPECT_NEAR(y, expected, 1e-29f) << n;
    }
}

// An independent Catmull-Rom form of the same 4-point Hermite interpolator.
float hermite(float xm1, float x0, float x1, float x2, float t) {
    const double c0 = x0, c1 = 0.5 * (x1 - xm1), c2 = xm1 - 2.5 * x0 + 2.0 * x1 - 0.5 * x2,
                 c3 = 0.5 * (x2 - xm1) + 1.5 * (x0 - x1);
    return float(((c3 * t + c2) * t + c1) * t + c0);
}

TEST(FracDelay, FractionalDelayMatchesAHermiteReference) {
    auto d = makeUnit<CUnitFracDelay<float>>(1000.0f);
    d->setDelayTime(0.00725f);  // a = 6.25: D = 7, t = 0.75; 8.25 samples in all
    const int D = d->getDelaySamples();
    ASSERT_EQ(D, 7);
    const float t = float(D) - float(0.00725f * 1000.0 - 1.0);
    const std::vector<float> x = noise(256, 11);
    auto at = [&](int i) { return i >= 0 ? x[i] : 0.0f; };
    for (int n = 0; n < 256; ++n) {
        const float y = d->process(x[n]);
        const float expected = hermite(at(n - D - 3), at(n - D - 2), at(n - D - 1), at(n - D), t);
        EXPECT_NEAR(y, expected, 2e-6f) << n;
    }
}

// peek(j) is what the j-th next process() returns, for j below the integer delay;
// peekRun reads the same run, also where it crosses the end of a short store, and
// writeRun then leaves the line as the run of process() calls does, also when
// it is handed the run's last output.
TEST(FracDelay, PeekAndWriteRunsMatchTheSampleOrder) {
    auto d = makeUnit<CUnitFracDelay<float, 37>>(1000.0f);
    auto twin = makeUnit<CUnitFracDelay<float, 37>>(1000.0f);
    for (auto* unit : {d.get(), twin.get()}) unit->setDelayTime(0.01075f);  // a = 9.75: D = 10
    const int D = d->getDelaySamples();
    ASSERT_EQ(D, 10);
    std::mt19937 rng(12);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    const int runLengths[] = {10, 1, 3, 4, 5, 7, 8, 9, 2, 6};
    for (int n = 0, r = 0; n < 600; n += runLengths[r % 10], ++r) {
        const int length = runLengths[r % 10];
        float ahead[16], run[16], in[16];
        for (int j = 0; j < length; ++j) ahead[j] = d->peek(j);
        d->peekRun(run, length);
        // Silent runs show the anti-denormal offset's alternating sign.
        for (int j = 0; j < length; ++j) in[j] = r % 3 ? dist(rng) : 0.0f;
        // Every second run hands over the last output peekRun already gave.
        if (r % 2)
            d->writeRun(in, length, run[length - 1]);
        else
            d->writeRun(in, length);
        for (int j = 0; j < length; ++j) {
            ASSERT_EQ(run[j], ahead[j]) << n + j;
            ASSERT_EQ(twin->process(in[j]), ahead[j]) << n + j;
        }
        ASSERT_EQ(d->lastOutput, twin->lastOutput) << n;
    }
}

TEST(FracDelay, ZeroTimeGivesTheShortestDelay) {
    auto d = makeUnit<CUnitFracDelay<float>>(1000.0f);
    d->setDelayTime(0.5f);
    EXPECT_EQ(d->setDelayTime(0.0f), 0.0f);
    EXPECT_EQ(d->getDelaySamples(), 0);
    d->reset();
    const auto y = impulseResponse(*d, 8);
    EXPECT_EQ(firstPeak(y), 1);  // seconds * rate + 1 = 1 sample
    EXPECT_NEAR(y[1], 1.0f, 1e-6f);
}

TEST(FracDelay, NegativeAndNaNTimesAreRefused) {
    auto d = makeUnit<CUnitFracDelay<float>>(1000.0f);
    d->setDelayTime(0.02f);
    EXPECT_EQ(d->setDelayTime(-0.01f), 0.02f);
    EXPECT_EQ(d->setDelayTime(std::nanf("")), 0.02f);
    EXPECT_EQ(d->getDelayTime(), 0.02f);
    EXPECT_EQ(d->getDelaySamples(), 19);
}

TEST(FracDelay, LongTimesAreLimitedSoTheWindowStaysInsideTheStore) {
    auto d = makeUnit<CUnitFracDelay<float>>(44100.0f);
    for (float seconds : {4.0f, 10.0f, INFINITY}) {
        d->setDelayTime(seconds);
        EXPECT_EQ(d->getDelaySamples(), CUnitFracDelay<float>::kMaxIntegerDelay);
        EXPECT_TRUE(std::isfinite(d->getDelayTime()));
    }
    // The longest echo comes out whole after kMaxIntegerDelay + 2 samples, not wrapped round.
    d->reset();
    const int expected = CUnitFracDelay<float>::kMaxIntegerDelay + 2;
    int peak = -1;
    for (int n = 0; n < kCapacity + 4; ++n) {
        const float y = d->process(n == 0 ? 1.0f : 0.0f);
        if (y > 0.5f && peak < 0) peak = n;
    }
    EXPECT_EQ(peak, expected);
}

// Fills a delay with x[n] = n so every slot names its own write time.
void fillWithRamp(CUnitFracDelay<float>& d, int count) {
    for (int n = 0; n < count; ++n) d.process(float(n));
}

// store value under the four taps i0..i3 of a delay D: the samples D, D+1, D+2,
// D+3 calls back relative to the write position.
std::vector<float> tapValues(CUnitFracDelay<float>& d, int D) {
    std::vector<float> history(D + 4);
    d.copyHistory(history.data(), D + 4);
    // history[k] holds store[w - (D + 3 - k)]
    return {history[3], history[2], history[1], history[0]};
}

TEST(FracDelay, AMoveOfFiveSamplesBlendsTheNewTapsWithTheOld) {
    // At 1024 Hz, (D + 1)/1024 seconds is exact in float and gives t = 0.
    auto d = makeUnit<CUnitFracDelay<float>>(1024.0f);
    d->setDelayTime(11.0f / 1024);  // D = 10
    ASSERT_EQ(d->getDelaySamples(), 10);
    fillWithRamp(*d, 100);
    const auto oldTaps = tapValues(*d, 10);
    const auto plain = tapValues(*d, 15);
    d->setDelayTime(16.0f / 1024);  // D = 15
    ASSERT_EQ(d->getDelaySamples(), 15);
    const auto blended = tapValues(*d, 15);
    const float weights[4] = {0.8f, 0.6f, 0.4f, 0.2f};
    for (int k = 0; k < 4; ++k)
        EXPECT_NEAR(blended[k], weights[k] * plain[k] + (1.0f - weights[k]) * oldTaps[k], 1e-4f) << k;
}

TEST(FracDelay, MovesOfTwoOrTwentySamplesLeaveTheStoreAlone) {
    for (float newTime : {13.0f / 1024, 31.0f / 1024}) {
        auto d = makeUnit<CUnitFracDelay<float>>(1024.0f);
        d->setDelayTime(11.0f / 1024);
        fillWithRamp(*d, 100);
        std::vector<float> before(64), after(64);
        d->copyHistory(before.data(), 64);
        d->setDelayTime(newTime);
        d->copyHistory(after.data(), 64);
        EXPECT_EQ(before, after) << newTime;
    }
}

// --- varispeed ---------------------------------------------------------------------

TEST(VariSpeed, ZeroLoopPassesTheSignalThrough) {
    auto v = makeUnit<CUnitVariSpeedDelay<float>>();
    v->loopLength = 0.0f;
    for (float speed : {1.0f, 0.5f, 2.0f}) {
        v->speed = speed;
        for (float x : {0.3f, -0.7f, 1.0f}) EXPECT_EQ(v->process(x), x);
    }
}

TEST(VariSpeed, SpeedOneMixesTheTwoHeadsByPOverL) {
    auto v = makeUnit<CUnitVariSpeedDelay<float>>();
    const int L = 16;
    v->loopLength = float(L);
    // Three samples at speed 0 move the heads 3 samples back (p = 3), then they stand.
    v->speed = 0.0f;
    std::vector<float> x;
    for (int n = 0; n < 3; ++n) {
        x.push_back(0.0f);
        v->process(0.0f);
    }
    ASSERT_EQ(v->getPosition(), 3.0f);
    v->speed = 1.0f;
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    const float g = 3.0f / L;
    for (int n = 3; n < 200; ++n) {
        x.push_back(dist(rng));
        const float y = v->process(x[n]);
        const float d1 = n - 3 >= 0 ? x[n - 3] : 0.0f;
        const float d2 = n - 3 - L >= 0 ? x[n - 3 - L] : 0.0f;
        EXPECT_NEAR(y, g * d1 + (1.0f - g) * d2, 1e-6f) << n;
    }
}

TEST(VariSpeed, HeadsWrapWithinTheLoopAndStayContinuousOnARamp) {
    auto v = makeUnit<CUnitVariSpeedDelay<float>>();
    v->loopLength = 64.0f;
    v->speed = 0.5f;
    float previous = 0.0f;
    // On a slowly rising ramp both heads read nearly equal values, so the
    // crossfaded output changes smoothly although head 1 jumps by L.
    for (int n = 0; n < 2000; ++n) {
        const float y = v->process(float(n) * 1e-3f);
        ASSERT_GE(v->getPosition(), 0.0f);
        ASSERT_LE(v->getPosition(), 64.0f);
        if (n > 200) {
            EXPECT_NEAR(y, previous, 2e-3f) << n;
        }
        previous = y;
    }
}

TEST(VariSpeed, HostileFieldsKeepTheHeadsInsideTheStore) {
    auto v = makeUnit<CUnitVariSpeedDelay<float>>();
    const float loops[] = {-5.0f, std::nanf(""), INFINITY, 1e9f, 176400.0f, 700.0f};
    const float speeds[] = {std::nanf(""), INFINITY, -INFINITY, 1e30f, -1e30f, 1.5f};
    for (float L : loops)
        for (float s : speeds) {
            v->loopLength = L;
            v->speed = s;
            for (int n = 0; n < 50; ++n) {
                const float y = v->process(0.5f);
                ASSERT_TRUE(std::isfinite(y)) << L << " " << s;
                ASSERT_TRUE(std::isfinite(v->getPosition())) << L << " " << s;
            }
        }
}

// Silencing what the heads can read sounds exactly like a reset, also when the
// silenced stretch wraps around the store's end and while the heads drift.
TEST(VariSpeed, SilencingTheRecentStoreSoundsLikeAReset) {
    using Unit = CUnitVariSpeedDelay<float>;
    const float loop = 100.5f;
    for (const int written : {5000, kCapacity + 40}) {
        auto cleared = makeUnit<Unit>(), reset = makeUnit<Unit>();
        for (Unit* v : {cleared.get(), reset.get()}) {
            v->loopLength = loop;
            v->speed = 0.7f;
            for (int n = 0; n < written; ++n) v->process(std::sin(0.01f * float(n)));
        }
        cleared->silenceRecent(2 * 101 + 2);
        reset->reset();
        for (int n = 0; n < 1000; ++n) {
            if (n == 500) cleared->speed = reset->speed = 1.6f;
            const float x = std::cos(0.03f * float(n));
            ASSERT_EQ(cleared->process(x), reset->process(x)) << written << " " << n;
        }
    }
}

// Two units run as a pair end exactly as their own runs leave them: the same
// output bits, head positions, last outputs and stores, for hostile fields, runs
// across the store's end, channels that differ, and write indices that differ.
TEST(VariSpeed, PairRunMatchesTwoSingleRunsBitForBit) {
    using Unit = CUnitVariSpeedDelay<float>;
    const float nan = std::nanf("");
    struct Fields {
        float speedA, loopA, speedB, loopB;
    };
    // The first row runs at write indices near the store's end, where writePos -
    // loop rounds. The write index passes the end during the second row: its heads
    // then read the store's last slot, whole (b) and with slot 0 as ceiling (a).
    const Fields cases[] = {
        {-2.2f, 700.3f, 0.1f, 3.3f},       {0.75f, 0.5f, 1.0f, 0.0f},       {1.0f, 0.0f, 1.0f, 0.0f},
        {0.5f, 64.0f, 2.0f, 64.0f},        {-1.5f, 300.25f, 3.7f, 1000.0f},
        {2.5f, 1e-3f, 0.999f, 0.5f},       {nan, 700.0f, INFINITY, 700.0f},  {-INFINITY, 1e9f, 1e30f, 176400.0f},
        {0.25f, nan, 1.0f, -5.0f},         {7.3f, 176399.0f, -2.2f, 176398.5f}, {0.1f, 3.3f, 1.9f, 123456.7f},
        {1.0f, 16.0f, 0.0f, 16.0f},
    };
    auto pairA = makeUnit<Unit>(), pairB = makeUnit<Unit>(), soloA = makeUnit<Unit>(), soloB = makeUnit<Unit>();
    Unit* units[] = {pairA.get(), pairB.get(), soloA.get(), soloB.get()};
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    // A store of noise, and runs of 108 samples per row.
    for (int n = 0; n < kCapacity - 160; ++n) {
        const float x = dist(rng);
        for (Unit* u : units) u->process(x);
    }
    auto bitsOf = [](float x) {
        std::uint32_t b;
        std::memcpy(&b, &x, sizeof b);
        return b;
    };
    auto runAndCompare = [&](const Fields& f, int count, int label) {
        float inA[8], inB[8], pairOutA[8], pairOutB[8], soloOutA[8], soloOutB[8];
        for (int n = 0; n < count; ++n) {
            inA[n] = dist(rng);
            inB[n] = dist(rng);
        }
        if (label % 37 == 5) inA[0] = INFINITY;  // a rare infinite input: its reads give NaN
        pairA->speed = soloA->speed = f.speedA;
        pairA->loopLength = soloA->loopLength = f.loopA;
        pairB->speed = soloB->speed = f.speedB;
        pairB->loopLength = soloB->loopLength = f.loopB;
        Unit::processRunPair(*pairA, inA, pairOutA, *pairB, inB, pairOutB, count);
        soloA->processRun(inA, soloOutA, count);
        soloB->processRun(inB, soloOutB, count);
        const size_t bytes = sizeof(float) * static_cast<size_t>(count);
        ASSERT_EQ(std::memcmp(pairOutA, soloOutA, bytes), 0) << label;
        ASSERT_EQ(std::memcmp(pairOutB, soloOutB, bytes), 0) << label;
        ASSERT_EQ(bitsOf(pairA->getPosition()), bitsOf(soloA->getPosition())) << label;
        ASSERT_EQ(bitsOf(pairB->getPosition()), bitsOf(soloB->getPosition())) << label;
        ASSERT_EQ(bitsOf(pairA->lastOutput), bitsOf(soloA->lastOutput)) << label;
        ASSERT_EQ(bitsOf(pairB->lastOutput), bitsOf(soloB->lastOutput)) << label;
    };
    int label = 0;
    for (const Fields& f : cases)
        for (int run = 0; run < 24; ++run, ++label) runAndCompare(f, 1 + run % 8, label);
    // Write indices one apart: the pair must not mix the two channels' positions.
    for (Unit* u : {pairB.get(), soloB.get()}) u->process(0.5f);
    runAndCompare(cases[4], 8, label);
    std::vector<float> pairStore(kCapacity), soloStore(kCapacity);
    for (int i = 0; i < 2; ++i) {
        units[i]->copyHistory(pairStore.data(), kCapacity);
        units[i + 2]->copyHistory(soloStore.data(), kCapacity);
        EXPECT_EQ(std::memcmp(pairStore.data(), soloStore.data(), sizeof(float) * kCapacity), 0) << i;
    }
}

// --- stability ---------------------------------------------------------------------

TEST(DelayStability, TenSecondsOfNoiseThenSilenceStayFiniteAndDecay) {
    constexpr int kTenSeconds = 441000;
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    auto frac = makeUnit<CUnitFracDelay<float>>();
    auto vari = makeUnit<CUnitVariSpeedDelay<float>>();
    frac->setDelayTime(0.0001f);  // short and fractional: the interpolator works hardest
    vari->loopLength = 1024.0f;
    vari->speed = 2.0f;
    for (int n = 0; n < kTenSeconds; ++n) {
        const float x = dist(rng);
        ASSERT_TRUE(std::isfinite(frac->process(x)));
        ASSERT_TRUE(std::isfinite(vari->process(x)));
    }
    for (int n = 0; n < kCapacity + 8; ++n) {
        frac->process(0.0f);
        vari->process(0.0f);
    }
    // Silence leaves only the +-1e-30 offset in the echo's store.
    EXPECT_LE(std::fabs(frac->lastOutput), 1e-28f);
    EXPECT_EQ(vari->lastOutput, 0.0f);
}

}  // namespace
}  // namespace kovalith
