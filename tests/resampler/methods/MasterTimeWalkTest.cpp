#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "support/ResamplerFixture.h"

// The hold and linear methods share the walk over the master times: which input samples an
// output lies between. Each table runs both methods on one set-up.

namespace {

using TamlibTest::ChannelOutput;
using TamlibTest::ResamplerFixture;

constexpr int32_t kHold = TAMLIB_METHOD_HOLD;
constexpr int32_t kLinear = TAMLIB_METHOD_LINEAR;

const char* nameOf(int32_t method) {
    return method == kHold ? "hold" : "linear";
}

// Output at 2 Hz from 0.5 s, tolerance customEpsilon seconds, one asynchronous channel; the
// samples of one pass are added, calculated and read.
struct WorkedSetup {
    WorkedSetup(int32_t method, double customEpsilon = 1e-6) : fixture(method) {
        setSamplerate(fixture.resampler(), 2.0);
        setInitialOffset(fixture.resampler(), 0.5);
        setCustomEpsilon(fixture.resampler(), customEpsilon);
        channel = fixture.asyncChannel();
        initialize(fixture.resampler());
    }
    ChannelOutput pass(const std::vector<double>& times, const std::vector<double>& values) {
        fixture.addSamples(channel, times, values);
        return fixture.calculateAndRead(channel);
    }
    ResamplerFixture fixture;
    void* channel = nullptr;
};

// 700 samples about 1 ms apart, each stamp moved by up to 0.4 ms (still strictly increasing),
// onto a 1 kHz grid: streamed in blocks of 10 through rings of 16 input and 13 output samples, so
// that runs of outputs wrap in both rings, and in one block, so that a pass is longer than the
// 512 outputs hold copies per batch. Hold gives the newest sample at or before each output,
// linear the line through the samples around it; comparisons are exact, as the reference's are.
TEST(MasterTimeWalkTest, StreamedOutputsAcrossRingWrapsAndBatches) {
    struct Layout {
        uint64_t inputRing;
        uint64_t outputRing;
        size_t block;
    };
    std::vector<double> stamps;
    std::vector<double> values;
    for (size_t i = 0; i < 700; ++i) {
        const auto x = static_cast<double>(i);
        stamps.push_back(0.001 * x + 0.0004 * std::sin(1.7 * x));
        values.push_back(std::cos(0.37 * x) * x);
    }
    for (int32_t method : {kHold, kLinear}) {
        // The third: batches of outputs that run across the end of the output ring.
        for (const Layout layout :
             {Layout{16, 13, 10}, Layout{1000, 1000, 700}, Layout{1000, 400, 350}}) {
            SCOPED_TRACE(std::string(nameOf(method)) + ", blocks of " +
                         std::to_string(layout.block));
            ResamplerFixture fixture(method);
            setSamplerate(fixture.resampler(), 1000.0);
            setCustomEpsilon(fixture.resampler(), 0.0);
            setInputBufferSize(fixture.resampler(), layout.inputRing);
            setOutputBufferSize(fixture.resampler(), layout.outputRing);
            void* channel = fixture.asyncChannel();
            initialize(fixture.resampler());
            const ChannelOutput output = fixture.stream(channel, stamps, values, layout.block);
            ASSERT_GT(output.size(), 690u);
            for (size_t k = 0; k < output.size(); ++k) {
                const double t = output.times[k];
                const size_t atOrBefore =
                    std::upper_bound(stamps.begin() + 1, stamps.end(), t) - stamps.begin() - 1;
                if (method == kHold) {
                    ASSERT_EQ(output.values[k], values[atOrBefore]) << "output " << k;
                    continue;
                }
                const size_t left = std::min(atOrBefore, stamps.size() - 2);
                const double weight = (t - stamps[left]) / (stamps[left + 1] - stamps[left]);
                const double expected = values[left] + weight * (values[left + 1] - values[left]);
                ASSERT_NEAR(output.values[k], expected, 1e-9 * std::abs(expected) + 1e-12)
                    << "output " << k;
            }
        }
    }
}

// The output at 2.0 s when the second sample (2.0:20, between 1.0:10 and 3.0:40) lies near 2.0:
// within the tolerance on either side it counts as lying at 2.0, so hold gives it and linear
// starts its pair with it.
TEST(MasterTimeWalkTest, SampleWithinToleranceCountsAsAtTheOutputTime) {
    struct Row {
        const char* name;
        int32_t method;
        double customEpsilon;
        double secondStamp;
        double expectedAt2;
    };
    const Row rows[] = {
        {"hold, just before, within", kHold, 1e-6, 1.9999995, 20.0},
        {"hold, just after, within", kHold, 1e-6, 2.0000005, 20.0},
        {"hold, after, beyond", kHold, 1e-6, 2.000002, 10.0},
        {"hold, exact comparison", kHold, 0.0, 2.0000005, 10.0},
        {"hold, exact comparison, equal", kHold, 0.0, 2.0, 20.0},
        // Pair (2.0000005, 20), (3, 40): 20 + (-5e-7 / 0.9999995) x 20.
        {"linear, just after, within", kLinear, 1e-6, 2.0000005, 20.0 + (-5e-7 / 0.9999995) * 20.0},
        // Pair (1, 10), (2.000002, 20): 10 + (1 / 1.000002) x 10.
        {"linear, after, beyond", kLinear, 1e-6, 2.000002, 10.0 + (1.0 / 1.000002) * 10.0},
        {"linear, exact comparison, equal", kLinear, 0.0, 2.0, 20.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WorkedSetup setup(row.method, row.customEpsilon);
        const ChannelOutput output = setup.pass({1.0, row.secondStamp, 3.0}, {10.0, 20.0, 40.0});
        ASSERT_EQ(output.times, (std::vector<double>{0.5, 1.0, 1.5, 2.0, 2.5}));
        EXPECT_NEAR(output.values[3], row.expectedAt2, 1e-12);
    }
}

// Equal stamps: hold takes the later sample; linear, whose pair then has t1 = t0, gives y0.
// Linear with 2.0:20, 2.0:22 as the first pair gives 20 up to 1.5, then moves on to (2.0:22,
// 3.0:30). A single sample waits for a second in both.
TEST(MasterTimeWalkTest, EqualStampsAndASingleSample) {
    struct Row {
        const char* name;
        int32_t method;
        std::vector<std::vector<double>> times;  // per pass
        std::vector<std::vector<double>> values;
        std::vector<double> lastPass;
    };
    const Row rows[] = {
        {"hold, equal stamps",
         kHold,
         {{1.0, 2.0, 2.0, 3.0}},
         {{10.0, 20.0, 21.0, 30.0}},
         {10.0, 10.0, 10.0, 21.0, 21.0}},
        {"linear, equal stamps",
         kLinear,
         {{2.0, 2.0, 3.0}},
         {{20.0, 22.0, 30.0}},
         {20.0, 20.0, 20.0, 22.0, 26.0}},
        {"hold, single sample", kHold, {{1.0}, {2.0}}, {{10.0}, {20.0}}, {10.0, 10.0, 10.0}},
        {"linear, single sample", kLinear, {{1.0}, {2.0}}, {{10.0}, {20.0}}, {5.0, 10.0, 15.0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WorkedSetup setup(row.method);
        ChannelOutput output;
        for (size_t pass = 0; pass < row.times.size(); ++pass) {
            output = setup.pass(row.times[pass], row.values[pass]);
            if (pass + 1 < row.times.size()) {
                EXPECT_EQ(output.passCounts, (std::vector<uint64_t>{0}));
            }
        }
        EXPECT_EQ(output.values, row.lastPass);
    }
}

// Any array channel makes a linear resampler produce nothing at all, scalar groups included.
TEST(MasterTimeWalkTest, LinearArrayChannelSilencesEveryGroup) {
    ResamplerFixture fixture(kLinear);
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
}

}  // namespace
