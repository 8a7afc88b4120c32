// Every polyphase kernel this processor runs gives the same bits as the scalar reference, which
// computes one output of one channel at a time straight from the input rings. The channel counts
// and rate pairs reach every path of the kernels: channels in lanes with and without a tile
// table, runs written straight into the output rings, one channel in output lanes, and the tails.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "resampler/MasterGrid.h"
#include "resampler/methods/KernelScenarios.h"
#include "resampler/methods/kernels/KernelDispatch.h"
#include "resampler/methods/kernels/StampRun.h"
#include "tamlib/resampler.h"

namespace {

using AliasFreeTest::ChannelOutput;
using Karvel::Tamlib::Resampler::sumGrid;
using Karvel::Tamlib::Resampler::Kernels::GatherPlan;
using Karvel::Tamlib::Resampler::Kernels::selectGather;
using Karvel::Tamlib::Resampler::Kernels::selectGatherPlan;
using Karvel::Tamlib::Resampler::Kernels::selectGridRun;
using Karvel::Tamlib::Resampler::Kernels::selectKernel;
using Karvel::Tamlib::Resampler::Kernels::selectPlannedGather;
using Karvel::Tamlib::Resampler::Kernels::selectStampRun;
using Karvel::Tamlib::Resampler::Kernels::selectWalk;
using Karvel::Tamlib::Resampler::Kernels::supportedKernelNames;
using KernelScenarios::bitsOf;
using KernelScenarios::bitsWithOneNaN;
using KernelScenarios::compareEveryKernel;
using KernelScenarios::EnvironmentOverride;
using KernelScenarios::GroupLayout;
using KernelScenarios::KernelOverride;
using KernelScenarios::Scenario;

// Expects every kernel's times and values to compare equal to the reference's through `bits`.
template <class Bits>
std::vector<ChannelOutput> expectEveryKernelMatchesTheReference(const Scenario& scenario,
                                                                size_t seed, Bits bits) {
    return compareEveryKernel(scenario, static_cast<uint32_t>(seed), bits,
                              [](const std::string& what) { ADD_FAILURE() << what; });
}

TEST(KernelEqualityTest, StreamsMatchTheScalarReferenceBitForBit) {
    struct RatePair {
        const char* name;
        double outputRate;
        double inputRate;
        uint64_t inputBuffer;
        uint64_t totalSamples;  // with one channel; half that with more
    };
    const RatePair pairs[] = {
        {"2500 to 1000", 1000.0, 2500.0, 300, 12000},
        {"1000 to 2000", 2000.0, 1000.0, 200, 6000},
        {"1024 to 1000", 1000.0, 1024.0, 500, 12000},
        {"1000 to 100", 100.0, 1000.0, 700, 20000},
    };
    std::vector<Scenario> scenarios = {
        // 1000 branches: too many for a tile table, so the tiles read the branches directly.
        {"1001 to 1000, 16 channels", 1000.0, {{1001.0, 16}}, 0.0, 500, 5000},
        // The first master time lies well after the first sample: start alignment consumes
        // more input than the first blocks bring, and the group pays the deficit later.
        {"late start, 16 channels", 1000.0, {{2500.0, 16}}, 0.25, 300, 6000},
        {"late start, 1 channel", 2000.0, {{1000.0, 1}}, 0.125, 200, 6000},
        {"two groups", 1000.0, {{2500.0, 5}, {1024.0, 9}}, 0.0, 400, 6000},
        // Blocks long enough for one channel's batches to go in segments of whole branch
        // cycles, P = 2, 125 and 1, whose rows wrap around the ring's end.
        {"long blocks, 2500 to 1000, 3 channels", 1000.0, {{2500.0, 3}}, 0.0, 3000, 20000, 3000},
        {"long blocks, 1024 to 1000, 1 channel", 1000.0, {{1024.0, 1}}, 0.0, 5000, 40000, 6000},
        {"long blocks, 1000 to 100, 1 channel", 100.0, {{1000.0, 1}}, 0.0, 4000, 40000, 1000},
        // Twelve channels, one at a time in segments, and in channel lanes where a batch is too
        // short for segments.
        {"long blocks, 2500 to 1000, 12 channels", 1000.0, {{2500.0, 12}}, 0.0, 3000, 12000, 3000},
    };
    // One channel, and channel counts around the lane widths of every kernel.
    for (const RatePair& pair : pairs) {
        for (const int channels : {1, 3, 8, 16, 17}) {
            const std::string name = pair.name + (", " + std::to_string(channels)) + " channels";
            const uint64_t total = channels == 1 ? pair.totalSamples : pair.totalSamples / 2;
            const std::vector<GroupLayout> group = {{pair.inputRate, channels}};
            scenarios.push_back({name, pair.outputRate, group, 0.0, pair.inputBuffer, total});
        }
    }
    for (size_t row = 0; row < scenarios.size(); ++row) {
        SCOPED_TRACE(scenarios[row].name);
        const std::vector<ChannelOutput> reference =
            expectEveryKernelMatchesTheReference(scenarios[row], 1000 + row, bitsOf);
        ASSERT_FALSE(reference.front().times.empty());
    }
}

// Infinities, NaN of both signs, overflowing products and subnormals among the inputs: every
// kernel makes the reference's outputs, each either the same bits or NaN where the reference's
// is. With the tile table's zero coefficients outside a window, a kernel that multiplied them
// in would turn an infinity next to a window into a NaN output.
TEST(KernelEqualityTest, OddInputValuesGiveTheReferenceOutputs) {
    std::vector<Scenario> scenarios = {
        {"2500 to 1000, 16 channels", 1000.0, {{2500.0, 16}}, 0.0, 300, 6000},
        {"1024 to 1000, 17 channels", 1000.0, {{1024.0, 17}}, 0.0, 500, 6000},
        {"1000 to 2000, 3 channels", 2000.0, {{1000.0, 3}}, 0.0, 200, 3000},
        {"1000 to 100, 1 channel", 100.0, {{1000.0, 1}}, 0.0, 700, 20000},
        {"long blocks, 2500 to 1000, 1 channel", 1000.0, {{2500.0, 1}}, 0.0, 3000, 20000, 3000},
    };
    for (size_t row = 0; row < scenarios.size(); ++row) {
        Scenario& scenario = scenarios[row];
        SCOPED_TRACE(scenario.name);
        scenario.oddOneIn = 3000;
        const std::vector<ChannelOutput> reference =
            expectEveryKernelMatchesTheReference(scenario, 2000 + row, bitsWithOneNaN);
        // Not vacuous: NaN reaches some outputs, and most stay finite.
        size_t nan = 0;
        size_t finite = 0;
        size_t all = 0;
        for (const ChannelOutput& channel : reference) {
            for (const double value : channel.values) {
                nan += std::isnan(value) ? 1 : 0;
                finite += std::isfinite(value) ? 1 : 0;
            }
            all += channel.values.size();
        }
        EXPECT_GT(nan, 0u);
        EXPECT_GT(finite, all / 2);
    }
}

// The override selects each kernel the build supports, scalar first; the hold method's copy by
// slot, on each: runs that step by 0 to 3 samples, gaps wider than a vector's window, blocks that
// span up to a byte's offsets and past, and slots up to the last of the source.
TEST(KernelEqualityTest, OverrideSelectsEachKernelAndItsGatherCopiesEverySlot) {
    std::mt19937 random(11);
    std::uniform_int_distribution<int> step(0, 3);
    std::uniform_int_distribution<int> gap(0, 19);
    const uint64_t sourceSize = 509;
    std::vector<double> source(sourceSize);
    for (uint64_t i = 0; i < sourceSize; ++i) {
        source[i] = static_cast<double>(i) + 0.25;
    }
    std::vector<uint64_t> slots;
    for (uint64_t slot = 0; slots.size() < 2000;) {
        slots.push_back(slot);
        slot += gap(random) == 0 ? 17 + static_cast<uint64_t>(step(random)) : step(random);
        slot = slot >= sourceSize ? slot - sourceSize : slot;
    }
    slots.insert(slots.end(), {sourceSize - 3, sourceSize - 2, sourceSize - 2, sourceSize - 1,
                               sourceSize - 1, sourceSize - 1, sourceSize - 1, sourceSize - 1});
    const std::vector<std::string> names = supportedKernelNames();
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.front(), "scalar");
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        KernelOverride override(name);
        ASSERT_STREQ(selectKernel().name, name.c_str());
        std::vector<double> target(slots.size(), -1.0);
        selectGather()(source.data(), sourceSize, slots.data(), slots.size(), target.data());
        for (size_t k = 0; k < slots.size(); ++k) {
            ASSERT_EQ(target[k], source[slots[k]]) << "output " << k << " slot " << slots[k];
        }
        // The planned gather, in runs of odd lengths up to a plan's capacity, with stale
        // entries of the previous run's plan left behind.
        const auto plan = selectGatherPlan();
        const auto planned = selectPlannedGather();
        ASSERT_EQ(plan == nullptr, planned == nullptr);
        if (plan == nullptr) {
            continue;
        }
        std::fill(target.begin(), target.end(), -1.0);
        GatherPlan gatherPlan;
        for (size_t done = 0, run = GatherPlan::kCapacity; done < slots.size(); run = run / 2 + 3) {
            run = std::min<size_t>({run, GatherPlan::kCapacity, slots.size() - done});
            plan(slots.data() + done, run, sourceSize, gatherPlan);
            planned(source.data(), slots.data() + done, run, gatherPlan, target.data() + done);
            done += run;
        }
        for (size_t k = 0; k < slots.size(); ++k) {
            ASSERT_EQ(target[k], source[slots[k]]) << "planned output " << k;
        }
        // Blocks of four that span 255 and 256 inputs, and one that wraps to the source's start.
        const std::vector<uint64_t> wide = {10,  100, 200, 265, 10,  100, 200, 266,
                                            500, 505, 1,   2,   300, 301, 302, 303};
        std::vector<double> wideTarget(wide.size(), -1.0);
        plan(wide.data(), wide.size(), sourceSize, gatherPlan);
        planned(source.data(), wide.data(), wide.size(), gatherPlan, wideTarget.data());
        for (size_t k = 0; k < wide.size(); ++k) {
            ASSERT_EQ(wideTarget[k], source[wide[k]]) << "wide output " << k;
        }
    }
    // A name this build does not know leaves the processor's choice, the widest kernel.
    KernelOverride unknown("no-such-kernel");
    EXPECT_STREQ(selectKernel().name, names.back().c_str());
}

