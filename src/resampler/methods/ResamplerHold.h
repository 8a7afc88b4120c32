#pragma once

#include "resampler/HeldSlots.h"
#include "resampler/Resampler.h"
#include "resampler/methods/kernels/KernelDispatch.h"

namespace Karvel::Tamlib::Resampler {

// Sample-and-hold: each output takes the newest input sample at or before its time.
class ResamplerHold : public Resampler {
public:
    ResamplerHold();
    ~ResamplerHold() override;

    void resampleGroup(ResamplerChannelGroup& group) override;

private:
    HoldGather gather;
    Kernels::WalkFunction walk = Kernels::selectWalk();
};

}  // namespace Karvel::Tamlib::Resampler
