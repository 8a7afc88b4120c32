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

void HeldSlots::planFor(uint64_t inputSize, uint64_t slot, uint64_t n) {
    const PlanKey key{version, inputSize, slot, n};
    if (key == planned) {
        return;
    }
    forEachRun(slot, n, Kernels::GatherPlan::kCapacity,
               [&](uint64_t at, uint64_t /*done*/, uint64_t length, size_t chunk) {
                   functions.plan(slots.data() + at, length, inputSize, plans[chunk]);
               });
    planned = key;
}

}  // namespace Karvel::Tamlib::Resampler
