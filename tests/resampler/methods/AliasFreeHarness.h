#pragma once

// Test plumbing for the alias-free method: a resampler made through the C exports, the filter
// entries behind it, and a streamer that feeds channels in passes and collects every output, so
// that a test body holds the scenario and its assertions.

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <vector>

#include "resampler/Resampler.h"
#include "resampler/methods/ResamplerAliasFree.h"
#include "support/RandomSignal.h"
#include "support/ResamplerFixture.h"
#include "tamlib/resampler.h"

namespace AliasFreeTest {

using Karvel::Tamlib::Resampler::PolyphaseFilter;

using TamlibTest::ChannelOutput;
using TamlibTest::invalidArgumentMessage;

class AliasFreeResampler : public TamlibTest::ResamplerFixture {
public:
    AliasFreeResampler() : ResamplerFixture(TAMLIB_METHOD_ALIAS_FREE) {}

    // The filter of the channel's group; throws for a group that is copied through.
    const PolyphaseFilter& filterOf(void* channel) const {
        const PolyphaseFilter* const filter =
            TamlibTest::StateProbe::filterOf(resampler(), channel);
        if (filter == nullptr) {
            throw std::logic_error("group has no filter");
        }
        return *filter;
    }
};

// One channel's input: values, and for a timestamped channel one time stamp per value.
struct Feed {
    void* channel = nullptr;
    std::vector<double> values;
    std::vector<double> times;  // empty for a synchronous channel
    ChannelOutput output;
};

// Streams the feeds through the resampler: run(passes) lets pass j add to every channel the
// samples up to the fraction (j + 1) / passes of its input, then calculate and read. With an
// end time, noMoreDataToAdd follows the last block, before the last calculate.
class Streamer {
public:
    explicit Streamer(AliasFreeResampler& resampler) : resampler(resampler) {}

    Feed& add(void* channel, std::vector<double> values, std::vector<double> times = {}) {
        feeds.push_back(Feed{channel, std::move(values), std::move(times), {}});
        return feeds.back();
    }

    void run(size_t passes, std::optional<double> endTimeMs = std::nullopt) {
        for (size_t pass = 0; pass < passes; ++pass) {
            std::vector<size_t> until;
            for (const Feed& feed : feeds) {
                until.push_back(feed.values.size() * (pass + 1) / passes);
            }
            advanceTo(until, pass + 1 == passes ? endTimeMs : std::nullopt);
        }
    }

    // One pass that adds to feed f its samples up to until[f], after the end of data when an
    // end time is given.
    void advanceTo(const std::vector<size_t>& until, std::optional<double> endTimeMs = {}) {
        done.resize(feeds.size(), 0);
        for (size_t f = 0; f < feeds.size(); ++f) {
            addBlock(feeds[f], done[f], until[f]);
            done[f] = std::max(done[f], until[f]);
        }
        if (endTimeMs) {
            noMoreDataToAdd(resampler.resampler(), *endTimeMs);
        }
        calculateAndRead();
    }

    // One more pass without new input.
    void calculateAndRead() {
        calculate(resampler.resampler());
        readPass();
    }

    Feed& operator[](size_t index) { return feeds[index]; }

private:
    void addBlock(Feed& feed, size_t from, size_t until) {
        if (until <= from) {
            return;
        }
        addData(resampler.resampler(), feed.channel, feed.values.data() + from, until - from);
        if (!feed.times.empty()) {
            addTimes(resampler.resampler(), feed.channel, feed.times.data() + from, until - from);
        }
    }

    // Times are read once per group, values once per channel.
    void readPass() {
        void* handle = resampler.resampler();
        const uint64_t piece =
            std::max<uint64_t>(1, TamlibTest::StateProbe::settings(handle).outputBufferSize - 1);
        std::map<size_t, std::vector<double>> groupTimes;
        for (Feed& feed : feeds) {
            uint64_t count = 0;
            getResampledDataCount(handle, feed.channel, &count);
            feed.output.passCounts.push_back(count);
            const size_t group = TamlibTest::StateProbe::group(handle, feed.channel).index;
            const bool readTimes = groupTimes.count(group) == 0;
            std::vector<double>& times = groupTimes[group];
            for (uint64_t done = 0; done < count;) {
                const uint64_t n = std::min(piece, count - done);
                std::vector<double> values(n);
                getResampledData2(handle, feed.channel, values.data(), n);
                feed.output.values.insert(feed.output.values.end(), values.begin(), values.end());
                if (readTimes) {
                    std::vector<double> block(n);
                    getResampledTimes2(handle, feed.channel, block.data(), n);
                    times.insert(times.end(), block.begin(), block.end());
                }
                done += n;
            }
            feed.output.times.insert(feed.output.times.end(), times.begin(), times.end());
        }
    }

    AliasFreeResampler& resampler;
    std::vector<Feed> feeds;
    std::vector<size_t> done;  // samples of each feed added so far
};

}  // namespace AliasFreeTest
