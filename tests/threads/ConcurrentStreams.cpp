// Four threads each stream their own hold, linear and alias-free resamplers at the same time.
// Separate resamplers share nothing, so every thread's output must equal, bit for bit, what the
// same streams give when run one after another. Built with -fsanitize=thread in CI, where a data
// race between the resamplers is reported as well.
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tamlib/resampler.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr int kThreads = 4;
constexpr int kBlocks = 400;
constexpr uint64_t kBlockSamples = 50;  // per channel and block, at the 2500 Hz channel

// Everything a host read from one resampler: the output times and values of each channel.
struct Output {
    std::vector<double> times;
    std::vector<double> values;
};

struct Stream {
    void* resampler = nullptr;
    void* fast = nullptr;     // synchronous, 2500 Hz
    void* stamped = nullptr;  // time-stamped, nominally 500 Hz, with jitter
    Output output;
};

void check(int status) {
    if (status != 0) {
        throw std::runtime_error("call returned " + std::to_string(status));
    }
}

Stream open(int (*create)(void**)) {
    Stream stream;
    check(create(&stream.resampler));
    check(setSamplerate(stream.resampler, 1000.0));
    check(setInputBufferSize(stream.resampler, 4096));
    check(setOutputBufferSize(stream.resampler, 4096));
    check(addSyncChannel(stream.resampler, &stream.fast, 2500.0, 0.0, 0));
    check(addAsyncChannel2(stream.resampler, &stream.stamped, 500.0, 0.0, 0));
    check(initialize(stream.resampler));
    return stream;
}

void readChannel(Stream& stream, void* channel) {
    uint64_t count = 0;
    check(getResampledDataCount(stream.resampler, channel, &count));
    std::vector<double> times(count);
    std::vector<double> values(count);
    check(getResampledTimes2(stream.resampler, channel, times.data(), count));
    check(getResampledData2(stream.resampler, channel, values.data(), count));
    stream.output.times.insert(stream.output.times.end(), times.begin(), times.end());
    stream.output.values.insert(stream.output.values.end(), values.begin(), values.end());
}

// One block of each channel, a pass and a full read. The signal depends on the thread index,
// so the four threads compute different streams.
void feedBlock(Stream& stream, int threadIndex, int block) {
    const double frequency = 3.0 + threadIndex;
    std::vector<double> fast(kBlockSamples);
    for (uint64_t k = 0; k < kBlockSamples; ++k) {
        const double t = static_cast<double>(block * kBlockSamples + k) / 2500.0;
        fast[k] = std::sin(2.0 * kPi * frequency * t) + 0.01 * threadIndex;
    }
    check(addData(stream.resampler, stream.fast, fast.data(), kBlockSamples));

    const uint64_t stampedSamples = kBlockSamples / 5;
    std::vector<double> values(stampedSamples);
    std::vector<double> times(stampedSamples);
    for (uint64_t k = 0; k < stampedSamples; ++k) {
        const uint64_t n = block * stampedSamples + k;
        // A deterministic jitter of up to 0.3 ms around the nominal 2 ms spacing.
        const double jitter = 0.0003 * std::sin(static_cast<double>(n) * 1.7 + threadIndex);
        times[k] = static_cast<double>(n) * 0.002 + 0.0005 + jitter;
        values[k] = std::cos(2.0 * kPi * frequency * times[k]);
    }
    check(addData(stream.resampler, stream.stamped, values.data(), stampedSamples));
    check(addTimes(stream.resampler, stream.stamped, times.data(), stampedSamples));

    if (block == kBlocks - 1) {
        check(noMoreDataToAdd(stream.resampler, 1000.0 * times.back()));
    }
    check(calculate(stream.resampler));
    readChannel(stream, stream.fast);
    readChannel(stream, stream.stamped);
}

// The three resamplers of one thread, advanced block by block in turn.
std::vector<Output> runThreadStreams(int threadIndex) {
    Stream streams[] = {open(createResamplerHold), open(createResamplerLinear),
                        open(createResamplerAliasFree)};
    for (int block = 0; block < kBlocks; ++block) {
        for (Stream& stream : streams) {
            feedBlock(stream, threadIndex, block);
        }
    }
    std::vector<Output> outputs;
    for (Stream& stream : streams) {
        check(deleteResampler(stream.resampler));
        outputs.push_back(std::move(stream.output));
    }
    return outputs;
}

bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

}  // namespace

// A call that throws ends the program through std::terminate, which prints the message: the
// test fails either way, so there is no error path of its own.
int main() {
    const char* methodNames[] = {"hold", "linear", "alias-free"};
    std::vector<std::vector<Output>> oneByOne;
    for (int t = 0; t < kThreads; ++t) {
        oneByOne.push_back(runThreadStreams(t));
    }

    std::vector<std::vector<Output>> concurrent(kThreads);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // Start together, so the four streams really overlap.
            ready.fetch_add(1);
            while (ready.load() < kThreads) {
                std::this_thread::yield();
            }
            concurrent[t] = runThreadStreams(t);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    int passed = 0;
    int failed = 0;
    for (int t = 0; t < kThreads; ++t) {
        for (int m = 0; m < 3; ++m) {
            const Output& expected = oneByOne[t][m];
            const Output& actual = concurrent[t][m];
            // An empty stream would compare equal without proving anything.
            const bool ok = !expected.values.empty() && sameBits(expected.times, actual.times) &&
                            sameBits(expected.values, actual.values);
            std::printf("thread %d %-10s %zu outputs, %s\n", t, methodNames[m],
                        actual.values.size(), ok ? "equal to one by one" : "EMPTY OR DIFFERENT");
            ok ? ++passed : ++failed;
        }
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
