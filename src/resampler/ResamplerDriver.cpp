// The calculate pass: prepare the groups, extend the master times, run each group's step, fill
// gaps. Rate-defined groups get their time stamps from generateTimeStamps, which stays in
// ResamplerInput.cpp beside storeGeneratedTimes, the ring write it shares with addData.
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "resampler/MasterGrid.h"
#include "resampler/Resampler.h"

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

void Resampler::initialize() {
    checkOutputParameters();
    for (const auto& group : groups) {
        group->expectOutputsAt(samplerate, false);
    }
    epsilon = customEpsilon < 0.0 ? (1.0 / samplerate) * 0.001 : customEpsilon;
    noMoreData = false;
    touchRings();
}

void Resampler::touchRings() {
    masterTimes.touch();
    for (const auto& group : groups) {
        group->touchRings();
    }
}

void Resampler::calculate() {
    ringsHoldNothing = false;
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
        if (group.isInert() || group.getChannels().empty()) {
            continue;
        }
        if (isSynchronousWithOutput(group)) {
            copySynchronousGroup(group);
        } else {
            resampleGroup(group);
        }
        if (waitedTooLong(group)) {
            fillGap(group);
        } else if (noMoreData && !group.isEndOfDataDone()) {
            fillGap(group);
        }
    }
    masterTimesStartPending = false;
    finishPass();
}

void Resampler::prepareGroups() {
    for (const auto& groupPointer : groups) {
        ResamplerChannelGroup& group = *groupPointer;
        group.startPass();
        const auto& channels = group.getChannels();
        for (const auto& channel : channels) {
            if (channel->getSamplesAdded() != channels.front()->getSamplesAdded()) {
                throw std::invalid_argument(
                    "All channels must have the same number of samples added.");
            }
        }
        if (group.getTiming() == RateDefined) {
            generateTimeStamps(group);
        }
        for (const auto& channel : channels) {
            channel->clearSamplesAdded();
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
        double v = group->getInputBufferSize() == 0 ? kSmallestNormal : group->newestInputTime();
        for (const auto& channel : group->getChannels()) {
            if (std::isfinite(channel->getBlockEndTimeInMiliseconds())) {
                v = kMillisecondsToSeconds * channel->getBlockEndTimeInMiliseconds();
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
        masterTimes.writeSlot() == 0 && (masterTimesStartPending || masterTimes.written() == 0);
    double seed = initialOffset;
    if (seeding) {
        seed = std::max(seed, 0.0);
        for (const auto& group : groups) {
            seed = std::max(seed, group->getInitialOffset());
        }
        if (seed == 0.0) {
            seed = 0.0;  // -0.0 and 0.0 compare equal; the grid starts at +0.0
        }
    }
    const double newest = seeding ? seed : newestMasterTime();
    const double steps = std::round((target - newest) / dt);
    const double appended = seeding ? steps + 1.0 : steps;
    if (std::isnan(steps) || appended > static_cast<double>(masterTimes.size())) {
        // The pass would overwrite master times that no group has read yet, the seed included.
        throw std::invalid_argument("Output buffer to small.");
    }
    if (seeding) {
        masterTimes.push(seed);
    }
    if (!(steps > 0.0)) {
        return;
    }
    // Each time is the previous one plus dt, so that the grid is summed the same way whatever
    // the passes. The check above keeps count within the ring, so every time is written.
    double time = newest;
    masterTimes.append(static_cast<uint64_t>(steps), [&](double* at, uint64_t, uint64_t length) {
        sumGrid(at, length, time, dt, writeGrid);
    });
}

bool Resampler::hasUnsupportedChannel() const {
    for (const auto& group : groups) {
        for (const auto& channel : group->getChannels()) {
            if (!channel->hasRings() || isChannelUnsupported(*channel)) {
                return true;
            }
        }
    }
    return false;
}

void Resampler::copySynchronousGroup(ResamplerChannelGroup& group) {
    group.skipOverwrittenInput();
    const uint64_t count = std::min(group.getPendingCount(), masterTimesAvailable(group));
    if (count == 0) {
        return;
    }
    // Input and output slots advance together, so each channel goes over in the runs between
    // the wraps of its two rings.
    const uint64_t inputSize = group.getInputBufferSize();
    const uint64_t outputSize = group.getOutputBufferSize();
    const uint64_t firstInput = group.getInputReadIndex();
    const uint64_t firstOutput = group.getOutputWriteIndex();
    for (const auto& channel : group.getChannels()) {
        if (channel->getArraySize() == 1 && channel->getInputCapacity() == inputSize &&
            channel->getOutputCapacity() == outputSize) {
            channel->inputValues().copyTo(firstInput, channel->outputValues(), firstOutput, count);
            continue;
        }
        uint64_t input = firstInput;
        uint64_t output = firstOutput;
        for (uint64_t k = 0; k < count; ++k) {
            channel->copySample(input, output);
            input = input + 1 >= inputSize ? 0 : input + 1;
            output = output + 1 >= outputSize ? 0 : output + 1;
        }
    }
    group.takeMasterTimes(masterTimes, count);
    group.consumeInput(count);
}

bool Resampler::waitedTooLong(const ResamplerChannelGroup& group) const {
    if (!std::isfinite(maxWaitTimeInMs) || group.getInputBufferSize() == 0) {
        return false;
    }
    const auto& channels = group.getChannels();
    double smallest = channels.empty() ? kNoBlockEndMs : std::numeric_limits<double>::infinity();
    for (const auto& channel : channels) {
        const double blockEndMs = channel->getBlockEndTimeInMiliseconds();
        if (!std::isfinite(blockEndMs)) {
            return false;
        }
        smallest = std::min(smallest, blockEndMs);
    }
    return smallest - group.newestInputTime() * 1000.0 > maxWaitTimeInMs;
}

void Resampler::fillGap(ResamplerChannelGroup& group) {
    // Holding the newest stamp needs its values; values that ran a ring past it have none.
    if (!group.hasStoredSample() || group.getInputBufferSize() == 0 ||
        group.valuesOverranStamps()) {
        return;
    }
    double limit = 0.0;
    if (noMoreData) {
        limit = kMillisecondsToSeconds * noMoreDataTime;
    } else {
        double smallest = kNoBlockEndMs;
        bool anyFinite = false;
        for (const auto& channel : group.getChannels()) {
            const double blockEndMs = channel->getBlockEndTimeInMiliseconds();
            if (std::isfinite(blockEndMs)) {
                smallest = anyFinite ? std::min(smallest, blockEndMs) : blockEndMs;
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
        const uint64_t next = group.getMasterTimesReadIndex();
        const double previous = group.hasProducedOutput() ? masterTimes[masterTimes.back(next, 1)]
                                                          : masterTimes[next] - 1.0 / samplerate;
        const double steps = std::floor((limit - previous) * samplerate);
        uint64_t count = 0;
        if (steps > 0.0) {
            count =
                steps >= static_cast<double>(available) ? available : static_cast<uint64_t>(steps);
        }
        for (uint64_t k = 0; k < count; ++k) {
            const double time = masterTimes[group.getMasterTimesReadIndex()];
            for (const auto& channel : group.getChannels()) {
                channel->copySample(newest, group.getOutputWriteIndex());
            }
            produceOutput(group, time);
        }
    }
    group.setNewestInputTime(limit);
}

}  // namespace Karvel::Tamlib::Resampler
