#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "resampler/Resampler.h"

namespace Karvel::Tamlib::Resampler {

template <typename WriteValues>
void Resampler::walkMasterTimes(ResamplerChannelGroup& group, Kernels::WalkFunction walk,
                                WriteValues writeValues) {
    group.skipOverwrittenInput();
    if (group.getPendingCount() < 2) {
        return;
    }
    uint64_t available = masterTimesAvailable(group);
    if (available == 0) {
        return;
    }
    const double newest = newestMasterTime();
    double time = masterTimes[group.getMasterTimesReadIndex()];
    if (!(newest > time)) {
        return;
    }
    // The ring positions live in locals for the walk and go back to the group at its end, so
    // that no step waits on a store to the group.
    const double tolerance = epsilon;
    const uint64_t inputSize = group.getInputBufferSize();
    const uint64_t masterSize = masterTimes.size();
    const double* inputTimes = group.inputTimeRing().data();
    const double* master = masterTimes.data();
    uint64_t read = group.getInputReadIndex();
    uint64_t pending = group.getPendingCount();
    uint64_t masterIndex = group.getMasterTimesReadIndex();
    uint64_t produced = 0;
    constexpr uint64_t kWalkChunk = 256;
    uint64_t slots[kWalkChunk];
    // A sample belongs to an output at `time` when it lies not more than epsilon after it; the
    // input is consumed while its next sample belongs.
    const auto belongs = [tolerance](double sampleTime, double time) {
        return tolerance >= std::abs(sampleTime - time) || time > sampleTime;
    };
    for (;;) {
        // A stretch in which neither ring wraps: the input may step up to `end`, the end of the
        // ring or the newest sample that keeps a stored successor, without further checks.
        const double* const first = inputTimes + read;
        const double* const end = inputTimes + std::min(inputSize - 1, read + (pending - 1));
        const double* t = first;
        const uint64_t run = std::min(available, masterSize - masterIndex);
        const double* times = master + masterIndex;
        uint64_t n = 0;
        bool stalled = false;
        bool finished = false;
        while (n < run) {
            if (walk != nullptr) {
                // As many outputs as the vector walk takes, then one step at a time for the one
                // it left (near the stretch's end or the newest master time).
                uint64_t position = static_cast<uint64_t>(t - inputTimes);
                const uint64_t chunk = std::min<uint64_t>(run - n, kWalkChunk);
                const uint64_t done = walk(inputTimes, static_cast<uint64_t>(end - inputTimes),
                                           &position, times + n, chunk, newest, tolerance, slots);
                t = inputTimes + position;
                for (uint64_t k = 0; k < done; ++k) {
                    writeValues(times[n + k], slots[k]);
                }
                n += done;
                if (done == chunk) {
                    continue;
                }
            }
            time = times[n];
            while (t < end && belongs(t[1], time)) {
                ++t;
            }
            if (t == end) {
                stalled = true;
                break;
            }
            writeValues(time, static_cast<uint64_t>(t - inputTimes));
            ++n;
            if (!(newest > time)) {
                finished = true;
                break;
            }
        }
        const auto stepped = static_cast<uint64_t>(t - first);
        read += stepped;
        pending -= stepped;
        produced += n;
        available -= n;
        masterIndex += n;
        masterIndex = masterIndex >= masterSize ? 0 : masterIndex;
        if (finished || available == 0) {
            break;
        }
        if (!stalled) {
            continue;
        }
        // At the end of the stretch: the output of this time goes on one step at a time,
        // wrapping around the input ring, until its sample is found or the input runs out.
        time = master[masterIndex];
        while (pending >= 2) {
            const uint64_t next = read + 1 >= inputSize ? 0 : read + 1;
            if (!belongs(inputTimes[next], time)) {
                break;
            }
            read = next;
            --pending;
        }
        if (pending < 2) {
            break;
        }
        writeValues(time, read);
        masterIndex = masterIndex + 1 >= masterSize ? 0 : masterIndex + 1;
        ++produced;
        --available;
        if (!(newest > time) || available == 0) {
            break;
        }
    }
    group.setInputCursor(read, pending);
    group.takeMasterTimes(masterTimes, produced);
}

}  // namespace Karvel::Tamlib::Resampler
