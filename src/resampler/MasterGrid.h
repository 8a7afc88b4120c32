#pragma once

#include <cstdint>

#include "resampler/methods/kernels/StampRun.h"

namespace Karvel::Tamlib::Resampler {

// Writes the next `count` times of the master grid, each the previous one plus dt, starting from
// `time`, and leaves `time` at the last one. The values are those of adding dt one time after
// another, bit for bit, but most of them come from independent products: within one binade of
// positive normal times every sum rounds dt to the same multiple of the binade's ulp (unless dt
// lies exactly halfway between two, where the rounding follows the parity of each time), so the
// k-th time past `time` is time + k * that step, exactly. `run` writes such runs.
void sumGrid(double* at, uint64_t count, double& time, double dt,
             Kernels::GridRunFunction run = Kernels::baselineGridRun);

}  // namespace Karvel::Tamlib::Resampler
