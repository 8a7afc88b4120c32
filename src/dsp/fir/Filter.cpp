#include "dsp/fir/Filter.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "dsp/CheckedConversion.h"
#include "dsp/window/Kaiser.h"

namespace Karvel::Tamlib::Dsp::Fir {

namespace {

constexpr double pi = 3.141592653589793;
constexpr double twoPi = 6.283185307179586;
// 2 pi times 2.285, the constant of Kaiser's length estimate.
constexpr double kaiserConstant = 14.357078426905355;

}  // namespace

double kaiserOrderEstimate(double attenuationDb, double sampleRateHz, double transitionWidthHz) {
    return (sampleRateHz * (std::max(8.0, attenuationDb) - 7.95)) /
           (transitionWidthHz * kaiserConstant);
}

void Filter::configure(double transitionWidthHz, double sampleRateHz, double cutoffHz,
                       double attenuationDb) {
    sampleRate = sampleRateHz;
    cutoff = cutoffHz;
    order = kaiserOrder(attenuationDb, sampleRateHz, transitionWidthHz);
    attenuation = attenuationDb;
    update();
}

int32_t Filter::kaiserOrder(double attenuationDb, double sampleRateHz, double transitionWidthHz) {
    const double estimate =
        std::ceil(kaiserOrderEstimate(std::fabs(attenuationDb), sampleRateHz, transitionWidthHz));
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
    const double nyquist = sampleRate * 0.5;
    return order > 0 && cutoff > 0.0 && nyquist > cutoff;
}

void Filter::recompute() {
    coefficients.clear();
    windowValues.clear();
    status = FilterStatus::InvalidParameters;
    if (!isDesignable()) {
        return;
    }
    designWindowed();
    normaliseToUnitDcGain();
    status = FilterStatus::Ok;
}

void Filter::designWindowed() {
    const std::size_t count = static_cast<std::size_t>(order) + 1;
    std::vector<float> values(count);

    const double relativeCutoff = cutoff / (sampleRate * 0.5);
    // For an odd order the centre lies half a sample before the middle of the window.
    const int64_t centre = order / 2;
    for (std::size_t n = 0; n < count; ++n) {
        const int64_t k = static_cast<int64_t>(n) - centre;
        if (k == 0) {
            values[n] = static_cast<float>(relativeCutoff);
        } else {
            const double piK = pi * static_cast<double>(k);
            values[n] = static_cast<float>(std::sin(piK * relativeCutoff) / piK);
        }
    }

    // The window length follows from the same estimate as the order, plus one.
    windowValues = Window::kaiserWindow(count, kaiserBeta(attenuation));

    // Single precision on purpose: the product's rounding is part of the result.
    for (std::size_t n = 0; n < count; ++n) {
        values[n] = windowValues[n] * values[n];
    }

    coefficients = std::move(values);
}

void Filter::normaliseToUnitDcGain() {
    const std::complex<double> dc = frequencyResponse(0.0);
    const float gain = static_cast<float>(std::hypot(dc.real(), dc.imag()));
    for (float& coefficient : coefficients) {
        coefficient = coefficient / gain;
    }
}

std::complex<double> Filter::frequencyResponse(double frequency) const {
    double real = 0.0;
    double imaginary = 0.0;
    const double omega = twoPi * frequency / sampleRate;
    for (std::size_t n = 0; n < coefficients.size(); ++n) {
        const double coefficient = coefficients[n];
        const double phase = static_cast<double>(n) * omega;
        real += coefficient * std::cos(phase);
        imaginary += coefficient * std::sin(phase);
    }
    return {real, imaginary};
}

}  // namespace Karvel::Tamlib::Dsp::Fir
