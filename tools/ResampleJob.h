#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "BlockPlan.h"
#include "GridWriter.h"
#include "InputChannel.h"
#include "Options.h"

namespace Karvel::Tamlib::Cli {

// Drives one resampler through the public C interface the way a streaming host does: set the
// parameters, register every channel, initialize, then per block add values (and time stamps),
// calculate and read back counts, times and values; at the end noMoreDataToAdd and a last
// calculate. The rings are sized from the data so that no unread entry is ever overwritten.
class ResampleJob {
public:
    // offsetSeconds is the resolved --offset (the earliest time stamp of a file by default).
    ResampleJob(const Options& options, double offsetSeconds, std::vector<InputChannel> channels);

    // Streams the whole input; rows go to writer, one note per estimated nominal rate to log.
    void run(GridWriter& writer, std::ostream& log);

    const std::vector<InputChannel>& channels() const { return channels_; }

private:
    struct Registration {
        double samplerateHz = 0.0;  // the rate registered, nominal for timestamped channels
        double offsetSeconds = 0.0;
        bool hasRate = false;  // false: addAsyncChannel, a group of its own
        std::size_t group = 0;
    };
    struct RingSizes {
        uint64_t input = 0;
        uint64_t output = 0;
    };

    void measureTimeFromFirstSample();
    void planRegistrations(std::string& notes);
    double gridStart() const;
    RingSizes ringSizes(const BlockPlan& plan) const;
    void stream(void* resampler, const BlockPlan& plan, uint64_t outputRing, GridWriter& writer);
    void readOutputs(void* resampler, const std::vector<void*>& handles, uint64_t outputRing,
                     GridWriter& writer);

    Options options_;
    double offsetSeconds_;
    double timeShiftSeconds_ = 0.0;  // subtracted from every time handed to the resampler
    std::vector<InputChannel> channels_;
    std::vector<Registration> registrations_;
    std::vector<std::vector<std::size_t>> groups_;  // channel indices, as the library groups them
};

}  // namespace Karvel::Tamlib::Cli
