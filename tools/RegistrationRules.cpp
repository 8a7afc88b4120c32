#include "RegistrationRules.h"

#include <algorithm>
#include <cmath>

namespace Karvel::Tamlib::Cli {

bool sameGroupKey(double rateA, double offsetA, double rateB, double offsetB) {
    return std::fabs(rateA - rateB) <= kGroupTolerance &&
           std::fabs(offsetA - offsetB) <= kGroupTolerance;
}

NominalRate nominalRate(const std::vector<double>& times) {
    // The median resists jitter and the odd gap.
    std::vector<double> intervals;
    intervals.reserve(times.size() - 1);
    for (std::size_t k = 1; k < times.size(); ++k) {
        intervals.push_back(times[k] - times[k - 1]);
    }
    const std::size_t middle = intervals.size() / 2;
    std::nth_element(intervals.begin(), intervals.begin() + middle, intervals.end());
    double median = intervals[middle];
    if (intervals.size() % 2 == 0) {
        const double below = *std::max_element(intervals.begin(), intervals.begin() + middle);
        median = 0.5 * (below + median);
    }
    const double rateHz = median > 0.0 ? std::round(1.0 / median) : 0.0;
    if (!(rateHz >= 1.0) || !std::isfinite(rateHz)) {
        return {0.0, median};
    }
    return {rateHz, median};
}

}  // namespace Karvel::Tamlib::Cli
