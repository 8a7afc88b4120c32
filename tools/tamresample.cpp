// tamresample: resamples a recording (a CSV file, or a built-in example) onto one common time
// grid with the Tamlib resampler and writes a wide CSV as the rows complete.
#include <exception>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CsvFile.h"
#include "ExampleRecording.h"
#include "InMemorySource.h"
#include "Options.h"
#include "ResampleJob.h"
#include "StandardInputCopy.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#ifndef TAMRESAMPLE_VERSION
#error "TAMRESAMPLE_VERSION must come from the build (the project version)"
#endif

namespace {

using namespace Karvel::Tamlib::Cli;

int resample(const Options& options) {
    std::vector<InputChannel> example;
    std::optional<StandardInputCopy> standardInput;
    ResampleJob::PassOpener openPass;
    if (options.inputPath.empty()) {
        example = ExampleRecording::generate(options.exampleSeconds);
        openPass = [&example] { return std::make_unique<InMemorySource>(example); };
    } else if (options.inputPath == "-") {
        standardInput.emplace();
        openPass = [&standardInput] {
            return std::make_unique<CsvFile>(standardInput->path(), "<stdin>");
        };
    } else {
        openPass = [&options] {
            return std::make_unique<CsvFile>(options.inputPath, options.inputPath);
        };
    }

    std::ofstream file;
    if (!options.outputPath.empty()) {
        file.open(options.outputPath, std::ios::binary | std::ios::trunc);
        if (!file) {
            throw InputError("cannot write '" + options.outputPath + "'");
        }
    }
    std::ostream& out = options.outputPath.empty() ? std::cout : file;

    ResampleJob job(options, openPass, !options.inputPath.empty());
    job.run(out, std::cerr);
    out.flush();
    if (!out) {
        throw InputError("writing the output failed");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // The same bytes on every platform: no CR before each LF, and the input as it is.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    // Rows go out as they complete; a synchronised stream would flush far more often.
    std::ios::sync_with_stdio(false);
    try {
        const Options options = Options::parse(std::vector<std::string>(argv + 1, argv + argc));
        switch (options.action) {
            case Options::Action::ShowHelp:
                std::cout << Options::helpText();
                return 0;
            case Options::Action::ShowVersion:
                std::cout << "tamresample " << TAMRESAMPLE_VERSION << '\n';
                return 0;
            case Options::Action::Resample:
                return resample(options);
        }
    } catch (const UsageError& error) {
        std::cerr << "tamresample: " << error.what() << '\n';
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "tamresample: " << error.what() << '\n';
        return 1;
    }
    return 1;
}
