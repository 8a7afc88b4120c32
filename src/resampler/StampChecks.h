#pragma once

#include <cstdint>

namespace Karvel::Tamlib::Resampler {

// Whether every one of the count stamps is finite.
bool allFinite(const double* times, uint64_t count);

// Of count stamps that repeat stored ones: whether all are finite, and whether
// |times[i] - stored[i]| <= tolerance for every i < count. One pass for both, since the
// stamps a host repeats for every channel of a group are read once for each.
struct RepeatedStamps {
    bool finite = true;
    bool matching = true;
};
RepeatedStamps compareStamps(const double* times, const double* stored, uint64_t count,
                             double tolerance);

}  // namespace Karvel::Tamlib::Resampler
