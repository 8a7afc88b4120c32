#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dsp/DspObject.h"
#include "resampler/ResamplerChannel.h"

namespace Karvel::Tamlib::Resampler {

enum GroupTiming : int32_t { RateDefined = 0, Timestamped = 1 };

// Channels that share one time axis: input stamps, read position, output times.
class ResamplerChannelGroup : public Dsp::DspObject::DspObject {
public:
    ResamplerChannelGroup();
    ~ResamplerChannelGroup() override;

    void resizeBuffers(uint64_t inputSize, uint64_t outputSize);
    void setSamplerate(double value);
    void setInitialOffset(double value);
    void setTiming(const int32_t& value);
    void setName(const std::string& value);

    // Newest stored input time stamp (the slot before the write cursor).
    uint64_t newestInputSlot() const;
    double newestInputTime() const { return inputTimes[newestInputSlot()]; }

    // Whole samples that every channel and the time ring still hold.
    uint64_t inputSampleCapacity() const;
    // Of the newest stamped samples, how many still have their time stamp and the values of
    // every channel stored. Values added ahead of their stamps overwrite the oldest values, so
    // this can be fewer than the capacity, or none.
    uint64_t intactSampleCount() const;
    // Whether some channel's values overwrote even the newest stamped sample's.
    bool valuesOverranStamps() const;

    uint64_t inputReadIndex = 0;
    uint64_t inputWriteIndex = 0;
    uint64_t outputTimesReadIndex = 0;
    uint64_t masterTimesReadIndex = 0;
    uint64_t outputWriteIndex = 0;
    int64_t sampleCount = 0;
    bool firstBlock = true;
    std::vector<double> outputTimes;
    double startTime = -1.0;
    double endTime = -1.0;
    int32_t timing = RateDefined;
    double samplerate = 1000.0;
    double initialOffset = 0.0;
    uint64_t inputBufferSize = 0;
    uint64_t outputBufferSize = 0;
    uint64_t pendingCount = 0;
    // Time stamps stored since the last reset or ring rebuild (sample k's at slot k mod size).
    uint64_t stampsStored = 0;
    uint64_t resampledCount = 0;
    std::vector<double> generatedTimes;
    std::vector<std::shared_ptr<ResamplerChannel>> channels;
    std::vector<double> inputTimes;
    uint64_t expectedOutputCount = 0;
    std::string name;
    ResamplerChannel* timeMasterChannel = nullptr;

    // Master times read since the last ring rebuild; its slot is masterTimesReadIndex.
    uint64_t masterTimesRead = 0;
    // Whether any time stamp was stored since the group's last reset.
    bool hasStoredSample = false;
    // Whether the group has produced an output since its last reset.
    bool hasProduced = false;
    // Set once the method has finished the group's end of data itself (the filter flush).
    bool endOfDataDone = false;
    bool inert = false;

protected:
    void recompute() override;

private:
    uint64_t stampedSamplesHeld(const ResamplerChannel& channel) const;
};

}  // namespace Karvel::Tamlib::Resampler
