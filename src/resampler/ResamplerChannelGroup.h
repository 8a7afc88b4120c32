#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dsp/DspObject.h"
#include "resampler/HeldSlots.h"
#include "resampler/ResamplerChannel.h"
#include "resampler/Ring.h"

namespace TamlibTest {
class StateProbe;
}

namespace Karvel::Tamlib::Resampler {

enum GroupTiming : int32_t { RateDefined = 0, Timestamped = 1 };

// Channels that share one time axis: input stamps, read position, output times.
class ResamplerChannelGroup : public Dsp::DspObject::DspObject {
public:
    using Channels = std::vector<std::shared_ptr<ResamplerChannel>>;

    ResamplerChannelGroup();
    ~ResamplerChannelGroup() override;

    // Declaration, fixed at registration.
    void setSamplerate(double value);
    void setInitialOffset(double value);
    void setTiming(const int32_t& value);
    void setName(const std::string& value);
    void declareRange(double start, double end);
    void declareSampleCount(int64_t count) { sampleCount = count; }
    // A refused array registration: the group stays registered but takes part in nothing.
    void makeInert() { inert = true; }
    double getSamplerate() const { return samplerate; }
    double getInitialOffset() const { return initialOffset; }
    int32_t getTiming() const { return timing; }
    const std::string& getName() const { return name; }
    bool isInert() const { return inert; }

    // The outputs the declaration promises on a grid at outputRate: sampleCount scaled by the
    // rates (rounded up or to the nearest), or the declared range with both ends counted.
    void expectOutputsAt(double outputRate, bool roundUp);
    uint64_t getExpectedOutputCount() const { return expectedOutputCount; }

    const Channels& getChannels() const { return channels; }
    ResamplerChannel& addChannel();
    // Drops the channels beyond the first `count` (a registration that failed half way).
    void keepChannels(size_t count) { channels.resize(count); }

    // Rings: fresh ones taken over (swapping the old ones out), cursors kept but folded back into
    // shrunken rings; the master times are counted afresh from the group's read slot.
    void adoptRings(Ring& inputTimesRing, Ring& outputTimesRing);
    // The same for rings that stay as they are.
    void keepRings();
    // Maps the pages of the group's rings and its channels' (see Ring::touch).
    void touchRings();
    // A time ring that holds the same samples at other slots; writing goes on at writeSlot.
    void adoptInputRing(Ring& inputTimesRing, uint64_t writeSlot);
    // The input slot that each output slot holds, for the channels whose hold outputs are
    // deferred (see DeferredHold).
    HeldSlots& heldInputSlots() { return heldSlots; }
    uint64_t getInputBufferSize() const { return inputTimes.size(); }
    uint64_t getOutputBufferSize() const { return outputTimes.size(); }

    // Input time stamps; the ring's count is the stamps stored since the last reset or ring
    // rebuild (sample k's at slot k mod size).
    const Ring& inputTimeRing() const { return inputTimes; }
    uint64_t getInputWriteIndex() const { return inputTimes.writeSlot(); }
    // Newest stored input time stamp (the slot before the write cursor).
    uint64_t newestInputSlot() const { return inputTimes.newestSlot(); }
    double newestInputTime() const { return inputTimes[newestInputSlot()]; }
    // The newest stamp moves to `time` once a gap up to it is filled.
    void setNewestInputTime(double time) { inputTimes[newestInputSlot()] = time; }
    // Whether the stamp before the write cursor lies after `time` (nothing to compare at slot 0).
    bool newestStampAfter(double time) const {
        return inputTimes.writeSlot() != 0 && inputTimes[inputTimes.writeSlot() - 1] > time;
    }
    bool hasStoredSample() const { return storedSample; }
    const ResamplerChannel* getTimeMasterChannel() const { return timeMasterChannel; }
    void setTimeMasterChannel(ResamplerChannel& channel) { timeMasterChannel = &channel; }
    // Whether a block of this channel's stamps is ignored or only compared: another channel
    // gives the group's stamps.
    bool followsTimeMaster(const ResamplerChannel& channel) const {
        return timeMasterChannel != nullptr && timeMasterChannel != &channel;
    }
    // Stores `count` stamps of the time master from the write cursor on; of a block longer than
    // the ring only the newest. writeRun(stamps, firstIndex, length) writes the stamps of block
    // indices firstIndex.. into a contiguous run of the ring.
    template <typename WriteRun>
    void appendStamps(ResamplerChannel& master, uint64_t count, WriteRun writeRun);
    void appendStamps(ResamplerChannel& master, const double* times, uint64_t count);
    // The rate-defined group's first stamp, at its offset, before any generated one.
    void storeFirstStamp();
    bool awaitsFirstBlock() const { return inputTimes.writeSlot() == 0 && firstBlock; }
    void endFirstBlock() { firstBlock = false; }
    // Scratch for count generated stamps.
    double* generatedStamps(uint64_t count);

