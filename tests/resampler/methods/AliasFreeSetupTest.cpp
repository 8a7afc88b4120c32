#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "resampler/methods/AliasFreeHarness.h"
#include "tamlib/resampler.h"

namespace {

using AliasFreeTest::AliasFreeResampler;
using AliasFreeTest::PolyphaseFilter;
using TamlibTest::invalidArgumentMessage;
using TamlibTest::StateProbe;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The filters of the defaults (16 %, 60 dB) for five rate pairs, worked out by hand from the
// design rules: N from Kaiser's estimate, pre leading zeros putting the response centre on an
// output sample (minus one for an even N), tail zeros filling up to a multiple of P, T = length
// / P, delay = round((centre + pre) / Q). The estimate omits the parity correction, so for an
// even N it can exceed T by one.
struct DesignRow {
    double outputRate;
    double inputRate;
    uint32_t up;
    uint32_t down;
    size_t length;
    size_t pre;
    size_t tail;
    uint64_t taps;
    int32_t delay;
    uint32_t estimate;
};

const DesignRow kDesigns[] = {
    {1000, 2500, 2, 5, 115, 3, 0, 59, 12, 59},   {1000, 3000, 1, 3, 69, 2, 0, 71, 12, 71},
    {2000, 1000, 2, 1, 47, 1, 0, 24, 24, 24},    {1000, 1024, 125, 128, 2902, 85, 13, 24, 12, 24},
    {100, 1000, 1, 10, 228, 6, 0, 234, 12, 235},
};

TEST(AliasFreeSetup, GroupFilterMatchesWorkedDesigns) {
    for (const DesignRow& row : kDesigns) {
        SCOPED_TRACE(std::to_string(row.outputRate) + " Hz from " + std::to_string(row.inputRate));
        AliasFreeResampler resampler;
        setSamplerate(resampler.resampler(), row.outputRate);
        void* channel = resampler.syncChannel(row.inputRate);
        const PolyphaseFilter& filter = resampler.filterOf(channel);

        EXPECT_EQ(filter.up, row.up);
        EXPECT_EQ(filter.down, row.down);
        EXPECT_EQ(filter.taps, row.taps);
        EXPECT_EQ(filter.delayCount, row.delay);

        const std::vector<float>& c = filter.coefficients;
        ASSERT_EQ(c.size(), row.pre + row.length + row.tail);
        ASSERT_EQ(c.size(), row.taps * row.up);
        const auto isNonzero = [](float value) { return value != 0.0f; };
        const size_t firstNonzero = std::find_if(c.begin(), c.end(), isNonzero) - c.begin();
        const size_t lastNonzero = c.rend() - std::find_if(c.rbegin(), c.rend(), isNonzero) - 1;
        EXPECT_EQ(firstNonzero, row.pre);
        EXPECT_EQ(lastNonzero, row.pre + row.length - 1);

        // Unit gain at 0 Hz times P, which restores what the inserted zeros take.
        EXPECT_NEAR(std::accumulate(c.begin(), c.end(), 0.0), row.up, 1e-5 * row.up);

        // For an odd N the peak is the response centre, which must fall on output sample
        // `delay`: high-rate position delay * Q.
        if (row.length % 2 == 1) {
            const auto peak = std::max_element(c.begin(), c.end()) - c.begin();
            EXPECT_EQ(static_cast<size_t>(peak), static_cast<size_t>(row.delay) * row.down);
        }

        uint32_t estimate = 0;
        getAliasFreeFilterLength(row.outputRate, row.inputRate, 16, 60.0, &estimate);
        EXPECT_EQ(estimate, row.estimate);
    }
}

// Rates below 1 Hz and channels without a rate are refused without a trace.
TEST(AliasFreeSetup, RefusedRegistrationsAndTimeBase) {
    struct Row {
        const char* name;
        double outputRate;
        std::function<void(void*, void**)> add;
    };
    const Row rows[] = {
        {"input at 0.5 Hz", 1000.0, [](void* r, void** c) { addSyncChannel(r, c, 0.5, 0.0, 0); }},
        {"output at 0.5 Hz", 0.5, [](void* r, void** c) { addSyncChannel(r, c, 2500.0, 0.0, 0); }},
        {"timestamped", 1000.0, [](void* r, void** c) { addAsyncChannel(r, c); }},
        {"array", 1000.0, [](void* r, void** c) { addAsyncArrayChannel(r, c, 1, 4, -1.0, -1.0); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        AliasFreeResampler resampler;
        setSamplerate(resampler.resampler(), row.outputRate);
        void* channel = nullptr;
        EXPECT_EQ(invalidArgumentMessage([&] { row.add(resampler.resampler(), &channel); }),
                  "Channel not supported.");
        EXPECT_EQ(channel, nullptr);
        EXPECT_EQ(StateProbe::groupCount(resampler.resampler()), 0u);
        EXPECT_TRUE(StateProbe::filters(resampler.resampler()).empty());
    }

    // A synchronous group at an output rate below 1 Hz needs no ratio: it is copied through.
    AliasFreeResampler slow;
    setSamplerate(slow.resampler(), 0.5);
    void* channel = slow.syncChannel(0.5);
    EXPECT_EQ(StateProbe::filterOf(slow.resampler(), channel), nullptr);

    AliasFreeResampler resampler;
    void* resamplerHandle = resampler.resampler();
    EXPECT_EQ(invalidArgumentMessage([&] { setTimeBase(resamplerHandle, 1); }),
              "Explicit timebase not supported.");
    EXPECT_EQ(StateProbe::settings(resamplerHandle).timeBase, TAMLIB_TIMEBASE_IMPLICIT);
    // Still implicit: a channel at the output rate is copied through.
    void* atOutputRate = resampler.syncChannel(1000.0);
    EXPECT_EQ(StateProbe::filterOf(resamplerHandle, atOutputRate), nullptr);
}

// Arguments of canResamplerAcceptChannel; the length query takes the last four.
struct QueryRow {
    const char* name;
    int32_t method;
    int32_t isArray;
    uint64_t inputBufferSize;
    double outputRate;
    double inputRate;
    int32_t percent;
    double attenuation;
    uint32_t expectedLength;
    uint32_t expectedResult;  // 0 accepts, 1 refuses
};

// 1000 from 2500 needs 59 taps per branch (see the design table). At 8 dB: X = (2 * 2500 *
// 0.05) / (1000 * 0.16 * 14.357...) = 0.109, L = 2, D = 0, pre = 5, ceil(7 / 2) = 4; any lower
// attenuation counts as 8 dB.
const QueryRow kQueries[] = {
    {"one tap short", 2, 0, 58, 1000, 2500, 16, 60, 59, 1},
    {"exactly the taps", 2, 0, 59, 1000, 2500, 16, 60, 59, 0},
    {"array channel", 2, 1, 100000, 1000, 2500, 16, 60, 59, 1},
    {"8 dB", 2, 0, 4, 1000, 2500, 16, 8, 4, 0},
    {"below 8 dB counts as 8", 2, 0, 3, 1000, 2500, 16, -30, 4, 1},
    {"hold accepts arrays", 0, 1, 1, 1000, 2500, 16, 60, 59, 0},
    {"hold, size 0", 0, 0, 0, 1000, 2500, 16, 60, 59, 1},
    {"linear, size 1", 1, 0, 1, 1000, 2500, 16, 60, 59, 1},
    {"linear, size 2", 1, 0, 2, 1000, 2500, 16, 60, 59, 0},
    {"linear, array", 1, 1, 2, 1000, 2500, 16, 60, 59, 1},
    {"unknown method 3", 3, 0, 1000, 1000, 2500, 16, 60, 59, 1},
    {"input below 1 Hz", 2, 0, 1, 1000, 0.5, 16, 60, 0, 0},
    {"output below 1 Hz", 2, 0, 1, 0.99, 2500, 16, 60, 0, 0},
    {"percent 0", 2, 0, 100000, 1000, 2500, 0, 60, 0, 1},
    {"NaN input rate", 2, 0, 100000, 1000, kNaN, 16, 60, 0, 1},
    {"infinite output rate", 2, 0, 100000, kInfinity, 2500, 16, 60, 0, 1},
    {"NaN attenuation", 2, 0, 100000, 1000, 2500, 16, kNaN, 0, 1},
    {"estimate beyond 32 bits", 2, 0, std::numeric_limits<uint64_t>::max(), 2147483647.0,
     2147483646.0, 1, 399, 0, 1},
};

TEST(AliasFreeSetup, QueriesAnswerWithoutAnInstance) {
    for (const QueryRow& row : kQueries) {
        SCOPED_TRACE(row.name);
        uint32_t length = 12345;
        getAliasFreeFilterLength(row.outputRate, row.inputRate, row.percent, row.attenuation,
                                 &length);
        EXPECT_EQ(length, row.expectedLength);
        uint32_t result = 12345;
        canResamplerAcceptChannel(row.method, row.isArray, row.inputBufferSize, row.outputRate,
                                  row.inputRate, row.percent, row.attenuation, &result);
        EXPECT_EQ(result, row.expectedResult);
    }
}

// The input rings grow by the longest branch of any group (T = 71 at 3000 Hz), once.
TEST(AliasFreeSetup, InitializeSizesRingsAndExpectsCountsRoundedUp) {
    AliasFreeResampler resampler;
    void* handle = resampler.resampler();
    setInputBufferSize(handle, 500);  // stored without the +2 of the others
    // 1000 * (1000 / 3000) = 333.3 and 1001 * (1000 / 2500) = 400.4: rounded up, not to the
    // nearest. With a range, floor((1.0 - 0.0) * 1000) + 1 counts both ends.
    void* third = resampler.syncChannel(3000.0, 0.0, 1000);
    void* twoAndAHalf = resampler.syncChannel(2500.0, 0.0, 1001);
    void* ranged = nullptr;
    addSyncChannel2(handle, &ranged, 1024.0, 0.0, 0.0, 1.0);
    void* copied = resampler.syncChannel(1000.0);
    initialize(handle);

    EXPECT_EQ(resampler.expectedCount(third), 334u);
    EXPECT_EQ(resampler.expectedCount(twoAndAHalf), 401u);
    EXPECT_EQ(resampler.expectedCount(ranged), 1001u);
    for (void* channel : {third, twoAndAHalf, ranged, copied}) {
        EXPECT_EQ(StateProbe::channel(channel).values.size(), 571u);
        EXPECT_EQ(StateProbe::group(handle, channel).stamps.size(), 571u);
    }
    initialize(handle);
    EXPECT_EQ(StateProbe::settings(handle).inputBufferSize, 642u);
}

TEST(AliasFreeSetup, InitializePrimesFilteredGroupsWithZeros) {
    struct Row {
        const char* name;
        double rate;
        bool synchronous;
        uint64_t primed;  // T - 1
    };
    const Row rows[] = {
        {"synchronous 2500 Hz", 2500.0, true, 58},
        {"timestamped 3000 Hz", 3000.0, false, 70},
        {"synchronous at the output rate", 1000.0, true, 0},
    };
    const double offset = 0.25;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        AliasFreeResampler resampler;
        setInitialOffset(resampler.resampler(), offset);
        void* channel = row.synchronous ? resampler.syncChannel(row.rate, offset)
                                        : resampler.asyncChannel(row.rate, offset);
        void* second = row.synchronous ? resampler.syncChannel(row.rate, offset)
                                       : resampler.asyncChannel(row.rate, offset);
        initialize(resampler.resampler());

        const StateProbe::GroupView group = StateProbe::group(resampler.resampler(), channel);
        ASSERT_EQ(group.channelCount, 2u);
        EXPECT_EQ(group.pending, row.primed);  // once per group, not per channel
        EXPECT_EQ(group.writeSlot, row.primed);
        for (void* member : {channel, second}) {
            EXPECT_EQ(StateProbe::channel(member).writeSlot, row.primed);
            const std::vector<double>& values = StateProbe::channel(member).values;
            EXPECT_EQ(values, std::vector<double>(values.size(), 0.0));
        }
        if (row.primed == 0) {
            continue;
        }
        // The history ends on the group's offset and runs back one input period per sample.
        const double dt = 1.0 / row.rate;
        EXPECT_NEAR(group.stamps[0], offset - static_cast<double>(row.primed - 1) * dt, 1e-12);
        EXPECT_NEAR(group.newestStamp, offset, 1e-12);
    }
}

}  // namespace
