#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace Karvel::Tamlib::Cli {

// A command line the program cannot run; main prints it and exits with status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What the command line asks for. parse() validates the form of every value; the library
// validates the ranges it owns (transition band, attenuation) when the job sets them.
struct Options {
    enum class Method { Hold, Linear, AliasFree };
    enum class Action { Resample, ShowHelp, ShowVersion };

    Action action = Action::Resample;
    Method method = Method::Linear;
    double rateHz = 1000.0;
    std::optional<double> offsetSeconds;  // default: 0 for the example, earliest stamp for a file
    std::size_t blockSize = 500;          // input samples per channel and block, at most
    double exampleSeconds = 4.0;
    std::optional<int> transitionPercent;
    std::optional<double> attenuationDb;
    std::string inputPath;   // empty: the built-in example recording
    std::string outputPath;  // empty: standard output

    static Options parse(const std::vector<std::string>& arguments);
    static std::string helpText();
    static const char* methodName(Method method);
};

}  // namespace Karvel::Tamlib::Cli
