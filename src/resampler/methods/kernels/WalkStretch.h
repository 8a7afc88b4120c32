#pragma once

// The vector walk of the hold and linear methods (see WalkFunction), for the translation units
// of the instruction sets that have one.

#include <algorithm>
#include <cstdint>

namespace Karvel::Tamlib::Resampler::Kernels {
namespace {

// Up to W::kGroupTimes consecutive times (four or eight) against one window of twice as many
// samples from `t` + 1 on, each time tested on its own, so that neither the loads nor the tests
// wait on the steps of the time before: the walk waits on the window's load once per group. A
// time's steps end at the first sample of the window that does not belong to it, unless the time
// before went further: the times that move the walk on rise, so where this time leaves out a sample
// that an earlier one took, it leaves out every sample after those taken too. The group ends before
// a time whose run may go past the window, or that is not before `newest`. Returns how many slots
// it wrote.
template <class W>
uint64_t walkGroup(const double* inputTimes, uint64_t& t, const double* times, double newest,
                   double tolerance, uint64_t* slots) {
    constexpr uint64_t kTimes = W::kGroupTimes;
    constexpr uint64_t kWindow = 2 * kTimes;
    const auto window = [&] {
        if constexpr (kTimes == 8) {
            return W::load(inputTimes + t + 1);
        } else {
            static_assert(kTimes == 4, "groups of four or eight times");
            return W::loadNarrow(inputTimes + t + 1);
        }
    }();
    uint32_t masks[kTimes];
    for (uint64_t j = 0; j < kTimes; ++j) {
        masks[j] = W::belongs(window, times[j], tolerance);
    }
    uint64_t reached = t;
    uint64_t n = 0;
    for (; n < kTimes; ++n) {
        const auto run = static_cast<uint64_t>(__builtin_ctz(~masks[n]));
        if (run >= kWindow || !(newest > times[n])) {
            break;
        }
        reached = std::max(reached, t + run);
        slots[n] = reached;
    }
    t = reached;
    return n;
}

// For each time the samples of a window of 16 are tested at once, off the chain of steps from one
// time to the next: the steps are the run of belonging samples after the one reached, counted from
// the window's mask, so no branch waits on the irregular stamps. The window moves on by half its
// length once half of it is passed: its loads then depend on the predicted branch, not on the
// steps.
template <class W>
uint64_t slidingWalk(const double* inputTimes, uint64_t end, uint64_t* position,
                     const double* times, uint64_t count, double newest, double tolerance,
                     uint64_t* slots) {
    constexpr uint64_t kWindow = 16;
    uint64_t t = *position;
    uint64_t n = 0;
    if (end - t >= kWindow && tolerance >= 0.0) {
        uint64_t base = t;
        typename W::Window window = W::load(inputTimes + base + 1);
        while (n < count) {
            const double time = times[n];
            if (!(newest > time)) {
                break;
            }
            // Bit i: sample base + 1 + i belongs. The steps from t end at its first clear bit
            // after t, or at the window's end. Where the belonging samples are the first ones
            // of the window (sorted stamps), that is where their run ends, unless t is past it:
            // the next time's steps then wait on t only through a maximum.
            const uint32_t mask = W::belongs(window, time, tolerance);
            const auto run = static_cast<uint64_t>(__builtin_ctz(~mask));
            if ((mask & (mask + 1)) == 0) {
                t = std::max(t, base + run);
            } else {
                t += static_cast<uint64_t>(__builtin_ctz(~(mask >> (t - base))));
            }
            if (t - base >= kWindow / 2) {
                // Every sample to the window's end belongs: the same time goes on from there.
                const bool exhausted = t - base == kWindow;
                base += kWindow / 2;
                if (end - base < kWindow) {
                    if (!exhausted) {
                        slots[n++] = t;
                    }
                    break;
                }
                window = W::load(inputTimes + base + 1);
                if (exhausted) {
                    continue;
                }
            }
            slots[n++] = t;
        }
    }
    *position = t;
    return n;
}

// The walk of the hold and linear methods (see WalkFunction). Where the input advances by about
// a sample per time or less, W::kGroupTimes times go at once (walkGroup), and the sliding window
// takes the times around a group that stopped short; else the sliding window takes them all.
// W::load(p) and W::loadNarrow(p) read the times p[0..15] and p[0..7], W::belongs(window, time,
// tolerance) gives their mask for a tolerance of 0 or more; any other leaves every time to the
// scalar walk.
template <class W>
uint64_t walkStretch(const double* inputTimes, uint64_t end, uint64_t* position,
                     const double* times, uint64_t count, double newest, double tolerance,
                     uint64_t* slots) {
    constexpr uint64_t kWindow = 16;
    // After a group that stopped short, this many times go by the sliding window.
    constexpr uint64_t kSlidingTimes = 8;
    const uint64_t t = *position;
    if (count < W::kGroupTimes || end - t < kWindow || !(tolerance >= 0.0)) {
        return slidingWalk<W>(inputTimes, end, position, times, count, newest, tolerance, slots);
    }
    // A group's times span less than about one and a half samples each, judged from the mean
    // step of the times and of the first samples: inputs of a higher rate rarely fit a group
    // into its window.
    const double outputStep = (times[count - 1] - times[0]) / static_cast<double>(count);
    const double inputStep = (inputTimes[t + 8] - inputTimes[t]) / 8.0;
    if (!(outputStep < 1.5 * inputStep)) {
        return slidingWalk<W>(inputTimes, end, position, times, count, newest, tolerance, slots);
    }
    uint64_t n = 0;
    while (n < count) {
        if (n + W::kGroupTimes <= count && end - *position >= kWindow) {
            const uint64_t grouped =
                walkGroup<W>(inputTimes, *position, times + n, newest, tolerance, slots + n);
            n += grouped;
            if (grouped == W::kGroupTimes) {
                continue;
            }
        }
        const uint64_t asked = std::min(kSlidingTimes, count - n);
        const uint64_t done = slidingWalk<W>(inputTimes, end, position, times + n, asked, newest,
                                             tolerance, slots + n);
        n += done;
        if (done < asked) {
            break;
        }
    }
    return n;
}

}  // namespace
}  // namespace Karvel::Tamlib::Resampler::Kernels
