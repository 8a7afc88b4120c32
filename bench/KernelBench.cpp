// The polyphase kernels alone, on a window history already interleaved and in cache: what the
// alias-free method computes per pass without the host's copies in and out. Items are input
// samples times channels, as in tamlib_bench, so the two can be set side by side. `peak/...`
// gives the processor's rate of separate multiplies and adds for each vector width.
//
//   tamlib_kernel_bench [benchmark flags]

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "resampler/Ring.h"
#include "resampler/methods/kernels/KernelDispatch.h"
#include "resampler/methods/kernels/PolyphaseKernel.h"

namespace {

using Karvel::Tamlib::Resampler::Kernels::PolyphaseBatch;
using Karvel::Tamlib::Resampler::Kernels::PolyphaseKernel;

struct Case {
    uint32_t up;
    uint32_t down;
    uint64_t taps;
    uint64_t channels;
};

const PolyphaseKernel* kernelNamed(const std::string& name) {
    using namespace Karvel::Tamlib::Resampler::Kernels;
    for (const PolyphaseKernel* kernel : {&sse2Kernel(), &avx2Kernel(), &avx512Kernel()}) {
        if (name == kernel->name) {
            return kernel;
        }
    }
    return nullptr;
}

// The rate at which this processor multiplies doubles and adds them, as separate instructions
// and with vectors of `Bytes`: as many chains of multiplies and of additions as the registers
// hold (six of each in sixteen registers, twelve in thirty-two), independent of each other, so
// that only the arithmetic units set the pace. A kernel whose every product is one multiply and
// one add cannot pass it; `products` of a kernel case over `products` here is its share of the
// machine's rate.
template <int Bytes>
struct VectorOf;
template <>
struct VectorOf<16> {
    typedef double type __attribute__((vector_size(16)));
};
template <>
struct VectorOf<32> {
    typedef double type __attribute__((vector_size(32)));
};
template <>
struct VectorOf<64> {
    typedef double type __attribute__((vector_size(64)));
};

template <int Bytes, int kChains>
[[gnu::always_inline]] inline double multiplyAddChains(int64_t rounds) {
    using Vec = typename VectorOf<Bytes>::type;
    Vec product[kChains];
    Vec sum[kChains];
    for (int i = 0; i < kChains; ++i) {
        product[i] = Vec{} + (1.0 + 1e-3 * i);
        sum[i] = Vec{} + 1e-3 * i;
    }
    const Vec factor = Vec{} + 0.9999999999;
    const Vec step = Vec{} + 1e-12;
    for (int64_t k = 0; k < rounds; ++k) {
#pragma GCC unroll 16
        for (int i = 0; i < kChains; ++i) {
            product[i] = product[i] * factor;
            sum[i] = sum[i] + step;
        }
    }
    double total = 0.0;
    for (int i = 0; i < kChains; ++i) {
        for (int lane = 0; lane < Bytes / 8; ++lane) {
            total += product[i][lane] + sum[i][lane];
        }
    }
    return total;
}

double multiplyAddChainsSse2(int64_t rounds) {
    return multiplyAddChains<16, 6>(rounds);
}

[[gnu::target("avx2")]] double multiplyAddChainsAvx2(int64_t rounds) {
    return multiplyAddChains<32, 6>(rounds);
}

[[gnu::target("avx512f")]] double multiplyAddChainsAvx512(int64_t rounds) {
    return multiplyAddChains<64, 12>(rounds);
}

void runPeak(benchmark::State& state, double (*chains)(int64_t), int lanes, int chainsEach) {
    constexpr int64_t kRounds = 1 << 20;
    for (auto _ : state) {
        benchmark::DoNotOptimize(chains(kRounds));
    }
    // One multiply and one add of each lane per chain and round make one product.
    state.counters["products"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kRounds * chainsEach * lanes,
                           benchmark::Counter::kIsRate);
}

// One batch of outputs, as the method makes them, computed over and over.
void runKernel(benchmark::State& state, Case setup, const PolyphaseKernel* kernel, bool useTiles,
               bool intoRings) {
    const uint64_t width = kernel->laneWidth;
    // As the method chooses the layout and as many outputs as it puts in one batch. Channel by
    // channel, a batch long enough goes in segments of whole branch cycles, one per lane of the
    // kernel's segmentLanes: the history is then that many rows side by side, and `count` the
    // outputs of one segment.
    uint64_t stride = Karvel::Tamlib::Resampler::Kernels::groupStride(*kernel, setup.channels);
    const bool byChannel = stride == 1;
    uint64_t count =
        Karvel::Tamlib::Resampler::Kernels::batchOutputs(setup.up, setup.down, setup.taps, stride);
    const uint64_t lanes = kernel->segmentLanes;
    const uint64_t perSegment =
        Karvel::Tamlib::Resampler::Kernels::segmentOutputs(*kernel, setup.up, count);
    const bool segments = byChannel && perSegment > 0;
    if (segments) {
        stride = lanes;
        count = perSegment;
    }
    const uint64_t lanesPerChannel = segments ? lanes : 1;
    // As the method chooses it, from the group's stride (not the segments').
    const uint64_t tileWidth =
        Karvel::Tamlib::Resampler::Kernels::tileTableOutputs(*kernel, byChannel ? 1 : stride);
    std::vector<uint32_t> phases(count);
    std::vector<uint64_t> rows(count);
    uint64_t position = 0;
    for (uint64_t n = 0; n < count; ++n, position += setup.down) {
        phases[n] = static_cast<uint32_t>(position % setup.up);
        rows[n] = position / setup.up;
    }
    const uint64_t historyRows = rows.back() + setup.taps;
    std::mt19937_64 random(7);
    std::normal_distribution<double> value(0.0, 1.0);
    std::vector<double> branches(setup.up * setup.taps);
    // Rows on 64-byte boundaries, as the method lays them out.
    std::vector<double> storage(historyRows * stride + 8);
    auto address = reinterpret_cast<uintptr_t>(storage.data());
    double* history = reinterpret_cast<double*>((address + 63) & ~static_cast<uintptr_t>(63));
    for (double& v : branches) {
        v = value(random);
    }
    for (double& v : storage) {
        v = value(random);
    }
    // The tile table as the method builds it for groups of several channels.
    std::vector<double> tiles(Karvel::Tamlib::Resampler::Kernels::tileBranchesSize(
        setup.up, setup.down, setup.taps, tileWidth));
    Karvel::Tamlib::Resampler::Kernels::buildTileBranches(branches.data(), setup.up, setup.down,
                                                          setup.taps, tileWidth, tiles.data());
    std::vector<double> results(count * stride);
    std::vector<double> residues(historyRows + (width + 1) * setup.down);
    std::vector<uint64_t> offsets(setup.down + setup.taps);

    PolyphaseBatch batch;
    batch.branches = branches.data();
    batch.taps = setup.taps;
    batch.tileBranches = stride > 1 && useTiles ? tiles.data() : nullptr;
    batch.tileRows = setup.taps + Karvel::Tamlib::Resampler::Kernels::tileLeadRows(
                                      setup.up, setup.down, tileWidth);
    batch.tileWidth = tileWidth;
    batch.up = setup.up;
    batch.down = setup.down;
    batch.history = history;
    batch.stride = stride;
    batch.phases = phases.data();
    batch.rows = rows.data();
    batch.count = count;
    batch.results = results.data();
    // The method writes a group's outputs straight into each channel's output ring, placed as
    // the method places its rings (where several rings meet the same cache sets matters).
    const uint64_t outputLanes = segments ? lanes : setup.channels;
    std::vector<Karvel::Tamlib::Resampler::Ring> rings;
    std::vector<double*> ringStarts;
    for (uint64_t c = 0; c < outputLanes; ++c) {
        rings.emplace_back(count);
        ringStarts.push_back(rings.back().data());
    }
    if (stride > 1 && intoRings) {
        batch.outputs = ringStarts.data();
        batch.channels = outputLanes;
    }
    if (stride == 1) {
        batch.residues = residues.data();
        batch.residuesSize = residues.size();
        batch.offsets = offsets.data();
        batch.offsetsSize = offsets.size();
    }
    for (auto _ : state) {
        if (stride == 1) {
            for (uint64_t c = 0; c < setup.channels; ++c) {
                kernel->singleChannel(batch);
            }
        } else if (segments) {
            for (uint64_t c = 0; c < setup.channels; ++c) {
                kernel->channelLanes(batch);
            }
        } else {
            kernel->channelLanes(batch);
        }
        benchmark::DoNotOptimize(results.data());
        benchmark::ClobberMemory();
    }
    // The input the outputs consume: count * Q / P samples per channel.
    const double consumed = static_cast<double>(count * lanesPerChannel) * setup.down / setup.up;
    state.SetItemsProcessed(static_cast<int64_t>(static_cast<double>(state.iterations()) *
                                                 consumed * static_cast<double>(setup.channels)));
    // Every output of every channel takes one multiply and one add per tap.
    state.counters["products"] =
        benchmark::Counter(static_cast<double>(state.iterations()) *
                               static_cast<double>(count * lanesPerChannel * setup.taps) *
                               static_cast<double>(setup.channels),
                           benchmark::Counter::kIsRate);
}

}  // namespace

