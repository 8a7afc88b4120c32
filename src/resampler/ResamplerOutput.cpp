#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "resampler/Resampler.h"

namespace Karvel::Tamlib::Resampler {

void Resampler::getResampledData2(ResamplerChannel& channel, double* data, uint64_t count) const {
    if (count >= channel.outputCapacity) {
        throw std::invalid_argument("Too many samples requested.");
    }
    if (channel.arraySize < 1 || channel.inert) {
        return;
    }
    const uint64_t capacity = channel.outputCapacity;
    const auto width = static_cast<uint64_t>(channel.arraySize);
    uint64_t slot = (width * channel.outputReadIndex + capacity) % capacity;
    // Contiguous runs up to the end of the ring, then from its start.
    for (uint64_t k = 0; k < count * width;) {
        const uint64_t run = std::min(count * width - k, capacity - slot);
        std::memcpy(data + k, channel.outputBuffer.data() + slot, run * sizeof(double));
        k += run;
        slot = slot + run >= capacity ? 0 : slot + run;
    }
    channel.outputReadIndex = (capacity + count + channel.outputReadIndex) % capacity;
}

void Resampler::getResampledTimes2(const ResamplerChannel* channel, double* times,
                                   uint64_t count) const {
    ResamplerChannelGroup* group = findGroupOfChannel(channel);
    if (group == nullptr) {
        return;
    }
    if (count >= group->outputBufferSize) {
        throw std::invalid_argument("Too many samples requested.");
    }
    const uint64_t size = group->outputBufferSize;
    uint64_t slot = group->outputTimesReadIndex;
    for (uint64_t k = 0; k < count;) {
        const uint64_t run = std::min(count - k, size - slot);
        std::memcpy(times + k, group->outputTimes.data() + slot, run * sizeof(double));
        k += run;
        slot = slot + run >= size ? 0 : slot + run;
    }
    group->outputTimesReadIndex = slot;
}

uint64_t Resampler::getResampledDataCount(const ResamplerChannel* channel) const {
    const ResamplerChannelGroup* group = findGroupOfChannel(channel);
    return group == nullptr ? 0 : group->resampledCount;
}

uint64_t Resampler::calculateDataCountOfChannel(const ResamplerChannel* channel) const {
    const ResamplerChannelGroup* group = findGroupOfChannel(channel);
    return group == nullptr ? std::numeric_limits<uint64_t>::max() : group->expectedOutputCount;
}

uint64_t Resampler::getAllDataCount() {
    allDataCount = 0;
    for (const auto& group : groups) {
        const auto channelCount = static_cast<int32_t>(group->channels.size());
        allDataCount +=
            static_cast<uint64_t>(static_cast<int64_t>(channelCount)) * group->expectedOutputCount;
    }
    return allDataCount;
}

}  // namespace Karvel::Tamlib::Resampler
