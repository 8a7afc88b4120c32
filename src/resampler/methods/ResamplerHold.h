#pragma once

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
    // The copy of held samples, by the instruction set chosen when the resampler was made.
    Kernels::GatherFunction gather = Kernels::selectGather();
    Kernels::WalkFunction walk = Kernels::selectWalk();
};

}  // namespace Karvel::Tamlib::Resampler
