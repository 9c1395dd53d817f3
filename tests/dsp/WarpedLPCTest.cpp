// The analysis buffer and the warped LPC extractor.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "dsp/WarpedLPC.h"
#include "tests/dsp/Noise.h"

namespace kovalith {
namespace {

using Extractor = CWarpedLPCExtraction<float>;

// The extractor holds several kilobytes of arrays; keep it off the test's stack.
std::unique_ptr<Extractor> makeExtractor() { return std::make_unique<Extractor>(); }

// First-order autoregressive noise: x[n] = rho x[n-1] + e[n].
std::vector<float> arFrame(int length, double rho, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> e(0.0, 0.1);
    std::vector<float> f(length);
    double x = 0;
    for (int n = -200; n < length; ++n) {
        x = rho * x + e(rng);
        if (n >= 0) f[n] = float(x);
    }
    return f;
}

// --- CUnitAnalysisBuffer --------------------------------------------------

TEST(AnalysisBuffer, LengthOutsideTheStoreSelectsTheLongestBlock) {
    auto buffer = std::make_unique<CUnitAnalysisBuffer<float>>();
    EXPECT_EQ(buffer->getLength(), 44099);
    for (int n : {0, -7, 44100, 50000}) {
        buffer->setLength(100);
        buffer->setLength(n);
        EXPECT_EQ(buffer->getLength(), 44099) << n;
    }
    buffer->setLength(1);
    EXPECT_EQ(buffer->getLength(), 1);
    buffer->setLength(44099);
    EXPECT_EQ(buffer->getLength(), 44099);
}

TEST(AnalysisBuffer, CompletesEveryLthSampleWithTheBlockInOrder) {
    auto buffer = std::make_unique<CUnitAnalysisBuffer<float>>();
    const int length = 37;
    buffer->setLength(length);
    int completed = 0;
    for (int n = 1; n <= 5 * length; ++n) {
        const float done = buffer->process(float(n));
        EXPECT_EQ(buffer->lastOutput, done);
        if (n % length == 0) {
            ASSERT_EQ(done, 1.0f) << n;
            ++completed;
            EXPECT_EQ(buffer->tap(0), buffer->data());  // the write position is back at 0
            for (int i = 0; i < length; ++i) EXPECT_EQ(buffer->data()[i], float(n - length + 1 + i));
        } else {
            ASSERT_EQ(done, 0.0f) << n;
        }
    }
    EXPECT_EQ(completed, 5);
}

TEST(AnalysisBuffer, ShorteningWhileFillingCompletesAtOnce) {
    auto buffer = std::make_unique<CUnitAnalysisBuffer<float>>();
    buffer->setLength(100);
    for (int n = 0; n < 10; ++n) EXPECT_EQ(buffer->process(1.0f), 0.0f);
    buffer->setLength(5);
    EXPECT_EQ(buffer->process(1.0f), 1.0f);
    for (int n = 0; n < 4; ++n) EXPECT_EQ(buffer->process(1.0f), 0.0f);
    EXPECT_EQ(buffer->process(1.0f), 1.0f);
}

TEST(AnalysisBuffer, TapWrapsOverTheWholeStore) {
    auto buffer = std::make_unique<CUnitAnalysisBuffer<float>>();
    buffer->setLength(1000);
    for (int n = 0; n < 10; ++n) buffer->process(float(n + 1));
    EXPECT_EQ(*buffer->tap(1), 10.0f);
    EXPECT_EQ(*buffer->tap(10), 1.0f);
    EXPECT_EQ(buffer->tap(11), buffer->data() + 44099);  // wraps by the capacity, not the length
    EXPECT_EQ(buffer->tap(10 + 3 * 44100), buffer->data());
    EXPECT_EQ(buffer->tap(-5), buffer->data() + 15);      // stays inside the store
}

TEST(AnalysisBuffer, ResetRestartsTheBlock) {
    auto buffer = std::make_unique<CUnitAnalysisBuffer<float>>();
    buffer->setLength(8);
    for (int n = 0; n < 5; ++n) buffer->process(3.0f);
    buffer->reset();
    EXPECT_EQ(buffer->lastOutput, 0.0f);
    EXPECT_EQ(buffer->data()[0], 0.0f);
    EXPECT_EQ(buffer->data()[1], 3.0f);  // the rest of the store is left as it was
    for (int n = 0; n < 7; ++n) EXPECT_EQ(buffer->process(1.0f), 0.0f);
    EXPECT_EQ(buffer->process(1.0f), 1.0f);
    EXPECT_EQ(buffer->getLength(), 8);
}

// --- Window ---------------------------------------------------------------

TEST(LpcWindow, RaisedCosineThatStaysAboveZero) {
    auto lpc = makeExtractor();
    EXPECT_EQ(lpc->getWindowLength(), 1024);
    EXPECT_FLOAT_EQ(lpc->window()[0], 0.01f);
    EXPECT_FLOAT_EQ(lpc->window()[512], 0.99f);
    EXPECT_EQ(lpc->setWindowLength(4), 4);
    const float expected[4] = {0.01f, 0.5f, 0.99f, 0.5f};
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(lpc->window()[i], expected[i], 1e-7f) << i;
}

TEST(LpcWindow, TooLongKeepsThePreviousWindow) {
    auto lpc = makeExtractor();
    lpc->setWindowLength(4);
    EXPECT_EQ(lpc->setWindowLength(2048), 2048);
    EXPECT_EQ(lpc->setWindowLength(5000), 2048);
    EXPECT_EQ(lpc->getWindowLength(), 4);
    EXPECT_NEAR(lpc->window()[2], 0.99f, 1e-7f);
}

TEST(LpcWindow, FrameTooLongForTheWindowAnalysesTheOldLength) {
    auto a = makeExtractor(), b = makeExtractor();
    const auto frame = noise(4096, 3);
    float ra[20], rb[20];
    a->setWindowLength(256);
    a->extract(frame.data(), 4096, ra, 20, 0.5f);
    b->extract(frame.data(), 256, rb, 20, 0.5f);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(ra[i], rb[i]) << i;
}

// --- Autocorrelation ------------------------------------------------------

TEST(LpcAutocorrelation, ZeroLagCarriesTheWhiteNoiseCorrection) {
    for (float lambda : {0.0f, 0.7f}) {
        auto lpc = makeExtractor();
        float out[50];
        const auto frame = noise(1024, 5);
        lpc->extract(frame.data(), 1024, out, 50, lambda);
        EXPECT_EQ(lpc->autocorrelation()[0], 1.035f) << lambda;
    }
}

TEST(LpcAutocorrelation, PlainPathMatchesADirectSum) {
    // Orders that leave lags over after groups of four, and a frame shorter than
    // the highest lags.
    for (auto [length, order] : {std::pair{512, 13}, std::pair{512, 4}, std::pair{6, 10}}) {
        auto lpc = makeExtractor();
        const auto frame = noise(length, 9);
        float out[13];
        lpc->extract(frame.data(), length, out, order, 0.0f);
        std::vector<double> x(length);
        for (int n = 0; n < length; ++n) x[n] = double(lpc->window()[n]) * frame[n];
        double energy = 0;
        for (double v : x) energy += v * v;
        for (int j = 1; j <= order; ++j) {
            double sum = 0;
            for (int n = 0; n + j < length; ++n) sum += x[n] * x[n + j];
            EXPECT_NEAR(lpc->autocorrelation()[j], sum / energy, 1e-6) << length << " " << j;
        }
    }
}

// Reference: the windowed frame correlated with itself through j allpass
// sections, computed in double on fresh copies.
TEST(LpcAutocorrelation, WarpedPathMatchesAnAllpassChainReference) {
    const double lambda = 0.6;
    auto lpc = makeExtractor();
    const auto frame = noise(300, 11);
    float out[10];
    lpc->extract(frame.data(), 300, out, 10, float(lambda));  // two groups of four lags, then two
    std::vector<double> x(300), y;
    for (int n = 0; n < 300; ++n) x[n] = double(lpc->window()[n]) * frame[n];
    double energy = 0;
    for (double v : x) energy += v * v;
    y = x;
    for (int j = 1; j <= 10; ++j) {
        std::vector<double> next(300);
        double in1 = 0, out1 = 0;
        for (int n = 0; n < 300; ++n) {
            next[n] = -lambda * y[n] + in1 + lambda * out1;
            in1 = y[n];
            out1 = next[n];
        }
        y = next;
        double sum = 0;
        for (int n = 0; n < 300; ++n) sum += x[n] * y[n];
        EXPECT_NEAR(lpc->autocorrelation()[j], sum / energy, 2e-5) << j;
    }
}

// One allpass section over the whole of y, in place.
template <typename T>
void allpassSection(std::vector<T>& y, T lambda) {
    T inPrev = 0, outPrev = 0;
    for (T& v : y) {
        const T out = inPrev - lambda * (v - outPrev);
        inPrev = v;
        outPrev = out;
        v = out;
    }
}

// The warped lags 0..lags-1 one pass per lag: sums[j] correlates x with x
// through j allpass sections, every section and sum in the scalar order. The
// zero lag's sum starts at zeroLagStart.
template <typename T>
std::vector<T> warpedLagsPassPerLag(const std::vector<T>& x, T lambda, int lags, T zeroLagStart) {
    std::vector<T> y = x, sums;
    for (int j = 0; j < lags; ++j) {
        if (j > 0) allpassSection(y, lambda);
        T acc = j == 0 ? zeroLagStart : T(0);
        for (size_t n = 0; n < x.size(); ++n) acc += x[n] * y[n];
        sums.push_back(acc);
    }
    return sums;
}

// Index of the first of count values whose bits differ, or -1.
template <typename T>
int firstDifferingBits(const T* a, const T* b, int count) {
    for (int i = 0; i < count; ++i)
        if (std::memcmp(a + i, b + i, sizeof(T)) != 0) return i;
    return -1;
}

constexpr int kMaxTestedOrder = 70;
constexpr float kZeroLagMemory = 1.0133f;  // what a previous frame left in R[0]

// Every order's lag sums for frame x against a pass per lag, at several warps.
template <typename T>
void expectTheBitsOfAPassPerLag(const std::vector<T>& x, const char* frame) {
    const int length = int(x.size());
    std::vector<T> work(length);
    for (T lambda : {T(0), T(-0.7f), T(0.3f), T(Extractor::kMaxWarp)}) {
        const auto want = warpedLagsPassPerLag(x, lambda, kMaxTestedOrder + 1, T(kZeroLagMemory));
        for (int order = 0; order <= kMaxTestedOrder; ++order) {
            std::vector<T> sums(order + 1, T(0));
            sums[0] = T(kZeroLagMemory);
            CWarpedLPCExtraction<T>::warpedLagSums(x.data(), work.data(), length, lambda, sums.data(), order + 1);
            const int lag = firstDifferingBits(sums.data(), want.data(), order + 1);
            if (lag >= 0) {
                ADD_FAILURE() << frame << " length " << length << " lambda " << lambda << " order " << order
                              << ": lag " << lag << " is " << sums[lag] << ", a pass per lag gives " << want[lag];
                return;
            }
        }
    }
}

// However the lags are grouped into passes, each sum has exactly the bits of a
// pass per lag: for every order (full and partial groups), frames shorter than a
// group, any warp, and frames whose sums turn infinite or NaN; in single precision
// (the vector passes where the target has them) and double (the scalar passes).
// The extractor's normalised R, zero-lag memory included, holds the same sums.
TEST(LpcAutocorrelation, WarpedLagsHaveTheBitsOfAPassPerLag) {
    auto lpc = makeExtractor();
    // Frames shorter than, as long as and longer than the passes' 4, 8 or 16 lags.
    for (int length : {1, 2, 3, 4, 5, 7, 8, 15, 16, 1024}) {
        lpc->setWindowLength(length);
        const auto white = noise(length, 40 + length);
        auto withSample = [&](float value) {
            auto frame = white;
            frame[length / 2] = value;
            return frame;
        };
        const std::pair<const char*, std::vector<float>> frames[] = {{"noise", white},
                                                                     {"NaN", withSample(NAN)},
                                                                     {"inf", withSample(-INFINITY)},
                                                                     {"overflow", withSample(3e19f)},
                                                                     {"zero", std::vector<float>(length, 0.0f)}};
        for (const auto& [name, frame] : frames) {
            std::vector<float> x(length);
            for (int n = 0; n < length; ++n) x[n] = lpc->window()[n] * frame[n];
            expectTheBitsOfAPassPerLag(x, name);
            expectTheBitsOfAPassPerLag(std::vector<double>(x.begin(), x.end()), name);
            if (name != std::string("noise")) continue;

            const float lambda = 0.3f;
            const auto want = warpedLagsPassPerLag(x, lambda, kMaxTestedOrder + 1, 0.0f);
            for (int order : {1, 19, 70}) {
                float out[kMaxTestedOrder];
                lpc->reset();
                lpc->extract(frame.data(), length, out, order, lambda);
                float r0 = lpc->autocorrelation()[0];  // the memory the next frame starts from
                for (float v : x) r0 += v * v;
                lpc->extract(frame.data(), length, out, order, lambda);
                std::vector<float> r(order);
                for (int j = 0; j < order; ++j) r[j] = want[j + 1] / r0;
                EXPECT_EQ(firstDifferingBits(lpc->autocorrelation() + 1, r.data(), order), -1)
                    << "length " << length << " order " << order;
            }
        }
    }
}

TEST(LpcAutocorrelation, WarpedZeroLagRemembersThePreviousFrame) {
    const auto frame = noise(1024, 21, 0.05f);  // a quiet frame, where the memory shows
    float first[20], second[20], fresh[20];
    auto lpc = makeExtractor();
    lpc->extract(frame.data(), 1024, first, 20, 0.8f);
    std::vector<float> r1(lpc->autocorrelation(), lpc->autocorrelation() + 21);
    lpc->extract(frame.data(), 1024, second, 20, 0.8f);
    std::vector<float> r2(lpc->autocorrelation(), lpc->autocorrelation() + 21);

    double energy = 0;
    for (int n = 0; n < 1024; ++n) energy += std::pow(double(lpc->window()[n]) * frame[n], 2);
    // The second pass normalised by (1 + 20 * 0.0007) + energy instead of energy.
    const double ratio = energy / (1.014 + energy);
    for (int j = 1; j <= 20; ++j) EXPECT_NEAR(r2[j] / r1[j], ratio, 1e-4) << j;

    int differing = 0;
    for (int i = 0; i < 20; ++i) differing += first[i] != second[i];
    EXPECT_GT(differing, 10);

    lpc->reset();  // forgets the zero lag: back to a fresh extractor's result
    lpc->extract(frame.data(), 1024, fresh, 20, 0.8f);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(fresh[i], first[i]) << i;
}

TEST(LpcAutocorrelation, ZeroAndNegativeWarpBothTakeThePlainPath) {
    const auto frame = noise(1024, 4);
    float zero[30], negative[30], fromNaN[30];
    auto a = makeExtractor(), b = makeExtractor(), c = makeExtractor();
    a->extract(frame.data(), 1024, zero, 30, 0.0f);
    a->extract(frame.data(), 1024, zero, 30, 0.0f);  // the plain path has no memory
    b->extract(frame.data(), 1024, negative, 30, -0.5f);
    c->extract(frame.data(), 1024, fromNaN, 30, NAN);
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(zero[i], negative[i]) << i;
        EXPECT_EQ(zero[i], fromNaN[i]) << i;
    }
}

// --- Recursion and output -------------------------------------------------

TEST(LpcRecursion, FindsTheCorrelationOfAnAutoregressiveSignal) {
    // x[n] = 0.9 x[n-1] + e. The first two stages in closed form from the frame's
    // own windowed correlations r1, r2: with R0 = 1 + M * 0.0007 and the bias
    // 0.003 R0 added to every prediction error,
    //   k1 = r1 / (R0 + b),  k2 = (r2 - k1 r1) / (R0 (1 - k1^2) + b),
    // and the output is -k. The estimate of a 1024-point frame lies a few hundredths
    // from 0.9 and the bias pulls it further towards 0, so the exact form is the
    // check; the later stages of a first-order process are close to 0.
    const int order = 10;
    const auto frame = arFrame(1024, 0.9, 17);
    auto lpc = makeExtractor();
    float out[order];
    lpc->extract(frame.data(), 1024, out, order, 0.0f);

    std::vector<double> x(1024);
    for (int n = 0; n < 1024; ++n) x[n] = double(lpc->window()[n] * frame[n]);
    auto lag = [&](int j) {
        double sum = 0;
        for (int n = 0; n + j < 1024; ++n) sum += x[n] * x[n + j];
        return sum;
    };
    const double r1 = lag(1) / lag(0), r2 = lag(2) / lag(0);
    const double r0 = double(1.0f + float(order * 0.0007)), bias = 0.003 * r0;
    const double k1 = r1 / (r0 + bias);
    const double k2 = (r2 - k1 * r1) / (r0 * (1 - k1 * k1) + bias);
    EXPECT_NEAR(out[0], -k1, 1e-6);
    EXPECT_NEAR(out[1], -k2, 1e-5);
    EXPECT_NEAR(out[0], -0.9f, 0.1f);
    for (int i = 1; i < order; ++i) EXPECT_NEAR(out[i], 0.0f, 0.1f) << i;
}

TEST(LpcRecursion, UnstableCoefficientsBecomeSmallOnes) {
    EXPECT_EQ(Extractor::limitReflection(1.0), 0.01f);
    EXPECT_EQ(Extractor::limitReflection(-1.0), -0.01f);
    EXPECT_EQ(Extractor::limitReflection(7.5), 0.01f);
    EXPECT_EQ(Extractor::limitReflection(-1e30), -0.01f);
    EXPECT_EQ(Extractor::limitReflection(0.999f), 0.999f);
    EXPECT_EQ(Extractor::limitReflection(-0.5), -0.5f);
    EXPECT_EQ(Extractor::limitReflection(0.99999999), 0.01f);  // would round to 1 in single precision
}

TEST(LpcRecursion, SilentFrameClearsTheResult) {
    auto lpc = makeExtractor();
    float out[40];
    const auto frame = noise(1024, 8);
    lpc->extract(frame.data(), 1024, out, 40, 0.6f);
    ASSERT_NE(out[0], 0.0f);
    const std::vector<float> zeros(1024, 0.0f);
    lpc->extract(zeros.data(), 1024, out, 40, 0.6f);
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(out[i], 0.0f);
        EXPECT_EQ(lpc->negatedReflections()[i], 0.0);
    }
    EXPECT_EQ(lpc->autocorrelation()[0], 0.0f);
}

