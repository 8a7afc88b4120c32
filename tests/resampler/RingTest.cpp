#include "resampler/Ring.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

namespace {

using Karvel::Tamlib::Resampler::Ring;

bool allZero(const Ring& ring) {
    for (uint64_t slot = 0; slot < ring.size(); ++slot) {
        if (ring[slot] != 0.0) {
            return false;
        }
    }
    return true;
}

// Rings of every allocation (small from the heap, large as their own pages, with and without a
// rounded-up last huge page) start at zero, again after the previous ring of the same size was
// written and freed, and keep their values when they change hands; each is freed as it was
// taken, which a mismatch would turn into a crash here or under the sanitizers.
TEST(RingTest, EverySizeStartsAtZeroAndKeepsItsValuesWhenHandedOver) {
    const uint64_t sizes[] = {1,
                              1000,
                              (uint64_t{1} << 17) - 1,
                              uint64_t{1} << 17,
                              (uint64_t{3} << 17) + 5,
                              (uint64_t{5} << 18) + 7,
                              1000001};
    for (const uint64_t size : sizes) {
        SCOPED_TRACE(size);
        for (int round = 0; round < 2; ++round) {
            Ring ring(size);
            ASSERT_EQ(ring.size(), size);
            EXPECT_TRUE(allZero(ring));
            ring.touch();
            for (uint64_t slot = 0; slot < size; ++slot) {
                ring[slot] = static_cast<double>(slot) + 0.5;
            }
            Ring moved(std::move(ring));
            Ring small(3);
            small.takeSlots(moved);
            ASSERT_EQ(small.size(), size);
            ASSERT_EQ(moved.size(), 3u);
            EXPECT_EQ(small[0], 0.5);
            EXPECT_EQ(small[size - 1], static_cast<double>(size - 1) + 0.5);
            EXPECT_TRUE(allZero(moved));
        }
    }
}

// Rings made one after another, as a group's channels get theirs, start on cache lines, and
// from two pages on each at another line of its page: with all at one offset, a group's reads
// at the same slots of every ring would meet in the same sets of the first-level cache.
TEST(RingTest, RingsOfAFewPagesStartAtDifferentLinesOfTheirPages) {
    for (const uint64_t size : {uint64_t{1024}, uint64_t{10000}, uint64_t{300000}}) {
        SCOPED_TRACE(size);
        std::vector<Ring> rings;
        std::set<uintptr_t> offsets;
        for (int c = 0; c < 16; ++c) {
            rings.emplace_back(size);
            const auto start = reinterpret_cast<uintptr_t>(rings.back().data());
            EXPECT_EQ(start % 64, 0u);
            offsets.insert(start % 4096);
            rings.back()[size - 1] = 1.0;
        }
        EXPECT_EQ(offsets.size(), 16u);
    }
}

}  // namespace
