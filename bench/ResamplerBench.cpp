// Throughput of the three methods through the C exports, on one core: a host streams blocks of
// 10,000 input samples per channel, calls calculate after each and reads every output back.
// Items are input samples times channels.
//
//   tamlib_bench [--block=SAMPLES] [benchmark flags]
//   tamlib_bench --dump-data=DIR [--block=SAMPLES]   writes the signal, time stamps and layout
//                                                    the runs use, for the peers
//   tamlib_bench --whole-stream [benchmark flags]   16 channels of 1,000,000 samples, each in one
//                                                    addData, wall time

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tamlib/resampler.h"

namespace {

constexpr int kMaxChannels = 16;
constexpr uint64_t kSamplesPerChannel = 200000;
uint64_t kBlock = 10000;  // --block=N overrides

// The same values for every run and every peer: channel-major, kSamplesPerChannel per channel,
// and irregular stamps of mean interval 1 ms +- 40 %.
struct Workload {
    std::vector<double> signal;
    std::vector<double> stamps;

    Workload() : signal(kMaxChannels * kSamplesPerChannel), stamps(kSamplesPerChannel) {
        std::mt19937_64 random(20240611);
        std::normal_distribution<double> value(0.0, 1.0);
        for (double& v : signal) {
            v = value(random);
        }
        std::uniform_real_distribution<double> jitter(-0.4, 0.4);
        double time = 0.0;
        for (double& t : stamps) {
            t = time;
            time += 0.001 * (1.0 + jitter(random));
        }
    }
    const double* channel(int c) const { return signal.data() + c * kSamplesPerChannel; }
};

const Workload& workload() {
    static const Workload data;
    return data;
}

enum class Stamps {
    None,        // synchronous channels: the rate defines the times
    PerGroup,    // one block of stamps per pass, through the group's first channel
    PerChannel,  // every channel repeats the stamps, which the group checks against the first
};

struct StreamSetup {
    int method;
    double inputRate;  // the nominal rate of irregular stamps
    double outputRate;
    int channels;
    Stamps stamps;
};

// Reads one pass's output of every channel, as a host does after calculate.
void readOutputs(void* resampler, const std::vector<void*>& channels, std::vector<double>& times,
                 std::vector<double>& values) {
    uint64_t count = 0;
    getResampledDataCount(resampler, channels.front(), &count);
    getResampledTimes2(resampler, channels.front(), times.data(), count);
    for (void* channel : channels) {
        getResampledData2(resampler, channel, values.data(), count);
    }
    benchmark::DoNotOptimize(values.data());
}

int createResampler(int method, void** resampler) {
    switch (method) {
        case TAMLIB_METHOD_HOLD:
            return createResamplerHold(resampler);
        case TAMLIB_METHOD_LINEAR:
            return createResamplerLinear(resampler);
        default:
            return createResamplerAliasFree(resampler);
    }
}

// One whole stream: every block with its calculate and read-back, then end of data. The set-up
// (registration, filter design, initialize) is not timed, as the peers' is not either.
void streamOnce(benchmark::State& state, const StreamSetup& setup, std::vector<double>& times,
                std::vector<double>& values) {
    state.PauseTiming();
    const Workload& data = workload();
    // Rings as a host sizes them for its blocks: one block of input, one block's outputs and
    // some slack (the alias-free method adds its filter length to the input ring itself).
    const auto outputRing =
        static_cast<uint64_t>(static_cast<double>(kBlock) * setup.outputRate / setup.inputRate) +
        1024;

    void* resampler = nullptr;
    createResampler(setup.method, &resampler);
    setSamplerate(resampler, setup.outputRate);
    setInputBufferSize(resampler, kBlock);
    setOutputBufferSize(resampler, outputRing);
    std::vector<void*> channels(static_cast<size_t>(setup.channels));
    for (void*& channel : channels) {
        if (setup.stamps != Stamps::None) {
            addAsyncChannel2(resampler, &channel, setup.inputRate, 0.0, 0);
        } else {
            addSyncChannel(resampler, &channel, setup.inputRate, 0.0, 0);
        }
    }
    initialize(resampler);
    times.resize(outputRing);
    values.resize(outputRing);
    state.ResumeTiming();

    auto readBack = [&]() { readOutputs(resampler, channels, times, values); };
    for (uint64_t first = 0; first < kSamplesPerChannel; first += kBlock) {
        const uint64_t length = std::min(kBlock, kSamplesPerChannel - first);
        for (int c = 0; c < setup.channels; ++c) {
            addData(resampler, channels[c], data.channel(c) + first, length);
            const bool stamped =
                setup.stamps == Stamps::PerChannel || (setup.stamps == Stamps::PerGroup && c == 0);
            if (stamped) {
                addTimes(resampler, channels[c], data.stamps.data() + first, length);
            }
        }
        calculate(resampler);
        readBack();
    }
    const double endSeconds = setup.stamps != Stamps::None
                                  ? data.stamps.back()
                                  : static_cast<double>(kSamplesPerChannel - 1) / setup.inputRate;
    noMoreDataToAdd(resampler, 1000.0 * endSeconds);
    calculate(resampler);
    readBack();
    state.PauseTiming();
    deleteResampler(resampler);
    state.ResumeTiming();
}

void runStream(benchmark::State& state, StreamSetup setup) {
    workload();
    std::vector<double> times;
    std::vector<double> values;
    for (auto _ : state) {
        streamOnce(state, setup, times, values);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kSamplesPerChannel) *
                            setup.channels);
}

