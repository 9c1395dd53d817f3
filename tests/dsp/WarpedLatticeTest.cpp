// The warped all-zero and all-pole lattices: coefficient intake, rotation and
// glide, the filters' responses, their inverse relation, and their behaviour at
// the edges (reset, non-finite input, silence, extreme settings).
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <initializer_list>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dsp/WarpedLPC.h"
#include "dsp/WarpedLattice.h"
#include "tests/dsp/Noise.h"

namespace kovalith {
namespace {

using Fir = CUnitWFIRLattice<float>;
using Iir = CUnitWIIRLattice<float>;

constexpr double kGlide = double(0.95f);

std::vector<float> sawChord(int length) {
    std::vector<float> x(length);
    for (int n = 0; n < length; ++n) {
        double v = 0;
        for (double f : {110.0, 164.81, 220.0, 277.18}) v += std::fmod(n * f / 44100.0, 1.0) - 0.5;
        x[n] = float(0.45 * v);
    }
    return x;
}

// A pulse train at 120 Hz whose pulses ring at two formant-like frequencies.
std::vector<float> voiceLike(int length) {
    std::vector<float> x(length, 0.0f);
    const int period = 367;
    for (int start = 0; start < length; start += period)
        for (int n = 0; n < period && start + n < length; ++n) {
            const double t = n / 44100.0;
            x[start + n] = float(std::exp(-t * 400.0) * (0.6 * std::sin(2 * M_PI * 700 * t) + 0.4 * std::sin(2 * M_PI * 1200 * t)));
        }
    return x;
}

// Reflection coefficients of a real signal's frame, as the engine hands them over.
std::vector<float> reflectionsOf(const std::vector<float>& signal, int offset, int order, float lambda) {
    auto lpc = std::make_unique<CWarpedLPCExtraction<float>>();
    std::vector<float> k(order);
    lpc->extract(signal.data() + offset, 1024, k.data(), order, lambda);
    return k;
}

// Brings warp and gain to their targets: the remaining distance shrinks by 0.95
// per update until it is about ten units in the last place, where 0.95 of it
// rounds back to itself.
constexpr double kSettled = 1e-14;
template <typename Lattice>
void settle(Lattice& lattice, double warp, double gain) {
    for (int i = 0; i < 2000; ++i) lattice.update(warp, gain);
    ASSERT_NEAR(lattice.warp(), warp, kSettled);
    ASSERT_NEAR(lattice.gain(), gain, kSettled);
}

// --- Coefficient intake ----------------------------------------------------

TEST(LatticeCoefficients, ConstructionLeavesAnEmptyFilterWithoutWarp) {
    auto fir = std::make_unique<Fir>();
    auto iir = std::make_unique<Iir>();
    for (CUnitWarpedLatticeBase<float>* l : {static_cast<CUnitWarpedLatticeBase<float>*>(fir.get()),
                                             static_cast<CUnitWarpedLatticeBase<float>*>(iir.get())}) {
        EXPECT_EQ(l->order(), 0);
        EXPECT_EQ(l->warp(), 0.0);
        EXPECT_EQ(l->gain(), 0.949999988079071);
        EXPECT_EQ(l->smoothing(), 0.0);
        for (int i = 0; i < 100; ++i) {
            EXPECT_EQ(l->target(i), 0.0);
            EXPECT_EQ(l->coefficient(i), 0.0);
        }
    }
}

TEST(LatticeCoefficients, TargetsOfMagnitudeOneOrMoreKeepTheOldTarget) {
    auto fir = std::make_unique<Fir>();
    auto iir = std::make_unique<Iir>();
    const float first[5] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f};
    const float second[5] = {-0.6f, 1.0f, -1.0f, 1.5f, NAN};
    fir->setCoefficients(first, 5);
    iir->setCoefficients(first, 5);
    fir->setCoefficients(second, 4);
    iir->setCoefficients(second, 5);
    EXPECT_EQ(fir->order(), 4);
    EXPECT_EQ(iir->order(), 5);
    const double firExpected[5] = {-0.6f, 0.2f, 0.3f, 0.4f, 0.5f};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(fir->target(i), firExpected[i]) << i;
        EXPECT_EQ(iir->target(i), -firExpected[i]) << i;  // the all-pole form takes them negated
        EXPECT_EQ(fir->coefficient(i), 0.0) << i;         // nothing reaches the filter before update
    }
}

TEST(LatticeCoefficients, SetNowBypassesTheGlideWithoutARangeCheck) {
    auto fir = std::make_unique<Fir>();
    auto iir = std::make_unique<Iir>();
    const float values[3] = {0.25f, 1.5f, -0.75f};
    fir->setCoefficientsNow(values, 3);
    iir->setCoefficientsNow(values, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(fir->coefficient(i), double(values[i])) << i;
        EXPECT_EQ(iir->coefficient(i), -double(values[i])) << i;
    }
    EXPECT_EQ(fir->target(1), 0.0);  // the target still refuses 1.5
    EXPECT_EQ(fir->target(2), double(-0.75f));
}

