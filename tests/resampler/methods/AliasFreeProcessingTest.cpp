#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "resampler/methods/AliasFreeHarness.h"
#include "tamlib/resampler.h"

namespace {

using AliasFreeTest::AliasFreeResampler;
using AliasFreeTest::ChannelOutput;
using AliasFreeTest::PolyphaseFilter;
using AliasFreeTest::randomSignal;
using AliasFreeTest::Streamer;

// Bit for bit: the comparison is ==, and the outputs hold no NaN.
void expectSameOutput(const ChannelOutput& actual, const ChannelOutput& expected) {
    EXPECT_EQ(actual.values, expected.values);
    EXPECT_EQ(actual.times, expected.times);
}

// The output grid: master times built by repeated addition of one period from the first one.
std::vector<double> grid(double first, double rate, size_t count) {
    std::vector<double> times;
    double time = first;
    for (size_t k = 0; k < count; ++k) {
        times.push_back(time);
        time = time + 1.0 / rate;
    }
    return times;
}

// The kept output m of a stream lies at high-rate position p = (delay + m) * Q and reads the
// window x[i .. i + T - 1], i = floor(p / P), of the input x with its T - 1 primed zeros in
// front and the T flushed zeros behind; tap j meets c[p mod P + P * (T - 1 - j)]. The taps are
// added oldest first, one after another, which fixes every bit of the result. Evaluated here
// straight from that rule, without rings, batches or channels side by side.
std::vector<double> directOutputs(const PolyphaseFilter& filter, uint64_t delay,
                                  const std::vector<double>& signal, size_t count,
                                  bool newestFirst = false) {
    const uint64_t up = filter.up;
    const uint64_t down = filter.down;
    const uint64_t taps = filter.taps;
    const std::vector<float>& c = filter.coefficients;
    std::vector<double> x(taps - 1, 0.0);
    x.insert(x.end(), signal.begin(), signal.end());
    x.insert(x.end(), taps, 0.0);
    std::vector<double> outputs;
    for (size_t m = 0; m < count; ++m) {
        const uint64_t position = (delay + m) * down;
        const uint64_t first = position / up;
        const uint64_t phase = position % up;
        double sum = 0.0;
        for (uint64_t k = 0; k < taps; ++k) {
            const uint64_t j = newestFirst ? taps - 1 - k : k;
            sum += static_cast<double>(c[phase + up * (taps - 1 - j)]) * x.at(first + j);
        }
        outputs.push_back(sum);
    }
    return outputs;
}

// One channel, and three channels of one group, which may be computed side by side.
TEST(AliasFreeProcessing, EachOutputSumsItsWindowOldestFirst) {
    struct Row {
        double outputRate;
        double inputRate;
        size_t inputs;
        int channelCount;
    };
    const Row rows[] = {{1000.0, 2500.0, 2500, 1}, {2000.0, 1000.0, 1000, 1},
                        {1000.0, 1024.0, 2048, 1}, {1000.0, 2500.0, 2500, 3},
                        {2000.0, 1000.0, 1000, 3}, {1000.0, 1024.0, 2048, 3}};
    for (const Row& row : rows) {
        const int channelCount = row.channelCount;
        SCOPED_TRACE(std::to_string(row.outputRate) + " Hz from " + std::to_string(row.inputRate) +
                     ", " + std::to_string(channelCount) + " channels");
        AliasFreeResampler resampler;
        setSamplerate(resampler.resampler(), row.outputRate);
        setOutputBufferSize(resampler.resampler(), 4000);
        std::vector<std::vector<double>> signals;
        std::vector<void*> channels;
        for (int k = 0; k < channelCount; ++k) {
            signals.push_back(randomSignal(row.inputs, 41 + k));
            channels.push_back(resampler.syncChannel(row.inputRate));
        }
        initialize(resampler.resampler());
        const PolyphaseFilter& filter = resampler.filterOf(channels[0]);
        const auto delay = static_cast<uint64_t>(filter.delayCount);
        Streamer streamer(resampler);
        for (size_t k = 0; k < signals.size(); ++k) {
            streamer.add(channels[k], signals[k]);
        }
        streamer.run(5, 1000.0 * static_cast<double>(row.inputs) / row.inputRate);

        size_t orderMatters = 0;
        for (size_t k = 0; k < signals.size(); ++k) {
            SCOPED_TRACE("channel " + std::to_string(k));
            const std::vector<double>& actual = streamer[k].output.values;
            ASSERT_GT(actual.size(), 900u);
            const std::vector<double> expected =
                directOutputs(filter, delay, signals[k], actual.size());
            for (size_t m = 0; m < actual.size(); ++m) {
                ASSERT_EQ(actual[m], expected[m]) << "output " << m;
            }
            const std::vector<double> reversed =
                directOutputs(filter, delay, signals[k], actual.size(), true);
            orderMatters += reversed != expected ? 1 : 0;
        }
        // Otherwise the data could not tell a reordered sum from the right one.
        EXPECT_GT(orderMatters, 0u);
    }
}

// Before the end of data, output m (high-rate position (delay + m) * Q) needs the window to
// start at floor((delay + m) * Q / P) <= n - 1 for n real samples after the T - 1 primed
// zeros: m <= (n * P - 1 - delay * Q) / Q. The flush then adds exactly `delay` outputs, so
// that the stream ends with n * P / Q outputs.
TEST(AliasFreeProcessing, FlushProducesTheTailAndThenNothing) {
    struct Row {
        double outputRate;
        double inputRate;
        uint64_t delay;
        size_t inputs;
        size_t beforeFlush;
    };
    const Row rows[] = {
        {1000.0, 2500.0, 12, 1000, 388},  // (2000 - 1 - 60) / 5 = 387.8
        {2000.0, 1000.0, 24, 500, 976},   // (1000 - 1 - 24) / 1 = 975
        {100.0, 1000.0, 12, 3000, 288},   // (3000 - 1 - 120) / 10 = 287.9
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.outputRate) + " Hz from " + std::to_string(row.inputRate));
        AliasFreeResampler resampler;
        void* handle = resampler.resampler();
        setSamplerate(handle, row.outputRate);
        setInputBufferSize(handle, 4000);
        setOutputBufferSize(handle, 4000);
        void* channel = resampler.syncChannel(row.inputRate, 0.0, static_cast<int64_t>(row.inputs));
        initialize(handle);
        Streamer streamer(resampler);
        streamer.add(channel, randomSignal(row.inputs, 11));
        streamer.run(1);
        ASSERT_EQ(streamer[0].output.values.size(), row.beforeFlush);

