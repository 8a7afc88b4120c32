#include "resampler/HeldSlots.h"

#include <algorithm>

namespace Karvel::Tamlib::Resampler {

void HeldSlots::rebuild(uint64_t outputSize, const HoldGather& gatherFunctions) {
    slots.assign(outputSize, 0);
    functions = gatherFunctions;
    // A read takes fewer slots than the ring: its runs split at the plans' capacity and once
    // where it wraps. Sized here, so that reading allocates nothing.
    plans.resize(outputSize / Kernels::GatherPlan::kCapacity + 2);
    ++version;
}

void HeldSlots::store(uint64_t slot, const uint64_t* inputSlots, uint64_t n) {
    std::copy(inputSlots, inputSlots + n, slots.begin() + static_cast<std::ptrdiff_t>(slot));
    ++version;
}

uint64_t HeldSlots::runLength(uint64_t slot, uint64_t left) const {
    return std::min({left, slots.size() - slot, Kernels::GatherPlan::kCapacity});
}

void HeldSlots::planFor(uint64_t inputSize, uint64_t slot, uint64_t n) {
    const PlanKey key{version, inputSize, slot, n};
    if (key == planned) {
        return;
    }
    const uint64_t size = slots.size();
    size_t chunk = 0;
    for (uint64_t done = 0; done < n; ++chunk) {
        const uint64_t length = runLength(slot, n - done);
        functions.plan(slots.data() + slot, length, inputSize, plans[chunk]);
        done += length;
        slot = slot + length >= size ? 0 : slot + length;
    }
    planned = key;
}

}  // namespace Karvel::Tamlib::Resampler
