// Built with the x86-64 baseline: two doubles per vector.
#include <emmintrin.h>

#include "resampler/methods/kernels/PolyphaseLanes.h"

namespace Karvel::Tamlib::Resampler::Kernels {
namespace {

struct Sse2 {
    using Vec = __m128d;
    static constexpr uint64_t width = 2;
    static Vec zero() { return _mm_setzero_pd(); }
    static Vec broadcast(const double* p) { return _mm_set1_pd(*p); }
    static Vec load(const double* p) { return _mm_loadu_pd(p); }
    static void store(double* p, Vec v) { _mm_storeu_pd(p, v); }
    static Vec mul(Vec a, Vec b) { return _mm_mul_pd(a, b); }
    static Vec add(Vec a, Vec b) { return _mm_add_pd(a, b); }

    static constexpr uint64_t tile = 2;
    // Twelve sums leave no room in sixteen registers for a second row of two vectors.
    static constexpr int twinOutputs = 0;
    // The rows are interleaved before the tiles: a row loop of half the products per row has no
    // room for copies beside them.
    static constexpr uint64_t rowLoopFeedBytes = kNoRowLoopFeed;
    [[gnu::always_inline]] static void transposeTile(const double* const* in, double* const* out) {
        const __m128d a = _mm_loadu_pd(in[0]);
        const __m128d b = _mm_loadu_pd(in[1]);
        _mm_storeu_pd(out[0], _mm_unpacklo_pd(a, b));
        _mm_storeu_pd(out[1], _mm_unpackhi_pd(a, b));
    }
};

void sse2ChannelLanes(const PolyphaseBatch& batch) {
    channelLanes<Sse2, 6, 8>(batch);
}

void sse2SingleChannel(const PolyphaseBatch& batch) {
    singleChannel<Sse2>(batch);
}

constexpr PolyphaseKernel kernel{"sse2",           Sse2::width,      6, 0, 2 * Sse2::width,
                                 sse2ChannelLanes, sse2SingleChannel};

}  // namespace

const PolyphaseKernel& sse2Kernel() {
    return kernel;
}

}  // namespace Karvel::Tamlib::Resampler::Kernels
