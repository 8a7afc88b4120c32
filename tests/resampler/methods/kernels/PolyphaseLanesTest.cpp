// The channel-lane tiles of every shape the instruction sets take, run on a one-double "vector"
// so that any machine checks them all, the eight-output tiles of AVX-512 included.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "resampler/methods/kernels/PolyphaseLanes.h"

namespace {

using namespace Karvel::Tamlib::Resampler::Kernels;

// Twins: outputs that many apart take one coefficient where P divides it (0 for never).
template <int Twins, bool Feeds = false>
struct OneLane {
    using Vec = double;
    static constexpr uint64_t width = 1;
    static constexpr uint64_t tile = 1;
    static constexpr int twinOutputs = Twins;
    static constexpr uint64_t rowLoopFeedBytes = Feeds ? 0 : kNoRowLoopFeed;
    static Vec zero() { return 0.0; }
    static Vec broadcast(const double* p) { return *p; }
    static Vec load(const double* p) { return *p; }
    static void store(double* p, Vec v) { *p = v; }
    static Vec mul(Vec a, Vec b) { return a * b; }
    static Vec add(Vec a, Vec b) { return a + b; }
    static void transposeTile(const double* const* in, double* const* out) { *out[0] = *in[0]; }
};

uint64_t bitsOf(double value) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

struct Shape {
    uint32_t up;
    uint32_t down;
    uint64_t taps;
    uint64_t channels;
};

template <class V, int KPair, int KSingle, int KQuad>
void runLanes(const PolyphaseBatch& batch) {
    if constexpr (KQuad > 0) {
        channelLanesByQuads<V, KQuad, KPair, KSingle>(batch);
    } else {
        channelLanes<V, KPair, KSingle>(batch);
    }
}

// One batch as the method lays it out, computed by the tiles of KPair outputs, and with KQuad > 0
// by quads of KQuad outputs first (with and without the tile table, into results and into
// rings), and compared with each output summed one tap after another from 0.0. The table is as
// wide as tileTableOutputs makes it. Non-finite samples show any product taken outside a window.
template <int Twins, int KPair, int KSingle, int KQuad = 0>
void expectTilesMatchTheTapSums(const Shape& shape) {
    const uint64_t count = 61;  // whole tiles and a tail of single outputs
    std::vector<uint32_t> phases(count);
    std::vector<uint64_t> rows(count);
    for (uint64_t n = 0, position = 1; n < count; ++n, position += shape.down) {
        phases[n] = static_cast<uint32_t>(position % shape.up);
        rows[n] = position / shape.up;
    }
    const uint64_t stride = shape.channels;
    const uint64_t historyRows = rows.back() + shape.taps;
    std::mt19937_64 random(shape.up * 131 + shape.taps);
    std::normal_distribution<double> value(0.0, 1.0);
    std::vector<double> branches(shape.up * shape.taps);
    for (double& v : branches) {
        v = value(random);
    }
    std::vector<double> history(historyRows * stride);
    for (double& v : history) {
        v = value(random);
    }
    history[(historyRows / 2) * stride] = std::numeric_limits<double>::quiet_NaN();
    history[(historyRows / 3) * stride + stride - 1] = std::numeric_limits<double>::infinity();
    const uint64_t width =
        KQuad > 0 && stride >= 4 && stride % 4 < 2 ? static_cast<uint64_t>(KQuad) : KPair;
    std::vector<double> table(tileBranchesSize(shape.up, shape.down, shape.taps, width));
    buildTileBranches(branches.data(), shape.up, shape.down, shape.taps, width, table.data());

    PolyphaseBatch batch;
    batch.branches = branches.data();
    batch.taps = shape.taps;
    batch.tileWidth = width;
    batch.tileRows = shape.taps + tileLeadRows(shape.up, shape.down, width);
    batch.up = shape.up;
    batch.down = shape.down;
    batch.history = history.data();
    batch.stride = stride;
    batch.phases = phases.data();
    batch.rows = rows.data();
    batch.count = count;
    std::vector<double> results(count * stride);
    batch.results = results.data();
    std::vector<std::vector<double>> rings(shape.channels, std::vector<double>(count));
    std::vector<double*> ringStarts;
    for (auto& ring : rings) {
        ringStarts.push_back(ring.data());
    }
    // Every output against its taps summed in order, from the rings or from the results.
    auto expectTapSums = [&](bool fromRings) {
        for (uint64_t n = 0; n < count; ++n) {
            const double* coefficient = branches.data() + phases[n] * shape.taps;
            for (uint64_t c = 0; c < shape.channels; ++c) {
                double sum = 0.0;
                for (uint64_t j = 0; j < shape.taps; ++j) {
                    sum += coefficient[j] * history[(rows[n] + j) * stride + c];
                }
                const double got = fromRings ? rings[c][n] : results[n * stride + c];
                ASSERT_EQ(bitsOf(got), bitsOf(sum)) << "output " << n << " channel " << c;
            }
        }
    };
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run == 0 ? "table" : run == 1 ? "no table" : "into rings");
        batch.tileBranches = run == 1 ? nullptr : table.data();
        batch.outputs = run == 2 ? ringStarts.data() : nullptr;
        batch.channels = run == 2 ? shape.channels : 0;
        runLanes<OneLane<Twins>, KPair, KSingle, KQuad>(batch);
        expectTapSums(run == 2);
    }
    // Fed from input rings that wrap within the batch, not at a multiple of eight rows: a ring
    // per lane, by the row loops as the tiles go or all before the tiles, and every lane from one
    // ring at shifts of its own, as the segments of one channel, where the lanes wrap apart.
    const uint64_t size = historyRows + 5;
    const uint64_t slot = size - historyRows / 2 - 3;
    std::vector<std::vector<double>> inputs(shape.channels, std::vector<double>(size));
    const uint64_t apart = historyRows + 3;
    std::vector<double> shared(shape.channels * apart + 5);
    const uint64_t sharedSlot = shared.size() - apart - historyRows / 2 - 1;
    std::vector<uint64_t> shifts;
    std::vector<const double*> inputStarts;
    std::vector<const double*> sharedStarts;
    for (uint64_t c = 0; c < shape.channels; ++c) {
        shifts.push_back(c * apart);
        for (uint64_t r = 0; r < historyRows; ++r) {
            inputs[c][(slot + r) % size] = history[r * stride + c];
            shared[(sharedSlot + c * apart + r) % shared.size()] = history[r * stride + c];
        }
        inputStarts.push_back(inputs[c].data());
        sharedStarts.push_back(shared.data());
    }
    std::vector<const double*> cursors(shape.channels);
    std::vector<const double*> bases(shape.channels);
    std::vector<double> target(history.size());
    // With prefetches of the host's next blocks: the last `block` rows of the batch came as the
    // host's last block, which the ring's write slot follows, and the next one is `nextBlock`.
    const uint64_t block = historyRows / 2;
    const uint64_t writeSlot = (slot + historyRows) % size;
    const std::vector<double> nextBlock(block);
    const auto next = reinterpret_cast<uintptr_t>(nextBlock.data());
    const std::vector<uintptr_t> origins(shape.channels, aheadOrigin(next, block, writeSlot));
    const std::vector<uint64_t> writes(shape.channels, writeSlot);
    std::vector<uintptr_t> aheads(shape.channels);
    for (int run = 0; run < 6; ++run) {
        SCOPED_TRACE(run == 0   ? "fed by the row loops"
                     : run == 1 ? "fed before the tiles"
                     : run == 2 ? "fed from one ring at shifts"
                     : run == 3 ? "fed by the row loops, prefetching the next blocks"
                     : run == 4 ? "fed before the tiles, prefetching the next blocks"
                                : "fed before the tiles, the row loops prefetching");
        // A row the feed left out would enter the sums as this.
        std::fill(target.begin(), target.end(), 1e300);
        LaneFeed feed;
        feed.rings = run == 2 ? sharedStarts.data() : inputStarts.data();
        feed.shifts = run == 2 ? shifts.data() : nullptr;
        feed.channels = shape.channels;
        feed.slot = run == 2 ? sharedSlot : slot;
        feed.size = run == 2 ? shared.size() : size;
        feed.rows = historyRows;
        feed.cursors = cursors.data();
        feed.bases = bases.data();
        feed.target = target.data();
        // Row loops that could copy, told to prefetch only.
        feed.rowSteps = run == 5 ? RowSteps::Prefetch : RowSteps::Copy;
        if (run >= 3) {
            feed.aheadOrigins = origins.data();
            feed.aheadWrites = writes.data();
            feed.aheads = aheads.data();
        }
        batch.history = target.data();
        batch.feed = &feed;
        batch.tileBranches = table.data();
        batch.outputs = ringStarts.data();
        batch.channels = shape.channels;
        if (run == 1 || run == 4) {
            runLanes<OneLane<Twins, false>, KPair, KSingle, KQuad>(batch);
        } else {
            runLanes<OneLane<Twins, true>, KPair, KSingle, KQuad>(batch);
        }
        expectTapSums(true);
        EXPECT_EQ(feed.ready, historyRows);
        for (uint64_t i = 0; i < history.size(); ++i) {
            ASSERT_EQ(bitsOf(target[i]), bitsOf(history[i])) << "row " << i / stride;
        }
        if (run >= 4) {
            // Between the tiles or beside the rows, every row's line of every lane.
            EXPECT_GE(feed.aheadRow, historyRows);
        }
        if (run == 3) {
            // Row r of the batch is sample r - (historyRows - block) of the last block, so one
            // block on its line is that sample of the next one: rows on either side of the
            // ring's end, where the lanes are placed afresh.
            for (const uint64_t row :
                 {uint64_t{0}, size - slot - 1, size - slot, historyRows - 1}) {
                feed.ready = row;
                placeLanes(feed);
                const uintptr_t expected = next + sizeof(double) * (row - (historyRows - block));
                for (uint64_t c = 0; c < shape.channels; ++c) {
                    EXPECT_EQ(aheads[c], expected) << "lane " << c << " row " << row;
                }
            }
        }
    }
}

