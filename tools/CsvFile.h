#pragma once

#include <fstream>
#include <string>
#include <vector>

#include "CsvReader.h"
#include "SampleSource.h"

namespace Karvel::Tamlib::Cli {

// A CSV recording on disk, read from its first row.
class CsvFile : public SampleSource {
public:
    // displayName is what error messages call the file.
    CsvFile(const std::string& path, const std::string& displayName);

    bool next(Sample& sample) override { return reader_.next(sample); }
    const std::vector<ChannelInfo>& channels() const override { return reader_.channels(); }

private:
    std::ifstream in_;
    CsvReader reader_;
};

}  // namespace Karvel::Tamlib::Cli
