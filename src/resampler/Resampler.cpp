#include "resampler/Resampler.h"

#include <stdexcept>

namespace Karvel::Tamlib::Resampler {

namespace {

// Largest ring a std::vector<double> can hold.
bool ringCanExist(uint64_t size) {
    return size <= std::vector<double>().max_size();
}

}  // namespace

Resampler::~Resampler() {
    groups.clear();
}

void Resampler::setSamplerate(double value) {
    if (0.0 >= value) {
        throw std::invalid_argument("Samplerate must be a positive number.");
    }
    samplerate = value;
}

void Resampler::setInputBufferSize(uint64_t size) {
    if (size == 0) {
        throw std::invalid_argument("Input buffer size must be more than 0.");
    }
    // Two spare entries; a size that would wrap or cannot be allocated is refused.
    if (size > std::numeric_limits<uint64_t>::max() - 2 || !ringCanExist(size + 2)) {
        throw std::invalid_argument("Buffer size too large.");
    }
    const uint64_t previous = inputBufferSize;
    inputBufferSize = size + 2;
    try {
        update();
    } catch (...) {
        inputBufferSize = previous;
        throw;
    }
}

void Resampler::setOutputBufferSize(uint64_t size) {
    if (size == 0) {
        throw std::invalid_argument("Output buffer size must be more than 0.");
    }
    if (!ringCanExist(size)) {
        throw std::invalid_argument("Buffer size too large.");
    }
    const uint64_t previous = outputBufferSize;
    outputBufferSize = size;
    try {
        update();
    } catch (...) {
        outputBufferSize = previous;
        throw;
    }
}

void Resampler::setTimeBase(const int32_t& value) {
    timeBase = value;
}

void Resampler::setSidelobeAttenuationInDB(double value) {
    if (0.0 > value || value > 400.0) {
        throw std::invalid_argument(
            "Sidelobe attenuation must be more than 0Db and less than 400dB.");
    }
    sidelobeAttenuationInDB = value;
}

void Resampler::setTransitionBandwithPercent(int32_t value) {
    if (value < 10 || value > 100) {
        throw std::invalid_argument(
            "Transition bandwith must be more than 10% and less than 100%.");
    }
    transitionBandwithPercent = value;
}

void Resampler::recompute() {
    // Every new ring is allocated before any old one is given up, so a failed allocation leaves
    // the resampler exactly as it was.
    // Rings that still hold only zeros and keep their size are kept: registering channel after
    // channel would otherwise zero every earlier channel's rings again each time.
    const auto keeps = [&](uint64_t inputSize, uint64_t outputSize) {
        return ringsHoldNothing && inputSize == inputBufferSize && outputSize == outputBufferSize;
    };
    const bool keepMasterTimes = ringsHoldNothing && masterTimes.size() == outputBufferSize;
    Ring newMasterTimes(keepMasterTimes ? 0 : outputBufferSize);
    std::vector<Ring> groupRings;
    std::vector<Ring> channelRings;
    for (const auto& group : groups) {
        if (!keeps(group->getInputBufferSize(), group->getOutputBufferSize())) {
            groupRings.emplace_back(inputBufferSize);
            groupRings.emplace_back(outputBufferSize);
        }
        for (const auto& channel : group->getChannels()) {
            if (!keeps(channel->getInputCapacity(), channel->getOutputCapacity())) {
                channelRings.emplace_back(inputBufferSize);
                channelRings.emplace_back(outputBufferSize);
            }
        }
    }

    if (!keepMasterTimes) {
        masterTimes.takeSlots(newMasterTimes);
    }
    size_t groupRing = 0;
    size_t channelRing = 0;
    for (const auto& group : groups) {
        if (keeps(group->getInputBufferSize(), group->getOutputBufferSize())) {
            group->keepRings();
        } else {
            group->adoptRings(groupRings[groupRing], groupRings[groupRing + 1]);
            groupRing += 2;
        }
        for (const auto& channel : group->getChannels()) {
            if (keeps(channel->getInputCapacity(), channel->getOutputCapacity())) {
                channel->keepRings();
            } else {
                channel->adoptRings(channelRings[channelRing], channelRings[channelRing + 1]);
                channelRing += 2;
            }
        }
    }
    masterTimes.setWriteSlot(0);
    masterTimes.restartCount();
    masterTimesStartPending = true;
    ringsHoldNothing = true;
}

bool Resampler::isChannelUnsupported(const ResamplerChannel& /*channel*/) const {
    return false;
}

void Resampler::resampleGroup(ResamplerChannelGroup& /*group*/) {}

bool Resampler::isSynchronousWithOutput(const ResamplerChannelGroup& group) const {
    return timeBase == Implicit && group.getTiming() == RateDefined &&
           samplerate == group.getSamplerate();
}

ResamplerChannelGroup* Resampler::findGroupOfChannel(const ResamplerChannel* channel) const {
    const auto found = channelGroups.find(channel);
    return found == channelGroups.end() ? nullptr : found->second;
}

}  // namespace Karvel::Tamlib::Resampler
