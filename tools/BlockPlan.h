#pragma once

#include <cstddef>
#include <vector>

#include "InputChannel.h"

namespace Karvel::Tamlib::Cli {

// Cuts the channels into blocks that advance in time together, as a host's acquisition would
// deliver them: each block ends at the earliest time by which some channel has delivered
// blockSize further samples, and every channel contributes its samples up to that time (at most
// blockSize). Streaming channels side by side keeps the lag between groups small, which is what
// bounds the rings (see the sizing queries).
class BlockPlan {
public:
    BlockPlan(const std::vector<InputChannel>& channels, std::size_t blockSize);

    std::size_t blockCount() const { return blockEnds_.size(); }
    // Exclusive end index of channel c's samples in block b; block b starts where b - 1 ended.
    std::size_t endOf(std::size_t block, std::size_t channel) const {
        return blockEnds_[block][channel];
    }
    std::size_t beginOf(std::size_t block, std::size_t channel) const {
        return block == 0 ? 0 : blockEnds_[block - 1][channel];
    }

    // The newest time stamp of all channels: where the recording ends.
    double endTime() const { return endTime_; }

    // Longest stretch of time that one block adds, counting the first block from gridStart.
    double longestBlockSeconds(double gridStart) const;

    // Longest time a channel goes without a sample between gridStart and endTime(): before its
    // first sample, between two samples, or after its last one. While a channel is silent its
    // group reads no output times, so the output ring must hold them all.
    struct Silence {
        double seconds = 0.0;
        std::size_t channel = 0;
    };
    Silence longestSilence(double gridStart) const;

    // Most samples of one channel that lie before gridStart + windowSeconds, or inside any
    // window of windowSeconds: what may still wait in an input ring after a calculation.
    std::size_t mostSamplesWaiting(double gridStart, double windowSeconds) const;

private:
    const std::vector<InputChannel>& channels_;
    std::vector<std::vector<std::size_t>> blockEnds_;
    std::vector<double> blockEndTimes_;
    double endTime_ = 0.0;
};

}  // namespace Karvel::Tamlib::Cli
