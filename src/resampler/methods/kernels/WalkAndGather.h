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

// The slot arithmetic of a gather done once for all the channels of a group, which share their
// slots: per block of outputs (four for AVX2, eight for AVX-512) the first slot of the inputs
// the block reads, or kElementWise where it reads one input at a time, and each output's offset
// from that slot in a byte, so that reading the plan costs an eighth of reading the slots and
// stays in the first-level cache. AVX-512 plans blocks that read twice as many inputs as they
// have outputs, or 32 with the window's top bit set; AVX2 any within 256 inputs of the first.
struct GatherPlan {
    static constexpr uint64_t kCapacity = 512;
    static constexpr uint64_t kElementWise = ~static_cast<uint64_t>(0);
    uint64_t window[kCapacity / 4];
    alignas(64) uint8_t offsets[kCapacity];
};
// Plans the gather of count <= GatherPlan::kCapacity slots below sourceSize.
using GatherPlanFunction = void (*)(const uint64_t* slots, uint64_t count, uint64_t sourceSize,
                                    GatherPlan& plan);
// target[k] = source[slots[k]] for k < count, as the plan of these slots has it.
using PlannedGatherFunction = void (*)(const double* source, const uint64_t* slots, uint64_t count,
                                       const GatherPlan& plan, double* target);
#if defined(TAMLIB_X86_KERNELS)
void avx2PlanGather(const uint64_t* slots, uint64_t count, uint64_t sourceSize, GatherPlan& plan);
void avx2PlannedGather(const double* source, const uint64_t* slots, uint64_t count,
                       const GatherPlan& plan, double* target);
void avx512PlanGather(const uint64_t* slots, uint64_t count, uint64_t sourceSize, GatherPlan& plan);
void avx512PlannedGather(const double* source, const uint64_t* slots, uint64_t count,
                         const GatherPlan& plan, double* target);
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

// The gather of a set with a plan, for one channel: planned in runs of a plan's capacity.
inline void gatherByPlans(GatherPlanFunction plan, PlannedGatherFunction planned,
                          const double* source, uint64_t sourceSize, const uint64_t* slots,
                          uint64_t count, double* target) {
    GatherPlan runPlan;
    for (uint64_t done = 0; done < count;) {
        const uint64_t left = count - done;
        const uint64_t run = left < GatherPlan::kCapacity ? left : GatherPlan::kCapacity;
        plan(slots + done, run, sourceSize, runPlan);
        planned(source, slots + done, run, runPlan, target + done);
        done += run;
    }
}

// The gather of the instruction set selectKernel() picks.
GatherFunction selectGather();
// Its planned gather, where it has one (both null otherwise).
GatherPlanFunction selectGatherPlan();
PlannedGatherFunction selectPlannedGather();
// The walk of the instruction set selectKernel() picks; none where it has no vector walk, and
// the walk goes one step at a time.
WalkFunction selectWalk();

}  // namespace Karvel::Tamlib::Resampler::Kernels
