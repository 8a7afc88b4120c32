#include "BlockPlan.h"

#include <algorithm>
#include <limits>

namespace Karvel::Tamlib::Cli {

BlockPlan::BlockPlan(const std::vector<InputChannel>& channels, std::size_t blockSize)
    : channels_(channels) {
    endTime_ = -std::numeric_limits<double>::infinity();
    for (const InputChannel& channel : channels) {
        if (channel.size() > 0) {
            endTime_ = std::max(endTime_, channel.timeOf(channel.size() - 1));
        }
    }

    std::vector<std::size_t> cursor(channels.size(), 0);
    while (true) {
        double blockEnd = std::numeric_limits<double>::infinity();
        for (std::size_t c = 0; c < channels.size(); ++c) {
            const std::size_t remaining = channels[c].size() - cursor[c];
            if (remaining > 0) {
                const std::size_t last = cursor[c] + std::min(remaining, blockSize) - 1;
                blockEnd = std::min(blockEnd, channels[c].timeOf(last));
            }
        }
        if (blockEnd == std::numeric_limits<double>::infinity()) {
            break;
        }
        for (std::size_t c = 0; c < channels.size(); ++c) {
            const std::size_t limit = std::min(channels[c].size(), cursor[c] + blockSize);
            while (cursor[c] < limit && channels[c].timeOf(cursor[c]) <= blockEnd) {
                ++cursor[c];
            }
        }
        blockEnds_.push_back(cursor);
        blockEndTimes_.push_back(blockEnd);
    }
}

double BlockPlan::longestBlockSeconds(double gridStart) const {
    double longest = 0.0;
    double previousEnd = gridStart;
    for (double blockEnd : blockEndTimes_) {
        longest = std::max(longest, blockEnd - previousEnd);
        previousEnd = std::max(previousEnd, blockEnd);
    }
    return longest;
}

BlockPlan::Silence BlockPlan::longestSilence(double gridStart) const {
    Silence longest;
    const auto consider = [&](double seconds, std::size_t channel) {
        if (seconds > longest.seconds) {
            longest = {seconds, channel};
        }
    };
    for (std::size_t c = 0; c < channels_.size(); ++c) {
        const InputChannel& channel = channels_[c];
        if (channel.size() == 0) {
            consider(endTime_ - gridStart, c);
            continue;
        }
        consider(channel.timeOf(0) - gridStart, c);
        for (std::size_t k = 1; k < channel.size(); ++k) {
            consider(channel.timeOf(k) - channel.timeOf(k - 1), c);
        }
        consider(endTime_ - channel.timeOf(channel.size() - 1), c);
    }
    return longest;
}

std::size_t BlockPlan::mostSamplesWaiting(double gridStart, double windowSeconds) const {
    std::size_t most = 0;
    for (const InputChannel& channel : channels_) {
        std::size_t first = 0;
        for (std::size_t k = 0; k < channel.size(); ++k) {
            const double t = channel.timeOf(k);
            if (t < gridStart + windowSeconds) {
                most = std::max(most, k + 1);
            }
            while (channel.timeOf(first) < t - windowSeconds) {
                ++first;
            }
            most = std::max(most, k - first + 1);
        }
    }
    return most;
}

}  // namespace Karvel::Tamlib::Cli
