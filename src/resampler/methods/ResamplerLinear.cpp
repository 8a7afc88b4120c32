#include "resampler/methods/ResamplerLinear.h"

#include <algorithm>
#include <cstdint>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include "resampler/methods/MasterTimeWalk.h"

namespace Karvel::Tamlib::Resampler {

namespace {

// What the walk chose for each output: the two input slots around it and its fraction, shared
// by every channel. Each channel is then interpolated in one tight loop of its own, into the
// consecutive output slots from the batch's first on.
class LinearBatch {
public:
    LinearBatch(ResamplerChannelGroup& group, uint64_t firstOutputSlot)
        : group(group), outputSlot(firstOutputSlot) {}

    void add(uint64_t first, uint64_t second, bool sameTime, double fraction) {
        firstSlots[count] = first;
        secondSlots[count] = second;
        sameTimes[count] = sameTime ? kAllBits : 0;
        fractions[count] = fraction;
        wraps |= second != first + 1;
        if (++count == kCapacity) {
            flush();
        }
    }

    void flush() {
        const uint64_t size = group.getOutputBufferSize();
        for (const auto& channel : group.getChannels()) {
            const double* input = channel->inputValues().data();
            double* output = channel->outputValues().data();
            for (uint64_t done = 0, slot = outputSlot; done < count; slot = 0) {
                const uint64_t run = std::min(count - done, size - slot);
                interpolate(input, done, run, output + slot);
                done += run;
            }
        }
        outputSlot = (outputSlot + count) % size;
        count = 0;
        wraps = false;
    }

private:
    static constexpr uint64_t kCapacity = 256;
    static constexpr uint64_t kAllBits = ~static_cast<uint64_t>(0);

    // Outputs from..from + n - 1 of the batch into target[0..n - 1].
    void interpolate(const double* input, uint64_t from, uint64_t n, double* target) const {
        uint64_t k = from;
        const uint64_t end = from + n;
#if defined(__SSE2__) || defined(_M_X64)
        if (!wraps) {
            // Each output's two inputs are neighbours in the ring: one load takes both, and
            // two outputs go through the arithmetic at once, in the order of the one below.
            for (; k + 2 <= end; k += 2) {
                const __m128d a = _mm_loadu_pd(input + firstSlots[k]);
                const __m128d b = _mm_loadu_pd(input + firstSlots[k + 1]);
                const __m128d y0 = _mm_unpacklo_pd(a, b);
                const __m128d y1 = _mm_unpackhi_pd(a, b);
                const __m128d value =
                    _mm_add_pd(y0, _mm_mul_pd(_mm_loadu_pd(fractions + k), _mm_sub_pd(y1, y0)));
                const __m128d same = _mm_loadu_pd(reinterpret_cast<const double*>(sameTimes + k));
                _mm_storeu_pd(target + (k - from),
                              _mm_or_pd(_mm_and_pd(same, y0), _mm_andnot_pd(same, value)));
            }
        }
#endif
        for (; k < end; ++k) {
            const double y0 = input[firstSlots[k]];
            const double y1 = input[secondSlots[k]];
            target[k - from] = sameTimes[k] != 0 ? y0 : y0 + fractions[k] * (y1 - y0);
        }
    }

    ResamplerChannelGroup& group;
    uint64_t outputSlot;
    uint64_t firstSlots[kCapacity];
    uint64_t secondSlots[kCapacity];
    // All bits set where the two inputs share their time and the output is the first input.
    uint64_t sameTimes[kCapacity];
    double fractions[kCapacity];
    uint64_t count = 0;
    // Whether the second input of some output is at the ring's start, not after the first.
    bool wraps = false;
};

}  // namespace

ResamplerLinear::ResamplerLinear() {
    method = Linear;
}

ResamplerLinear::~ResamplerLinear() = default;

bool ResamplerLinear::isChannelUnsupported(const ResamplerChannel& channel) const {
    return channel.isArrayChannel();
}

void ResamplerLinear::resampleGroup(ResamplerChannelGroup& group) {
    LinearBatch batch(group, group.getOutputWriteIndex());
    const uint64_t size = group.getInputBufferSize();
    const double* times = group.inputTimeRing().data();
    walkMasterTimes(group, walk, [&](double time, uint64_t inputSlot) {
        const uint64_t first = inputSlot < size ? inputSlot : size - 1;
        const uint64_t second = first + 1 >= size ? 0 : first + 1;
        const double t0 = times[first];
        const double t1 = times[second];
        // One fraction for every channel, computed as the single-channel formula would.
        const bool sameTime = t1 == t0;
        const double fraction = sameTime ? 0.0 : (time - t0) / (t1 - t0);
        batch.add(first, second, sameTime, fraction);
    });
    batch.flush();
}

}  // namespace Karvel::Tamlib::Resampler
