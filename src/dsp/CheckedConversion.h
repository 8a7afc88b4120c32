#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

namespace Karvel::Tamlib::Dsp {

// Truncates a double toward zero into an integer type. Gives no value for NaN, infinities and
// anything outside the target's range, where a plain cast would be undefined behaviour.
template <typename Integer>
std::optional<Integer> truncateChecked(double value) {
    static_assert(std::numeric_limits<Integer>::is_integer, "integer target expected");
    if (!std::isfinite(value)) {
        return std::nullopt;
    }
    const double truncated = std::trunc(value);
    // Both bounds are exact powers of two (or zero) in double, so the comparisons are exact.
    const double lowest = static_cast<double>(std::numeric_limits<Integer>::min());
    const double beyondHighest = std::ldexp(1.0, std::numeric_limits<Integer>::digits);  // max + 1
    if (truncated < lowest || truncated >= beyondHighest) {
        return std::nullopt;
    }
    return static_cast<Integer>(truncated);
}

}  // namespace Karvel::Tamlib::Dsp
