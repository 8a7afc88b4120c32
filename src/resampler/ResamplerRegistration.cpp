#include <cmath>
#include <stdexcept>

#include "resampler/Resampler.h"

namespace Karvel::Tamlib::Resampler {

namespace {

// Undoes a registration that fails half way: the groups and channels it appended go again.
class RegistrationRollback {
public:
    explicit RegistrationRollback(std::vector<std::shared_ptr<ResamplerChannelGroup>>& groups)
        : groups(groups), groupCount(groups.size()) {}
    ~RegistrationRollback() {
        if (committed) {
            return;
        }
        if (joined != nullptr) {
            joined->keepChannels(channelCount);
        }
        groups.resize(groupCount);
    }
    void joining(ResamplerChannelGroup& group) {
        joined = &group;
        channelCount = group.getChannels().size();
    }
    void commit() { committed = true; }

private:
    std::vector<std::shared_ptr<ResamplerChannelGroup>>& groups;
    size_t groupCount;
    ResamplerChannelGroup* joined = nullptr;
    size_t channelCount = 0;
    bool committed = false;
};

void checkRateAndOffset(double rate, double offset) {
    if (!std::isfinite(rate) || 0.0 >= rate) {
        throw std::invalid_argument("Samplerate must be more than 0.");
    }
    if (!std::isfinite(offset)) {
        throw std::invalid_argument("Initial offset must be a finite number.");
    }
}

}  // namespace

ResamplerChannelGroup* Resampler::createRatedGroup(double rate, double offset, int32_t timing) {
    groups.push_back(std::make_shared<ResamplerChannelGroup>());
    ResamplerChannelGroup& group = *groups.back();
    group.setSamplerate(rate);
    group.setInitialOffset(offset);
    group.setTiming(timing);
    update();
    return &group;
}

ResamplerChannelGroup* Resampler::createSyncGroup(double rate, double offset) {
    return createRatedGroup(rate, offset, RateDefined);
}

ResamplerChannelGroup* Resampler::createAsyncRateGroup(double rate, double offset) {
    return createRatedGroup(rate, offset, Timestamped);
}

ResamplerChannelGroup* Resampler::createAsyncGroup() {
    groups.push_back(std::make_shared<ResamplerChannelGroup>());
    ResamplerChannelGroup& group = *groups.back();
    group.setTiming(Timestamped);
    update();
    return &group;
}

ResamplerChannel* Resampler::addChannel(ResamplerChannelGroup& group) {
    ResamplerChannel& channel = group.addChannel();
    channel.resizeBuffers(group.getInputBufferSize(), group.getOutputBufferSize());
    channel.setIsArray(0);
    channel.setArraySize(1);
    if (group.getOutputBufferSize() == 0) {
        throw std::invalid_argument("Output buffer to small.");
    }
    return &channel;
}

ResamplerChannelGroup* Resampler::findGroup(double rate, double offset) const {
    for (const auto& group : groups) {
        if (std::abs(group->getSamplerate() - rate) <= kMachineEpsilon &&
            std::abs(offset - group->getInitialOffset()) <= kMachineEpsilon) {
            return group.get();
        }
    }
    return nullptr;
}

ResamplerChannel* Resampler::registerRated(double rate, double offset, bool synchronous,
                                           int64_t count, double start, double end, bool hasRange) {
    checkRateAndOffset(rate, offset);
    RegistrationRollback rollback(groups);
    ResamplerChannelGroup* group = findGroup(rate, offset);
    ResamplerChannel* channel = nullptr;
    if (group != nullptr) {
        rollback.joining(*group);
        channel = addChannel(*group);
    } else {
        group = synchronous ? createSyncGroup(rate, offset) : createAsyncRateGroup(rate, offset);
        channel = addChannel(*group);
        if (hasRange) {
            group->declareRange(start, end);
        } else {
            group->declareSampleCount(count);
        }
    }
    update();
    channelGroups[channel] = group;
    rollback.commit();
    return channel;
}

ResamplerChannel* Resampler::addSyncChannel(double rate, double offset, int64_t count) {
    return registerRated(rate, offset, true, count, -1.0, -1.0, false);
}

ResamplerChannel* Resampler::addSyncChannel2(double rate, double /*unusedOffset*/, double start,
                                             double end) {
    return registerRated(rate, initialOffset, true, 0, start, end, true);
}

ResamplerChannel* Resampler::addAsyncChannel2(double rate, double offset, int64_t count) {
    return registerRated(rate, offset, false, count, -1.0, -1.0, false);
}

ResamplerChannel* Resampler::addAsyncChannel3(double rate, double offset, double start,
                                              double end) {
    return registerRated(rate, offset, false, 0, start, end, true);
}

ResamplerChannel* Resampler::addAsyncChannel() {
    RegistrationRollback rollback(groups);
    ResamplerChannelGroup* group = createAsyncGroup();
    ResamplerChannel* channel = addChannel(*group);
    update();
    channelGroups[channel] = group;
    rollback.commit();
    return channel;
}

ResamplerChannel* Resampler::addNamedAsyncChannel(const std::string& groupName) {
    RegistrationRollback rollback(groups);
    ResamplerChannelGroup* group = nullptr;
    for (const auto& candidate : groups) {
        if (candidate->getName() == groupName) {
            group = candidate.get();
            break;
        }
    }
    if (group != nullptr) {
        rollback.joining(*group);
    } else {
        group = createAsyncGroup();
        group->setName(groupName);
    }
    ResamplerChannel* channel = addChannel(*group);
    update();
    channelGroups[channel] = group;
    rollback.commit();
    return channel;
}

ResamplerChannel* Resampler::addAsyncArrayChannel(const int32_t& isArray, int32_t arraySize,
                                                  double startTime, double endTime) {
    RegistrationRollback rollback(groups);
    ResamplerChannelGroup* group = createAsyncGroup();
    ResamplerChannel* channel = &group->addChannel();
    channel->resizeBuffers(group->getInputBufferSize(), group->getOutputBufferSize());
    channel->setIsArray(isArray);
    channel->setArraySize(arraySize);

    // A refused size keeps the group and channel registered; they take part in nothing.
    const auto widenedSize = static_cast<uint64_t>(static_cast<int64_t>(arraySize));
    const char* refusal = nullptr;
    if (group->getOutputBufferSize() < widenedSize) {
        refusal = "Output buffer to small.";
    } else if (group->getInputBufferSize() / 2 < widenedSize) {
        refusal = "Input buffer to small.";
    }
    if (refusal != nullptr) {
        channel->makeInert();
        group->makeInert();
        channelGroups[channel] = group;
        rollback.commit();
        throw std::invalid_argument(refusal);
    }
    group->declareRange(startTime, endTime);
    update();
    channelGroups[channel] = group;
    rollback.commit();
    return channel;
}

}  // namespace Karvel::Tamlib::Resampler
