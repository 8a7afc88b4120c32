#include <algorithm>
#include <cstdint>

#include "resampler/methods/kernels/PolyphaseKernel.h"
#include "resampler/methods/kernels/StampRun.h"

namespace Karvel::Tamlib::Resampler::Kernels {

namespace {

// K outputs of the one channel, each its own chain: the chains are independent, so they overlap
// in the adder while each keeps the fixed order of its own taps.
template <int K>
void scalarTile(const PolyphaseBatch& batch, uint64_t first) {
    const uint64_t taps = batch.taps;
    const double* coefficient[K];
    const double* sample[K];
    double sum[K];
    for (int k = 0; k < K; ++k) {
        coefficient[k] = batch.branches + static_cast<uint64_t>(batch.phases[first + k]) * taps;
        sample[k] = batch.history + batch.rows[first + k];
        sum[k] = 0.0;
    }
    for (uint64_t j = 0; j < taps; ++j) {
        for (int k = 0; k < K; ++k) {
            sum[k] += coefficient[k][j] * sample[k][j];
        }
    }
    for (int k = 0; k < K; ++k) {
        batch.results[first + k] = sum[k];
    }
}

}  // namespace

void interleavedScalarChains(const PolyphaseBatch& batch) {
    uint64_t first = 0;
    for (; first + 8 <= batch.count; first += 8) {
        scalarTile<8>(batch, first);
    }
    for (; first < batch.count; ++first) {
        scalarTile<1>(batch, first);
    }
}

uint64_t batchOutputs(uint64_t up, uint64_t down, uint64_t taps, uint64_t stride) {
    // About 256 KiB of window rows per batch keep the interleaved copy in the second-level
    // cache, while the rows copied twice (the T - 1 that neighbouring batches share) stay few.
    // One channel takes longer runs, which leave fewer outputs to the scalar chains at the end.
    constexpr uint64_t kTargetBytes = 256 * 1024;
    constexpr uint64_t kMinOutputs = 8;
    const uint64_t maxOutputs = stride == 1 ? 8192 : 1024;
    const uint64_t targetRows = kTargetBytes / (std::max<uint64_t>(stride, 1) * sizeof(double));
    const uint64_t rows = taps < targetRows ? targetRows - taps : 0;
    return std::clamp(rows * up / down, kMinOutputs, maxOutputs);
}

namespace {

uint64_t roundUp(uint64_t value, uint64_t multiple) {
    return (value + multiple - 1) / multiple * multiple;
}

}  // namespace

uint64_t groupStride(const PolyphaseKernel& kernel, uint64_t channels) {
    const uint64_t width = kernel.laneWidth;
    const uint64_t full = kernel.segmentLanes;
    if (channels == 1 || width == 0 || (full > 0 && channels * 8 <= roundUp(channels, full) * 7)) {
        return 1;
    }
    return roundUp(channels, width);
}

uint64_t shortBatchStride(const PolyphaseKernel& kernel, uint64_t channels) {
    const uint64_t full = kernel.segmentLanes;
    if (full == 0 || channels * 2 <= roundUp(channels, full)) {
        return 1;
    }
    return roundUp(channels, kernel.laneWidth);
}

uint64_t tileTableOutputs(const PolyphaseKernel& kernel, uint64_t stride) {
    if (kernel.quadTileOutputs == 0 || kernel.laneWidth == 0) {
        return kernel.tileOutputs;
    }
    const uint64_t vectors = stride / kernel.laneWidth;
    return vectors >= 4 && vectors % 4 < 2 ? kernel.quadTileOutputs : kernel.tileOutputs;
}

uint64_t segmentOutputs(const PolyphaseKernel& kernel, uint64_t up, uint64_t count) {
    const uint64_t lanes = kernel.segmentLanes;
    if (lanes == 0) {
        return 0;
    }
    const uint64_t perSegment = count / lanes / up * up;
    return perSegment >= 2 * kernel.tileOutputs ? perSegment : 0;
}

uint64_t tileLeadRows(uint64_t up, uint64_t down, uint64_t outputs) {
    return outputs > 0 ? (up - 1 + (outputs - 1) * down) / up : 0;
}

uint64_t tileBranchesSize(uint64_t up, uint64_t down, uint64_t taps, uint64_t outputs) {
    return up * (taps + tileLeadRows(up, down, outputs)) * outputs;
}

void buildTileBranches(const double* branches, uint64_t up, uint64_t down, uint64_t taps,
                       uint64_t outputs, double* table) {
    const uint64_t rows = taps + tileLeadRows(up, down, outputs);
    for (uint64_t p = 0; p < up; ++p) {
        for (uint64_t k = 0; k < outputs; ++k) {
            const uint64_t position = p + k * down;
            const double* branch = branches + position % up * taps;
            const uint64_t lead = position / up;
            for (uint64_t i = 0; i < rows; ++i) {
                const bool inWindow = i >= lead && i - lead < taps;
                table[(p * rows + i) * outputs + k] = inWindow ? branch[i - lead] : 0.0;
            }
        }
    }
}

void baselineStampRun(double* stamps, uint64_t first, uint64_t count, double dt, double t0) {
    stampRun(stamps, first, count, dt, t0);
}

void baselineGridRun(double* out, int32_t length, double base, double step) {
    gridRun(out, length, base, step);
}

const PolyphaseKernel& referenceKernel() {
    // No batch functions: the group is computed one output and one channel at a time, straight
    // from the channels' input rings.
    static const PolyphaseKernel kernel{"scalar", 0, 0, 0, 0, nullptr, nullptr};
    return kernel;
}

}  // namespace Karvel::Tamlib::Resampler::Kernels