TEST(LatticeCoefficients, CountIsKeptInsideTheArrays) {
    auto fir = std::make_unique<Fir>();
    std::vector<float> values(150, 0.5f);
    fir->setCoefficients(values.data(), 150);
    EXPECT_EQ(fir->order(), 100);
    fir->setCoefficientsRotated(values.data(), 150, 0.3f);
    EXPECT_EQ(fir->order(), 100);
    fir->setCoefficientsNow(values.data(), -4);
    EXPECT_EQ(fir->order(), 0);
}

TEST(LatticeRotation, ListIsReadCyclicallyFromTheTruncatedOffset) {
    float values[10];
    for (int i = 0; i < 10; ++i) values[i] = 0.05f * float(i + 1);
    struct Case {
        float rotate;
        int offset;
    };
    for (const Case& c : {Case{0.35f, 3}, Case{1.0f, 0}, Case{-0.5f, 0}, Case{0.0f, 0}, Case{0.99f, 9}, Case{7.0f, 0},
                          Case{NAN, 0}}) {
        auto fir = std::make_unique<Fir>();
        auto iir = std::make_unique<Iir>();
        fir->setCoefficientsRotated(values, 10, c.rotate);
        iir->setCoefficientsRotated(values, 10, c.rotate);
        EXPECT_EQ(fir->order(), 10);
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(fir->target(i), double(values[(i + c.offset) % 10])) << c.rotate << " " << i;
            EXPECT_EQ(iir->target(i), -double(values[(i + c.offset) % 10])) << c.rotate << " " << i;
        }
    }
}

TEST(LatticeRotation, MagnitudeTestLooksAtTheUnrotatedEntry) {
    float values[10];
    for (int i = 0; i < 10; ++i) values[i] = 0.05f * float(i + 1);
    auto fir = std::make_unique<Fir>();
    std::vector<float> old(10, -0.125f);
    fir->setCoefficients(old.data(), 10);
    values[2] = 1.0f;  // refuses index 2; and the value it holds is not taken at index 9
    fir->setCoefficientsRotated(values, 10, 0.35f);
    for (int i = 0; i < 10; ++i) {
        const double expected = (i == 2 || i == 9) ? -0.125f : values[(i + 3) % 10];
        EXPECT_EQ(fir->target(i), expected) << i;
    }
}

// --- Glide ----------------------------------------------------------------

TEST(LatticeGlide, EachUpdateMovesWarpAndGainFivePercent) {
    auto fir = std::make_unique<Fir>();
    auto iir = std::make_unique<Iir>();
    for (CUnitWarpedLatticeBase<float>* l : {static_cast<CUnitWarpedLatticeBase<float>*>(fir.get()),
                                             static_cast<CUnitWarpedLatticeBase<float>*>(iir.get())}) {
        double warp = 0.0, gain = 0.949999988079071;
        for (int n = 0; n < 30; ++n) {
            l->update(0.8, 0.3);
            warp = 0.8 + (warp - 0.8) * kGlide;
            gain = 0.3 + (gain - 0.3) * kGlide;
            ASSERT_EQ(l->warp(), warp) << n;
            ASSERT_EQ(l->gain(), gain) << n;
        }
        l->update();  // without arguments: warp and gain stay
        EXPECT_EQ(l->warp(), warp);
        EXPECT_EQ(l->gain(), gain);
    }
}

TEST(LatticeGlide, TargetsOutsideTheFilterRangeAreBoundedOrIgnored) {
    auto iir = std::make_unique<Iir>();
    settle(*iir, 0.5, 0.5);
    const double warp = iir->warp(), gain = iir->gain();
    iir->update(NAN, INFINITY);
    EXPECT_EQ(iir->warp(), warp);
    EXPECT_EQ(iir->gain(), gain);
    for (int i = 0; i < 5000; ++i) iir->update(3.0, -7.0);
    EXPECT_LT(iir->warp(), 1.0);
    EXPECT_GE(iir->gain(), -1.0);
}

TEST(LatticeGlide, WithoutSmoothingOneUpdateGivesGainTimesTarget) {
    auto fir = std::make_unique<Fir>();
    const float values[4] = {0.5f, -0.25f, 0.125f, 0.9f};
    fir->setCoefficients(values, 4);
    fir->setSmoothingTime(0.0f);
    fir->update(0.0, 0.6);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(fir->coefficient(i), fir->gain() * double(values[i])) << i;
}

TEST(LatticeGlide, SmoothingTimeIsTheHalfWayTimeOfTheUpdates) {
    auto iir = std::make_unique<Iir>();
    iir->setSampleRate(11025.0f);
    iir->setSmoothingTime(0.001f);
    EXPECT_EQ(iir->smoothing(), double(float(std::pow(0.5, 1.0 / double(0.001f * 11025.0f)))));
    iir->setSmoothingTime(-1.0f);
    EXPECT_EQ(iir->smoothing(), 0.0);
    iir->setSmoothingTime(0.002f);
    const double s = iir->smoothing();
    iir->setSmoothingTime(NAN);
    EXPECT_EQ(iir->smoothing(), s);

    // 10 updates per half-way time at 1000 Hz and 10 ms.
    auto fir = std::make_unique<Fir>();
    fir->setSampleRate(1000.0f);
    fir->setSmoothingTime(0.01f);
    const float values[3] = {0.8f, -0.4f, 0.2f};
    fir->setCoefficients(values, 3);
    for (int n = 0; n < 10; ++n) fir->update();
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(fir->coefficient(i), 0.5 * fir->gain() * values[i], 1e-6) << i;
    for (int n = 0; n < 1000; ++n) fir->update();
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(fir->coefficient(i), fir->gain() * values[i], 1e-12) << i;
}

