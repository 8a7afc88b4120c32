#pragma once

#include <cstdint>
#include <limits>

#include "dsp/DspObject.h"
#include "resampler/DeferredHold.h"
#include "resampler/Ring.h"

namespace TamlibTest {
class StateProbe;
}

namespace Karvel::Tamlib::Resampler {

// One input signal: its value rings and its cursors. Timing is shared per group.
class ResamplerChannel : public Dsp::DspObject::DspObject {
public:
    ResamplerChannel() = default;
    ~ResamplerChannel() override;

    void resizeBuffers(uint64_t inputSize, uint64_t outputSize);
    // Takes over freshly built rings (swapping the old ones out). The cursors keep their values,
    // folded back into a shrunken ring, and the new rings count as level with the stamps.
    void adoptRings(Ring& input, Ring& output);
    // The same for rings that stay as they are.
    void keepRings();
    void touchRings() {
        inputRing.touch();
        outputRing.touch();
    }
    // Takes over a value ring that holds the same samples at other slots; writing goes on at
    // writeSlot.
    void adoptInputRing(Ring& input, uint64_t writeSlot);
    void setIsArray(int32_t value);
    void setArraySize(int32_t value);
    // An array registration was refused: the channel stays registered but takes part in
    // nothing, since its layout does not fit the rings.
    void makeInert() { inert = true; }

    int32_t getArraySize() const { return arraySize; }
    bool isArrayChannel() const { return isArray != 0; }
    bool isInert() const { return inert; }
    double getBlockEndTimeInMiliseconds() const { return blockEndTimeInMiliseconds; }
    void setBlockEndTimeInMiliseconds(double timeInMs) { blockEndTimeInMiliseconds = timeInMs; }

    // Appends values at the write cursor, wrapping; counts samples as the channel kind says.
    void appendValues(const double* values, uint64_t count);
    void setInputWriteSlot(uint64_t slot) { inputRing.setWriteSlot(slot); }
    // Where the host will most likely hand over the next block: where the last one ended, when
    // that one began where the block before it ended (a host streaming one array in blocks),
    // else 0. Only a guess to prefetch by, never read.
    uintptr_t nextBlockAddress() const { return continuedBlock ? lastBlockEnd : 0; }
    uint64_t lastBlockLength() const { return lastBlockSamples; }
    // Samples added since the last pass; every channel of a group must have added as many.
    uint64_t getSamplesAdded() const { return samplesAdded; }
    void clearSamplesAdded() { samplesAdded = 0; }
    uint64_t getSamplesStored() const { return samplesStored; }

    bool hasRings() const { return !inputRing.empty(); }
    uint64_t getInputCapacity() const { return inputRing.size(); }
    uint64_t getOutputCapacity() const { return outputRing.size(); }
    // Whole samples the input ring keeps before the oldest is overwritten.
    uint64_t inputSampleCapacity() const;
    const Ring& inputValues() const { return inputRing; }
    // The output ring for writing, with every deferred hold output in it.
    Ring& outputValues() {
        materializeHeld();
        return outputRing;
    }

    // Hold outputs at output slots firstSlot .. firstSlot + count - 1 that copy the input slots
    // `slots` holds for them, kept so until they are read or either ring is about to change.
    // Only for a channel of one value per sample.
    void deferHeld(HeldSlots& slots, uint64_t firstSlot, uint64_t count) {
        held.defer(slots, firstSlot, count, inputRing, outputRing);
    }
    void materializeHeld() {
        if (!held.empty()) {
            held.materialize(inputRing, outputRing);
        }
    }

    // Copies the arraySize values of one input sample into one output sample.
    void copySample(uint64_t inputSample, uint64_t outputSample);
    // Reads count samples of output from the read cursor on.
    void readOutput(double* data, uint64_t count);

protected:
    void recompute() override;

private:
    friend class ::TamlibTest::StateProbe;

    Ring inputRing;
    Ring outputRing;
    DeferredHold held;
    uint64_t outputReadIndex = 0;
    int32_t isArray = 0;
    int32_t arraySize = 1;
    uint64_t samplesAdded = 0;
    // Samples whose values were written since the last reset or ring rebuild, counted as
    // samplesAdded counts them; beside the group's stampsStored it tells whether the values ran
    // ahead of their time stamps far enough to overwrite stamped samples.
    uint64_t samplesStored = 0;
    double blockEndTimeInMiliseconds = std::numeric_limits<double>::infinity();
    bool inert = false;
    // The host's last block of values, for nextBlockAddress.
    uintptr_t lastBlockEnd = 0;
    uint64_t lastBlockSamples = 0;
    bool continuedBlock = false;
};

}  // namespace Karvel::Tamlib::Resampler
