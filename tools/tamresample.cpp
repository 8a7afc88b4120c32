// tamresample: resamples a recording (a long-format CSV, or a built-in example) onto one common
// time grid with the Tamlib resampler and writes a wide CSV.
#include <algorithm>
#include <exception>
#include <fstream>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

#include "CsvInput.h"
#include "ExampleRecording.h"
#include "GridWriter.h"
#include "Options.h"
#include "ResampleJob.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#ifndef TAMRESAMPLE_VERSION
#error "TAMRESAMPLE_VERSION must come from the build (the project version)"
#endif

namespace {

using namespace Karvel::Tamlib::Cli;

double earliestTime(const std::vector<InputChannel>& channels) {
    double earliest = std::numeric_limits<double>::infinity();
    for (const InputChannel& channel : channels) {
        if (channel.size() > 0) {
            earliest = std::min(earliest, channel.timeOf(0));
        }
    }
    return earliest;
}

int resample(const Options& options) {
    const bool fromFile = !options.inputPath.empty();
    std::vector<InputChannel> channels = fromFile
                                             ? CsvInput::readFile(options.inputPath)
                                             : ExampleRecording::generate(options.exampleSeconds);
    // Absolute time stamps (an epoch, an hour into a test run) need the grid to start near
    // them: the grid is seeded from the offsets, not from the data.
    const double offsetSeconds =
        options.offsetSeconds.value_or(fromFile ? earliestTime(channels) : 0.0);

    std::vector<std::string> names;
    for (const InputChannel& channel : channels) {
        names.push_back(channel.name);
    }

    std::ofstream file;
    if (!options.outputPath.empty()) {
        file.open(options.outputPath, std::ios::binary | std::ios::trunc);
        if (!file) {
            throw InputError("cannot write '" + options.outputPath + "'");
        }
    }
    std::ostream& out = options.outputPath.empty() ? std::cout : file;

    GridWriter writer(out, names);
    ResampleJob job(options, offsetSeconds, std::move(channels));
    job.run(writer, std::cerr);
    out.flush();
    if (!out) {
        throw InputError("writing the output failed");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // The same bytes on every platform: no CR before each LF.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
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
