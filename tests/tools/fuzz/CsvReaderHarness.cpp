// Feeds a fuzz input to tamresample's CSV reader as a whole file and pulls every sample. An
// input must either read to its end, with the samples in time order and each naming a channel
// the reader has announced, or be refused with an InputError that says where: the source and a
// line ("input.csv:<line>: ..."), or one of the whole-file refusals that have no line. Anything
// else aborts: another exception, a message without a place, a crash or a sanitizer report.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <sstream>
#include <string>
#include <string_view>

#include "CsvReader.h"

namespace {

using Karvel::Tamlib::Cli::CsvReader;
using Karvel::Tamlib::Cli::InputError;
using Karvel::Tamlib::Cli::Sample;

constexpr char kSource[] = "input.csv";
// Small, so that an overlong line and the refills of the reader's buffer are both within reach
// of short inputs.
constexpr std::size_t kMaxLineBytes = 64;

[[noreturn]] void finding(const char* what, std::string_view detail) {
    std::fprintf(stderr, "%s: %.*s\n", what, static_cast<int>(detail.size()), detail.data());
    std::abort();
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// A refusal names the source, then either the line (1 to the input's line count) or says what
// the whole file lacks.
void checkRefusal(std::string_view message, std::string_view input) {
    const std::string_view source = kSource;
    if (!startsWith(message, source) || message.size() <= source.size() ||
        message[source.size()] != ':') {
        finding("refusal does not name the source", message);
    }
    const std::string_view rest = message.substr(source.size() + 1);
    std::size_t digits = 0;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') {
        ++digits;
    }
    if (digits > 0) {
        const long long line = std::stoll(std::string(rest.substr(0, digits)));
        const auto lines = static_cast<long long>(std::count(input.begin(), input.end(), '\n'));
        if (line < 1 || line > lines + 1 || !startsWith(rest.substr(digits), ": ")) {
            finding("refusal names a line the input does not have", message);
        }
        return;
    }
    const bool wholeFile = startsWith(rest, " no header: expected ") ||
                           rest == " no data rows after the header" ||
                           (startsWith(rest, " channel '") && endsWith(rest, "' has no samples"));
    if (!wholeFile) {
        finding("refusal names no line", message);
    }
}

void readAll(std::string_view input) {
    std::istringstream in{std::string(input)};
    CsvReader reader(in, kSource, kMaxLineBytes);
    Sample sample;
    bool first = true;
    double previousTime = 0.0;
    while (reader.next(sample)) {
        if (!std::isfinite(sample.time)) {
            finding("sample time not finite", input);
        }
        if (!first && sample.time < previousTime) {
            finding("samples out of time order", input);
        }
        if (sample.channel >= reader.channels().size()) {
            finding("sample names an unknown channel", input);
        }
        first = false;
        previousTime = sample.time;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    try {
        readAll(input);
    } catch (const InputError& error) {
        checkRefusal(error.what(), input);
    } catch (const std::exception& error) {
        finding("unexpected exception", error.what());
    } catch (...) {
        finding("unexpected exception", "not a std::exception");
    }
    return 0;
}
