#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "resampler/methods/AliasFreeHarness.h"
#include "tamlib/resampler.h"

namespace {

using AliasFreeTest::AliasFreeResampler;
using AliasFreeTest::ChannelOutput;
using AliasFreeTest::PolyphaseFilter;
using AliasFreeTest::randomSignal;
using AliasFreeTest::ResamplerAliasFree;
using AliasFreeTest::ResamplerChannelGroup;
using AliasFreeTest::stamps;
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

// 1000 Hz from 2500 Hz: P = 2, Q = 5, T = 59, delay 12. The group holds 58 primed zeros, so
// the first real sample is input sample 58. Output at high-rate position p uses the window
// x[i .. i + 58], i = floor(p / 2), the newest sample meeting branch coefficient c[p mod 2];
// sample k then meets c[p + 2 * 58 - 2 * k], so an impulse at sample 58 gives c[p] at
// position p. The first 12 outputs are discarded: the first kept one is at position 60.
TEST(AliasFreeProcessing, WorkedSequenceFrom2500To1000) {
    AliasFreeResampler resampler;
    void* handle = resampler.resampler();
    void* channel = resampler.syncChannel(2500.0);
    initialize(handle);
    const PolyphaseFilter& filter = resampler.filterOf(channel);
    const std::vector<float>& c = filter.coefficients;

    // 58 zeros and one real sample fill one window: one warm-up pass moves it by 5 / 2 to
    // input index 2, and the 57 samples left no longer fill it.
    addValue(handle, channel, 1.0);
    calculate(handle);
    EXPECT_EQ(resampler.count(channel), 0u);
    EXPECT_EQ(filter.skippedOutputs, 1u);
    EXPECT_EQ(filter.position, 5u);
    EXPECT_EQ(filter.inputIndex, 2);
    EXPECT_EQ(TamlibTest::StateProbe::group(handle, channel).pending, 57u);

    // The warm-up goes on in the next pass. Its 12th step starts at position 55, index 27, and
    // needs samples up to 27 + 58 = 85: 28 real ones. With 30 it ends at position 60, index
    // 30, phase 0; the first kept output would need samples up to 88, one more.
    const std::vector<double> zeros(29, 0.0);
    addData(handle, channel, zeros.data(), zeros.size());
    calculate(handle);
    EXPECT_EQ(resampler.count(channel), 0u);
    EXPECT_EQ(filter.skippedOutputs, 12u);
    EXPECT_EQ(filter.position, 60u);
    EXPECT_EQ(filter.inputIndex, 30);
    EXPECT_EQ(filter.phase, 0u);
    EXPECT_EQ(TamlibTest::StateProbe::group(handle, channel).pending, 58u);

    // From here one sample per pass; positions 65, 70, 75, 80 give input indices 32, 35, 37,
    // 40 and alternate the branch.
    const uint64_t expectedIndices[] = {32, 35, 37, 40, 42, 45};
    const uint32_t expectedPhases[] = {1, 0, 1, 0, 1, 0};
    ChannelOutput output;
    for (int pass = 0; output.values.size() < 15 && pass < 100; ++pass) {
        addValue(handle, channel, 0.0);
        calculate(handle);
        resampler.read(channel, output);
        ASSERT_LE(output.passCounts.back(), 1u);
        const size_t m = output.values.size() - 1;
        if (output.passCounts.back() == 1 && m < 6) {
            SCOPED_TRACE("output " + std::to_string(m));
            EXPECT_EQ(filter.position, 65u + 5u * m);
            EXPECT_EQ(static_cast<uint64_t>(filter.inputIndex), expectedIndices[m]);
            EXPECT_EQ(filter.phase, expectedPhases[m]);
        }
    }
    ASSERT_EQ(output.values.size(), 15u);
    for (size_t m = 0; m < output.values.size(); ++m) {
        const size_t position = 60 + 5 * m;
        const double expected = position < c.size() ? static_cast<double>(c[position]) : 0.0;
        EXPECT_EQ(output.values[m], expected) << "output " << m;
    }
    EXPECT_EQ(output.times, grid(0.0, 1000.0, 15));
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
    };
    const Row rows[] = {{1000.0, 2500.0, 2500}, {2000.0, 1000.0, 1000}, {1000.0, 1024.0, 2048}};
    for (const auto& [row, channelCount] : {std::pair{rows[0], 1},
                                            {rows[1], 1},
                                            {rows[2], 1},
                                            {rows[0], 3},
                                            {rows[1], 3},
                                            {rows[2], 3}}) {
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

struct RatePair {
    double outputRate;
    double inputRate;
    int32_t delay;
};

const RatePair kRatePairs[] = {
    {1000.0, 2500.0, 12},  // P = 2, Q = 5
    {2000.0, 1000.0, 24},  // P = 2, Q = 1
    {1000.0, 1024.0, 12},  // P = 125, Q = 128
    {100.0, 1000.0, 12},   // P = 1, Q = 10
};

std::string nameOf(const RatePair& pair) {
    return std::to_string(static_cast<int>(pair.outputRate)) + " Hz from " +
           std::to_string(static_cast<int>(pair.inputRate)) + " Hz";
}

// One synchronous channel streamed in the given number of passes, flushed at the end unless
// flush is false.
ChannelOutput streamSynchronous(const RatePair& pair, const std::vector<double>& values,
                                size_t passes, uint64_t inputBufferSize = 4000, bool flush = true) {
    AliasFreeResampler resampler;
    setSamplerate(resampler.resampler(), pair.outputRate);
    setInputBufferSize(resampler.resampler(), inputBufferSize);
    setOutputBufferSize(resampler.resampler(), 8000);
    void* channel = resampler.syncChannel(pair.inputRate);
    initialize(resampler.resampler());
    Streamer streamer(resampler);
    streamer.add(channel, values);
    const double endMs = 1000.0 * static_cast<double>(values.size()) / pair.inputRate;
    streamer.run(passes, flush ? std::optional<double>(endMs) : std::nullopt);
    return streamer[0].output;
}

TEST(AliasFreeProcessing, BlockSizeDoesNotChangeTheOutput) {
    const std::vector<double> values = randomSignal(3000, 7);
    for (const RatePair& pair : kRatePairs) {
        SCOPED_TRACE(nameOf(pair));
        const ChannelOutput whole = streamSynchronous(pair, values, 1);
        ASSERT_GT(whole.values.size(), 100u);
        for (const size_t blockSize : {1u, 7u, 250u}) {
            SCOPED_TRACE("blocks of " + std::to_string(blockSize));
            const size_t passes = (values.size() + blockSize - 1) / blockSize;
            expectSameOutput(streamSynchronous(pair, values, passes), whole);
        }
    }
}

// Before the end of data, output m (high-rate position (delay + m) * Q) needs the window to
// start at floor((delay + m) * Q / P) <= n - 1 for n real samples after the T - 1 primed
// zeros: m <= (n * P - 1 - delay * Q) / Q. The flush then adds exactly `delay` outputs, so
// that the stream ends with n * P / Q outputs.
TEST(AliasFreeProcessing, FlushProducesTheTailAndThenNothing) {
    struct Row {
        RatePair pair;
        size_t inputs;
        size_t beforeFlush;
    };
    const Row rows[] = {
        {{1000.0, 2500.0, 12}, 1000, 388},  // (2000 - 1 - 60) / 5 = 387.8
        {{2000.0, 1000.0, 24}, 500, 976},   // (1000 - 1 - 24) / 1 = 975
        {{100.0, 1000.0, 12}, 3000, 288},   // (3000 - 1 - 120) / 10 = 287.9
    };
    for (const Row& row : rows) {
        const RatePair& pair = row.pair;
        SCOPED_TRACE(nameOf(pair));
        AliasFreeResampler resampler;
        void* handle = resampler.resampler();
        setSamplerate(handle, pair.outputRate);
        setInputBufferSize(handle, 4000);
        setOutputBufferSize(handle, 4000);
        void* channel =
            resampler.syncChannel(pair.inputRate, 0.0, static_cast<int64_t>(row.inputs));
        initialize(handle);
        Streamer streamer(resampler);
        streamer.add(channel, randomSignal(row.inputs, 11));
        streamer.run(1);
        ASSERT_EQ(streamer[0].output.values.size(), row.beforeFlush);

        noMoreDataToAdd(handle, 1000.0 * static_cast<double>(row.inputs) / pair.inputRate);
        streamer.calculateAndRead();
        const ChannelOutput& output = streamer[0].output;
        EXPECT_EQ(output.passCounts.back(), static_cast<uint64_t>(pair.delay));
        uint64_t expected = 0;
        calculateDataCountOfChannel(handle, channel, &expected);
        EXPECT_EQ(output.values.size(), expected);
        const std::vector<double> times = grid(0.0, pair.outputRate, output.times.size());
        EXPECT_EQ(output.times, times);
        for (const double value : output.values) {
            ASSERT_TRUE(std::isfinite(value));
        }

        // Flushed: neither new data nor another end of data brings anything.
        const std::vector<double> more = randomSignal(100, 12);
        addData(handle, channel, more.data(), more.size());
        streamer.calculateAndRead();
        streamer.calculateAndRead();
        noMoreDataToAdd(handle, 1000.0 * static_cast<double>(row.inputs + 200) / pair.inputRate);
        streamer.calculateAndRead();
        const std::vector<uint64_t>& counts = streamer[0].output.passCounts;
        EXPECT_EQ(std::vector<uint64_t>(counts.end() - 3, counts.end()),
                  std::vector<uint64_t>(3, 0));
    }
}

// Each group of a resampler must come out exactly as it would alone: aligned, warmed up and
// flushed on its own, whatever the other groups do in the same passes.
TEST(AliasFreeProcessing, EveryGroupBehavesAsIfAlone) {
    struct Channel {
        double rate;
        bool timestamped;
        uint64_t seed;
    };
    // Two channels share the 2500 Hz group; 1000 Hz is copied through.
    const Channel channels[] = {
        {2500.0, false, 1}, {2500.0, false, 2}, {1024.0, false, 3},
        {3000.0, true, 4},  {1000.0, false, 5},
    };
    struct Scenario {
        const char* name;
        double initialOffset;
        size_t passes;
    };
    // In one pass, alignment and the end of data meet in the same calculate.
    const Scenario scenarios[] = {{"streamed in ten passes", 0.0, 10},
                                  {"all in one pass, offset 20 ms", 0.02, 1}};

    const auto build = [&](AliasFreeResampler& resampler, Streamer& streamer,
                           const Scenario& scenario, std::vector<size_t> which) {
        void* handle = resampler.resampler();
        setInitialOffset(handle, scenario.initialOffset);
        setInputBufferSize(handle, 4000);
        setOutputBufferSize(handle, 2000);
        std::vector<std::pair<void*, size_t>> registered;
        for (const size_t c : which) {
            const Channel& channel = channels[c];
            void* registeredChannel = channel.timestamped ? resampler.asyncChannel(channel.rate)
                                                          : resampler.syncChannel(channel.rate);
            registered.emplace_back(registeredChannel, c);
        }
        initialize(handle);
        for (const auto& [channel, c] : registered) {
            const auto count = static_cast<size_t>(channels[c].rate);  // one second
            streamer.add(
                channel, randomSignal(count, channels[c].seed),
                channels[c].timestamped ? stamps(count, channels[c].rate) : std::vector<double>{});
        }
    };

    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        AliasFreeResampler together;
        Streamer all(together);
        build(together, all, scenario, {0, 1, 2, 3, 4});
        all.run(scenario.passes, 1000.0);

        const std::vector<std::vector<size_t>> alone = {{0, 1}, {2}, {3}, {4}};
        for (const auto& which : alone) {
            AliasFreeResampler single;
            Streamer one(single);
            build(single, one, scenario, which);
            one.run(scenario.passes, 1000.0);
            for (size_t k = 0; k < which.size(); ++k) {
                SCOPED_TRACE("channel " + std::to_string(which[k]));
                ASSERT_GT(one[k].output.values.size(), 900u);
                expectSameOutput(all[which[k]].output, one[k].output);
            }
        }
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
    struct Run {
        AliasFreeResampler resampler;
        void* channel = nullptr;
        std::optional<Streamer> streamer;
        explicit Run(const std::vector<double>& values) {
            setInitialOffset(resampler.resampler(), 0.5);
            setInputBufferSize(resampler.resampler(), 4000);
            channel = resampler.syncChannel(2500.0);
            initialize(resampler.resampler());
            streamer.emplace(resampler);
            streamer->add(channel, values);
        }
    };

    Run whole(values);
    whole.streamer->advanceTo({values.size()}, 1200.0);
    const ChannelOutput& expected = (*whole.streamer)[0].output;
    ASSERT_FALSE(expected.times.empty());
    EXPECT_EQ(expected.times.front(), 0.5);
    EXPECT_EQ(expected.values.size(), 700u);

    Run pieces(values);
    pieces.streamer->advanceTo({100});
    size_t periods = 0;
    for (double reached = 0.0; 0.5 > reached; reached = reached + 0.001) {
        ++periods;
    }
    const PolyphaseFilter& filter = pieces.resampler.filterOf(pieces.channel);
    EXPECT_EQ(filter.position, 5 * periods);
    EXPECT_EQ(static_cast<size_t>(filter.inputIndex), 5 * periods / 2);
    EXPECT_EQ(TamlibTest::StateProbe::group(pieces.resampler.resampler(), pieces.channel).pending,
              0u);
    for (size_t until = 390; until < values.size(); until += 290) {
        pieces.streamer->advanceTo({until});
    }
    pieces.streamer->advanceTo({values.size()}, 1200.0);
    expectSameOutput((*pieces.streamer)[0].output, expected);
}

// With an input size of 0 the rings hold exactly one window (59 samples) and the host adds
// one sample per pass. The flush needs room for 60 more stamps beside the pending samples.
TEST(AliasFreeProcessing, FlushWithMinimalInputRings) {
    const RatePair pair = {1000.0, 2500.0, 12};
    const std::vector<double> values = randomSignal(1000, 31);
    const ChannelOutput roomy = streamSynchronous(pair, values, values.size(), 1000);

    AliasFreeResampler resampler;
    void* handle = resampler.resampler();
    setInputBufferSize(handle, 0);
    void* channel = resampler.syncChannel(2500.0);
    initialize(handle);
    ASSERT_EQ(TamlibTest::StateProbe::channel(channel).values.size(), 59u);
    Streamer streamer(resampler);
    streamer.add(channel, values);
    streamer.run(values.size(), 400.0);

    EXPECT_EQ(roomy.values.size(), 400u);
    expectSameOutput(streamer[0].output, roomy);
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

// Least-squares amplitude of a sine of known frequency in the output: fits a sin + b cos.
double fittedAmplitude(const std::vector<double>& values, const std::vector<double>& times,
                       double frequencyHz) {
    double ss = 0.0, sc = 0.0, cc = 0.0, ys = 0.0, yc = 0.0;
    for (size_t k = 0; k < values.size(); ++k) {
        const double s = std::sin(6.283185307179586 * frequencyHz * times[k]);
        const double c = std::cos(6.283185307179586 * frequencyHz * times[k]);
        ss += s * s;
        sc += s * c;
        cc += c * c;
        ys += values[k] * s;
        yc += values[k] * c;
    }
    const double det = ss * cc - sc * sc;
    const double a = (ys * cc - yc * sc) / det;
    const double b = (yc * ss - ys * sc) / det;
    return std::hypot(a, b);
}

double rms(const std::vector<double>& values) {
    double sum = 0.0;
    for (const double value : values) {
        sum += value * value;
    }
    return std::sqrt(sum / static_cast<double>(values.size()));
}

// With 16 % and 60 dB the pass band reaches (0.5 - 0.08) of the lower rate and the stop band
// starts at (0.5 + 0.08) of it: 420 / 580 Hz for 2500 -> 1000 and 42 / 58 Hz for 1000 -> 100.
// A unit cosine below the pass-band edge keeps its amplitude within 0.1 dB; one above the
// stop-band edge, which decimation would fold into the output band, leaves at most -55 dB
// (as RMS, so that whatever leaks in at any frequency counts). At 0 Hz every branch must sum to
// 1 up to the stop-band ripple (60 dB: 1e-3), so each output is the constant itself once the
// primed zeros have left the window, about `delay` outputs after the first; twice that is
// skipped. The flush is left out: its zeros enter the window again.
TEST(AliasFreeProcessing, PassBandKeptAndAliasesSuppressed) {
    struct Row {
        RatePair pair;
        double frequencyHz;
        bool passBand;
    };
    const RatePair down = kRatePairs[0];
    const RatePair tenth = kRatePairs[3];
    const Row rows[] = {
        {down, 0.0, true},     {kRatePairs[1], 0.0, true}, {kRatePairs[2], 0.0, true},
        {tenth, 0.0, true},    {down, 50.0, true},         {down, 400.0, true},
        {down, 620.0, false},  {down, 900.0, false},       {down, 1200.0, false},
        {tenth, 5.0, true},    {tenth, 40.0, true},        {tenth, 62.0, false},
        {tenth, 200.0, false}, {tenth, 450.0, false},
    };
    for (const Row& row : rows) {
        const RatePair& pair = row.pair;
        SCOPED_TRACE(nameOf(pair) + ", " + std::to_string(row.frequencyHz) + " Hz");
        const auto count = static_cast<size_t>(1000.0 * pair.inputRate / pair.outputRate);
        const ChannelOutput output = streamSynchronous(
            pair, AliasFreeTest::cosine(count, row.frequencyHz, pair.inputRate), 1, 12000, false);
        const size_t skip = 2 * static_cast<size_t>(pair.delay);
        ASSERT_GT(output.values.size(), skip + 500);
        const std::vector<double> steady(output.values.begin() + skip, output.values.end());
        const std::vector<double> steadyTimes(output.times.begin() + skip, output.times.end());
        if (row.frequencyHz == 0.0) {
            for (size_t k = 0; k < steady.size(); ++k) {
                ASSERT_NEAR(steady[k], 1.0, 2e-3) << "output " << skip + k;
            }
        } else if (row.passBand) {
            const double gainDb =
                20.0 * std::log10(fittedAmplitude(steady, steadyTimes, row.frequencyHz));
            EXPECT_NEAR(gainDb, 0.0, 0.1);
        } else {
            const double levelDb = 20.0 * std::log10(std::sqrt(2.0) * rms(steady));
            EXPECT_LE(levelDb, -55.0);
        }
    }
}

}  // namespace
