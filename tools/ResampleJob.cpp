#include "ResampleJob.h"

#include <tamlib/resampler.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string>

#include "BlockCutter.h"
#include "CsvReader.h"
#include "RegistrationRules.h"

namespace Karvel::Tamlib::Cli {

namespace {

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

// The recording with its times moved by a fixed shift.
class ShiftedSource : public SampleSource {
public:
    ShiftedSource(SampleSource& source, double shiftSeconds)
        : source_(source), shiftSeconds_(shiftSeconds) {}

    bool next(Sample& sample) override {
        if (!source_.next(sample)) {
            return false;
        }
        sample.time -= shiftSeconds_;
        return true;
    }
    const std::vector<ChannelInfo>& channels() const override { return source_.channels(); }

private:
    SampleSource& source_;
    double shiftSeconds_;
};

// Longest time a channel goes without a sample between the grid start and the end: before its
// first sample, between two samples, or after its last one. While a channel is silent its
// group reads no output times, so the output ring must hold them all.
struct Silence {
    double seconds = 0.0;
    std::size_t channel = 0;
};

Silence longestSilence(const RecordingSurvey& survey, double gridStart) {
    Silence longest;
    const auto consider = [&](double seconds, std::size_t channel) {
        if (seconds > longest.seconds) {
            longest = {seconds, channel};
        }
    };
    for (std::size_t c = 0; c < survey.channelCount(); ++c) {
        const RecordingSurvey::Channel& channel = survey.channel(c);
        if (channel.count == 0) {
            consider(survey.endTime() - gridStart, c);
            continue;
        }
        consider(channel.firstTime - gridStart, c);
        consider(channel.longestInterval, c);
        consider(survey.endTime() - channel.lastTime, c);
    }
    return longest;
}

}  // namespace

ResampleJob::ResampleJob(const Options& options, PassOpener openPass, bool offsetFromEarliestStamp)
    : options_(options),
      openPass_(std::move(openPass)),
      offsetFromEarliestStamp_(offsetFromEarliestStamp),
      survey_(options.method == Options::Method::AliasFree),
      bounds_(options.blockSize, 2.0 / options.rateHz, -std::numeric_limits<double>::infinity()) {}

void ResampleJob::survey() {
    std::unique_ptr<SampleSource> source = openPass_();
    Sample sample;
    if (!source->next(sample)) {
        throw InputError("nothing to resample: no channel has a sample");
    }
    // Samples come in time order: the first is the earliest. The alias-free filter counts input
    // samples from time 0 at the nominal rate: time stamps far from 0 (an epoch) would make it
    // skip that many samples that never come, so for it time is measured from the earliest.
    const double earliest = sample.time;
    timeShiftSeconds_ = isAliasFree() ? earliest : 0.0;
    // Absolute time stamps (an epoch, an hour into a test run) need the grid to start near
    // them: the grid is seeded from the offsets, not from the data.
    offsetSeconds_ = options_.offsetSeconds.value_or(offsetFromEarliestStamp_ ? earliest : 0.0) -
                     timeShiftSeconds_;
    double knownStart = std::max(offsetSeconds_, 0.0);
    for (const ChannelInfo& channel : source->channels()) {
        if (channel.timing == ChannelInfo::Timing::Synchronous) {
            knownStart = std::max(knownStart, channel.offsetSeconds - timeShiftSeconds_);
        }
    }
    bounds_.raiseGridStart(knownStart);

    do {
        sample.time -= timeShiftSeconds_;
        const bool isFirst =
            sample.channel >= survey_.channelCount() || survey_.channel(sample.channel).count == 0;
        // A timestamped alias-free channel is registered at its first stamp, which may move
        // the grid start.
        if (isFirst && isAliasFree() &&
            source->channels()[sample.channel].timing == ChannelInfo::Timing::Timestamped) {
            bounds_.raiseGridStart(sample.time);
        }
        survey_.add(sample);
        bounds_.add(sample.channel, sample.time);
    } while (source->next(sample));

    channels_ = source->channels();
    survey_.finish(channels_.size());
    bounds_.finish(survey_.endTime());
}

void ResampleJob::planRegistrations(std::string& notes) {
    registrations_.clear();
    groups_.clear();
    for (std::size_t c = 0; c < channels_.size(); ++c) {
        const ChannelInfo& channel = channels_[c];
        const RecordingSurvey::Channel& surveyed = survey_.channel(c);
        Registration registration;
        if (channel.timing == ChannelInfo::Timing::Synchronous) {
            registration = {channel.samplerateHz, channel.offsetSeconds - timeShiftSeconds_, true,
                            0};
        } else if (isAliasFree()) {
            if (surveyed.count < 2) {
                throw InputError("channel '" + printable(channel.name) +
                                 "': the alias-free method needs at least two time stamps to "
                                 "estimate a nominal rate");
            }
            const NominalRate& nominal = surveyed.nominal;
            if (nominal.rateHz == 0.0) {
                throw InputError(
                    "channel '" + printable(channel.name) + "': median time-stamp interval " +
                    formatted("%.17g", nominal.medianIntervalSeconds) +
                    " s gives no nominal rate of at least 1 Hz for the alias-free method");
            }
            notes += "tamresample: channel '" + printable(channel.name) + "': nominal rate " +
                     formatted("%.17g", nominal.rateHz) + " Hz (median time-stamp interval " +
                     formatted("%.6g", nominal.medianIntervalSeconds) + " s)\n";
            // A channel's nominal time axis starts at its first stamp; distinct starts also
            // keep channels of equal rate in groups of their own.
            registration = {nominal.rateHz, surveyed.firstTime, true, 0};
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
                    const ChannelInfo& other = channels_[r];
                    const bool timestamped = channel.timing == ChannelInfo::Timing::Timestamped;
                    if (channel.timing != other.timing ||
                        (timestamped && !survey_.sameTimeStamps(r, c))) {
                        throw InputError("channels '" + printable(other.name) + "' and '" +
                                         printable(channel.name) +
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

ResampleJob::RingSizes ResampleJob::ringSizes() const {
    const double rateHz = options_.rateHz;
    const double start = gridStart();

    // An alias-free group reads a window of taps input samples: its outputs trail its input by
    // that window, and that many samples stay in its input ring. It also places each sample at
    // its nominal time: stamps behind it make the outputs trail further, stamps ahead of it
    // leave more input waiting.
    uint64_t mostTaps = 0;
    double filterLagSeconds = 0.0;
    double behindSeconds = 0.0;
    double aheadSamples = 0.0;
    if (isAliasFree()) {
        for (std::size_t c = 0; c < registrations_.size(); ++c) {
            const Registration& registration = registrations_[c];
            uint32_t taps = 0;
            getAliasFreeFilterLength(rateHz, registration.samplerateHz,
                                     options_.transitionPercent.value_or(kDefaultTransitionPercent),
                                     options_.attenuationDb.value_or(kDefaultAttenuationDb), &taps);
            mostTaps = std::max<uint64_t>(mostTaps, taps);
            filterLagSeconds = std::max(filterLagSeconds, taps / registration.samplerateHz);
            const RecordingSurvey::Channel& surveyed = survey_.channel(c);
            behindSeconds = std::max(behindSeconds, surveyed.mostBehindNominal);
            aheadSamples = std::max(
                aheadSamples, std::ceil(surveyed.mostAheadOfNominal * registration.samplerateHz));
        }
    }

    // Between two reads a group may lag the newest output time by its longest silence, and one
    // block then adds its span: the output ring must hold both, or unread times are overwritten.
    const Silence silence = longestSilence(survey_, start);
    const double outputSeconds =
        bounds_.longestBlockSeconds() + silence.seconds + filterLagSeconds + behindSeconds;
    const double outputEntries = std::ceil(outputSeconds * rateHz) + 16.0;
    // An input ring holds one block plus what waits for the next output time (two output
    // periods; everything before the first output time at the start).
    const double inputEntries = static_cast<double>(options_.blockSize) +
                                static_cast<double>(bounds_.mostSamplesWaiting()) +
                                static_cast<double>(mostTaps) + aheadSamples + 16.0;

    const double channelCount = static_cast<double>(channels_.size());
    const double groupCount = static_cast<double>(groups_.size());
    const double bytes = 8.0 * (outputEntries * (channelCount + groupCount + 1.0) +
                                inputEntries * (channelCount + groupCount));
    if (!(bytes <= kMemoryLimitBytes)) {
        throw InputError("the rings would need " + formatted("%.3g", bytes / 1e9) +
                         " GB: channel '" + printable(channels_[silence.channel].name) + "' goes " +
                         formatted("%.6g", silence.seconds) +
                         " s without a sample after the first output time " +
                         formatted("%.17g", start + timeShiftSeconds_) +
                         " s; check --offset, --rate and the time unit (seconds)");
    }
    if (std::getenv("TRDEBUG"))
        std::fprintf(stderr,
                     "DEBUG block %g silence %g lag %g behind %g ahead %g wait %zu taps %llu -> in "
                     "%g out %g\n",
                     bounds_.longestBlockSeconds(), silence.seconds, filterLagSeconds,
                     behindSeconds, aheadSamples, bounds_.mostSamplesWaiting(),
                     (unsigned long long)mostTaps, inputEntries, outputEntries);
    return {static_cast<uint64_t>(inputEntries), static_cast<uint64_t>(outputEntries)};
}

void ResampleJob::run(std::ostream& out, std::ostream& log) {
    survey();
    std::string notes;
    planRegistrations(notes);
    const RingSizes sizes = ringSizes();
    // Only now is the input known to be usable: a refused input leaves the output empty and
    // its error as the only line on standard error.
    log << notes;
    std::vector<std::string> names;
    for (const ChannelInfo& channel : channels_) {
        names.push_back(channel.name);
    }
    GridWriter writer(out, names);
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
        stream(r, sizes.output, writer);
    } catch (const InputError&) {
        throw;
    } catch (const std::exception& error) {
        throw std::runtime_error(std::string("resampler: ") + error.what());
    }
}

void ResampleJob::stream(void* r, uint64_t outputRing, GridWriter& writer) {
    std::vector<void*> handles(channels_.size(), nullptr);
    std::vector<int64_t> counts(channels_.size());
    for (std::size_t c = 0; c < channels_.size(); ++c) {
        const ChannelInfo& channel = channels_[c];
        const Registration& registration = registrations_[c];
        counts[c] = survey_.channel(c).count;
        if (channel.timing == ChannelInfo::Timing::Synchronous) {
            addSyncChannel(r, &handles[c], registration.samplerateHz, registration.offsetSeconds,
                           channel.declaredSampleCount);
        } else if (registration.hasRate) {
            // A host that has its file at hand knows how many samples a channel has.
            addAsyncChannel2(r, &handles[c], registration.samplerateHz, registration.offsetSeconds,
                             counts[c]);
        } else {
            addAsyncChannel(r, &handles[c]);
        }
    }
    initialize(r);

    std::unique_ptr<SampleSource> source = openPass_();
    ShiftedSource shifted(*source, timeShiftSeconds_);
    BlockCutter cutter(shifted, counts, options_.blockSize);
    BlockCutter::Block block;
    while (cutter.next(block)) {
        for (std::size_t c = 0; c < channels_.size(); ++c) {
            const std::size_t count = block.values[c].size();
            if (count == 0) {
                continue;
            }
            addData(r, handles[c], block.values[c].data(), count);
            if (channels_[c].timing == ChannelInfo::Timing::Timestamped) {
                addTimes(r, handles[c], block.times[c].data(), count);
            }
        }
        calculate(r);
        readOutputs(r, handles, outputRing, writer);
        writer.writeCompletedRows();
    }
    const std::vector<ChannelInfo>& reread = source->channels();
    for (std::size_t c = 0; c < channels_.size(); ++c) {
        if (reread.size() != channels_.size() || reread[c].name != channels_[c].name) {
            throw InputError("the input changed while it was read: other channels");
        }
    }
    noMoreDataToAdd(r, survey_.endTime() * 1000.0);
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
