#include "resampler/methods/ResamplerAliasFree.h"

#include <stdexcept>

namespace Karvel::Tamlib::Resampler {

ResamplerAliasFree::ResamplerAliasFree() { method = AliasFree; }

ResamplerAliasFree::~ResamplerAliasFree() = default;

void ResamplerAliasFree::setTimeBase(const int32_t& value) {
    if (value == Explicit) {
        throw std::invalid_argument("Explicit timebase not supported.");
    }
    timeBase = value;
}

void ResamplerAliasFree::setInputBufferSize(uint64_t size) {
    if (size > std::vector<double>().max_size()) {
        throw std::invalid_argument("Buffer size too large.");
    }
    const uint64_t previous = inputBufferSize;
    inputBufferSize = size;
    try {
        update();
    } catch (...) {
        inputBufferSize = previous;
        throw;
    }
}

ResamplerChannel* ResamplerAliasFree::addAsyncArrayChannel(const int32_t&, int32_t, double,
                                                           double) {
    throw std::invalid_argument("Channel not supported.");
}

ResamplerChannel* ResamplerAliasFree::addNamedAsyncChannel(const std::string&) {
    throw std::invalid_argument("Channel not supported.");
}

ResamplerChannel* ResamplerAliasFree::addAsyncChannel() {
    throw std::invalid_argument("Channel not supported.");
}

bool ResamplerAliasFree::isChannelUnsupported(const ResamplerChannel& channel) const {
    return channel.isArray != 0;
}

ResamplerChannelGroup* ResamplerAliasFree::createSyncGroup(double rate, double offset) {
    return Resampler::createSyncGroup(rate, offset);
}

ResamplerChannelGroup* ResamplerAliasFree::createAsyncRateGroup(double rate, double offset) {
    return Resampler::createAsyncRateGroup(rate, offset);
}

void ResamplerAliasFree::initialize() { Resampler::initialize(); }

void ResamplerAliasFree::resampleGroup(ResamplerChannelGroup&, int32_t) {}

}  // namespace Karvel::Tamlib::Resampler
