#pragma once

#include <cstdint>
#include <vector>

namespace Karvel::Tamlib::Resampler {

// The filter of one alias-free group: its design, its branches in the layouts the kernels read,
// and where the group's stream stands in it. Each group is aligned, flushed and caught up on its
// own, so that it behaves as it would alone in a resampler.
struct PolyphaseFilter {
    // Design: P/Q, the padded coefficients (P branches of T taps, interleaved) and the delay in
    // output samples that the warm-up discards and the flush runs down.
    uint32_t up = 1;
    uint32_t down = 1;
    std::vector<float> coefficients;
    uint64_t taps = 0;
    int32_t delayCount = 0;
    // The branches widened and reversed, P rows of T taps, and regrouped for the kernel's tiles
    // (empty where too large); built on the first batch.
    std::vector<double> widened;
    std::vector<double> tiles;

    // Stream: position in the upsampled stream, its phase and input index.
    uint64_t position = 0;
    uint32_t phase = 0;
    int64_t inputIndex = 0;
    uint32_t skippedOutputs = 0;
    uint64_t deficit = 0;  // input consumed by alignment before it arrived
    bool alignmentPending = true;
    bool flushing = false;
};

}  // namespace Karvel::Tamlib::Resampler
