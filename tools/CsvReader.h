#pragma once

#include <cstddef>
#include <istream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "SampleSource.h"

namespace Karvel::Tamlib::Cli {

// Input the program cannot use; the message names the file and, for a bad row, its line.
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Text from the input as a message shows it: control bytes and bytes that are not UTF-8 as
// \xNN, and cut after 200 bytes, so that a message stays one readable line.
std::string printable(std::string_view text);

// Reads a CSV recording row by row in one of two layouts, told apart by the header:
// - long, "channel,time,value": one sample per row; a channel is named by its first row;
// - wide, "time,<channel>,...": one row per time; an empty cell means that channel has no
//   sample at that time. It is the layout the command writes.
// Every channel is timestamped. Rows must come in time order (equal times may repeat). Fields
// are trimmed of blanks and carriage returns; quotes are part of the text. Blank lines are
// skipped but counted, so that every error names the line an editor shows.
class CsvReader : public SampleSource {
public:
    // Longer lines are refused: they mean a file that is not a CSV recording, and the limit
    // bounds the memory a line takes.
    static constexpr std::size_t kMaxLineBytes = std::size_t{1} << 20;

    // Reads the header at once; a bad one throws.
    CsvReader(std::istream& in, std::string sourceName, std::size_t maxLineBytes = kMaxLineBytes);

    bool next(Sample& sample) override;
    const std::vector<ChannelInfo>& channels() const override { return channels_; }

private:
    enum class Layout { Long, Wide };

    bool nextLine();
    bool fillBuffer();
    void readHeader();
    bool nextLongRow(Sample& sample);
    bool nextWideRow();
    double parseTime(std::string_view field) const;
    void checkTimeOrder(double time);
    void finish() const;
    [[noreturn]] void fail(const std::string& what) const;

    std::istream& in_;
    std::string sourceName_;
    std::size_t maxLineBytes_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;  // start of the unread bytes in buffer_
    std::size_t end_ = 0;
    bool endOfInput_ = false;
    long long lineNumber_ = 0;
    std::vector<std::string_view> fields_;  // of the current line, pointing into buffer_

    Layout layout_ = Layout::Long;
    std::vector<ChannelInfo> channels_;
    std::unordered_map<std::string, std::size_t> indexOfName_;
    std::string nameKey_;
    double previousTime_ = 0.0;
    long long previousLine_ = 0;  // 0 before the first row
    std::vector<Sample> row_;     // wide: the current row's samples, handed out one by one
    std::size_t rowNext_ = 0;
    std::vector<bool> hasSample_;
};

}  // namespace Karvel::Tamlib::Cli
