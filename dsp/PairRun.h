// Helpers of the units' pair runs, which process the two channels' units of a
// kind together over a run of samples.
#pragma once

#include <cmath>

namespace kovalith {

// Single calls alternating between the two units as the portable form of a pair
// run: single(unit, x) processes one sample. Stops after the first sample whose
// output in either channel is not finite and returns the number of samples taken.
template <typename Unit, typename T, typename Single>
int alternateUntilNotFinite(Unit& left, const T* xL, T* yL, Unit& right, const T* xR, T* yR, int count,
                            Single single) {
    for (int n = 0; n < count; ++n) {
        yL[n] = single(left, xL[n]);
        yR[n] = single(right, xR[n]);
        if (!std::isfinite(yL[n]) || !std::isfinite(yR[n])) return n + 1;
    }
    return count;
}

}  // namespace kovalith

// The two channels side by side in lanes 0 and 1 of an SSE register.
#if defined(__SSE2__)
#include <emmintrin.h>

namespace kovalith {
namespace float_lanes {

// {l, r, 0, 0}.
inline __m128 pairOf(float l, float r) { return _mm_unpacklo_ps(_mm_set_ss(l), _mm_set_ss(r)); }

// A shuffle of v's lanes into a new register (one instruction, v kept).
template <int Order>
inline __m128 shuffled(__m128 v) {
    return _mm_castsi128_ps(_mm_shuffle_epi32(_mm_castps_si128(v), Order));
}

// Lanes 0 and 1 to l and r.
inline void storePair(__m128 v, float* l, float* r) {
    _mm_store_ss(l, v);
    _mm_store_ss(r, shuffled<_MM_SHUFFLE(1, 1, 1, 1)>(v));
}

// Whether lane 0 or 1 is infinite or NaN (v - v is NaN exactly there).
inline bool pairNotFinite(__m128 v) {
    const __m128 difference = _mm_sub_ps(v, v);
    return (_mm_movemask_ps(_mm_cmpunord_ps(difference, difference)) & 3) != 0;
}

// The sign bit of every lane, to negate lanes exactly by an exclusive or.
inline __m128 signBits() { return _mm_set1_ps(-0.0f); }

}  // namespace float_lanes
}  // namespace kovalith
#endif
