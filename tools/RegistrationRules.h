#pragma once

#include <cstddef>
#include <vector>

// The two rules that decide how the command registers timestamped channels. The Python package
// applies the same ones; keep the two in step.
namespace Karvel::Tamlib::Cli {

// The library's tolerance when a rate registration looks for a group with the same rate and
// offset: such a registration joins the first group that matches.
constexpr double kGroupTolerance = 2.220446049250313e-16;
bool sameGroupKey(double rateA, double offsetA, double rateB, double offsetB);

// The alias-free filter runs a timestamped channel at a whole nominal rate: one over the median
// interval between its time stamps, rounded. The median is taken over the channel's first
// kNominalRateIntervals intervals, so that it needs bounded memory however long the recording.
constexpr std::size_t kNominalRateIntervals = 10000;

struct NominalRate {
    double rateHz = 0.0;  // 0 when the median gives no rate of at least 1 Hz
    double medianIntervalSeconds = 0.0;
};

// times: the channel's first time stamps, at least two and at most kNominalRateIntervals + 1.
NominalRate nominalRate(const std::vector<double>& times);

}  // namespace Karvel::Tamlib::Cli
