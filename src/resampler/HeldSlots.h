#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "resampler/Ring.h"
#include "resampler/methods/kernels/WalkAndGather.h"

namespace Karvel::Tamlib::Resampler {

// The copy of held samples, by the instruction set chosen when the resampler was made: planned
// once for all the channels that share the slots where the set has a plan, by the set's gather
// channel by channel otherwise.
struct HoldGather {
    Kernels::GatherFunction direct = nullptr;
    Kernels::GatherPlanFunction plan = nullptr;
    Kernels::PlannedGatherFunction planned = nullptr;
};

// The input slot that each output slot of a group holds, for the channels whose hold outputs
// wait in this form to be read (see DeferredHold). Every channel of the group reads the same
// run of slots, so the plan of the last gather is kept for the next channel.
class HeldSlots {
public:
    // Whether the slots are those of output rings of `outputSize` slots; rebuilding them moves
    // them, which the deferred outputs must not outlive.
    bool fits(uint64_t outputSize) const { return slots.size() == outputSize; }
    void rebuild(uint64_t outputSize, const HoldGather& functions);
    // n slots from output slot `slot` on, within the ring.
    void store(uint64_t slot, const uint64_t* inputSlots, uint64_t n);

    // Calls into(slot, done) for the target of each run of the n outputs from output slot
    // `slot` (wrapping at the ring), then fills it from `input`.
    template <typename Target>
    void gather(const Ring& input, uint64_t slot, uint64_t n, Target into) {
        if (functions.plan == nullptr) {
            forEachRun(slot, n, slots.size(),
                       [&](uint64_t at, uint64_t done, uint64_t length, size_t /*chunk*/) {
                           functions.direct(input.data(), input.size(), slots.data() + at, length,
                                            into(at, done));
                       });
            return;
        }
        planFor(input.size(), slot, n);
        forEachRun(slot, n, Kernels::GatherPlan::kCapacity,
                   [&](uint64_t at, uint64_t done, uint64_t length, size_t chunk) {
                       functions.planned(input.data(), slots.data() + at, length, plans[chunk],
                                         into(at, done));
                   });
    }

private:
    // Calls run(slot, done, length, chunk) for the runs of the n outputs from `slot`: up to the
    // ring's end and at most `limit` long; chunk counts the runs.
    template <typename Run>
    void forEachRun(uint64_t slot, uint64_t n, uint64_t limit, Run run) const {
        const uint64_t size = slots.size();
        size_t chunk = 0;
        for (uint64_t done = 0; done < n; ++chunk) {
            const uint64_t length = std::min({n - done, size - slot, limit});
            run(slot, done, length, chunk);
            done += length;
            slot = slot + length >= size ? 0 : slot + length;
        }
    }
    // Plans the runs of the n outputs from `slot`, unless the last gather did.
    void planFor(uint64_t inputSize, uint64_t slot, uint64_t n);

    std::vector<uint64_t> slots;
    HoldGather functions;
    // Changes with every store, so that a kept plan is of the slots as they are.
    uint64_t version = 0;
    struct PlanKey {
        uint64_t version = ~static_cast<uint64_t>(0);
        uint64_t inputSize = 0;
        uint64_t slot = 0;
        uint64_t count = 0;
        bool operator==(const PlanKey& other) const {
            return version == other.version && inputSize == other.inputSize && slot == other.slot &&
                   count == other.count;
        }
    };
    PlanKey planned;
    std::vector<Kernels::GatherPlan> plans;
};

}  // namespace Karvel::Tamlib::Resampler
