#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "support/ResamplerFixture.h"

namespace {

using Karvel::Tamlib::Resampler::ResamplerChannel;
using TamlibTest::ChannelOutput;
using TamlibTest::expectNear;
using TamlibTest::invalidArgumentMessage;
using TamlibTest::ramp;
using TamlibTest::ResamplerFixture;

// Every channel of a group reports the latest pass's count; one read may take at most one
// sample less than the ring holds.
TEST(OutputTest, CountsAndReadLimit) {
    ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
    void* r = fixture.resampler();
    void* channel = fixture.syncChannel(1000.0, 0.0);
    void* other = fixture.syncChannel(1000.0, 0.0);
    initialize(r);
    fixture.addValues(channel, ramp(10, 0.0, 1.0));
    fixture.addValues(other, ramp(10, 0.0, 1.0));
    calculate(r);
    for (void* member : {channel, other}) {
        uint64_t data = 0;
        uint64_t times = 0;
        getResampledDataCount(r, member, &data);
        getResampledTimesCount(r, member, &times);
        EXPECT_EQ(data, 10u);
        EXPECT_EQ(times, 10u);
    }
    std::vector<double> buffer(1000, -1.0);

    EXPECT_EQ(invalidArgumentMessage([&] { getResampledData2(r, channel, buffer.data(), 1000); }),
              "Too many samples requested.");
    EXPECT_EQ(invalidArgumentMessage([&] { getResampledTimes2(r, channel, buffer.data(), 1000); }),
              "Too many samples requested.");
    EXPECT_EQ(buffer[0], -1.0);
    // Neither a refused read nor one of 0 samples moves the cursors.
    getResampledData2(r, channel, buffer.data(), 0);
    EXPECT_EQ(buffer[0], -1.0);
    getResampledData2(r, channel, buffer.data(), 999);
    getResampledTimes2(r, channel, buffer.data() + 10, 10);
    EXPECT_EQ(buffer[0], 0.0);
    EXPECT_EQ(buffer[9], 9.0);
    EXPECT_NEAR(buffer[19], 0.009, 1e-15);

    calculate(r);
    EXPECT_EQ(fixture.count(channel), 0u);
}

// An array sample is arraySize values: three samples are twelve values, the cursor moves by 3.
TEST(OutputTest, ArrayChannelReadsArraySizeValuesPerSample) {
    ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
    void* r = fixture.resampler();
    setSamplerate(r, 4.0);
    void* channel = fixture.arrayChannel(4);
    initialize(r);
    for (int k = 0; k < 5; ++k) {
        fixture.addValues(channel, ramp(4, 10.0 * k, 1.0));
        addTime(r, channel, 0.25 * k);
    }
    calculate(r);
    ASSERT_EQ(fixture.count(channel), 4u);
    std::vector<double> values(13, -1.0);
    getResampledData2(r, channel, values.data(), 3);
    EXPECT_EQ(values, (std::vector<double>{0, 1, 2, 3, 10, 11, 12, 13, 20, 21, 22, 23, -1}));
    getResampledData2(r, channel, values.data(), 1);
    EXPECT_EQ((std::vector<double>(values.begin(), values.begin() + 4)),
              (std::vector<double>{30, 31, 32, 33}));
}

TEST(OutputTest, UnknownChannelIsIgnoredAndHasAllOnesExpected) {
    ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
    void* r = fixture.resampler();
    void* registered = fixture.asyncChannel();
    initialize(r);
    ResamplerChannel foreign;
    EXPECT_EQ(addTime(r, &foreign, 1.0), 0);
    EXPECT_EQ(TamlibTest::StateProbe::group(r, registered).pending, 0u);
    EXPECT_EQ(TamlibTest::StateProbe::group(r, registered).timeMaster, nullptr);
    uint64_t count = 7;
    getResampledDataCount(r, &foreign, &count);
    EXPECT_EQ(count, 0u);
    getResampledTimesCount(r, &foreign, &count);
    EXPECT_EQ(count, 0u);
    calculateDataCountOfChannel(r, &foreign, &count);
    EXPECT_EQ(count, std::numeric_limits<uint64_t>::max());
    // No group, so no limit check and nothing copied.
    double untouched = -1.0;
    getResampledTimes2(r, &foreign, &untouched, 5000);
    EXPECT_EQ(untouched, -1.0);
}

// sampleCount x (output rate / group rate), rounded half away from zero; or for a declared range
// floor((end - start) x output rate) + 1, both ends counted.
TEST(OutputTest, ExpectedCountsFollowTheDeclaration) {
    struct Row {
        const char* name;
        double outputRate;
        double groupRate;
        int64_t sampleCount;
        double start;
        double end;
        uint64_t expected;
    };
    const Row rows[] = {
        {"1000 samples at 400 Hz", 1000.0, 400.0, 1000, -1.0, -1.0, 2500},
        {"half rounds up", 1000.0, 2000.0, 5, -1.0, -1.0, 3},          // 2.5
        {"below half rounds down", 1000.0, 3000.0, 4, -1.0, -1.0, 1},  // 1.33
        {"nothing declared", 1000.0, 100.0, 0, -1.0, -1.0, 0},
        {"one second at 10 Hz", 10.0, 100.0, 0, 0.0, 1.0, 11},
        {"range of 0.25 s at 10 Hz", 10.0, 100.0, 0, 1.0, 1.25, 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ResamplerFixture fixture(TAMLIB_METHOD_LINEAR);
        void* r = fixture.resampler();
        setSamplerate(r, row.outputRate);
        void* channel = nullptr;
        if (row.start == -1.0) {
            addSyncChannel(r, &channel, row.groupRate, 0.0, row.sampleCount);
        } else {
            addAsyncChannel3(r, &channel, row.groupRate, 0.0, row.start, row.end);
        }
        EXPECT_EQ(fixture.expectedCount(channel), 0u);  // nothing expected before initialize
        initialize(r);
        EXPECT_EQ(fixture.expectedCount(channel), row.expected);
    }
}

TEST(OutputTest, AllDataCountSumsChannelsTimesExpectedOutputs) {
    ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
    void* r = fixture.resampler();
    for (int k = 0; k < 3; ++k) {
        fixture.syncChannel(1000.0, 0.0, 100);  // only the first declares its count
    }
    fixture.syncChannel(400.0, 0.0, 100);
    initialize(r);
    uint64_t count = 0;
    getAllDataCount(r, &count);
    EXPECT_EQ(count, 3u * 100u + 250u);
}

// A group reads only master times that were written and not yet overwritten. The copy runs
// between the wraps of an input ring of 7 and an output ring of 8, each at its own slot.
TEST(OutputTest, DirectCopyStopsAtTheNewestMasterTime) {
    ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
    void* r = fixture.resampler();
    setInputBufferSize(r, 5);
    setOutputBufferSize(r, 8);
    void* channel = fixture.syncChannel(1000.0, 0.0);
    initialize(r);
    fixture.addValues(channel, ramp(6, 0.0, 1.0));
    // The block end holds the grid at 3 ms: four master times for six samples.
    addBlockEndTimeInMiliseconds(channel, 3.0);
    const ChannelOutput first = fixture.calculateAndRead(channel);
    expectNear(first.times, ramp(4, 0.0, 0.001), 1e-12);
    EXPECT_EQ(first.values, ramp(4, 0.0, 1.0));

    fixture.addValues(channel, ramp(4, 6.0, 1.0));
    addBlockEndTimeInMiliseconds(channel, std::numeric_limits<double>::infinity());
    const ChannelOutput second = fixture.calculateAndRead(channel);
    expectNear(second.times, ramp(6, 0.004, 0.001), 1e-12);
    EXPECT_EQ(second.values, ramp(6, 4.0, 1.0));
}

// Seven samples into rings that keep five: the group starts from the oldest sample whose values
// and time stamp are both still there, sample 2, held back to 0.5 s; with six it is sample 1, and
// the newest waits for a successor. An array channel of two values per sample keeps five samples
// in a ring of ten. Six master times into an output ring of four: the oldest two are gone, and
// the group goes on from the oldest one still stored instead of reading overwritten slots.
TEST(OutputTest, OverwrittenRingContentIsSkipped) {
    struct Row {
        const char* name;
        uint64_t inputSize;
        uint64_t outputSize;
        int32_t arraySize;
        std::vector<double> stamps;  // a sample's values are ten times its stamp
        std::vector<double> master;
        size_t firstMaster;  // the first one read
        std::vector<double> held;
    };
    const std::vector<double> master = {0.5, 1.5, 2.5, 3.5, 4.5, 5.5};
    const Row rows[] = {
        {"scalar", 3, 1000, 1, ramp(7, 0.0, 1.0), master, 0, {20, 20, 20, 30, 40, 50}},
        {"array of two", 8, 1000, 2, ramp(7, 0.0, 1.0), master, 0, {20, 20, 20, 30, 40, 50}},
        {"one sample over", 3, 1000, 1, ramp(6, 0.0, 1.0), master, 0, {10, 10, 20, 30, 40}},
        {"master times", 1000, 4, 1, {0.0, 2.5, 10.0}, ramp(6, 0.0, 1.0), 2, {0, 25, 25, 25}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
        void* r = fixture.resampler();
        setTimeBase(r, TAMLIB_TIMEBASE_EXPLICIT);
        setInputBufferSize(r, row.inputSize);
        setOutputBufferSize(r, row.outputSize);
        void* channel =
            row.arraySize == 1 ? fixture.asyncChannel() : fixture.arrayChannel(row.arraySize);
        initialize(r);
        for (const double stamp : row.stamps) {
            fixture.addValues(channel, std::vector<double>(row.arraySize, 10.0 * stamp));
            addTime(r, channel, stamp);
        }
        addMasterTimes(r, row.master.data(), row.master.size());
        const ChannelOutput output = fixture.calculateAndRead(channel, row.arraySize);
        const auto first = row.master.begin() + static_cast<std::ptrdiff_t>(row.firstMaster);
        EXPECT_EQ(output.times, std::vector<double>(first, first + row.held.size()));
        std::vector<double> expected;
        for (double held : row.held) {
            expected.insert(expected.end(), row.arraySize, held);
        }
        EXPECT_EQ(output.values, expected);
    }
}

// An array channel holds fewer samples than entries: with 4 values per sample a ring of 418
// entries holds 104 samples. 150 calls of 4 values (samples 0..149, sample k's values
// 4k..4k+3) against 60 stamps leave 90 samples of values ahead, so 104 - 90 = 14 stamped
// samples are whole: 46..59, and hold gives 46 before its time.
TEST(OutputTest, ArrayChannelCountsItsRingInSamples) {
    ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
    void* r = fixture.resampler();
    setSamplerate(r, 4.0);
    setInputBufferSize(r, 416);
    void* channel = fixture.arrayChannel(4);
    initialize(r);
    for (int k = 0; k < 150; ++k) {
        fixture.addValues(channel, ramp(4, 4.0 * k, 1.0));
    }
    const std::vector<double> stamps = ramp(60, 0.0, 0.25);
    addTimes(r, channel, stamps.data(), stamps.size());
    const ChannelOutput output = fixture.calculateAndRead(channel, 4);
    ASSERT_EQ(output.size(), 59u);
    for (size_t j = 0; j < output.size(); ++j) {
        const double sample = std::max(output.times[j] * 4.0, 46.0);
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(output.values[4 * j + i], 4.0 * sample + double(i)) << j << "," << i;
        }
    }
}

}  // namespace
