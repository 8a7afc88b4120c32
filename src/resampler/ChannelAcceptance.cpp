#include "resampler/ChannelAcceptance.h"

#include "resampler/methods/ResamplerAliasFree.h"

namespace Karvel::Tamlib::Resampler {

bool canAcceptChannel(int32_t method, int32_t isArray, uint64_t inputBufferSize, double outputRate,
                      double inputRate, int32_t percent, double attenuation) {
    if (inputBufferSize == 0) {
        return false;
    }
    switch (method) {
        case Hold:
            return true;
        case Linear:
            return inputBufferSize >= 2 && isArray == 0;
        case AliasFree: {
            const auto estimate = ResamplerAliasFree::estimateFilterLength(outputRate, inputRate,
                                                                           percent, attenuation);
            return estimate.has_value() &&
                   inputBufferSize >= static_cast<uint64_t>(static_cast<int64_t>(*estimate)) &&
                   isArray == 0;
        }
        default:
            return false;
    }
}

}  // namespace Karvel::Tamlib::Resampler
