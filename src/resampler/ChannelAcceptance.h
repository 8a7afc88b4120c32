#pragma once

#include <cstdint>

namespace Karvel::Tamlib::Resampler {

// Whether a resampler of this method could take a channel of this kind with an input ring of
// inputBufferSize samples: hold takes any, linear needs two samples of a plain channel, the
// alias-free filter a ring as long as its branches for these rates.
bool canAcceptChannel(int32_t method, int32_t isArray, uint64_t inputBufferSize, double outputRate,
                      double inputRate, int32_t percent, double attenuation);

}  // namespace Karvel::Tamlib::Resampler
