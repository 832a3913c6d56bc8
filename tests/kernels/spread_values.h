// Test values of very different sizes, so that a sum in any other order gives other bits.
#pragma once

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

namespace tarvik {

inline std::vector<double> spreadValues(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-30, 30);
    std::vector<double> values(n);
    for (double& v : values) v = std::ldexp(mantissa(random), exponent(random));
    return values;
}

}  // namespace tarvik
