#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Karvel::Tamlib::Cli {

// One recorded signal as a host holds it before streaming: its values, and either a fixed rate
// (synchronous) or one time stamp per value (timestamped).
struct InputChannel {
    enum class Timing { Synchronous, Timestamped };

    std::string name;
    Timing timing = Timing::Timestamped;
    double samplerateHz = 0.0;        // synchronous only
    double offsetSeconds = 0.0;       // synchronous only: time of the first sample
    int64_t declaredSampleCount = 0;  // given at registration; 0 means unknown
    std::vector<double> times;        // timestamped only, seconds, one per value
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
