#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "resampler/Resampler.h"
#include "resampler/methods/PolyphaseFilter.h"
#include "resampler/methods/kernels/KernelDispatch.h"

namespace Karvel::Tamlib::Resampler {

// Rational polyphase FIR resampling: every group gets a Kaiser-windowed low-pass designed for
// its rate, split into P branches of T taps, one branch evaluated per output sample.
class ResamplerAliasFree : public Resampler {
public:
    ResamplerAliasFree();
    ~ResamplerAliasFree() override;

    void setTimeBase(const int32_t& value) override;
    void setInputBufferSize(uint64_t size) override;
    ResamplerChannel* addAsyncArrayChannel(const int32_t& isArray, int32_t arraySize,
                                           double startTime, double endTime) override;
    ResamplerChannel* addNamedAsyncChannel(const std::string& groupName) override;
    ResamplerChannel* addAsyncChannel() override;
    void initialize() override;
    bool isChannelUnsupported(const ResamplerChannel& channel) const override;
    void resampleGroup(ResamplerChannelGroup& group) override;

    // Taps per branch that a group of this input rate would need, without the parity
    // correction of the design. 0 when a rate is below 1 Hz; no value for arguments that give
    // no meaningful estimate (non-finite, a percent of 0 or below, a result beyond 32 bits).
    static std::optional<int32_t> estimateFilterLength(double outputRate, double inputRate,
                                                       int32_t percent, double attenuation);
    static uint32_t filterLengthEstimate(double outputRate, double inputRate, int32_t percent,
                                         double attenuation);

    // The filter of a group, or none for a group that is copied through.
    PolyphaseFilter* filterOf(const ResamplerChannelGroup& group);
    const PolyphaseFilter* filterOf(const ResamplerChannelGroup& group) const;

protected:
    ResamplerChannelGroup* createSyncGroup(double rate, double offset) override;
    ResamplerChannelGroup* createAsyncRateGroup(double rate, double offset) override;
    void finishPass() override;

private:
    ResamplerChannelGroup* createFilteredGroup(double rate, double offset, int32_t timing);
    void designFilter(const ResamplerChannelGroup& group);
    void primeGroups();

    void advancePosition(ResamplerChannelGroup& group, PolyphaseFilter& filter);
    double polyphaseDotProduct(const ResamplerChannelGroup& group, const PolyphaseFilter& filter,
                               const ResamplerChannel& channel) const;
    void padForFlush(ResamplerChannelGroup& group, PolyphaseFilter& filter);
    void alignStart(ResamplerChannelGroup& group, PolyphaseFilter& filter);
    void produceFiltered(ResamplerChannelGroup& group, PolyphaseFilter& filter);
    void skipOverwrittenFilterInput(ResamplerChannelGroup& group, PolyphaseFilter& filter);
    void consumePending(ResamplerChannelGroup& group, PolyphaseFilter& filter, uint64_t count);
    void settleDeficit(ResamplerChannelGroup& group, PolyphaseFilter& filter);
    void growInputRings(ResamplerChannelGroup& group, PolyphaseFilter& filter, uint64_t needed);
    uint64_t storedTotal(const ResamplerChannelGroup& group, const PolyphaseFilter& filter) const;

    friend class ::TamlibTest::StateProbe;

    // One filter per filtered group, in the order the groups were created.
    std::vector<PolyphaseFilter> filters;
    uint64_t maxTapsPerPhase = 0;
    std::unordered_map<const ResamplerChannelGroup*, size_t> filterEntries;

    // Batched production: a run of outputs of every channel at once, from an interleaved copy
    // of the window rows, by the kernel chosen when the resampler was made.
    void prepareBatches(const ResamplerChannelGroup& group, PolyphaseFilter& filter);
    uint64_t batchOutputLimit(const ResamplerChannelGroup& group,
                              const PolyphaseFilter& filter) const;
    uint64_t historyStride(const ResamplerChannelGroup& group) const;
    void produceOneOutput(ResamplerChannelGroup& group, PolyphaseFilter& filter);
    uint64_t produceBatch(ResamplerChannelGroup& group, PolyphaseFilter& filter, uint64_t limit);
    void produceSegments(ResamplerChannelGroup& group, ResamplerChannel& channel,
                         Kernels::PolyphaseBatch& batch, uint64_t slot, uint64_t perSegment);
    double* alignedHistory();
    // A feed of `lanes` lanes from channelRings into the history rows; with `ahead`, one that
    // prefetches the lanes' next blocks as aimAhead set them.
    Kernels::LaneFeed laneFeed(uint64_t lanes, const uint64_t* shifts, uint64_t slot, uint64_t size,
                               uint64_t rows, bool ahead);
    // Lane i's next block is that of `channel`; false where the host's last block did not
    // continue the one before, so that there is no next block to expect.
    bool aimAhead(uint64_t lane, const ResamplerChannel& channel);
    // Whether the next blocks of all the group's channels take at most aheadBytes().
    static bool nextBlocksFit(const ResamplerChannelGroup& group);
    const double* channelWindow(const ResamplerChannelGroup& group, const ResamplerChannel& channel,
                                uint64_t slot, uint64_t rows);
    void writeChannelValues(const ResamplerChannelGroup& group, ResamplerChannel& channel,
                            uint64_t count);
    void writeBatchTimes(ResamplerChannelGroup& group, uint64_t count);
    void advancePositionBy(ResamplerChannelGroup& group, PolyphaseFilter& filter, uint64_t outputs);

    const Kernels::PolyphaseKernel* kernel = &Kernels::selectKernel();
    Kernels::RowSteps rowSteps = Kernels::selectRowSteps();
    // Scratch of the batches, shared by all groups; it only grows, up to the largest group.
    std::vector<double> historyRows;
    std::vector<double> batchResults;
    std::vector<uint32_t> batchPhases;
    std::vector<uint64_t> batchRows;
    std::vector<double> residueRows;
    std::vector<uint64_t> residueOffsets;
    std::vector<const double*> channelCursors;
    std::vector<const double*> channelRings;
    std::vector<const double*> channelBases;
    std::vector<uintptr_t> aheadOrigins;
    std::vector<uint64_t> aheadWrites;
    std::vector<uintptr_t> aheadBases;
    std::vector<uint64_t> laneShifts;
    std::vector<double*> channelOutputs;
};

}  // namespace Karvel::Tamlib::Resampler
