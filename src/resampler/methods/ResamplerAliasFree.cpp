#include "resampler/methods/ResamplerAliasFree.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>
#include <utility>

#include "dsp/CheckedConversion.h"
#include "dsp/fir/Filter.h"

namespace Karvel::Tamlib::Resampler {

using Dsp::Fir::Filter;

namespace {

// Longest prototype a group may ask for (16 MiB of coefficients). Beyond it the design alone
// takes many seconds and every input ring grows by millions of entries.
constexpr double kMaxCoefficients = 4194304.0;

}  // namespace

ResamplerAliasFree::ResamplerAliasFree() {
    method = AliasFree;
}

ResamplerAliasFree::~ResamplerAliasFree() = default;

void ResamplerAliasFree::setTimeBase(const int32_t& value) {
    if (value == Explicit) {
        throw std::invalid_argument("Explicit timebase not supported.");
    }
    timeBase = value;
}

void ResamplerAliasFree::setInputBufferSize(uint64_t size) {
    if (size > std::vector<double>().max_size()) {
        throw std::invalid_argument("Buffer size too large.");
    }
    const uint64_t previous = inputBufferSize;
    inputBufferSize = size;
    try {
        update();
    } catch (...) {
        inputBufferSize = previous;
        throw;
    }
}

ResamplerChannel* ResamplerAliasFree::addAsyncArrayChannel(const int32_t&, int32_t, double,
                                                           double) {
    throw std::invalid_argument("Channel not supported.");
}

ResamplerChannel* ResamplerAliasFree::addNamedAsyncChannel(const std::string&) {
    throw std::invalid_argument("Channel not supported.");
}

ResamplerChannel* ResamplerAliasFree::addAsyncChannel() {
    throw std::invalid_argument("Channel not supported.");
}

bool ResamplerAliasFree::isChannelUnsupported(const ResamplerChannel& channel) const {
    return channel.isArrayChannel();
}

const PolyphaseFilter* ResamplerAliasFree::filterOf(const ResamplerChannelGroup& group) const {
    const auto found = filterEntries.find(&group);
    return found == filterEntries.end() ? nullptr : &filters[found->second];
}

PolyphaseFilter* ResamplerAliasFree::filterOf(const ResamplerChannelGroup& group) {
    return const_cast<PolyphaseFilter*>(std::as_const(*this).filterOf(group));
}

ResamplerChannelGroup* ResamplerAliasFree::createSyncGroup(double rate, double offset) {
    return createFilteredGroup(rate, offset, RateDefined);
}

ResamplerChannelGroup* ResamplerAliasFree::createAsyncRateGroup(double rate, double offset) {
    return createFilteredGroup(rate, offset, Timestamped);
}

ResamplerChannelGroup* ResamplerAliasFree::createFilteredGroup(double rate, double offset,
                                                               int32_t timing) {
    // A rate that truncates to 0 Hz (or does not fit) gives no ratio: refused before anything
    // is created. A rate of 0 or below is left to the group's own check.
    const bool copiedThrough = timeBase == Implicit && timing == RateDefined && samplerate == rate;
    if (rate > 0.0 && !copiedThrough) {
        const auto wholeOut = Dsp::truncateChecked<int32_t>(samplerate);
        const auto wholeIn = Dsp::truncateChecked<int32_t>(rate);
        if (!wholeOut || !wholeIn || *wholeOut < 1 || *wholeIn < 1) {
            throw std::invalid_argument("Channel not supported.");
        }
        // The designer's own length rule, evaluated before anything is built.
        const double up = static_cast<double>(*wholeOut / std::gcd(*wholeOut, *wholeIn));
        const double width =
            (static_cast<double>(transitionBandwithPercent) / 100.0) * std::min(samplerate, rate);
        const double length =
            Dsp::Fir::kaiserOrderEstimate(std::fabs(sidelobeAttenuationInDB), rate * up, width);
        if (!(length < kMaxCoefficients)) {
            throw std::invalid_argument("Channel not supported.");
        }
    }
    ResamplerChannelGroup* group = createRatedGroup(rate, offset, timing);
    if (!isSynchronousWithOutput(*group)) {
        designFilter(*group);
    }
    return group;
}

void ResamplerAliasFree::designFilter(const ResamplerChannelGroup& group) {
    const double outputRate = samplerate;
    const double inputRate = group.getSamplerate();
    const int32_t wholeOut = *Dsp::truncateChecked<int32_t>(outputRate);
    const int32_t wholeIn = *Dsp::truncateChecked<int32_t>(inputRate);
    const int32_t divisor = std::gcd(wholeOut, wholeIn);
    const int32_t up = wholeOut / divisor;
    const int32_t down = wholeIn / divisor;
    if (up == 1 && down == 1) {
        return;  // a 1:1 ratio is copied through like a group at the output rate
    }

    const double lowerRate = std::min(outputRate, inputRate);
    Filter design;
    design.configure((static_cast<double>(transitionBandwithPercent) / 100.0) * lowerRate,
                     inputRate * static_cast<double>(up), lowerRate * 0.5, sidelobeAttenuationInDB);
    std::vector<float> prototype = design.getCoefficients();
    if (prototype.empty()) {
        throw std::invalid_argument("Channel not supported.");
    }
    // The inserted zeros cost a factor P of passband gain.
    const auto gain = static_cast<float>(up);
    for (float& coefficient : prototype) {
        coefficient = gain * coefficient;
    }

    const auto length = static_cast<int64_t>(prototype.size());
    const auto centre = static_cast<int32_t>(static_cast<double>(length - 1) * 0.5);
    // Leading zeros put the response centre on a multiple of Q, i.e. on an output sample.
    const int64_t pre = down - centre % down - ((length - 1) & 1);
    const int64_t tail = (up + (-(pre + length)) % up) % up;
    std::vector<float> padded(static_cast<size_t>(pre + length + tail), 0.0f);
    std::copy(prototype.begin(), prototype.end(), padded.begin() + pre);
    const auto delay = static_cast<int32_t>(
        std::round(static_cast<double>(centre + pre) / static_cast<double>(down)));
    const uint64_t taps = padded.size() / static_cast<uint64_t>(up);

    PolyphaseFilter filter;
    filter.up = static_cast<uint32_t>(up);
    filter.down = static_cast<uint32_t>(down);
    filter.coefficients = std::move(padded);
    filter.taps = taps;
    filter.delayCount = delay;
    // Added only once everything is computed, so a failure leaves no partial entry.
    filterEntries.reserve(filterEntries.size() + 1);
    filters.push_back(std::move(filter));
    filterEntries.emplace(&group, filters.size() - 1);
    maxTapsPerPhase = std::max(maxTapsPerPhase, taps);
}

void ResamplerAliasFree::initialize() {
    checkOutputParameters();
    for (const auto& group : groups) {
        group->expectOutputsAt(samplerate, true);
    }
    if (maxTapsPerPhase > std::numeric_limits<uint64_t>::max() - inputBufferSize) {
        throw std::invalid_argument("Buffer size too large.");
    }
    // Every window of T samples then fits beside what the host adds between two passes.
    setInputBufferSize(maxTapsPerPhase + inputBufferSize);
    primeGroups();
    // The batches' scratch is sized and mapped here, at set-up, rather than in the first pass.
    for (const auto& group : groups) {
        PolyphaseFilter* const filter = filterOf(*group);
        if (kernel->channelLanes != nullptr && filter != nullptr && filter->taps > 0) {
            prepareBatches(*group, *filter);
        }
    }
    ringsHoldNothing = false;
    for (PolyphaseFilter& filter : filters) {
        filter.alignmentPending = true;
        filter.flushing = false;
    }
    for (const auto& group : groups) {
        group->setEndOfDataDone(false);
    }
    noMoreData = false;
    touchRings();
}

void ResamplerAliasFree::primeGroups() {
    for (const auto& groupPointer : groups) {
        ResamplerChannelGroup& group = *groupPointer;
        const PolyphaseFilter* const filter = filterOf(group);
        if (filter == nullptr || group.getSamplerate() == samplerate || filter->taps <= 1 ||
            group.getInputBufferSize() == 0) {
            continue;
        }
        // T - 1 zeros of history end at the group's offset, so the first real sample follows.
        const uint64_t count = filter->taps - 1;
        const double dt = 1.0 / group.getSamplerate();
        const double start = group.getInitialOffset() - static_cast<double>(count) * dt;
        for (const auto& channel : group.getChannels()) {
            channel->setInputWriteSlot(count >= inputBufferSize ? 0 : count);
            storeGeneratedTimes(group, *channel, start, count);
            group.endFirstBlock();
        }
    }
}

}  // namespace Karvel::Tamlib::Resampler
