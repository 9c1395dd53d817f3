// CUnitBiquad: coefficient recipes, refusals, and the audio behaviour of the
// running filter measured against its own transfer function.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "dsp/Biquad.h"
#include "tests/dsp/PairRunCheck.h"

namespace kovalith {
namespace {

BiquadParams qParams(float frequency, float q, float gain = 1.0f) {
    BiquadParams p;
    p.frequency = frequency;
    p.q = q;
    p.gain = gain;
    return p;
}

template <typename T>
struct Raw {
    T a[3], b[3];
};

template <typename T>
Raw<T> rawOf(const CUnitBiquad<T>& f) {
    Raw<T> r;
    f.getCoefficients(r.a, r.b);
    return r;
}

// |H| in dB at `hz`, straight from the raw coefficients.
double responseDb(const Raw<double>& r, double hz, double rate) {
    const std::complex<double> z1 = std::polar(1.0, -2.0 * M_PI * hz / rate);
    const std::complex<double> z2 = z1 * z1;
    const std::complex<double> h = (r.b[0] + r.b[1] * z1 + r.b[2] * z2) / (r.a[0] + r.a[1] * z1 + r.a[2] * z2);
    return 20.0 * std::log10(std::abs(h));
}

// |DFT| in dB of a measured impulse response at `hz`.
double spectrumDb(const std::vector<double>& ir, double hz, double rate) {
    std::complex<double> sum = 0;
    for (size_t n = 0; n < ir.size(); ++n) sum += ir[n] * std::polar(1.0, -2.0 * M_PI * hz / rate * double(n));
    return 20.0 * std::log10(std::abs(sum));
}

std::vector<double> impulseResponse(CUnitBiquad<double>& f, int length) {
    std::vector<double> ir(length);
    for (int n = 0; n < length; ++n) ir[n] = f.process(n == 0 ? 1.0 : 0.0);
    return ir;
}

template <typename T>
class BiquadBothTypes : public ::testing::Test {};
using SampleTypes = ::testing::Types<float, double>;
TYPED_TEST_SUITE(BiquadBothTypes, SampleTypes);

TYPED_TEST(BiquadBothTypes, IsSilentBeforeTheFirstSetting) {
    CUnitBiquad<TypeParam> f;
    for (int n = 0; n < 16; ++n) EXPECT_EQ(f.process(TypeParam(n % 3) - TypeParam(1)), TypeParam(0));
}

TYPED_TEST(BiquadBothTypes, LowpassCookbookValues) {
    CUnitBiquad<TypeParam> f;
    ASSERT_TRUE(f.setFilter(kBiquadLowpass, qParams(1000.0f, 0.7f)));
    const auto n = f.normalised();
    EXPECT_NEAR(double(n.b0), 0.0045997, 2e-7);
    EXPECT_NEAR(double(n.b1), 0.0091995, 2e-7);
    EXPECT_NEAR(double(n.b2), 0.0045997, 2e-7);
    EXPECT_NEAR(double(n.a1), -1.7974313, 2e-6);
    EXPECT_NEAR(double(n.a2), 0.8158303, 2e-6);
}

TYPED_TEST(BiquadBothTypes, BandwidthFormUsesTheDigitalBandwidth) {
    CUnitBiquad<TypeParam> f;
    BiquadParams p = qParams(1000.0f, 0.7f);
    p.useBandwidth = true;
    ASSERT_TRUE(f.setFilter(kBiquadLowpass, p));
    EXPECT_NEAR(double(rawOf(f).a[0]), 1.0349072, 2e-6);
}

TYPED_TEST(BiquadBothTypes, SlopeAllpassWithUnitSlope) {
    CUnitBiquad<TypeParam> f;
    BiquadParams p;
    p.slope = 1.0f;
    ASSERT_TRUE(f.setFilter(kBiquadSlopeAllpass, p));
    const auto r = rawOf(f);
    EXPECT_EQ(r.b[0], TypeParam(0));
    EXPECT_EQ(r.b[1], TypeParam(-1));
    EXPECT_EQ(r.b[2], TypeParam(1));
    EXPECT_EQ(r.a[0], TypeParam(1));
    EXPECT_EQ(r.a[1], TypeParam(-1));
    EXPECT_EQ(r.a[2], TypeParam(0));
}

TYPED_TEST(BiquadBothTypes, PeakingWithUnitGainIsFlat) {
    for (float q : {0.1f, 0.7f, 4.0f, 30.0f}) {
        CUnitBiquad<TypeParam> f;
        ASSERT_TRUE(f.setFilter(kBiquadPeaking, qParams(2500.0f, q, 1.0f)));
        const auto r = rawOf(f);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(r.a[i], r.b[i]) << "q " << q;
        TypeParam y = f.process(TypeParam(1));
        EXPECT_NEAR(double(y), 1.0, 1e-6);
        for (int n = 0; n < 32; ++n) EXPECT_NEAR(double(f.process(TypeParam(0))), 0.0, 1e-6);
    }
}

TYPED_TEST(BiquadBothTypes, GainTypesKeepSinglePrecisionCoefficients) {
    CUnitBiquad<TypeParam> f;
    ASSERT_TRUE(f.setFilter(kBiquadHighShelf, qParams(3000.0f, 1.0f, 1.7f)));
    const auto r = rawOf(f);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(r.a[i], TypeParam(float(r.a[i])));
        EXPECT_EQ(r.b[i], TypeParam(float(r.b[i])));
    }
}

// Refusals: the setting is not taken and the filter keeps playing what it had.
TYPED_TEST(BiquadBothTypes, RefusedSettingsKeepThePreviousCoefficients) {
    struct Case {
        const char* what;
        int type;
        BiquadParams params;
        bool bandwidth;
    };
    const Case cases[] = {
        {"unknown type 9", 9, qParams(1000.0f, 0.7f), false},
        {"negative type", -1, qParams(1000.0f, 0.7f), false},
        {"peaking gain 0", kBiquadPeaking, qParams(1000.0f, 1.0f, 0.0f), false},
        {"peaking negative gain", kBiquadPeaking, qParams(1000.0f, 1.0f, -2.0f), false},
        {"low shelf gain 0", kBiquadLowShelf, qParams(1000.0f, 1.0f, 0.0f), false},
        {"high shelf negative gain", kBiquadHighShelf, qParams(1000.0f, 1.0f, -1.0f), false},
        {"frequency 0", kBiquadLowpass, qParams(0.0f, 0.7f), false},
        {"frequency 0, bandwidth form", kBiquadBandpass, qParams(0.0f, 0.7f), true},
        {"frequency at Nyquist, bandwidth form", kBiquadLowpass, qParams(22050.0f, 0.7f), true},
        {"frequency above Nyquist", kBiquadLowpass, qParams(30000.0f, 0.7f), false},
        {"negative frequency", kBiquadHighpass, qParams(-100.0f, 0.7f), false},
        {"NaN frequency", kBiquadLowpass, qParams(NAN, 0.7f), false},
        {"infinite frequency", kBiquadPeaking, qParams(INFINITY, 0.7f, 2.0f), false},
        {"Q 0", kBiquadLowpass, qParams(1000.0f, 0.0f), false},
        {"negative Q", kBiquadAllpass, qParams(1000.0f, -1.0f), false},
        {"slope -1", kBiquadSlopeAllpass, BiquadParams{0, 1, 1, -1.0f, false, true}, false},
        {"slope -2", kBiquadSlopeAllpass, BiquadParams{0, 1, 1, -2.0f, false, true}, false},
    };
    for (const Case& c : cases) {
        CUnitBiquad<TypeParam> f;
        ASSERT_TRUE(f.setFilter(kBiquadLowpass, qParams(1000.0f, 0.7f)));
        for (int n = 0; n < 10; ++n) f.process(TypeParam(1));
        const auto before = rawOf(f);
        const auto normBefore = f.normalised();
        BiquadParams p = c.params;
        p.useBandwidth = c.bandwidth;
        EXPECT_FALSE(f.setFilter(c.type, p)) << c.what;
        EXPECT_EQ(f.getType(), c.type) << c.what;  // the request itself is kept
        const auto after = rawOf(f);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(before.a[i], after.a[i]) << c.what;
            EXPECT_EQ(before.b[i], after.b[i]) << c.what;
        }
        EXPECT_EQ(normBefore.a1, f.normalised().a1) << c.what;
        // The running filter goes on as a 1 kHz lowpass: it settles at DC gain 1.
        TypeParam y = 0;
        for (int n = 0; n < 2000; ++n) y = f.process(TypeParam(1));
        EXPECT_NEAR(double(y), 1.0, 1e-3) << c.what;
    }
}

