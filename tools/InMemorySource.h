#pragma once

#include <cstddef>
#include <vector>

#include "InputChannel.h"
#include "SampleSource.h"

namespace Karvel::Tamlib::Cli {

// Hands out channels held in memory as one stream in time order, the earliest sample of any
// channel first (on equal times the lower channel index first).
class InMemorySource : public SampleSource {
public:
    explicit InMemorySource(const std::vector<InputChannel>& channels);

    bool next(Sample& sample) override;
    const std::vector<ChannelInfo>& channels() const override { return infos_; }

private:
    const std::vector<InputChannel>& channels_;
    std::vector<ChannelInfo> infos_;
    std::vector<std::size_t> cursors_;
};

}  // namespace Karvel::Tamlib::Cli
