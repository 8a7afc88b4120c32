#include "BlockBounds.h"

#include <algorithm>

namespace Karvel::Tamlib::Cli {

BlockBounds::BlockBounds(std::size_t blockSize, double waitWindowSeconds, double gridStart)
    : blockSize_(blockSize), windowSeconds_(waitWindowSeconds), gridStart_(gridStart) {}

void BlockBounds::raiseGridStart(double gridStart) {
    if (!(gridStart > gridStart_)) {
        return;
    }
    gridStart_ = gridStart;
    // Every sample so far lies at or before the new start, so all of them wait for it.
    for (const Channel& channel : channels_) {
        mostSamplesWaiting_ = std::max(mostSamplesWaiting_, channel.count);
    }
}

void BlockBounds::add(std::size_t c, double time) {
    if (c >= channels_.size()) {
        channels_.resize(c + 1);
    }
    Channel& channel = channels_[c];
    ++channel.count;

    channel.inWindow.push_back(time);
    while (channel.inWindow.front() < time - windowSeconds_) {
        channel.inWindow.pop_front();
    }
    mostSamplesWaiting_ = std::max(mostSamplesWaiting_, channel.inWindow.size());
    if (time < gridStart_ + windowSeconds_) {
        mostSamplesWaiting_ = std::max(mostSamplesWaiting_, channel.count);
    }

    channel.newest.push_back(time);
    if (channel.newest.size() > blockSize_) {
        channel.newest.pop_front();
    }
    if (channel.newest.size() == blockSize_) {
        if (!firstBlockClosed_) {
            firstBlockClosed_ = true;
            firstBlockEnd_ = time;
        }
        // This sample is the blockSize-th after every open start before the oldest of them.
        while (!openStarts_.empty() && openStarts_.front() < channel.newest.front()) {
            longestBlockSeconds_ = std::max(longestBlockSeconds_, time - openStarts_.front());
            openStarts_.pop_front();
        }
    }
    if (openStarts_.empty() || openStarts_.back() != time) {
        openStarts_.push_back(time);
    }
}

void BlockBounds::finish(double endTime) {
    // Blocks still open end with the recording at the latest.
    for (double start : openStarts_) {
        longestBlockSeconds_ = std::max(longestBlockSeconds_, endTime - start);
    }
    openStarts_.clear();
    const double firstEnd = firstBlockClosed_ ? firstBlockEnd_ : endTime;
    longestBlockSeconds_ = std::max(longestBlockSeconds_, firstEnd - gridStart_);
}

}  // namespace Karvel::Tamlib::Cli