TEST(Biquad, DisplayFilterAcceptsTheNyquistEdge) {
    // The editor runs its double filter at a rate of 2, so 1 is the Nyquist frequency.
    CUnitBiquad<double> f;
    f.setSampleRate(2.0);
    EXPECT_TRUE(f.setFilter(kBiquadLowpass, qParams(1.0f, 1.0f)));
    const auto r = rawOf(f);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(std::isfinite(r.a[i]) && std::isfinite(r.b[i]));
}

TEST(Biquad, SetFrequencyReusesTheStoredTypeAndRecord) {
    CUnitBiquad<double> a, b;
    BiquadParams p = qParams(500.0f, 2.0f, 1.5f);
    ASSERT_TRUE(a.setFilter(kBiquadPeaking, p));
    ASSERT_TRUE(a.setFrequency(3000.0f));
    p.frequency = 3000.0f;
    ASSERT_TRUE(b.setFilter(kBiquadPeaking, p));
    const auto ra = rawOf(a), rb = rawOf(b);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(ra.a[i], rb.a[i]);
    EXPECT_EQ(a.getParams().frequency, 3000.0f);
}

// The shortcuts of the control rate (a repeated frequency, the other channel's
// design) leave a filter exactly as designing it again would: same refusals, same
// samples, and a new rate still designs anew.
TEST(Biquad, RepeatedAndSharedDesignsEqualAFreshDesign) {
    auto impulse = [](CUnitBiquad<float>& f) {
        f.reset();
        std::vector<float> y(32);
        for (int n = 0; n < 32; ++n) y[n] = f.process(n == 0 ? 1.0f : 0.0f);
        return y;
    };
    struct Case {
        float hz;
        float otherQ;  // the left filter's Q; the right one keeps Q 0.7
        float rate;    // the right filter's rate when it designs
    };
    const Case cases[] = {{1200.0f, 0.7f, 44100.0f}, {1200.0f, 3.0f, 44100.0f}, {30000.0f, 0.7f, 44100.0f},
                          {1200.0f, 0.7f, 22050.0f}};
    for (const Case& c : cases) {
        CUnitBiquad<float> left, right, fresh;
        left.setFilter(kBiquadLowpass, qParams(c.hz, c.otherQ));
        right.setFilter(kBiquadLowpass, qParams(500.0f, 0.7f));
        right.setSampleRate(c.rate);
        fresh.setSampleRate(c.rate);
        fresh.setFilter(kBiquadLowpass, qParams(500.0f, 0.7f));
        const bool took = right.setFrequencyAs(c.hz, left);
        EXPECT_EQ(took, fresh.setFilter(kBiquadLowpass, qParams(c.hz, 0.7f))) << c.hz;
        EXPECT_EQ(right.setFrequency(c.hz), took);
        EXPECT_EQ(impulse(right), impulse(fresh)) << c.hz << " " << c.otherQ << " " << c.rate;
    }
}