// The copies alone that any resampler behind addData and getResampledData2 makes: each block of
// every channel into a ring of the block's size, and `outputRatio` times as many doubles back out
// of a second ring, with no resampling between. With the kernels alone (tamlib_kernel_bench), the
// floor of the streams above.
void runCopies(benchmark::State& state, double outputRatio, int channels) {
    const Workload& data = workload();
    const auto outputs = static_cast<uint64_t>(static_cast<double>(kBlock) * outputRatio);
    std::vector<std::vector<double>> inputRings(channels, std::vector<double>(kBlock));
    std::vector<std::vector<double>> outputRings(channels,
                                                 std::vector<double>(outputs + 1024, 1.0));
    std::vector<double> host(outputs + 1024);
    for (auto _ : state) {
        for (uint64_t first = 0; first < kSamplesPerChannel; first += kBlock) {
            const uint64_t length = std::min(kBlock, kSamplesPerChannel - first);
            for (int c = 0; c < channels; ++c) {
                std::memcpy(inputRings[c].data(), data.channel(c) + first, length * sizeof(double));
            }
            benchmark::ClobberMemory();
            const auto count = static_cast<uint64_t>(static_cast<double>(length) * outputRatio);
            for (int c = 0; c < channels; ++c) {
                std::memcpy(host.data(), outputRings[c].data(), count * sizeof(double));
                benchmark::DoNotOptimize(host.data());
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kSamplesPerChannel) *
                            channels);
}

// The whole stream of every channel in one addData each, as a host holding a recording in memory
// would call it: one calculate, the read-back, end of data and the last read-back. Wall time from
// the first addData to the last read-back, or with `withSetUp` from creating the resampler to
// deleting it.
constexpr uint64_t kWholeSamples = 1000000;

void runWholeStream(benchmark::State& state, StreamSetup setup, bool withSetUp) {
    std::vector<double> signal(static_cast<size_t>(setup.channels) * kWholeSamples);
    std::mt19937_64 random(20240612);
    std::normal_distribution<double> value(0.0, 1.0);
    for (double& v : signal) {
        v = value(random);
    }
    const auto outputRing = static_cast<uint64_t>(static_cast<double>(kWholeSamples) *
                                                  setup.outputRate / setup.inputRate) +
                            1024;
    std::vector<double> times(outputRing);
    std::vector<double> values(outputRing);
    for (auto _ : state) {
        if (!withSetUp) {
            state.PauseTiming();
        }
        void* resampler = nullptr;
        createResampler(setup.method, &resampler);
        setSamplerate(resampler, setup.outputRate);
        setInputBufferSize(resampler, kWholeSamples);
        setOutputBufferSize(resampler, outputRing);
        std::vector<void*> channels(static_cast<size_t>(setup.channels));
        for (void*& channel : channels) {
            addSyncChannel(resampler, &channel, setup.inputRate, 0.0, 0);
        }
        initialize(resampler);
        if (!withSetUp) {
            state.ResumeTiming();
        }
        auto readBack = [&]() { readOutputs(resampler, channels, times, values); };
        for (int c = 0; c < setup.channels; ++c) {
            addData(resampler, channels[c], signal.data() + c * kWholeSamples, kWholeSamples);
        }
        calculate(resampler);
        readBack();
        noMoreDataToAdd(resampler,
                        1000.0 * static_cast<double>(kWholeSamples - 1) / setup.inputRate);
        calculate(resampler);
        readBack();
        if (!withSetUp) {
            state.PauseTiming();
        }
        deleteResampler(resampler);
        if (!withSetUp) {
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kWholeSamples) *
                            setup.channels);
}

void registerStreams() {
    struct Named {
        const char* name;
        StreamSetup setup;
    };
    const Named streams[] = {
        {"aliasfree/2500to1000/16ch", {TAMLIB_METHOD_ALIAS_FREE, 2500.0, 1000.0, 16, Stamps::None}},
        {"aliasfree/1000to2000/16ch", {TAMLIB_METHOD_ALIAS_FREE, 1000.0, 2000.0, 16, Stamps::None}},
        {"aliasfree/1024to1000/16ch", {TAMLIB_METHOD_ALIAS_FREE, 1024.0, 1000.0, 16, Stamps::None}},
        {"aliasfree/1000to100/16ch", {TAMLIB_METHOD_ALIAS_FREE, 1000.0, 100.0, 16, Stamps::None}},
        {"aliasfree/2500to1000/1ch", {TAMLIB_METHOD_ALIAS_FREE, 2500.0, 1000.0, 1, Stamps::None}},
        {"aliasfree/2500to1000/3ch", {TAMLIB_METHOD_ALIAS_FREE, 2500.0, 1000.0, 3, Stamps::None}},
        {"aliasfree/2500to1000/12ch", {TAMLIB_METHOD_ALIAS_FREE, 2500.0, 1000.0, 12, Stamps::None}},
        {"hold/2500to1000/16ch", {TAMLIB_METHOD_HOLD, 2500.0, 1000.0, 16, Stamps::None}},
        {"linear/2500to1000/16ch", {TAMLIB_METHOD_LINEAR, 2500.0, 1000.0, 16, Stamps::None}},
        {"hold/irregular/16ch", {TAMLIB_METHOD_HOLD, 1000.0, 1000.0, 16, Stamps::PerGroup}},
        {"linear/irregular/16ch", {TAMLIB_METHOD_LINEAR, 1000.0, 1000.0, 16, Stamps::PerGroup}},
        {"hold/irregular-stamped-per-channel/16ch",
         {TAMLIB_METHOD_HOLD, 1000.0, 1000.0, 16, Stamps::PerChannel}},
        {"linear/irregular-stamped-per-channel/16ch",
         {TAMLIB_METHOD_LINEAR, 1000.0, 1000.0, 16, Stamps::PerChannel}},
    };
    for (const Named& stream : streams) {
        benchmark::RegisterBenchmark(stream.name, runStream, stream.setup)
            ->Unit(benchmark::kMillisecond);
    }
    // A copies/ floor beside every alias-free stream, with its channels and output ratio.
    for (const Named& stream : streams) {
        const StreamSetup& setup = stream.setup;
        const std::string name = stream.name;
        if (setup.method == TAMLIB_METHOD_ALIAS_FREE) {
            benchmark::RegisterBenchmark(("copies/" + name.substr(name.find('/') + 1)).c_str(),
                                         runCopies, setup.outputRate / setup.inputRate,
                                         setup.channels)
                ->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::RegisterBenchmark("copies/irregular/16ch", runCopies, 1.0, 16)
        ->Unit(benchmark::kMillisecond);
}

void registerWholeStreams() {
    const StreamSetup setup{TAMLIB_METHOD_ALIAS_FREE, 2500.0, 1000.0, 16, Stamps::None};
    benchmark::RegisterBenchmark("whole/aliasfree/2500to1000/16ch", runWholeStream, setup, false)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1)
        ->UseRealTime();
    benchmark::RegisterBenchmark("whole-with-setup/aliasfree/2500to1000/16ch", runWholeStream,
                                 setup, true)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1)
        ->UseRealTime();
}

bool writeFile(const std::string& path, const std::vector<double>& data) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const size_t written = std::fwrite(data.data(), sizeof(double), data.size(), file);
    return std::fclose(file) == 0 && written == data.size();
}