TEST(LatticeGlide, ALargerOrderLeavesOldEntriesUntilOverwritten) {
    auto fir = std::make_unique<Fir>();
    const float five[5] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f};
    fir->setCoefficientsNow(five, 5);
    const float two[2] = {-0.1f, -0.2f};
    fir->setCoefficients(two, 2);
    fir->setSmoothingTime(0.0f);
    fir->update();
    EXPECT_EQ(fir->order(), 2);
    EXPECT_EQ(fir->coefficient(0), fir->gain() * double(-0.1f));
    EXPECT_EQ(fir->coefficient(3), double(0.4f));  // beyond the order: left alone
}

// --- The all-zero lattice --------------------------------------------------

// Polynomial of the ordinary lattice by the step-up recursion:
// F' = F + k z^-1 B, B' = z^-1 B + k F, from F = B = 1.
std::vector<double> latticePolynomial(const std::vector<double>& k) {
    std::vector<double> f{1.0}, b{1.0};
    for (double ki : k) {
        std::vector<double> nf(f.size() + 1, 0.0), nb(f.size() + 1, 0.0);
        for (size_t j = 0; j < f.size(); ++j) {
            nf[j] += f[j];
            nf[j + 1] += ki * b[j];
            nb[j + 1] += b[j];
            nb[j] += ki * f[j];
        }
        f = nf;
        b = nb;
    }
    return f;
}

TEST(FirLattice, WithoutWarpIsTheOrdinaryLattice) {
    const std::vector<double> k = {0.5, -0.3, 0.2, 0.7, -0.6};
    const auto a = latticePolynomial(k);
    auto fir = std::make_unique<Fir>();
    std::vector<float> kf(k.begin(), k.end());
    fir->setCoefficientsNow(kf.data(), int(kf.size()));
    for (int n = 0; n < 12; ++n) {
        const float y = fir->process(n == 0 ? 1.0f : 0.0f);
        if (n == 0) {
            EXPECT_EQ(y, 1.0f);  // 1 plus the offset, which single precision rounds away
        }
        const double expected = n < int(a.size()) ? a[n] : 0.0;
        EXPECT_NEAR(y, expected, 1e-6) << n;
    }
}

// With warp, each unit delay of the ordinary lattice becomes the allpass D(z):
// the impulse response is sum_j a_j D^j applied to an impulse.
TEST(FirLattice, WarpReplacesEachDelayByTheAllpass) {
    const std::vector<double> k = {0.6, -0.45, 0.3, 0.25};
    const auto a = latticePolynomial(k);
    const double lambda = double(float(0.7));  // the all-zero form uses the warp in single precision
    const int length = 64;
    std::vector<double> power(length, 0.0), expected(length, 0.0);
    power[0] = 1.0;
    for (size_t j = 0; j < a.size(); ++j) {
        for (int n = 0; n < length; ++n) expected[n] += a[j] * power[n];
        double in1 = 0, out1 = 0;  // one more allpass: out = -lambda in + in1 + lambda out1
        for (int n = 0; n < length; ++n) {
            const double out = -lambda * power[n] + in1 + lambda * out1;
            in1 = power[n];
            out1 = out;
            power[n] = out;
        }
    }
    auto fir = std::make_unique<Fir>();
    std::vector<float> kf(k.begin(), k.end());
    fir->setCoefficientsNow(kf.data(), int(kf.size()));
    settle(*fir, 0.7, fir->gain());
    fir->reset();
    fir->setCoefficientsNow(kf.data(), int(kf.size()));
    for (int n = 0; n < length; ++n) EXPECT_NEAR(fir->process(n == 0 ? 1.0f : 0.0f), expected[n], 1e-6) << n;
}

TEST(FirLattice, ResetClearsStatesAndCoefficientsButKeepsTheSettings) {
    auto fir = std::make_unique<Fir>();
    fir->setSampleRate(11025.0f);
    fir->setSmoothingTime(0.001f);
    const auto k = reflectionsOf(sawChord(2048), 0, 30, 0.8f);
    fir->setCoefficientsRotated(k.data(), 30, 0.2f);
    settle(*fir, 0.8, 0.9);
    for (float v : noise(2000, 4)) fir->process(v);
    const double s = fir->smoothing();
    fir->reset();
    EXPECT_EQ(fir->order(), 30);
    EXPECT_NEAR(fir->warp(), 0.8, kSettled);
    EXPECT_NEAR(fir->gain(), 0.9, kSettled);
    EXPECT_EQ(fir->smoothing(), s);
    EXPECT_EQ(fir->lastOutput, 0.0f);
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(fir->target(i), 0.0);
        ASSERT_EQ(fir->coefficient(i), 0.0);
    }
    // The input passes unchanged apart from the offset, whose sign alternates.
    for (float x : noise(100, 5)) {
        const float offset = fir->antiDenormal;
        EXPECT_EQ(fir->process(x), float(double(x) + double(offset)));
    }
}

