// One resampler handle of the C interface, as the extension module holds it. Only the exported C
// functions are called: Python sees exactly what a C host sees.
#ifndef TAMLIB_PYTHON_CORE_RESAMPLER_H
#define TAMLIB_PYTHON_CORE_RESAMPLER_H

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>

namespace tamlib_python {

namespace py = pybind11;

// Shared by the resampler and its channels, so a channel outliving close() finds the handle gone
// instead of passing a dangling pointer to the library.
struct HandleState {
    void* resampler = nullptr;
    uint64_t outputBufferSize = 1000;
    ~HandleState();
};

struct CoreChannel {
    std::shared_ptr<HandleState> owner;
    void* handle = nullptr;
    int32_t arraySize = 1;
    bool isArray = false;
};

class CoreResampler {
public:
    explicit CoreResampler(int32_t method);

    void close();
    bool closed() const { return state->resampler == nullptr; }

    void setSamplerate(double rate);
    void setInputBufferSize(uint64_t size);
    void setOutputBufferSize(uint64_t size);
    void setMaxWaitTimeInMs(double ms);
    void setCustomEpsilon(double seconds);
    void setInitialOffset(double seconds);
    void setTimeBase(int32_t timeBase);
    void setSidelobeAttenuationInDB(double db);
    void setTransitionBandwithPercent(int32_t percent);

    CoreChannel addSyncChannel(double rate, double offset, int64_t sampleCount);
    CoreChannel addSyncChannel2(double rate, double offset, double startTime, double endTime);
    CoreChannel addAsyncChannel();
    CoreChannel addAsyncChannel2(double rate, double offset, int64_t sampleCount);
    CoreChannel addAsyncChannel3(double rate, double offset, double startTime, double endTime);
    CoreChannel addAsyncArrayChannel(int32_t isArray, int32_t arraySize, double startTime,
                                     double endTime);

    using Doubles = py::array_t<double, py::array::c_style | py::array::forcecast>;
    // A scalar channel takes a 1-d array; an array channel a (n, arraySize) array, one addData
    // call per row.
    void addData(const CoreChannel& channel, const Doubles& values);
    void addTimes(const CoreChannel& channel, const Doubles& times);
    void addMasterTimes(const Doubles& times);
    void addBlockEndTimeInMs(const CoreChannel& channel, double ms);
    void noMoreDataToAdd(double ms);

    void initialize();
    void calculate();

    uint64_t resampledCount(const CoreChannel& channel);
    uint64_t expectedCount(const CoreChannel& channel);
    uint64_t allDataCount();
    py::array_t<double> readTimes(const CoreChannel& channel, uint64_t count);
    py::array_t<double> readData(const CoreChannel& channel, uint64_t count);

private:
    void* handle() const;
    void* channelHandle(const CoreChannel& channel) const;
    CoreChannel wrap(void* channel, int32_t arraySize, bool isArray) const;

    std::shared_ptr<HandleState> state;
};

}  // namespace tamlib_python

#endif
