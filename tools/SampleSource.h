#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Karvel::Tamlib::Cli {

// How a channel is registered: either a fixed rate (synchronous, the library generates its
// times) or one time stamp per value (timestamped).
struct ChannelInfo {
    enum class Timing { Synchronous, Timestamped };

    std::string name;
    Timing timing = Timing::Timestamped;
    double samplerateHz = 0.0;        // synchronous only
    double offsetSeconds = 0.0;       // synchronous only: time of the first sample
    int64_t declaredSampleCount = 0;  // synchronous only; 0 means unknown
};

// One value of one channel at its time in seconds (for a synchronous channel the time its rate
// gives, which only serves to cut blocks).
struct Sample {
    std::size_t channel = 0;
    double time = 0.0;
    double value = 0.0;
};

// A recording read once from front to back. Samples come in time order (equal times in any
// order); a long-format CSV names a channel only when its first row comes, so channels() grows
// during the pass.
class SampleSource {
public:
    virtual ~SampleSource() = default;
    // false at the end of the recording.
    virtual bool next(Sample& sample) = 0;
    virtual const std::vector<ChannelInfo>& channels() const = 0;
};

}  // namespace Karvel::Tamlib::Cli
