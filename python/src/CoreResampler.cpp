#include "CoreResampler.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "tamlib/resampler.h"

namespace tamlib_python {

HandleState::~HandleState() {
    deleteResampler(resampler);
}

CoreResampler::CoreResampler(int32_t method) : state(std::make_shared<HandleState>()) {
    void* created = nullptr;
    switch (method) {
        case TAMLIB_METHOD_HOLD:
            createResamplerHold(&created);
            break;
        case TAMLIB_METHOD_LINEAR:
            createResamplerLinear(&created);
            break;
        case TAMLIB_METHOD_ALIAS_FREE:
            createResamplerAliasFree(&created);
            break;
        default:
            throw std::invalid_argument("Unknown method code " + std::to_string(method) + ".");
    }
    state->resampler = created;
}

void CoreResampler::close() {
    deleteResampler(state->resampler);
    state->resampler = nullptr;
}

void* CoreResampler::handle() const {
    if (state->resampler == nullptr) {
        throw std::invalid_argument("The resampler is closed.");
    }
    return state->resampler;
}

void* CoreResampler::channelHandle(const CoreChannel& channel) const {
    // The library does not validate handles: a foreign one would be used as if it were ours.
    if (channel.owner != state) {
        throw std::invalid_argument("The channel belongs to another resampler.");
    }
    handle();
    return channel.handle;
}

CoreChannel CoreResampler::wrap(void* channel, int32_t arraySize, bool isArray) const {
    return CoreChannel{state, channel, arraySize, isArray};
}

void CoreResampler::setSamplerate(double rate) {
    ::setSamplerate(handle(), rate);
}

void CoreResampler::setInputBufferSize(uint64_t size) {
    ::setInputBufferSize(handle(), size);
}

void CoreResampler::setOutputBufferSize(uint64_t size) {
    ::setOutputBufferSize(handle(), size);
    state->outputBufferSize = size;
}

void CoreResampler::setMaxWaitTimeInMs(double ms) {
    ::setMaxWaitTimeInMs(handle(), ms);
}

void CoreResampler::setCustomEpsilon(double seconds) {
    ::setCustomEpsilon(handle(), seconds);
}

void CoreResampler::setInitialOffset(double seconds) {
    ::setInitialOffset(handle(), seconds);
}

void CoreResampler::setTimeBase(int32_t timeBase) {
    ::setTimeBase(handle(), timeBase);
}

void CoreResampler::setSidelobeAttenuationInDB(double db) {
    ::setSidelobeAttenuationInDB(handle(), db);
}

void CoreResampler::setTransitionBandwithPercent(int32_t percent) {
    ::setTransitionBandwithPercent(handle(), percent);
}

CoreChannel CoreResampler::addSyncChannel(double rate, double offset, int64_t sampleCount) {
    void* channel = nullptr;
    ::addSyncChannel(handle(), &channel, rate, offset, sampleCount);
    return wrap(channel, 1, false);
}

CoreChannel CoreResampler::addSyncChannel2(double rate, double offset, double startTime,
                                           double endTime) {
    void* channel = nullptr;
    ::addSyncChannel2(handle(), &channel, rate, offset, startTime, endTime);
    return wrap(channel, 1, false);
}

CoreChannel CoreResampler::addAsyncChannel() {
    void* channel = nullptr;
    ::addAsyncChannel(handle(), &channel);
    return wrap(channel, 1, false);
}

CoreChannel CoreResampler::addAsyncChannel2(double rate, double offset, int64_t sampleCount) {
    void* channel = nullptr;
    ::addAsyncChannel2(handle(), &channel, rate, offset, sampleCount);
    return wrap(channel, 1, false);
}

CoreChannel CoreResampler::addAsyncChannel3(double rate, double offset, double startTime,
                                            double endTime) {
    void* channel = nullptr;
    ::addAsyncChannel3(handle(), &channel, rate, offset, startTime, endTime);
    return wrap(channel, 1, false);
}

CoreChannel CoreResampler::addAsyncArrayChannel(int32_t isArray, int32_t arraySize,
                                                double startTime, double endTime) {
    void* channel = nullptr;
    ::addAsyncArrayChannel(handle(), &channel, isArray, arraySize, startTime, endTime);
    return wrap(channel, isArray != 0 ? arraySize : 1, isArray != 0);
}

void CoreResampler::addData(const CoreChannel& channel, const Doubles& values) {
    void* resampler = handle();
    void* target = channelHandle(channel);
    const double* data = values.data();
    if (!channel.isArray) {
        if (values.ndim() != 1) {
            throw std::invalid_argument("Values of a scalar channel must be one-dimensional.");
        }
        const auto count = static_cast<uint64_t>(values.shape(0));
        py::gil_scoped_release release;
        ::addData(resampler, target, data, count);
        return;
    }
    if (values.ndim() != 2 || values.shape(1) != channel.arraySize) {
        throw std::invalid_argument("Values of an array channel must have shape (n, " +
                                    std::to_string(channel.arraySize) + ").");
    }
    const auto rows = static_cast<uint64_t>(values.shape(0));
    const auto width = static_cast<uint64_t>(channel.arraySize);
    py::gil_scoped_release release;
    for (uint64_t row = 0; row < rows; ++row) {
        ::addData(resampler, target, data + row * width, width);
    }
}

void CoreResampler::addTimes(const CoreChannel& channel, const Doubles& times) {
    void* resampler = handle();
    void* target = channelHandle(channel);
    if (times.ndim() != 1) {
        throw std::invalid_argument("Time stamps must be one-dimensional.");
    }
    const auto count = static_cast<uint64_t>(times.shape(0));
    const double* data = times.data();
    py::gil_scoped_release release;
    ::addTimes(resampler, target, data, count);
}

void CoreResampler::addMasterTimes(const Doubles& times) {
    void* resampler = handle();
    if (times.ndim() != 1) {
        throw std::invalid_argument("Master times must be one-dimensional.");
    }
    const auto count = static_cast<uint64_t>(times.shape(0));
    const double* data = times.data();
    py::gil_scoped_release release;
    ::addMasterTimes(resampler, data, count);
}

void CoreResampler::addBlockEndTimeInMs(const CoreChannel& channel, double ms) {
    ::addBlockEndTimeInMiliseconds(channelHandle(channel), ms);
}

void CoreResampler::noMoreDataToAdd(double ms) {
    ::noMoreDataToAdd(handle(), ms);
}

void CoreResampler::initialize() {
    void* resampler = handle();
    py::gil_scoped_release release;
    ::initialize(resampler);
}

void CoreResampler::calculate() {
    void* resampler = handle();
    py::gil_scoped_release release;
    ::calculate(resampler);
}

uint64_t CoreResampler::resampledCount(const CoreChannel& channel) {
    uint64_t count = 0;
    ::getResampledDataCount(handle(), channelHandle(channel), &count);
    return count;
}

uint64_t CoreResampler::expectedCount(const CoreChannel& channel) {
    uint64_t count = 0;
    ::calculateDataCountOfChannel(handle(), channelHandle(channel), &count);
    return count;
}

uint64_t CoreResampler::allDataCount() {
    uint64_t count = 0;
    ::getAllDataCount(handle(), &count);
    return count;
}

// One read may take at most outputBufferSize - 1 samples, so longer reads go in pieces. A ring of
// one entry cannot be read at all; the library then reports it.
namespace {
uint64_t readPiece(uint64_t outputBufferSize) {
    return std::max<uint64_t>(outputBufferSize, 2) - 1;
}
}  // namespace

py::array_t<double> CoreResampler::readTimes(const CoreChannel& channel, uint64_t count) {
    void* resampler = handle();
    void* source = channelHandle(channel);
    py::array_t<double> times(static_cast<py::ssize_t>(count));
    double* out = times.mutable_data();
    const uint64_t piece = readPiece(state->outputBufferSize);
    py::gil_scoped_release release;
    for (uint64_t done = 0; done < count;) {
        const uint64_t n = std::min(piece, count - done);
        ::getResampledTimes2(resampler, source, out + done, n);
        done += n;
    }
    return times;
}

py::array_t<double> CoreResampler::readData(const CoreChannel& channel, uint64_t count) {
    void* resampler = handle();
    void* source = channelHandle(channel);
    const auto width = static_cast<uint64_t>(channel.arraySize);
    py::array_t<double> values = channel.isArray
                                     ? py::array_t<double>({static_cast<py::ssize_t>(count),
                                                            static_cast<py::ssize_t>(width)})
                                     : py::array_t<double>(static_cast<py::ssize_t>(count));
    double* out = values.mutable_data();
    const uint64_t piece = readPiece(state->outputBufferSize);
    py::gil_scoped_release release;
    for (uint64_t done = 0; done < count;) {
        const uint64_t n = std::min(piece, count - done);
        ::getResampledData2(resampler, source, out + done * width, n);
        done += n;
    }
    return values;
}

}  // namespace tamlib_python
