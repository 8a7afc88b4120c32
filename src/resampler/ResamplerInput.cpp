#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "resampler/Resampler.h"
#include "resampler/StampChecks.h"

namespace Karvel::Tamlib::Resampler {

namespace {

// Whether the channel's stamps must repeat those the time master stored: a rate-defined group
// keeps only the master's.
bool repeatsTimeMaster(const ResamplerChannelGroup& group, const ResamplerChannel& channel) {
    return group.followsTimeMaster(channel) && group.getTiming() != RateDefined;
}

}  // namespace

void Resampler::addData(ResamplerChannel& channel, const double* data, uint64_t count) {
    ringsHoldNothing = false;
    if (count == 0 || channel.isInert()) {
        return;
    }
    if (channel.getInputCapacity() == 0) {
        throw std::invalid_argument("Input buffer to small.");
    }
    channel.appendValues(data, count);
}

void Resampler::addTimes(ResamplerChannel& channel, const double* times, uint64_t count) {
    ringsHoldNothing = false;
    if (count == 0) {
        return;
    }
    ResamplerChannelGroup* group = findGroupOfChannel(&channel);
    if (group == nullptr || group->isInert()) {
        return;
    }
    // The stamps that repeat the time master's are tested for finiteness in the same pass as
    // they are compared (storeTimeBlock), with the same message first.
    const bool repeated = repeatsTimeMaster(*group, channel) && group->getInputBufferSize() > 0;
    if (!repeated && !allFinite(times, count)) {
        throw std::invalid_argument("Invalid timestamps.");
    }
    if (group->getInputBufferSize() == 0) {
        throw std::invalid_argument("Input buffer to small.");
    }
    storeTimeBlock(*group, channel, times, count);
}

void Resampler::addMasterTimes(const double* times, uint64_t count) {
    ringsHoldNothing = false;
    if (count == 0) {
        return;
    }
    if (!allFinite(times, count)) {
        throw std::invalid_argument("Invalid timestamps.");
    }
    // Before the first registration there is no ring; the one it builds starts empty anyway.
    if (masterTimes.empty()) {
        return;
    }
    masterTimes.append(times, count);
}

void Resampler::addBlockEndTimeInMiliseconds(ResamplerChannel& channel, double timeInMs) {
    if (std::isnan(timeInMs) || timeInMs == -std::numeric_limits<double>::infinity()) {
        throw std::invalid_argument("Block end time must be a number or positive infinity.");
    }
    channel.setBlockEndTimeInMiliseconds(timeInMs);
}

void Resampler::noMoreDataToAdd(double timeInMs) {
    ringsHoldNothing = false;
    if (!std::isfinite(timeInMs)) {
        throw std::invalid_argument("End time must be a finite number.");
    }
    noMoreDataTime = timeInMs;
    noMoreData = true;
}

void Resampler::storeTimeBlock(ResamplerChannelGroup& group, ResamplerChannel& channel,
                               const double* times, uint64_t count) {
    if (group.followsTimeMaster(channel)) {
        if (!repeatsTimeMaster(group, channel)) {
            return;
        }
        // Every stamp but the first of the block must repeat what the time master stored: stamp
        // k against slot (write index - count + k) mod size, compared in contiguous runs.
        const Ring& stored = group.inputTimeRing();
        bool finite = std::isfinite(times[0]);
        bool matching = true;
        if (count > 1) {
            const uint64_t second = stored.advance(stored.back(stored.writeSlot(), count), 1);
            stored.forEachRun(second, count - 1, [&](uint64_t slot, uint64_t done, uint64_t run) {
                const RepeatedStamps checked =
                    compareStamps(times + 1 + done, stored.data() + slot, run, kMachineEpsilon);
                finite &= checked.finite;
                matching &= checked.matching;
            });
        }
        if (!finite) {
            throw std::invalid_argument("Invalid timestamps.");
        }
        if (!matching) {
            throw std::invalid_argument("Timestamps do not match.");
        }
        return;
    }
    if (group.getTiming() == Timestamped && method != AliasFree &&
        group.newestStampAfter(times[0])) {
        throw std::invalid_argument("Invalid timestamps.");
    }
    group.appendStamps(channel, times, count);
}

void Resampler::storeGeneratedTimes(ResamplerChannelGroup& group, ResamplerChannel& channel,
                                    double t0, uint64_t count) {
    const double dt = 1.0 / group.getSamplerate();
    if (group.getTiming() == RateDefined) {
        // Only the time master's block is kept, and of a long block only what the ring holds:
        // the stamps are written straight into the ring, without a scratch copy.
        if (group.followsTimeMaster(channel)) {
            return;
        }
        group.appendStamps(channel, count, [&](double* stamps, uint64_t first, uint64_t run) {
            writeStamps(stamps, first, run, dt, t0);
        });
        return;
    }
    double* stamps = group.generatedStamps(count);
    writeStamps(stamps, 0, count, dt, t0);
    if (count == 0) {
        if (group.getTimeMasterChannel() == nullptr) {
            group.setTimeMasterChannel(channel);
        }
        return;
    }
    storeTimeBlock(group, channel, stamps, count);
}

void Resampler::generateTimeStamps(ResamplerChannelGroup& group) {
    const auto& channels = group.getChannels();
    if (group.getInputBufferSize() == 0 || channels.empty() || group.isInert()) {
        return;
    }
    uint64_t m = 2147483647;
    for (const auto& channel : channels) {
        m = std::min(m, channel->getSamplesAdded());
    }
    if (group.awaitsFirstBlock()) {
        // The first block starts only once a sample is there.
        if (m == 0) {
            return;
        }
        group.storeFirstStamp();
        for (const auto& channel : channels) {
            storeGeneratedTimes(group, *channel, group.getInitialOffset(), m - 1);
        }
    } else {
        const double t0 = group.newestInputTime();
        for (const auto& channel : channels) {
            storeGeneratedTimes(group, *channel, t0, m);
        }
    }
    group.endFirstBlock();
}

}  // namespace Karvel::Tamlib::Resampler
