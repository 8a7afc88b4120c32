#include "BlockCutter.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "CsvReader.h"

namespace Karvel::Tamlib::Cli {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

}  // namespace

BlockCutter::BlockCutter(SampleSource& source, std::vector<int64_t> sampleCounts,
                         std::size_t blockSize)
    : source_(source), blockSize_(blockSize), pending_(sampleCounts.size()) {
    for (std::size_t c = 0; c < pending_.size(); ++c) {
        pending_[c].remaining = sampleCounts[c];
    }
}

bool BlockCutter::readSample() {
    Sample sample;
    if (endOfSource_ || !source_.next(sample)) {
        endOfSource_ = true;
        return false;
    }
    if (sample.channel >= pending_.size()) {
        throw InputError("the input changed while it was read: a new channel");
    }
    Pending& channel = pending_[sample.channel];
    if (static_cast<int64_t>(channel.times.size()) >= channel.remaining) {
        throw InputError("the input changed while it was read: more samples");
    }
    channel.times.push_back(sample.time);
    channel.values.push_back(sample.value);
    newestRead_ = sample.time;
    return true;
}

// The block ends at the smallest candidate: a channel's blockSize-th pending sample, or its last
// one. A candidate not yet read lies at or after the newest sample read, so once the smallest
// known candidate is no later than that, it is the end.
double BlockCutter::blockEnd() {
    while (true) {
        double end = kInfinity;
        bool allKnown = true;
        for (const Pending& channel : pending_) {
            const auto needed = static_cast<std::size_t>(
                std::min<int64_t>(channel.remaining, static_cast<int64_t>(blockSize_)));
            if (needed == 0) {
                continue;
            }
            if (channel.times.size() >= needed) {
                end = std::min(end, channel.times[needed - 1]);
            } else {
                allKnown = false;
            }
        }
        if (allKnown || end <= newestRead_) {
            return end;
        }
        if (!readSample()) {
            throw InputError("the input changed while it was read: fewer samples");
        }
    }
}

bool BlockCutter::next(Block& block) {
    const double end = blockEnd();
    if (end == kInfinity) {
        if (readSample()) {
            throw InputError("the input changed while it was read: more samples");
        }
        return false;
    }
    // Samples at the end time itself may still be unread.
    while (newestRead_ <= end && readSample()) {
    }
    block.times.resize(pending_.size());
    block.values.resize(pending_.size());
    for (std::size_t c = 0; c < pending_.size(); ++c) {
        Pending& channel = pending_[c];
        std::size_t count = 0;
        const std::size_t limit = std::min(channel.times.size(), blockSize_);
        while (count < limit && channel.times[count] <= end) {
            ++count;
        }
        const auto taken = static_cast<std::ptrdiff_t>(count);
        block.times[c].assign(channel.times.begin(), channel.times.begin() + taken);
        block.values[c].assign(channel.values.begin(), channel.values.begin() + taken);
        channel.times.erase(channel.times.begin(), channel.times.begin() + taken);
        channel.values.erase(channel.values.begin(), channel.values.begin() + taken);
        channel.remaining -= static_cast<int64_t>(count);
    }
    return true;
}

}  // namespace Karvel::Tamlib::Cli
