#include <algorithm>
#include <cstring>

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

uint64_t Resampler::masterTimesAvailable(ResamplerChannelGroup& group) const {
    if (masterTimesWritten > group.masterTimesRead &&
        masterTimesWritten - group.masterTimesRead > outputBufferSize) {
        // The group lagged more than a ring behind: go on from the oldest time still stored.
        group.masterTimesRead = masterTimesWritten - outputBufferSize;
        group.masterTimesReadIndex = group.masterTimesRead % outputBufferSize;
        group.hasProduced = false;
    }
    return masterTimesWritten > group.masterTimesRead ? masterTimesWritten - group.masterTimesRead
                                                      : 0;
}

void Resampler::skipOverwrittenInput(ResamplerChannelGroup& group) const {
    const uint64_t capacity = group.intactSampleCount();
    if (group.pendingCount <= capacity) {
        return;
    }
    // Go on from the oldest sample whose values and time stamp are all still stored; with none
    // the group waits for stamps that catch up with the values.
    const uint64_t size = group.inputBufferSize;
    group.inputReadIndex = (group.inputWriteIndex + size - capacity % size) % size;
    group.pendingCount = capacity;
}

void Resampler::produceOutput(ResamplerChannelGroup& group, double time) const {
    group.outputTimes[group.outputWriteIndex] = time;
    ++group.resampledCount;
    if (++group.masterTimesReadIndex >= outputBufferSize) {
        group.masterTimesReadIndex = 0;
    }
    ++group.masterTimesRead;
    if (++group.outputWriteIndex >= group.outputBufferSize) {
        group.outputWriteIndex = 0;
    }
    group.hasProduced = true;
}

void Resampler::copySample(ResamplerChannel& channel, uint64_t inputSample, uint64_t outputSample) {
    if (channel.arraySize == 1) {
        // The slots are already within the rings but for a channel whose rings differ in size.
        const uint64_t target = outputSample < channel.outputCapacity
                                    ? outputSample
                                    : outputSample % channel.outputCapacity;
        const uint64_t source =
            inputSample < channel.inputCapacity ? inputSample : inputSample % channel.inputCapacity;
        channel.outputBuffer[target] = channel.inputBuffer[source];
        return;
    }
    if (channel.arraySize < 1) {
        return;
    }
    const auto width = static_cast<uint64_t>(channel.arraySize);
    uint64_t source = (width * inputSample + channel.inputCapacity) % channel.inputCapacity;
    uint64_t target = (width * outputSample + channel.outputCapacity) % channel.outputCapacity;
    for (uint64_t k = 0; k < width; ++k) {
        channel.outputBuffer[target] = channel.inputBuffer[source];
        if (++source >= channel.inputCapacity) {
            source = 0;
        }
        if (++target >= channel.outputCapacity) {
            target = 0;
        }
    }
}

}  // namespace Karvel::Tamlib::Resampler