// Every kernel's input stamps are (first + i) * dt + (dt + t0), element by element: for runs of
// every length around the vector widths, from indices past 2^31 (beyond an int32 offset) and
// past 2^53 (where the index itself rounds), and from the start of a run to its end.
TEST(KernelEqualityTest, EveryKernelsStampsAreTheFormulasBits) {
    const double dt = 1.0 / 2500.0;
    const double t0 = 12.345678;
    const uint64_t firsts[] = {0, 7, (uint64_t{1} << 31) + 5, (uint64_t{1} << 53) - 20,
                               (uint64_t{1} << 53) + 3};
    for (const std::string& name : supportedKernelNames()) {
        SCOPED_TRACE(name);
        KernelOverride override(name);
        const auto stampRun = selectStampRun();
        for (const uint64_t first : firsts) {
            for (uint64_t count = 0; count <= 41; ++count) {
                std::vector<double> stamps(count + 1, -1.0);
                stampRun(stamps.data(), first, count, dt, t0);
                for (uint64_t i = 0; i < count; ++i) {
                    const double expected = static_cast<double>(first + i) * dt + (dt + t0);
                    ASSERT_EQ(bitsOf({stamps[i]}), bitsOf({expected}))
                        << "first " << first << " count " << count << " stamp " << i;
                }
                ASSERT_EQ(stamps[count], -1.0) << "written past the run";
            }
        }
    }
}

