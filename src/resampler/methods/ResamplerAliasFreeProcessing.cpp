#include <algorithm>
#include <cmath>
#include <cstdint>

#include "resampler/methods/ResamplerAliasFree.h"

namespace Karvel::Tamlib::Resampler {

namespace {

// Start alignment beyond this many output periods is done in one jump instead of one period
// at a time, so that a first master time far from 0 cannot stall a pass.
constexpr double kAlignmentStepLimit = 16777216.0;

}  // namespace

uint64_t ResamplerAliasFree::storedTotal(const ResamplerChannelGroup& group,
                                         const PolyphaseFilter& filter) const {
    return static_cast<uint64_t>(filter.inputIndex) + group.getPendingCount() - filter.deficit;
}

void ResamplerAliasFree::consumePending(ResamplerChannelGroup& group, PolyphaseFilter& filter,
                                        uint64_t count) {
    // Input the window has passed but that has not arrived yet is owed by the next input.
    const uint64_t taken = group.consumePending(count);
    filter.deficit += count - taken;
}

void ResamplerAliasFree::settleDeficit(ResamplerChannelGroup& group, PolyphaseFilter& filter) {
    uint64_t& deficit = filter.deficit;
    deficit -= group.consumePending(deficit);
}

void ResamplerAliasFree::advancePosition(ResamplerChannelGroup& group, PolyphaseFilter& filter) {
    advancePositionBy(group, filter, 1);
}

double ResamplerAliasFree::polyphaseDotProduct(const ResamplerChannelGroup& group,
                                               const PolyphaseFilter& filter,
                                               const ResamplerChannel& channel) const {
    const uint64_t taps = filter.taps;
    if (taps == 0) {
        return 0.0;
    }
    const uint64_t size = group.getInputBufferSize();
    uint64_t slot = static_cast<uint64_t>(filter.inputIndex) % size;
    const uint64_t up = filter.up;
    // The oldest sample meets the last coefficient of the branch; summed oldest to newest, one
    // addition after another: the order fixes the last bit.
    const float* coefficient = filter.coefficients.data() + filter.phase + up * (taps - 1);
    const double* values = channel.inputValues().data();
    double sum = 0.0;
    for (uint64_t j = 0; j < taps; ++j) {
        sum += static_cast<double>(*coefficient) * values[slot];
        coefficient -= up;
        if (++slot >= size) {
            slot = 0;
        }
    }
    return sum;
}

void ResamplerAliasFree::skipOverwrittenFilterInput(ResamplerChannelGroup& group,
                                                    PolyphaseFilter& filter) {
    const uint64_t capacity = group.intactSampleCount();
    if (group.getPendingCount() <= capacity) {
        return;
    }
    // Go on from the oldest sample whose value and time stamp are still stored, keeping the
    // phase.
    const uint64_t skipped = group.getPendingCount() - capacity;
    filter.inputIndex += static_cast<int64_t>(skipped);
    filter.position += skipped * filter.up;
    group.consumePending(skipped);
}

void ResamplerAliasFree::alignStart(ResamplerChannelGroup& group, PolyphaseFilter& filter) {
    if (!filter.alignmentPending || masterTimesAvailable(group) == 0) {
        return;
    }
    filter.alignmentPending = false;
    // The group moves ahead by the output periods, summed from 0, that reach its first master
    // time; no output is produced.
    const double firstTime = masterTimes[group.getMasterTimesReadIndex()];
    const double dt = 1.0 / samplerate;
    // Positions stay below 2^62, far beyond any stream, so no jump can wrap them.
    const uint64_t positionRoom =
        (uint64_t{1} << 62) - std::min(filter.position, uint64_t{1} << 62);
    const double reachable = static_cast<double>(positionRoom / filter.down);
    const double periods = firstTime / dt;
    double reached = 0.0;
    if (periods > kAlignmentStepLimit) {
        if (!(periods < reachable)) {
            // A first time this far out is never reached by any input: the group waits for
            // input it will not get rather than counting periods for ever.
            advancePositionBy(group, filter, static_cast<uint64_t>(reachable));
            return;
        }
        const auto steps = static_cast<uint64_t>(std::floor(periods) - 16.0);
        advancePositionBy(group, filter, steps);
        reached = static_cast<double>(steps) * dt;
    }
    // Summed one period at a time from where the jump left off. A period below the resolution
    // of the first time (an output rate changed after start) would never get there.
    for (uint64_t step = 0; firstTime > reached && step < 2 * uint64_t{16777216}; ++step) {
        advancePosition(group, filter);
        const double next = reached + dt;
        if (next == reached) {
            break;
        }
        reached = next;
    }
}

void ResamplerAliasFree::produceFiltered(ResamplerChannelGroup& group, PolyphaseFilter& filter) {
    const uint64_t taps = filter.taps;
    const bool batched = kernel->channelLanes != nullptr && taps > 0;
    if (batched) {
        prepareBatches(group, filter);
    }
    uint64_t available = masterTimesAvailable(group);
    while (group.getPendingCount() >= taps) {
        if (filter.flushing && filter.delayCount < 1) {
            break;
        }
        // Warm-up: outputs before the response centre meets the first sample are dropped and
        // belong to no master time.
        if (filter.delayCount > static_cast<int32_t>(filter.skippedOutputs)) {
            ++filter.skippedOutputs;
            advancePosition(group, filter);
            continue;
        }
        if (available == 0) {
            break;
        }
        if (!batched) {
            produceOneOutput(group, filter);
            --available;
            continue;
        }
        uint64_t limit = available;
        if (filter.flushing) {
            limit = std::min(limit, static_cast<uint64_t>(filter.delayCount));
        }
        uint64_t produced = produceBatch(group, filter, limit);
        if (produced == 0) {
            // More pending than the ring holds can leave no window for a batch; the reference
            // path reads the ring as it is.
            produceOneOutput(group, filter);
            produced = 1;
        }
        available -= produced;
    }
}

void ResamplerAliasFree::produceOneOutput(ResamplerChannelGroup& group, PolyphaseFilter& filter) {
    const double time = masterTimes[group.getMasterTimesReadIndex()];
    const uint64_t outputSlot = group.getOutputWriteIndex();
    for (const auto& channel : group.getChannels()) {
        channel->outputValues()[outputSlot] = polyphaseDotProduct(group, filter, *channel);
    }
    produceOutput(group, time);
    advancePosition(group, filter);
    if (filter.flushing) {
        --filter.delayCount;
    }
}

void ResamplerAliasFree::growInputRings(ResamplerChannelGroup& group, PolyphaseFilter& filter,
                                        uint64_t needed) {
    const uint64_t oldSize = group.getInputBufferSize();
    const uint64_t stored = storedTotal(group, filter);
    const uint64_t kept = std::min(oldSize, stored);
    const auto& channels = group.getChannels();
    Ring times(needed);
    std::vector<Ring> values;
    for (size_t c = 0; c < channels.size(); ++c) {
        values.emplace_back(needed);
    }
    for (uint64_t sample = stored - kept; sample < stored; ++sample) {
        times[sample % needed] = group.inputTimeRing()[sample % oldSize];
        for (size_t c = 0; c < channels.size(); ++c) {
            values[c][sample % needed] = channels[c]->inputValues()[sample % oldSize];
        }
    }
    group.adoptInputRing(times, stored % needed);
    for (size_t c = 0; c < channels.size(); ++c) {
        channels[c]->adoptInputRing(values[c], stored % needed);
    }
}

void ResamplerAliasFree::padForFlush(ResamplerChannelGroup& group, PolyphaseFilter& filter) {
    const uint64_t taps = filter.taps;
    // The padded stamps must not overwrite input the window has still to read.
    const uint64_t stored = storedTotal(group, filter);
    const auto first = static_cast<uint64_t>(filter.inputIndex);
    const uint64_t unread = stored > first ? stored - first : 0;
    if (unread + taps + 1 > group.getInputBufferSize()) {
        growInputRings(group, filter, unread + taps + 1);
    }
    const double newest = group.newestInputTime();
    const std::vector<double> zeros(taps, 0.0);
    for (const auto& channel : group.getChannels()) {
        channel->appendValues(zeros.data(), taps);
        storeGeneratedTimes(group, *channel, newest, taps + 1);
    }
}

void ResamplerAliasFree::resampleGroup(ResamplerChannelGroup& group) {
    PolyphaseFilter* const filter = filterOf(group);
    if (filter == nullptr) {
        copySynchronousGroup(group);
        return;
    }
    settleDeficit(group, *filter);
    skipOverwrittenFilterInput(group, *filter);
    alignStart(group, *filter);
    produceFiltered(group, *filter);

    if (!filter->flushing && noMoreData && timeBase == Implicit) {
        filter->flushing = true;
        masterTimesStartPending = false;
        group.setEndOfDataDone(true);
        // A group without delay has nothing in its tail: its flush ends at once.
        if (filter->delayCount >= 1) {
            padForFlush(group, *filter);
            produceFiltered(group, *filter);
        }
    }
}

void ResamplerAliasFree::finishPass() {
    // End of data is over once every filtered group has flushed its tail.
    if (!noMoreData || filters.empty()) {
        return;
    }
    for (const PolyphaseFilter& filter : filters) {
        if (!filter.flushing) {
            return;
        }
    }
    noMoreData = false;
}

}  // namespace Karvel::Tamlib::Resampler
