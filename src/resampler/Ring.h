#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace Karvel::Tamlib::Resampler::Ring {

// Every ring of the resampler is a buffer of `size` slots that wraps at its end; these are the
// slot arithmetic and the run-wise copies they all share. Slots passed in lie below the size.

// The slot `count` places after `slot`.
inline uint64_t advance(uint64_t slot, uint64_t count, uint64_t size) {
    return (slot + count % size) % size;
}

// Calls run(slot, done, length) for the contiguous pieces of `count` slots from `slot`: up to the
// end of the ring, then from its start. Returns the slot after the last.
template <typename Run>
uint64_t forEachRun(uint64_t size, uint64_t slot, uint64_t count, Run run) {
    for (uint64_t done = 0; done < count;) {
        const uint64_t length = std::min(count - done, size - slot);
        run(slot, done, length);
        done += length;
        slot = slot + length >= size ? 0 : slot + length;
    }
    return slot;
}

// count values into the ring from `slot`; returns the slot after them.
inline uint64_t copyIn(double* ring, uint64_t size, uint64_t slot, const double* values,
                       uint64_t count) {
    return forEachRun(size, slot, count, [&](uint64_t at, uint64_t done, uint64_t length) {
        std::memcpy(ring + at, values + done, length * sizeof(double));
    });
}

// count values out of the ring from `slot`; returns the slot after them.
inline uint64_t copyOut(const double* ring, uint64_t size, uint64_t slot, double* values,
                        uint64_t count) {
    return forEachRun(size, slot, count, [&](uint64_t at, uint64_t done, uint64_t length) {
        std::memcpy(values + done, ring + at, length * sizeof(double));
    });
}

// count values from one ring into another, each from its own slot and wrapping at its own size.
inline void copyAcross(const double* source, uint64_t sourceSize, uint64_t sourceSlot,
                       double* target, uint64_t targetSize, uint64_t targetSlot, uint64_t count) {
    while (count > 0) {
        const uint64_t run = std::min({count, sourceSize - sourceSlot, targetSize - targetSlot});
        std::memcpy(target + targetSlot, source + sourceSlot, run * sizeof(double));
        count -= run;
        sourceSlot = sourceSlot + run >= sourceSize ? 0 : sourceSlot + run;
        targetSlot = targetSlot + run >= targetSize ? 0 : targetSlot + run;
    }
}

}  // namespace Karvel::Tamlib::Resampler::Ring