// --- The all-pole lattice --------------------------------------------------

// The all-zero lattice whose first section is memoryless (its allpass passes
// -lambda times its input), with the all-pole lattice's coefficients negated.
// Sections after the first are plain direct-form allpasses.
class MemorylessFirstFir {
public:
    double process(double x, const CUnitWarpedLatticeBase<double>& iir) {
        const int order = iir.order();
        const double lambda = iir.warp();
        double f = x, b = x;
        for (int i = 0; i < order; ++i) {
            double d = -lambda * b;
            if (i > 0) {
                d += in1_[i] + lambda * out1_[i];
                in1_[i] = b;
                out1_[i] = d;
            }
            const double k = -iir.coefficient(i);
            const double nf = f + k * d;
            b = d + k * f;
            f = nf;
        }
        return f;
    }

private:
    double in1_[100] = {};
    double out1_[100] = {};
};

// The all-pole lattice undoes that all-zero lattice sample by sample, also while
// its coefficients glide and change mid-stream (the warp held at its target).
TEST(IirLattice, UndoesTheAllZeroLatticeWithAMemorylessFirstSection) {
    const auto chord = sawChord(44100), voice = voiceLike(44100);
    for (double warp : {0.0, 0.5, 0.9, 0.999})
        for (int order : {1, 2, 10, 70}) {
            auto iir = std::make_unique<CUnitWIIRLattice<double>>();
            iir->setSampleRate(11025.0);
            iir->setSmoothingTime(0.01);
            const auto first = reflectionsOf(chord, 0, order, float(warp));
            const auto second = reflectionsOf(voice, 2000, order, float(warp));
            std::vector<double> k1(first.begin(), first.end()), k2(second.begin(), second.end());
            iir->setCoefficientsNow(k1.data(), order);
            settle(*iir, warp, 0.98);
            MemorylessFirstFir reference;
            const auto input = noise(6000, 7);
            double worst = 0;
            for (int n = 0; n < 6000; ++n) {
                if (n == 1500) iir->setCoefficientsRotated(k2.data(), order, 0.3);
                if (n == 4000) iir->setCoefficientsNow(k1.data(), order);
                if (n % 8 == 0) iir->update(warp, 0.98);
                const double e = reference.process(input[n], *iir);
                worst = std::max(worst, std::abs(iir->process(e) - input[n]));
            }
            EXPECT_LT(worst, 1e-9) << "warp " << warp << " order " << order;
        }
}

// In single precision the rounding of the whitened signal is amplified by the
// envelope; the input still comes back closely.
TEST(IirLattice, SinglePrecisionRoundTripStaysClose) {
    const auto voice = voiceLike(4096);
    const auto k = reflectionsOf(voice, 0, 70, 0.9f);
    auto iir = std::make_unique<Iir>();
    iir->setCoefficientsNow(k.data(), 70);
    settle(*iir, 0.9, 0.98);
    auto ref = std::make_unique<CUnitWIIRLattice<double>>();  // carries the same coefficients
    std::vector<double> kd(k.begin(), k.end());
    ref->setCoefficientsNow(kd.data(), 70);
    settle(*ref, 0.9, 0.98);
    MemorylessFirstFir whitening;
    double worst = 0, peak = 0;
    for (float x : noise(8000, 8)) {
        const float e = float(whitening.process(x, *ref));
        worst = std::max(worst, double(std::abs(iir->process(e) - x)));
        peak = std::max(peak, double(std::abs(x)));
    }
    EXPECT_LT(worst, 1e-3 * peak);
}

// The first section has no memory, so a one-stage all-pole lattice is a plain
// gain 1 / (1 + lambda C0), which update() precomputes as gNorm.
TEST(IirLattice, OneStageIsAGainSetByTheLoop) {
    auto iir = std::make_unique<Iir>();
    const float k[1] = {0.6f};
    iir->setCoefficientsNow(k, 1);
    settle(*iir, 0.5, 0.95);  // without smoothing every update sets C = -gain 0.6
    const double c = iir->coefficient(0);
    EXPECT_EQ(c, iir->gain() * -double(0.6f));
    const double g = 1.0 / (1.0 - (-iir->warp() * c));
    for (float x : noise(50, 9)) EXPECT_EQ(iir->process(x), float(g * double(x)));
}

TEST(IirLattice, ResetClearsStatesAndCoefficients) {
    auto iir = std::make_unique<Iir>();
    const auto k = reflectionsOf(voiceLike(2048), 0, 40, 0.9f);
    iir->setCoefficientsRotated(k.data(), 40, 0.0f);
    settle(*iir, 0.9, 0.99);
    for (float v : noise(3000, 10)) iir->process(v);
    iir->reset();
    EXPECT_EQ(iir->order(), 40);
    EXPECT_NEAR(iir->warp(), 0.9, kSettled);
    EXPECT_EQ(iir->lastOutput, 0.0f);
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(iir->target(i), 0.0);
        ASSERT_EQ(iir->coefficient(i), 0.0);
    }
    // No coefficients: the input passes exactly, without waiting for an update.
    for (float x : noise(20, 11)) EXPECT_EQ(iir->process(x), x);
    iir->update();
    for (float x : noise(20, 12)) EXPECT_EQ(iir->process(x), x);
}