// The impulse response's spectrum against the transfer function and the design goals.
TEST(BiquadResponse, LowpassDcCornerAndNyquist) {
    const double rate = 44100.0;
    CUnitBiquad<double> f;
    ASSERT_TRUE(f.setFilter(kBiquadLowpass, qParams(1000.0f, float(M_SQRT1_2))));
    const auto ir = impulseResponse(f, 8192);
    const auto raw = rawOf(f);
    EXPECT_NEAR(spectrumDb(ir, 0.0, rate), 0.0, 0.01);
    EXPECT_NEAR(spectrumDb(ir, 1000.0, rate), -3.0103, 0.02);
    EXPECT_LT(spectrumDb(ir, 22050.0, rate), -90.0);
    EXPECT_LT(spectrumDb(ir, 10000.0, rate), -38.0);  // 12 dB per octave well above the corner
    for (double hz : {50.0, 400.0, 1000.0, 3000.0, 12000.0})
        EXPECT_NEAR(spectrumDb(ir, hz, rate), responseDb(raw, hz, rate), 0.01) << hz << " Hz";
}

TEST(BiquadResponse, EachTypeMeetsItsDesignGoal) {
    const double rate = 44100.0, f0 = 2000.0;
    struct Goal {
        int type;
        float gain;
        double atDc, atCentre, atNyquist;  // dB; NAN where not checked
    };
    const double shelfDb = 20.0 * std::log10(1.5 * 1.5);  // the cookbook's A is the square root of the shelf gain
    const Goal goals[] = {
        {kBiquadHighpass, 1.0f, NAN, -3.0103, 0.0},
        {kBiquadBandpass, 1.0f, NAN, 0.0, NAN},
        {kBiquadBandstop, 1.0f, 0.0, NAN, 0.0},
        {kBiquadAllpass, 1.0f, 0.0, 0.0, 0.0},
        {kBiquadLowShelf, 1.5f, shelfDb, NAN, 0.0},
        {kBiquadHighShelf, 1.5f, 0.0, NAN, shelfDb},
        {kBiquadPeaking, 1.5f, 0.0, shelfDb, 0.0},
    };
    for (const Goal& g : goals) {
        CUnitBiquad<double> f;
        ASSERT_TRUE(f.setFilter(g.type, qParams(float(f0), float(M_SQRT1_2), g.gain))) << g.type;
        const auto ir = impulseResponse(f, 16384);
        const double points[3][2] = {{0.0, g.atDc}, {f0, g.atCentre}, {rate / 2, g.atNyquist}};
        for (const auto& pt : points) {
            if (std::isnan(pt[1])) continue;
            EXPECT_NEAR(spectrumDb(ir, pt[0], rate), pt[1], 0.02) << "type " << g.type << " at " << pt[0] << " Hz";
        }
    }
    CUnitBiquad<double> notch;
    ASSERT_TRUE(notch.setFilter(kBiquadBandstop, qParams(float(f0), 2.0f)));
    EXPECT_LT(responseDb(rawOf(notch), f0, rate), -60.0);
}

