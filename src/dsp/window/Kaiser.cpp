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

template <typename T>
Kaiser<T>::Kaiser(uint64_t length, double beta) : SymmetricWindow<T>(length, 0), beta(beta) {
    // Called directly, not through update(): a window never takes its lock.
    Kaiser<T>::recompute();
}

template <typename T>
std::unique_ptr<Window<T>> Kaiser<T>::clone() const {
    // The copy constructor gives the clone a lock of its own and copies the values as they are.
    return std::unique_ptr<Window<T>>(new Kaiser<T>(*this));
}

template <typename T>
void Kaiser<T>::recompute() {
    this->coefficients.clear();
    if (this->length > this->coefficients.max_size()) {
        throw std::length_error("vector too long");
    }
    this->coefficients.resize(this->length);
    const double half = this->divisor() / 2.0;
    const std::lock_guard<std::mutex> besselTurn(besselMutex);
    const double i0Beta = std::cyl_bessel_i(0.0, beta);
    for (uint64_t n = 0; n < this->length; ++n) {
        const double r = (static_cast<double>(n) - half) / half;
        const double value = std::cyl_bessel_i(0.0, beta * std::sqrt(1.0 - r * r)) / i0Beta;
        this->coefficients[n] = static_cast<T>(value);
    }
}

template class Kaiser<float>;

}  // namespace Karvel::Tamlib::Dsp::Window
