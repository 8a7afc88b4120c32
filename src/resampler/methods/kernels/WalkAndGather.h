#pragma once

#include <cstdint>

// The vector pieces of the hold and linear steps: the walk over the master times that both
// take, and the copy by slot of hold.

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

// The walk of the hold and linear methods over `count` master times in a stretch of the input
// times in which no ring wraps: from the input index *position, for each time the input moves on
// while its next sample belongs to that time (lies not more than `tolerance` after it), and the
// index reached goes to slots[n], as the one-step-at-a-time walk would. It returns before a time
// that is not before `newest` and before one that could reach index `end`, leaving *position at
// the sample reached; returns how many slots it wrote.
using WalkFunction = uint64_t (*)(const double* inputTimes, uint64_t end, uint64_t* position,
                                  const double* times, uint64_t count, double newest,
                                  double tolerance, uint64_t* slots);
#if defined(TAMLIB_X86_KERNELS)
uint64_t avx2Walk(const double* inputTimes, uint64_t end, uint64_t* position, const double* times,
                  uint64_t count, double newest, double tolerance, uint64_t* slots);
uint64_t avx512Walk(const double* inputTimes, uint64_t end, uint64_t* position, const double* times,
                    uint64_t count, double newest, double tolerance, uint64_t* slots);
#endif

// The gather of the instruction set selectKernel() picks.
GatherFunction selectGather();
// The walk of the instruction set selectKernel() picks; none where it has no vector walk, and
// the walk goes one step at a time.
WalkFunction selectWalk();

}  // namespace Karvel::Tamlib::Resampler::Kernels
