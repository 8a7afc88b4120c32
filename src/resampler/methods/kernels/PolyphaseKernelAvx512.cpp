// Built with -mavx512f: eight doubles per vector. AVX-512F has fused multiply-adds of its own,
// so this unit depends on -ffp-contract=off more than any other.
#include <immintrin.h>

#include "resampler/methods/kernels/PolyphaseLanes.h"

namespace Karvel::Tamlib::Resampler::Kernels {
namespace {

struct Avx512 {
    using Vec = __m512d;
    static constexpr uint64_t width = 8;
    static Vec zero() { return _mm512_setzero_pd(); }
    static Vec broadcast(const double* p) { return _mm512_set1_pd(*p); }
    static Vec load(const double* p) { return _mm512_loadu_pd(p); }
    static void store(double* p, Vec v) { _mm512_storeu_pd(p, v); }
    static Vec mul(Vec a, Vec b) { return _mm512_mul_pd(a, b); }
    static Vec add(Vec a, Vec b) { return _mm512_add_pd(a, b); }
    static constexpr uint64_t tile = 4;
    static void transposeTile(const double* const* in, double* const* out) {
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

void avx512ChannelLanes(const PolyphaseBatch& batch) {
    channelLanes<Avx512, 6, 8>(batch);
}

void avx512SingleChannel(const PolyphaseBatch& batch) {
    singleChannel<Avx512>(batch);
}

constexpr PolyphaseKernel kernel{"avx512",
                                 Avx512::width,
                                 avx512ChannelLanes,
                                 avx512SingleChannel,
                                 interleaveLanes<Avx512>,
                                 deinterleaveLanes<Avx512>};

}  // namespace

const PolyphaseKernel& avx512Kernel() {
    return kernel;
}

}  // namespace Karvel::Tamlib::Resampler::Kernels
