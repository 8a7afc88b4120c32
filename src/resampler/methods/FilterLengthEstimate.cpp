#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

#include "dsp/CheckedConversion.h"
#include "dsp/fir/Filter.h"
#include "resampler/methods/ResamplerAliasFree.h"

namespace Karvel::Tamlib::Resampler {

std::optional<int32_t> ResamplerAliasFree::estimateFilterLength(double outputRate, double inputRate,
                                                                int32_t percent,
                                                                double attenuation) {
    const auto wholeOut = Dsp::truncateChecked<int32_t>(outputRate);
    const auto wholeIn = Dsp::truncateChecked<int32_t>(inputRate);
    if (!wholeOut || !wholeIn) {
        return std::nullopt;
    }
    if (*wholeOut < 1 || *wholeIn < 1) {
        return 0;
    }
    if (percent <= 0 || !std::isfinite(attenuation)) {
        return std::nullopt;
    }
    const int32_t divisor = std::gcd(*wholeOut, *wholeIn);
    const int32_t up = *wholeOut / divisor;
    const int32_t down = *wholeIn / divisor;

    const double x = Dsp::Fir::kaiserOrderEstimate(
        attenuation, static_cast<double>(up) * inputRate,
        std::min(inputRate, outputRate) * (static_cast<double>(percent) / 100.0));
    const auto length = Dsp::truncateChecked<int32_t>(std::ceil(x) + 1.0);
    if (!length) {
        return std::nullopt;
    }
    const auto centre = static_cast<int32_t>((*length - 1) * 0.5);
    const int64_t pre = down - centre % down;
    const int64_t padded = pre + *length;
    const int64_t pad = (up + (-padded) % up) % up;
    const int64_t estimate = (padded + pad) / up;
    if (estimate > std::numeric_limits<int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<int32_t>(estimate);
}

uint32_t ResamplerAliasFree::filterLengthEstimate(double outputRate, double inputRate,
                                                  int32_t percent, double attenuation) {
    return static_cast<uint32_t>(
        estimateFilterLength(outputRate, inputRate, percent, attenuation).value_or(0));
}

}  // namespace Karvel::Tamlib::Resampler
