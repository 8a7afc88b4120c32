#include <algorithm>
#include <cstdint>
#include <cstring>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "resampler/methods/ResamplerAliasFree.h"

// Batched production of a filtered group: a run of outputs of every channel at once, from an
// interleaved copy of the window rows, by the kernel chosen when the resampler was made. The
// values are those of the one-output-at-a-time path, bit for bit.

namespace Karvel::Tamlib::Resampler {

namespace {

// The host's next blocks are prefetched only while they take no more than an eighth of the
// second-level cache beside the rings and the batch's rows: more evicted those and cost the
// stream more than it saved (with 2 MiB, blocks of 4,000 samples of 16 channels gained and
// 10,000 lost; with 1 MiB, 2,000 lost). 2 MiB where the system does not say.
uint64_t aheadBytes() {
    static const uint64_t bytes = [] {
        long cache = 0;
#ifdef _SC_LEVEL2_CACHE_SIZE
        cache = sysconf(_SC_LEVEL2_CACHE_SIZE);
#endif
        return static_cast<uint64_t>(cache > 0 ? cache : 2 * 1024 * 1024) / 8;
    }();
    return bytes;
}

}  // namespace

uint64_t ResamplerAliasFree::historyStride(const ResamplerChannelGroup& group) const {
    return Kernels::groupStride(*kernel, group.getChannels().size());
}

uint64_t ResamplerAliasFree::batchOutputLimit(const ResamplerChannelGroup& group,
                                              const PolyphaseFilter& filter) const {
    return Kernels::batchOutputs(filter.up, filter.down, filter.taps, historyStride(group));
}

void ResamplerAliasFree::prepareBatches(const ResamplerChannelGroup& group,
                                        PolyphaseFilter& filter) {
    std::vector<double>& branches = filter.widened;
    const uint64_t taps = filter.taps;
    const uint64_t up = filter.up;
    if (branches.empty()) {
        // Tap j of branch p meets the j-th oldest sample of the window: c[p + P * (T - 1 - j)].
        // Widening a float to double is exact, so the products do not change.
        const std::vector<float>& coefficients = filter.coefficients;
        branches.resize(up * taps);
        for (uint64_t p = 0; p < up; ++p) {
            for (uint64_t j = 0; j < taps; ++j) {
                branches[p * taps + j] = static_cast<double>(coefficients[p + up * (taps - 1 - j)]);
            }
        }
    }
    // The tile table multiplies the branches by the tile's outputs; beyond a few hundred
    // kilobytes it would crowd the history out of the cache, and the tiles take the branches.
    constexpr uint64_t kMaxTileTable = 1 << 16;
    const uint64_t tile = Kernels::tileTableOutputs(*kernel, historyStride(group));
    const bool lanesOfChannels = historyStride(group) > 1 || kernel->segmentLanes > 0;
    if (filter.tiles.empty() && lanesOfChannels && tile > 0 &&
        Kernels::tileBranchesSize(up, filter.down, taps, tile) <= kMaxTileTable) {
        filter.tiles.resize(Kernels::tileBranchesSize(up, filter.down, taps, tile));
        Kernels::buildTileBranches(branches.data(), up, filter.down, taps, tile,
                                   filter.tiles.data());
    }
    // Sized on the first pass for the largest batch the group can make, so later passes only
    // reuse them.
    const uint64_t outputs = batchOutputLimit(group, filter);
    const uint64_t down = filter.down;
    const uint64_t stride = historyStride(group);
    // A batch whose first window wraps copies up to two windows of rows.
    auto rowsOf = [&](uint64_t count) {
        return std::max(((count - 1) * down + up - 1) / up + 1 + taps, 2 * taps);
    };
    const uint64_t rows = rowsOf(outputs);
    constexpr uint64_t kAlignmentSlack = 8;
    // Segments of one channel repeat the T - 1 rows that each shares with the next one; the
    // batches too short for them may go in channel lanes.
    uint64_t doubles = rows * stride;
    if (stride == 1) {
        doubles += kernel->segmentLanes * taps;
        const uint64_t lanes = Kernels::shortBatchStride(*kernel, group.getChannels().size());
        if (lanes > 1) {
            doubles =
                std::max(doubles, rowsOf(Kernels::batchOutputs(up, down, taps, lanes)) * lanes);
        }
    }
    if (historyRows.size() < doubles + kAlignmentSlack) {
        historyRows.resize(doubles + kAlignmentSlack);
    }
    if (stride == 1) {
        // Channel lanes write straight into the output rings; one channel goes through here.
        if (batchResults.size() < outputs) {
            batchResults.resize(outputs);
        }
        // The single-channel kernels regroup the window rows by residue modulo Q.
        const uint64_t lanes = std::max<uint64_t>(kernel->laneWidth, 1);
        if (residueRows.size() < rows + (lanes + 1) * down) {
            residueRows.resize(rows + (lanes + 1) * down);
        }
        if (residueOffsets.size() < down + taps) {
            residueOffsets.resize(down + taps);
        }
    }
    const uint64_t cursors = std::max<uint64_t>(group.getChannels().size(), kernel->segmentLanes);
    if (channelCursors.size() < cursors) {
        channelCursors.resize(cursors);
        channelRings.resize(cursors);
        channelBases.resize(cursors);
        aheadOrigins.resize(cursors);
        aheadWrites.resize(cursors);
        aheadBases.resize(cursors);
        laneShifts.resize(cursors);
        channelOutputs.resize(cursors);
    }
    if (batchPhases.size() < outputs) {
        batchPhases.resize(outputs);
        batchRows.resize(outputs);
    }
}

uint64_t ResamplerAliasFree::produceBatch(ResamplerChannelGroup& group, PolyphaseFilter& filter,
                                          uint64_t limit) {
    const uint64_t taps = filter.taps;
    const uint64_t up = filter.up;
    const uint64_t down = filter.down;
    const auto firstSample = static_cast<uint64_t>(filter.inputIndex);
    const uint64_t wanted = limit;
    limit = std::min(limit, batchOutputLimit(group, filter));
    uint64_t stride = historyStride(group);
    const uint64_t outputStart = group.getOutputWriteIndex();
    // Channel lanes write each channel's outputs straight into its ring, so a batch ends where
    // the rings wrap and the next one starts at their first slot.
    auto limitForLanes = [&]() {
        limit = std::min({wanted, Kernels::batchOutputs(up, down, taps, stride),
                          group.getOutputBufferSize() - outputStart});
    };
    if (stride > 1) {
        limitForLanes();
    }

    // The phases and windows of the next outputs, as advancePosition would step through them,
    // as long as each window is stored.
    const uint64_t stored = std::min(group.getPendingCount(), group.getInputBufferSize());
    if (stored < taps) {
        return 0;
    }
    // Output n starts its window at row (phase + n * Q) div P, which must leave T rows stored.
    // The last row is capped at what `limit` outputs can reach, so the products stay small.
    const uint64_t phase0 = filter.phase;
    auto outputsWithin = [&](uint64_t rowRoom) {
        const uint64_t lastRow = std::min(rowRoom - taps, (limit * down) / up + 1);
        return std::min(limit, ((lastRow + 1) * up - 1 - phase0) / down + 1);
    };
    uint64_t count = outputsWithin(stored);
    // One channel at a time goes through segments of the batch in lanes, which are copied out
    // of the ring and may wrap. Where the batch is too short for them, a group that fills most
    // of a tile's lanes goes in channel lanes after all; a narrower one reads each channel's
    // window rows in place in its ring, unless the first window wraps around the ring's end:
    // such a batch is kept to two windows of rows, copied out in order.
    const uint64_t size = group.getInputBufferSize();
    const uint64_t slot = firstSample % size;
    const uint64_t perSegment = stride == 1 ? Kernels::segmentOutputs(*kernel, up, count) : 0;
    if (perSegment > 0) {
        count = perSegment * kernel->segmentLanes;
    } else if (stride == 1) {
        stride = Kernels::shortBatchStride(*kernel, group.getChannels().size());
        if (stride > 1) {
            limitForLanes();
            count = outputsWithin(stored);
        } else {
            count = outputsWithin(std::min(stored, size - slot >= taps ? size - slot : 2 * taps));
        }
    }
    uint64_t row = 0;
    uint64_t phase = phase0;
    const uint64_t rowStep = down / up;
    const uint64_t phaseStep = down % up;
    // The segments share the first segment's phases and rows.
    const uint64_t laid = perSegment > 0 ? perSegment : count;
    for (uint64_t n = 0; n < laid; ++n) {
        batchPhases[n] = static_cast<uint32_t>(phase);
        batchRows[n] = row;
        phase += phaseStep;
        const bool wraps = phase >= up;
        phase -= wraps ? up : 0;
        row += rowStep + (wraps ? 1 : 0);
    }

    if (count == 0) {
        return 0;
    }
    Kernels::PolyphaseBatch batch;
    batch.branches = filter.widened.data();
    batch.taps = taps;
    batch.tileBranches = filter.tiles.empty() ? nullptr : filter.tiles.data();
    batch.tileWidth = Kernels::tileTableOutputs(*kernel, historyStride(group));
    batch.tileRows = taps + Kernels::tileLeadRows(up, down, batch.tileWidth);
    batch.up = static_cast<uint32_t>(up);
    batch.down = static_cast<uint32_t>(down);
    const uint64_t rows = batchRows[laid - 1] + taps;
    batch.stride = stride;
    batch.phases = batchPhases.data();
    batch.rows = batchRows.data();
    batch.count = count;
    if (perSegment > 0) {
        for (const auto& channel : group.getChannels()) {
            produceSegments(group, *channel, batch, slot, perSegment);
        }
    } else if (stride == 1) {
        batch.results = batchResults.data();
        batch.residues = residueRows.data();
        batch.residuesSize = residueRows.size();
        batch.offsets = residueOffsets.data();
        batch.offsetsSize = residueOffsets.size();
        for (const auto& channel : group.getChannels()) {
            batch.history = channelWindow(group, *channel, slot, rows);
            kernel->singleChannel(batch);
            writeChannelValues(group, *channel, count);
        }
    } else {
        for (uint64_t c = 0; c < group.getChannels().size(); ++c) {
            channelOutputs[c] = group.getChannels()[c]->outputValues().data() + outputStart;
        }
        batch.outputs = channelOutputs.data();
        batch.channels = group.getChannels().size();
        // The kernel interleaves the window rows from the input rings as its tiles need them.
        const uint64_t channels = group.getChannels().size();
        bool ahead = nextBlocksFit(group);
        for (uint64_t c = 0; c < channels; ++c) {
            const ResamplerChannel& channel = *group.getChannels()[c];
            channelRings[c] = channel.inputValues().data();
            ahead = aimAhead(c, channel) && ahead;
        }
        Kernels::LaneFeed feed = laneFeed(channels, nullptr, slot, size, rows, ahead);
        batch.history = feed.target;
        batch.feed = &feed;
        kernel->channelLanes(batch);
    }
    writeBatchTimes(group, count);
    advancePositionBy(group, filter, count);
    if (filter.flushing) {
        filter.delayCount -= static_cast<int32_t>(count);
    }
    return count;
}

void ResamplerAliasFree::produceSegments(ResamplerChannelGroup& group, ResamplerChannel& channel,
                                         Kernels::PolyphaseBatch& batch, uint64_t slot,
                                         uint64_t perSegment) {
    // One channel in the lanes of channelLanes: lane i takes the outputs i * S .. i * S + S - 1
    // of the batch, whose windows start S * Q / P rows after those of lane i - 1, with the same
    // branches. Each sum is still its own output's taps in order.
    const uint64_t lanes = kernel->segmentLanes;
    const uint64_t shift = perSegment / batch.up * batch.down;
    // The kernel interleaves the segments' rows from the channel's ring as its tiles need them.
    const Ring& ring = channel.inputValues();
    // The group's other channels go the same way in this pass: their next blocks count too.
    bool ahead = nextBlocksFit(group);
    for (uint64_t i = 0; i < lanes; ++i) {
        channelRings[i] = ring.data();
        laneShifts[i] = i * shift;
        ahead = aimAhead(i, channel) && ahead;
    }
    Kernels::LaneFeed feed = laneFeed(lanes, laneShifts.data(), slot, ring.size(),
                                      batchRows[perSegment - 1] + batch.taps, ahead);
    batch.feed = &feed;
    // Straight into the output ring where the batch fits before its end.
    const uint64_t outputStart = group.getOutputWriteIndex();
    const bool inRing = outputStart + lanes * perSegment <= group.getOutputBufferSize();
    double* outputs = inRing ? channel.outputValues().data() + outputStart : batchResults.data();
    for (uint64_t i = 0; i < lanes; ++i) {
        channelOutputs[i] = outputs + i * perSegment;
    }
    batch.history = feed.target;
    batch.stride = lanes;
    batch.count = perSegment;
    batch.outputs = channelOutputs.data();
    batch.channels = lanes;
    kernel->channelLanes(batch);
    batch.feed = nullptr;
    if (!inRing) {
        writeChannelValues(group, channel, lanes * perSegment);
    }
}

Kernels::LaneFeed ResamplerAliasFree::laneFeed(uint64_t lanes, const uint64_t* shifts,
                                               uint64_t slot, uint64_t size, uint64_t rows,
                                               bool ahead) {
    // The lanes' rings are in channelRings; the feed's pointers and target are this method's.
    Kernels::LaneFeed feed;
    feed.rings = channelRings.data();
    feed.shifts = shifts;
    feed.channels = lanes;
    feed.slot = slot;
    feed.size = size;
    feed.rows = rows;
    feed.cursors = channelCursors.data();
    feed.bases = channelBases.data();
    feed.target = alignedHistory();
    feed.rowSteps = rowSteps;
    if (ahead) {
        feed.aheadOrigins = aheadOrigins.data();
        feed.aheadWrites = aheadWrites.data();
        feed.aheads = aheadBases.data();
    }
    return feed;
}

bool ResamplerAliasFree::nextBlocksFit(const ResamplerChannelGroup& group) {
    uint64_t bytes = 0;
    for (const auto& channel : group.getChannels()) {
        bytes += channel->lastBlockLength() * sizeof(double);
    }
    return bytes <= aheadBytes();
}

bool ResamplerAliasFree::aimAhead(uint64_t lane, const ResamplerChannel& channel) {
    const uintptr_t next = channel.nextBlockAddress();
    const uint64_t writeSlot = channel.inputValues().writeSlot();
    aheadOrigins[lane] = Kernels::aheadOrigin(next, channel.lastBlockLength(), writeSlot);
    aheadWrites[lane] = writeSlot;
    return next != 0;
}

double* ResamplerAliasFree::alignedHistory() {
    // Rows start on a 64-byte boundary, so that with a stride of whole vectors no load splits a
    // cache line.
    auto address = reinterpret_cast<uintptr_t>(historyRows.data());
    address = (address + 63) & ~static_cast<uintptr_t>(63);
    return reinterpret_cast<double*>(address);
}

const double* ResamplerAliasFree::channelWindow(const ResamplerChannelGroup& group,
                                                const ResamplerChannel& channel, uint64_t slot,
                                                uint64_t rows) {
    if (rows <= group.getInputBufferSize() - slot) {
        return channel.inputValues().data() + slot;
    }
    // rows never exceeds the stored samples, which the ring holds, so it wraps at most once.
    double* history = alignedHistory();
    channel.inputValues().copyOut(slot, history, rows);
    return history;
}

void ResamplerAliasFree::writeChannelValues(const ResamplerChannelGroup& group,
                                            ResamplerChannel& channel, uint64_t count) {
    channel.outputValues().copyIn(group.getOutputWriteIndex(), batchResults.data(), count);
}

void ResamplerAliasFree::writeBatchTimes(ResamplerChannelGroup& group, uint64_t count) {
    // As produceOutput once per output: each output takes the next master time.
    group.takeMasterTimes(masterTimes, count);
}

void ResamplerAliasFree::advancePositionBy(ResamplerChannelGroup& group, PolyphaseFilter& filter,
                                           uint64_t outputs) {
    // Moves by `outputs` output periods at once; the consumed input adds up as it would one
    // period at a time.
    const auto up = static_cast<int64_t>(filter.up);
    filter.position += outputs * filter.down;
    const auto position = static_cast<int64_t>(filter.position);
    filter.phase = static_cast<uint32_t>(position % up);
    const int64_t previous = filter.inputIndex;
    filter.inputIndex = position / up;
    const int64_t moved = filter.inputIndex - previous;
    if (moved > 0) {
        consumePending(group, filter, static_cast<uint64_t>(moved));
    }
}

}  // namespace Karvel::Tamlib::Resampler