// With |k| < 1 the all-pole lattice is stable for any warp inside (-1, 1): its
// level under steady noise settles instead of growing.
TEST(IirLattice, StableForCoefficientsInsideTheUnitInterval) {
    std::mt19937 rng(13);
    std::uniform_real_distribution<float> coefficient(-0.9f, 0.9f);
    for (double warp : {0.0, 0.6, 0.95, 0.999})
        for (int order : {3, 20}) {
            std::vector<float> k(order);
            for (float& v : k) v = coefficient(rng);
            auto iir = std::make_unique<Iir>();
            iir->setCoefficientsNow(k.data(), order);
            settle(*iir, warp, 1.0);
            const auto x = noise(44100, 14);
            double early = 0, late = 0;
            for (int second = 0; second < 6; ++second) {
                double power = 0;
                for (float v : x) {
                    const double y = iir->process(v);
                    ASSERT_TRUE(std::isfinite(y));
                    power += y * y;
                }
                if (second == 1) early = power;
                if (second == 5) late = power;
            }
            EXPECT_GT(early, 0.0);
            EXPECT_LT(late, 2.0 * early) << "warp " << warp << " order " << order;
            EXPECT_GT(late, 0.5 * early) << "warp " << warp << " order " << order;
        }
}

// --- Channel pairs ----------------------------------------------------------


// Lattices at the lattice rate with a short glide, on `count` entries of k.
template <typename Lattice, typename List>
void prepareLattices(std::initializer_list<Lattice*> lattices, const List& k, int count, float rotate = 0.0f) {
    for (Lattice* l : lattices) {
        l->setSampleRate(11025.0f);
        l->setSmoothingTime(0.001f);
        l->setCoefficientsRotated(k.data(), count, rotate);
    }
}

// processPair and updatePair work on two lattices side by side; each must end
// exactly as its own process() and update() would leave it, through glides,
// targets beyond their bounds or not finite on one side, a change of order on
// one side (where the orders differ) and a non-finite input on one side.
template <typename Lattice>
void checkPairAgainstSingles() {
    auto paired = std::make_unique<Lattice[]>(2);
    auto single = std::make_unique<Lattice[]>(2);
    const auto chord = sawChord(4096), voice = voiceLike(4096);
    const auto k0 = reflectionsOf(chord, 0, 70, 0.8f), k1 = reflectionsOf(voice, 1000, 70, 0.6f);
    // An odd order, so the two-wide glides end on a single stage.
    prepareLattices({&paired[0], &single[0]}, k0, 69);
    prepareLattices({&paired[1], &single[1]}, k1, 69, 0.25f);
    const auto x0 = noise(6000, 20), x1 = noise(6000, 21);
    for (int n = 0; n < 6000; ++n) {
        if (n % 8 == 0) {
            const int u = n / 8;
            const double warp0 = u % 13 == 5 ? 1.5 : 0.8, gain0 = u % 11 == 3 ? -4.0 : 0.97;
            const double warp1 = u % 17 == 7 ? NAN : 0.6, gain1 = u % 19 == 2 ? INFINITY : 0.9;
            Lattice::updatePair(paired[0], warp0, gain0, paired[1], warp1, gain1);
            single[0].update(warp0, gain0);
            single[1].update(warp1, gain1);
        }
        if (n == 2000) {  // one side gets a shorter list
            paired[1].setCoefficientsRotated(k0.data(), 40, 0.5f);
            single[1].setCoefficientsRotated(k0.data(), 40, 0.5f);
        }
        if (n == 3000) {
            paired[1].setCoefficientsRotated(k1.data(), 69, 0.0f);
            single[1].setCoefficientsRotated(k1.data(), 69, 0.0f);
        }
        const float in0 = x0[n], in1 = n == 4000 ? NAN : x1[n];
        Lattice::processPair(paired[0], in0, paired[1], in1);
        single[0].process(in0);
        single[1].process(in1);
        ASSERT_EQ(paired[0].lastOutput, single[0].lastOutput) << n;
        ASSERT_EQ(paired[1].lastOutput, single[1].lastOutput) << n;
    }
    // The same lattice on both sides runs twice in turn.
    Lattice::processPair(paired[0], 0.25f, paired[0], -0.5f);
    single[0].process(0.25f);
    single[0].process(-0.5f);
    EXPECT_EQ(paired[0].lastOutput, single[0].lastOutput);
}

TEST(LatticePairs, FirPairGivesWhatEachLatticeGivesAlone) { checkPairAgainstSingles<Fir>(); }
TEST(LatticePairs, IirPairGivesWhatEachLatticeGivesAlone) { checkPairAgainstSingles<Iir>(); }

