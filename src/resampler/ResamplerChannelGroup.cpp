#include "resampler/ResamplerChannelGroup.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "dsp/CheckedConversion.h"

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
    storedSample = false;
    produced = false;
    endOfDataDone = false;
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

void ResamplerChannelGroup::declareRange(double start, double end) {
    startTime = start;
    endTime = end;
}

void ResamplerChannelGroup::expectOutputsAt(double outputRate, bool roundUp) {
    double count = 0.0;
    if (startTime == -1.0 && endTime == -1.0) {
        const double product =
            static_cast<double>(static_cast<uint64_t>(sampleCount)) * (outputRate / samplerate);
        count = roundUp ? std::ceil(product) : std::round(product);
    } else {
        count = std::floor((endTime - startTime) * outputRate) + 1.0;
    }
    // A count that no integer can hold means no meaningful expectation.
    expectedOutputCount = Dsp::truncateChecked<uint64_t>(count).value_or(0);
}

ResamplerChannel& ResamplerChannelGroup::addChannel() {
    channels.push_back(std::make_shared<ResamplerChannel>());
    return *channels.back();
}

void ResamplerChannelGroup::adoptRings(std::vector<double>& inputTimesRing,
                                       std::vector<double>& outputTimesRing) {
    inputTimes.swap(inputTimesRing);
    inputBufferSize = inputTimes.size();
    outputTimes.swap(outputTimesRing);
    outputBufferSize = outputTimes.size();
    keepRings();
}

void ResamplerChannelGroup::keepRings() {
    inputReadIndex %= inputBufferSize == 0 ? 1 : inputBufferSize;
    inputWriteIndex %= inputBufferSize == 0 ? 1 : inputBufferSize;
    outputTimesReadIndex %= outputBufferSize;
    masterTimesReadIndex %= outputBufferSize;
    outputWriteIndex %= outputBufferSize;
    // Master times are counted afresh from slot 0: the group waits until its slot is written
    // again.
    masterTimesRead = masterTimesReadIndex;
    produced = false;
    // The new rings hold nothing of the old: values and stamps count as level again.
    stampsStored = 0;
}

void ResamplerChannelGroup::adoptInputRing(std::vector<double>& inputTimesRing,
                                           uint64_t writeSlot) {
    inputTimes.swap(inputTimesRing);
    inputBufferSize = inputTimes.size();
    inputWriteIndex = writeSlot;
}

namespace {

uint64_t saturatingAdd(uint64_t a, uint64_t b) {
    return a > std::numeric_limits<uint64_t>::max() - b ? std::numeric_limits<uint64_t>::max()
                                                        : a + b;
}

}  // namespace

void ResamplerChannelGroup::countStamps(ResamplerChannel& master, uint64_t count) {
    timeMasterChannel = &master;
    pendingCount = saturatingAdd(pendingCount, count);
    stampsStored = saturatingAdd(stampsStored, count);
    storedSample = storedSample || count > 0;
}

void ResamplerChannelGroup::appendStamps(ResamplerChannel& master, const double* times,
                                         uint64_t count) {
    appendStamps(master, count, [times](double* stamps, uint64_t first, uint64_t run) {
        std::memcpy(stamps, times + first, run * sizeof(double));
    });
}

void ResamplerChannelGroup::storeFirstStamp() {
    inputTimes[0] = initialOffset;
    inputWriteIndex = inputBufferSize > 1 ? 1 : 0;
    pendingCount = saturatingAdd(pendingCount, 1);
    stampsStored = saturatingAdd(stampsStored, 1);
    storedSample = true;
}

double* ResamplerChannelGroup::generatedStamps(uint64_t count) {
    generatedTimes.resize(count);
    return generatedTimes.data();
}

void ResamplerChannelGroup::consumeInput(uint64_t count) {
    inputReadIndex = Ring::advance(inputReadIndex, count, inputBufferSize);
    pendingCount -= count;
}

uint64_t ResamplerChannelGroup::consumePending(uint64_t count) {
    const uint64_t taken = std::min(pendingCount, count);
    pendingCount -= taken;
    return taken;
}

void ResamplerChannelGroup::skipOverwrittenInput() {
    const uint64_t capacity = intactSampleCount();
    if (pendingCount <= capacity) {
        return;
    }
    inputReadIndex =
        (inputWriteIndex + inputBufferSize - capacity % inputBufferSize) % inputBufferSize;
    pendingCount = capacity;
}

uint64_t ResamplerChannelGroup::masterTimesAvailable(uint64_t written, uint64_t masterSize) {
    if (written > masterTimesRead && written - masterTimesRead > masterSize) {
        masterTimesRead = written - masterSize;
        masterTimesReadIndex = masterTimesRead % masterSize;
        produced = false;
    }
    return written > masterTimesRead ? written - masterTimesRead : 0;
}

void ResamplerChannelGroup::takeMasterTimes(const double* master, uint64_t masterSize,
                                            uint64_t count) {
    Ring::copyAcross(master, masterSize, masterTimesReadIndex, outputTimes.data(), outputBufferSize,
                     outputWriteIndex, count);
    masterTimesReadIndex = Ring::advance(masterTimesReadIndex, count, masterSize);
    outputWriteIndex = Ring::advance(outputWriteIndex, count, outputBufferSize);
    masterTimesRead += count;
    resampledCount += count;
    produced = produced || count > 0;
}

void ResamplerChannelGroup::produceOutput(double time, uint64_t masterSize) {
    outputTimes[outputWriteIndex] = time;
    ++resampledCount;
    if (++masterTimesReadIndex >= masterSize) {
        masterTimesReadIndex = 0;
    }
    ++masterTimesRead;
    if (++outputWriteIndex >= outputBufferSize) {
        outputWriteIndex = 0;
    }
    produced = true;
}

void ResamplerChannelGroup::readOutputTimes(double* times, uint64_t count) {
    if (count >= outputBufferSize) {
        throw std::invalid_argument("Too many samples requested.");
    }
    outputTimesReadIndex =
        Ring::copyOut(outputTimes.data(), outputBufferSize, outputTimesReadIndex, times, count);
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
    if (channel.getArraySize() <= 0 || channel.getSamplesStored() <= stampsStored) {
        return std::numeric_limits<uint64_t>::max();
    }
    // Sample k's values are gone once samplesStored - k exceeds the samples the ring holds; the
    // stamped samples still held are the newest, within that many of the newest value.
    const uint64_t ahead = channel.getSamplesStored() - stampsStored;
    const uint64_t held = channel.inputSampleCapacity();
    return ahead >= held ? 0 : held - ahead;
}

}  // namespace Karvel::Tamlib::Resampler