// The master grid through every kernel's runs is still dt added one time after another: from
// zero, across binade ends, at a large time and with a step halfway between two of its ulps.
TEST(KernelEqualityTest, EveryKernelsGridIsTheSumOfOneStepAfterAnother) {
    const double starts[] = {0.0, 1e-3, 123.456, std::ldexp(1.0, 40) - 3e-3};
    for (const std::string& name : supportedKernelNames()) {
        SCOPED_TRACE(name);
        KernelOverride override(name);
        const auto run = selectGridRun();
        for (const double start : starts) {
            const double ulp = start > 0.0 ? std::nextafter(start, 2.0 * start + 1.0) - start : 0.0;
            for (const double dt : {1.0 / 1000.0, 1.0 / 1024.0, 1.0 / 3.0, 2.5 * ulp}) {
                if (!(dt > 0.0)) {
                    continue;
                }
                double time = start;
                double expected = start;
                for (const uint64_t count : {uint64_t{13}, uint64_t{41}, uint64_t{30000}}) {
                    std::vector<double> grid(count + 1, -1.0);
                    sumGrid(grid.data(), count, time, dt, run);
                    for (uint64_t k = 0; k < count; ++k) {
                        expected = expected + dt;
                        ASSERT_EQ(bitsOf({grid[k]}), bitsOf({expected}))
                            << "start " << start << " dt " << dt << " time " << k;
                    }
                    ASSERT_EQ(grid[count], -1.0) << "written past the pass";
                }
            }
        }
    }
}

