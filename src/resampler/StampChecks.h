#pragma once

#include <cstdint>

namespace Karvel::Tamlib::Resampler {

// Whether every one of the count stamps is finite.
bool allFinite(const double* times, uint64_t count);

// Whether |times[i] - stored[i]| <= tolerance for every i < count.
bool stampsMatch(const double* times, const double* stored, uint64_t count, double tolerance);

}  // namespace Karvel::Tamlib::Resampler
