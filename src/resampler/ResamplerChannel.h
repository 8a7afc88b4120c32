#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "dsp/DspObject.h"

namespace Karvel::Tamlib::Resampler {

// One input signal: its value rings and its cursors. Timing is shared per group.
class ResamplerChannel : public Dsp::DspObject::DspObject {
public:
    ResamplerChannel() = default;
    ~ResamplerChannel() override;

    void resizeBuffers(uint64_t inputSize, uint64_t outputSize);
    void setIsArray(int32_t value);
    void setArraySize(int32_t value);

    // Appends values at the write cursor, wrapping; counts samples as the channel kind says.
    void appendValues(const double* values, uint64_t count);

    // Whole samples the input ring keeps before the oldest is overwritten.
    uint64_t inputSampleCapacity() const;

    std::vector<double> inputBuffer;
    std::vector<double> outputBuffer;
    uint64_t inputWriteIndex = 0;
    uint64_t outputReadIndex = 0;
    int32_t isArray = 0;
    int32_t arraySize = 1;
    uint64_t inputCapacity = 0;
    uint64_t outputCapacity = 0;
    uint64_t samplesAdded = 0;
    // Samples whose values were written since the last reset or ring rebuild, counted as
    // samplesAdded counts them; beside the group's stampsStored it tells whether the values ran
    // ahead of their time stamps far enough to overwrite stamped samples.
    uint64_t samplesStored = 0;
    double blockEndTimeInMiliseconds = std::numeric_limits<double>::infinity();
    // Set when an array registration was refused: the channel stays registered but takes part
    // in nothing, since its layout does not fit the rings.
    bool inert = false;

protected:
    void recompute() override;
};

}  // namespace Karvel::Tamlib::Resampler