// A run of up to 8 samples, stage by stage, ends each FIR lattice exactly as
// sample-by-sample processing does: runs of every length, different warps on
// the two sides (the warp is rounded to single precision per lane), and a
// non-finite input at the end of a run, which clears that side's states.
TEST(LatticePairs, FirRunGivesWhatSampleBySampleGives) {
    for (int order : {1, 30}) {  // a single stage has a run of its own
        auto run = std::make_unique<Fir[]>(2);
        auto single = std::make_unique<Fir[]>(2);
        const auto k = reflectionsOf(sawChord(4096), 0, order, 0.7f);
        prepareLattices({&run[0], &run[1], &single[0], &single[1]}, k, order);
        const auto x0 = noise(4000, 30), x1 = noise(4000, 31);
        bool poisoned = false;
        for (int n = 0, length = 1; n + 8 <= 4000; n += length, length = length % 8 + 1) {
            const double warp0 = 0.3 + 0.6 * std::sin(0.01 * n), warp1 = 0.5 - 0.4 * std::cos(0.013 * n);
            run[0].update(warp0, 0.95);
            run[1].update(warp1, 0.9);
            single[0].update(warp0, 0.95);
            single[1].update(warp1, 0.9);
            float in1[8], y0[8], y1[8];
            std::copy(&x1[n], &x1[n] + length, in1);
            if (n >= 3000 && !poisoned) {
                in1[length - 1] = INFINITY;
                poisoned = true;
            }
            Fir::processRunPair(run[0], &x0[n], y0, run[1], in1, y1, length);
            for (int i = 0; i < length; ++i) {
                ASSERT_EQ(y0[i], single[0].process(x0[n + i])) << order << " " << n + i;
                ASSERT_EQ(y1[i], single[1].process(in1[i])) << order << " " << n + i;
            }
            ASSERT_EQ(run[0].antiDenormal, single[0].antiDenormal) << order << " " << n;
        }
    }
}

// The IIR run keeps its loop gains and feedback sums in registers; it stops after
// a sample that leaves a side without its feedback sum (a NaN input here) or
// with an output beyond single precision, and
// the rest of the run goes on from there exactly as sample by sample.
TEST(LatticePairs, IirRunGivesWhatSampleBySampleGives) {
    auto run = std::make_unique<Iir[]>(2);
    auto single = std::make_unique<Iir[]>(2);
    const auto k = reflectionsOf(voiceLike(4096), 500, 24, 0.6f);
    prepareLattices({&run[0], &run[1], &single[0], &single[1]}, k, 24);
    const auto x0 = noise(4000, 40), x1 = noise(4000, 41);
    for (int n = 0, length = 1; n + 8 <= 4000; n += length, length = length % 8 + 1) {
        // The run side leaves the loop-gain recomputation to the run, or to a
        // change of order made before it.
        Iir::updatePairDeferred(run[0], 0.7, 0.95, run[1], 0.4, 0.9);
        single[0].update(0.7, 0.95);
        single[1].update(0.4, 0.9);
        if (n % 400 < 8) {
            const int order = n % 800 < 8 ? 12 : 24;
            for (Iir* l : {&run[0], &run[1], &single[0], &single[1]}) l->setCoefficientsRotated(k.data(), order, 0.0f);
        }
        float in1[8], y0[8], y1[8];
        std::copy(&x1[n], &x1[n] + length, in1);
        if (n % 1000 < 8) in1[length / 2] = NAN;
        if (n % 1000 >= 500 && n % 1000 < 508) in1[0] = in1[length - 1] = -FLT_MAX;  // an output beyond single precision
        for (int done = 0; done < length;) {
            const int took =
                Iir::processRunPair(run[0], &x0[n] + done, y0 + done, run[1], in1 + done, y1 + done, length - done);
            for (int i = done; i < done + took - 1; ++i)
                ASSERT_TRUE(std::isfinite(y0[i]) && std::isfinite(y1[i])) << "the run went on after " << n + i;
            done += took;
        }
        for (int i = 0; i < length; ++i) {
            ASSERT_EQ(y0[i], single[0].process(x0[n + i])) << n + i;
            ASSERT_EQ(y1[i], single[1].process(in1[i])) << n + i;
        }
    }
}

