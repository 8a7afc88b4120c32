#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "dsp/DspObject.h"

namespace Karvel::Tamlib::Dsp::Fir {

enum class FilterStatus : int32_t { Ok = 0, InvalidParameters = 1 };

// Kaiser's estimate of a low-pass filter's order before rounding:
// (max(8, A) - 7.95) * fs / (tw * 2 pi * 2.285). The designer and the alias-free length checks
// all round this one value, so that their lengths agree bit for bit.
double kaiserOrderEstimate(double attenuationDb, double sampleRateHz, double transitionWidthHz);

// Linear-phase low-pass FIR designer: a windowed ideal response with a Kaiser window whose length
// and shape follow from the stop-band attenuation, scaled to unit gain at 0 Hz.
class Filter : public DspObject::DspObject {
public:
    // Frequencies in Hz, attenuation in dB. Runs the design at once; a rejected design is
    // reported by getStatus() and leaves no coefficients, not an exception.
    void configure(double transitionWidthHz, double sampleRateHz, double cutoffHz,
                   double attenuationDb);

    const std::vector<float>& getCoefficients() const { return coefficients; }
    // H(f) of the design, f in Hz; 0 without one.
    std::complex<double> frequencyResponse(double frequency) const;

    FilterStatus getStatus() const { return status; }
    int32_t getOrder() const { return order; }
    const std::vector<float>& getWindowValues() const { return windowValues; }

protected:
    void recompute() override;

private:
    static int32_t kaiserOrder(double attenuationDb, double sampleRateHz, double transitionWidthHz);
    static double kaiserBeta(double attenuationDb);

    bool isDesignable() const;
    void designWindowed();
    void normaliseToUnitDcGain();

    // Nothing is designed yet, which a status of Ok would misstate.
    FilterStatus status = FilterStatus::InvalidParameters;
    int32_t order = 0;
    double attenuation = 0.0;
    double cutoff = 0.0;
    double sampleRate = 0.0;
    std::vector<float> coefficients;
    std::vector<float> windowValues;
};

}  // namespace Karvel::Tamlib::Dsp::Fir
