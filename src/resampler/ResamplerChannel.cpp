#include "resampler/ResamplerChannel.h"

#include <limits>

#include "resampler/Ring.h"

namespace Karvel::Tamlib::Resampler {

ResamplerChannel::~ResamplerChannel() {
    std::vector<double>().swap(outputBuffer);
    std::vector<double>().swap(inputBuffer);
}

void ResamplerChannel::recompute() {
    inputWriteIndex = 0;
    outputReadIndex = 0;
    samplesAdded = 0;
    samplesStored = 0;
}

void ResamplerChannel::resizeBuffers(uint64_t inputSize, uint64_t outputSize) {
    std::vector<double> newInput(inputSize, 0.0);
    std::vector<double> newOutput(outputSize, 0.0);
    inputBuffer.swap(newInput);
    inputCapacity = inputSize;
    outputBuffer.swap(newOutput);
    outputCapacity = outputSize;
}

void ResamplerChannel::setIsArray(int32_t value) {
    isArray = value;
    update();
}

void ResamplerChannel::setArraySize(int32_t value) {
    arraySize = value;
    update();
}

void ResamplerChannel::appendValues(const double* values, uint64_t count) {
    const uint64_t samples = (isArray == 0) ? count : 1;
    samplesAdded += samples;
    samplesStored = samplesStored > std::numeric_limits<uint64_t>::max() - samples
                        ? std::numeric_limits<uint64_t>::max()
                        : samplesStored + samples;
    // Only the newest inputCapacity values can survive; skipping the rest keeps the cursor where
    // writing them one by one would have left it.
    uint64_t first = 0;
    if (count > inputCapacity) {
        first = count - inputCapacity;
        inputWriteIndex = (inputWriteIndex + first % inputCapacity) % inputCapacity;
    }
    inputWriteIndex = Ring::copyIn(inputBuffer.data(), inputCapacity, inputWriteIndex,
                                   values + first, count - first);
}

uint64_t ResamplerChannel::inputSampleCapacity() const {
    if (arraySize < 0) {
        return 0;
    }
    if (arraySize == 0) {
        // Samples without values take no room in the value ring.
        return std::numeric_limits<uint64_t>::max();
    }
    return inputCapacity / static_cast<uint64_t>(arraySize);
}

}  // namespace Karvel::Tamlib::Resampler
