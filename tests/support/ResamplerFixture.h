#pragma once

// Shared test helper: one resampler made through the C exports, with the plumbing a scenario
// needs (registration, streaming blocks, reading a pass's output) so that a test body holds only
// the scenario and its assertions. It is a plain object, not a gtest fixture, so that a
// table-driven test can build one per row.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/StateProbe.h"
#include "tamlib/resampler.h"

namespace TamlibTest {

// The output of one channel, accumulated over any number of passes.
struct ChannelOutput {
    std::vector<double> times;
    std::vector<double> values;  // arraySize values per sample
    std::vector<uint64_t> passCounts;

    size_t size() const { return times.size(); }
};

class ResamplerFixture {
public:
    explicit ResamplerFixture(int32_t method) {
        switch (method) {
            case TAMLIB_METHOD_HOLD:
                createResamplerHold(&handle);
                break;
            case TAMLIB_METHOD_LINEAR:
                createResamplerLinear(&handle);
                break;
            default:
                createResamplerAliasFree(&handle);
                break;
        }
    }
    ~ResamplerFixture() { deleteResampler(handle); }
    ResamplerFixture(const ResamplerFixture&) = delete;
    ResamplerFixture& operator=(const ResamplerFixture&) = delete;

    void* resampler() const { return handle; }

    void* asyncChannel() {
        void* channel = nullptr;
        addAsyncChannel(handle, &channel);
        return channel;
    }
    void* asyncChannel(double rate, double offset = 0.0, int64_t sampleCount = 0) {
        void* channel = nullptr;
        addAsyncChannel2(handle, &channel, rate, offset, sampleCount);
        return channel;
    }
    void* syncChannel(double rate, double offset = 0.0, int64_t sampleCount = 0) {
        void* channel = nullptr;
        addSyncChannel(handle, &channel, rate, offset, sampleCount);
        return channel;
    }
    void* arrayChannel(int32_t arraySize) {
        void* channel = nullptr;
        addAsyncArrayChannel(handle, &channel, 1, arraySize, -1.0, -1.0);
        return channel;
    }

    // The latest pass's output count; the sentinel shows a call that wrote nothing.
    uint64_t count(void* channel) const {
        uint64_t samples = UINT64_MAX - 1;
        getResampledDataCount(handle, channel, &samples);
        return samples;
    }

    // The output count the channel's declaration leads initialize to expect, same sentinel.
    uint64_t expectedCount(void* channel) const {
        uint64_t samples = UINT64_MAX - 1;
        calculateDataCountOfChannel(handle, channel, &samples);
        return samples;
    }

    void addValues(void* channel, const std::vector<double>& values) {
        addData(handle, channel, values.data(), values.size());
    }
    // Values and time stamps of an asynchronous scalar channel, one block.
    void addSamples(void* channel, const std::vector<double>& times,
                    const std::vector<double>& values) {
        addValues(channel, values);
        addTimes(handle, channel, times.data(), times.size());
    }

    // Reads what the latest pass produced for the channel: its group's times and its values.
    // Reads in pieces, since one call may take at most one sample less than the ring holds.
    void read(void* channel, ChannelOutput& output, int32_t arraySize = 1) const {
        uint64_t count = 0;
        getResampledDataCount(handle, channel, &count);
        output.passCounts.push_back(count);
        const uint64_t piece =
            std::max<uint64_t>(1, StateProbe::settings(handle).outputBufferSize - 1);
        for (uint64_t done = 0; done < count;) {
            const uint64_t n = std::min(piece, count - done);
            std::vector<double> times(n);
            std::vector<double> values(n * static_cast<uint64_t>(arraySize));
            getResampledTimes2(handle, channel, times.data(), n);
            getResampledData2(handle, channel, values.data(), n);
            output.times.insert(output.times.end(), times.begin(), times.end());
            output.values.insert(output.values.end(), values.begin(), values.end());
            done += n;
        }
    }
    ChannelOutput calculateAndRead(void* channel, int32_t arraySize = 1) {
        calculate(handle);
        ChannelOutput output;
        read(channel, output, arraySize);
        return output;
    }

    // Streams an asynchronous scalar channel in blocks of blockSize samples, one pass per block,
    // and collects every pass's output.
    ChannelOutput stream(void* channel, const std::vector<double>& times,
                         const std::vector<double>& values, size_t blockSize) {
        ChannelOutput output;
        for (size_t start = 0; start < times.size(); start += blockSize) {
            const size_t end = std::min(times.size(), start + blockSize);
            addSamples(channel, {times.begin() + start, times.begin() + end},
                       {values.begin() + start, values.begin() + end});
            calculate(handle);
            read(channel, output);
        }
        return output;
    }

private:
    void* handle = nullptr;
};

// start, start + step, ... (count values).
inline std::vector<double> ramp(size_t count, double start, double step) {
    std::vector<double> values(count);
    for (size_t k = 0; k < count; ++k) {
        values[k] = start + step * static_cast<double>(k);
    }
    return values;
}

// The message of the std::invalid_argument that call throws, or "" when it throws none.
template <typename Call>
std::string invalidArgumentMessage(Call call) {
    try {
        call();
    } catch (const std::invalid_argument& error) {
        return error.what();
    }
    return "";
}

// Expects two sequences to agree element by element within tolerance, naming the first index
// that differs.
inline void expectNear(const std::vector<double>& actual, const std::vector<double>& expected,
                       double tolerance) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t k = 0; k < expected.size(); ++k) {
        EXPECT_NEAR(actual[k], expected[k], tolerance) << "at index " << k;
    }
}

}  // namespace TamlibTest
