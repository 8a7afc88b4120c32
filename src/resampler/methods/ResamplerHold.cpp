#include "resampler/methods/ResamplerHold.h"

#include <algorithm>
#include <cstdint>

#include "resampler/methods/MasterTimeWalk.h"

namespace Karvel::Tamlib::Resampler {

namespace {

// The input slots the walk chose for consecutive output slots, so that each channel is then
// copied in one tight loop of its own instead of all channels being visited once per output.
class HoldBatch {
public:
    HoldBatch(ResamplerChannelGroup& group, uint64_t firstOutputSlot, const HoldGather& gather)
        : group(group), outputSlot(firstOutputSlot), gather(gather) {}

    void add(uint64_t inputSlot) {
        inputSlots[count] = inputSlot;
        if (++count == kCapacity) {
            flush();
        }
    }

    void flush() {
        if (count == 0) {
            return;
        }
        // The outputs run from outputSlot on; only the end of the output ring breaks the run.
        // Channels with the group's ring sizes share the slots: they keep them, and copy the
        // values only when the host reads them (see DeferredHold).
        const uint64_t size = group.getOutputBufferSize();
        HeldSlots& held = group.heldInputSlots();
        if (!held.fits(size)) {
            for (const auto& channel : group.getChannels()) {
                channel->materializeHeld();
            }
            held.rebuild(size, gather);
        }
        for (uint64_t done = 0, slot = outputSlot; done < count; slot = 0) {
            const uint64_t run = std::min(count - done, size - slot);
            held.store(slot, inputSlots + done, run);
            for (const auto& channel : group.getChannels()) {
                if (sharesGroupRings(*channel)) {
                    channel->deferHeld(held, slot, run);
                }
            }
            done += run;
        }
        for (const auto& channelPointer : group.getChannels()) {
            ResamplerChannel& channel = *channelPointer;
            if (sharesGroupRings(channel)) {
                continue;
            }
            if (channel.getArraySize() != 1) {
                for (uint64_t k = 0; k < count; ++k) {
                    copyArraySample(channel, k);
                }
                continue;
            }
            // Rings of another size than the group's: the slots wrap at the channel's own.
            const double* input = channel.inputValues().data();
            double* output = channel.outputValues().data();
            const uint64_t inputCapacity = channel.getInputCapacity();
            const uint64_t outputCapacity = channel.getOutputCapacity();
            for (uint64_t k = 0; k < count; ++k) {
                output[slotOf(k) % outputCapacity] = input[inputSlots[k] % inputCapacity];
            }
        }
        outputSlot = slotOf(count);
        count = 0;
    }

private:
    static constexpr uint64_t kCapacity = Kernels::GatherPlan::kCapacity;

    bool sharesGroupRings(const ResamplerChannel& channel) const {
        return channel.getArraySize() == 1 &&
               channel.getInputCapacity() == group.getInputBufferSize() &&
               channel.getOutputCapacity() == group.getOutputBufferSize();
    }

    // The output slot of the k-th output of the batch.
    uint64_t slotOf(uint64_t k) const {
        const uint64_t size = group.getOutputBufferSize();
        return outputSlot + k < size ? outputSlot + k : (outputSlot + k) % size;
    }

    void copyArraySample(ResamplerChannel& channel, uint64_t k) const {
        channel.copySample(inputSlots[k], slotOf(k));
    }

    ResamplerChannelGroup& group;
    uint64_t outputSlot;
    const HoldGather& gather;
    uint64_t inputSlots[kCapacity];
    uint64_t count = 0;
};

}  // namespace

ResamplerHold::ResamplerHold() {
    method = Hold;
    gather.direct = Kernels::selectGather();
    gather.plan = Kernels::selectGatherPlan();
    gather.planned = Kernels::selectPlannedGather();
}

ResamplerHold::~ResamplerHold() = default;

void ResamplerHold::resampleGroup(ResamplerChannelGroup& group) {
    HoldBatch batch(group, group.getOutputWriteIndex(), gather);
    walkMasterTimes(group, walk,
                    [&batch](double /*time*/, uint64_t inputSlot) { batch.add(inputSlot); });
    batch.flush();
}

}  // namespace Karvel::Tamlib::Resampler
