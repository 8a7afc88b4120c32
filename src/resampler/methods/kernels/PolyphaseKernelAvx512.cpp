// Built with -mavx512f: eight doubles per vector. AVX-512F has fused multiply-adds of its own,
// so this unit depends on -ffp-contract=off more than any other.
#include <immintrin.h>

#include "resampler/methods/kernels/PolyphaseLanes.h"
#include "resampler/methods/kernels/StampRun.h"
#include "resampler/methods/kernels/WalkAndGather.h"
#include "resampler/methods/kernels/WalkStretch.h"

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

    static constexpr uint64_t tile = 8;
    // Tiles of eight outputs where P divides 4 take outputs k and k + 4 from one coefficient:
    // sixteen sums, two rows of two vectors and a coefficient still fit 32 registers.
    static constexpr int twinOutputs = 4;
    // The row loops copy the rows of the tiles to come, a load per two doubles and a store per
    // double beside each row's sixteen multiplies and adds, where the batch's rows are more than
    // the first-level cache holds: rows that it holds go faster in one pass (one channel's segments
    // of a 1,000-sample block, 12 KiB, lost 7 % fed by the row loops, and gained as much from
    // 10,000-sample blocks).
    static constexpr uint64_t rowLoopFeedBytes = 32 * 1024;
    [[gnu::always_inline]] static void transposeTile(const double* const* in, double* const* out) {
        // Half the work is in the loads: each vector takes four doubles of one row into its
        // low half and four of another into its high half by broadcast loads, which use the
        // load ports and not the shuffle unit. Rows {0,1,4,5} go low and {2,3,6,7} high, so
        // that two in-lane unpacks and one 128-bit shuffle finish every column in order. The
        // masked forms of the intrinsics are used because the plain ones warn in this compiler.
        constexpr int low[4] = {0, 1, 4, 5};
        constexpr int high[4] = {2, 3, 6, 7};
        for (int half = 0; half < 8; half += 4) {
            __m512d rows[4];
            for (int i = 0; i < 4; ++i) {
                rows[i] = _mm512_mask_broadcast_f64x4(
                    _mm512_maskz_broadcast_f64x4(0x0F, _mm256_loadu_pd(in[low[i]] + half)), 0xF0,
                    _mm256_loadu_pd(in[high[i]] + half));
            }
            const __m512d even01 = _mm512_mask_unpacklo_pd(rows[0], 0xFF, rows[0], rows[1]);
            const __m512d odd01 = _mm512_mask_unpackhi_pd(rows[0], 0xFF, rows[0], rows[1]);
            const __m512d even23 = _mm512_mask_unpacklo_pd(rows[2], 0xFF, rows[2], rows[3]);
            const __m512d odd23 = _mm512_mask_unpackhi_pd(rows[2], 0xFF, rows[2], rows[3]);
            _mm512_storeu_pd(out[half],
                             _mm512_mask_shuffle_f64x2(even01, 0xFF, even01, even23, 0x88));
            _mm512_storeu_pd(out[half + 1],
                             _mm512_mask_shuffle_f64x2(odd01, 0xFF, odd01, odd23, 0x88));
            _mm512_storeu_pd(out[half + 2],
                             _mm512_mask_shuffle_f64x2(even01, 0xFF, even01, even23, 0xDD));
            _mm512_storeu_pd(out[half + 3],
                             _mm512_mask_shuffle_f64x2(odd01, 0xFF, odd01, odd23, 0xDD));
        }
    }
};

void avx512ChannelLanes(const PolyphaseBatch& batch) {
    channelLanes<Avx512, 8, 8>(batch);
}

void avx512SingleChannel(const PolyphaseBatch& batch) {
    singleChannel<Avx512>(batch);
}

// Sixteen input times in two vectors. With a tolerance of 0 or more, sample - time <= tolerance
// is the scalar walk's test (tolerance >= |sample - time| or time > sample) for every value,
// infinities and NaN included: a sample before the time gives a difference below 0.
struct Avx512Window {
    // A group of eight times tests two vectors each: the walk waits on a load half as often.
    static constexpr uint64_t kGroupTimes = 8;
    struct Window {
        __m512d low;
        __m512d high;
    };
    static Window load(const double* p) { return {_mm512_loadu_pd(p), _mm512_loadu_pd(p + 8)}; }
    static uint32_t belongs(const Window& window, double time, double tolerance) {
        const __m512d at = _mm512_set1_pd(time);
        const __m512d limit = _mm512_set1_pd(tolerance);
        const __mmask8 low = _mm512_cmp_pd_mask(_mm512_sub_pd(window.low, at), limit, _CMP_LE_OQ);
        const __mmask8 high = _mm512_cmp_pd_mask(_mm512_sub_pd(window.high, at), limit, _CMP_LE_OQ);
        return _cvtmask16_u32(_mm512_kunpackb(high, low));
    }
    // The first eight of them, for inputs that advance by little per time.
    struct Narrow {
        __m512d low;
    };
    static Narrow loadNarrow(const double* p) { return {_mm512_loadu_pd(p)}; }
    static uint32_t belongs(const Narrow& window, double time, double tolerance) {
        const __m512d at = _mm512_set1_pd(time);
        const __m512d limit = _mm512_set1_pd(tolerance);
        return static_cast<uint32_t>(
            _mm512_cmp_pd_mask(_mm512_sub_pd(window.low, at), limit, _CMP_LE_OQ));
    }
};

