#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace Karvel::Tamlib::Cli {

// Bounds, found in one pass over the samples in time order, on what the blocks of a BlockCutter
// will need from the rings, without keeping the recording: the longest stretch of time one
// block adds, and the most samples of a channel that wait in an input ring after a calculation.
// Memory: the newest blockSize stamps of each channel and the stamps within one wait window.
class BlockBounds {
public:
    // gridStart: the first output time as far as it is known before the first sample.
    BlockBounds(std::size_t blockSize, double waitWindowSeconds, double gridStart);

    // A registration that moves the first output time later; call it before the sample that
    // caused it.
    void raiseGridStart(double gridStart);
    void add(std::size_t channel, double time);
    void finish(double endTime);

    // At least the longest stretch of time that one block adds, the first counted from the grid
    // start: a block that starts after time T ends at the latest when some channel has
    // delivered blockSize samples after T.
    double longestBlockSeconds() const { return longestBlockSeconds_; }
    // Most samples of one channel before gridStart + window, or within any window.
    std::size_t mostSamplesWaiting() const { return mostSamplesWaiting_; }

private:
    struct Channel {
        std::deque<double> newest;  // the last blockSize stamps
        std::deque<double> inWindow;
        std::size_t count = 0;
    };

    std::size_t blockSize_;
    double windowSeconds_;
    double gridStart_;
    std::vector<Channel> channels_;
    // Sample times after which no channel has delivered blockSize samples yet: where a block
    // could start whose end is still open.
    std::deque<double> openStarts_;
    bool firstBlockClosed_ = false;
    double firstBlockEnd_ = 0.0;
    double longestBlockSeconds_ = 0.0;
    std::size_t mostSamplesWaiting_ = 0;
};

}  // namespace Karvel::Tamlib::Cli