TEST(LpcRecursion, HoldLeavesTheOutputUntouched) {
    auto lpc = makeExtractor();
    const auto frame = noise(1024, 8);
    float out[16];
    for (float& v : out) v = 0.25f;
    lpc->hold = true;
    lpc->extract(frame.data(), 1024, out, 16, 0.5f);
    for (float v : out) EXPECT_EQ(v, 0.25f);
}

TEST(LpcRecursion, OrderAndLengthAreKeptInsideTheArrays) {
    auto lpc = makeExtractor();
    const auto frame = noise(1024, 30);
    std::vector<float> out(130, 5.0f);
    lpc->extract(frame.data(), 1024, out.data(), 500, 0.5f);
    for (int i = 0; i < 100; ++i) EXPECT_LT(std::abs(out[i]), 1.0f) << i;
    for (int i = 100; i < 130; ++i) EXPECT_EQ(out[i], 5.0f) << i;

    std::fill(out.begin(), out.end(), 5.0f);
    lpc->extract(frame.data(), 1024, out.data(), 0, 0.5f);
    lpc->extract(frame.data(), 1024, out.data(), -3, 0.5f);
    EXPECT_EQ(out[0], 5.0f);

    lpc->extract(frame.data(), 0, out.data(), 10, 0.5f);  // an empty frame is a silent one
    for (int i = 0; i < 10; ++i) EXPECT_EQ(out[i], 0.0f);
    lpc->extract(frame.data(), -20, out.data(), 10, 0.0f);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(out[i], 0.0f);
}

