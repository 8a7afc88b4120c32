// Built with -mavx2 (and without -mfma): four doubles per vector.
#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "resampler/methods/kernels/PolyphaseLanes.h"
#include "resampler/methods/kernels/StampRun.h"
#include "resampler/methods/kernels/WalkAndGather.h"
#include "resampler/methods/kernels/WalkStretch.h"

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
    // Twelve sums leave no room in sixteen registers for a second row of two vectors.
    static constexpr int twinOutputs = 0;
    // The rows are interleaved before the tiles: a row loop of half the products per row has no
    // room for copies beside them.
    static constexpr uint64_t rowLoopFeedBytes = kNoRowLoopFeed;
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

// Three outputs by four vectors take as many sums as six by two, with fewer edge rows.
void avx2ChannelLanes(const PolyphaseBatch& batch) {
    channelLanesByQuads<Avx2, 3, 6, 8>(batch);
}

void avx2SingleChannel(const PolyphaseBatch& batch) {
    singleChannel<Avx2>(batch);
}

// Sixteen input times in four vectors, tested as Avx512Window tests them: sample - time <=
// tolerance.
struct Avx2Window {
    // Four times against the narrow window: the wide one takes four compares per time here.
    static constexpr uint64_t kGroupTimes = 4;
    struct Window {
        __m256d quarter[4];
    };
    static Window load(const double* p) {
        return {{_mm256_loadu_pd(p), _mm256_loadu_pd(p + 4), _mm256_loadu_pd(p + 8),
                 _mm256_loadu_pd(p + 12)}};
    }
    static uint32_t belongs(const Window& window, double time, double tolerance) {
        const __m256d at = _mm256_set1_pd(time);
        const __m256d limit = _mm256_set1_pd(tolerance);
        uint32_t mask = 0;
        for (int q = 0; q < 4; ++q) {
            const __m256d inside =
                _mm256_cmp_pd(_mm256_sub_pd(window.quarter[q], at), limit, _CMP_LE_OQ);
            mask |= static_cast<uint32_t>(_mm256_movemask_pd(inside)) << (4 * q);
        }
        return mask;
    }
    // The first eight of them, for inputs that advance by little per time.
    struct Narrow {
        __m256d quarter[2];
    };
    static Narrow loadNarrow(const double* p) {
        return {{_mm256_loadu_pd(p), _mm256_loadu_pd(p + 4)}};
    }
    static uint32_t belongs(const Narrow& window, double time, double tolerance) {
        const __m256d at = _mm256_set1_pd(time);
        const __m256d limit = _mm256_set1_pd(tolerance);
        const __m256d low = _mm256_cmp_pd(_mm256_sub_pd(window.quarter[0], at), limit, _CMP_LE_OQ);
        const __m256d high = _mm256_cmp_pd(_mm256_sub_pd(window.quarter[1], at), limit, _CMP_LE_OQ);
        return static_cast<uint32_t>(_mm256_movemask_pd(low)) |
               static_cast<uint32_t>(_mm256_movemask_pd(high)) << 4;
    }
};

constexpr PolyphaseKernel kernel{"avx2",           Avx2::width,      6, 3, 2 * Avx2::width,
                                 avx2ChannelLanes, avx2SingleChannel};

}  // namespace

// The first slot and the byte offsets of every block of four, once for every channel that
// shares the slots: a block whose slots lie within 255 inputs of its first gets a window.
void avx2PlanGather(const uint64_t* slots, uint64_t count, uint64_t /*sourceSize*/,
                    GatherPlan& plan) {
    for (uint64_t k = 0; k + 4 <= count; k += 4) {
        const uint64_t base = slots[k];
        const __m256i offsets =
            _mm256_sub_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(slots + k)),
                             _mm256_set1_epi64x(static_cast<long long>(base)));
        // A slot below the first (the source wrapped) is a huge offset here too.
        const __m256i above = _mm256_srli_epi64(offsets, 8);
        if (!_mm256_testz_si256(above, above)) {
            plan.window[k / 4] = GatherPlan::kElementWise;
            continue;
        }
        plan.window[k / 4] = base;
        for (int i = 0; i < 4; ++i) {
            plan.offsets[k + i] = static_cast<uint8_t>(slots[k + i] - base);
        }
    }
}

namespace {

// Four doubles from their own addresses: two scalar loads into each half and one insert. The
// lane-crossing permutes of a gather within eight inputs cost this processor family more than
// the extra loads.
inline __m256d loadFour(const double* window, uint32_t offsets) {
    const __m128d low =
        _mm_loadh_pd(_mm_load_sd(window + (offsets & 0xff)), window + ((offsets >> 8) & 0xff));
    const __m128d high =
        _mm_loadh_pd(_mm_load_sd(window + ((offsets >> 16) & 0xff)), window + (offsets >> 24));
    return _mm256_insertf128_pd(_mm256_castpd128_pd256(low), high, 1);
}

// The block of four at k, by its window or one element at a time.
inline void gatherFour(const double* source, const uint64_t* slots, uint64_t k,
                       const GatherPlan& plan, double* target) {
    const uint64_t base = plan.window[k / 4];
    if (base == GatherPlan::kElementWise) {
        for (uint64_t i = k; i < k + 4; ++i) {
            target[i] = source[slots[i]];
        }
        return;
    }
    uint32_t offsets;
    std::memcpy(&offsets, plan.offsets + k, sizeof(offsets));
    _mm256_storeu_pd(target + k, loadFour(source + base, offsets));
}

}  // namespace

void avx2PlannedGather(const double* source, const uint64_t* slots, uint64_t count,
                       const GatherPlan& plan, double* target) {
    uint64_t k = 0;
    for (; k + 8 <= count; k += 8) {
        const uint64_t first = plan.window[k / 4];
        const uint64_t second = plan.window[k / 4 + 1];
        if (first == GatherPlan::kElementWise || second == GatherPlan::kElementWise) {
            gatherFour(source, slots, k, plan, target);
            gatherFour(source, slots, k + 4, plan, target);
            continue;
        }
        uint64_t offsets;
        std::memcpy(&offsets, plan.offsets + k, sizeof(offsets));
        _mm256_storeu_pd(target + k, loadFour(source + first, static_cast<uint32_t>(offsets)));
        _mm256_storeu_pd(target + k + 4,
                         loadFour(source + second, static_cast<uint32_t>(offsets >> 32)));
    }
    if (k + 4 <= count) {
        gatherFour(source, slots, k, plan, target);
        k += 4;
    }
    for (; k < count; ++k) {
        target[k] = source[slots[k]];
    }
}

// Blocks of four outputs whose slots lie within 256 inputs of the first: four loads by byte
// offsets and one vector store. The others go one by one.
void avx2Gather(const double* source, uint64_t sourceSize, const uint64_t* slots, uint64_t count,
                double* target) {
    gatherByPlans(avx2PlanGather, avx2PlannedGather, source, sourceSize, slots, count, target);
}

uint64_t avx2Walk(const double* inputTimes, uint64_t end, uint64_t* position, const double* times,
                  uint64_t count, double newest, double tolerance, uint64_t* slots) {
    return walkStretch<Avx2Window>(inputTimes, end, position, times, count, newest, tolerance,
                                   slots);
}

void avx2StampRun(double* stamps, uint64_t first, uint64_t count, double dt, double t0) {
    stampRun(stamps, first, count, dt, t0);
}

void avx2GridRun(double* out, int32_t length, double base, double step) {
    gridRun(out, length, base, step);
}

const PolyphaseKernel& avx2Kernel() {
    return kernel;
}

}  // namespace Karvel::Tamlib::Resampler::Kernels
