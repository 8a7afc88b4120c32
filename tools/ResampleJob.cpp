#include "ResampleJob.h"

#include <tamlib/resampler.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>

#include "CsvInput.h"

namespace Karvel::Tamlib::Cli {

namespace {

// The library's tolerance when it looks for a group with the same rate and offset.
constexpr double kGroupTolerance = 2.220446049250313e-16;
// A plain asynchronous channel's group carries the library's default rate and offset.
constexpr double kDefaultGroupRateHz = 1000.0;
constexpr int32_t kDefaultTransitionPercent = 16;
constexpr double kDefaultAttenuationDb = 60.0;
// Rings beyond this many bytes in total mean a misplaced --offset or a wrong time unit more often
// than a real need; refuse clearly instead of swapping.
constexpr double kMemoryLimitBytes = 4.0 * 1024.0 * 1024.0 * 1024.0;

struct ResamplerDeleter {
    void operator()(void* resampler) const { deleteResampler(resampler); }
};
using ResamplerHandle = std::unique_ptr<void, ResamplerDeleter>;

ResamplerHandle createResampler(Options::Method method) {
    void* resampler = nullptr;
    switch (method) {
        case Options::Method::Hold:
            createResamplerHold(&resampler);
            break;
        case Options::Method::Linear:
            createResamplerLinear(&resampler);
            break;
        case Options::Method::AliasFree:
            createResamplerAliasFree(&resampler);
            break;
    }
    return ResamplerHandle(resampler);
}

std::string formatted(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

bool sameGroupKey(double rateA, double offsetA, double rateB, double offsetB) {
    return std::fabs(rateA - rateB) <= kGroupTolerance &&
           std::fabs(offsetA - offsetB) <= kGroupTolerance;
}

// The alias-free filter needs a whole rate: the median interval resists jitter and gaps.
double nominalRateHz(const InputChannel& channel, std::string& note) {
    if (channel.times.size() < 2) {
        throw InputError("channel '" + channel.name +
                         "': the alias-free method needs at least two time stamps to estimate "
                         "a nominal rate");
    }
    std::vector<double> intervals;
    intervals.reserve(channel.times.size() - 1);
    for (std::size_t k = 1; k < channel.times.size(); ++k) {
        intervals.push_back(channel.times[k] - channel.times[k - 1]);
    }
    const std::size_t middle = intervals.size() / 2;
    std::nth_element(intervals.begin(), intervals.begin() + middle, intervals.end());
    double median = intervals[middle];
    if (intervals.size() % 2 == 0) {
        const double below = *std::max_element(intervals.begin(), intervals.begin() + middle);
        median = 0.5 * (below + median);
    }
    const double rateHz = median > 0.0 ? std::round(1.0 / median) : 0.0;
    if (!(rateHz >= 1.0) || !std::isfinite(rateHz)) {
        throw InputError("channel '" + channel.name + "': median time-stamp interval " +
                         formatted("%.17g", median) +
                         " s gives no nominal rate of at least 1 Hz for the alias-free method");
    }
    note = "tamresample: channel '" + channel.name + "': nominal rate " +
           formatted("%.17g", rateHz) + " Hz (median time-stamp interval " +
           formatted("%.6g", median) + " s)\n";
    return rateHz;
}

}  // namespace

ResampleJob::ResampleJob(const Options& options, double offsetSeconds,
                         std::vector<InputChannel> channels)
    : options_(options), offsetSeconds_(offsetSeconds), channels_(std::move(channels)) {}

void ResampleJob::measureTimeFromFirstSample() {
    // The alias-free filter counts input samples from time 0 at the nominal rate: time stamps
    // far from 0 (an epoch) would make it skip that many samples that never come.
    timeShiftSeconds_ = std::numeric_limits<double>::infinity();
    for (const InputChannel& channel : channels_) {
        if (channel.size() > 0) {
            timeShiftSeconds_ = std::min(timeShiftSeconds_, channel.timeOf(0));
        }
    }
    if (!std::isfinite(timeShiftSeconds_)) {
        timeShiftSeconds_ = 0.0;
    }
    for (InputChannel& channel : channels_) {
        channel.offsetSeconds -= timeShiftSeconds_;
        for (double& time : channel.times) {
            time -= timeShiftSeconds_;
        }
    }
    offsetSeconds_ -= timeShiftSeconds_;
}

void ResampleJob::planRegistrations(std::string& notes) {
    const bool aliasFree = options_.method == Options::Method::AliasFree;
    registrations_.clear();
    groups_.clear();
    for (std::size_t c = 0; c < channels_.size(); ++c) {
        const InputChannel& channel = channels_[c];
        Registration registration;
        if (channel.timing == InputChannel::Timing::Synchronous) {
            registration = {channel.samplerateHz, channel.offsetSeconds, true, 0};
        } else if (aliasFree) {
            // A channel's nominal time axis starts at its first stamp; distinct starts also
            // keep channels of equal rate in groups of their own.
            std::string note;
            registration = {nominalRateHz(channel, note), channel.times.front(), true, 0};
            notes += note;
        } else {
            registration = {kDefaultGroupRateHz, 0.0, false, 0};
        }

        // Mirror the library's grouping: a rate registration joins the first group with the
        // same rate and offset, whatever created it; a plain asynchronous one never joins.
        std::size_t joined = groups_.size();
        if (registration.hasRate) {
            for (std::size_t r = 0; r < registrations_.size(); ++r) {
                const Registration& earlier = registrations_[r];
                if (sameGroupKey(registration.samplerateHz, registration.offsetSeconds,
                                 earlier.samplerateHz, earlier.offsetSeconds)) {
                    joined = earlier.group;
                    const InputChannel& other = channels_[r];
                    if (channel.timing != other.timing || channel.times != other.times) {
                        throw InputError("channels '" + other.name + "' and '" + channel.name +
                                         "' have the same rate and start but different time "
                                         "stamps, so the resampler cannot keep them apart");
                    }
                    break;
                }
            }
        }
        if (joined == groups_.size()) {
            groups_.emplace_back();
        }
        registration.group = joined;
        groups_[joined].push_back(c);
        registrations_.push_back(registration);
    }
}

double ResampleJob::gridStart() const {
    // The library seeds the first output time with the latest of all offsets and 0.
    double start = std::max(offsetSeconds_, 0.0);
    for (const Registration& registration : registrations_) {
        if (registration.hasRate) {
            start = std::max(start, registration.offsetSeconds);
        }
    }
    return start;
}

ResampleJob::RingSizes ResampleJob::ringSizes(const BlockPlan& plan) const {
    const double rateHz = options_.rateHz;
    const double start = gridStart();

    // An alias-free group reads a window of taps input samples: its outputs trail its input by
    // that window, and that many samples stay in its input ring.
    uint64_t mostTaps = 0;
    double filterLagSeconds = 0.0;
    if (options_.method == Options::Method::AliasFree) {
        for (const Registration& registration : registrations_) {
            uint32_t taps = 0;
            getAliasFreeFilterLength(rateHz, registration.samplerateHz,
                                     options_.transitionPercent.value_or(kDefaultTransitionPercent),
                                     options_.attenuationDb.value_or(kDefaultAttenuationDb), &taps);
            mostTaps = std::max<uint64_t>(mostTaps, taps);
            filterLagSeconds = std::max(filterLagSeconds, taps / registration.samplerateHz);
        }
    }

    // Between two reads a group may lag the newest output time by its longest silence, and one
    // block then adds its span: the output ring must hold both, or unread times are overwritten.
    const BlockPlan::Silence silence = plan.longestSilence(start);
    const double outputSeconds =
        plan.longestBlockSeconds(start) + silence.seconds + filterLagSeconds;
    const double outputEntries = std::ceil(outputSeconds * rateHz) + 16.0;
    // An input ring holds one block plus what waits for the next output time (two output
    // periods; everything before the first output time at the start).
    const double inputEntries = static_cast<double>(options_.blockSize) +
                                static_cast<double>(plan.mostSamplesWaiting(start, 2.0 / rateHz)) +
                                static_cast<double>(mostTaps) + 16.0;

    const double channelCount = static_cast<double>(channels_.size());
    const double groupCount = static_cast<double>(groups_.size());
    const double bytes = 8.0 * (outputEntries * (channelCount + groupCount + 1.0) +
                                inputEntries * (channelCount + groupCount));
    if (!(bytes <= kMemoryLimitBytes)) {
        throw InputError("the rings would need " + formatted("%.3g", bytes / 1e9) +
                         " GB: channel '" + channels_[silence.channel].name + "' goes " +
                         formatted("%.6g", silence.seconds) +
                         " s without a sample after the first output time " +
                         formatted("%.17g", start + timeShiftSeconds_) +
                         " s; check --offset, --rate and the time unit (seconds)");
    }
    return {static_cast<uint64_t>(inputEntries), static_cast<uint64_t>(outputEntries)};
}

void ResampleJob::run(GridWriter& writer, std::ostream& log) {
    if (options_.method == Options::Method::AliasFree) {
        measureTimeFromFirstSample();
    }
    std::string notes;
    planRegistrations(notes);
    const BlockPlan plan(channels_, options_.blockSize);
    if (!std::isfinite(plan.endTime())) {
        throw InputError("nothing to resample: no channel has a sample");
    }
    const RingSizes sizes = ringSizes(plan);
    // Only now is the input known to be usable: a refused input leaves the output empty and
    // its error as the only line on standard error.
    log << notes;
    writer.writeHeader();

    try {
        ResamplerHandle resampler = createResampler(options_.method);
        void* r = resampler.get();
        setSamplerate(r, options_.rateHz);
        // Filter parameters shape each group's filter when the group is registered.
        if (options_.transitionPercent) {
            setTransitionBandwithPercent(r, *options_.transitionPercent);
        }
        if (options_.attenuationDb) {
            setSidelobeAttenuationInDB(r, *options_.attenuationDb);
        }
        setInitialOffset(r, offsetSeconds_);
        // Buffer sizes before the channels: every registration rebuilds the rings anyway.
        setInputBufferSize(r, sizes.input);
        setOutputBufferSize(r, sizes.output);
        stream(r, plan, sizes.output, writer);
    } catch (const std::exception& error) {
        throw std::runtime_error(std::string("resampler: ") + error.what());
    }
}

void ResampleJob::stream(void* r, const BlockPlan& plan, uint64_t outputRing, GridWriter& writer) {
    std::vector<void*> handles(channels_.size(), nullptr);
    for (std::size_t c = 0; c < channels_.size(); ++c) {
        const InputChannel& channel = channels_[c];
        const Registration& registration = registrations_[c];
        if (channel.timing == InputChannel::Timing::Synchronous) {
            addSyncChannel(r, &handles[c], registration.samplerateHz, registration.offsetSeconds,
                           channel.declaredSampleCount);
        } else if (registration.hasRate) {
            addAsyncChannel2(r, &handles[c], registration.samplerateHz, registration.offsetSeconds,
                             channel.declaredSampleCount);
        } else {
            addAsyncChannel(r, &handles[c]);
        }
    }
    initialize(r);

    for (std::size_t block = 0; block < plan.blockCount(); ++block) {
        for (std::size_t c = 0; c < channels_.size(); ++c) {
            const std::size_t begin = plan.beginOf(block, c);
            const std::size_t count = plan.endOf(block, c) - begin;
            if (count == 0) {
                continue;
            }
            addData(r, handles[c], channels_[c].values.data() + begin, count);
            if (channels_[c].timing == InputChannel::Timing::Timestamped) {
                addTimes(r, handles[c], channels_[c].times.data() + begin, count);
            }
        }
        calculate(r);
        readOutputs(r, handles, outputRing, writer);
        writer.writeCompletedRows();
    }
    noMoreDataToAdd(r, plan.endTime() * 1000.0);
    calculate(r);
    readOutputs(r, handles, outputRing, writer);
    writer.finish();
}

void ResampleJob::readOutputs(void* r, const std::vector<void*>& handles, uint64_t outputRing,
                              GridWriter& writer) {
    std::vector<double> times;
    std::vector<double> values;
    for (const std::vector<std::size_t>& group : groups_) {
        uint64_t remaining = 0;
        getResampledDataCount(r, handles[group.front()], &remaining);
        while (remaining > 0) {
            // One read takes at most one sample less than the ring holds.
            const uint64_t count = std::min<uint64_t>(remaining, outputRing - 1);
            times.resize(count);
            values.resize(count);
            // Output times once per group: its channels share one read cursor for them.
            getResampledTimes2(r, handles[group.front()], times.data(), count);
            for (double& time : times) {
                time += timeShiftSeconds_;
            }
            for (std::size_t c : group) {
                getResampledData2(r, handles[c], values.data(), count);
                writer.add(c, times.data(), values.data(), count);
            }
            remaining -= count;
        }
    }
}

}  // namespace Karvel::Tamlib::Cli
