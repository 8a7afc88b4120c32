#include "GridWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>

namespace Karvel::Tamlib::Cli {

namespace {

void writeNumber(std::ostream& out, double value) {
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%.17g", value);
    out.write(text, length);
}

}  // namespace

GridWriter::GridWriter(std::ostream& out, std::vector<std::string> channelNames)
    : out_(out),
      names_(std::move(channelNames)),
      newestTime_(names_.size(), -std::numeric_limits<double>::infinity()) {}

void GridWriter::writeHeader() {
    out_ << "time";
    for (const std::string& name : names_) {
        out_ << ',' << name;
    }
    out_ << '\n';
}

void GridWriter::add(std::size_t channel, const double* times, const double* values,
                     std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
        // A NaN key would break the ordering of the rows; it also means a broken grid.
        if (!std::isfinite(times[k])) {
            throw std::runtime_error("the resampler returned a non-finite output time");
        }
        // Each channel's outputs advance in time, so none can fall behind a written row.
        const double previous = std::max(newestWritten_, newestTime_[channel]);
        if (times[k] <= previous) {
            char text[160];
            std::snprintf(text, sizeof text, "output time %.17g follows %.17g", times[k], previous);
            throw std::runtime_error("channel '" + names_[channel] +
                                     "': the resampler's output times do not increase: " + text);
        }
        Row& row = pending_[times[k]];
        if (row.values.empty()) {
            row.values.assign(names_.size(), 0.0);
            row.present.assign(names_.size(), false);
        }
        row.values[channel] = values[k];
        row.present[channel] = true;
        newestTime_[channel] = std::max(newestTime_[channel], times[k]);
    }
}

void GridWriter::writeCompletedRows() {
    if (newestTime_.empty()) {
        return;
    }
    // Every channel's next output lies after its newest one.
    writeRowsUpTo(*std::min_element(newestTime_.begin(), newestTime_.end()));
}

void GridWriter::finish() {
    writeRowsUpTo(std::numeric_limits<double>::infinity());
}

void GridWriter::writeRowsUpTo(double time) {
    auto row = pending_.begin();
    for (; row != pending_.end() && row->first <= time; ++row) {
        writeNumber(out_, row->first);
        for (std::size_t c = 0; c < names_.size(); ++c) {
            out_ << ',';
            if (row->second.present[c]) {
                writeNumber(out_, row->second.values[c]);
            }
        }
        out_ << '\n';
        ++rowsWritten_;
        newestWritten_ = row->first;
    }
    pending_.erase(pending_.begin(), row);
}

}  // namespace Karvel::Tamlib::Cli
