#pragma once

#include <string>
#include <vector>

#include "resampler/methods/kernels/PolyphaseKernel.h"
#include "resampler/methods/kernels/WalkAndGather.h"

namespace Karvel::Tamlib::Resampler::Kernels {

// The names this processor can run, from the reference "scalar" up to the widest.
std::vector<std::string> supportedKernelNames();

// The kernel of a new resampler: the one TAMLIB_KERNEL names when this processor runs it,
// otherwise the widest the processor supports. The variable is read on every call, so tests and
// benchmarks can force each kernel in turn.
const PolyphaseKernel& selectKernel();

// What the row loops of a new resampler's batches do (RowSteps): TAMLIB_ROW_STEPS=copy|prefetch
// where set, otherwise Prefetch on AMD processors, where the AVX-512 copy steps lost against one
// pass before the tiles (1000 -> 2000 on 16 channels by 10 % to 18 %), and Copy elsewhere.
RowSteps selectRowSteps();

}  // namespace Karvel::Tamlib::Resampler::Kernels
