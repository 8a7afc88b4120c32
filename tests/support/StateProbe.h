#pragma once

// Read-only views of what a resampler holds behind its handle, for behaviour the exports do not
// show. Tests ask these queries instead of reading members, so that only this file follows the
// classes when their state is reshaped.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "resampler/Resampler.h"
#include "resampler/methods/ResamplerAliasFree.h"

namespace TamlibTest {

class StateProbe {
public:
    using Resampler = Karvel::Tamlib::Resampler::Resampler;
    using Channel = Karvel::Tamlib::Resampler::ResamplerChannel;
    using Group = Karvel::Tamlib::Resampler::ResamplerChannelGroup;
    using Filter = Karvel::Tamlib::Resampler::PolyphaseFilter;

    struct Settings {
        double samplerate;
        uint64_t inputBufferSize;  // as the rings are built
        uint64_t outputBufferSize;
        double sidelobeAttenuationInDB;
        int32_t transitionBandwithPercent;
        int32_t timeBase;
        double epsilon;  // the tolerance in use
        bool endOfDataPending;
    };
    // The master times written since the rings were built, in ring order from slot 0, and
    // whether the next pass seeds the grid afresh.
    struct Grid {
        std::vector<double> times;
        bool startPending;
    };
    // A channel's group: its index in creation order, its channels and its time ring.
    struct GroupView {
        size_t index;
        size_t channelCount;
        uint64_t pending;  // stamped samples not yet consumed
        uint64_t writeSlot;
        std::vector<double> stamps;  // the whole ring
        double newestStamp;
        const void* timeMaster;
    };
    struct ChannelView {
        uint64_t samplesAdded;  // since the last pass
        uint64_t writeSlot;
        std::vector<double> values;  // the whole input ring
        uintptr_t nextBlock;         // where the host's next block is expected, or 0
    };

    static Settings settings(void* handle) {
        const Resampler& r = of(handle);
        return {r.samplerate,
                r.inputBufferSize,
                r.outputBufferSize,
                r.sidelobeAttenuationInDB,
                r.transitionBandwithPercent,
                r.timeBase,
                r.epsilon,
                r.noMoreData};
    }
    static Grid grid(void* handle) {
        const Resampler& r = of(handle);
        const uint64_t written = std::min(r.masterTimes.written(), r.masterTimes.size());
        return {ringSlots(r.masterTimes, written), r.masterTimesStartPending};
    }
    static size_t groupCount(void* handle) { return of(handle).groups.size(); }
    // The handle of a channel by group and position, as registration made them.
    static void* channelAt(void* handle, size_t group, size_t index) {
        return of(handle).groups.at(group)->channels.at(index).get();
    }
    static GroupView group(void* handle, void* channel) {
        const Resampler& r = of(handle);
        const Group* g = r.findGroupOfChannel(static_cast<Channel*>(channel));
        size_t index = 0;
        while (r.groups[index].get() != g) {
            ++index;
        }
        return {index,
                g->channels.size(),
                g->pendingCount,
                g->inputTimes.writeSlot(),
                ringSlots(g->inputTimes),
                g->inputTimes.empty() ? 0.0 : g->newestInputTime(),
                g->timeMasterChannel};
    }
    static ChannelView channel(void* channel) {
        const Channel& c = *static_cast<Channel*>(channel);
        return {c.samplesAdded, c.inputRing.writeSlot(), ringSlots(c.inputRing),
                c.nextBlockAddress()};
    }

    // Alias-free resamplers: the filter of a channel's group (none when it is copied through),
    // all filters in creation order, and the longest branch.
    static const Filter* filterOf(void* handle, void* channel) {
        const auto& af =
            static_cast<const Karvel::Tamlib::Resampler::ResamplerAliasFree&>(of(handle));
        return af.filterOf(*af.findGroupOfChannel(static_cast<Channel*>(channel)));
    }
    static const std::vector<Filter>& filters(void* handle) {
        return static_cast<const Karvel::Tamlib::Resampler::ResamplerAliasFree&>(of(handle))
            .filters;
    }
    static uint64_t maxTapsPerPhase(void* handle) {
        return static_cast<const Karvel::Tamlib::Resampler::ResamplerAliasFree&>(of(handle))
            .maxTapsPerPhase;
    }

private:
    static const Resampler& of(void* handle) { return *static_cast<const Resampler*>(handle); }
    // The first `count` slots of a ring, all of them by default.
    static std::vector<double> ringSlots(const Karvel::Tamlib::Resampler::Ring& ring,
                                         uint64_t count = UINT64_MAX) {
        return {ring.data(), ring.data() + std::min(count, ring.size())};
    }
};

}  // namespace TamlibTest
