// The calculate pass: prepare the groups, extend the master times, run each group's step, fill
// gaps. Rate-defined groups get their time stamps from generateTimeStamps, which stays in
// ResamplerInput.cpp beside storeGeneratedTimes, the ring write it shares with addData.
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "dsp/CheckedConversion.h"
#include "resampler/Resampler.h"
#include "resampler/Ring.h"

namespace Karvel::Tamlib::Resampler {

namespace {

constexpr double kSmallestNormal = 2.2250738585072014e-308;
constexpr double kMillisecondsToSeconds = 0.001;
constexpr double kNoBlockEndMs = 2147483647.0;

}  // namespace

void Resampler::checkOutputParameters() const {
    if (!std::isfinite(samplerate) || !(samplerate > 0.0)) {
        throw std::invalid_argument("Samplerate must be a finite positive number.");
    }
    if (!std::isfinite(initialOffset)) {
        throw std::invalid_argument("Initial offset must be a finite number.");
    }
}

uint64_t Resampler::expectedOutputCountOf(const ResamplerChannelGroup& group, bool roundUp) const {
    double count = 0.0;
    if (group.startTime == -1.0 && group.endTime == -1.0) {
        const double product = static_cast<double>(static_cast<uint64_t>(group.sampleCount)) *
                               (samplerate / group.samplerate);
        count = roundUp ? std::ceil(product) : std::round(product);
    } else {
        count = std::floor((group.endTime - group.startTime) * samplerate) + 1.0;
    }
    // A count that no integer can hold means no meaningful expectation.
    return Dsp::truncateChecked<uint64_t>(count).value_or(0);
}

void Resampler::initialize() {
    checkOutputParameters();
    for (const auto& group : groups) {
        group->expectedOutputCount = expectedOutputCountOf(*group, false);
    }
    epsilon = customEpsilon < 0.0 ? (1.0 / samplerate) * 0.001 : customEpsilon;
    noMoreData = false;
}

void Resampler::calculate() {
    checkOutputParameters();
    prepareGroups();
    if (timeBase == Implicit) {
        extendMasterTimes();
    }
    if (hasUnsupportedChannel()) {
        return;
    }
    for (size_t i = 0; i < groups.size(); ++i) {
        ResamplerChannelGroup& group = *groups[i];
        if (group.inert || group.channels.empty()) {
            continue;
        }
        if (isSynchronousWithOutput(group)) {
            copySynchronousGroup(group);
        } else {
            resampleGroup(group);
        }
        if (waitedTooLong(group)) {
            fillGap(group);
        } else if (noMoreData && !group.endOfDataDone) {
            fillGap(group);
        }
    }
    masterTimesStartPending = false;
    finishPass();
}

void Resampler::prepareGroups() {
    for (const auto& groupPointer : groups) {
        ResamplerChannelGroup& group = *groupPointer;
        group.resampledCount = 0;
        for (const auto& channel : group.channels) {
            if (channel->samplesAdded != group.channels.front()->samplesAdded) {
                throw std::invalid_argument(
                    "All channels must have the same number of samples added.");
            }
        }
        if (group.timing == RateDefined) {
            generateTimeStamps(group);
        }
        for (const auto& channel : group.channels) {
            channel->samplesAdded = 0;
        }
    }
}

void Resampler::extendMasterTimes() {
    if (masterTimes.empty()) {
        // No registration has built the rings yet: there is no grid to extend.
        return;
    }
    double target = kSmallestNormal;
    for (const auto& group : groups) {
        double v = group->inputBufferSize == 0 ? kSmallestNormal : group->newestInputTime();
        for (const auto& channel : group->channels) {
            if (std::isfinite(channel->blockEndTimeInMiliseconds)) {
                v = kMillisecondsToSeconds * channel->blockEndTimeInMiliseconds;
            }
        }
        if (noMoreData) {
            v = kMillisecondsToSeconds * noMoreDataTime;
        }
        target = std::max(target, v);
    }
    if (epsilon >= std::abs(target)) {
        target = 0.0;
    }
    const double dt = 1.0 / samplerate;

    // The grid starts at the latest of all offsets; nothing was written since the rings were
    // rebuilt when the write count is 0.
    const bool seeding =
        masterTimesWriteIndex == 0 && (masterTimesStartPending || masterTimesWritten == 0);
    double seed = initialOffset;
    if (seeding) {
        seed = std::max(seed, 0.0);
        for (const auto& group : groups) {
            seed = std::max(seed, group->initialOffset);
        }
        if (seed == 0.0) {
            seed = 0.0;  // -0.0 and 0.0 compare equal; the grid starts at +0.0
        }
    }
    const double newest = seeding ? seed : newestMasterTime();
    const double steps = std::round((target - newest) / dt);
    const double appended = seeding ? steps + 1.0 : steps;
    if (std::isnan(steps) || appended > static_cast<double>(outputBufferSize)) {
        // The pass would overwrite master times that no group has read yet, the seed included.
        throw std::invalid_argument("Output buffer to small.");
    }
    if (seeding) {
        appendMasterTime(seed);
    }
    if (!(steps > 0.0)) {
        return;
    }
    // Each time is the previous one plus dt, so that the grid is summed the same way whatever
    // the passes; the ring position stays in a local for the loop.
    const auto count = static_cast<uint64_t>(steps);
    const uint64_t size = outputBufferSize;
    double* ring = masterTimes.data();
    uint64_t index = masterTimesWriteIndex;
    double time = newest;
    for (uint64_t k = 0; k < count; ++k) {
        time = time + dt;
        ring[index] = time;
        index = index + 1 >= size ? 0 : index + 1;
    }
    masterTimesWriteIndex = index;
    masterTimesWritten += count;
}

bool Resampler::hasUnsupportedChannel() const {
    for (const auto& group : groups) {
        for (const auto& channel : group->channels) {
            if (channel->inputBuffer.empty() || isChannelUnsupported(*channel)) {
                return true;
            }
        }
    }
    return false;
}

void Resampler::copySynchronousGroup(ResamplerChannelGroup& group) {
    skipOverwrittenInput(group);
    const uint64_t count = std::min(group.pendingCount, masterTimesAvailable(group));
    if (count == 0) {
        return;
    }
    // Input and output slots advance together, so each channel goes over in the runs between
    // the wraps of its two rings.
    const uint64_t inputSize = group.inputBufferSize;
    const uint64_t outputSize = group.outputBufferSize;
    for (const auto& channel : group.channels) {
        if (channel->arraySize == 1 && channel->inputCapacity == inputSize &&
            channel->outputCapacity == outputSize) {
            Ring::copyAcross(channel->inputBuffer.data(), inputSize, group.inputReadIndex,
                             channel->outputBuffer.data(), outputSize, group.outputWriteIndex,
                             count);
            continue;
        }
        uint64_t input = group.inputReadIndex;
        uint64_t output = group.outputWriteIndex;
        for (uint64_t k = 0; k < count; ++k) {
            copySample(*channel, input, output);
            input = input + 1 >= inputSize ? 0 : input + 1;
            output = output + 1 >= outputSize ? 0 : output + 1;
        }
    }
    Ring::copyAcross(masterTimes.data(), outputBufferSize, group.masterTimesReadIndex,
                     group.outputTimes.data(), outputSize, group.outputWriteIndex, count);
    group.inputReadIndex = (group.inputReadIndex + count % inputSize) % inputSize;
    group.pendingCount -= count;
    group.masterTimesReadIndex =
        (group.masterTimesReadIndex + count % outputBufferSize) % outputBufferSize;
    group.masterTimesRead += count;
    group.outputWriteIndex = (group.outputWriteIndex + count % outputSize) % outputSize;
    group.resampledCount += count;
    group.hasProduced = true;
}

bool Resampler::waitedTooLong(const ResamplerChannelGroup& group) const {
    if (!std::isfinite(maxWaitTimeInMs) || group.inputBufferSize == 0) {
        return false;
    }
    double smallest =
        group.channels.empty() ? kNoBlockEndMs : std::numeric_limits<double>::infinity();
    for (const auto& channel : group.channels) {
        if (!std::isfinite(channel->blockEndTimeInMiliseconds)) {
            return false;
        }
        smallest = std::min(smallest, channel->blockEndTimeInMiliseconds);
    }
    return smallest - group.newestInputTime() * 1000.0 > maxWaitTimeInMs;
}

void Resampler::fillGap(ResamplerChannelGroup& group) {
    // Holding the newest stamp needs its values; values that ran a ring past it have none.
    if (!group.hasStoredSample || group.inputBufferSize == 0 || group.valuesOverranStamps()) {
        return;
    }
    double limit = 0.0;
    if (noMoreData) {
        limit = kMillisecondsToSeconds * noMoreDataTime;
    } else {
        double smallest = kNoBlockEndMs;
        bool anyFinite = false;
        for (const auto& channel : group.channels) {
            if (std::isfinite(channel->blockEndTimeInMiliseconds)) {
                smallest = anyFinite ? std::min(smallest, channel->blockEndTimeInMiliseconds)
                                     : channel->blockEndTimeInMiliseconds;
                anyFinite = true;
            }
        }
        if (!masterTimesStartPending) {
            smallest = smallest - maxWaitTimeInMs;
        }
        limit = smallest * kMillisecondsToSeconds;
    }
    if (!std::isfinite(limit)) {
        return;
    }
    const uint64_t newest = group.newestInputSlot();
    uint64_t available = masterTimesAvailable(group);
    if (available > 0) {
        // The last output of the group, or one period before its first when it has none yet.
        const double previous =
            group.hasProduced ? masterTimes[(group.masterTimesReadIndex + outputBufferSize - 1) %
                                            outputBufferSize]
                              : masterTimes[group.masterTimesReadIndex] - 1.0 / samplerate;
        const double steps = std::floor((limit - previous) * samplerate);
        uint64_t count = 0;
        if (steps > 0.0) {
            count =
                steps >= static_cast<double>(available) ? available : static_cast<uint64_t>(steps);
        }
        for (uint64_t k = 0; k < count; ++k) {
            const double time = masterTimes[group.masterTimesReadIndex];
            for (const auto& channel : group.channels) {
                copySample(*channel, newest, group.outputWriteIndex);
            }
            produceOutput(group, time);
        }
    }
    group.inputTimes[newest] = limit;
}

}  // namespace Karvel::Tamlib::Resampler
