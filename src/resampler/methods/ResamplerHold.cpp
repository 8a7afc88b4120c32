#include "resampler/methods/ResamplerHold.h"

namespace Karvel::Tamlib::Resampler {

ResamplerHold::ResamplerHold() {
    method = Hold;
}

ResamplerHold::~ResamplerHold() = default;

void ResamplerHold::resampleGroup(ResamplerChannelGroup& group, int32_t /*groupIndex*/) {
    walkMasterTimes(group, [&group](double /*time*/) {
        for (const auto& channel : group.channels) {
            copySample(*channel, group.inputReadIndex, group.outputWriteIndex);
        }
    });
}

}  // namespace Karvel::Tamlib::Resampler
