#pragma once

// Streams of the alias-free method run once per kernel: a scenario (rates, channel counts,
// rings, filter design, input values), the stream through the C exports in blocks of irregular
// length, and the comparison of every kernel this processor runs with the scalar reference.
// Shared by KernelEqualityTest and the on-request random soak.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iterator>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "resampler/methods/AliasFreeHarness.h"
#include "resampler/methods/kernels/KernelDispatch.h"
#include "tamlib/resampler.h"

namespace KernelScenarios {

using AliasFreeTest::AliasFreeResampler;
using AliasFreeTest::ChannelOutput;
using AliasFreeTest::randomSignal;
using AliasFreeTest::Streamer;

// Sets an environment variable for the scope and restores what was there before.
class EnvironmentOverride {
public:
    EnvironmentOverride(const char* variable, const std::string& value) : variable(variable) {
        const char* previous = std::getenv(variable);
        if (previous != nullptr) {
            saved = previous;
        }
        set(value.c_str());
    }
    ~EnvironmentOverride() { set(saved ? saved->c_str() : nullptr); }
    EnvironmentOverride(const EnvironmentOverride&) = delete;
    EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;

private:
    // Windows has no setenv; there _putenv_s with an empty value removes the variable.
    void set(const char* value) const {
#ifdef _WIN32
        _putenv_s(variable, value ? value : "");
#else
        value ? setenv(variable, value, 1) : unsetenv(variable);
#endif
    }
    const char* variable;
    std::optional<std::string> saved;
};

class KernelOverride : public EnvironmentOverride {
public:
    explicit KernelOverride(const std::string& name) : EnvironmentOverride("TAMLIB_KERNEL", name) {}
};

// The bit patterns, so that == tells -0.0 from 0.0 and finds a NaN equal to itself.
inline std::vector<uint64_t> bitsOf(const std::vector<double>& values) {
    std::vector<uint64_t> bits(values.size());
    if (!values.empty()) {
        std::memcpy(bits.data(), values.data(), values.size() * sizeof(double));
    }
    return bits;
}

// The same, with every NaN as one pattern: the sign and payload of a NaN that two NaNs of
// different sign meet in a sum depend on the order the compiler gives the two operands, which
// the language leaves to it; which outputs are NaN does not.
inline std::vector<uint64_t> bitsWithOneNaN(const std::vector<double>& values) {
    std::vector<double> classes = values;
    for (double& value : classes) {
        value = std::isnan(value) ? std::numeric_limits<double>::quiet_NaN() : value;
    }
    return bitsOf(classes);
}

// One group of a scenario: its input rate and channel count.
struct GroupLayout {
    double rate;
    int channels;
};

struct Scenario {
    std::string name;
    double outputRate;
    std::vector<GroupLayout> groups;
    double startOffset;     // the resampler's initial offset: the first master time
    uint64_t inputBuffer;   // the host's input ring, small enough to wrap many times
    uint64_t totalSamples;  // per channel, of the fastest group
    uint64_t outputBuffer = 1000;
    // One input sample in this many, at random, an infinity, a NaN of either sign, a value whose
    // products overflow, the smallest subnormal or -0.0. None where 0.
    uint64_t oddOneIn = 0;
    // The filter's design where set; the resampler's defaults otherwise.
    std::optional<double> attenuationDb = std::nullopt;
    std::optional<int32_t> transitionPercent = std::nullopt;
};

// Overwrites about one sample in `oneIn` with a value from the edges of the doubles.
inline void scatterOddValues(std::vector<double>& values, uint64_t oneIn, uint64_t seed) {
    const double odd[] = {std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity(),
                          std::numeric_limits<double>::quiet_NaN(),
                          -std::numeric_limits<double>::quiet_NaN(),
                          1e300,
                          -1e300,
                          std::numeric_limits<double>::denorm_min(),
                          -0.0};
    std::mt19937_64 random(seed);
    for (uint64_t n = values.size() / oneIn; n > 0; --n) {
        values[random() % values.size()] = odd[random() % std::size(odd)];
    }
}

// Streams random signals in blocks of irregular length, none longer than the host's ring;
// slower groups get their share of the same stretch of time. Returns each channel's output.
inline std::vector<ChannelOutput> runScenario(const Scenario& scenario, uint32_t seed) {
    AliasFreeResampler resampler;
    void* handle = resampler.resampler();
    setSamplerate(handle, scenario.outputRate);
    setInputBufferSize(handle, scenario.inputBuffer);
    // Output rings that wrap several times in every scenario, mid-batch as well.
    setOutputBufferSize(handle, scenario.outputBuffer);
    setInitialOffset(handle, scenario.startOffset);
    if (scenario.attenuationDb) {
        setSidelobeAttenuationInDB(handle, *scenario.attenuationDb);
    }
    if (scenario.transitionPercent) {
        setTransitionBandwithPercent(handle, *scenario.transitionPercent);
    }
    double fastest = 0.0;
    std::vector<double> rates;
    for (const GroupLayout& group : scenario.groups) {
        fastest = std::max(fastest, group.rate);
        rates.insert(rates.end(), group.channels, group.rate);
    }
    std::vector<void*> channels;
    for (const double rate : rates) {
        channels.push_back(resampler.syncChannel(rate));
    }
    initialize(handle);
    Streamer streamer(resampler);
    const auto share = [&](uint64_t samples, double rate) {
        return static_cast<size_t>(static_cast<double>(samples) * rate / fastest);
    };
    for (size_t c = 0; c < channels.size(); ++c) {
        std::vector<double> values = randomSignal(share(scenario.totalSamples, rates[c]), seed + c);
        if (scenario.oddOneIn > 0) {
            scatterOddValues(values, scenario.oddOneIn, seed + c);
        }
        streamer.add(channels[c], std::move(values));
    }
    std::mt19937 random(seed);
    std::uniform_int_distribution<uint64_t> blockLength(1, scenario.inputBuffer);
    std::vector<size_t> until(channels.size(), 0);
    for (uint64_t added = 0; added < scenario.totalSamples;) {
        added = std::min(added + blockLength(random), scenario.totalSamples);
        for (size_t c = 0; c < channels.size(); ++c) {
            until[c] = share(added, rates[c]);
        }
        streamer.advanceTo(until);
    }
    streamer.advanceTo(until, 1000.0 * static_cast<double>(scenario.totalSamples) / fastest);
    std::vector<ChannelOutput> outputs;
    for (size_t c = 0; c < channels.size(); ++c) {
        outputs.push_back(streamer[c].output);
    }
    return outputs;
}

// Where two runs of bit patterns part, as "differ from output k on" (k the first index that
// differs, or the shorter length), or empty where they are the same.
inline std::string firstDifference(const std::vector<uint64_t>& kernel,
                                   const std::vector<uint64_t>& reference) {
    const auto parted =
        std::mismatch(kernel.begin(), kernel.end(), reference.begin(), reference.end());
    if (parted.first == kernel.end() && parted.second == reference.end()) {
        return {};
    }
    return "differ from output " + std::to_string(parted.first - kernel.begin()) + " on (" +
           std::to_string(kernel.size()) + " outputs, the reference " +
           std::to_string(reference.size()) + ")";
}

// Runs the scenario on the scalar reference, then on every other kernel this processor runs
// with both row steps, and calls report(what) for each channel whose times, or whose values
// through `bits`, differ from the reference's, and for each kernel that throws where the
// reference did not (the reference's own exception leaves this function). Returns the
// reference's outputs.
template <class Bits, class Report>
std::vector<ChannelOutput> compareEveryKernel(const Scenario& scenario, uint32_t seed, Bits bits,
                                              Report report) {
    std::vector<ChannelOutput> reference;
    {
        KernelOverride override("scalar");
        reference = runScenario(scenario, seed);
    }
    for (const std::string& name : Karvel::Tamlib::Resampler::Kernels::supportedKernelNames()) {
        if (name == "scalar") {
            continue;
        }
        KernelOverride override(name);
        // The row loops' two ways with the rows, whichever this processor takes.
        for (const char* steps : {"copy", "prefetch"}) {
            EnvironmentOverride rowSteps("TAMLIB_ROW_STEPS", steps);
            const std::string kernel = name + ", row steps " + steps;
            std::vector<ChannelOutput> outputs;
            try {
                outputs = runScenario(scenario, seed);
            } catch (const std::exception& error) {
                report(kernel + ": threw \"" + error.what() + "\", the reference did not");
                continue;
            }
            for (size_t c = 0; c < reference.size(); ++c) {
                const std::string where = kernel + ", channel " + std::to_string(c);
                const std::string times =
                    firstDifference(bitsOf(outputs[c].times), bitsOf(reference[c].times));
                if (!times.empty()) {
                    report(where + ": times " + times);
                }
                const std::string values =
                    firstDifference(bits(outputs[c].values), bits(reference[c].values));
                if (!values.empty()) {
                    report(where + ": values " + values);
                }
            }
        }
    }
    return reference;
}

}  // namespace KernelScenarios
