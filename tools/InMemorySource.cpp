#include "InMemorySource.h"

namespace Karvel::Tamlib::Cli {

InMemorySource::InMemorySource(const std::vector<InputChannel>& channels)
    : channels_(channels), infos_(channels.begin(), channels.end()), cursors_(channels.size(), 0) {}

bool InMemorySource::next(Sample& sample) {
    std::size_t earliest = channels_.size();
    double earliestTime = 0.0;
    for (std::size_t c = 0; c < channels_.size(); ++c) {
        if (cursors_[c] < channels_[c].size()) {
            const double time = channels_[c].timeOf(cursors_[c]);
            if (earliest == channels_.size() || time < earliestTime) {
                earliest = c;
                earliestTime = time;
            }
        }
    }
    if (earliest == channels_.size()) {
        return false;
    }
    const std::size_t k = cursors_[earliest]++;
    sample = {earliest, earliestTime, channels_[earliest].values[k]};
    return true;
}

}  // namespace Karvel::Tamlib::Cli
