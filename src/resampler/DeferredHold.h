#pragma once

#include <cstdint>

#include "resampler/HeldSlots.h"
#include "resampler/Ring.h"

namespace Karvel::Tamlib::Resampler {

// Hold outputs of one channel kept as the input slots they copy (the group's, shared by its
// channels) rather than as values in the output ring. A host that reads them before it adds
// values gets them gathered from the input ring straight into its buffer, so the output ring is
// neither written nor read for them. Whatever else would change either ring, or read other
// output slots, puts them into the output ring first.
class DeferredHold {
public:
    bool empty() const { return count == 0; }

    // Outputs at output slots firstSlot .. firstSlot + n - 1 (wrapping, n at most the ring)
    // copy the input slots that `slots` holds for them. They follow the deferred ones, the
    // oldest of which drop out when the ring is full, or replace them, which then go into the
    // ring first.
    void defer(HeldSlots& slots, uint64_t firstSlot, uint64_t n, const Ring& input, Ring& output);
    // Writes every deferred output into the output ring.
    void materialize(const Ring& input, Ring& output);
    // Forgets them, for rings that were replaced.
    void clear() { count = 0; }
    // n outputs from output slot `slot` into data: gathered when they are the oldest deferred
    // ones, which then are no longer deferred; copied from the ring when none of them is.
    void read(uint64_t slot, double* data, uint64_t n, const Ring& input, Ring& output);

private:
    HeldSlots* source = nullptr;
    uint64_t first = 0;
    uint64_t count = 0;
};

}  // namespace Karvel::Tamlib::Resampler
