#include "StandardInputCopy.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <system_error>
#include <vector>

#include "CsvReader.h"

namespace Karvel::Tamlib::Cli {

StandardInputCopy::StandardInputCopy() {
    std::random_device entropy;
    char name[64];
    std::snprintf(name, sizeof name, "tamresample-%08x%08x.csv", entropy(), entropy());
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    path_ = (folder / name).string();
    std::ofstream copy(path_, std::ios::binary | std::ios::trunc);
    if (error || !copy) {
        throw InputError("cannot create a temporary copy of standard input in '" + folder.string() +
                         "'");
    }
    std::vector<char> buffer(std::size_t{1} << 16);
    while (std::cin) {
        std::cin.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        copy.write(buffer.data(), std::cin.gcount());
    }
    copy.close();
    if (std::cin.bad() || !copy) {
        std::remove(path_.c_str());
        throw InputError("cannot copy standard input to '" + path_ + "'");
    }
}

StandardInputCopy::~StandardInputCopy() {
    std::remove(path_.c_str());
}

}  // namespace Karvel::Tamlib::Cli
