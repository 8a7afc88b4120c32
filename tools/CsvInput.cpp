#include "CsvInput.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iostream>
#include <unordered_map>

namespace Karvel::Tamlib::Cli {

namespace {

std::string trimmed(const std::string& text) {
    const char* space = " \t\r";
    const std::size_t first = text.find_first_not_of(space);
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

std::vector<std::string> splitFields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = line.find(',', start);
        fields.push_back(trimmed(line.substr(start, comma - start)));
        if (comma == std::string::npos) {
            return fields;
        }
        start = comma + 1;
    }
}

bool parseDouble(const std::string& text, double& value) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && error == std::errc() && stop == end;
}

std::string numberText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

}  // namespace

std::vector<InputChannel> CsvInput::readFile(const std::string& path) {
    if (path == "-") {
        return read(std::cin, "<stdin>");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw InputError("cannot open '" + path + "': " + std::strerror(errno));
    }
    return read(in, path);
}

std::vector<InputChannel> CsvInput::read(std::istream& in, const std::string& sourceName) {
    std::vector<InputChannel> channels;
    std::unordered_map<std::string, std::size_t> indexOfName;
    std::string line;
    long long lineNumber = 0;
    const auto fail = [&](const std::string& what) {
        throw InputError(sourceName + ":" + std::to_string(lineNumber) + ": " + what);
    };

    bool headerSeen = false;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (trimmed(line).empty()) {
            continue;
        }
        const std::vector<std::string> fields = splitFields(line);
        if (!headerSeen) {
            if (fields != std::vector<std::string>{"channel", "time", "value"}) {
                fail("expected the header 'channel,time,value'");
            }
            headerSeen = true;
            continue;
        }
        if (fields.size() != 3) {
            fail("malformed row: expected 3 fields channel,time,value, found " +
                 std::to_string(fields.size()));
        }
        const std::string& name = fields[0];
        if (name.empty()) {
            fail("malformed row: empty channel name");
        }
        double time = 0.0;
        if (!parseDouble(fields[1], time) || !std::isfinite(time)) {
            fail("malformed row: time '" + fields[1] + "' is not a finite number of seconds");
        }
        double value = 0.0;
        if (!parseDouble(fields[2], value)) {
            fail("malformed row: value '" + fields[2] + "' is not a number");
        }

        auto [entry, isNew] = indexOfName.try_emplace(name, channels.size());
        if (isNew) {
            channels.emplace_back();
            channels.back().name = name;
        }
        InputChannel& channel = channels[entry->second];
        if (!channel.times.empty() && time < channel.times.back()) {
            fail("time " + numberText(time) + " of channel '" + name +
                 "' lies before its previous time stamp " + numberText(channel.times.back()));
        }
        channel.times.push_back(time);
        channel.values.push_back(value);
    }
    if (in.bad()) {
        throw InputError("cannot read '" + sourceName + "'");
    }
    if (channels.empty()) {
        throw InputError(sourceName + ": no data rows after the header 'channel,time,value'");
    }
    for (InputChannel& channel : channels) {
        channel.declaredSampleCount = static_cast<int64_t>(channel.values.size());
    }
    return channels;
}

}  // namespace Karvel::Tamlib::Cli
