// Streams a reproducible random signal through the alias-free method for a few rate pairs and
// prints, per case, the group's filter (factors, taps, delay, padded coefficients), the input
// and every output with its time, for the comparison with an independent computation in
// aliasFreeReference.py. Doubles are printed with 17 significant digits, so they read back
// exactly.

#include <cstdint>
#include <cstdio>
#include <vector>

#include "resampler/methods/AliasFreeHarness.h"

using AliasFreeTest::AliasFreeResampler;
using AliasFreeTest::ChannelOutput;
using AliasFreeTest::PolyphaseFilter;
using AliasFreeTest::randomSignal;
using AliasFreeTest::Streamer;

namespace {

struct Case {
    const char* label;
    double outputRate;
    double inputRate;
    double initialOffset;  // s; the first output time, which start alignment reaches
    size_t inputs;
    size_t blockSize;
};

const Case kCases[] = {
    {"1000 Hz from 2500 Hz, first output at 10 ms", 1000.0, 2500.0, 0.01, 2000, 137},
    {"2000 Hz from 1000 Hz", 2000.0, 1000.0, 0.0, 1000, 100},
    {"1000 Hz from 1024 Hz", 1000.0, 1024.0, 0.0, 2048, 300},
};

void dump(const Case& run, uint64_t seed) {
    AliasFreeResampler resampler;
    setSamplerate(resampler.resampler(), run.outputRate);
    setInitialOffset(resampler.resampler(), run.initialOffset);
    setOutputBufferSize(resampler.resampler(), 4 * run.inputs);
    void* channel = resampler.syncChannel(run.inputRate, 0.0, static_cast<int64_t>(run.inputs));
    initialize(resampler.resampler());
    const PolyphaseFilter& filter = resampler.filterOf(channel);
    // Read before the flush counts it down.
    const int32_t delay = filter.delayCount;

    const std::vector<double> input = randomSignal(run.inputs, seed);
    Streamer streamer(resampler);
    streamer.add(channel, input);
    for (size_t until = run.blockSize; until < input.size(); until += run.blockSize) {
        streamer.advanceTo({until});
    }
    streamer.advanceTo({input.size()}, 1000.0 * static_cast<double>(input.size()) / run.inputRate);
    const ChannelOutput& output = streamer[0].output;

    std::printf("case %s\n", run.label);
    std::printf("outputRate %.17g\n", run.outputRate);
    std::printf("initialOffset %.17g\n", run.initialOffset);
    std::printf("up %u\ndown %u\n", filter.up, filter.down);
    std::printf("taps %llu\n", static_cast<unsigned long long>(filter.taps));
    std::printf("delay %d\n", delay);
    const std::vector<float>& coefficients = filter.coefficients;
    std::printf("coefficients %zu\n", coefficients.size());
    for (const float coefficient : coefficients) {
        std::printf("%.17g\n", static_cast<double>(coefficient));
    }
    std::printf("inputs %zu\n", input.size());
    for (const double value : input) {
        std::printf("%.17g\n", value);
    }
    std::printf("outputs %zu\n", output.values.size());
    for (size_t k = 0; k < output.values.size(); ++k) {
        std::printf("%.17g %.17g\n", output.times[k], output.values[k]);
    }
}

}  // namespace

int main() {
    uint64_t seed = 1;
    for (const Case& run : kCases) {
        dump(run, seed++);
    }
    return 0;
}
