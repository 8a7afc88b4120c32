#pragma once

// How a channel-lane batch's window rows get from the input rings into its history (LaneFeed):
// in runs by the kernel's transposes, and in copy steps inside the tiles' row loops. Included by
// PolyphaseLanes.h in each kernel's unit, with internal linkage for the same reason.

#include <emmintrin.h>
#include <algorithm>
#include <cstdint>

#include "resampler/methods/kernels/PolyphaseKernel.h"

namespace Karvel::Tamlib::Resampler::Kernels {
namespace {

// `rows` samples of `channels` arrays into rows of `stride` doubles, the padding columns zeroed:
// square tiles of V::tile doubles are transposed in registers, the edges go one by one.
template <class V>
void interleaveLanes(const double* const* sources, uint64_t channels, uint64_t rows,
                     double* history, uint64_t stride) {
    constexpr uint64_t tile = V::tile;
    const uint64_t tiledChannels = channels - channels % tile;
    const uint64_t tiledRows = rows - rows % tile;
    for (uint64_t r = 0; r < tiledRows; r += tile) {
        for (uint64_t c = 0; c < tiledChannels; c += tile) {
            const double* in[tile];
            double* out[tile];
            for (uint64_t i = 0; i < tile; ++i) {
                in[i] = sources[c + i] + r;
                out[i] = history + (r + i) * stride + c;
            }
            V::transposeTile(in, out);
        }
    }
    // The edges: the channels past the last whole tile of every tiled row (with the padding
    // columns), then every column of the rows past the last whole tile. A row loop that does
    // nothing costs as much as a tile's transposes, so it runs only where there are edges.
    if (tiledChannels < stride) {
        for (uint64_t r = 0; r < tiledRows; ++r) {
            double* row = history + r * stride;
            for (uint64_t c = tiledChannels; c < channels; ++c) {
                row[c] = sources[c][r];
            }
            for (uint64_t c = channels; c < stride; ++c) {
                row[c] = 0.0;
            }
        }
    }
    for (uint64_t r = tiledRows; r < rows; ++r) {
        double* row = history + r * stride;
        for (uint64_t c = 0; c < channels; ++c) {
            row[c] = sources[c][r];
        }
        for (uint64_t c = channels; c < stride; ++c) {
            row[c] = 0.0;
        }
    }
}

// A LaneFeed moves eight rows of one column per step of a row loop.
constexpr uint64_t kFeedRows = 8;

// The slot of row `row` of lane c: below three ring sizes before the wrap, since the slot, the
// lane's shift and the row are each below one.
inline uint64_t laneSlot(const LaneFeed& feed, uint64_t c, uint64_t row) {
    uint64_t at = feed.slot + row + (feed.shifts != nullptr ? feed.shifts[c] : 0);
    at -= at >= feed.size ? feed.size : 0;
    at -= at >= feed.size ? feed.size : 0;
    return at;
}

// The address in the host's next block that slot `at` of lane c's ring maps to, one block on.
inline uintptr_t aheadAddress(const LaneFeed& feed, uint64_t c, uint64_t at) {
    const uint64_t older = at >= feed.aheadWrites[c] ? feed.size : 0;
    return feed.aheadOrigins[c] + sizeof(double) * (at - older);
}

// Points the bases at row `ready` of every lane, up to the first lane's wrap.
inline void placeLanes(LaneFeed& feed) {
    feed.placed = feed.ready;
    feed.unwrapped = feed.rows;
    for (uint64_t c = 0; c < feed.channels; ++c) {
        const uint64_t at = laneSlot(feed, c, feed.ready);
        feed.bases[c] = feed.rings[c] + at;
        if (feed.aheadOrigins != nullptr) {
            feed.aheads[c] = aheadAddress(feed, c, at);
        }
        feed.unwrapped = std::min(feed.unwrapped, feed.ready + feed.size - at);
    }
}

// The copy steps of one row loop: eight rows of one lane each, from the rings straight into the
// target through one 16-byte register, so that the loop's other vector registers stay with its
// sums.
// `available` steps can be taken before a ring wraps or the batch's rows end; the callers bound
// their loops by it.
struct FeedSteps {
    const double* const* bases;
    const uintptr_t* aheads;
    uint64_t channels;
    uint64_t row;
    uint64_t column;
    double* target;
    uint64_t available;

    FeedSteps(LaneFeed& feed, uint64_t stride) {
        if (feed.ready + kFeedRows > feed.unwrapped) {
            placeLanes(feed);
        }
        bases = feed.bases;
        aheads = feed.aheads;
        channels = feed.channels;
        column = feed.column;
        row = feed.ready - feed.placed;
        target = feed.target + feed.ready * stride + column;
        const uint64_t groups =
            feed.unwrapped > feed.ready ? (feed.unwrapped - feed.ready) / kFeedRows : 0;
        available = groups > 0 ? groups * channels - column : 0;
    }

