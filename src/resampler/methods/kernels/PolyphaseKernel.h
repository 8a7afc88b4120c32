#pragma once

#include <cstdint>

namespace Karvel::Tamlib::Resampler::Kernels {

// The rowLoopFeedBytes of a kernel whose row loops never copy rows.
constexpr uint64_t kNoRowLoopFeed = ~uint64_t{0};

// What the steps of the row loops do where the vector type has them: copy the rows still to
// come, or, on processors where one pass before the tiles copies the rows faster, leave the
// rows to that pass and only prefetch the host's next blocks (where the feed has them).
enum class RowSteps : uint8_t { Copy, Prefetch };

// The rows of a channel-lane batch still in the input rings: the kernel interleaves them into
// `target` (the batch's history) as its tiles come to need them, eight rows of one lane at a
// time inside the tiles' row loops where its vector type says so (rowLoopFeedBytes), so that the
// loads and stores of the copy run beside the multiplies and adds, and otherwise in whole runs
// before the tiles.
struct LaneFeed {
    // Row r of lane c is rings[c][(slot + shifts[c] + r) mod size], shifts[c] 0 where `shifts` is
    // null (one channel per lane; several lanes of one channel's ring take shifts). The lanes
    // past `channels` are zeros.
    const double* const* rings = nullptr;
    const uint64_t* shifts = nullptr;
    uint64_t channels = 0;
    uint64_t slot = 0;
    uint64_t size = 0;
    // Rows of the batch, and room for two pointers per lane.
    uint64_t rows = 0;
    const double** cursors = nullptr;
    const double** bases = nullptr;
    double* target = nullptr;
    // Rows [0, ready) are in place; of the next eight rows, the lanes before `column`.
    uint64_t ready = 0;
    uint64_t column = 0;
    // Row `placed` + d of lane c is bases[c][d] for the rows before `unwrapped`, where the first
    // lane's ring wraps.
    uint64_t placed = 0;
    uint64_t unwrapped = 0;
    // Optional, per lane: where its channel's next block will come from. A host streaming one
    // array in blocks hands each block over where the last one ended, from memory; the copy
    // steps prefetch it into the second-level cache while the tiles run, so that the next
    // addData copies from there. Slot s of lane c's ring maps to aheadOrigins[c] + 8 s, less
    // 8 size from slot aheadWrites[c] on (see aheadOrigin); aheads holds the bases' addresses.
    const uintptr_t* aheadOrigins = nullptr;
    const uint64_t* aheadWrites = nullptr;
    uintptr_t* aheads = nullptr;
    // Where the rows went in before the tiles: the next line to prefetch, in the order the copy
    // steps would take them (eight rows of every lane in turn).
    uint64_t aheadRow = 0;
    uint64_t aheadColumn = 0;
    RowSteps rowSteps = RowSteps::Copy;
};

// The address that slot 0 of a ring maps to one block on, for a channel whose last block of
// `length` samples is followed in the host's array by the next one at `next`, and whose ring
// writes on at `writeSlot`: the first sample of the last block, `length` slots before the write
// slot, maps to `next`. Addresses wrap as integers; they are only ever prefetched.
inline uintptr_t aheadOrigin(uintptr_t next, uint64_t length, uint64_t writeSlot) {
    return next + sizeof(double) * (length - writeSlot);
}

// One run of consecutive outputs of a filtered group, laid out for the kernels: the group's
// input history as rows of one sample of every channel, and per output the branch and the row
// of the oldest sample of its window.
struct PolyphaseBatch {
    // P branches of T taps each, widened to double and reversed: tap j of branch p is the
    // coefficient that meets the j-th oldest sample of the window.
    const double* branches = nullptr;
    uint64_t taps = 0;
    // Optional: the same coefficients regrouped for tiles of tileWidth consecutive outputs (see
    // buildTileBranches and tileTableOutputs), so that a tile reads all its coefficients through
    // one pointer. Null where the table would be too large.
    const double* tileBranches = nullptr;
    uint64_t tileWidth = 0;
    // Rows per branch of that table: T + tileLeadRows.
    uint64_t tileRows = 0;
    uint32_t up = 1;
    uint32_t down = 1;
    // Rows of `stride` doubles; channel c of a row at column c, the columns past the group's
    // channels are padding that is computed and never read back.
    const double* history = nullptr;
    uint64_t stride = 0;
    const uint32_t* phases = nullptr;
    const uint64_t* rows = nullptr;
    uint64_t count = 0;
    // count rows of `stride` doubles, laid out as the history.
    double* results = nullptr;
    // When set, channel lanes write their outputs straight into these runs instead, one per
    // channel (`channels` of them), each with room for `count` consecutive outputs.
    double* const* outputs = nullptr;
    uint64_t channels = 0;
    // One channel only: room for the history regrouped by sample index modulo Q (at least
    // rows + (laneWidth + 1) * Q doubles) and for Q + T offsets into it. Null where not needed.
    double* residues = nullptr;
    uint64_t residuesSize = 0;
    uint64_t* offsets = nullptr;
    uint64_t offsetsSize = 0;
    // Channel lanes only: where set, `history` is feed->target, filled by the kernel as it goes.
    LaneFeed* feed = nullptr;
};

using BatchFunction = void (*)(const PolyphaseBatch&);

// The functions of one instruction set. Every output of every channel is summed from 0.0 in
// double, oldest sample first, one addition after another: work is spread over lanes and
// accumulators by channel and by output, never by tap, so every kernel gives the same bits.
struct PolyphaseKernel {
    const char* name;
    // Doubles per vector: the history stride of a group served by channelLanes is padded to a
    // multiple of it. 0 for the reference kernel, which has no batch functions.
    uint64_t laneWidth;
    // Outputs per tile of channelLanes for pairs of vectors, the width of the table of
    // buildTileBranches.
    uint64_t tileOutputs;
    // Outputs per tile for quads of vectors, whose table is this wide where no pair of vectors
    // shares it (see tileTableOutputs); 0 where the kernel has no quads.
    uint64_t quadTileOutputs;
    // Lanes of the segments of one channel that channelLanes takes at full speed: one vector
    // where its single-vector tiles read the tile table, two otherwise. 0 for none.
    uint64_t segmentLanes;
    // One lane per channel; stride is a multiple of laneWidth.
    BatchFunction channelLanes;
    // Stride 1: several outputs of the one channel at once.
    BatchFunction singleChannel;
};

const PolyphaseKernel& referenceKernel();
const PolyphaseKernel& sse2Kernel();
const PolyphaseKernel& avx2Kernel();
const PolyphaseKernel& avx512Kernel();

// The outputs of one batch of a group whose history rows hold `stride` doubles.
uint64_t batchOutputs(uint64_t up, uint64_t down, uint64_t taps, uint64_t stride);

// The history stride of a group of `channels`: 1 where it goes channel by channel, in segments
// where a batch is long enough for them, and otherwise one lane per channel, padded to whole
// vectors. Segments run at the rate of the kernel's full tiles, so they win wherever channel
// lanes would leave more than an eighth of such tiles empty.
uint64_t groupStride(const PolyphaseKernel& kernel, uint64_t channels);

// The stride of a batch too short for segments in a group of stride 1: channel lanes where they
// fill more than half of the kernel's full tiles, else 1 (the single-channel kernel, which
// regroups the rows by residue and runs at a fraction of the tiles' rate).
uint64_t shortBatchStride(const PolyphaseKernel& kernel, uint64_t channels);

// The width of a group's tile table for history rows of `stride` doubles: the quads' where they
// take every vector but perhaps one (whose single-vector tiles take no table), else the pairs'.
uint64_t tileTableOutputs(const PolyphaseKernel& kernel, uint64_t stride);

// Outputs per segment when one channel's batch of `count` outputs goes in the kernel's segment
// lanes: a whole number of P outputs each, so that every lane takes the same branches in the
// same order, and at least two tiles. 0 where the batch is too short or the kernel has none.
uint64_t segmentOutputs(const PolyphaseKernel& kernel, uint64_t up, uint64_t count);

// The branches regrouped for tiles of K consecutive outputs, by window row: the K outputs from
// one that takes branch p take branches (p + k Q) mod P, and the window of output k starts
// lead(k) = (p + k Q) div P rows after the first one's. Entry [p][i][k] is the coefficient that
// output k gives to row i (counted from the first output's oldest row), 0.0 outside its window;
// T + tileLeadRows rows per branch, tileBranchesSize doubles in all.
uint64_t tileLeadRows(uint64_t up, uint64_t down, uint64_t outputs);
uint64_t tileBranchesSize(uint64_t up, uint64_t down, uint64_t taps, uint64_t outputs);
void buildTileBranches(const double* branches, uint64_t up, uint64_t down, uint64_t taps,
                       uint64_t outputs, double* table);

// Several outputs of one channel as interleaved scalar chains; serves every instruction set
// where no vector layout fits the phase pattern.
void interleavedScalarChains(const PolyphaseBatch& batch);

}  // namespace Karvel::Tamlib::Resampler::Kernels