// A frame the arithmetic can't represent (a NaN or infinite sample, or a finite
// one whose square overflows the single-precision warped sums) is analysed as a
// silent one: a flat envelope, and the next frame is analysed as by a fresh
// extractor, so nothing of it lingers in the zero-lag memory.
TEST(LpcRecursion, NonFiniteFramesGiveAFlatEnvelopeAndLeaveNoTrace) {
    auto lpc = makeExtractor(), fresh = makeExtractor();
    const auto good = noise(1024, 31);
    float out[30], reference[30];
    fresh->extract(good.data(), 1024, reference, 30, 0.9f);
    struct Case {
        float value;
        float lambda;
    };
    const Case cases[] = {{NAN, 0.0f},       {NAN, 0.9f},       {INFINITY, 0.0f}, {INFINITY, 0.9f},
                          {-INFINITY, 0.0f}, {-INFINITY, 0.9f}, {1e30f, 0.9f},    {-3e19f, 0.9f}};
    for (const Case& c : cases) {
        auto frame = good;
        frame[500] = c.value;
        lpc->extract(good.data(), 1024, out, 30, 0.9f);  // leave a zero-lag memory behind
        lpc->extract(frame.data(), 1024, out, 30, c.lambda);
        for (int i = 0; i < 30; ++i) ASSERT_EQ(out[i], 0.0f) << c.value << " " << c.lambda << " " << i;
        EXPECT_EQ(lpc->autocorrelation()[0], 0.0f);
        lpc->extract(good.data(), 1024, out, 30, 0.9f);
        for (int i = 0; i < 30; ++i) ASSERT_EQ(out[i], reference[i]) << c.value << " " << c.lambda << " " << i;
    }
}

