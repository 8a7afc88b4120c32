#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "resampler/StampChecks.h"

// The stamp checks go over vector lanes and a scalar tail: one bad stamp at any position of
// blocks of every length up to a few vectors must be found, and a difference of exactly the
// tolerance must pass.

namespace {

using Karvel::Tamlib::Resampler::allFinite;
using Karvel::Tamlib::Resampler::compareStamps;

constexpr double kTolerance = 0.25;  // a power of two, so that a difference of it is exact

std::vector<double> stampsOf(uint64_t count) {
    std::vector<double> stamps(count);
    for (uint64_t i = 0; i < count; ++i) {
        stamps[i] = 1000.0 + 0.5 * static_cast<double>(i);
    }
    return stamps;
}

TEST(StampChecksTest, EveryNonFiniteStampIsFoundWhereverItLies) {
    const double bad[] = {std::numeric_limits<double>::quiet_NaN(),
                          std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity()};
    for (uint64_t count = 0; count <= 13; ++count) {
        std::vector<double> stamps = stampsOf(count);
        const std::vector<double> stored = stamps;
        stamps.push_back(bad[0]);  // past the end: never read
        EXPECT_TRUE(allFinite(stamps.data(), count)) << count;
        EXPECT_TRUE(compareStamps(stamps.data(), stored.data(), count, kTolerance).finite);
        for (uint64_t at = 0; at < count; ++at) {
            for (const double value : bad) {
                std::vector<double> broken = stampsOf(count);
                broken[at] = value;
                EXPECT_FALSE(allFinite(broken.data(), count)) << count << " at " << at;
                EXPECT_FALSE(compareStamps(broken.data(), stored.data(), count, kTolerance).finite)
                    << count << " at " << at;
            }
        }
    }
}

TEST(StampChecksTest, EveryStampOffByMoreThanTheToleranceIsFoundWhereverItLies) {
    for (uint64_t count = 0; count <= 13; ++count) {
        const std::vector<double> stored = stampsOf(count);
        std::vector<double> times = stampsOf(count);
        // Each stamp off by exactly the tolerance, alternately above and below, still matches.
        for (uint64_t i = 0; i < count; ++i) {
            times[i] += i % 2 == 0 ? kTolerance : -kTolerance;
        }
        EXPECT_TRUE(compareStamps(times.data(), stored.data(), count, kTolerance).matching)
            << count;
        for (uint64_t at = 0; at < count; ++at) {
            for (const double off : {kTolerance * 1.5, -kTolerance * 1.5}) {
                std::vector<double> moved = times;
                moved[at] = stored[at] + off;
                const auto checked = compareStamps(moved.data(), stored.data(), count, kTolerance);
                EXPECT_FALSE(checked.matching) << count << " at " << at;
                EXPECT_TRUE(checked.finite) << count << " at " << at;
            }
        }
    }
}

}  // namespace
