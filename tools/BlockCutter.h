#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <vector>

#include "SampleSource.h"

namespace Karvel::Tamlib::Cli {

// Cuts a recording read in time order into blocks that advance in time together, as a host's
// acquisition would deliver them: each block ends at the earliest time by which some channel
// has delivered blockSize further samples (or its last one), and every channel contributes its
// samples up to that time, at most blockSize. Streaming channels side by side keeps the lag
// between groups small, which is what bounds the rings.
//
// Knowing each channel's sample count from a first pass, the cutter reads only as far as the
// block needs: about blockSize samples per channel are held at a time.
class BlockCutter {
public:
    struct Block {
        std::vector<std::vector<double>> times;  // per channel
        std::vector<std::vector<double>> values;
    };

    BlockCutter(SampleSource& source, std::vector<int64_t> sampleCounts, std::size_t blockSize);

    // false once every sample has been handed out.
    bool next(Block& block);

private:
    struct Pending {
        std::deque<double> times;
        std::deque<double> values;
        int64_t remaining = 0;  // samples not yet handed out, read or not
    };

    bool readSample();
    double blockEnd();

    SampleSource& source_;
    std::size_t blockSize_;
    std::vector<Pending> pending_;
    double newestRead_ = -std::numeric_limits<double>::infinity();
    bool endOfSource_ = false;
};

}  // namespace Karvel::Tamlib::Cli
