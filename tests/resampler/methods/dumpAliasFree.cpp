// Streams a reproducible random signal through the alias-free method for a few rate pairs and
// prints, per case, the group's filter (factors, taps, delay, padded coefficients), the input
// and every output with its time, for the comparison with an independent computation in
// aliasFreeReference.py. Doubles are printed with 17 significant digits, so they read back
// exactly.

#include <cstdint>
#include <cstdio>
#include <vector>

#include "support/RandomSignal.h"
#include "support/StateProbe.h"
#include "tamlib/resampler.h"

using AliasFreeTest::randomSignal;
using TamlibTest::StateProbe;

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
    void* resampler = nullptr;
    createResamplerAliasFree(&resampler);
    setSamplerate(resampler, run.outputRate);
    setInitialOffset(resampler, run.initialOffset);
    setOutputBufferSize(resampler, 4 * run.inputs);
    void* channel = nullptr;
    addSyncChannel(resampler, &channel, run.inputRate, 0.0, static_cast<int64_t>(run.inputs));
    initialize(resampler);
    const StateProbe::Filter& filter = *StateProbe::filterOf(resampler, channel);
    // Read before the flush counts it down.
    const int32_t delay = filter.delayCount;

    const std::vector<double> input = randomSignal(run.inputs, seed);
    std::vector<double> times;
    std::vector<double> values;
    for (size_t start = 0; start < input.size(); start += run.blockSize) {
        const size_t count = std::min(run.blockSize, input.size() - start);
        addData(resampler, channel, input.data() + start, count);
        if (start + count == input.size()) {
            noMoreDataToAdd(resampler, 1000.0 * static_cast<double>(input.size()) / run.inputRate);
        }
        calculate(resampler);
        uint64_t outputs = 0;
        getResampledDataCount(resampler, channel, &outputs);
        times.resize(times.size() + outputs);
        values.resize(values.size() + outputs);
        if (outputs > 0) {
            getResampledTimes2(resampler, channel, &times[times.size() - outputs], outputs);
            getResampledData2(resampler, channel, &values[values.size() - outputs], outputs);
        }
    }

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
    std::printf("outputs %zu\n", values.size());
    for (size_t k = 0; k < values.size(); ++k) {
        std::printf("%.17g %.17g\n", times[k], values[k]);
    }
    deleteResampler(resampler);
}

}  // namespace

int main() {
    uint64_t seed = 1;
    for (const Case& run : kCases) {
        dump(run, seed++);
    }
    return 0;
}
