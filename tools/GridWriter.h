#pragma once

#include <cstddef>
#include <limits>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace Karvel::Tamlib::Cli {

// Writes resampled channels as one wide CSV, "time,<channel>,...", one row per output time.
// Groups deliver their outputs at different paces, so rows are collected by output time (the
// groups read the same master times, so equal grid times are equal doubles) and a row is written
// once every channel has moved past it. A channel with no output at a row's time leaves the
// cell empty. Numbers are printed with 17 significant digits, enough to read back every bit.
class GridWriter {
public:
    GridWriter(std::ostream& out, std::vector<std::string> channelNames);

    void writeHeader();
    // Outputs of one channel, in time order.
    void add(std::size_t channel, const double* times, const double* values, std::size_t count);
    // Writes the rows that no channel can add to any more.
    void writeCompletedRows();
    // Writes every row still held; no output may be added afterwards.
    void finish();

    std::size_t rowsWritten() const { return rowsWritten_; }

private:
    struct Row {
        std::vector<double> values;
        std::vector<bool> present;
    };

    void writeRowsUpTo(double time);

    std::ostream& out_;
    std::vector<std::string> names_;
    std::map<double, Row> pending_;
    std::vector<double> newestTime_;
    double newestWritten_ = -std::numeric_limits<double>::infinity();
    std::size_t rowsWritten_ = 0;
};

}  // namespace Karvel::Tamlib::Cli