TEST(BiquadResponse, BandpassPeakFollowsQWhenNotUnity) {
    CUnitBiquad<double> f;
    BiquadParams p = qParams(1500.0f, 4.0f);
    p.bandpassPeakUnity = false;
    ASSERT_TRUE(f.setFilter(kBiquadBandpass, p));
    EXPECT_NEAR(responseDb(rawOf(f), 1500.0, 44100.0), 20.0 * std::log10(4.0), 0.01);
}

TEST(BiquadResponse, FloatAndDoubleAgree) {
    CUnitBiquad<float> f;
    CUnitBiquad<double> d;
    const BiquadParams p = qParams(800.0f, 3.0f);
    ASSERT_TRUE(f.setFilter(kBiquadBandpass, p));
    ASSERT_TRUE(d.setFilter(kBiquadBandpass, p));
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    double worst = 0;
    for (int n = 0; n < 20000; ++n) {
        const float x = noise(rng);
        worst = std::fmax(worst, std::abs(double(f.process(x)) - d.process(double(x))));
    }
    EXPECT_LT(worst, 1e-5);
}

TEST(BiquadLifecycle, ResetRestartsTheImpulseResponseBitForBit) {
    CUnitBiquad<float> f;
    ASSERT_TRUE(f.setFilter(kBiquadHighShelf, qParams(5000.0f, 0.9f, 2.0f)));
    std::vector<float> first;
    for (int n = 0; n < 64; ++n) first.push_back(f.process(n == 0 ? 1.0f : 0.0f));
    f.process(0.3f);  // leaves the offset's sign flipped
    const auto before = rawOf(f);
    f.reset();
    EXPECT_EQ(f.lastOutput, 0.0f);
    for (int n = 0; n < 64; ++n) ASSERT_EQ(f.process(n == 0 ? 1.0f : 0.0f), first[n]) << n;
    const auto after = rawOf(f);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(before.b[i], after.b[i]);
}

