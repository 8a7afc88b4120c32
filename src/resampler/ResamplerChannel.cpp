#include "resampler/ResamplerChannel.h"

#include <limits>
#include <stdexcept>

namespace Karvel::Tamlib::Resampler {

ResamplerChannel::~ResamplerChannel() = default;

void ResamplerChannel::recompute() {
    materializeHeld();
    inputRing.setWriteSlot(0);
    outputReadIndex = 0;
    samplesAdded = 0;
    samplesStored = 0;
}

void ResamplerChannel::resizeBuffers(uint64_t inputSize, uint64_t outputSize) {
    Ring newInput(inputSize);
    Ring newOutput(outputSize);
    held.clear();
    inputRing.takeSlots(newInput);
    outputRing.takeSlots(newOutput);
}

void ResamplerChannel::adoptRings(Ring& input, Ring& output) {
    held.clear();
    inputRing.takeSlots(input);
    outputRing.takeSlots(output);
    keepRings();
}

void ResamplerChannel::keepRings() {
    materializeHeld();
    inputRing.foldWriteSlot();
    outputReadIndex %= outputRing.size();
    samplesStored = 0;
}

void ResamplerChannel::adoptInputRing(Ring& input, uint64_t writeSlot) {
    materializeHeld();
    inputRing.takeSlots(input);
    inputRing.setWriteSlot(writeSlot);
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
    materializeHeld();
    const uint64_t samples = (isArray == 0) ? count : 1;
    samplesAdded += samples;
    samplesStored = samplesStored > std::numeric_limits<uint64_t>::max() - samples
                        ? std::numeric_limits<uint64_t>::max()
                        : samplesStored + samples;
    inputRing.append(values, count);
    const auto start = reinterpret_cast<uintptr_t>(values);
    continuedBlock = isArray == 0 && arraySize == 1 && count > 0 && start == lastBlockEnd;
    lastBlockEnd = start + count * sizeof(double);
    lastBlockSamples = count;
}

uint64_t ResamplerChannel::inputSampleCapacity() const {
    if (arraySize < 0) {
        return 0;
    }
    if (arraySize == 0) {
        // Samples without values take no room in the value ring.
        return std::numeric_limits<uint64_t>::max();
    }
    return inputRing.size() / static_cast<uint64_t>(arraySize);
}

void ResamplerChannel::copySample(uint64_t inputSample, uint64_t outputSample) {
    materializeHeld();
    const uint64_t inputCapacity = inputRing.size();
    const uint64_t outputCapacity = outputRing.size();
    if (arraySize == 1) {
        // The slots are already within the rings but for a channel whose rings differ in size.
        const uint64_t target =
            outputSample < outputCapacity ? outputSample : outputSample % outputCapacity;
        const uint64_t source =
            inputSample < inputCapacity ? inputSample : inputSample % inputCapacity;
        outputRing[target] = inputRing[source];
        return;
    }
    if (arraySize < 1) {
        return;
    }
    const auto width = static_cast<uint64_t>(arraySize);
    inputRing.copyTo((width * inputSample + inputCapacity) % inputCapacity, outputRing,
                     (width * outputSample + outputCapacity) % outputCapacity, width);
}

void ResamplerChannel::readOutput(double* data, uint64_t count) {
    const uint64_t outputCapacity = outputRing.size();
    if (count >= outputCapacity) {
        throw std::invalid_argument("Too many samples requested.");
    }
    if (arraySize < 1 || inert) {
        return;
    }
    const auto width = static_cast<uint64_t>(arraySize);
    const uint64_t slot = (width * outputReadIndex + outputCapacity) % outputCapacity;
    if (held.empty()) {
        outputRing.copyOut(slot, data, count * width);
    } else {
        held.read(slot, data, count, inputRing, outputRing);
    }
    outputReadIndex = (outputCapacity + count + outputReadIndex) % outputCapacity;
}

}  // namespace Karvel::Tamlib::Resampler
