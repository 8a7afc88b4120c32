#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "BlockBounds.h"
#include "GridWriter.h"
#include "Options.h"
#include "RecordingSurvey.h"
#include "SampleSource.h"

namespace Karvel::Tamlib::Cli {

// Drives one resampler through the public C interface the way a streaming host does: set the
// parameters, register every channel, initialize, then per block add values (and time stamps),
// calculate and read back counts, times and values; at the end noMoreDataToAdd and a last
// calculate. It reads the recording twice: a survey first, which learns the channels and sizes
// the rings so that no unread entry is ever overwritten, then the stream itself. Neither pass
// keeps the recording, so memory follows the block size and the channel count, not the length.
class ResampleJob {
public:
    using PassOpener = std::function<std::unique_ptr<SampleSource>()>;

    // openPass opens the recording at its first sample. Without --offset the grid starts at the
    // earliest time stamp when offsetFromEarliestStamp is set, at 0 otherwise.
    ResampleJob(const Options& options, PassOpener openPass, bool offsetFromEarliestStamp);

    // Writes the wide CSV to out as the rows complete, one note per estimated nominal rate to
    // log.
    void run(std::ostream& out, std::ostream& log);

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

    void survey();
    void planRegistrations(std::string& notes);
    double gridStart() const;
    RingSizes ringSizes() const;
    void stream(void* resampler, uint64_t outputRing, GridWriter& writer);
    void readOutputs(void* resampler, const std::vector<void*>& handles, uint64_t outputRing,
                     GridWriter& writer);
    bool isAliasFree() const { return options_.method == Options::Method::AliasFree; }

    Options options_;
    PassOpener openPass_;
    bool offsetFromEarliestStamp_;
    double offsetSeconds_ = 0.0;     // the grid offset handed to the resampler
    double timeShiftSeconds_ = 0.0;  // subtracted from every time handed to the resampler
    std::vector<ChannelInfo> channels_;
    RecordingSurvey survey_;
    BlockBounds bounds_;
    std::vector<Registration> registrations_;
    std::vector<std::vector<std::size_t>> groups_;  // channel indices, as the library groups them
};

}  // namespace Karvel::Tamlib::Cli
