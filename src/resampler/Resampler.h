#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "dsp/DspObject.h"
#include "resampler/ResamplerChannel.h"
#include "resampler/ResamplerChannelGroup.h"
#include "resampler/methods/kernels/StampRun.h"
#include "resampler/methods/kernels/WalkAndGather.h"

namespace TamlibTest {
class StateProbe;
}

namespace Karvel::Tamlib::Resampler {

enum ResamplerMethod : int32_t { Hold = 0, Linear = 1, AliasFree = 2 };
enum TimeBase : int32_t { Implicit = 0, Explicit = 1 };

// The object behind a resampler handle: output settings, the master-time ring and the channel
// groups. The three method classes override the per-group step and a few set-up operations.
class Resampler : public Dsp::DspObject::DspObject {
public:
    // Absolute tolerance for matching group rates, offsets and time stamps of one group.
    static constexpr double kMachineEpsilon = 2.220446049250313e-16;

    Resampler() = default;
    ~Resampler() override;

    // Parameters.
    void setSamplerate(double value);
    void setOutputBufferSize(uint64_t size);
    void setMaxWaitTimeInMs(double value) { maxWaitTimeInMs = value; }
    void setCustomEpsilon(double value) { customEpsilon = value; }
    void setInitialOffset(double value) { initialOffset = value; }
    void setSidelobeAttenuationInDB(double value);
    void setTransitionBandwithPercent(int32_t value);

    virtual void setTimeBase(const int32_t& value);
    virtual void setInputBufferSize(uint64_t size);

    // Channel registration.
    virtual ResamplerChannel* addAsyncArrayChannel(const int32_t& isArray, int32_t arraySize,
                                                   double startTime, double endTime);
    virtual ResamplerChannel* addNamedAsyncChannel(const std::string& groupName);
    virtual ResamplerChannel* addAsyncChannel();
    virtual ResamplerChannel* addAsyncChannel3(double rate, double offset, double start,
                                               double end);
    virtual ResamplerChannel* addAsyncChannel2(double rate, double offset, int64_t count);
    ResamplerChannel* addSyncChannel(double rate, double offset, int64_t count);
    ResamplerChannel* addSyncChannel2(double rate, double unusedOffset, double start, double end);

    // Processing.
    virtual void initialize();
    virtual void calculate();
    virtual bool isChannelUnsupported(const ResamplerChannel& channel) const;
    virtual void resampleGroup(ResamplerChannelGroup& group);

    // Input.
    void addData(ResamplerChannel& channel, const double* data, uint64_t count);
    void addTimes(ResamplerChannel& channel, const double* times, uint64_t count);
    void addMasterTimes(const double* times, uint64_t count);
    static void addBlockEndTimeInMiliseconds(ResamplerChannel& channel, double timeInMs);
    void noMoreDataToAdd(double timeInMs);

    // Output.
    void getResampledData2(ResamplerChannel& channel, double* data, uint64_t count) const;
    void getResampledTimes2(const ResamplerChannel* channel, double* times, uint64_t count) const;
    uint64_t getResampledDataCount(const ResamplerChannel* channel) const;
    uint64_t calculateDataCountOfChannel(const ResamplerChannel* channel) const;
    uint64_t getAllDataCount() const;

    ResamplerChannelGroup* findGroupOfChannel(const ResamplerChannel* channel) const;
    bool isSynchronousWithOutput(const ResamplerChannelGroup& group) const;

    uint64_t getOutputBufferSize() const { return outputBufferSize; }

protected:
    void recompute() override;

    virtual ResamplerChannelGroup* createSyncGroup(double rate, double offset);
    virtual ResamplerChannelGroup* createAsyncRateGroup(double rate, double offset);
    virtual ResamplerChannelGroup* createAsyncGroup();
    // Runs at the end of every pass that got past the pre-check.
    virtual void finishPass() {}

    // Registration helpers.
    ResamplerChannelGroup* createRatedGroup(double rate, double offset, int32_t timing);
    ResamplerChannel* addChannel(ResamplerChannelGroup& group);
    ResamplerChannelGroup* findGroup(double rate, double offset) const;
    ResamplerChannel* registerRated(double rate, double offset, bool synchronous, int64_t count,
                                    double start, double end, bool hasRange);
    void refreshRings() { update(); }

    // Input helpers shared with the methods.
    void storeTimeBlock(ResamplerChannelGroup& group, ResamplerChannel& channel,
                        const double* times, uint64_t count);
    void storeGeneratedTimes(ResamplerChannelGroup& group, ResamplerChannel& channel, double t0,
                             uint64_t count);
    void generateTimeStamps(ResamplerChannelGroup& group);

    // Rings are zeroed lazily when built; initialize maps them all, so that the data path
    // does not take the page faults.
    void touchRings();

    // Driver steps.
    void checkOutputParameters() const;
    void prepareGroups();
    void extendMasterTimes();
    bool hasUnsupportedChannel() const;
    void copySynchronousGroup(ResamplerChannelGroup& group);
    bool waitedTooLong(const ResamplerChannelGroup& group) const;
    void fillGap(ResamplerChannelGroup& group);

    // Ring helpers of the producers.
    bool near(double a, double b) const { return epsilon >= std::abs(a - b); }
    double newestMasterTime() const { return masterTimes[masterTimes.newestSlot()]; }
    uint64_t masterTimesAvailable(ResamplerChannelGroup& group) const {
        return group.masterTimesAvailable(masterTimes);
    }
    // One output of the group at `time`, its next master time.
    void produceOutput(ResamplerChannelGroup& group, double time) const {
        group.produceOutput(time, masterTimes.size());
    }

    // The walk shared by the hold and linear steps (methods/MasterTimeWalk.h): for each master
    // time the group can take, the input is advanced to the sample at or before it, then
    // writeValues(time, inputSlot) is called for the next output slot, in order from the
    // group's outputWriteIndex on. The output times are written once the walk ends. `walk`, where
    // given, takes the stretches in which no ring wraps by vectors.
    template <typename WriteValues>
    void walkMasterTimes(ResamplerChannelGroup& group, Kernels::WalkFunction walk,
                         WriteValues writeValues);

    // The input stamps of channels defined by their rate and the runs of the master grid, at the
    // widest vectors there are.
    Kernels::StampRunFunction writeStamps = Kernels::selectStampRun();
    Kernels::GridRunFunction writeGrid = Kernels::selectGridRun();
    uint64_t inputBufferSize = 1000;
    uint64_t outputBufferSize = 1000;
    double samplerate = 1000.0;
    double initialOffset = 0.0;
    double maxWaitTimeInMs = std::numeric_limits<double>::infinity();
    double noMoreDataTime = 0.0;
    // Written since the last ring rebuild, as its count says.
    Ring masterTimes;
    std::vector<std::shared_ptr<ResamplerChannelGroup>> groups;
    int32_t timeBase = Implicit;
    bool masterTimesStartPending = true;
    int32_t method = Hold;
    int32_t transitionBandwithPercent = 16;
    double sidelobeAttenuationInDB = 60.0;
    double epsilon = 1e-7;
    double customEpsilon = -1.0;
    bool noMoreData = false;
    // Set when the rings were last rebuilt and nothing has written to them since: a rebuild
    // can then keep every ring whose size stays, instead of allocating and zeroing it again.
    bool ringsHoldNothing = false;

    std::unordered_map<const ResamplerChannel*, ResamplerChannelGroup*> channelGroups;

private:
    friend class ::TamlibTest::StateProbe;
};

}  // namespace Karvel::Tamlib::Resampler
