#pragma once

#include "resampler/Resampler.h"

namespace Karvel::Tamlib::Resampler {

// Linear interpolation between the two input samples around each output time. Scalar channels
// only: a resampler holding an array channel produces nothing.
class ResamplerLinear : public Resampler {
public:
    ResamplerLinear();
    ~ResamplerLinear() override;

    bool isChannelUnsupported(const ResamplerChannel& channel) const override;
    void resampleGroup(ResamplerChannelGroup& group) override;

private:
    // The vector walk of the instruction set chosen when the resampler was made, if it has one.
    Kernels::WalkFunction walk = Kernels::selectWalk();
};

}  // namespace Karvel::Tamlib::Resampler
