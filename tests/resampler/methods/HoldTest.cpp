#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/ResamplerFixture.h"

namespace {

using TamlibTest::ChannelOutput;
using TamlibTest::JitteredStream;
using TamlibTest::ResamplerFixture;
using TamlibTest::WorkedSetup;

// Every output of a stream whose runs wrap in both rings holds the last sample stamped at or
// before it.
TEST(HoldTest, StreamedOutputsHoldTheLastSampleAcrossRingWraps) {
    const JitteredStream stream(TAMLIB_METHOD_HOLD);
    ASSERT_GT(stream.output.size(), 250u);
    for (size_t k = 0; k < stream.output.size(); ++k) {
        const size_t held = stream.sampleAtOrBefore(stream.output.times[k]);
        ASSERT_EQ(stream.output.values[k], stream.values[held]) << "output " << k;
    }
}

// Samples 1.0:10, 2.0:20, 3.0:30, grid 0.5..3.0. The first sample is held backwards; a sample at
// the output time is used itself; 3.0 waits for a successor, which the second pass brings.
TEST(HoldTest, WorkedExampleAcrossTwoPasses) {
    WorkedSetup setup(TAMLIB_METHOD_HOLD);
    setup.fixture.addSamples(setup.channel, {1.0, 2.0, 3.0}, {10.0, 20.0, 30.0});
    const ChannelOutput first = setup.calculateAndRead();
    EXPECT_EQ(first.times, (std::vector<double>{0.5, 1.0, 1.5, 2.0, 2.5}));
    EXPECT_EQ(first.values, (std::vector<double>{10.0, 10.0, 10.0, 20.0, 20.0}));

    setup.fixture.addSamples(setup.channel, {4.0}, {40.0});
    const ChannelOutput second = setup.calculateAndRead();
    EXPECT_EQ(second.times, (std::vector<double>{3.0, 3.5}));
    EXPECT_EQ(second.values, (std::vector<double>{30.0, 30.0}));
}

// Which sample the output at 2.0 s holds, when the second sample lies near 2.0: within the
// tolerance on either side it counts as lying at 2.0.
TEST(HoldTest, SampleWithinToleranceCountsAsAtTheOutputTime) {
    struct Row {
        const char* name;
        double customEpsilon;
        double secondStamp;
        double expectedAt2;
    };
    const Row rows[] = {
        {"just before, within", 1e-6, 1.9999995, 20.0},
        {"just after, within", 1e-6, 2.0000005, 20.0},
        {"after, beyond", 1e-6, 2.000002, 10.0},
        {"exact comparison", 0.0, 2.0000005, 10.0},
        {"exact comparison, equal", 0.0, 2.0, 20.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WorkedSetup setup(TAMLIB_METHOD_HOLD, row.customEpsilon);
        setup.fixture.addSamples(setup.channel, {1.0, row.secondStamp, 3.0}, {10.0, 20.0, 30.0});
        const ChannelOutput output = setup.calculateAndRead();
        ASSERT_EQ(output.times, (std::vector<double>{0.5, 1.0, 1.5, 2.0, 2.5}));
        EXPECT_EQ(output.values[3], row.expectedAt2);
        EXPECT_EQ(output.values[4], 20.0);
    }
}

TEST(HoldTest, EqualStampsHoldTheLaterSample) {
    WorkedSetup setup(TAMLIB_METHOD_HOLD);
    setup.fixture.addSamples(setup.channel, {1.0, 2.0, 2.0, 3.0}, {10.0, 20.0, 21.0, 30.0});
    const ChannelOutput output = setup.calculateAndRead();
    EXPECT_EQ(output.values, (std::vector<double>{10.0, 10.0, 10.0, 21.0, 21.0}));
}

TEST(HoldTest, SingleSampleWaitsForASecond) {
    WorkedSetup setup(TAMLIB_METHOD_HOLD);
    setup.fixture.addSamples(setup.channel, {1.0}, {10.0});
    const ChannelOutput first = setup.calculateAndRead();
    EXPECT_EQ(first.passCounts, (std::vector<uint64_t>{0}));
    setup.fixture.addSamples(setup.channel, {2.0}, {20.0});
    const ChannelOutput second = setup.calculateAndRead();
    EXPECT_EQ(second.times, (std::vector<double>{0.5, 1.0, 1.5}));
    EXPECT_EQ(second.values, (std::vector<double>{10.0, 10.0, 10.0}));
}

// Each output copies the four values of the held sample, in order, into the next four entries.
TEST(HoldTest, ArrayChannelCopiesWholeSamples) {
    ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
    void* r = fixture.resampler();
    setSamplerate(r, 2.0);
    setInitialOffset(r, 0.5);
    void* channel = fixture.arrayChannel(4);
    initialize(r);
    const double stamps[] = {1.0, 2.0, 3.0};
    for (int k = 0; k < 3; ++k) {
        const double base = 10.0 * (k + 1);
        fixture.addValues(channel, {base, base + 1, base + 2, base + 3});
        addTime(r, channel, stamps[k]);
    }
    const ChannelOutput output = fixture.calculateAndRead(channel, 4);
    EXPECT_EQ(output.times, (std::vector<double>{0.5, 1.0, 1.5, 2.0, 2.5}));
    EXPECT_EQ(output.values, (std::vector<double>{10, 11, 12, 13, 10, 11, 12, 13, 10, 11,
                                                  12, 13, 20, 21, 22, 23, 20, 21, 22, 23}));
    const auto& ring = ResamplerFixture::channelAt(channel).outputBuffer;
    EXPECT_EQ((std::vector<double>(ring.begin() + 12, ring.begin() + 20)),
              (std::vector<double>{20, 21, 22, 23, 20, 21, 22, 23}));
}

}  // namespace