    // Whole samples that every channel and the time ring still hold.
    uint64_t inputSampleCapacity() const;
    // Of the newest stamped samples, how many still have their time stamp and the values of
    // every channel stored. Values added ahead of their stamps overwrite the oldest values, so
    // this can be fewer than the capacity, or none.
    uint64_t intactSampleCount() const;
    // Whether some channel's values overwrote even the newest stamped sample's.
    bool valuesOverranStamps() const;

    // Reading the input.
    uint64_t getInputReadIndex() const { return inputReadIndex; }
    uint64_t getPendingCount() const { return pendingCount; }
    void setInputCursor(uint64_t readSlot, uint64_t pending) {
        inputReadIndex = readSlot;
        pendingCount = pending;
    }
    // Moves the read cursor over `count` pending samples.
    void consumeInput(uint64_t count);
    // Takes up to `count` pending samples without moving the read cursor; returns how many.
    uint64_t consumePending(uint64_t count);
    // Goes on from the oldest sample whose values and time stamp are all still stored; with none
    // the group waits for stamps that catch up with the values.
    void skipOverwrittenInput();

    // Output.
    void startPass() { resampledCount = 0; }
    uint64_t getResampledCount() const { return resampledCount; }
    uint64_t getOutputWriteIndex() const { return outputWriteIndex; }
    uint64_t getMasterTimesReadIndex() const { return masterTimesReadIndex; }
    bool hasProducedOutput() const { return produced; }
    // Master times of the resampler's ring that the group has still to read. A group that lagged
    // more than a ring behind goes on from the oldest time still stored.
    uint64_t masterTimesAvailable(const Ring& master);
    // The next `count` master times become the times of the next outputs.
    void takeMasterTimes(const Ring& master, uint64_t count);
    // One output at `time`, the group's next master time.
    void produceOutput(double time, uint64_t masterSize);
    void readOutputTimes(double* times, uint64_t count);

    // Set once the method has finished the group's end of data itself (the filter flush).
    bool isEndOfDataDone() const { return endOfDataDone; }
    void setEndOfDataDone(bool done) { endOfDataDone = done; }

protected:
    void recompute() override;

private:
    friend class ::TamlibTest::StateProbe;

    uint64_t stampedSamplesHeld(const ResamplerChannel& channel) const;
    void countStamps(ResamplerChannel& master, uint64_t count);

    uint64_t inputReadIndex = 0;
    uint64_t outputTimesReadIndex = 0;
    uint64_t masterTimesReadIndex = 0;
    uint64_t outputWriteIndex = 0;
    int64_t sampleCount = 0;
    bool firstBlock = true;
    Ring outputTimes;
    double startTime = -1.0;
    double endTime = -1.0;
    int32_t timing = RateDefined;
    double samplerate = 1000.0;
    double initialOffset = 0.0;
    uint64_t pendingCount = 0;
    uint64_t resampledCount = 0;
    std::vector<double> generatedTimes;
    HeldSlots heldSlots;
    Channels channels;
    Ring inputTimes;
    uint64_t expectedOutputCount = 0;
    std::string name;
    ResamplerChannel* timeMasterChannel = nullptr;

    // Master times read since the last ring rebuild; its slot is masterTimesReadIndex.
    uint64_t masterTimesRead = 0;
    // Whether any time stamp was stored since the group's last reset.
    bool storedSample = false;
    // Whether the group has produced an output since its last reset.
    bool produced = false;
    bool endOfDataDone = false;
    bool inert = false;
};

template <typename WriteRun>
void ResamplerChannelGroup::appendStamps(ResamplerChannel& master, uint64_t count,
                                         WriteRun writeRun) {
    countStamps(master, count);
    inputTimes.append(count, writeRun);
}

}  // namespace Karvel::Tamlib::Resampler
