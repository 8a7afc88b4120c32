#include "resampler/Resampler.h"

namespace Karvel::Tamlib::Resampler {

double Resampler::newestMasterTime() const {
    return masterTimes[masterTimesWriteIndex == 0 ? outputBufferSize - 1
                                                  : masterTimesWriteIndex - 1];
}

void Resampler::appendMasterTime(double time) {
    masterTimes[masterTimesWriteIndex] = time;
    if (++masterTimesWriteIndex >= outputBufferSize) {
        masterTimesWriteIndex = 0;
    }
    ++masterTimesWritten;
}

}  // namespace Karvel::Tamlib::Resampler