int main(int argc, char** argv) {
    struct Named {
        const char* name;
        Case setup;
    };
    // The taps per branch of the library's designs for these rate pairs.
    const Named cases[] = {
        {"2500to1000/16ch", {2, 5, 59, 16}},     {"1000to2000/16ch", {2, 1, 24, 16}},
        {"1024to1000/16ch", {125, 128, 24, 16}}, {"1000to100/16ch", {1, 10, 234, 16}},
        {"2500to1000/1ch", {2, 5, 59, 1}},       {"2500to1000/3ch", {2, 5, 59, 3}},
        {"2500to1000/4ch", {2, 5, 59, 4}},       {"2500to1000/8ch", {2, 5, 59, 8}},
        {"2500to1000/12ch", {2, 5, 59, 12}},
    };
    for (const std::string& name : Karvel::Tamlib::Resampler::Kernels::supportedKernelNames()) {
        const PolyphaseKernel* kernel = kernelNamed(name);
        if (kernel == nullptr) {
            continue;
        }
        const int lanes = static_cast<int>(kernel->laneWidth);
        double (*chains)(int64_t) = lanes == 8   ? multiplyAddChainsAvx512
                                    : lanes == 4 ? multiplyAddChainsAvx2
                                                 : multiplyAddChainsSse2;
        benchmark::RegisterBenchmark(("peak/" + name).c_str(), runPeak, chains, lanes,
                                     lanes == 8 ? 12 : 6);
        for (const Named& named : cases) {
            benchmark::RegisterBenchmark(("kernel/" + name + "/" + named.name).c_str(), runKernel,
                                         named.setup, kernel, true, true);
            if (named.setup.channels > 1) {
                benchmark::RegisterBenchmark(
                    ("kernel/" + name + "/" + named.name + "/untiled").c_str(), runKernel,
                    named.setup, kernel, false, true);
                benchmark::RegisterBenchmark(
                    ("kernel/" + name + "/" + named.name + "/interleaved-results").c_str(),
                    runKernel, named.setup, kernel, true, false);
            }
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