// The chain run takes the FIR pair's next sample beside each IIR sample (and
// the IIR pair's waiting loop-gain recomputation beside the first); it must
// give what the updates, the FIR run, the map between them and the IIR run give
// one after the other: at order 1 and 24, with different warps on the two sides, a
// stateful map, NaN into the FIR side (whose states are then cleared at the
// end of the run), outputs beyond single precision (where the IIR side stops
// and the owner finishes the run as the engine does), and both in one run.
TEST(LatticePairs, ChainRunGivesTheFirRunThenTheIirRun) {
    for (int order : {1, 24}) {
        auto fir = std::make_unique<Fir[]>(4);  // 0, 1: chain; 2, 3: reference
        auto iir = std::make_unique<Iir[]>(4);
        const auto k = reflectionsOf(voiceLike(4096), 500, order, 0.6f);
        prepareLattices({&fir[0], &fir[1], &fir[2], &fir[3]}, k, order);
        prepareLattices({&iir[0], &iir[1], &iir[2], &iir[3]}, k, order, 0.5f);
        float held[4] = {};  // a map with memory: it must see every sample once, in order
        auto mapFor = [&held](int side) {
            return [&held, side](int, float& v0, float& v1) {
                for (float* v : {&v0, &v1}) {
                    float& h = held[side + (v == &v1)];
                    const float next = 0.5f * *v + 0.25f * h;
                    h = std::isfinite(next) ? next : 0.0f;
                    *v = 2.0f * *v + h;
                }
            };
        };
        auto chainMap = mapFor(0), refMap = mapFor(2);
        const auto x0 = noise(3000, 50, 2.0f), x1 = noise(3000, 51, 2.0f);
        for (int n = 0, length = 1; n + 8 <= 3000; n += length, length = length % 8 + 1) {
            const double warp0 = 0.5 + 0.4 * std::sin(0.01 * n);
            for (int side : {0, 2}) {
                fir[side].update(warp0, 0.95);
                fir[side + 1].update(0.3, 0.9);
            }
            // The chain side leaves the loop-gain recomputation to the chain run.
            Iir::updatePairDeferred(iir[0], warp0, 0.97, iir[1], 0.7, 0.9);
            Iir::updatePair(iir[2], warp0, 0.97, iir[3], 0.7, 0.9);
            float in0[8], in1[8];
            std::copy(&x0[n], &x0[n] + length, in0);
            std::copy(&x1[n], &x1[n] + length, in1);
            if (n % 700 < 8) in1[length / 2] = NAN;
            if (n % 700 >= 100 && n % 700 < 108) in0[length - 1] = NAN;
            if (n % 700 >= 350 && n % 700 < 358) in1[0] = in1[length - 1] = FLT_MAX;
            if (n % 700 >= 500 && n % 700 < 508) in1[0] = NAN, in0[0] = FLT_MAX;  // both in one run

            float m0[8], m1[8], y0[8], y1[8];
            ASSERT_TRUE(Iir::chainFits(fir[0], fir[1], iir[0], iir[1], length));
            const auto run = Iir::chainRunPair(fir[0], fir[1], iir[0], iir[1], in0, in1, m0, m1, y0, y1, length, chainMap);
            ASSERT_GE(run.whitened, run.synthesised);
            for (int i = 0; i < run.synthesised - 1; ++i)
                ASSERT_TRUE(std::isfinite(y0[i]) && std::isfinite(y1[i])) << "the run went on after " << n + i;
            const int w = run.whitened;
            Fir::processRunPair(fir[0], in0 + w, m0 + w, fir[1], in1 + w, m1 + w, length - w);
            for (int i = w; i < length; ++i) chainMap(i, m0[i], m1[i]);
            for (int done = run.synthesised; done < length;)
                done += Iir::processRunPair(iir[0], m0 + done, y0 + done, iir[1], m1 + done, y1 + done, length - done);

            float r0[8], r1[8], z0[8], z1[8];
            Fir::processRunPair(fir[2], in0, r0, fir[3], in1, r1, length);
            for (int i = 0; i < length; ++i) refMap(i, r0[i], r1[i]);
            for (int done = 0; done < length;)
                done += Iir::processRunPair(iir[2], r0 + done, z0 + done, iir[3], r1 + done, z1 + done, length - done);
            for (int i = 0; i < length; ++i) {
                ASSERT_EQ(m0[i], r0[i]) << order << " " << n + i;
                ASSERT_EQ(m1[i], r1[i]) << order << " " << n + i;
                ASSERT_EQ(y0[i], z0[i]) << order << " " << n + i;
                ASSERT_EQ(y1[i], z1[i]) << order << " " << n + i;
            }
            ASSERT_EQ(fir[1].antiDenormal, fir[3].antiDenormal);
            ASSERT_EQ(iir[1].lastOutput, iir[3].lastOutput);
        }
    }
}

// --- Both lattices at the edges -------------------------------------------

TEST(LatticeEdges, NonFiniteInputDoesNotStayInTheState) {
    const auto k = reflectionsOf(sawChord(2048), 0, 50, 0.8f);
    for (float bad : {NAN, INFINITY, -INFINITY}) {
        auto fir = std::make_unique<Fir>(), firRef = std::make_unique<Fir>();
        auto iir = std::make_unique<Iir>(), iirRef = std::make_unique<Iir>();
        for (CUnitWarpedLatticeBase<float>* l : {static_cast<CUnitWarpedLatticeBase<float>*>(fir.get()),
                                                 static_cast<CUnitWarpedLatticeBase<float>*>(firRef.get()),
                                                 static_cast<CUnitWarpedLatticeBase<float>*>(iir.get()),
                                                 static_cast<CUnitWarpedLatticeBase<float>*>(iirRef.get())}) {
            l->setCoefficientsNow(k.data(), 50);
            settle(*l, 0.8, 0.95);
        }
        for (float v : noise(500, 15)) {
            fir->process(v);
            iir->process(v);
        }
        EXPECT_EQ(fir->process(bad), 0.0f) << bad;
        EXPECT_EQ(iir->process(bad), 0.0f) << bad;
        // From here on both behave as lattices that start from silence.
        if (firRef->antiDenormal != fir->antiDenormal) firRef->process(0.0f);
        for (float v : noise(500, 16)) {
            ASSERT_NEAR(fir->process(v), firRef->process(v), 1e-6f) << bad;
            ASSERT_NEAR(iir->process(v), iirRef->process(v), 1e-5f) << bad;
        }
    }
}

