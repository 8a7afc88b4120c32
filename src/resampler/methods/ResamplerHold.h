#pragma once

#include "resampler/Resampler.h"
#include "resampler/methods/kernels/KernelDispatch.h"

namespace Karvel::Tamlib::Resampler {

// The copy of held samples, by the instruction set chosen when the resampler was made: planned
// once per run of slots for all the channels where the set has a plan, by the set's gather
// channel by channel otherwise.
struct HoldGather {
    Kernels::GatherFunction direct = nullptr;
    Kernels::GatherPlanFunction plan = nullptr;
    Kernels::PlannedGatherFunction planned = nullptr;
};

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
