#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/ResamplerFixture.h"

// Hold outputs reach the host however it interleaves its reads with adding values, reading in
// pieces, skipping blocks, or ending the data: the values are those of the newest sample at or
// before each output time, computed here from the stamps alone.

namespace {

using TamlibTest::ResamplerFixture;

constexpr int kChannels = 3;
constexpr size_t kBlock = 40;
constexpr size_t kBlocks = 9;
constexpr uint64_t kOutputRing = 160;

// Irregular stamps about 1 ms apart, each 0.1 to 0.55 ms after a millisecond of the grid, so
// that no stamp lies within the tolerance of an output time.
double stampOf(size_t i) {
    return 0.001 * static_cast<double>(i) + 0.0001 + 0.00015 * static_cast<double>(i * 7 % 4);
}

double valueOf(int channel, size_t i) {
    return 1000.0 * channel + static_cast<double>(i);
}

// The value hold gives at `time`: the newest of the first `added` samples stamped at or before.
double heldValue(int channel, double time, size_t added) {
    size_t newest = 0;
    for (size_t i = 0; i < added && stampOf(i) <= time; ++i) {
        newest = i;
    }
    return valueOf(channel, newest);
}

struct Schedule {
    std::string name;
    // Whether channel c reads what it has after the calculate of block b, and whether it reads
    // it in two pieces; channel 0 always reads, and its reads give the group's times.
    std::function<bool(int c, size_t b)> readsAfter;
    bool inHalves;
    // Whether a channel that did not read after a block reads after adding the next block's
    // values, before that block's calculate.
    bool readsAfterAdding;
};

class Stream {
public:
    explicit Stream(const Schedule& schedule) : schedule(schedule) {
        void* r = fixture.resampler();
        setSamplerate(r, 1000.0);
        setInputBufferSize(r, kBlock);
        setOutputBufferSize(r, kOutputRing);
        for (void*& channel : channels) {
            channel = fixture.asyncChannel(1000.0);
        }
        initialize(r);
    }

    void run() {
        void* r = fixture.resampler();
        for (size_t b = 0; b < kBlocks; ++b) {
            for (int c = 0; c < kChannels; ++c) {
                addBlock(c, b);
                if (schedule.readsAfterAdding && unread[c] > 0) {
                    readChannel(c);
                }
            }
            calculate(r);
            produced();
            for (int c = 0; c < kChannels; ++c) {
                if (c == 0 || schedule.readsAfter(c, b)) {
                    readChannel(c);
                }
            }
        }
        noMoreDataToAdd(r, 1000.0 * stampOf(added - 1) + 20.0);
        calculate(r);
        produced();
        for (int c = 0; c < kChannels; ++c) {
            readChannel(c);
        }
    }

    // Every output read, in order, against the stamps.
    void check() const {
        ASSERT_GT(times.size(), kBlocks * kBlock / 2);
        for (int c = 0; c < kChannels; ++c) {
            SCOPED_TRACE("channel " + std::to_string(c));
            ASSERT_EQ(values[c].size(), times.size());
            for (size_t k = 0; k < times.size(); ++k) {
                ASSERT_EQ(values[c][k], heldValue(c, times[k], addedAt[k])) << "output " << k;
            }
        }
    }

private:
    void addBlock(int c, size_t b) {
        std::vector<double> stamps(kBlock);
        std::vector<double> block(kBlock);
        for (size_t i = 0; i < kBlock; ++i) {
            stamps[i] = stampOf(b * kBlock + i);
            block[i] = valueOf(c, b * kBlock + i);
        }
        fixture.addSamples(channels[c], stamps, block);
        if (c == kChannels - 1) {
            added += kBlock;
        }
    }

    void produced() {
        const uint64_t count = fixture.count(channels[0]);
        std::vector<double> passTimes(count);
        getResampledTimes2(fixture.resampler(), channels[0], passTimes.data(), count);
        times.insert(times.end(), passTimes.begin(), passTimes.end());
        addedAt.insert(addedAt.end(), count, added);
        for (uint64_t& pending : unread) {
            pending += count;
        }
    }

    void readChannel(int c) {
        const uint64_t count = unread[c];
        std::vector<double> buffer(count);
        const uint64_t first = schedule.inHalves ? count / 2 : count;
        getResampledData2(fixture.resampler(), channels[c], buffer.data(), first);
        getResampledData2(fixture.resampler(), channels[c], buffer.data() + first, count - first);
        values[c].insert(values[c].end(), buffer.begin(), buffer.end());
        unread[c] = 0;
    }

    const Schedule& schedule;
    ResamplerFixture fixture{TAMLIB_METHOD_HOLD};
    void* channels[kChannels] = {};
    size_t added = 0;
    std::vector<double> times;
    std::vector<size_t> addedAt;
    std::vector<double> values[kChannels];
    uint64_t unread[kChannels] = {};
};

TEST(DeferredHoldTest, OutputsMatchTheStampsWhateverTheReadOrder) {
    const std::vector<Schedule> schedules = {
        {"every block, whole", [](int, size_t) { return true; }, false, false},
        {"every block, in halves", [](int, size_t) { return true; }, true, false},
        {"channel 1 every other block, channel 2 every third",
         [](int c, size_t b) { return c == 1 ? b % 2 == 1 : b % 3 == 2; }, false, false},
        {"after adding the next block", [](int, size_t) { return false; }, true, true},
        {"every third block, in halves", [](int c, size_t b) { return (b + c) % 3 == 0; }, true,
         false},
    };
    for (const Schedule& schedule : schedules) {
        SCOPED_TRACE(schedule.name);
        Stream stream(schedule);
        stream.run();
        stream.check();
    }
}

// Rings rebuilt between calculate and the read are zero-filled, outputs included, and the
// outputs waiting to be read must not reach into the new, smaller input ring.
TEST(DeferredHoldTest, RingsRebuiltBeforeTheReadHoldZeros) {
    ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
    void* r = fixture.resampler();
    setSamplerate(r, 1000.0);
    setInputBufferSize(r, 512);
    setOutputBufferSize(r, 600);
    void* channel = fixture.asyncChannel(1000.0);
    initialize(r);
    std::vector<double> stamps(500);
    std::vector<double> values(500);
    for (size_t i = 0; i < stamps.size(); ++i) {
        stamps[i] = stampOf(i);
        values[i] = 1.0 + static_cast<double>(i);
    }
    fixture.addSamples(channel, stamps, values);
    calculate(r);
    const uint64_t count = fixture.count(channel);
    ASSERT_GT(count, 400u);
    setInputBufferSize(r, 16);
    std::vector<double> read(count, -1.0);
    getResampledData2(r, channel, read.data(), count);
    for (uint64_t k = 0; k < count; ++k) {
        ASSERT_EQ(read[k], 0.0) << "output " << k;
    }
}

}  // namespace
