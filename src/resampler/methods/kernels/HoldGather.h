#pragma once

#include <cstdint>

namespace Karvel::Tamlib::Resampler::Kernels {

// The copy of the hold method, one input sample per output by slot:
// target[k] = source[slots[k]] for k < count; every slot lies below sourceSize.
using GatherFunction = void (*)(const double* source, uint64_t sourceSize, const uint64_t* slots,
                                uint64_t count, double* target);

// One element at a time, for the instruction sets without a vector gather.
void gatherElements(const double* source, uint64_t sourceSize, const uint64_t* slots,
                    uint64_t count, double* target);
#if defined(TAMLIB_X86_KERNELS)
// Compiled with the AVX2 kernels, whose translation unit carries the instruction set.
void avx2Gather(const double* source, uint64_t sourceSize, const uint64_t* slots, uint64_t count,
                double* target);
// Compiled with the AVX-512 kernels, whose translation unit carries the instruction set.
void avx512Gather(const double* source, uint64_t sourceSize, const uint64_t* slots, uint64_t count,
                  double* target);
#endif

// The gather of the instruction set selectKernel() picks.
GatherFunction selectGather();

}  // namespace Karvel::Tamlib::Resampler::Kernels