TEST(BiquadLifecycle, SmoothedFormFadesInAndConverges) {
    CUnitBiquad<float> smooth, plain;
    const BiquadParams p = qParams(2000.0f, 0.7f);
    ASSERT_TRUE(smooth.setFilter(kBiquadLowpass, p));
    ASSERT_TRUE(plain.setFilter(kBiquadLowpass, p));
    // The working coefficients start at zero: the first sample is ~1 % of b0.
    const float first = smooth.processSmoothed(1.0f);
    EXPECT_NEAR(first, 0.01f * plain.normalised().b0, 1e-6f);
    for (int n = 0; n < 3000; ++n) smooth.processSmoothed(0.5f);
    smooth.reset();  // states only: the working set has converged and stays so
    plain.reset();
    // A single-precision glide of 1 % stops moving once the step rounds away, up to
    // about 50 ulps short of the target, hence the bound of -80 dB.
    for (int n = 0; n < 200; ++n) {
        const float x = std::sin(0.05f * float(n));
        EXPECT_NEAR(smooth.processSmoothed(x), plain.process(x), 1e-4f) << n;
    }
}

// The pair run against alternating single calls, bit for bit, over runs of 1 to 8
// samples with cutoff changes and non-finite or overflowing inputs in the middle
// of runs.
TEST(BiquadLifecycle, SmoothedPairRunEqualsAlternatingCalls) {
    CUnitBiquad<float> run[2], ref[2];
    const float hz[2][3] = {{800.0f, 2500.0f, 120.0f}, {5000.0f, 300.0f, 9000.0f}};
    for (int ch = 0; ch < 2; ++ch)
        for (auto* f : {&run[ch], &ref[ch]})
            ASSERT_TRUE(f->setFilter(ch ? kBiquadPeaking : kBiquadLowpass, qParams(hz[ch][0], 0.7f, 3.0f)));
    for (auto* f : {&run[0], &ref[0]}) f->processSmoothed(0.25f);  // the channels' offsets differ in sign
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::vector<float> x[2];
    for (auto& v : x)
        for (int n = 0; n < 300; ++n) v.push_back(noise(rng));
    x[0][19] = NAN, x[1][43] = INFINITY, x[0][90] = 3.4e38f, x[1][93] = -3.4e38f, x[0][150] = x[1][150] = NAN;
    const int stops = checkPairRun(
        run, ref, x, CUnitBiquad<float>::processSmoothedRunPair,
        [](CUnitBiquad<float>& f, float v) { return f.processSmoothed(v); },
        [&](int runs) {
            for (int ch = 0; ch < 2; ++ch)
                for (auto* f : {&run[ch], &ref[ch]}) f->setFrequency(hz[ch][runs / 5 % 3]);
        });
    EXPECT_EQ(stops, 4);  // each stop in the middle of a run
}

}  // namespace
}  // namespace kovalith
