// The exported C interface: each function forwards to one operation and returns 0. Failures
// leave as C++ exceptions; nothing is caught here.
#include "tamlib/resampler.h"

#include "resampler/ChannelAcceptance.h"
#include "resampler/Resampler.h"
#include "resampler/methods/ResamplerAliasFree.h"
#include "resampler/methods/ResamplerHold.h"
#include "resampler/methods/ResamplerLinear.h"

using Karvel::Tamlib::Resampler::canAcceptChannel;
using Karvel::Tamlib::Resampler::Resampler;
using Karvel::Tamlib::Resampler::ResamplerAliasFree;
using Karvel::Tamlib::Resampler::ResamplerChannel;
using Karvel::Tamlib::Resampler::ResamplerHold;
using Karvel::Tamlib::Resampler::ResamplerLinear;

namespace {

Resampler& asResampler(void* handle) {
    return *static_cast<Resampler*>(handle);
}
ResamplerChannel& asChannel(void* handle) {
    return *static_cast<ResamplerChannel*>(handle);
}

}  // namespace

extern "C" {

int createResamplerHold(void** resampler) {
    *resampler = static_cast<Resampler*>(new ResamplerHold());
    return 0;
}

int createResamplerLinear(void** resampler) {
    *resampler = static_cast<Resampler*>(new ResamplerLinear());
    return 0;
}

int createResamplerAliasFree(void** resampler) {
    *resampler = static_cast<Resampler*>(new ResamplerAliasFree());
    return 0;
}

int deleteResampler(void* resampler) {
    delete static_cast<Resampler*>(resampler);
    return 0;
}

int setSamplerate(void* resampler, double samplerate) {
    asResampler(resampler).setSamplerate(samplerate);
    return 0;
}

int setInputBufferSize(void* resampler, uint64_t size) {
    asResampler(resampler).setInputBufferSize(size);
    return 0;
}

int setOutputBufferSize(void* resampler, uint64_t size) {
    asResampler(resampler).setOutputBufferSize(size);
    return 0;
}

int setMaxWaitTimeInMs(void* resampler, double maxWaitTimeInMs) {
    asResampler(resampler).setMaxWaitTimeInMs(maxWaitTimeInMs);
    return 0;
}

int setCustomEpsilon(void* resampler, double epsilon) {
    asResampler(resampler).setCustomEpsilon(epsilon);
    return 0;
}

int setInitialOffset(void* resampler, double offset) {
    asResampler(resampler).setInitialOffset(offset);
    return 0;
}

int setTimeBase(void* resampler, int32_t timeBase) {
    const int32_t value = timeBase;
    asResampler(resampler).setTimeBase(value);
    return 0;
}

int setSidelobeAttenuationInDB(void* resampler, double attenuation) {
    asResampler(resampler).setSidelobeAttenuationInDB(attenuation);
    return 0;
}

int setTransitionBandwithPercent(void* resampler, int32_t percent) {
    asResampler(resampler).setTransitionBandwithPercent(percent);
    return 0;
}

int addSyncChannel(void* resampler, void** channel, double samplerate, double initialOffset,
                   int64_t sampleCount) {
    *channel = asResampler(resampler).addSyncChannel(samplerate, initialOffset, sampleCount);
    return 0;
}

int addSyncChannel2(void* resampler, void** channel, double samplerate, double initialOffset,
                    double startTime, double endTime) {
    *channel =
        asResampler(resampler).addSyncChannel2(samplerate, initialOffset, startTime, endTime);
    return 0;
}

int addAsyncChannel(void* resampler, void** channel) {
    *channel = asResampler(resampler).addAsyncChannel();
    return 0;
}

int addAsyncChannel2(void* resampler, void** channel, double samplerate, double initialOffset,
                     int64_t sampleCount) {
    *channel = asResampler(resampler).addAsyncChannel2(samplerate, initialOffset, sampleCount);
    return 0;
}

int addAsyncChannel3(void* resampler, void** channel, double samplerate, double initialOffset,
                     double startTime, double endTime) {
    *channel =
        asResampler(resampler).addAsyncChannel3(samplerate, initialOffset, startTime, endTime);
    return 0;
}

int addAsyncArrayChannel(void* resampler, void** channel, int32_t isArray, int32_t arraySize,
                         double startTime, double endTime) {
    const int32_t kind = isArray;
    *channel = asResampler(resampler).addAsyncArrayChannel(kind, arraySize, startTime, endTime);
    return 0;
}

int addData(void* resampler, void* channel, const double* data, uint64_t count) {
    asResampler(resampler).addData(asChannel(channel), data, count);
    return 0;
}

int addValue(void* resampler, void* channel, double value) {
    asResampler(resampler).addData(asChannel(channel), &value, 1);
    return 0;
}

int addTimes(void* resampler, void* channel, const double* times, uint64_t count) {
    asResampler(resampler).addTimes(asChannel(channel), times, count);
    return 0;
}

int addTime(void* resampler, void* channel, double time) {
    asResampler(resampler).addTimes(asChannel(channel), &time, 1);
    return 0;
}

int addMasterTimes(void* resampler, const double* times, uint64_t count) {
    asResampler(resampler).addMasterTimes(times, count);
    return 0;
}

int addBlockEndTimeInMiliseconds(void* channel, double timeInMs) {
    Resampler::addBlockEndTimeInMiliseconds(asChannel(channel), timeInMs);
    return 0;
}

int noMoreDataToAdd(void* resampler, double timeInMs) {
    asResampler(resampler).noMoreDataToAdd(timeInMs);
    return 0;
}

int initialize(void* resampler) {
    asResampler(resampler).initialize();
    return 0;
}

int calculate(void* resampler) {
    asResampler(resampler).calculate();
    return 0;
}

int getResampledData2(void* resampler, void* channel, double* data, uint64_t count) {
    asResampler(resampler).getResampledData2(asChannel(channel), data, count);
    return 0;
}

int getResampledTimes2(void* resampler, void* channel, double* times, uint64_t count) {
    asResampler(resampler).getResampledTimes2(static_cast<ResamplerChannel*>(channel), times,
                                              count);
    return 0;
}

int getResampledDataCount(void* resampler, void* channel, uint64_t* count) {
    *count = asResampler(resampler).getResampledDataCount(static_cast<ResamplerChannel*>(channel));
    return 0;
}

int getResampledTimesCount(void* resampler, void* channel, uint64_t* count) {
    return getResampledDataCount(resampler, channel, count);
}

int calculateDataCountOfChannel(void* resampler, void* channel, uint64_t* count) {
    *count =
        asResampler(resampler).calculateDataCountOfChannel(static_cast<ResamplerChannel*>(channel));
    return 0;
}

int getAllDataCount(void* resampler, uint64_t* count) {
    *count = asResampler(resampler).getAllDataCount();
    return 0;
}

int getResampledData(void* /*resampler*/, void* /*channel*/, double* /*data*/, uint64_t /*count*/) {
    return 0;
}

int getResampledTimes(void* resampler, void* channel, double* times, uint64_t count) {
    return getResampledData(resampler, channel, times, count);
}

int getAliasFreeFilterLength(double outputSamplerate, double inputSamplerate,
                             int32_t transitionBandwithPercent, double sidelobeAttenuationInDB,
                             uint32_t* length) {
    *length = ResamplerAliasFree::filterLengthEstimate(
        outputSamplerate, inputSamplerate, transitionBandwithPercent, sidelobeAttenuationInDB);
    return 0;
}

int canResamplerAcceptChannel(int32_t method, int32_t isArray, uint64_t inputBufferSize,
                              double outputSamplerate, double inputSamplerate,
                              int32_t transitionBandwithPercent, double sidelobeAttenuationInDB,
                              uint32_t* result) {
    *result = canAcceptChannel(method, isArray, inputBufferSize, outputSamplerate, inputSamplerate,
                               transitionBandwithPercent, sidelobeAttenuationInDB)
                  ? 0
                  : 1;
    return 0;
}

}  // extern "C"
