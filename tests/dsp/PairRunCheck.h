// Checks a unit's pair run form against alternating single calls, bit for bit.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kovalith {

inline uint32_t bitsOf(float v) {
    uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// Runs run[0] and run[1] through x[0] and x[1] in runs of 1, 2, .. 8 samples with
// runPair(left, xL, yL, right, xR, yR, count), and ref[0] and ref[1] with
// single(unit, x) alternating per sample. A run must stop just after a sample
// whose output is not finite in either channel; such a channel is then reset on
// both sides, as the engine does. beforeRun(index) may change settings on all
// four. Returns the number of runs that stopped before their end.
template <typename Unit, typename RunPair, typename Single, typename BeforeRun>
int checkPairRun(Unit (&run)[2], Unit (&ref)[2], const std::vector<float> (&x)[2], RunPair runPair, Single single,
                 BeforeRun beforeRun) {
    const int length = int(x[0].size());
    int stops = 0;
    for (int n = 0, runs = 0; n < length; ++runs) {
        const int count = std::min(1 + runs % 8, length - n);
        beforeRun(runs);
        float y[2][8], expected[2][8];
        const int taken = runPair(run[0], &x[0][n], y[0], run[1], &x[1][n], y[1], count);
        int i = 0;
        for (bool finite = true; i < count && finite; ++i)
            for (int ch = 0; ch < 2; ++ch) {
                expected[ch][i] = single(ref[ch], x[ch][n + i]);
                finite = finite && std::isfinite(expected[ch][i]);
            }
        EXPECT_EQ(taken, i) << "at " << n;
        if (taken != i) return stops;
        stops += taken < count;
        for (int ch = 0; ch < 2; ++ch) {
            for (int k = 0; k < taken; ++k)
                EXPECT_EQ(bitsOf(y[ch][k]), bitsOf(expected[ch][k])) << "at " << n + k << ", channel " << ch;
            EXPECT_EQ(bitsOf(run[ch].lastOutput), bitsOf(ref[ch].lastOutput)) << "at " << n;
            EXPECT_EQ(run[ch].antiDenormal, ref[ch].antiDenormal) << "at " << n;
            if (std::isfinite(ref[ch].lastOutput)) continue;
            run[ch].reset();
            ref[ch].reset();
        }
        if (::testing::Test::HasFailure()) return stops;
        n += taken;
    }
    return stops;
}

}  // namespace kovalith
