#include "resampler/MasterGrid.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace Karvel::Tamlib::Resampler {

namespace {

// The number of steps of `delta` from `time` that stay below `top`, the binade's end.
uint64_t stepsWithin(double time, double delta, double top, uint64_t limit) {
    const double room = std::floor((top - time) / delta);
    auto steps = room >= static_cast<double>(limit) ? limit : static_cast<uint64_t>(room);
    // The quotient may round up by one; the products below are exact.
    while (steps > 0 && !(time + static_cast<double>(steps) * delta < top)) {
        --steps;
    }
    return steps;
}

}  // namespace

void sumGrid(double* at, uint64_t count, double& time, double dt, Kernels::GridRunFunction run) {
    constexpr uint64_t kChunk = uint64_t{1} << 30;
    uint64_t done = 0;
    while (done < count) {
        uint64_t steps = 0;
        double delta = 0.0;
        if (time > 0.0 && std::isnormal(time) && dt > 0.0 && std::isfinite(dt)) {
            int exponent = 0;
            std::frexp(time, &exponent);  // time lies in [2^(exponent - 1), 2^exponent)
            const double ulp = std::ldexp(1.0, exponent - 53);
            const double quotient = std::ldexp(dt, 53 - exponent);  // dt / ulp, exactly
            const double whole = std::floor(quotient);
            if (std::isfinite(quotient) && quotient - whole != 0.5 && quotient < 0x1p52) {
                delta = std::nearbyint(quotient) * ulp;
                const double top = std::ldexp(1.0, exponent);
                steps =
                    delta > 0.0 ? stepsWithin(time, delta, top, std::min(count - done, kChunk)) : 0;
            }
        }
        if (steps == 0) {
            // Crossing into the next binade, a halfway dt or a time that is not a positive
            // normal number: one sum.
            time = time + dt;
            at[done++] = time;
            continue;
        }
        // j * delta < 2^52 ulps, so every product and sum is exact.
        const auto length = static_cast<int32_t>(steps);
        double* out = at + done;
        run(out, length, time, delta);
        time = out[length - 1];
        done += steps;
    }
}

}  // namespace Karvel::Tamlib::Resampler
