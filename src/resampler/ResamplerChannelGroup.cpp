#include "resampler/ResamplerChannelGroup.h"

#include <algorithm>
#include <stdexcept>

namespace Karvel::Tamlib::Resampler {

ResamplerChannelGroup::ResamplerChannelGroup() : generatedTimes(2000, 0.0) {}

ResamplerChannelGroup::~ResamplerChannelGroup() {
    std::string().swap(name);
    std::vector<double>().swap(inputTimes);
    channels.clear();
    std::vector<double>().swap(generatedTimes);
    std::vector<double>().swap(outputTimes);
}

void ResamplerChannelGroup::recompute() {
    firstBlock = true;
    sampleCount = 0;
    expectedOutputCount = 0;
    pendingCount = 0;
    stampsStored = 0;
    inputWriteIndex = 0;
    outputTimesReadIndex = 0;
    masterTimesReadIndex = 0;
    outputWriteIndex = 0;
    inputReadIndex = 0;
    timeMasterChannel = nullptr;
    resampledCount = 0;
    masterTimesRead = 0;
    hasStoredSample = false;
    hasProduced = false;
    endOfDataDone = false;
}

void ResamplerChannelGroup::resizeBuffers(uint64_t inputSize, uint64_t outputSize) {
    std::vector<double> newInput(inputSize, 0.0);
    std::vector<double> newOutput(outputSize, 0.0);
    inputTimes.swap(newInput);
    inputBufferSize = inputSize;
    outputTimes.swap(newOutput);
    outputBufferSize = outputSize;
}

void ResamplerChannelGroup::setSamplerate(double value) {
    if (0.0 >= value) {
        throw std::invalid_argument("Samplerate must be more than 0.");
    }
    samplerate = value;
    update();
}

void ResamplerChannelGroup::setInitialOffset(double value) {
    initialOffset = value;
    update();
}

void ResamplerChannelGroup::setTiming(const int32_t& value) {
    timing = value;
    update();
}

void ResamplerChannelGroup::setName(const std::string& value) {
    name = value;
    update();
}

uint64_t ResamplerChannelGroup::newestInputSlot() const {
    return inputWriteIndex == 0 ? inputBufferSize - 1 : inputWriteIndex - 1;
}

uint64_t ResamplerChannelGroup::inputSampleCapacity() const {
    uint64_t capacity = inputBufferSize;
    for (const auto& channel : channels) {
        capacity = std::min(capacity, channel->inputSampleCapacity());
    }
    return capacity;
}

uint64_t ResamplerChannelGroup::intactSampleCount() const {
    uint64_t intact = inputSampleCapacity();
    for (const auto& channel : channels) {
        intact = std::min(intact, stampedSamplesHeld(*channel));
    }
    return intact;
}

bool ResamplerChannelGroup::valuesOverranStamps() const {
    for (const auto& channel : channels) {
        if (stampedSamplesHeld(*channel) == 0) {
            return true;
        }
    }
    return false;
}

uint64_t ResamplerChannelGroup::stampedSamplesHeld(const ResamplerChannel& channel) const {
    if (channel.arraySize <= 0 || channel.samplesStored <= stampsStored) {
        return std::numeric_limits<uint64_t>::max();
    }
    // Sample k's values are gone once samplesStored - k exceeds the samples the ring holds; the
    // stamped samples still held are the newest, within that many of the newest value.
    const uint64_t ahead = channel.samplesStored - stampsStored;
    const uint64_t held = channel.inputSampleCapacity();
    return ahead >= held ? 0 : held - ahead;
}

}  // namespace Karvel::Tamlib::Resampler
