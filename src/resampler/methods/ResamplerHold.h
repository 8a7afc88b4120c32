#pragma once

#include "resampler/Resampler.h"

namespace Karvel::Tamlib::Resampler {

// Sample-and-hold: each output takes the newest input sample at or before its time.
class ResamplerHold : public Resampler {
public:
    ResamplerHold();
    ~ResamplerHold() override;

    void resampleGroup(ResamplerChannelGroup& group, int32_t groupIndex) override;
};

}  // namespace Karvel::Tamlib::Resampler
