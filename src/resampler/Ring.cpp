#include "resampler/Ring.h"

#include <atomic>
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
constexpr uintptr_t kPage = 4096;
// From this size on a ring is fresh pages that the system has zeroed already (on Windows, where
// the aligned blocks need their own free, it is cleared like a small one): rings of millions of
// slots that a registration builds and initialize rebuilds larger then cost nothing until
// initialize maps them once (touch).
constexpr size_t kLazyBytes = size_t{1} << 20;

// From this size on a ring starts at the next of a page's cache lines, one after another: the
// rings of a group are read and written at the same slots at once (the interleave of a batch
// reads every channel's input ring, the kernels write every channel's output ring), and rings
// that all started at the same offset in their pages, as blocks of equal size from the heap
// do, would meet in the same few sets of the first-level cache, which holds 8 to 12 lines of a
// set. It costs up to a page more per ring.
constexpr size_t kColouredBytes = 2 * kPage;

// How far past `start` the ring's slots begin: on the next line of a page in turn.
size_t colourShift(uintptr_t start) {
    static std::atomic<unsigned> next{0};
    const uintptr_t line = next.fetch_add(1, std::memory_order_relaxed) % (kPage / kLine);
    return static_cast<size_t>((line * kLine + kPage - start % kPage) % kPage);
}

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

#if defined(__linux__)
constexpr uintptr_t kHuge = uintptr_t{1} << 21;

// A large ring is its own mapping, from a 2 MiB boundary on, so that all of it but the tail can
// be huge pages: it is first written page by page, in 512 times fewer faults (and under a
// hypervisor 512 times fewer first writes that the host must back). The heap would place it
// at an offset, and reuse freed blocks that it then has to clear.
void* mapHuge(size_t bytes, size_t& mapped) {
    mapped = (bytes + kPage - 1) & ~(kPage - 1);
    if (mapped < bytes || mapped + kHuge < mapped) {
        return nullptr;
    }
    // A tail in small pages costs a fault per 4 KiB; where a last whole huge page costs at most
    // a third more memory, the ring takes it instead.
    const size_t whole = (mapped + kHuge - 1) & ~(kHuge - 1);
    if ((whole - mapped) * 3 <= mapped) {
        mapped = whole;
    }
    void* block =
        mmap(nullptr, mapped + kHuge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) {
        return nullptr;
    }
    const auto begin = reinterpret_cast<uintptr_t>(block);
    const uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t end = begin + mapped + kHuge;
    // The slack on either side goes back at once.
    if (first > begin) {
        munmap(block, first - begin);
    }
    if (end > first + mapped) {
        munmap(reinterpret_cast<void*>(first + mapped), end - first - mapped);
    }
    madvise(reinterpret_cast<void*>(first), mapped, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(first);
}
#endif

}  // namespace

void Ring::Free::operator()(double* ring) const {
    double* slots = reinterpret_cast<double*>(reinterpret_cast<char*>(ring) - shiftBytes);
#if defined(__linux__)
    if (mappedBytes > 0) {
        munmap(slots, mappedBytes);
        return;
    }
#endif
#if defined(_WIN32)
    _aligned_free(slots);
#else
    std::free(slots);
#endif
}

std::unique_ptr<double[], Ring::Free> Ring::allocate(uint64_t size) {
    if (size == 0) {
        return {};
    }
    if (size > std::numeric_limits<size_t>::max() / sizeof(double)) {
        throw std::bad_alloc();
    }
    const size_t ringBytes = size * sizeof(double);
    const bool coloured = ringBytes >= kColouredBytes;
    const size_t bytes = ringBytes + (coloured ? kPage : 0);
    if (bytes < ringBytes) {
        throw std::bad_alloc();
    }
    Free release;
    void* slots = nullptr;
    bool zeroed = false;
    if (bytes >= kLazyBytes) {
#if defined(__linux__)
        slots = mapHuge(bytes, release.mappedBytes);
        zeroed = true;
#elif !defined(_WIN32)
        slots = std::calloc(1, bytes);
        zeroed = true;
#endif
    }
    if (!zeroed) {
        slots = allocateAligned(bytes);
        if (slots != nullptr) {
            std::memset(slots, 0, bytes);
        }
    }
    if (slots == nullptr) {
        throw std::bad_alloc();
    }
    if (coloured) {
        release.shiftBytes = colourShift(reinterpret_cast<uintptr_t>(slots));
    }
    return std::unique_ptr<double[], Free>(
        reinterpret_cast<double*>(static_cast<char*>(slots) + release.shiftBytes), release);
}

void Ring::touch() {
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
