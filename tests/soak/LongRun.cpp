// Long-run check: 10^8 input samples per channel through each method, in blocks, as a host
// streaming for hours would. After warm-up the resident memory must stay within 1 %, and no
// pass after the first may allocate: every allocation in the process is counted by the
// replaced global operator new below.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <new>
#include <vector>

#include "tamlib/resampler.h"

namespace {

std::atomic<uint64_t> allocationCount{0};

void* countedAllocation(std::size_t size, std::size_t alignment) {
    allocationCount.fetch_add(1, std::memory_order_relaxed);
    if (size == 0) {
        size = 1;
    }
    void* memory = nullptr;
    if (alignment <= alignof(std::max_align_t)) {
        memory = std::malloc(size);
    } else if (posix_memalign(&memory, alignment, size) != 0) {
        memory = nullptr;
    }
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return memory;
}

}  // namespace

// libstdc++'s array and nothrow forms call these, so they count as well.
void* operator new(std::size_t size) {
    return countedAllocation(size, 0);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    return countedAllocation(size, static_cast<std::size_t>(alignment));
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::align_val_t) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept {
    std::free(memory);
}

namespace {

constexpr uint64_t kSamplesPerChannel = 100'000'000;
constexpr uint64_t kBlockSamples = 5'000;  // per channel and pass, at 2500 Hz: 2 s of data
constexpr uint64_t kPasses = kSamplesPerChannel / kBlockSamples;
constexpr uint64_t kWarmUpPasses = 100;
constexpr double kInputRate = 2500.0;
constexpr double kOutputRate = 1000.0;
constexpr double kStampedOffset = 0.0001;

// Resident anonymous memory (resident minus file-backed pages), so that code pages faulted in
// late do not count. Read with plain system calls: a stream would allocate and spoil the count.
uint64_t residentBytes() {
    char text[128] = {};
    const int file = open("/proc/self/statm", O_RDONLY);
    if (file < 0) {
        return 0;
    }
    const ssize_t length = read(file, text, sizeof text - 1);
    close(file);
    if (length <= 0) {
        return 0;
    }
    char* rest = nullptr;
    std::strtoull(text, &rest, 10);  // total program size, not needed
    const uint64_t residentPages = std::strtoull(rest, &rest, 10);
    const uint64_t sharedPages = std::strtoull(rest, nullptr, 10);
    return (residentPages - sharedPages) * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

struct Figures {
    double seconds = 0.0;
    double cpuSeconds = 0.0;
    uint64_t outputs = 0;
    uint64_t allocationsInFirstPass = 0;
    uint64_t allocationsAfterFirstPass = 0;
    uint64_t residentAfterWarmUp = 0;
    uint64_t residentPeak = 0;
    uint64_t residentAtEnd = 0;
};

// Streams one resampler with a synchronous channel and a time-stamped one at the same nominal
// rate (a slightly later offset keeps it a group of its own), both fed kSamplesPerChannel
// samples. Host buffers exist before the first pass, so the
// counted allocations are the library's own.
Figures soak(int (*create)(void**)) {
    void* resampler = nullptr;
    create(&resampler);
    void* synchronous = nullptr;
    void* stamped = nullptr;
    setSamplerate(resampler, kOutputRate);
    setInputBufferSize(resampler, 2 * kBlockSamples);
    setOutputBufferSize(resampler, 2 * kBlockSamples);
    addSyncChannel(resampler, &synchronous, kInputRate, 0.0, 0);
    addAsyncChannel2(resampler, &stamped, kInputRate, kStampedOffset, 0);
    initialize(resampler);

    std::vector<double> values(kBlockSamples);
    std::vector<double> times(kBlockSamples);
    std::vector<double> outputTimes(2 * kBlockSamples);
    std::vector<double> outputValues(2 * kBlockSamples);

    Figures figures;
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    uint64_t allocationsBefore = allocationCount.load();
    for (uint64_t pass = 0; pass < kPasses; ++pass) {
        for (uint64_t k = 0; k < kBlockSamples; ++k) {
            const uint64_t n = pass * kBlockSamples + k;
            times[k] = static_cast<double>(n + 1) / kInputRate + kStampedOffset;
            values[k] = std::sin(static_cast<double>(n % 2500) * 0.01);
        }
        addData(resampler, synchronous, values.data(), kBlockSamples);
        addData(resampler, stamped, values.data(), kBlockSamples);
        addTimes(resampler, stamped, times.data(), kBlockSamples);
        calculate(resampler);
        for (void* channel : {synchronous, stamped}) {
            uint64_t count = 0;
            getResampledDataCount(resampler, channel, &count);
            getResampledTimes2(resampler, channel, outputTimes.data(), count);
            getResampledData2(resampler, channel, outputValues.data(), count);
            figures.outputs += count;
        }
        if (pass == 0) {
            figures.allocationsInFirstPass = allocationCount.load() - allocationsBefore;
            allocationsBefore = allocationCount.load();
        }
        if (pass + 1 == kWarmUpPasses) {
            figures.residentAfterWarmUp = residentBytes();
        }
        if (pass + 1 >= kWarmUpPasses && pass % 100 == 0) {
            figures.residentPeak = std::max(figures.residentPeak, residentBytes());
        }
    }
    figures.allocationsAfterFirstPass = allocationCount.load() - allocationsBefore;
    figures.residentAtEnd = residentBytes();
    figures.residentPeak = std::max(figures.residentPeak, figures.residentAtEnd);
    figures.cpuSeconds = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    figures.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    deleteResampler(resampler);
    return figures;
}

}  // namespace

int main() {
    const char* names[] = {"hold", "linear", "alias-free"};
    int (*const creators[])(void**) = {createResamplerHold, createResamplerLinear,
                                       createResamplerAliasFree};
    int failed = 0;
    for (int method = 0; method < 3; ++method) {
        Figures figures;
        try {
            figures = soak(creators[method]);
        } catch (const std::exception& error) {
            std::printf("%s: %s\n", names[method], error.what());
            ++failed;
            continue;
        }
        const double growth = static_cast<double>(figures.residentPeak) /
                                  static_cast<double>(figures.residentAfterWarmUp) -
                              1.0;
        // Outputs from the two channels: about 2 * 10^8 * 1000 / 2500.
        const double expectedOutputs = 2.0 * kSamplesPerChannel * (kOutputRate / kInputRate);
        const bool outputsPlausible =
            figures.outputs > 0.99 * expectedOutputs && figures.outputs <= expectedOutputs + 2.0;
        const bool ok =
            figures.allocationsAfterFirstPass == 0 && growth <= 0.01 && outputsPlausible;
        const auto mib = [](uint64_t bytes) { return static_cast<double>(bytes) / 1048576.0; };
        std::printf(
            "%-10s %.1f s wall, %.1f s CPU (%.1f M samples/s per channel of CPU), %llu outputs; "
            "allocations: %llu in the first pass, %llu after; anonymous memory after warm-up "
            "%.2f MiB, peak %.2f MiB, end %.2f MiB (%+.3f %%): %s\n",
            names[method], figures.seconds, figures.cpuSeconds,
            static_cast<double>(kSamplesPerChannel) / figures.cpuSeconds / 1e6,
            static_cast<unsigned long long>(figures.outputs),
            static_cast<unsigned long long>(figures.allocationsInFirstPass),
            static_cast<unsigned long long>(figures.allocationsAfterFirstPass),
            mib(figures.residentAfterWarmUp), mib(figures.residentPeak), mib(figures.residentAtEnd),
            100.0 * growth, ok ? "ok" : "FAILED");
        failed += ok ? 0 : 1;
    }
    std::printf("%d of 3 failed\n", failed);
    return failed == 0 ? 0 : 1;
}
