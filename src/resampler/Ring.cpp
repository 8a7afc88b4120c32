#include "resampler/Ring.h"

#include <cstdint>
#include <cstdlib>
#include <new>

#if defined(_WIN32)
#include <malloc.h>
#elif defined(__linux__)
#include <sys/mman.h>
#endif

namespace Karvel::Tamlib::Resampler {

namespace {

constexpr size_t kLine = 64;
// From this size on a ring is taken from calloc, which hands it over as fresh pages the system
// has zeroed already: rings of millions of slots that a registration builds and initialize
// rebuilds larger then cost nothing until initialize maps them once (touch).
constexpr size_t kLazyBytes = size_t{1} << 20;

#if defined(__linux__)
// A large ring is first written page by page; in 2 MiB pages it takes 512 times fewer faults.
// Only the whole huge pages inside the block can be such.
void adviseHugePages(void* block, size_t bytes) {
    constexpr uintptr_t kHuge = uintptr_t{1} << 21;
    const auto begin = reinterpret_cast<uintptr_t>(block);
    const uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t last = (begin + bytes) & ~(kHuge - 1);
    if (last > first) {
        madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
}
#endif

// Cache-line aligned, so that the kernels' loads split as few lines as they can.
void* allocateAligned(size_t bytes) {
    const size_t padded = (bytes + kLine - 1) / kLine * kLine;
    if (padded < bytes) {
        return nullptr;
    }
#if defined(_WIN32)
    return _aligned_malloc(padded, kLine);
#else
    void* block = nullptr;
    return posix_memalign(&block, kLine, padded) == 0 ? block : nullptr;
#endif
}

}  // namespace

void Ring::Free::operator()(double* slots) const {
#if defined(_WIN32)
    _aligned_free(slots);
#else
    std::free(slots);
#endif
}

double* Ring::allocate(uint64_t size) {
    if (size == 0) {
        return nullptr;
    }
    if (size > std::numeric_limits<size_t>::max() / sizeof(double)) {
        throw std::bad_alloc();
    }
    const size_t bytes = size * sizeof(double);
#if defined(_WIN32)
    const bool lazy = false;  // the aligned blocks there need their own free
#else
    const bool lazy = bytes >= kLazyBytes;
#endif
    void* slots = lazy ? std::calloc(size, sizeof(double)) : allocateAligned(bytes);
    if (slots == nullptr) {
        throw std::bad_alloc();
    }
    if (!lazy) {
        std::memset(slots, 0, bytes);
    }
#if defined(__linux__)
    if (lazy) {
        adviseHugePages(slots, bytes);
    }
#endif
    return static_cast<double*>(slots);
}

void Ring::touch() {
    constexpr uint64_t kPage = 4096;
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    // One call maps the whole pages inside the ring, at a fraction of the cost of a fault per
    // page (and in huge pages where advised). Under a hypervisor the host may still back them on
    // first write, which the loop below then does here rather than in the data path. A kernel
    // without the call leaves it all to the loop.
    const auto begin = reinterpret_cast<uintptr_t>(storage.get());
    const uintptr_t first = (begin + kPage - 1) & ~static_cast<uintptr_t>(kPage - 1);
    const uintptr_t last =
        (begin + slotCount * sizeof(double)) & ~static_cast<uintptr_t>(kPage - 1);
    if (last > first) {
        madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
    }
#endif
    constexpr uint64_t kPageSlots = kPage / sizeof(double);
    for (uint64_t slot = 0; slot < slotCount; slot += kPageSlots) {
        volatile double* at = storage.get() + slot;
        *at = *at;
    }
}

}  // namespace Karvel::Tamlib::Resampler
