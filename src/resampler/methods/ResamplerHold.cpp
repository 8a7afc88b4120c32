#include "resampler/methods/ResamplerHold.h"

#include <cstdint>

namespace Karvel::Tamlib::Resampler {

namespace {

// The slots the walk chose, so that each channel is then copied in one tight loop of its own
// instead of all channels being visited once per output.
class HoldBatch {
public:
    explicit HoldBatch(ResamplerChannelGroup& group) : group(group) {}

    void add(uint64_t inputSlot, uint64_t outputSlot) {
        inputSlots[count] = inputSlot;
        outputSlots[count] = outputSlot;
        if (++count == kCapacity) {
            flush();
        }
    }

    void flush() {
        if (count == 0) {
            return;
        }
        for (const auto& channelPointer : group.channels) {
            ResamplerChannel& channel = *channelPointer;
            if (channel.arraySize != 1) {
                for (uint64_t k = 0; k < count; ++k) {
                    copyArraySample(channel, k);
                }
                continue;
            }
            const double* input = channel.inputBuffer.data();
            double* output = channel.outputBuffer.data();
            if (channel.inputCapacity == group.inputBufferSize &&
                channel.outputCapacity == group.outputBufferSize) {
                // The outputs of a batch follow one another; only a wrap breaks the run.
                const uint64_t first = outputSlots[0];
                if (outputSlots[count - 1] == first + count - 1) {
                    double* run = output + first;
                    for (uint64_t k = 0; k < count; ++k) {
                        run[k] = input[inputSlots[k]];
                    }
                    continue;
                }
                for (uint64_t k = 0; k < count; ++k) {
                    output[outputSlots[k]] = input[inputSlots[k]];
                }
                continue;
            }
            // Rings of another size than the group's: the slots wrap at the channel's own.
            for (uint64_t k = 0; k < count; ++k) {
                output[outputSlots[k] % channel.outputCapacity] =
                    input[inputSlots[k] % channel.inputCapacity];
            }
        }
        count = 0;
    }

private:
    static constexpr uint64_t kCapacity = 512;

    void copyArraySample(ResamplerChannel& channel, uint64_t k) const {
        if (channel.arraySize < 1) {
            return;
        }
        const auto width = static_cast<uint64_t>(channel.arraySize);
        const uint64_t inputCapacity = channel.inputCapacity;
        const uint64_t outputCapacity = channel.outputCapacity;
        uint64_t source = (width * inputSlots[k] + inputCapacity) % inputCapacity;
        uint64_t target = (width * outputSlots[k] + outputCapacity) % outputCapacity;
        for (uint64_t v = 0; v < width; ++v) {
            channel.outputBuffer[target] = channel.inputBuffer[source];
            if (++source >= inputCapacity) {
                source = 0;
            }
            if (++target >= outputCapacity) {
                target = 0;
            }
        }
    }

    ResamplerChannelGroup& group;
    uint64_t inputSlots[kCapacity];
    uint64_t outputSlots[kCapacity];
    uint64_t count = 0;
};

}  // namespace

ResamplerHold::ResamplerHold() {
    method = Hold;
}

ResamplerHold::~ResamplerHold() = default;

void ResamplerHold::resampleGroup(ResamplerChannelGroup& group, int32_t /*groupIndex*/) {
    HoldBatch batch(group);
    walkMasterTimes(group, [&batch](double /*time*/, uint64_t inputSlot, uint64_t outputSlot) {
        batch.add(inputSlot, outputSlot);
    });
    batch.flush();
}

}  // namespace Karvel::Tamlib::Resampler