// The engine's chain after a loud passage: the all-zero lattice carries the
// offset, so neither lattice sinks into denormals, and the all-pole output
// settles at the offset's level.
TEST(LatticeEdges, SilenceAfterLoudInputSettlesAtTheOffsetLevel) {
    const auto k = reflectionsOf(voiceLike(2048), 0, 70, 0.9f);
    auto fir = std::make_unique<Fir>();
    auto iir = std::make_unique<Iir>();
    fir->setCoefficientsNow(k.data(), 70);
    iir->setCoefficientsNow(k.data(), 70);
    settle(*fir, 0.9, 0.99);
    settle(*iir, 0.9, 0.99);
    for (float v : noise(20000, 17)) iir->process(fir->process(v));
    double last = 0;
    for (int n = 0; n < 200000; ++n) {
        const float w = fir->process(0.0f);
        const float y = iir->process(w);
        ASSERT_NE(std::fpclassify(w), FP_SUBNORMAL) << n;
        ASSERT_NE(std::fpclassify(y), FP_SUBNORMAL) << n;
        if (n >= 190000) last = std::max(last, double(std::abs(y)));
    }
    EXPECT_LT(last, 1e-9);
    EXPECT_GT(last, 0.0);
}

// Extreme settings ("# Stages" 70, warp 0.999, resonance at its top) with
// coefficients the extractor made from real signals, new ones every analysis
// block: ten seconds of full-scale noise give finite output, and in the ten
// seconds of silence after them the output decays without touching denormals.
// At this warp each allpass section delays the lowest frequencies by about
// (1 + 0.999) / (1 - 0.999) = 2000 samples, so the chain rings for seconds; the
// level falls steadily rather than reaching the offset's level within the test.
struct ExtremeCase {
    const char* source;
    float smoothing;
};

class LatticeExtremes : public ::testing::TestWithParam<ExtremeCase> {};

TEST_P(LatticeExtremes, StayFiniteAndDecay) {
    const int seconds = 10, rate = 44100, block = 1024;
    const std::string name = GetParam().source;
    const std::vector<float> source =
        name == "noise" ? noise(rate, 18) : name == "saw chord" ? sawChord(rate) : voiceLike(rate);
    const auto loud = noise(rate, 19);
    auto lpc = std::make_unique<CWarpedLPCExtraction<float>>();
    auto fir = std::make_unique<Fir>();
    auto iir = std::make_unique<Iir>();
    for (CUnitWarpedLatticeBase<float>* l :
         {static_cast<CUnitWarpedLatticeBase<float>*>(fir.get()), static_cast<CUnitWarpedLatticeBase<float>*>(iir.get())}) {
        l->setSampleRate(11025.0f);
        l->setSmoothingTime(GetParam().smoothing);
    }
    float k[70];
    int frame = 0;
    std::vector<double> peak(2 * seconds, 0.0);
    for (int n = 0; n < 2 * seconds * rate; ++n) {
        if (n % block == 0) {
            const int offset = (frame++ * block) % (rate - block);
            lpc->extract(source.data() + offset, block, k, 70, 0.999f);
            fir->setCoefficientsRotated(k, 70, 0.0f);
            iir->setCoefficientsRotated(k, 70, 0.5f);
        }
        if (n % 8 == 0) {
            fir->update(0.999, 1.0);
            iir->update(0.999, 1.0);
        }
        const float x = n < seconds * rate ? loud[n % rate] : 0.0f;
        const float y = iir->process(fir->process(x));
        ASSERT_TRUE(std::isfinite(y)) << n;
        ASSERT_NE(std::fpclassify(y), FP_SUBNORMAL) << n;
        peak[n / rate] = std::max(peak[n / rate], double(std::abs(y)));
    }
    const double firstSilent = peak[seconds], lastSilent = peak[2 * seconds - 1];
    EXPECT_GT(firstSilent, 0.0);
    EXPECT_LT(lastSilent, 0.5 * firstSilent);
    for (int s = seconds + 2; s < 2 * seconds; ++s) EXPECT_LT(peak[s], 2.0 * peak[s - 2]) << s;
}

INSTANTIATE_TEST_SUITE_P(RealSignals, LatticeExtremes,
                         ::testing::Values(ExtremeCase{"noise", 0.0f}, ExtremeCase{"noise", 0.1f},
                                           ExtremeCase{"saw chord", 0.0f}, ExtremeCase{"saw chord", 0.1f},
                                           ExtremeCase{"voice-like", 0.0f}, ExtremeCase{"voice-like", 0.1f}),
                         [](const ::testing::TestParamInfo<ExtremeCase>& info) {
                             std::string n = info.param.source;
                             for (char& c : n)
                                 if (c == ' ' || c == '-') c = '_';
                             return n + (info.param.smoothing > 0 ? "_smoothed" : "_unsmoothed");
                         });

}  // namespace
}  // namespace kovalith