// The plain path sums in extended precision, where a huge finite sample is an
// ordinary one: the frame is then essentially an impulse, whose envelope is flat.
TEST(LpcRecursion, HugeFiniteSampleOnThePlainPathIsAnImpulse) {
    auto lpc = makeExtractor();
    auto frame = noise(1024, 31);
    frame[500] = 1e30f;
    float out[30];
    lpc->extract(frame.data(), 1024, out, 30, 0.0f);
    for (int i = 0; i < 30; ++i) {
        EXPECT_TRUE(std::isfinite(out[i])) << i;
        EXPECT_LT(std::abs(out[i]), 1e-6f) << i;
    }
    EXPECT_EQ(lpc->autocorrelation()[0], 1.021f);
}

// Every written coefficient lies strictly inside (-1, 1), whatever the frame.
TEST(LpcRecursion, ReflectionsStayInsideTheUnitIntervalForHardFrames) {
    const int n = 1024;
    std::vector<std::pair<const char*, std::vector<float>>> frames;
    frames.push_back({"silence", std::vector<float>(n, 0.0f)});
    frames.push_back({"dc", std::vector<float>(n, 1.0f)});
    std::vector<float> square(n), impulse(n, 0.0f), lateImpulse(n, 0.0f), sine(n), tiny(n);
    for (int i = 0; i < n; ++i) {
        square[i] = (i / 25) % 2 ? 1.0f : -1.0f;
        sine[i] = float(std::sin(2.0 * M_PI * 20000.0 * i / 44100.0));
        tiny[i] = (i % 2 ? 1e-30f : -1e-30f);
    }
    impulse[0] = 1.0f;
    lateImpulse[n - 1] = 1.0f;
    frames.push_back({"square", square});
    frames.push_back({"impulse", impulse});
    frames.push_back({"late impulse", lateImpulse});
    frames.push_back({"20 kHz sine", sine});
    frames.push_back({"denormal-scale alternation", tiny});
    frames.push_back({"white noise", noise(n, 1)});
    frames.push_back({"loud noise", noise(n, 2, 1e6f)});
    for (unsigned seed = 100; seed < 110; ++seed) frames.push_back({"random", noise(n, seed, 0.01f * seed)});

    auto lpc = makeExtractor();
    float out[100];
    for (const auto& [name, frame] : frames)
        for (float lambda : {-0.3f, 0.0f, 0.5f, 0.9f, 0.999f, 1.5f})
            for (int order : {1, 20, 70, 100})
                for (int repeat = 0; repeat < 2; ++repeat) {
                    lpc->extract(frame.data(), n, out, order, lambda);
                    for (int i = 0; i < order; ++i) {
                        ASSERT_TRUE(out[i] > -1.0f && out[i] < 1.0f)
                            << name << " lambda " << lambda << " order " << order << " [" << i << "] = " << out[i];
                        ASSERT_EQ(out[i], Extractor::limitReflection(lpc->negatedReflections()[i]));
                    }
                }
}

}  // namespace
}  // namespace kovalith
