// A host linked against the shared library (tamresampler.dll on Windows, where the library and
// this program each carry their own static copy of the C++ runtime) catches the library's
// exceptions by type, reads their messages, and keeps using the resampler afterwards.
#include <gtest/gtest.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "tamlib/resampler.h"

namespace {

struct Rejection {
    const char* name;
    std::function<void(void* resampler)> call;
    const char* message;
};

// Each row is a call the header documents as throwing std::invalid_argument with this message:
// a setter, a registration and an input call, whose messages the unit tests check one by one.
const std::vector<Rejection>& rejections() {
    static const std::vector<Rejection> rows = {
        {"zero output rate", [](void* r) { setSamplerate(r, 0.0); },
         "Samplerate must be a positive number."},
        {"negative channel rate",
         [](void* r) {
             void* channel = nullptr;
             addSyncChannel(r, &channel, -1.0, 0.0, 0);
         },
         "Samplerate must be more than 0."},
        {"NaN time stamp",
         [](void* r) {
             void* channel = nullptr;
             addAsyncChannel(r, &channel);
             addTime(r, channel, std::numeric_limits<double>::quiet_NaN());
         },
         "Invalid timestamps."},
    };
    return rows;
}

// Caught by the base class: the hierarchy survives the crossing as well as the exact type.
TEST(ExceptionCrossing, HostCatchesInvalidArgumentWithItsMessage) {
    for (const Rejection& row : rejections()) {
        SCOPED_TRACE(row.name);
        void* resampler = nullptr;
        createResamplerHold(&resampler);
        ASSERT_NE(resampler, nullptr);
        bool caught = false;
        try {
            row.call(resampler);
        } catch (const std::logic_error& error) {
            caught = dynamic_cast<const std::invalid_argument*>(&error) != nullptr;
            EXPECT_EQ(std::string(error.what()), row.message);
        }
        EXPECT_TRUE(caught);
        deleteResampler(resampler);
    }
}

// A thousand exceptions allocated in the library and released by the host: a mismatch of the
// two modules' heaps or unwinders shows up as a crash here rather than in a host's field run.
TEST(ExceptionCrossing, ManyCrossingsLeaveTheResamplerUsable) {
    void* resampler = nullptr;
    void* channel = nullptr;
    createResamplerHold(&resampler);
    addSyncChannel(resampler, &channel, 1000.0, 0.0, 4);
    int caught = 0;
    for (int i = 0; i < 1000; ++i) {
        try {
            setSamplerate(resampler, 0.0);
        } catch (const std::invalid_argument&) {
            ++caught;
        }
    }
    EXPECT_EQ(caught, 1000);

    // The rejected rates left the default 1000 Hz in place, so a 1000 Hz channel is copied
    // straight through.
    const double values[4] = {1.5, -2.0, 3.25, 8.0};
    initialize(resampler);
    addData(resampler, channel, values, 4);
    calculate(resampler);
    uint64_t count = 0;
    getResampledDataCount(resampler, channel, &count);
    ASSERT_EQ(count, 4u);
    std::vector<double> out(count);
    getResampledData2(resampler, channel, out.data(), count);
    EXPECT_EQ(out, std::vector<double>(values, values + 4));
    deleteResampler(resampler);
}

}  // namespace
