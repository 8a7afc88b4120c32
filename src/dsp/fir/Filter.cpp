#include "dsp/fir/Filter.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <new>
#include <optional>

#include "dsp/CheckedConversion.h"
#include "dsp/window/Kaiser.h"

namespace Karvel::Tamlib::Dsp::Fir {

namespace {

constexpr double pi = 3.141592653589793;
constexpr double twoPi = 6.283185307179586;
// 2 pi times 2.285, the constant of Kaiser's length estimate.
constexpr double kaiserConstant = 14.357078426905355;
constexpr std::align_val_t coefficientAlignment{32};

}  // namespace

void Filter::AlignedRelease::operator()(float* buffer) const {
    ::operator delete(buffer, coefficientAlignment);
}

Filter::AlignedBuffer Filter::allocateAligned(std::size_t count) {
    if (count > std::numeric_limits<std::size_t>::max() / sizeof(float)) {
        throw std::bad_array_new_length();
    }
    auto* values = static_cast<float*>(::operator new(count * sizeof(float), coefficientAlignment));
    std::uninitialized_fill_n(values, count, 0.0f);
    return AlignedBuffer(values);
}

void Filter::configure(int type, double transitionWidthHz, double sampleRateHz, double edge1Hz,
                       double edge2Hz, int window, double attenuationDb) {
    filterType = type;
    sampleRate = sampleRateHz;
    cutoff1 = edge1Hz;
    transitionWidth = transitionWidthHz;
    windowKind = window;
    designMethod = Windowed;
    kaiserFromAttenuation = 1;
    // A low-pass has one edge; its second stays 0 so that it never fails the Nyquist test.
    if (type != Lowpass) {
        cutoff2 = edge2Hz;
    }
    order = kaiserOrder(attenuationDb, sampleRateHz, transitionWidthHz);
    attenuation = attenuationDb;
    normalise = true;
    update();
}

int32_t Filter::kaiserOrder(double attenuationDb, double sampleRateHz, double transitionWidthHz) {
    const double estimate = std::ceil((std::max(8.0, std::fabs(attenuationDb)) - 7.95) *
                                      sampleRateHz / (transitionWidthHz * kaiserConstant));
    // Through 64-bit unsigned and back to double before the 32-bit order. A value either
    // conversion cannot hold (NaN, negative, too large) becomes order 0, which recompute rejects.
    const std::optional<uint64_t> wide = truncateChecked<uint64_t>(estimate);
    if (!wide) {
        return 0;
    }
    return truncateChecked<int32_t>(static_cast<double>(*wide)).value_or(0);
}

double Filter::kaiserBeta(double attenuationDb) {
    // These tests use the attenuation itself: a negative one gives a rectangular window although
    // the length rule takes its magnitude.
    if (attenuationDb > 50.0) {
        return 0.1102 * (attenuationDb - 8.7);
    }
    if (attenuationDb > 21.0) {
        return 0.5842 * std::pow(attenuationDb - 21.0, 0.4) + 0.07886 * (attenuationDb - 21.0);
    }
    return 0.0;
}

bool Filter::isDesignable() const {
    // Only the windowed Kaiser low-pass exists; any other request is refused rather than
    // silently designed as one.
    if (filterType != Lowpass || windowKind != Kaiser || designMethod != Windowed) {
        return false;
    }
    const double nyquist = sampleRate * 0.5;
    return order > 0 && cutoff1 > 0.0 && nyquist > cutoff1 && nyquist > cutoff2;
}

void Filter::recompute() {
    if (!isDesignable()) {
        status = FilterStatus::InvalidParameters;
        return;
    }
    coefficientCopy.clear();
    windowValues.clear();
    designWindowed();
    if (normalise) {
        normaliseToUnitDcGain();
    }
    status = FilterStatus::Ok;
}

void Filter::designWindowed() {
    const std::size_t count = static_cast<std::size_t>(order) + 1;
    AlignedBuffer values = allocateAligned(count);

    const double cutoff = cutoff1 / (sampleRate * 0.5);
    // For an odd order the centre lies half a sample before the middle of the window.
    const int64_t centre = order / 2;
    for (std::size_t n = 0; n < count; ++n) {
        const int64_t k = static_cast<int64_t>(n) - centre;
        if (k == 0) {
            values[n] = static_cast<float>(cutoff);
        } else {
            const double piK = pi * static_cast<double>(k);
            values[n] = static_cast<float>(std::sin(piK * cutoff) / piK);
        }
    }

    // The window length follows from the same estimate as the order, plus one.
    auto window = std::make_unique<Window::Kaiser<float>>(count, kaiserBeta(attenuation));
    windowValues = window->getCoefficients();
    window.reset();

    // Single precision on purpose: the product's rounding is part of the result.
    for (std::size_t n = 0; n < count; ++n) {
        values[n] = windowValues[n] * values[n];
    }

    // Replaced only once the design is complete, so a failure leaves the previous one intact.
    coefficientBuffer = std::move(values);
    designedLength = count;
    designedSampleRate = sampleRate;
}

void Filter::normaliseToUnitDcGain() {
    const std::complex<double> dc = frequencyResponse(0.0);
    const float gain = static_cast<float>(std::hypot(dc.real(), dc.imag()));
    for (std::size_t n = 0; n < designedLength; ++n) {
        coefficientBuffer[n] = coefficientBuffer[n] / gain;
    }
}

std::vector<float> Filter::getCoefficients() {
    coefficientCopy.clear();
    if (coefficientBuffer) {
        coefficientCopy.assign(coefficientBuffer.get(), coefficientBuffer.get() + designedLength);
    }
    return coefficientCopy;
}

std::complex<double> Filter::frequencyResponse(double frequency) const {
    double real = 0.0;
    double imaginary = 0.0;
    if (!coefficientBuffer) {
        return {real, imaginary};
    }
    const double omega = twoPi * frequency / designedSampleRate;
    for (std::size_t n = 0; n < designedLength; ++n) {
        const double coefficient = coefficientBuffer[n];
        const double phase = static_cast<double>(n) * omega;
        real += coefficient * std::cos(phase);
        imaginary += coefficient * std::sin(phase);
    }
    return {real, imaginary};
}

}  // namespace Karvel::Tamlib::Dsp::Fir
