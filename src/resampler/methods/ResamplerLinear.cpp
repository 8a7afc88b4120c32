#include "resampler/methods/ResamplerLinear.h"

namespace Karvel::Tamlib::Resampler {

ResamplerLinear::ResamplerLinear() {
    method = Linear;
}

ResamplerLinear::~ResamplerLinear() = default;

bool ResamplerLinear::isChannelUnsupported(const ResamplerChannel& channel) const {
    return channel.isArray != 0;
}

void ResamplerLinear::resampleGroup(ResamplerChannelGroup& group, int32_t /*groupIndex*/) {
    walkMasterTimes(group, [&group](double time) {
        const uint64_t size = group.inputBufferSize;
        const uint64_t first = group.inputReadIndex < size ? group.inputReadIndex : size - 1;
        const uint64_t second = first + 1 >= size ? 0 : first + 1;
        const double t0 = group.inputTimes[first];
        const double t1 = group.inputTimes[second];
        // The same fraction for every channel: the evaluation order below fixes the result.
        for (const auto& channel : group.channels) {
            const double y0 = channel->inputBuffer[first];
            const double y1 = channel->inputBuffer[second];
            channel->outputBuffer[group.outputWriteIndex] =
                (t1 == t0) ? y0 : y0 + ((time - t0) / (t1 - t0)) * (y1 - y0);
        }
    });
}

}  // namespace Karvel::Tamlib::Resampler
