#include "resampler/methods/kernels/KernelDispatch.h"

#include <cstdlib>
#include <cstring>

#include "resampler/methods/kernels/StampRun.h"

namespace Karvel::Tamlib::Resampler::Kernels {

namespace {

struct Candidate {
    const char* name;
    const PolyphaseKernel& (*kernel)();
    bool (*supported)();
    GatherFunction gather;
    WalkFunction walk;
    GatherPlanFunction plan = nullptr;
    PlannedGatherFunction plannedGather = nullptr;
    StampRunFunction stampRun = baselineStampRun;
    GridRunFunction gridRun = baselineGridRun;
};

bool always() {
    return true;
}

#if defined(TAMLIB_X86_KERNELS)
bool cpuHasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}

bool cpuHasAvx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") != 0;
}
#endif

// Narrowest first; the last supported one is the default.
const Candidate kCandidates[] = {
    {"scalar", referenceKernel, always, gatherElements, nullptr},
#if defined(TAMLIB_X86_KERNELS)
    {"sse2", sse2Kernel, always, gatherElements, nullptr},
    {"avx2", avx2Kernel, cpuHasAvx2, avx2Gather, avx2Walk, avx2PlanGather, avx2PlannedGather,
     avx2StampRun, avx2GridRun},
    {"avx512", avx512Kernel, cpuHasAvx512, avx512Gather, avx512Walk, avx512PlanGather,
     avx512PlannedGather, avx512StampRun, avx512GridRun},
#endif
};

const Candidate& selectCandidate() {
    const char* requested = std::getenv("TAMLIB_KERNEL");
    const Candidate* chosen = &kCandidates[0];
    for (const Candidate& candidate : kCandidates) {
        if (!candidate.supported()) {
            continue;
        }
        if (requested != nullptr && std::strcmp(requested, candidate.name) == 0) {
            return candidate;
        }
        chosen = &candidate;
    }
    return *chosen;
}

}  // namespace

std::vector<std::string> supportedKernelNames() {
    std::vector<std::string> names;
    for (const Candidate& candidate : kCandidates) {
        if (candidate.supported()) {
            names.emplace_back(candidate.name);
        }
    }
    return names;
}

const PolyphaseKernel& selectKernel() {
    return selectCandidate().kernel();
}

RowSteps selectRowSteps() {
    const char* requested = std::getenv("TAMLIB_ROW_STEPS");
    if (requested != nullptr && std::strcmp(requested, "copy") == 0) {
        return RowSteps::Copy;
    }
    if (requested != nullptr && std::strcmp(requested, "prefetch") == 0) {
        return RowSteps::Prefetch;
    }
#if defined(TAMLIB_X86_KERNELS)
    __builtin_cpu_init();
    if (__builtin_cpu_is("amd") != 0) {
        return RowSteps::Prefetch;
    }
#endif
    return RowSteps::Copy;
}

GatherFunction selectGather() {
    return selectCandidate().gather;
}

WalkFunction selectWalk() {
    return selectCandidate().walk;
}

GatherPlanFunction selectGatherPlan() {
    return selectCandidate().plan;
}

PlannedGatherFunction selectPlannedGather() {
    return selectCandidate().plannedGather;
}

StampRunFunction selectStampRun() {
    return selectCandidate().stampRun;
}

GridRunFunction selectGridRun() {
    return selectCandidate().gridRun;
}

void gatherElements(const double* source, uint64_t /*sourceSize*/, const uint64_t* slots,
                    uint64_t count, double* target) {
    for (uint64_t k = 0; k < count; ++k) {
        target[k] = source[slots[k]];
    }
}

}  // namespace Karvel::Tamlib::Resampler::Kernels
