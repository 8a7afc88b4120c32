#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "support/ResamplerFixture.h"

namespace {

using TamlibTest::ChannelOutput;
using TamlibTest::invalidArgumentMessage;
using TamlibTest::ramp;
using TamlibTest::ResamplerFixture;
using TamlibTest::StateProbe;

// The first master time is the latest of the resampler's offset, 0.0 and every group's offset.
// Without data the target lies before it: the negative step count adds nothing. The grid runs to
// the newest input time, unless a channel gives a block end (the last such channel in the list
// decides, not the largest) or end of data is declared. n is rounded half away from zero. dt =
// 0.25 s keeps every sum exact. More new master times than the ring of 100 holds would overwrite
// times no group has read (typically absolute time stamps with offset 0): the pass refuses
// before appending anything.
TEST(DriverTest, GridIsSeededAndExtendsToTheTargetByRoundedSteps) {
    struct Row {
        const char* name;
        std::vector<double> blockEndsMs;  // per channel, NaN for none
        double endOfDataMs;               // NaN for none
        double newestStamp;               // NaN for no data
        uint64_t expectedMasterTimes;
        double customEpsilon = -1.0;
        bool refused = false;
        double resamplerOffset = 0.0;
        std::vector<double> groupOffsets = {0.0, 0.0};
        double expectedSeed = 0.0;
    };
    const double none = std::numeric_limits<double>::quiet_NaN();
    const Row rows[] = {
        {"resampler offset wins", {none, none}, none, none, 1, -1.0, false, 5.0, {2.0, 2.0}, 5.0},
        {"latest group offset wins",
         {none, none},
         none,
         none,
         1,
         -1.0,
         false,
         1.0,
         {2.0, 3.0},
         3.0},
        {"never before zero", {none, none}, none, none, 1, -1.0, false, -1.0, {-2.0, -2.0}, 0.0},
        {"negative zero everywhere", {none, none}, none, none, 1, -1.0, false, -0.0, {-0.0, -0.0}},
        {"newest stamp", {none, none}, none, 2.0, 9},
        {"half step rounds up", {none, none}, none, 0.625, 4},
        {"last block end decides", {5000.0, 3000.0}, none, 2.0, 13},
        {"block end before the stamp", {none, 1000.0}, none, 2.0, 5},
        {"end of data overrides", {5000.0, none}, 1500.0, 2.0, 7},
        // 0.15 s would round to one step, but it lies within the tolerance of zero.
        {"target within epsilon of zero", {none, none}, none, 0.15, 1, 0.2},
        // The seed at 0.0 plus 99 steps fill the 100 slots exactly; one step more would
        // overwrite the seed before any group read it.
        {"exactly a ring of master times", {none, none}, none, 24.75, 100},
        {"one master time more", {none, none}, none, 25.0, 0, -1.0, true},
        {"absolute clock time", {none, none}, none, 1.7e9, 0, -1.0, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
        void* r = fixture.resampler();
        setSamplerate(r, 4.0);
        setOutputBufferSize(r, 100);
        setCustomEpsilon(r, row.customEpsilon);
        setInitialOffset(r, row.resamplerOffset);
        void* a = fixture.asyncChannel(100.0, row.groupOffsets[0]);
        void* b = fixture.asyncChannel(100.0, row.groupOffsets[1]);
        initialize(r);
        if (!std::isnan(row.newestStamp)) {
            fixture.addSamples(a, {row.newestStamp}, {1.0});
            fixture.addSamples(b, {row.newestStamp}, {1.0});
        }
        void* channels[] = {a, b};
        for (size_t c = 0; c < 2; ++c) {
            if (!std::isnan(row.blockEndsMs[c])) {
                addBlockEndTimeInMiliseconds(channels[c], row.blockEndsMs[c]);
            }
        }
        if (!std::isnan(row.endOfDataMs)) {
            noMoreDataToAdd(r, row.endOfDataMs);
        }
        EXPECT_EQ(invalidArgumentMessage([&] { calculate(r); }),
                  row.refused ? "Output buffer to small." : "");
        const std::vector<double> grid = StateProbe::grid(r).times;
        EXPECT_EQ(grid, ramp(row.expectedMasterTimes, row.expectedSeed, 0.25));
        EXPECT_FALSE(!grid.empty() && std::signbit(grid.front()));
        EXPECT_EQ(StateProbe::grid(r).startPending, row.refused);
    }
}

TEST(DriverTest, ExplicitTimeBaseUsesExactlyTheGivenMasterTimes) {
    for (int32_t timeBase : {TAMLIB_TIMEBASE_EXPLICIT, 7}) {
        SCOPED_TRACE(timeBase);
        ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
        void* r = fixture.resampler();
        setTimeBase(r, timeBase);
        setInputBufferSize(r, 3000);
        // Not the default rate, or the synchronous channel below would join this group.
        void* channel = fixture.asyncChannel(250.0, 0.0);
        // A rate-defined group at the output rate is resampled too: no grid, no direct copy.
        void* sync = fixture.syncChannel(1000.0, 0.0);
        initialize(r);
        const std::vector<double> master = {0.5, 0.7, 1.3, 2.0};
        addMasterTimes(r, master.data(), master.size());
        fixture.addSamples(channel, {0.0, 1.0, 2.0, 3.0}, {1.0, 2.0, 3.0, 4.0});
        fixture.addValues(sync, ramp(2500, 0.0, 1.0));
        const ChannelOutput output = fixture.calculateAndRead(channel);
        EXPECT_EQ(output.times, master);
        EXPECT_EQ(output.values, (std::vector<double>{1.0, 1.0, 2.0, 3.0}));
        ChannelOutput syncOutput;
        fixture.read(sync, syncOutput);
        EXPECT_EQ(syncOutput.times, master);
        // Input at 1 ms steps: the held sample is the one at or just before each master time.
        EXPECT_EQ(syncOutput.values, (std::vector<double>{500.0, 700.0, 1300.0, 2000.0}));
    }
}

// maxWait 100 ms, block ends 1.5 s then 2.5 s. dt = 0.125 s keeps every grid time exact. Pass 1
// (first after set-up): the group stops at 1.0 for want of a successor; the wait is not
// subtracted, so T = 1.5 and the newest value fills 1.0..1.5. Pass 2: the method runs from the
// held sample, now at 1.5, to the new one at 2.0; T = 2.5 - 0.1 = 2.4, filled up to 2.375.
TEST(DriverTest, GapIsFilledAfterWaitingTooLong) {
    struct Row {
        int32_t method;
        std::vector<double> firstValues;
        std::vector<double> secondValues;
    };
    const Row rows[] = {
        {TAMLIB_METHOD_HOLD, {1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2}, {2, 2, 2, 3, 3, 3, 3}},
        {TAMLIB_METHOD_LINEAR,
         {1, 1.125, 1.25, 1.375, 1.5, 1.625, 1.75, 1.875, 2, 2, 2, 2, 2},
         {2.25, 2.5, 2.75, 3, 3, 3, 3}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.method);
        ResamplerFixture fixture(row.method);
        void* r = fixture.resampler();
        setSamplerate(r, 8.0);
        setMaxWaitTimeInMs(r, 100.0);
        void* channel = fixture.asyncChannel();
        initialize(r);

        fixture.addSamples(channel, {0.0, 1.0}, {1.0, 2.0});
        addBlockEndTimeInMiliseconds(channel, 1500.0);
        const ChannelOutput first = fixture.calculateAndRead(channel);
        EXPECT_EQ(first.times, ramp(13, 0.0, 0.125));
        EXPECT_EQ(first.values, row.firstValues);
        EXPECT_EQ(StateProbe::group(r, channel).newestStamp, 1.5);

        fixture.addSamples(channel, {2.0}, {3.0});
        addBlockEndTimeInMiliseconds(channel, 2500.0);
        const ChannelOutput second = fixture.calculateAndRead(channel);
        EXPECT_EQ(second.times, ramp(7, 1.625, 0.125));
        EXPECT_EQ(second.values, row.secondValues);
        EXPECT_EQ(StateProbe::group(r, channel).newestStamp, 2.4);
    }
}

// Without a maximum wait a group waits for ever, and a block end 50 ms past the newest stamp at
// 1.0 s has not waited 100 ms yet: neither fills, and the newest sample waits for its successor.
TEST(DriverTest, NoGapIsFilledBeforeTheWaitIsOver) {
    for (const auto& [maxWaitMs, blockEndMs] : {std::pair{-1.0, 50000.0}, {100.0, 1050.0}}) {
        SCOPED_TRACE(maxWaitMs);
        ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
        setSamplerate(fixture.resampler(), 8.0);
        if (maxWaitMs > 0.0) {
            setMaxWaitTimeInMs(fixture.resampler(), maxWaitMs);
        }
        void* channel = fixture.asyncChannel();
        initialize(fixture.resampler());
        fixture.addSamples(channel, {0.0, 1.0}, {1.0, 2.0});
        addBlockEndTimeInMiliseconds(channel, blockEndMs);
        EXPECT_EQ(fixture.calculateAndRead(channel).values, std::vector<double>(8, 1.0));
    }
}

// End of data at 2.0 s: every group is filled with its newest value up to the last master time at
// or below 2.0. A group that produced nothing yet starts one period before its first master time;
// a group that never stored a sample is left alone.
TEST(DriverTest, EndOfDataFillsEveryGroupUpToTheEndTime) {
    ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
    void* r = fixture.resampler();
    setSamplerate(r, 8.0);
    void* busy = fixture.asyncChannel();
    void* single = fixture.asyncChannel();
    void* silent = fixture.asyncChannel();
    initialize(r);
    fixture.addSamples(busy, {0.0, 0.5, 1.0}, {1.0, 2.0, 3.0});
    fixture.addSamples(single, {0.75}, {5.0});
    noMoreDataToAdd(r, 2000.0);
    calculate(r);

    ChannelOutput busyOutput;
    fixture.read(busy, busyOutput);
    EXPECT_EQ(busyOutput.times, ramp(17, 0.0, 0.125));
    EXPECT_EQ(busyOutput.values,
              (std::vector<double>{1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3, 3}));

    // The single sample is held over the whole grid, backwards included.
    ChannelOutput singleOutput;
    fixture.read(single, singleOutput);
    EXPECT_EQ(singleOutput.times, ramp(17, 0.0, 0.125));
    EXPECT_EQ(singleOutput.values, std::vector<double>(17, 5.0));

    ChannelOutput silentOutput;
    fixture.read(silent, silentOutput);
    EXPECT_EQ(silentOutput.passCounts, (std::vector<uint64_t>{0}));

    // Once filled up to the end, a further pass has nothing left to give.
    const ChannelOutput after = fixture.calculateAndRead(busy);
    EXPECT_EQ(after.passCounts, (std::vector<uint64_t>{0}));
}

TEST(DriverTest, UnequalSampleCountsStopThePassBeforeTheGrid) {
    ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
    void* r = fixture.resampler();
    void* early = fixture.syncChannel(100.0, 0.0);
    void* a = fixture.asyncChannel(50.0, 0.0);
    void* b = fixture.asyncChannel(50.0, 0.0);
    void* late = fixture.syncChannel(200.0, 0.0);
    initialize(r);
    fixture.addValues(early, {1.0, 2.0, 3.0});
    fixture.addValues(a, {1.0, 2.0});
    fixture.addValues(b, {1.0});
    fixture.addValues(late, {1.0, 2.0});
    EXPECT_EQ(invalidArgumentMessage([&] { calculate(r); }),
              "All channels must have the same number of samples added.");
    // The earlier group is prepared, the failing and later ones are not; no grid yet.
    EXPECT_EQ(StateProbe::group(r, early).pending, 3u);
    EXPECT_EQ(StateProbe::channel(early).samplesAdded, 0u);
    EXPECT_EQ(StateProbe::channel(a).samplesAdded, 2u);
    EXPECT_EQ(StateProbe::channel(b).samplesAdded, 1u);
    EXPECT_EQ(StateProbe::group(r, late).pending, 0u);
    EXPECT_EQ(StateProbe::channel(late).samplesAdded, 2u);
    EXPECT_TRUE(StateProbe::grid(r).times.empty());
}

}  // namespace
