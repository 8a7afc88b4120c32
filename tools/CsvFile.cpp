#include "CsvFile.h"

#include <cerrno>
#include <cstring>

namespace Karvel::Tamlib::Cli {

namespace {

std::istream& opened(std::ifstream& in, const std::string& path) {
    if (!in) {
        throw InputError("cannot open '" + path + "': " + std::strerror(errno));
    }
    return in;
}

}  // namespace

CsvFile::CsvFile(const std::string& path, const std::string& displayName)
    : in_(path, std::ios::binary), reader_(opened(in_, displayName), displayName) {}

}  // namespace Karvel::Tamlib::Cli
