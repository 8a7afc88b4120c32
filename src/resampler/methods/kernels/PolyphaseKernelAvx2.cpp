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
};

void avx2ChannelLanes(const PolyphaseBatch& batch) {
    channelLanes<Avx2, 4, 8>(batch);
}

void avx2SingleChannel(const PolyphaseBatch& batch) {
    singleChannel<Avx2>(batch);
}

constexpr PolyphaseKernel kernel{"avx2", Avx2::width, avx2ChannelLanes, avx2SingleChannel};

}  // namespace

const PolyphaseKernel& avx2Kernel() {
    return kernel;
}

}  // namespace Karvel::Tamlib::Resampler::Kernels
