#include <limits>
#include <stdexcept>

#include "resampler/Resampler.h"
#include "resampler/Ring.h"

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
    const uint64_t slot = (width * channel.outputReadIndex + capacity) % capacity;
    Ring::copyOut(channel.outputBuffer.data(), capacity, slot, data, count * width);
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
    group->outputTimesReadIndex = Ring::copyOut(group->outputTimes.data(), group->outputBufferSize,
                                                group->outputTimesReadIndex, times, count);
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
