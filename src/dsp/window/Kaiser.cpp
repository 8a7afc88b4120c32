#include "dsp/window/Kaiser.h"

#include <cmath>
#include <mutex>
#include <stdexcept>

namespace Karvel::Tamlib::Dsp::Window {

namespace {

// std::cyl_bessel_i goes through lgamma, which writes the C library's global signgam. Nobody
// reads it, but two threads designing filters at once would race on it, so the evaluations
// take turns. A design runs once per channel group, never on the data path.
std::mutex besselMutex;

}  // namespace

std::vector<float> kaiserWindow(uint64_t length, double beta) {
    std::vector<float> values;
    if (length > values.max_size()) {
        throw std::length_error("vector too long");
    }
    values.resize(length);
    // Raised to 1 so that lengths 0 and 1 do not divide by zero.
    const double divisor = length < 2 ? 1.0 : static_cast<double>(length - 1);
    const double half = divisor / 2.0;
    const std::lock_guard<std::mutex> besselTurn(besselMutex);
    const double i0Beta = std::cyl_bessel_i(0.0, beta);
    for (uint64_t n = 0; n < length; ++n) {
        const double r = (static_cast<double>(n) - half) / half;
        values[n] =
            static_cast<float>(std::cyl_bessel_i(0.0, beta * std::sqrt(1.0 - r * r)) / i0Beta);
    }
    return values;
}

}  // namespace Karvel::Tamlib::Dsp::Window
