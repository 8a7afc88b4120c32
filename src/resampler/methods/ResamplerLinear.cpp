#include "resampler/methods/ResamplerLinear.h"

#include <cstdint>

#include "resampler/methods/MasterTimeWalk.h"

namespace Karvel::Tamlib::Resampler {

namespace {

// What the walk chose for each output: the two input slots around it and its fraction, shared
// by every channel. Each channel is then interpolated in one tight loop of its own.
class LinearBatch {
public:
    explicit LinearBatch(ResamplerChannelGroup& group) : group(group) {}

    void add(uint64_t first, uint64_t second, bool sameTime, double fraction, uint64_t outputSlot) {
        firstSlots[count] = first;
        secondSlots[count] = second;
        sameTimes[count] = sameTime;
        fractions[count] = fraction;
        outputSlots[count] = outputSlot;
        if (++count == kCapacity) {
            flush();
        }
    }

    void flush() {
        for (const auto& channel : group.getChannels()) {
            const double* input = channel->inputValues().data();
            double* output = channel->outputValues().data();
            for (uint64_t k = 0; k < count; ++k) {
                const double y0 = input[firstSlots[k]];
                const double y1 = input[secondSlots[k]];
                output[outputSlots[k]] = sameTimes[k] ? y0 : y0 + fractions[k] * (y1 - y0);
            }
        }
        count = 0;
    }

private:
    static constexpr uint64_t kCapacity = 256;

    ResamplerChannelGroup& group;
    uint64_t firstSlots[kCapacity];
    uint64_t secondSlots[kCapacity];
    bool sameTimes[kCapacity];
    double fractions[kCapacity];
    uint64_t outputSlots[kCapacity];
    uint64_t count = 0;
};

}  // namespace

ResamplerLinear::ResamplerLinear() {
    method = Linear;
}

ResamplerLinear::~ResamplerLinear() = default;

bool ResamplerLinear::isChannelUnsupported(const ResamplerChannel& channel) const {
    return channel.isArrayChannel();
}

void ResamplerLinear::resampleGroup(ResamplerChannelGroup& group) {
    LinearBatch batch(group);
    const uint64_t size = group.getInputBufferSize();
    const uint64_t outputSize = group.getOutputBufferSize();
    const double* times = group.inputTimeRing().data();
    uint64_t outputSlot = group.getOutputWriteIndex();
    walkMasterTimes(group, walk, [&](double time, uint64_t inputSlot) {
        const uint64_t first = inputSlot < size ? inputSlot : size - 1;
        const uint64_t second = first + 1 >= size ? 0 : first + 1;
        const double t0 = times[first];
        const double t1 = times[second];
        // One fraction for every channel, computed as the single-channel formula would.
        const bool sameTime = t1 == t0;
        const double fraction = sameTime ? 0.0 : (time - t0) / (t1 - t0);
        batch.add(first, second, sameTime, fraction, outputSlot);
        outputSlot = outputSlot + 1 >= outputSize ? 0 : outputSlot + 1;
    });
    batch.flush();
}

}  // namespace Karvel::Tamlib::Resampler