constexpr PolyphaseKernel kernel{"avx512",           Avx512::width,      8, 0, Avx512::width,
                                 avx512ChannelLanes, avx512SingleChannel};

}  // namespace

// Eight outputs at a time whose slots lie within 16 samples of the first: two loads and one
// two-source permute instead of eight scalar loads. Held inputs of about the output rate advance
// by a sample or two per output, so nearly every block of eight qualifies. A block within 32
// samples, as at two or three inputs per output, takes four loads, two permutes and a blend; it
// is marked by the window's top bit. The others go one by one.
constexpr uint64_t kWideWindow = static_cast<uint64_t>(1) << 63;

void avx512PlanGather(const uint64_t* slots, uint64_t count, uint64_t sourceSize,
                      GatherPlan& plan) {
    const __m512i narrow = _mm512_set1_epi64(16);
    const __m512i wide = _mm512_set1_epi64(32);
    for (uint64_t k = 0; k + 8 <= count; k += 8) {
        const uint64_t base = slots[k];
        const __m512i offsets = _mm512_sub_epi64(_mm512_loadu_si512(slots + k),
                                                 _mm512_set1_epi64(static_cast<long long>(base)));
        uint64_t entry = GatherPlan::kElementWise;
        if (sourceSize >= 16 && base <= sourceSize - 16 &&
            _mm512_cmplt_epu64_mask(offsets, narrow) == 0xFF) {
            entry = base;
        } else if (sourceSize >= 32 && base <= sourceSize - 32 &&
                   _mm512_cmplt_epu64_mask(offsets, wide) == 0xFF) {
            entry = base | kWideWindow;
        }
        plan.window[k / 8] = entry;
        if (entry != GatherPlan::kElementWise) {
            _mm512_mask_cvtepi64_storeu_epi8(plan.offsets + k, 0xFF, offsets);
        }
    }
}

void avx512PlannedGather(const double* source, const uint64_t* slots, uint64_t count,
                         const GatherPlan& plan, double* target) {
    const __m512i upper = _mm512_set1_epi64(16);
    uint64_t k = 0;
    for (; k + 8 <= count; k += 8) {
        const uint64_t entry = plan.window[k / 8];
        if (entry != GatherPlan::kElementWise) {
            // The permutes read the low four bits of each offset; bit 4 picks the upper sixteen.
            const __m512i offsets = _mm512_maskz_cvtepu8_epi64(
                0xFF, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(plan.offsets + k)));
            const double* window = source + (entry & ~kWideWindow);
            __m512d values = _mm512_permutex2var_pd(_mm512_loadu_pd(window), offsets,
                                                    _mm512_loadu_pd(window + 8));
            if ((entry & kWideWindow) != 0) {
                const __m512d far = _mm512_permutex2var_pd(_mm512_loadu_pd(window + 16), offsets,
                                                           _mm512_loadu_pd(window + 24));
                values = _mm512_mask_blend_pd(_mm512_test_epi64_mask(offsets, upper), values, far);
            }
            _mm512_storeu_pd(target + k, values);
            continue;
        }
        for (uint64_t i = k; i < k + 8; ++i) {
            target[i] = source[slots[i]];
        }
    }
    for (; k < count; ++k) {
        target[k] = source[slots[k]];
    }
}

void avx512Gather(const double* source, uint64_t sourceSize, const uint64_t* slots, uint64_t count,
                  double* target) {
    gatherByPlans(avx512PlanGather, avx512PlannedGather, source, sourceSize, slots, count, target);
}

uint64_t avx512Walk(const double* inputTimes, uint64_t end, uint64_t* position, const double* times,
                    uint64_t count, double newest, double tolerance, uint64_t* slots) {
    return walkStretch<Avx512Window>(inputTimes, end, position, times, count, newest, tolerance,
                                     slots);
}

void avx512StampRun(double* stamps, uint64_t first, uint64_t count, double dt, double t0) {
    stampRun(stamps, first, count, dt, t0);
}

void avx512GridRun(double* out, int32_t length, double base, double step) {
    gridRun(out, length, base, step);
}

const PolyphaseKernel& avx512Kernel() {
    return kernel;
}

}  // namespace Karvel::Tamlib::Resampler::Kernels
