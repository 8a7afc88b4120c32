#pragma once

#include <cstddef>
#include <vector>

#include "SampleSource.h"

namespace Karvel::Tamlib::Cli {

// One recorded signal held in memory: its registration, its values and, when timestamped, one
// time stamp per value.
struct InputChannel : ChannelInfo {
    std::vector<double> times;
    std::vector<double> values;

    std::size_t size() const { return values.size(); }

    // Time of sample k in seconds; for a synchronous channel the library generates the same
    // times up to rounding, which only matters here for cutting blocks.
    double timeOf(std::size_t k) const {
        if (timing == Timing::Timestamped) {
            return times[k];
        }
        return offsetSeconds + static_cast<double>(k) / samplerateHz;
    }
};

}  // namespace Karvel::Tamlib::Cli
