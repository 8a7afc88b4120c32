#include "CsvReader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace Karvel::Tamlib::Cli {

namespace {

constexpr std::size_t kReadChunkBytes = std::size_t{1} << 16;
constexpr std::size_t kShownBytes = 200;
constexpr char kLongHeader[] = "'channel,time,value'";
constexpr char kWideHeader[] = "'time,<channel>,...'";

std::string_view trimmed(std::string_view text) {
    const char* space = " \t\r";
    const std::size_t first = text.find_first_not_of(space);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

bool parseDouble(std::string_view text, double& value) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && error == std::errc() && stop == end;
}

std::string numberText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

// Length of the UTF-8 sequence at text[k], or 0 when it is not one.
std::size_t utf8Length(std::string_view text, std::size_t k) {
    const auto lead = static_cast<unsigned char>(text[k]);
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    } else {
        return 0;
    }
    if (k + length > text.size()) {
        return 0;
    }
    for (std::size_t j = 1; j < length; ++j) {
        if ((static_cast<unsigned char>(text[k + j]) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return length;
}

}  // namespace

std::string printable(std::string_view text) {
    std::string shown;
    std::size_t k = 0;
    while (k < text.size() && k < kShownBytes) {
        const auto byte = static_cast<unsigned char>(text[k]);
        if (byte >= 0x20 && byte < 0x7F) {
            shown += text[k++];
            continue;
        }
        const std::size_t length = byte >= 0x80 ? utf8Length(text, k) : 0;
        if (length > 0) {
            shown.append(text.substr(k, length));
            k += length;
            continue;
        }
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
        shown += escaped;
        ++k;
    }
    if (k < text.size()) {
        shown += "...";
    }
    return shown;
}

CsvReader::CsvReader(std::istream& in, std::string sourceName, std::size_t maxLineBytes)
    : in_(in), sourceName_(std::move(sourceName)), maxLineBytes_(maxLineBytes) {
    buffer_.resize(std::min(kReadChunkBytes, maxLineBytes_ + 1));
    readHeader();
}

void CsvReader::fail(const std::string& what) const {
    throw InputError(sourceName_ + ":" + std::to_string(lineNumber_) + ": " + what);
}

bool CsvReader::fillBuffer() {
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == buffer_.size()) {
        buffer_.resize(std::min(2 * buffer_.size(), maxLineBytes_ + 1));
    }
    const std::size_t wanted = buffer_.size() - end_;
    in_.read(buffer_.data() + end_, static_cast<std::streamsize>(wanted));
    const auto got = static_cast<std::size_t>(in_.gcount());
    if (in_.bad()) {
        throw InputError("cannot read '" + sourceName_ + "'");
    }
    end_ += got;
    endOfInput_ = got < wanted;
    return got > 0;
}

// Splits the next line that is not blank into fields_; false at the end of the input.
bool CsvReader::nextLine() {
    std::size_t scanned = begin_;
    while (true) {
        const char* data = buffer_.data();
        const void* newline = std::memchr(data + scanned, '\n', end_ - scanned);
        std::size_t lineEnd = newline ? static_cast<const char*>(newline) - data : end_;
        if (lineEnd - begin_ > maxLineBytes_) {
            ++lineNumber_;
            fail("line longer than " + std::to_string(maxLineBytes_) + " bytes");
        }
        if (!newline && !endOfInput_) {
            scanned = end_ - begin_;
            fillBuffer();
            continue;
        }
        if (!newline && begin_ == end_) {
            return false;
        }
        std::string_view line(data + begin_, lineEnd - begin_);
        begin_ = newline ? lineEnd + 1 : end_;
        scanned = begin_;
        ++lineNumber_;
        if (lineNumber_ == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") {
            line.remove_prefix(3);  // a byte-order mark, as some spreadsheets write
        }
        if (trimmed(line).empty()) {
            continue;
        }
        fields_.clear();
        while (true) {
            const std::size_t comma = line.find(',');
            fields_.push_back(trimmed(line.substr(0, comma)));
            if (comma == std::string_view::npos) {
                return true;
            }
            line.remove_prefix(comma + 1);
        }
    }
}

void CsvReader::readHeader() {
    if (!nextLine()) {
        throw InputError(sourceName_ + ": no header: expected " + kLongHeader + " or " +
                         kWideHeader);
    }
    if (fields_.size() == 3 && fields_[0] == "channel" && fields_[1] == "time" &&
        fields_[2] == "value") {
        layout_ = Layout::Long;
        return;
    }
    if (fields_.size() < 2 || fields_[0] != "time") {
        fail(std::string("expected the header ") + kLongHeader + " or " + kWideHeader);
    }
    layout_ = Layout::Wide;
    for (std::size_t j = 1; j < fields_.size(); ++j) {
        const std::string name(fields_[j]);
        if (name.empty()) {
            fail("empty channel name in column " + std::to_string(j + 1) + " of the header");
        }
        if (!indexOfName_.try_emplace(name, channels_.size()).second) {
            fail("channel '" + printable(name) + "' appears twice in the header");
        }
        ChannelInfo channel;
        channel.name = name;
        channels_.push_back(channel);
    }
    hasSample_.assign(channels_.size(), false);
}

double CsvReader::parseTime(std::string_view field) const {
    double time = 0.0;
    if (!parseDouble(field, time) || !std::isfinite(time)) {
        fail("malformed row: time '" + printable(field) + "' is not a finite number of seconds");
    }
    return time;
}

void CsvReader::checkTimeOrder(double time) {
    if (previousLine_ > 0 && time < previousTime_) {
        fail("time " + numberText(time) + " lies before " + numberText(previousTime_) +
             " on line " + std::to_string(previousLine_) + ": rows must be in time order");
    }
    previousTime_ = time;
    previousLine_ = lineNumber_;
}

bool CsvReader::next(Sample& sample) {
    if (layout_ == Layout::Long) {
        return nextLongRow(sample);
    }
    while (rowNext_ == row_.size()) {
        if (!nextWideRow()) {
            return false;
        }
    }
    sample = row_[rowNext_++];
    return true;
}

bool CsvReader::nextLongRow(Sample& sample) {
    if (!nextLine()) {
        finish();
        return false;
    }
    if (fields_.size() != 3) {
        fail("malformed row: expected 3 fields channel,time,value, found " +
             std::to_string(fields_.size()));
    }
    if (fields_[0].empty()) {
        fail("malformed row: empty channel name");
    }
    const double time = parseTime(fields_[1]);
    double value = 0.0;
    if (!parseDouble(fields_[2], value)) {
        fail("malformed row: value '" + printable(fields_[2]) + "' is not a number");
    }
    checkTimeOrder(time);
    sample.time = time;
    sample.value = value;
    nameKey_.assign(fields_[0]);
    const auto [entry, isNew] = indexOfName_.try_emplace(nameKey_, channels_.size());
    if (isNew) {
        ChannelInfo channel;
        channel.name = nameKey_;
        channels_.push_back(channel);
    }
    sample.channel = entry->second;
    return true;
}

bool CsvReader::nextWideRow() {
    row_.clear();
    rowNext_ = 0;
    if (!nextLine()) {
        finish();
        return false;
    }
    if (fields_.size() != channels_.size() + 1) {
        fail("malformed row: expected " + std::to_string(channels_.size() + 1) +
             " fields like the header, found " + std::to_string(fields_.size()));
    }
    const double time = parseTime(fields_[0]);
    checkTimeOrder(time);
    for (std::size_t c = 0; c < channels_.size(); ++c) {
        const std::string_view cell = fields_[c + 1];
        if (cell.empty()) {
            continue;
        }
        double value = 0.0;
        if (!parseDouble(cell, value)) {
            fail("malformed row: value '" + printable(cell) + "' of channel '" +
                 printable(channels_[c].name) + "' is not a number");
        }
        row_.push_back({c, time, value});
        hasSample_[c] = true;
    }
    return true;
}

void CsvReader::finish() const {
    if (previousLine_ == 0) {
        throw InputError(sourceName_ + ": no data rows after the header");
    }
    for (std::size_t c = 0; c < hasSample_.size(); ++c) {
        if (!hasSample_[c]) {
            throw InputError(sourceName_ + ": channel '" + printable(channels_[c].name) +
                             "' has no samples");
        }
    }
}

}  // namespace Karvel::Tamlib::Cli
