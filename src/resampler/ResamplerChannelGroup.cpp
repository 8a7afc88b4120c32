#include "resampler/ResamplerChannelGroup.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "dsp/CheckedConversion.h"

namespace Karvel::Tamlib::Resampler {

ResamplerChannelGroup::ResamplerChannelGroup() : generatedTimes(2000, 0.0) {}

ResamplerChannelGroup::~ResamplerChannelGroup() {
    std::string().swap(name);
    channels.clear();
    std::vector<double>().swap(generatedTimes);
}

void ResamplerChannelGroup::recompute() {
    firstBlock = true;
    sampleCount = 0;
    expectedOutputCount = 0;
    pendingCount = 0;
    inputTimes.restartCount();
    inputTimes.setWriteSlot(0);
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

void ResamplerChannelGroup::adoptRings(Ring& inputTimesRing, Ring& outputTimesRing) {
    inputTimes.takeSlots(inputTimesRing);
    outputTimes.takeSlots(outputTimesRing);
    keepRings();
}

void ResamplerChannelGroup::keepRings() {
    const uint64_t outputSize = outputTimes.size();
    inputReadIndex %= inputTimes.empty() ? 1 : inputTimes.size();
    inputTimes.foldWriteSlot();
    outputTimesReadIndex %= outputSize;
    masterTimesReadIndex %= outputSize;
    outputWriteIndex %= outputSize;
    // Master times are counted afresh from slot 0: the group waits until its slot is written
    // again.
    masterTimesRead = masterTimesReadIndex;
    produced = false;
    // The new rings hold nothing of the old: values and stamps count as level again.
    inputTimes.restartCount();
}

void ResamplerChannelGroup::touchRings() {
    inputTimes.touch();
    outputTimes.touch();
    for (const auto& channel : channels) {
        channel->touchRings();
    }
}

void ResamplerChannelGroup::adoptInputRing(Ring& inputTimesRing, uint64_t writeSlot) {
    inputTimes.takeSlots(inputTimesRing);
    inputTimes.setWriteSlot(writeSlot);
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
    storedSample = storedSample || count > 0;
}

void ResamplerChannelGroup::appendStamps(ResamplerChannel& master, const double* times,
                                         uint64_t count) {
    countStamps(master, count);
    inputTimes.append(times, count);
}

void ResamplerChannelGroup::storeFirstStamp() {
    inputTimes.setWriteSlot(0);
    inputTimes.push(initialOffset);
    pendingCount = saturatingAdd(pendingCount, 1);
    storedSample = true;
}

double* ResamplerChannelGroup::generatedStamps(uint64_t count) {
    generatedTimes.resize(count);
    return generatedTimes.data();
}

void ResamplerChannelGroup::consumeInput(uint64_t count) {
    inputReadIndex = inputTimes.advance(inputReadIndex, count);
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
    inputReadIndex = inputTimes.back(inputTimes.writeSlot(), capacity);
    pendingCount = capacity;
}

uint64_t ResamplerChannelGroup::masterTimesAvailable(const Ring& master) {
    const uint64_t written = master.written();
    const uint64_t masterSize = master.size();
    if (written > masterTimesRead && written - masterTimesRead > masterSize) {
        masterTimesRead = written - masterSize;
        masterTimesReadIndex = masterTimesRead % masterSize;
        produced = false;
    }
    return written > masterTimesRead ? written - masterTimesRead : 0;
}

void ResamplerChannelGroup::takeMasterTimes(const Ring& master, uint64_t count) {
    master.copyTo(masterTimesReadIndex, outputTimes, outputWriteIndex, count);
    masterTimesReadIndex = master.advance(masterTimesReadIndex, count);
    outputWriteIndex = outputTimes.advance(outputWriteIndex, count);
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
    if (++outputWriteIndex >= outputTimes.size()) {
        outputWriteIndex = 0;
    }
    produced = true;
}

void ResamplerChannelGroup::readOutputTimes(double* times, uint64_t count) {
    if (count >= outputTimes.size()) {
        throw std::invalid_argument("Too many samples requested.");
    }
    outputTimesReadIndex = outputTimes.copyOut(outputTimesReadIndex, times, count);
}

uint64_t ResamplerChannelGroup::inputSampleCapacity() const {
    uint64_t capacity = inputTimes.size();
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
    if (channel.getArraySize() <= 0 || channel.getSamplesStored() <= inputTimes.written()) {
        return std::numeric_limits<uint64_t>::max();
    }
    // Sample k's values are gone once samplesStored - k exceeds the samples the ring holds; the
    // stamped samples still held are the newest, within that many of the newest value.
    const uint64_t ahead = channel.getSamplesStored() - inputTimes.written();
    const uint64_t held = channel.inputSampleCapacity();
    return ahead >= held ? 0 : held - ahead;
}

}  // namespace Karvel::Tamlib::Resampler
