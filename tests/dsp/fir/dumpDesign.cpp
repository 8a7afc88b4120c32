// Prints the coefficients of a Kaiser low-pass design, one per line, for comparison with an
// independent reference.
//
//   dumpDesign <transition Hz> <sample rate Hz> <cut-off Hz> <attenuation dB>

#include <cstdio>
#include <cstdlib>

#include "dsp/fir/Filter.h"

using Karvel::Tamlib::Dsp::Fir::Filter;
using Karvel::Tamlib::Dsp::Fir::FilterStatus;

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s transitionHz sampleRateHz cutoffHz attenuationDb\n",
                     argv[0]);
        return 2;
    }
    const double transitionHz = std::strtod(argv[1], nullptr);
    const double sampleRateHz = std::strtod(argv[2], nullptr);
    const double cutoffHz = std::strtod(argv[3], nullptr);
    const double attenuationDb = std::strtod(argv[4], nullptr);

    Filter filter;
    filter.configure(transitionHz, sampleRateHz, cutoffHz, attenuationDb);
    if (filter.getStatus() != FilterStatus::Ok) {
        std::fprintf(stderr, "design rejected\n");
        return 1;
    }
    for (const float coefficient : filter.getCoefficients()) {
        std::printf("%.9g\n", coefficient);
    }
    return 0;
}
