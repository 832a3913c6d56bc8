// Conversion of computed doubles to int without undefined behaviour.
#pragma once

#include <climits>
#include <cmath>

namespace tarvik {

// Truncation toward zero, saturated to the range of an int (0 for NaN).
inline int truncToInt(double value) {
    if (std::isnan(value)) return 0;
    if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace tarvik