// The rate pairs of the benchmarks, a filter shorter than a tile's spread of windows (which
// leaves the table for the taps), channel counts with and without an odd last vector, and P of
// 1, 2 and 4, which take twin outputs, beside P that do not (with 1/10 and 40 taps a tile's
// twins start past the end of its first window).
// With one-double vectors, 4 and 5 channels make a quad (and an odd vector), 6 and 7 a quad and
// a pair (and an odd vector), which read the pairs' table.
const Shape kShapes[] = {{2, 5, 59, 5}, {125, 128, 24, 4}, {1, 10, 234, 3},
                         {2, 1, 24, 6}, {1, 10, 8, 5},     {3, 7, 5, 2},
                         {4, 5, 24, 3}, {1, 10, 40, 3},    {125, 128, 24, 7}};

TEST(PolyphaseLanesTest, TilesOfEveryShapeMatchTheTapSums) {
    for (const Shape& shape : kShapes) {
        SCOPED_TRACE(std::to_string(shape.up) + "/" + std::to_string(shape.down) + " taps " +
                     std::to_string(shape.taps));
        expectTilesMatchTheTapSums<0, 4, 8>(shape);
        expectTilesMatchTheTapSums<0, 6, 8>(shape);
        expectTilesMatchTheTapSums<0, 8, 8>(shape);
        // As AVX-512 takes them, and pairs of twins in smaller tiles.
        expectTilesMatchTheTapSums<4, 8, 8>(shape);
        expectTilesMatchTheTapSums<2, 4, 8>(shape);
        expectTilesMatchTheTapSums<2, 6, 8>(shape);
        // As AVX2 takes them: quads of three outputs before the pairs of six.
        expectTilesMatchTheTapSums<0, 6, 8, 3>(shape);
    }
}

}  // namespace
