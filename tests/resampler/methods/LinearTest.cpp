#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "support/ResamplerFixture.h"

namespace {

using TamlibTest::ChannelOutput;
using TamlibTest::JitteredStream;
using TamlibTest::ResamplerFixture;
using TamlibTest::WorkedSetup;

// Samples 1.0:10, 2.0:20, 3.0:40. 0.5 lies before every sample: the line through the first two
// is extended backwards, 10 + (-0.5 / 1) x 10 = 5. 3.0 waits for a successor; with 4.0:50 the
// Every output of a stream whose runs wrap in both rings lies on the line through the samples
// around it.
TEST(LinearTest, StreamedOutputsInterpolateAcrossRingWraps) {
    const JitteredStream stream(TAMLIB_METHOD_LINEAR);
    ASSERT_GT(stream.output.size(), 250u);
    const std::vector<double>& stamps = stream.stamps;
    const std::vector<double>& values = stream.values;
    for (size_t k = 0; k < stream.output.size(); ++k) {
        const double t = stream.output.times[k];
        const size_t left = std::min(stream.sampleAtOrBefore(t), stamps.size() - 2);
        const double weight = (t - stamps[left]) / (stamps[left + 1] - stamps[left]);
        const double expected = values[left] + weight * (values[left + 1] - values[left]);
        ASSERT_NEAR(stream.output.values[k], expected, 1e-9 * std::abs(expected) + 1e-12)
            << "output " << k;
    }
}

// next pass gives 3.0:40 and 3.5:45.
TEST(LinearTest, WorkedExampleAcrossTwoPasses) {
    WorkedSetup setup(TAMLIB_METHOD_LINEAR);
    setup.fixture.addSamples(setup.channel, {1.0, 2.0, 3.0}, {10.0, 20.0, 40.0});
    const ChannelOutput first = setup.calculateAndRead();
    EXPECT_EQ(first.times, (std::vector<double>{0.5, 1.0, 1.5, 2.0, 2.5}));
    EXPECT_EQ(first.values, (std::vector<double>{5.0, 10.0, 15.0, 20.0, 30.0}));

    setup.fixture.addSamples(setup.channel, {4.0}, {50.0});
    const ChannelOutput second = setup.calculateAndRead();
    EXPECT_EQ(second.times, (std::vector<double>{3.0, 3.5}));
    EXPECT_EQ(second.values, (std::vector<double>{40.0, 45.0}));
}

// A second sample within the tolerance of 2.0 becomes the left end of the pair for 2.0, so the
// output is its own value; beyond the tolerance the output interpolates towards it.
TEST(LinearTest, SampleWithinToleranceStartsThePair) {
    struct Row {
        const char* name;
        double customEpsilon;
        double secondStamp;
        double expectedAt2;
    };
    const Row rows[] = {
        // Pair (2.0000005, 20), (3, 40): 20 + (-5e-7 / 0.9999995) x 20.
        {"just after, within", 1e-6, 2.0000005, 20.0 + (-5e-7 / 0.9999995) * 20.0},
        // Pair (1, 10), (2.000002, 20): 10 + (1 / 1.000002) x 10.
        {"after, beyond", 1e-6, 2.000002, 10.0 + (1.0 / 1.000002) * 10.0},
        {"exact comparison, equal", 0.0, 2.0, 20.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WorkedSetup setup(TAMLIB_METHOD_LINEAR, row.customEpsilon);
        setup.fixture.addSamples(setup.channel, {1.0, row.secondStamp, 3.0}, {10.0, 20.0, 40.0});
        const ChannelOutput output = setup.calculateAndRead();
        ASSERT_EQ(output.times.size(), 5u);
        EXPECT_NEAR(output.values[3], row.expectedAt2, 1e-12);
    }
}

// Equal stamps 2.0:20 and 2.0:22 as the first pair: t1 equals t0 and the output is y0 = 20, for
// 1.5 and backwards to 0.5; at 2.0 the pair moves on to (2.0:22, 3.0:30).
TEST(LinearTest, EqualStampsGiveTheFirstValue) {
    WorkedSetup setup(TAMLIB_METHOD_LINEAR);
    setup.fixture.addSamples(setup.channel, {2.0, 2.0, 3.0}, {20.0, 22.0, 30.0});
    const ChannelOutput output = setup.calculateAndRead();
    EXPECT_EQ(output.times, (std::vector<double>{0.5, 1.0, 1.5, 2.0, 2.5}));
    EXPECT_EQ(output.values, (std::vector<double>{20.0, 20.0, 20.0, 22.0, 26.0}));
}

// Any array channel makes a linear resampler produce nothing at all, scalar groups included,
// while each pass still prepares: counts reset, stamps of rate-defined groups generated.
TEST(LinearTest, ArrayChannelSilencesEveryGroup) {
    ResamplerFixture fixture(TAMLIB_METHOD_LINEAR);
    void* r = fixture.resampler();
    void* scalar = fixture.asyncChannel();
    void* sync = fixture.syncChannel(1000.0, 0.0);
    void* array = fixture.arrayChannel(4);
    ASSERT_NE(array, nullptr);
    initialize(r);
    fixture.addSamples(scalar, {0.0, 0.001, 0.002}, {1.0, 2.0, 3.0});
    fixture.addValues(sync, {1.0, 2.0, 3.0});
    fixture.addValues(array, {1.0, 2.0, 3.0, 4.0});
    addTime(r, array, 0.0);
    EXPECT_NO_THROW(calculate(r));
    for (void* channel : {scalar, sync, array}) {
        EXPECT_EQ(fixture.count(channel), 0u);
    }
    EXPECT_EQ(fixture.groupOf(sync).inputWriteIndex, 3u);
    EXPECT_EQ(ResamplerFixture::channelAt(sync).samplesAdded, 0u);
}

}  // namespace
