#include "Options.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace Karvel::Tamlib::Cli {

namespace {

double parseNumber(const std::string& text, const std::string& option) {
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value)) {
        throw UsageError(option + " expects a finite number, not '" + text + "'");
    }
    return value;
}

long long parseInteger(const std::string& text, const std::string& option) {
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) {
        throw UsageError(option + " expects a whole number, not '" + text + "'");
    }
    return value;
}

Options::Method parseMethod(const std::string& text) {
    if (text == "hold") {
        return Options::Method::Hold;
    }
    if (text == "linear") {
        return Options::Method::Linear;
    }
    if (text == "aliasfree") {
        return Options::Method::AliasFree;
    }
    throw UsageError("--method expects hold, linear or aliasfree, not '" + text + "'");
}

}  // namespace

Options Options::parse(const std::vector<std::string>& arguments) {
    Options options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string option = arguments[i];
        std::optional<std::string> inlineValue;
        const std::size_t equals = option.find('=');
        if (option.rfind("--", 0) == 0 && equals != std::string::npos) {
            inlineValue = option.substr(equals + 1);
            option.erase(equals);
        }
        const auto value = [&]() -> std::string {
            if (inlineValue) {
                return *inlineValue;
            }
            if (i + 1 >= arguments.size()) {
                throw UsageError(option + " needs a value");
            }
            return arguments[++i];
        };

        if (option == "--help" || option == "-h") {
            options.action = Action::ShowHelp;
        } else if (option == "--version") {
            options.action = Action::ShowVersion;
        } else if (option == "--method") {
            options.method = parseMethod(value());
        } else if (option == "--rate") {
            options.rateHz = parseNumber(value(), option);
            if (!(options.rateHz > 0.0)) {
                throw UsageError("--rate expects a positive number of hertz");
            }
        } else if (option == "--offset") {
            options.offsetSeconds = parseNumber(value(), option);
        } else if (option == "--block") {
            const long long block = parseInteger(value(), option);
            if (block < 1) {
                throw UsageError("--block expects at least 1 sample");
            }
            options.blockSize = static_cast<std::size_t>(block);
        } else if (option == "--duration") {
            options.exampleSeconds = parseNumber(value(), option);
            // Bounded so the example stays a quick demonstration, not a memory test.
            if (!(options.exampleSeconds > 0.0) || options.exampleSeconds > 3600.0) {
                throw UsageError("--duration expects seconds between 0 and 3600");
            }
        } else if (option == "--transition") {
            const long long percent = parseInteger(value(), option);
            if (percent < std::numeric_limits<int>::min() ||
                percent > std::numeric_limits<int>::max()) {
                throw UsageError("--transition is out of range");
            }
            options.transitionPercent = static_cast<int>(percent);
        } else if (option == "--attenuation") {
            options.attenuationDb = parseNumber(value(), option);
        } else if (option == "--output" || option == "-o") {
            options.outputPath = value();
            if (options.outputPath.empty()) {
                throw UsageError("--output needs a file name");
            }
        } else if (option.size() > 1 && option[0] == '-') {
            throw UsageError("unknown option '" + option + "' (try --help)");
        } else if (options.inputPath.empty() && !option.empty()) {
            options.inputPath = option;
        } else {
            throw UsageError("more than one input file given ('" + options.inputPath + "', '" +
                             option + "')");
        }
    }
    return options;
}

const char* Options::methodName(Method method) {
    switch (method) {
        case Method::Hold:
            return "hold";
        case Method::Linear:
            return "linear";
        case Method::AliasFree:
            return "aliasfree";
    }
    return "?";
}

std::string Options::helpText() {
    return R"(Usage: tamresample [OPTIONS] [INPUT.csv]

Puts every channel on one common time grid with the Tamlib resampler and writes a wide CSV:
a header "time,<channel>,..." and one row per output time; a channel without an output at a
time leaves its cell empty. Numbers carry 17 significant digits, so runs compare bit for bit.

Without INPUT, resamples a built-in example recording: a 2500 Hz vibration channel, a 100 Hz
temperature channel and a pressure channel with jittered, irregular time stamps.
INPUT ("-" for standard input) is a CSV with the header "channel,time,value" (long: one
sample per row) or "time,<channel>,..." (wide: an empty cell means no sample), time in
seconds. Rows must come in time order; the input is streamed, so memory follows --block and
the channel count, not the length of the recording. Every channel becomes an asynchronous
channel with its own time stamps.

Options:
  --method hold|linear|aliasfree  resampling method (default linear)
  --rate HZ            output grid rate (default 1000)
  --offset S           earliest output time in seconds (default 0 for the example, the
                       earliest time stamp of INPUT otherwise)
  --block N            stream at most N input samples per channel between two
                       calculations (default 500)
  --output FILE        write the CSV to FILE instead of standard output
  --transition PERCENT alias-free transition band, 10 to 100 (default 16)
  --attenuation DB     alias-free stop-band attenuation, 0 to 400 (default 60)
  --duration S         length of the example recording in seconds (default 4)
  --version            print the version and exit
  --help               print this help and exit

With --method aliasfree, timestamped channels are filtered at a nominal rate: the median
interval between their time stamps, rounded to whole hertz, reported on standard error. The
filter counts samples from time 0, so for it time is measured from the earliest time stamp
(and added back to the output times).
)";
}

}  // namespace Karvel::Tamlib::Cli
