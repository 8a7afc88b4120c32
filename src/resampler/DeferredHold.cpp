#include "resampler/DeferredHold.h"

#include <algorithm>

namespace Karvel::Tamlib::Resampler {

void DeferredHold::defer(HeldSlots& slots, uint64_t firstSlot, uint64_t n, const Ring& input,
                         Ring& output) {
    const uint64_t size = output.size();
    if (count > 0 && (source != &slots || (first + count) % size != firstSlot)) {
        materialize(input, output);
    }
    source = &slots;
    count = std::min(count + n, size);
    first = (firstSlot + n + size - count) % size;
}

void DeferredHold::materialize(const Ring& input, Ring& output) {
    if (count == 0) {
        return;
    }
    double* values = output.data();
    source->gather(input, first, count,
                   [values](uint64_t slot, uint64_t /*done*/) { return values + slot; });
    count = 0;
}

void DeferredHold::read(uint64_t slot, double* data, uint64_t n, const Ring& input, Ring& output) {
    const uint64_t size = output.size();
    if (count > 0 && slot == first && n <= count) {
        source->gather(input, slot, n,
                       [data](uint64_t /*slot*/, uint64_t done) { return data + done; });
        first = (first + n) % size;
        count -= n;
        return;
    }
    // Where the read and the deferred outputs share a slot, the ring must hold them first.
    const uint64_t ahead = (first + size - slot) % size;
    if (count > 0 && (ahead < n || ahead + count > size)) {
        materialize(input, output);
    }
    output.copyOut(slot, data, n);
}

}  // namespace Karvel::Tamlib::Resampler
