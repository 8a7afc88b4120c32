#include "resampler/StampChecks.h"

#include <cmath>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define TAMLIB_STAMP_CHECKS_SSE2 1
#endif

namespace Karvel::Tamlib::Resampler {

// These run over every stamp a host adds, once per channel that carries stamps: written with
// two-lane vectors where the compiler leaves the loops scalar, and without a branch per stamp,
// so that the loads of a block still out of the cache run ahead of the test. The chains from
// one stamp to the next are of bitwise ands only.

// A stamp minus itself is zero where it is finite and NaN where it is an infinity or a NaN.
bool allFinite(const double* times, uint64_t count) {
    uint64_t k = 0;
    bool finite = true;
#if defined(TAMLIB_STAMP_CHECKS_SSE2)
    const __m128d zero = _mm_setzero_pd();
    __m128d low = _mm_castsi128_pd(_mm_set1_epi64x(-1));
    __m128d high = low;
    for (; k + 4 <= count; k += 4) {
        const __m128d first = _mm_loadu_pd(times + k);
        const __m128d second = _mm_loadu_pd(times + k + 2);
        low = _mm_and_pd(low, _mm_cmpeq_pd(_mm_sub_pd(first, first), zero));
        high = _mm_and_pd(high, _mm_cmpeq_pd(_mm_sub_pd(second, second), zero));
    }
    finite = _mm_movemask_pd(_mm_and_pd(low, high)) == 3;
#endif
    for (; k < count; ++k) {
        finite &= times[k] - times[k] == 0.0;
    }
    return finite;
}

RepeatedStamps compareStamps(const double* times, const double* stored, uint64_t count,
                             double tolerance) {
    uint64_t k = 0;
    RepeatedStamps result;
#if defined(TAMLIB_STAMP_CHECKS_SSE2)
    // The sign bit cleared gives the magnitude; a NaN difference fails the test, as it does
    // below.
    const __m128d zero = _mm_setzero_pd();
    const __m128d magnitude = _mm_castsi128_pd(_mm_set1_epi64x(0x7fffffffffffffff));
    const __m128d limit = _mm_set1_pd(tolerance);
    const __m128d allBits = _mm_castsi128_pd(_mm_set1_epi64x(-1));
    __m128d finite = allBits;
    __m128d matching = allBits;
    for (; k + 4 <= count; k += 4) {
        const __m128d first = _mm_loadu_pd(times + k);
        const __m128d second = _mm_loadu_pd(times + k + 2);
        finite = _mm_and_pd(finite, _mm_and_pd(_mm_cmpeq_pd(_mm_sub_pd(first, first), zero),
                                               _mm_cmpeq_pd(_mm_sub_pd(second, second), zero)));
        const __m128d low = _mm_sub_pd(first, _mm_loadu_pd(stored + k));
        const __m128d high = _mm_sub_pd(second, _mm_loadu_pd(stored + k + 2));
        matching =
            _mm_and_pd(matching, _mm_and_pd(_mm_cmple_pd(_mm_and_pd(low, magnitude), limit),
                                            _mm_cmple_pd(_mm_and_pd(high, magnitude), limit)));
    }
    result.finite = _mm_movemask_pd(finite) == 3;
    result.matching = _mm_movemask_pd(matching) == 3;
#endif
    for (; k < count; ++k) {
        result.finite &= times[k] - times[k] == 0.0;
        result.matching &= std::abs(times[k] - stored[k]) <= tolerance;
    }
    return result;
}

}  // namespace Karvel::Tamlib::Resampler