        noMoreDataToAdd(handle, 1000.0 * static_cast<double>(row.inputs) / row.inputRate);
        streamer.calculateAndRead();
        const ChannelOutput& output = streamer[0].output;
        EXPECT_EQ(output.passCounts.back(), row.delay);
        EXPECT_EQ(output.values.size(), resampler.expectedCount(channel));
        const std::vector<double> times = grid(0.0, row.outputRate, output.times.size());
        EXPECT_EQ(output.times, times);

        // Flushed: neither new data nor another end of data brings anything.
        const std::vector<double> more = randomSignal(100, 12);
        addData(handle, channel, more.data(), more.size());
        streamer.calculateAndRead();
        streamer.calculateAndRead();
        noMoreDataToAdd(handle, 1000.0 * static_cast<double>(row.inputs + 200) / row.inputRate);
        streamer.calculateAndRead();
        const std::vector<uint64_t>& counts = streamer[0].output.passCounts;
        EXPECT_EQ(std::vector<uint64_t>(counts.end() - 3, counts.end()),
                  std::vector<uint64_t>(3, 0));
        EXPECT_FALSE(TamlibTest::StateProbe::settings(handle).endOfDataPending);
    }
}

// A first master time of 0.5 s moves the 2500 Hz group ahead by the output periods, summed
// from 0, that reach it: 500 periods (0.001 added 500 times gives 0.5000000000000003) of 5
// high-rate samples, 1250 input samples, far more than the 58 primed and 100 real samples of
// the first pass hold. The group owes the rest and must come out as if all had been there at
// once: 12 warm-up outputs later, output m reads up to sample 1280 + floor(2.5 m) + 58, so the
// 3000 samples give m <= 687, and the flush adds 12: 700 outputs.
TEST(AliasFreeProcessing, StartAlignmentBeyondStoredInputIsCaughtUp) {
    const std::vector<double> values = randomSignal(3000, 21);
    // Adds the samples up to each of the given counts in a pass of its own, then the rest with
    // the end of data.
    const auto stream = [&](const std::vector<size_t>& passes) {
        AliasFreeResampler resampler;
        setInitialOffset(resampler.resampler(), 0.5);
        setInputBufferSize(resampler.resampler(), 4000);
        void* channel = resampler.syncChannel(2500.0);
        initialize(resampler.resampler());
        Streamer streamer(resampler);
        streamer.add(channel, values);
        for (const size_t until : passes) {
            streamer.advanceTo({until});
        }
        streamer.advanceTo({values.size()}, 1200.0);
        return streamer[0].output;
    };

    const ChannelOutput expected = stream({});
    ASSERT_FALSE(expected.times.empty());
    EXPECT_EQ(expected.times.front(), 0.5);
    EXPECT_EQ(expected.values.size(), 700u);
    std::vector<size_t> pieces = {100};
    for (size_t until = 390; until < values.size(); until += 290) {
        pieces.push_back(until);
    }
    expectSameOutput(stream(pieces), expected);
}

