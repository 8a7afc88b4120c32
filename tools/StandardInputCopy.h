#pragma once

#include <string>

namespace Karvel::Tamlib::Cli {

// Standard input copied to a temporary file, since the command reads its input twice; the
// copy is removed with this object.
class StandardInputCopy {
public:
    StandardInputCopy();
    ~StandardInputCopy();
    StandardInputCopy(const StandardInputCopy&) = delete;
    StandardInputCopy& operator=(const StandardInputCopy&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace Karvel::Tamlib::Cli
