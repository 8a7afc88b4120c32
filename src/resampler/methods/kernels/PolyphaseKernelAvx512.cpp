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
};

void avx512ChannelLanes(const PolyphaseBatch& batch) {
    channelLanes<Avx512, 6, 8>(batch);
}

void avx512SingleChannel(const PolyphaseBatch& batch) {
    singleChannel<Avx512>(batch);
}

constexpr PolyphaseKernel kernel{"avx512", Avx512::width, avx512ChannelLanes, avx512SingleChannel};

}  // namespace

const PolyphaseKernel& avx512Kernel() {
    return kernel;
}

}  // namespace Karvel::Tamlib::Resampler::Kernels
