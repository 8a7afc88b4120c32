#include "resampler/ResamplerChannel.h"

#include <limits>
#include <stdexcept>

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

void ResamplerChannel::adoptRings(std::vector<double>& input, std::vector<double>& output) {
    inputBuffer.swap(input);
    inputCapacity = inputBuffer.size();
    outputBuffer.swap(output);
    outputCapacity = outputBuffer.size();
    keepRings();
}

void ResamplerChannel::keepRings() {
    inputWriteIndex %= inputCapacity == 0 ? 1 : inputCapacity;
    outputReadIndex %= outputCapacity;
    samplesStored = 0;
}

void ResamplerChannel::adoptInputRing(std::vector<double>& input, uint64_t writeSlot) {
    inputBuffer.swap(input);
    inputCapacity = inputBuffer.size();
    inputWriteIndex = writeSlot;
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

void ResamplerChannel::copySample(uint64_t inputSample, uint64_t outputSample) {
    if (arraySize == 1) {
        // The slots are already within the rings but for a channel whose rings differ in size.
        const uint64_t target =
            outputSample < outputCapacity ? outputSample : outputSample % outputCapacity;
        const uint64_t source =
            inputSample < inputCapacity ? inputSample : inputSample % inputCapacity;
        outputBuffer[target] = inputBuffer[source];
        return;
    }
    if (arraySize < 1) {
        return;
    }
    const auto width = static_cast<uint64_t>(arraySize);
    uint64_t source = (width * inputSample + inputCapacity) % inputCapacity;
    uint64_t target = (width * outputSample + outputCapacity) % outputCapacity;
    for (uint64_t k = 0; k < width; ++k) {
        outputBuffer[target] = inputBuffer[source];
        if (++source >= inputCapacity) {
            source = 0;
        }
        if (++target >= outputCapacity) {
            target = 0;
        }
    }
}

void ResamplerChannel::readOutput(double* data, uint64_t count) {
    if (count >= outputCapacity) {
        throw std::invalid_argument("Too many samples requested.");
    }
    if (arraySize < 1 || inert) {
        return;
    }
    const auto width = static_cast<uint64_t>(arraySize);
    const uint64_t slot = (width * outputReadIndex + outputCapacity) % outputCapacity;
    Ring::copyOut(outputBuffer.data(), outputCapacity, slot, data, count * width);
    outputReadIndex = (outputCapacity + count + outputReadIndex) % outputCapacity;
}

}  // namespace Karvel::Tamlib::Resampler
