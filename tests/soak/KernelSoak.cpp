// Random alias-free streams through every kernel against the scalar reference: rate pairs,
// groups of 1 to 40 channels, ring sizes, filter designs, start offsets and odd input values,
// drawn one scenario after another for a given time. Every output must be the reference's bits,
// or NaN where the reference's is. Exits 1 at the first difference, with the scenario.
//
// tamlib_kernel_soak [seconds (60)] [seed (1)]
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <random>
#include <string>

#include "resampler/methods/KernelScenarios.h"

namespace {

using KernelScenarios::Scenario;

template <typename T, size_t N>
const T& pick(std::mt19937& random, const T (&values)[N]) {
    return values[random() % N];
}

Scenario randomScenario(std::mt19937& random) {
    Scenario scenario;
    const double outputRates[] = {100.0, 1000.0, 1000.0, 2000.0, 48000.0};
    scenario.outputRate = pick(random, outputRates);
    // Input over output rate: the P and Q of the usual pairs, large P, and up- and down-sampling.
    const double ratios[] = {2.5,         1.024,     0.5,  10.0, 1.001,      0.999,
                             3.0,         1.0 / 3.0, 1.5,  0.8,  1.25,       7.0,
                             4.0,         2.0,       0.25, 1.2,  0.625,      147.0 / 160,
                             160.0 / 147, 5.0,       1.0,  0.96, 128.0 / 125};
    const int channelCounts[] = {1,  1,  2,  3,  4,  5,  7,  8,  9,  12,
                                 15, 16, 16, 17, 23, 24, 31, 32, 33, 40};
    const int groups = 1 + (random() % 3 == 0 ? 1 : 0) + (random() % 5 == 0 ? 1 : 0);
    int channels = 0;
    for (int g = 0; g < groups; ++g) {
        double rate = scenario.outputRate * pick(random, ratios);
        if (random() % 6 == 0) {
            rate = static_cast<double>(50 + random() % 5000) * scenario.outputRate / 1000.0;
        }
        scenario.groups.push_back({rate, pick(random, channelCounts)});
        channels += scenario.groups.back().channels;
    }
    scenario.startOffset = random() % 4 == 0 ? static_cast<double>(random() % 1000) / 4000.0 : 0.0;
    const uint64_t inputBuffers[] = {200, 300, 500, 1000, 2000, 3000, 5000, 10000};
    scenario.inputBuffer = pick(random, inputBuffers);
    const uint64_t outputBuffers[] = {100, 1000, 3000, 7000, 20000};
    scenario.outputBuffer = pick(random, outputBuffers);
    // About 200,000 samples in all, at least two input rings' worth per channel.
    scenario.totalSamples = std::clamp<uint64_t>(200000 / static_cast<uint64_t>(channels),
                                                 2 * scenario.inputBuffer, 60000);
    if (random() % 3 == 0) {
        const double attenuations[] = {20.0, 30.0, 60.0, 100.0, 140.0};
        scenario.attenuationDb = pick(random, attenuations);
    }
    if (random() % 3 == 0) {
        const int32_t percents[] = {2, 5, 10, 25, 40};
        scenario.transitionPercent = pick(random, percents);
    }
    const uint64_t oddOneIn[] = {0, 0, 0, 500, 3000, 20000};
    scenario.oddOneIn = pick(random, oddOneIn);
    return scenario;
}

std::string describe(const Scenario& scenario) {
    std::string text = "output " + std::to_string(scenario.outputRate) + " Hz, groups";
    for (const KernelScenarios::GroupLayout& group : scenario.groups) {
        text += " " + std::to_string(group.channels) + " x " + std::to_string(group.rate) + " Hz";
    }
    text += ", offset " + std::to_string(scenario.startOffset) + " s, rings " +
            std::to_string(scenario.inputBuffer) + " / " + std::to_string(scenario.outputBuffer) +
            ", " + std::to_string(scenario.totalSamples) + " samples, attenuation " +
            (scenario.attenuationDb ? std::to_string(*scenario.attenuationDb) : "default") +
            ", transition " +
            (scenario.transitionPercent ? std::to_string(*scenario.transitionPercent) : "default") +
            ", odd values one in " + std::to_string(scenario.oddOneIn);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    const auto seed = static_cast<uint32_t>(argc > 2 ? std::atoi(argv[2]) : 1);
    std::mt19937 random(seed);
    const auto start = std::chrono::steady_clock::now();
    uint64_t compared = 0;
    uint64_t refused = 0;
    for (uint32_t n = 0;; ++n) {
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        if (elapsed.count() > seconds) {
            break;
        }
        const Scenario scenario = randomScenario(random);
        std::string difference;
        try {
            KernelScenarios::compareEveryKernel(scenario, seed * 1000003u + n,
                                                KernelScenarios::bitsWithOneNaN,
                                                [&](const std::string& what) {
                                                    if (difference.empty()) {
                                                        difference = what;
                                                    }
                                                });
        } catch (const std::exception&) {
            // The reference's answer to rings too small for the filter or for a pass's outputs;
            // a kernel that answers otherwise is reported as a difference.
            ++refused;
            continue;
        }
        if (!difference.empty()) {
            std::printf("scenario %u of seed %u: %s\n  %s\n", n, seed, describe(scenario).c_str(),
                        difference.c_str());
            return 1;
        }
        ++compared;
    }
    std::printf("%llu scenarios compared on every kernel, %llu refused by the resampler\n",
                static_cast<unsigned long long>(compared),
                static_cast<unsigned long long>(refused));
    return compared > 0 ? 0 : 1;
}