// signal.f64 (kMaxChannels rows of kSamplesPerChannel doubles), stamps.f64, layout.txt.
int dumpData(const std::string& directory) {
    const Workload& data = workload();
    if (!writeFile(directory + "/signal.f64", data.signal) ||
        !writeFile(directory + "/stamps.f64", data.stamps)) {
        std::fprintf(stderr, "cannot write to %s\n", directory.c_str());
        return 1;
    }
    std::FILE* layout = std::fopen((directory + "/layout.txt").c_str(), "w");
    if (layout == nullptr) {
        return 1;
    }
    std::fprintf(layout, "channels %d\nsamples %llu\nblock %llu\n", kMaxChannels,
                 static_cast<unsigned long long>(kSamplesPerChannel),
                 static_cast<unsigned long long>(kBlock));
    return std::fclose(layout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const char* dumpFlag = "--dump-data=";
    const char* blockFlag = "--block=";
    const char* dumpDirectory = nullptr;
    bool wholeStream = false;
    // Our own flags come out of argv before the benchmark library reads the rest.
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], blockFlag, std::strlen(blockFlag)) == 0) {
            kBlock = std::strtoull(argv[i] + std::strlen(blockFlag), nullptr, 10);
        } else if (std::strcmp(argv[i], "--whole-stream") == 0) {
            wholeStream = true;
        } else if (std::strncmp(argv[i], dumpFlag, std::strlen(dumpFlag)) == 0) {
            dumpDirectory = argv[i] + std::strlen(dumpFlag);
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    if (kBlock == 0 || kBlock > kSamplesPerChannel) {
        std::fprintf(stderr, "--block takes 1 to %llu samples\n",
                     static_cast<unsigned long long>(kSamplesPerChannel));
        return 2;
    }
    if (dumpDirectory != nullptr) {
        return dumpData(dumpDirectory);
    }
    if (wholeStream) {
        registerWholeStreams();
    } else {
        registerStreams();
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
