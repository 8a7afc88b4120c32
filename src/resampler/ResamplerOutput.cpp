#include <limits>

#include "resampler/Resampler.h"

namespace Karvel::Tamlib::Resampler {

void Resampler::getResampledData2(ResamplerChannel& channel, double* data, uint64_t count) const {
    channel.readOutput(data, count);
}

void Resampler::getResampledTimes2(const ResamplerChannel* channel, double* times,
                                   uint64_t count) const {
    ResamplerChannelGroup* group = findGroupOfChannel(channel);
    if (group == nullptr) {
        return;
    }
    group->readOutputTimes(times, count);
}

uint64_t Resampler::getResampledDataCount(const ResamplerChannel* channel) const {
    const ResamplerChannelGroup* group = findGroupOfChannel(channel);
    return group == nullptr ? 0 : group->getResampledCount();
}

uint64_t Resampler::calculateDataCountOfChannel(const ResamplerChannel* channel) const {
    const ResamplerChannelGroup* group = findGroupOfChannel(channel);
    return group == nullptr ? std::numeric_limits<uint64_t>::max()
                            : group->getExpectedOutputCount();
}

uint64_t Resampler::getAllDataCount() const {
    uint64_t allDataCount = 0;
    for (const auto& group : groups) {
        const auto channelCount = static_cast<int32_t>(group->getChannels().size());
        allDataCount += static_cast<uint64_t>(static_cast<int64_t>(channelCount)) *
                        group->getExpectedOutputCount();
    }
    return allDataCount;
}

}  // namespace Karvel::Tamlib::Resampler
