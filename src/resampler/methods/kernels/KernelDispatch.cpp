#include "resampler/methods/kernels/KernelDispatch.h"

#include <cstdlib>
#include <cstring>

namespace Karvel::Tamlib::Resampler::Kernels {

namespace {

struct Candidate {
    const char* name;
    const PolyphaseKernel& (*kernel)();
    bool (*supported)();
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
    {"scalar", referenceKernel, always},
#if defined(TAMLIB_X86_KERNELS)
    {"sse2", sse2Kernel, always},
    {"avx2", avx2Kernel, cpuHasAvx2},
    {"avx512", avx512Kernel, cpuHasAvx512},
#endif
};

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
    const char* requested = std::getenv("TAMLIB_KERNEL");
    const Candidate* chosen = &kCandidates[0];
    for (const Candidate& candidate : kCandidates) {
        if (!candidate.supported()) {
            continue;
        }
        if (requested != nullptr && std::strcmp(requested, candidate.name) == 0) {
            return candidate.kernel();
        }
        chosen = &candidate;
    }
    return chosen->kernel();
}

}  // namespace Karvel::Tamlib::Resampler::Kernels
