// Seeded white noise, the same on every machine for a seed.
#pragma once

#include <random>
#include <vector>

namespace kovalith {

inline std::vector<float> noise(int length, unsigned seed, float amplitude = 1.0f) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(-amplitude, amplitude);
    std::vector<float> x(static_cast<size_t>(length));
    for (float& v : x) v = u(rng);
    return x;
}

}  // namespace kovalith
