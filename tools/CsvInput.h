#pragma once

#include <istream>
#include <stdexcept>
#include <string>
#include <vector>

#include "InputChannel.h"

namespace Karvel::Tamlib::Cli {

// Input the program cannot use; the message names the file and, for a bad row, its line.
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads a long-format CSV: the header "channel,time,value", then one sample per row. Every
// channel becomes a timestamped channel, in order of first appearance; its time stamps must not
// go backwards.
class CsvInput {
public:
    // "-" reads standard input.
    static std::vector<InputChannel> readFile(const std::string& path);
    static std::vector<InputChannel> read(std::istream& in, const std::string& sourceName);
};

}  // namespace Karvel::Tamlib::Cli
