#include "resampler/MasterGrid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using Karvel::Tamlib::Resampler::sumGrid;

uint64_t bitsOf(double value) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// The grid must be the sum of one dt after another, bit for bit: from zero and from subnormal,
// small and large times, across binade ends, for steps that are whole, fractional or exactly
// halfway between two multiples of the ulp (where the rounding follows each time's parity),
// and in passes of several lengths that continue one another.
TEST(MasterGridTest, EqualsTheSumOfOneStepAfterAnother) {
    const double starts[] = {0.0, 5e-324,  1e-310,    1e-3, 0.999,
                             1.0, 123.456, 1048575.5, 1e9,  std::ldexp(1.0, 40) - 3e-3};
    std::vector<double> steps = {1.0 / 1000.0, 1.0 / 1024.0, 1.0 / 2500.0, 1.0 / 44100.0,
                                 1.0 / 3.0,    0.75,         1e-9,         2.0};
    for (const double start : starts) {
        // Halfway and near-halfway steps of this start's ulp.
        const double ulp = start > 0.0 ? std::nextafter(start, 2.0 * start + 1.0) - start : 0.0;
        std::vector<double> local = steps;
        if (ulp > 0.0) {
            local.insert(local.end(), {0.5 * ulp, 1.5 * ulp, 2.5 * ulp, 3.0 * ulp, 1.25 * ulp});
        }
        for (const double dt : local) {
            SCOPED_TRACE(testing::Message() << "start " << start << " dt " << dt);
            const uint64_t passes[] = {0, 1, 7, 1000, 30000, 1};
            double expected = start;
            double time = start;
            for (const uint64_t count : passes) {
                std::vector<double> grid(count + 1, -1.0);
                sumGrid(grid.data(), count, time, dt);
                for (uint64_t k = 0; k < count; ++k) {
                    expected = expected + dt;
                    ASSERT_EQ(bitsOf(grid[k]), bitsOf(expected)) << "time " << k << " of " << count;
                }
                ASSERT_EQ(grid[count], -1.0) << "written past the pass";
                ASSERT_EQ(bitsOf(time), bitsOf(expected));
            }
        }
    }
}

}  // namespace
