#include "dsp/window/Kaiser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/BesselI0.h"

namespace {

using Karvel::Tamlib::Dsp::Window::kaiserWindow;
using TamlibTest::besselI0;

TEST(KaiserTest, ValuesMatchBesselRatioAtKnownPoints) {
    struct Row {
        const char* name;
        uint64_t length;
        double beta;
        uint64_t index;
        double expected;
    };
    // Position r = (n - D/2) / (D/2) with D = length - 1, raised to 1 for length 1. The mirror
    // images of these points are the next test's.
    const Row rows[] = {
        {"odd length, middle", 9, 6.0, 4, 1.0},
        {"odd length, first", 9, 6.0, 0, 1.0 / besselI0(6.0)},
        {"r = -1/2", 5, 6.0, 1, besselI0(6.0 * std::sqrt(0.75)) / besselI0(6.0)},
        {"even length, r = -1/3", 4, 6.0, 1, besselI0(6.0 * std::sqrt(8.0 / 9.0)) / besselI0(6.0)},
        {"length 1 sits at r = -1", 1, 6.0, 0, 1.0 / besselI0(6.0)},
        {"large beta, end", 33, 20.0, 0, 1.0 / besselI0(20.0)},
        {"beta 0, inside", 6, 0.0, 2, 1.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::vector<float> window = kaiserWindow(row.length, row.beta);
        ASSERT_EQ(window.size(), row.length);
        EXPECT_FLOAT_EQ(window[row.index], static_cast<float>(row.expected));
    }
}

TEST(KaiserTest, ValuesRiseToTheMiddleAndMirror) {
    for (const uint64_t length : {10u, 11u, 115u}) {
        SCOPED_TRACE("length " + std::to_string(length));
        const std::vector<float> values = kaiserWindow(length, 8.6);
        for (uint64_t n = 0; n < length; ++n) {
            EXPECT_FLOAT_EQ(values[n], values[length - 1 - n]) << "n = " << n;
        }
        for (uint64_t n = 1; n < (length + 1) / 2; ++n) {
            EXPECT_LT(values[n - 1], values[n]) << "n = " << n;
        }
    }
}

TEST(KaiserTest, LengthZeroIsEmptyAndAnOversizedLengthFails) {
    EXPECT_TRUE(kaiserWindow(0, 6.0).empty());
    try {
        static_cast<void>(kaiserWindow(std::numeric_limits<uint64_t>::max(), 1.0));
        FAIL() << "no exception";
    } catch (const std::length_error& error) {
        EXPECT_STREQ(error.what(), "vector too long");
    }
}

}  // namespace