// With an input size of 0 the rings hold exactly one window (59 samples) and the host adds
// one sample per pass. The flush needs room for 60 more stamps beside the pending samples.
TEST(AliasFreeProcessing, FlushWithMinimalInputRings) {
    const std::vector<double> values = randomSignal(1000, 31);
    const auto stream = [&](uint64_t inputBufferSize, size_t ringSize) {
        AliasFreeResampler resampler;
        setInputBufferSize(resampler.resampler(), inputBufferSize);
        void* channel = resampler.syncChannel(2500.0);
        initialize(resampler.resampler());
        EXPECT_EQ(TamlibTest::StateProbe::channel(channel).values.size(), ringSize);
        Streamer streamer(resampler);
        streamer.add(channel, values);
        streamer.run(values.size(), 400.0);
        return streamer[0].output;
    };
    const ChannelOutput roomy = stream(1000, 1059);
    EXPECT_EQ(roomy.values.size(), 400u);
    expectSameOutput(stream(0, 59), roomy);
}

// 2000 Hz from 1000 Hz at 1 dB (counted as 8) and 16 %: X = 2 * 1000 * 0.05 / (1000 * 0.16 *
// 14.357) = 0.044, so N = 2, order 1, centre M = 0, a rectangular window (beta 0 below 21 dB):
// h = [0.5, 1 / pi] / (0.5 + 1 / pi), times P = 2. D = 0 and pre = 1 - 0 - 1 = 0, so T = 1 and
// the delay is 0: nothing is primed or discarded, and output m is x[m / 2] * c[m mod 2] from
// the first sample on. Its flush ends at once; the last output comes from the last sample.
TEST(AliasFreeProcessing, ZeroDelayFilterStartsAtTheFirstSample) {
    AliasFreeResampler resampler;
    void* handle = resampler.resampler();
    setSamplerate(handle, 2000.0);
    setSidelobeAttenuationInDB(handle, 1.0);
    void* channel = resampler.syncChannel(1000.0);
    initialize(handle);
    const PolyphaseFilter& filter = resampler.filterOf(channel);
    ASSERT_EQ(filter.taps, 1u);
    ASSERT_EQ(filter.delayCount, 0);
    EXPECT_EQ(TamlibTest::StateProbe::group(handle, channel).pending, 0u);

    const double inversePi = 1.0 / 3.141592653589793;
    const double c[2] = {2.0 * 0.5 / (0.5 + inversePi), 2.0 * inversePi / (0.5 + inversePi)};
    const std::vector<double> values = {1.0, -2.0, 3.0, 4.0, -5.0, 6.0, 7.0, 8.0, -9.0, 10.0};
    Streamer streamer(resampler);
    streamer.add(channel, values);
    streamer.run(2, 10.0);
    const ChannelOutput& output = streamer[0].output;
    ASSERT_EQ(output.values.size(), 2 * values.size());
    for (size_t m = 0; m < output.values.size(); ++m) {
        const double expected = values[m / 2] * c[m % 2];
        EXPECT_NEAR(output.values[m], expected, 1e-6 * std::abs(expected)) << "output " << m;
    }
    EXPECT_EQ(output.times, grid(0.0, 2000.0, output.times.size()));

    addData(handle, channel, values.data(), values.size());
    streamer.calculateAndRead();
    EXPECT_EQ(streamer[0].output.passCounts.back(), 0u);
}

}  // namespace
