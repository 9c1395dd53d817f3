#include "dsp/LFO.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace kovalith {
namespace {

using Lfo = CUnitLFO<float>;
constexpr int N = 512;

std::vector<float> table(const Lfo& lfo) {
    std::vector<float> t(N + 1);
    for (int i = 0; i <= N; ++i) t[i] = lfo.tableEntry(i);
    return t;
}

Lfo& withShape(Lfo& lfo, int shape) {
    lfo.setRandomSeed(1234);
    lfo.setShape(shape);
    return lfo;
}

TEST(LfoRate, OneHertzAt44100GivesIncrement12173) {
    Lfo lfo;  // construction sets 1 Hz
    EXPECT_EQ(lfo.getIncrement(), 12173u);
    lfo.setRate(2.0f);
    lfo.setRate(1.0f);
    EXPECT_EQ(lfo.getIncrement(), 12173u);
    EXPECT_EQ(lfo.getRate(), 1.0f);
}

TEST(LfoRate, SampleAndHoldDividesTheRateByTen) {
    Lfo lfo;
    withShape(lfo, Lfo::kSampleAndHold);
    lfo.setRate(5.0f);
    EXPECT_EQ(lfo.getRate(), 0.5f);
    lfo.setShape(Lfo::kSinus);
    EXPECT_EQ(lfo.getRate(), 0.5f);  // only the next setRate follows the shape
    lfo.setRate(5.0f);
    EXPECT_EQ(lfo.getRate(), 5.0f);
}

TEST(LfoRate, HostileRatesKeepTheIncrementDefined) {
    Lfo lfo;
    lfo.setRate(std::nanf(""));
    EXPECT_EQ(lfo.getIncrement(), 12173u);  // refused
    lfo.setRate(INFINITY);
    lfo.setRate(-INFINITY);
    lfo.setRate(1e30f);
    lfo.setSampleRate(0.0f);
    lfo.setRate(0.0f);
    EXPECT_EQ(lfo.getIncrement(), 0u);
    lfo.setRate(3.0f);  // infinite steps at a zero sample rate: bounded, not UB
    lfo.setSampleRate(44100.0f);
    // A negative rate runs the phase backwards.
    lfo.setRate(-1.0f);
    lfo.setPhase(12173u * 3);
    lfo.tick();
    EXPECT_EQ(lfo.getPhase(), 12173u * 2);
}

TEST(LfoTables, SineLandmarks) {
    Lfo lfo;
    const auto t = table(withShape(lfo, Lfo::kSinus));
    EXPECT_EQ(t[0], 0.0f);
    EXPECT_FLOAT_EQ(t[128], 1.0f);
    EXPECT_NEAR(t[256], 0.0f, 1e-6f);
    EXPECT_FLOAT_EQ(t[384], -1.0f);
    EXPECT_EQ(t[N], t[0]);
}

TEST(LfoTables, TriangleAndItsCube) {
    Lfo tri, ex;
    const auto t = table(withShape(tri, Lfo::kTriangle));
    const auto e = table(withShape(ex, Lfo::kExponent));
    EXPECT_EQ(t[0], 0.0f);
    EXPECT_EQ(t[128], 1.0f);
    EXPECT_EQ(t[384], -1.0f);
    EXPECT_EQ(t[511], -1.0f / 128);
    for (int i = 0; i < N; ++i) {
        EXPECT_NEAR(std::fabs(t[i + 1] - t[i]), 1.0f / 128, 1e-6f) << i;
        EXPECT_EQ(e[i], t[i] * t[i] * t[i]) << i;
    }
    EXPECT_EQ(e[64], 0.125f);
}

TEST(LfoTables, SawsAndSquare) {
    Lfo up, down, sq;
    const auto u = table(withShape(up, Lfo::kSawUp));
    const auto d = table(withShape(down, Lfo::kSawDown));
    const auto s = table(withShape(sq, Lfo::kSquare));
    EXPECT_NEAR(u[0], 128.0f / 255.5f - 1.0f, 1e-7f);
    EXPECT_NEAR(u[0], -0.49902f, 1e-5f);
    EXPECT_EQ(u[383], 1.0f);
    EXPECT_EQ(u[384], -1.0f);
    for (int i = 0; i < N; ++i) {
        EXPECT_EQ(d[i], -u[i]) << i;
        EXPECT_EQ(s[i], i < 256 ? -1.0f : 1.0f) << i;
    }
}

TEST(LfoTables, RandomShapesAreNormalisedToAMaximumOfExactlyOne) {
    for (int shape : {Lfo::kSampleAndHold, Lfo::kRandom}) {
        Lfo lfo;
        const auto t = table(withShape(lfo, shape));
        const float largest = *std::max_element(t.begin(), t.begin() + N);
        EXPECT_EQ(largest, 1.0f) << shape;
        double mean = 0;
        for (int i = 0; i < N; ++i) mean += t[i];
        EXPECT_NEAR(mean / N, 0.0, 1e-6) << shape;
        EXPECT_EQ(t[N], t[0]);
    }
}

TEST(LfoTables, SampleAndHoldHoldsMostEntries) {
    Lfo lfo;
    const auto t = table(withShape(lfo, Lfo::kSampleAndHold));
    int holds = 0;
    for (int i = 1; i < N; ++i) holds += t[i] == t[i - 1];
    // A new value when rand() % 512 > 482: about 29 changes in 511 steps.
    EXPECT_GT(holds, 511 - 60);
    EXPECT_LT(holds, 511 - 10);
}

TEST(LfoTables, AnExplicitSeedMakesRandomTablesReproducible) {
    Lfo a, b, c;
    a.setRandomSeed(7);
    b.setRandomSeed(7);
    c.setRandomSeed(8);
    a.setShape(Lfo::kRandom);
    b.setShape(Lfo::kRandom);
    c.setShape(Lfo::kRandom);
    EXPECT_EQ(table(a), table(b));
    EXPECT_NE(table(a), table(c));
    const auto first = table(a);
    a.setShape(Lfo::kRandom);  // reseeded: the same table again
    EXPECT_EQ(table(a), first);
}

TEST(LfoTables, UnknownShapeNumbersLeaveTheTable) {
    Lfo lfo;
    const auto before = table(withShape(lfo, Lfo::kSawUp));
    for (int shape : {8, -1, 1000}) {
        lfo.setShape(shape);
        EXPECT_EQ(lfo.getShape(), shape);
        EXPECT_EQ(table(lfo), before);
    }
}

TEST(LfoPlayback, ResetThenTickGivesTheFirstEntry) {
    Lfo lfo;
    withShape(lfo, Lfo::kSawUp);
    for (int n = 0; n < 100; ++n) lfo.tick();
    lfo.reset();
    EXPECT_EQ(lfo.lastOutput, 0.0f);
    EXPECT_EQ(lfo.tick(), lfo.tableEntry(0));
    EXPECT_EQ(lfo.getPhase(), 12173u);
}

TEST(LfoPlayback, TickInterpolatesBetweenEntriesUnlessSwitchedOff) {
    Lfo lfo;
    withShape(lfo, Lfo::kSawUp);
    const uint32_t half = 1u << 19;
    lfo.setPhase((10u << 20) + half);
    EXPECT_FLOAT_EQ(lfo.tick(), 0.5f * (lfo.tableEntry(10) + lfo.tableEntry(11)));
    lfo.setPhase((511u << 20) + half);  // the guard entry closes the cycle
    EXPECT_FLOAT_EQ(lfo.tick(), 0.5f * (lfo.tableEntry(511) + lfo.tableEntry(0)));
    lfo.interpolate = false;
    lfo.setPhase((10u << 20) + half);
    EXPECT_EQ(lfo.tick(), lfo.tableEntry(10));
}

TEST(LfoPlayback, PhaseWrapsByMaskingAtOneCycle) {
    Lfo lfo;
    lfo.setPhase(0xffffffffu);
    EXPECT_EQ(lfo.getPhase(), Lfo::kPhaseMask);
    EXPECT_EQ(Lfo::kPhaseMask, 0x1fffffffu);
    lfo.setPhase(0);
    uint64_t expected = 0;
    for (int n = 0; n < 100000; ++n) {
        lfo.tick();
        expected += 12173;
    }
    EXPECT_EQ(lfo.getPhase(), uint32_t(expected % (1u << 29)));
}

TEST(LfoPlayback, PhaseFractionWrapsAndTruncates) {
    Lfo lfo;
    lfo.setPhaseFraction(0.25);
    EXPECT_EQ(lfo.getPhase(), 1u << 27);
    lfo.setPhaseFraction(-0.75);
    EXPECT_EQ(lfo.getPhase(), 1u << 27);
    lfo.setPhaseFraction(3.5);
    EXPECT_EQ(lfo.getPhase(), 1u << 28);
    lfo.setPhaseFraction(1.0 / 3);
    EXPECT_EQ(lfo.getPhase(), uint32_t((1u << 29) / 3.0));
    for (double bad : {std::nan(""), double(INFINITY), -double(INFINITY)}) {
        lfo.setPhaseFraction(bad);
        EXPECT_EQ(lfo.getPhase(), 0u);
    }
}

TEST(LfoPlayback, ProcessReadsAtARadianPhaseAndContinuesFromIt) {
    Lfo lfo;
    withShape(lfo, Lfo::kSinus);
    const float pi = lfo.pi;
    EXPECT_FLOAT_EQ(lfo.process(pi / 2), 1.0f);
    EXPECT_EQ(lfo.getPhase(), (128u << 20) + 12173u);
    EXPECT_FLOAT_EQ(lfo.tick(), lfo.tableEntry(128) * (1 - 12173.0f / (1 << 20)) +
                                    lfo.tableEntry(129) * (12173.0f / (1 << 20)));
}

TEST(LfoPlayback, ProcessWrapsPhasesOutsideOneCycle) {
    Lfo lfo;
    withShape(lfo, Lfo::kSinus);
    const float pi = lfo.pi;
    const float ref = lfo.process(1.0f);
    EXPECT_NEAR(lfo.process(1.0f + 2 * pi), ref, 1e-5f);
    EXPECT_NEAR(lfo.process(1.0f - 2 * pi), ref, 1e-5f);
    EXPECT_NEAR(lfo.process(1.0f + 20 * pi), ref, 1e-4f);
    EXPECT_NEAR(lfo.process(-pi / 2), -1.0f, 1e-5f);
    EXPECT_EQ(lfo.process(2 * pi), lfo.tableEntry(0));
    EXPECT_NEAR(lfo.process(-1e-9f), 0.0f, 1e-5f);  // just below a full cycle
    for (float bad : {std::nanf(""), INFINITY, -INFINITY, 1e30f, -1e30f}) {
        const float y = lfo.process(bad);
        EXPECT_TRUE(std::isfinite(y)) << bad;
        EXPECT_LE(lfo.getPhase(), Lfo::kPhaseMask);
    }
}

TEST(LfoStability, EveryShapeStaysWithinItsTableAtExtremeRates) {
    for (int shape = 0; shape < Lfo::kNumShapes; ++shape) {
        Lfo lfo;
        const auto t = table(withShape(lfo, shape));
        const float lo = *std::min_element(t.begin(), t.end());
        const float hi = *std::max_element(t.begin(), t.end());
        for (float hz : {0.0f, 160.0f, 22050.0f, -7.0f}) {
            lfo.setRate(hz);
            for (int n = 0; n < 44100; ++n) {
                const float y = lfo.tick();
                ASSERT_GE(y, lo - 1e-6f) << shape << " " << hz;
                ASSERT_LE(y, hi + 1e-6f) << shape << " " << hz;
            }
        }
    }
}

}  // namespace
}  // namespace kovalith