// The vector walks against the one-step walk: on stamps that repeat, stand back, or lie exactly
// at the tolerance from a time, and on times that go backwards, every slot a vector walk writes
// and the sample it stops at must be the one-step walk's.
TEST(KernelEqualityTest, VectorWalkStopsWhereTheOneStepWalkDoes) {
    std::mt19937 random(5);
    std::uniform_int_distribution<int> pick(0, 7);
    const double tolerance = 0.25;  // a power of two: sample - time == tolerance is exact
    uint64_t walked = 0;
    for (const std::string& name : supportedKernelNames()) {
        KernelOverride override(name);
        const auto walk = selectWalk();
        for (int round = 0; walk != nullptr && round < 2000; ++round) {
            SCOPED_TRACE(name + " round " + std::to_string(round));
            std::vector<double> stamps(40 + static_cast<size_t>(pick(random)) * 10);
            double stamp = 0.0;
            for (double& s : stamps) {
                const int kind = pick(random);
                stamp += kind == 0 ? 0.0 : kind == 1 ? -0.5 : 0.25 * kind;
                s = stamp;
            }
            std::vector<double> times(100);
            double time = -1.0;
            for (double& t : times) {
                const int kind = pick(random);
                time += kind == 0 ? -2.0 : 0.125 * kind;
                t = kind == 7 ? stamps[static_cast<size_t>(pick(random)) * 4] - tolerance : time;
            }
            const uint64_t end = stamps.size() - 1;
            uint64_t position = static_cast<uint64_t>(pick(random));
            const uint64_t start = position;
            std::vector<uint64_t> slots(times.size());
            const uint64_t done = walk(stamps.data(), end, &position, times.data(), times.size(),
                                       stamp + 100.0, tolerance, slots.data());
            const auto step = [&](uint64_t t, double time) {
                while (t < end &&
                       (tolerance >= std::abs(stamps[t + 1] - time) || time > stamps[t + 1])) {
                    ++t;
                }
                return t;
            };
            uint64_t t = start;
            for (uint64_t n = 0; n < done; ++n) {
                t = step(t, times[n]);
                ASSERT_LT(t, end) << "output " << n;
                ASSERT_EQ(slots[n], t) << "output " << n;
            }
            // It may stop part way through the steps of the next time, never beyond them.
            ASSERT_GE(position, t);
            ASSERT_LE(position, done < times.size() ? step(t, times[done]) : t);
            walked += done;
        }
    }
    if (selectWalk() != nullptr) {
        EXPECT_GT(walked, 10000u);  // the vector path did the walking, not only its fallback
    }
}

}  // namespace