    // Stride: a uint64_t, or a constant that folds the stores' offsets into their addressing.
    // Ahead: the feed has aheads, and the step prefetches the line of the host's next block that
    // this step's rows map to instead of the ring's.
    template <bool Ahead, class Stride>
    [[gnu::always_inline]] void step(Stride stride) {
        const double* source = bases[column] + row;
        if constexpr (Ahead) {
            // Into the second-level cache: the next addData is a whole pass away. One prefetch
            // per step: each costs the row loop as much as a load.
            __builtin_prefetch(reinterpret_cast<const void*>(aheads[column] + sizeof(double) * row),
                               0, 2);
        } else {
            // The same lane's line two groups of rows on, which its step reaches 2 * channels
            // steps later: +1 % to +2.5 % on the 16-channel streams.
            __builtin_prefetch(source + 2 * kFeedRows);
        }
        // Two rows per load, whose halves are stored apart: each load or store of a step costs
        // the row loop about a third of a cycle, whatever its width or target. The empty asm
        // keeps g++ from splitting the load back into two.
        for (uint64_t i = 0; i < kFeedRows; i += 2) {
            __m128d pair = _mm_loadu_pd(source + i);
            asm("" : "+x"(pair));
            _mm_storel_pd(target + i * stride, pair);
            _mm_storeh_pd(target + (i + 1) * stride, pair);
        }
        // Without a branch, which would cost the loop its registers.
        ++column;
        const bool wraps = column == channels;
        column = wraps ? 0 : column;
        row += wraps ? kFeedRows : 0;
        target += wraps ? kFeedRows * stride - channels + 1 : 1;
    }

    // Back into the feed after `steps` steps.
    void settle(LaneFeed& feed, uint64_t steps) const {
        const uint64_t done = feed.column + steps;
        feed.ready += done / channels * kFeedRows;
        feed.column = done % channels;
    }
};

// Every row before `need` in place: the rest of a started group of eight rows lane by lane, then
// whole runs by the kernel's transposes, in runs that end where a ring wraps.
template <class V>
void feedUntil(LaneFeed& feed, uint64_t need, uint64_t stride) {
    need = std::min(need, feed.rows);
    if (feed.ready >= need) {
        return;
    }
    if (feed.column != 0) {
        // A started group of eight rows never passes a ring's end or the last row.
        FeedSteps steps(feed, stride);
        const uint64_t rest = feed.channels - feed.column;
        for (uint64_t i = 0; i < rest; ++i) {
            steps.step<false>(stride);
        }
        steps.settle(feed, rest);
    }
    const uint64_t end = std::min(feed.rows, (need + kFeedRows - 1) / kFeedRows * kFeedRows);
    while (feed.ready < end) {
        uint64_t run = end - feed.ready;
        for (uint64_t c = 0; c < feed.channels; ++c) {
            const uint64_t at = laneSlot(feed, c, feed.ready);
            feed.cursors[c] = feed.rings[c] + at;
            run = std::min(run, feed.size - at);
        }
        interleaveLanes<V>(feed.cursors, feed.channels, run, feed.target + feed.ready * stride,
                           stride);
        feed.ready += run;
    }
}

// The lines of the host's next blocks that the rows of every lane map to.
inline uint64_t aheadLinesOf(const LaneFeed& feed) {
    return (feed.rows + kFeedRows - 1) / kFeedRows * feed.channels;
}

// For a batch whose rows went in before the tiles: prefetches the next line of the host's next
// blocks, in the order the copy steps would have taken them; the caller checks that one is left.
[[gnu::always_inline]] inline void prefetchNextLine(LaneFeed& feed) {
    const uint64_t c = feed.aheadColumn;
    const uintptr_t line = aheadAddress(feed, c, laneSlot(feed, c, feed.aheadRow));
    __builtin_prefetch(reinterpret_cast<const void*>(line), 0, 2);
    const bool wraps = ++feed.aheadColumn == feed.channels;
    feed.aheadColumn = wraps ? 0 : feed.aheadColumn;
    feed.aheadRow += wraps ? kFeedRows : 0;
}

// The lines prefetchNextLine has taken.
inline uint64_t aheadLinesDone(const LaneFeed& feed) {
    return feed.aheadRow / kFeedRows * feed.channels + feed.aheadColumn;
}

inline uint64_t aheadLinesLeft(const LaneFeed& feed) {
    const uint64_t done = aheadLinesDone(feed);
    const uint64_t lines = aheadLinesOf(feed);
    return lines > done ? lines - done : 0;
}

// Between tiles: the lines up to the first `lines` of them.
inline void prefetchUntil(LaneFeed& feed, uint64_t lines) {
    lines = std::min(lines, aheadLinesOf(feed));
    for (uint64_t done = aheadLinesDone(feed); done < lines; ++done) {
        prefetchNextLine(feed);
    }
}

// Whether the row loops of a fed batch copy its rows: where its steps copy, no padding columns
// need their zeros and the batch's rows take more than the vector type's rowLoopFeedBytes.
// Otherwise every row goes in before the tiles.
template <class V>
bool rowLoopsFeed(const PolyphaseBatch& batch) {
    return batch.feed != nullptr && batch.feed->rowSteps == RowSteps::Copy &&
           batch.feed->channels == batch.stride &&
           batch.feed->rows * batch.stride * sizeof(double) > V::rowLoopFeedBytes;
}

// Whether the row loops of a batch whose rows went in before the tiles prefetch the host's next
// blocks, one line per step (bursts between the tiles lost there). Channel lanes only, as
// between the tiles.
template <class V>
bool rowLoopsPrefetch(const PolyphaseBatch& batch) {
    return V::rowLoopFeedBytes != kNoRowLoopFeed && batch.feed != nullptr &&
           batch.feed->rowSteps == RowSteps::Prefetch && batch.feed->aheadOrigins != nullptr &&
           batch.feed->shifts == nullptr;
}

}  // namespace
}  // namespace Karvel::Tamlib::Resampler::Kernels
