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
    // Rings of `outputSize` slots; false when the slots had to be rebuilt, which the deferred
    // outputs must not outlive.
    bool fits(uint64_t outputSize) const { return slots.size() == outputSize; }
    void rebuild(uint64_t outputSize, const HoldGather& functions);
    // n slots from output slot `slot` on, within the ring.
    void store(uint64_t slot, const uint64_t* inputSlots, uint64_t n);

    // Calls into(slot, done) for the target of each run of the n outputs from output slot
    // `slot` (wrapping at the ring), then fills it from `input`.
    template <typename Target>
    void gather(const Ring& input, uint64_t slot, uint64_t n, Target into) {
        const uint64_t size = slots.size();
        if (functions.plan == nullptr) {
            for (uint64_t done = 0; done < n;) {
                const uint64_t length = std::min(n - done, size - slot);
                functions.direct(input.data(), input.size(), slots.data() + slot, length,
                                 into(slot, done));
                done += length;
                slot = slot + length >= size ? 0 : slot + length;
            }
            return;
        }
        planFor(input.size(), slot, n);
        size_t chunk = 0;
        for (uint64_t done = 0; done < n; ++chunk) {
            const uint64_t length = runLength(slot, n - done);
            functions.planned(input.data(), slots.data() + slot, length, plans[chunk],
                              into(slot, done));
            done += length;
            slot = slot + length >= size ? 0 : slot + length;
        }
    }

private:
    // The outputs of one plan from `slot` on: up to the ring's end and the plan's capacity.
    uint64_t runLength(uint64_t slot, uint64_t left) const;
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
