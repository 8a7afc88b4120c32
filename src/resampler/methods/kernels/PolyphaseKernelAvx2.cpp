// Built with -mavx2 (and without -mfma): four doubles per vector.
#include <immintrin.h>

#include "resampler/methods/kernels/PolyphaseLanes.h"

namespace Karvel::Tamlib::Resampler::Kernels {
namespace {

struct Avx2 {
    using Vec = __m256d;
    static constexpr uint64_t width = 4;
    static Vec zero() { return _mm256_setzero_pd(); }
    static Vec broadcast(const double* p) { return _mm256_broadcast_sd(p); }
    static Vec load(const double* p) { return _mm256_loadu_pd(p); }
    static void store(double* p, Vec v) { _mm256_storeu_pd(p, v); }
    static Vec mul(Vec a, Vec b) { return _mm256_mul_pd(a, b); }
    static Vec add(Vec a, Vec b) { return _mm256_add_pd(a, b); }
    static constexpr uint64_t tile = 4;
    [[gnu::always_inline]] static void transposeTile(const double* const* in, double* const* out) {
        const __m256d a = _mm256_loadu_pd(in[0]);
        const __m256d b = _mm256_loadu_pd(in[1]);
        const __m256d c = _mm256_loadu_pd(in[2]);
        const __m256d d = _mm256_loadu_pd(in[3]);
        const __m256d ab0 = _mm256_unpacklo_pd(a, b);  // a0 b0 a2 b2
        const __m256d ab1 = _mm256_unpackhi_pd(a, b);  // a1 b1 a3 b3
        const __m256d cd0 = _mm256_unpacklo_pd(c, d);
        const __m256d cd1 = _mm256_unpackhi_pd(c, d);
        _mm256_storeu_pd(out[0], _mm256_permute2f128_pd(ab0, cd0, 0x20));
        _mm256_storeu_pd(out[1], _mm256_permute2f128_pd(ab1, cd1, 0x20));
        _mm256_storeu_pd(out[2], _mm256_permute2f128_pd(ab0, cd0, 0x31));
        _mm256_storeu_pd(out[3], _mm256_permute2f128_pd(ab1, cd1, 0x31));
    }
};

void avx2ChannelLanes(const PolyphaseBatch& batch) {
    channelLanes<Avx2, 4, 8>(batch);
}

void avx2SingleChannel(const PolyphaseBatch& batch) {
    singleChannel<Avx2>(batch);
}

constexpr PolyphaseKernel kernel{"avx2",
                                 Avx2::width,
                                 4,
                                 avx2ChannelLanes,
                                 avx2SingleChannel,
                                 interleaveLanes<Avx2>,
                                 deinterleaveLanes<Avx2>};

}  // namespace

const PolyphaseKernel& avx2Kernel() {
    return kernel;
}

}  // namespace Karvel::Tamlib::Resampler::Kernels
