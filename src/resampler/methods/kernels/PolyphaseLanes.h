#pragma once

// The vector kernels of every instruction set, written once over a small vector type. Each
// translation unit includes this header with its own instruction set enabled and instantiates it
// with its own vector type.
//
// Everything here has internal linkage on purpose: an inline function or template shared by name
// between the units would be merged by the linker, and the copy built for the widest
// instruction set could then run on a processor that lacks it.

#include <algorithm>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "resampler/methods/kernels/FeedSteps.h"
#include "resampler/methods/kernels/PolyphaseKernel.h"

// A lambda's call operator forced inline, as the functions around it are.
#define TAMLIB_INLINE_LAMBDA __attribute__((always_inline))

namespace Karvel::Tamlib::Resampler::Kernels {
namespace {

// Calls f(std::integral_constant<int, i>()) for i = Begin .. End - 1. The accumulator arrays
// are indexed only by such constants: g++ keeps an array that any loop indexes in memory, and
// then stores every accumulator on every tap, which bounds the kernels by the store rate.
template <int Begin, class F, int... I>
[[gnu::always_inline]] inline void unrolledFrom(F& f, std::integer_sequence<int, I...>) {
    (f(std::integral_constant<int, Begin + I>()), ...);
}

template <int Begin, int End, class F>
[[gnu::always_inline]] inline void unrolled(F&& f) {
    if constexpr (End > Begin) {
        unrolledFrom<Begin>(f, std::make_integer_sequence<int, End - Begin>());
    }
}

template <class V, int K, int VB>
[[gnu::always_inline]] inline void clearSums(typename V::Vec (&sum)[K][VB]) {
    unrolled<0, K>([&](auto k) { unrolled<0, VB>([&](auto v) { sum[k][v] = V::zero(); }); });
}

// The taps of K outputs by VB vectors of channels, in order: coefficient[k][j] is the
// coefficient of tap j of output k, sample[k] points at the oldest row of output k's window.
template <class V, int K, int VB>
[[gnu::always_inline]] inline void sumTaps(typename V::Vec (&sum)[K][VB],
                                           const double* const (&sample)[K],
                                           const double* const (&coefficient)[K], uint64_t taps,
                                           uint64_t stride) {
    for (uint64_t j = 0; j < taps; ++j) {
        unrolled<0, K>([&](auto k) {
            const typename V::Vec c = V::broadcast(coefficient[k] + j);
            const double* row = sample[k] + j * stride;
            unrolled<0, VB>([&](auto v) {
                sum[k][v] = V::add(sum[k][v], V::mul(c, V::load(row + v * V::width)));
            });
        });
    }
}

// Row `row` of the history into the sums of outputs Begin .. End - 1, whose coefficients for
// that row are coefficients[Begin .. End - 1]. The row's vectors are loaded once for all of them.
// With M < K, output b + a * M (a = 1 .. K / M - 1) takes the branch of output b, its window
// starting `twin` doubles later per a: each coefficient is loaded once for K / M rows, since the
// loads, not the arithmetic, bound the row loop of the full tile.
template <class V, int K, int VB, int M, int Begin, int End>
[[gnu::always_inline]] inline void addRow(typename V::Vec (&sum)[K][VB], const double* coefficients,
                                          const double* row, uint64_t twin) {
    constexpr int kTwins = K / M;
    typename V::Vec x[kTwins][VB];
    // The lambdas are forced inline too: where one is not (in the larger tiles that also copy
    // rows), the sums it takes by reference leave the registers.
    unrolled<0, kTwins>([&](auto a) TAMLIB_INLINE_LAMBDA {
        unrolled<0, VB>(
            [&](auto v) TAMLIB_INLINE_LAMBDA { x[a][v] = V::load(row + a * twin + v * V::width); });
    });
    unrolled<Begin, End>([&](auto b) TAMLIB_INLINE_LAMBDA {
        const typename V::Vec c = V::broadcast(coefficients + b);
        unrolled<0, kTwins>([&](auto a) TAMLIB_INLINE_LAMBDA {
            unrolled<0, VB>([&](auto v) TAMLIB_INLINE_LAMBDA {
                sum[b + a * M][v] = V::add(sum[b + a * M][v], V::mul(c, x[a][v]));
            });
        });
    });
}

// The rows before lead[M - 1], where only the first outputs' windows have begun, or with
// Trailing the rows past the first output's window, where only the last ones go on.
template <class V, int K, int VB, int M, int W, bool Trailing, int S = 1>
[[gnu::always_inline]] inline void addEdgeRows(typename V::Vec (&sum)[K][VB], const double* table,
                                               const double* history, uint64_t stride,
                                               const uint64_t (&lead)[K], uint64_t offset,
                                               uint64_t twin) {
    if constexpr (S < M) {
        for (uint64_t i = offset + lead[S - 1]; i < offset + lead[S]; ++i) {
            if constexpr (Trailing) {
                addRow<V, K, VB, M, S, M>(sum, table + i * W, history + i * stride, twin);
            } else {
                addRow<V, K, VB, M, 0, S>(sum, table + i * W, history + i * stride, twin);
            }
        }
        addEdgeRows<V, K, VB, M, W, Trailing, S + 1>(sum, table, history, stride, lead, offset,
                                                     twin);
    }
}

// The main rows from `begin` with the copy steps beside them, as many as the feed has; returns
// the row they reached. Ahead: the steps prefetch the host's next blocks (LaneFeed::aheads).
template <class V, int K, int VB, int M, int W, bool Ahead, class Stride>
[[gnu::always_inline]] inline uint64_t sumFedRows(typename V::Vec (&sum)[K][VB],
                                                  const double* table, const double* history,
                                                  uint64_t begin, uint64_t taps, Stride stride,
                                                  uint64_t twin, LaneFeed& feed) {
    FeedSteps steps(feed, stride);
    const uint64_t stepped = begin + std::min(taps - begin, steps.available);
    for (uint64_t i = begin; i < stepped; ++i) {
        addRow<V, K, VB, M, 0, M>(sum, table + i * W, history + i * stride, twin);
        steps.step<Ahead>(stride);
    }
    steps.settle(feed, stepped - begin);
    return stepped;
}

// The main rows from `begin`, with a prefetch of the feed's next line beside each row while
// lines are left; returns the row they reached.
template <class V, int K, int VB, int M, int W, class Stride>
[[gnu::always_inline]] inline uint64_t sumPrefetchingRows(typename V::Vec (&sum)[K][VB],
                                                          const double* table,
                                                          const double* history, uint64_t begin,
                                                          uint64_t taps, Stride stride,
                                                          uint64_t twin, LaneFeed& feed) {
    const uint64_t stepped = begin + std::min(taps - begin, aheadLinesLeft(feed));
    for (uint64_t i = begin; i < stepped; ++i) {
        addRow<V, K, VB, M, 0, M>(sum, table + i * W, history + i * stride, twin);
        prefetchNextLine(feed);
    }
    return stepped;
}

// The main rows [begin, taps) of a tile, where every output's window runs, and with a feed the
// copy steps (or with RowSteps::Prefetch the prefetches) beside as many of them as it has.
// Stride is a uint64_t or, for fed rows exactly the tile's vectors wide, a constant, which folds
// every row and copy offset into the addressing: the copy steps then spend no additions on them.
// (The loops without a feed lost 2 % to 4 % with AVX2 and SSE2 from the same constant.)
template <class V, int K, int VB, int M, int W, class Stride>
[[gnu::always_inline]] inline void sumMainRows(typename V::Vec (&sum)[K][VB], const double* table,
                                               const double* history, uint64_t begin, uint64_t taps,
                                               Stride stride, uint64_t twin, LaneFeed* feed) {
    uint64_t i = begin;
    if (feed != nullptr && feed->rowSteps == RowSteps::Prefetch) {
        i = sumPrefetchingRows<V, K, VB, M, W>(sum, table, history, begin, taps, stride, twin,
                                               *feed);
    } else if (feed != nullptr) {
        i = feed->aheadOrigins != nullptr
                ? sumFedRows<V, K, VB, M, W, true>(sum, table, history, begin, taps, stride, twin,
                                                   *feed)
                : sumFedRows<V, K, VB, M, W, false>(sum, table, history, begin, taps, stride, twin,
                                                    *feed);
    }
    for (; i < taps; ++i) {
        addRow<V, K, VB, M, 0, M>(sum, table + i * W, history + i * stride, twin);
    }
}

// The K outputs of a tile by rows of the history rather than by taps: each row is loaded once
// for every output whose window holds it, where the tap order would load it once per output.
// Output k meets its rows lead[k] .. lead[k] + T - 1 in that order, so every sum still runs over
// its taps in order, from 0.0, with nothing else added. The table's rows hold W coefficients.
// With a feed, each step of the main row loop also moves eight rows of one column of the rows
// still to come.
template <class V, int K, int VB, int M, int W>
[[gnu::always_inline]] inline void sumRows(typename V::Vec (&sum)[K][VB], const double* table,
                                           const double* history, uint64_t taps, uint64_t stride,
                                           const uint64_t (&lead)[K], uint64_t twin,
                                           LaneFeed* feed) {
    addEdgeRows<V, K, VB, M, W, false>(sum, table, history, stride, lead, 0, twin);
    using TileStride = std::integral_constant<uint64_t, VB * V::width>;
    if (feed != nullptr && stride == TileStride::value) {
        sumMainRows<V, K, VB, M, W>(sum, table, history, lead[M - 1], taps, TileStride(), twin,
                                    feed);
    } else {
        sumMainRows<V, K, VB, M, W>(sum, table, history, lead[M - 1], taps, stride, twin, feed);
    }
    addEdgeRows<V, K, VB, M, W, true>(sum, table, history, stride, lead, taps, twin);
}

// K outputs by VB vectors of channels from `column` on: K * VB independent accumulators, each
// one channel lane of one output, summed from 0.0 over the taps in order. Tiles of TableK
// outputs take the batch's tile table, by rows, where there is one and the last window starts
// within the first one; with M < K, outputs M apart share their branch (P divides M).
template <class V, int K, int VB, int TableK, int M>
void channelTile(const PolyphaseBatch& batch, uint64_t first, uint64_t column) {
    static_assert(M > 0 && K % M == 0, "twin outputs divide the tile");
    const uint64_t taps = batch.taps;
    const uint64_t stride = batch.stride;
    typename V::Vec sum[K][VB];
    clearSums<V, K, VB>(sum);
    bool summed = false;
    // Twins read only the first M columns of the table, so their tiles may be wider than it.
    if constexpr (K <= TableK || (M < K && M <= TableK)) {
        // The batch's outputs follow the phase pattern, so their rows give the table's leads.
        uint64_t lead[K];
        unrolled<0, K>([&](auto k) { lead[k] = batch.rows[first + k] - batch.rows[first]; });
        // Every window of the M outputs that the rows are walked for must start within the first.
        if (batch.tileBranches != nullptr && batch.tileWidth == TableK && lead[M - 1] <= taps) {
            const double* table = batch.tileBranches + static_cast<uint64_t>(batch.phases[first]) *
                                                           batch.tileRows * TableK;
            const double* history = batch.history + batch.rows[first] * stride + column;
            uint64_t twin = 0;
            if constexpr (M < K) {
                twin = lead[M] * stride;
            }
            LaneFeed* feed =
                rowLoopsFeed<V>(batch) || rowLoopsPrefetch<V>(batch) ? batch.feed : nullptr;
            sumRows<V, K, VB, M, TableK>(sum, table, history, taps, stride, lead, twin, feed);
            summed = true;
        }
    }
    if (!summed) {
        const double* sample[K];
        const double* coefficient[K];
        unrolled<0, K>([&](auto k) {
            sample[k] = batch.history + batch.rows[first + k] * stride + column;
            coefficient[k] = batch.branches + static_cast<uint64_t>(batch.phases[first + k]) * taps;
        });
        sumTaps<V, K, VB>(sum, sample, coefficient, taps, stride);
    }
    if (batch.outputs == nullptr) {
        unrolled<0, K>([&](auto k) {
            double* out = batch.results + (first + k) * stride + column;
            unrolled<0, VB>([&](auto v) { V::store(out + v * V::width, sum[k][v]); });
        });
        return;
    }
    // Straight into the channels' output rings: the rows of each square tile of outputs by
    // channels are transposed into runs of consecutive outputs of one channel, and the outputs
    // past the last square go one by one. Padding lanes go to a scratch run.
    double rows[K][VB * V::width];
    unrolled<0, K>([&](auto k) {
        unrolled<0, VB>([&](auto v) { V::store(rows[k] + v * V::width, sum[k][v]); });
    });
    double padding[K];
    for (int v = 0; v < VB; ++v) {
        double* target[V::width];
        for (uint64_t i = 0; i < V::width; ++i) {
            const uint64_t channel = column + v * V::width + i;
            target[i] = channel < batch.channels ? batch.outputs[channel] + first : padding;
        }
        int k = 0;
        if constexpr (K >= static_cast<int>(V::tile)) {
            for (; k + static_cast<int>(V::tile) <= K; k += static_cast<int>(V::tile)) {
                const double* in[V::tile];
                double* out[V::tile];
                for (uint64_t i = 0; i < V::tile; ++i) {
                    in[i] = rows[k + static_cast<int>(i)] + v * V::width;
                    out[i] = target[i] + k;
                }
                V::transposeTile(in, out);
            }
        }
        for (; k < K; ++k) {
            for (uint64_t i = 0; i < V::width; ++i) {
                target[i][k] = rows[k][v * V::width + i];
            }
        }
    }
}

// Every tile of outputs for the columns from `column` on, `columns` of them, VB vectors wide:
// the columns of one tile in turn, so that they share its coefficients and history rows while
// those are in the first-level cache.
template <class V, int K, int VB, int TableK, int M>
void channelColumns(const PolyphaseBatch& batch, uint64_t column, uint64_t columns) {
    const uint64_t step = VB * V::width;
    const uint64_t last = column + columns * step;
    uint64_t first = 0;
    // Rows in before the tiles: the host's next blocks are prefetched an even share of lines
    // per tile, for channel lanes (a channel's segments overlap, and lost by it). Where the row
    // loops prefetch (rowLoopsPrefetch), a line per step, the share only tops up after tiles
    // with too few rows for theirs.
    uint64_t aheadPerTile = 0;
    uint64_t aheadLead = 1;
    if (batch.feed != nullptr && !rowLoopsFeed<V>(batch)) {
        feedUntil<V>(*batch.feed, batch.feed->rows, batch.stride);
        if (batch.feed->aheadOrigins != nullptr && batch.feed->shifts == nullptr) {
            const uint64_t tiles = std::max<uint64_t>(batch.count / K, 1);
            aheadPerTile = (aheadLinesOf(*batch.feed) + tiles - 1) / tiles;
            aheadLead = rowLoopsPrefetch<V>(batch) ? 0 : 1;
        }
    }
    for (uint64_t tile = 0; first + K <= batch.count; first += K, ++tile) {
        if (batch.feed != nullptr) {
            feedUntil<V>(*batch.feed, batch.rows[first + K - 1] + batch.taps, batch.stride);
            if (aheadPerTile > 0) {
                prefetchUntil(*batch.feed, (tile + aheadLead) * aheadPerTile);
            }
        }
        for (uint64_t c = column; c < last; c += step) {
            channelTile<V, K, VB, TableK, M>(batch, first, c);
        }
    }
    if (batch.feed != nullptr) {
        feedUntil<V>(*batch.feed, batch.feed->rows, batch.stride);
        if (aheadPerTile > 0) {
            prefetchUntil(*batch.feed, aheadLinesOf(*batch.feed));
        }
    }
    // The wide single-vector tiles of twins leave a tail that a tile of the table's width takes.
    if constexpr (K > TableK && M < TableK) {
        for (; first + TableK <= batch.count; first += TableK) {
            for (uint64_t c = column; c < last; c += step) {
                channelTile<V, TableK, VB, TableK, M>(batch, first, c);
            }
        }
    }
    for (; first < batch.count; ++first) {
        for (uint64_t c = column; c < last; c += step) {
            channelTile<V, 1, VB, TableK, 1>(batch, first, c);
        }
    }
}

// Channels in lanes: pairs of vectors with KPair outputs at a time, a last odd vector with
// KSingle outputs at a time, so that enough chains run side by side to hide the adder latency.
// A tile table, where the batch has one, is laid out for KPair outputs. The more outputs a tile
// has, the fewer times its rows are loaded, as long as its 2 * KPair sums, the row's two vectors
// and a coefficient fit the registers: six with sixteen registers, eight with thirty-two.
// The vectors before `firstVector` are left to the caller.
template <class V, int KPair, int KSingle, int M>
void channelLanesOf(const PolyphaseBatch& batch, uint64_t firstVector = 0) {
    const uint64_t vectors = batch.stride / V::width - firstVector;
    const uint64_t pairs = vectors / 2;
    const uint64_t column = firstVector * V::width;
    if (pairs > 0) {
        channelColumns<V, KPair, 2, KPair, M>(batch, column, pairs);
    }
    if (vectors % 2 != 0) {
        constexpr int kSingleTwins = M < KPair ? M : KSingle;
        channelColumns<V, KSingle, 1, KPair, kSingleTwins>(batch, column + pairs * 2 * V::width, 1);
    }
}

// Quads of vectors with KQuad outputs at a time: four row vectors and KQuad coefficients per row,
// where pairs of vectors take two row vectors and KPair coefficients for as many sums. A tile of
// fewer outputs has fewer edge rows, where only some of its windows run, which weighs most for
// short windows. Their table is KQuad wide where the group's table is (tileTableOutputs), else
// they read the first KQuad columns of the pairs' table. The vectors past the last quad go as in
// channelLanesOf.
template <class V, int KQuad, int KPair, int KSingle>
void channelLanesByQuads(const PolyphaseBatch& batch) {
    const uint64_t vectors = batch.stride / V::width;
    const uint64_t quads = vectors / 4;
    if (quads > 0) {
        if (batch.tileWidth == KQuad) {
            channelColumns<V, KQuad, 4, KQuad, KQuad>(batch, 0, quads);
        } else {
            channelColumns<V, KQuad, 4, KPair, KQuad>(batch, 0, quads);
        }
    }
    channelLanesOf<V, KPair, KSingle, KPair>(batch, quads * 4);
}

template <class V, int KPair, int KSingle>
void channelLanes(const PolyphaseBatch& batch) {
    // Outputs M apart share their branch where P divides M. Only a kernel whose registers hold
    // the K / M rows beside the sums names an M (V::twinOutputs, 0 for none).
    constexpr int M = V::twinOutputs;
    if constexpr (M > 0 && M < KPair && KPair % M == 0) {
        if (M % batch.up == 0) {
            // A single vector then takes twice the outputs, as many sums as a pair of vectors.
            channelLanesOf<V, KPair, 2 * KPair, M>(batch);
            return;
        }
    }
    channelLanesOf<V, KPair, KSingle, KPair>(batch);
}

// One channel: outputs k and k + P share their branch, and the window of k + P starts Q samples
// later (P and Q are coprime). So the outputs k + P * o, o = 0 .. width - 1, of a block of
// P * width outputs fill one vector when the history is regrouped by sample index modulo Q:
// residues[(i mod Q) * S + i div Q] = x[i] puts x[r + j + o * Q] for o = 0, 1, ... side by side.
// U blocks of the same branch at a time, whose windows lie width * Q samples apart, share the
// coefficient and the offset of every tap. Of a block at the end of the batch only the first
// `valid` lanes are outputs; the others read rows past the batch's and are not stored.
template <class V, int U>
void outputLaneTile(const PolyphaseBatch& batch, uint64_t firstBlock, uint64_t lead,
                    uint64_t valid = V::width) {
    const uint64_t taps = batch.taps;
    const uint64_t up = batch.up;
    const uint64_t down = batch.down;
    const uint64_t span = up * V::width;
    const uint64_t first = firstBlock * span + lead;
    const double* coefficient = batch.branches + static_cast<uint64_t>(batch.phases[first]) * taps;
    const uint64_t row = batch.rows[first];
    const double* base = batch.residues + row / down;
    const uint64_t* offset = batch.offsets + row % down;
    typename V::Vec sum[U];
    unrolled<0, U>([&](auto u) { sum[u] = V::zero(); });
    for (uint64_t j = 0; j < taps; ++j) {
        const typename V::Vec c = V::broadcast(coefficient + j);
        const double* samples = base + offset[j];
        unrolled<0, U>(
            [&](auto u) { sum[u] = V::add(sum[u], V::mul(c, V::load(samples + u * V::width))); });
    }
    unrolled<0, U>([&](auto u) {
        double lanes[V::width];
        V::store(lanes, sum[u]);
        double* out = batch.results + first + u * span;
        for (uint64_t o = 0; o < valid; ++o) {
            out[up * o] = lanes[o];
        }
    });
}

// Whether outputLaneTile may take the batch: when it is the run of consecutive outputs it
// should be, which its last output shows (phase and row as P and Q give them from the first).
inline bool hasLanePattern(const PolyphaseBatch& batch) {
    if (batch.count == 0) {
        return false;
    }
    const uint64_t last = batch.count - 1;
    const uint64_t position = batch.phases[0] + last * batch.down;
    return batch.rows[0] == 0 && batch.phases[last] == position % batch.up &&
           batch.rows[last] == position / batch.up;
}

// residues[(i mod Q) * S + i div Q] = history[i] for the first `rows` samples. Four samples of
// one residue at a time, whose loads are independent, so that the copy runs at the store rate.
inline void regroupByResidue(const double* history, uint64_t rows, uint64_t down,
                             uint64_t rowLength, double* residues) {
    for (uint64_t residue = 0; residue < down && residue < rows; ++residue) {
        double* target = residues + residue * rowLength;
        const double* source = history + residue;
        const uint64_t count = (rows - residue + down - 1) / down;
        uint64_t m = 0;
        for (; m + 4 <= count; m += 4) {
            const double a = source[m * down];
            const double b = source[(m + 1) * down];
            const double c = source[(m + 2) * down];
            const double d = source[(m + 3) * down];
            target[m] = a;
            target[m + 1] = b;
            target[m + 2] = c;
            target[m + 3] = d;
        }
        for (; m < count; ++m) {
            target[m] = source[m * down];
        }
    }
}

template <class V>
void singleChannel(const PolyphaseBatch& batch) {
    const uint64_t up = batch.up;
    const uint64_t down = batch.down;
    const uint64_t span = up * V::width;
    const uint64_t rows = batch.count > 0 ? batch.rows[batch.count - 1] + batch.taps : 0;
    const uint64_t rowLength = rows / down + V::width + 1;
    if (batch.residues == nullptr || down * rowLength > batch.residuesSize ||
        down + batch.taps > batch.offsetsSize || !hasLanePattern(batch)) {
        interleavedScalarChains(batch);
        return;
    }
    regroupByResidue(batch.history, rows, down, rowLength, batch.residues);
    // Entry i is (i mod Q) * S + i div Q, stepped without a division per entry.
    const uint64_t offsets = down + batch.taps;
    uint64_t* offset = batch.offsets;
    uint64_t residue = 0;
    uint64_t quotient = 0;
    for (uint64_t i = 0; i < offsets; ++i) {
        offset[i] = residue * rowLength + quotient;
        ++residue;
        if (residue == down) {
            residue = 0;
            ++quotient;
        }
    }
    // Fewer blocks than a tile of four go together as well, so that more than one sum is
    // in the adder; the block at the end of the batch, if any, has only its leading lanes.
    const uint64_t blocks = batch.count / span;
    for (uint64_t lead = 0; lead < up; ++lead) {
        uint64_t b = 0;
        for (; b + 8 <= blocks; b += 8) {
            outputLaneTile<V, 8>(batch, b, lead);
        }
        for (; b + 4 <= blocks; b += 4) {
            outputLaneTile<V, 4>(batch, b, lead);
        }
        switch (blocks - b) {
            case 3:
                outputLaneTile<V, 3>(batch, b, lead);
                break;
            case 2:
                outputLaneTile<V, 2>(batch, b, lead);
                break;
            case 1:
                outputLaneTile<V, 1>(batch, b, lead);
                break;
            default:
                break;
        }
        const uint64_t first = blocks * span + lead;
        if (first < batch.count) {
            outputLaneTile<V, 1>(batch, blocks, lead, (batch.count - first + up - 1) / up);
        }
    }
}

}  // namespace
}  // namespace Karvel::Tamlib::Resampler::Kernels
