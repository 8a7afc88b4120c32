#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "dsp/DspObject.h"

namespace Karvel::Tamlib::Dsp::Fir {

enum class FilterStatus : int32_t { Ok = 0, InvalidParameters = 1 };

// Linear-phase low-pass FIR designer: a windowed ideal response with a Kaiser window whose length
// and shape follow from the stop-band attenuation, scaled to unit gain at 0 Hz.
class Filter : public DspObject::DspObject {
public:
    enum FilterType : int32_t { Lowpass = 0 };
    enum DesignMethod : int32_t { Windowed = 0 };
    enum WindowKind : int32_t { Kaiser = 4 };

    Filter() = default;
    Filter(const Filter&) = delete;
    Filter& operator=(const Filter&) = delete;
    ~Filter() override = default;

    // Frequencies in Hz, attenuation in dB. Runs the design at once; a rejected design is
    // reported by getStatus(), not by an exception.
    void configure(int type, double transitionWidthHz, double sampleRateHz, double edge1Hz,
                   double edge2Hz, int window, double attenuationDb);

    // The coefficients of the last successful design; empty before the first one.
    std::vector<float> getCoefficients();
    // H(f) of the last successful design, f in Hz; 0 before the first one.
    std::complex<double> frequencyResponse(double frequency) const;

    FilterStatus getStatus() const { return status; }
    int32_t getOrder() const { return order; }
    const std::vector<float>& getWindowValues() const { return windowValues; }

protected:
    void recompute() override;

private:
    struct AlignedRelease {
        void operator()(float* buffer) const;
    };
    using AlignedBuffer = std::unique_ptr<float[], AlignedRelease>;

    static AlignedBuffer allocateAligned(std::size_t count);
    static int32_t kaiserOrder(double attenuationDb, double sampleRateHz, double transitionWidthHz);
    static double kaiserBeta(double attenuationDb);

    bool isDesignable() const;
    void designWindowed();
    void normaliseToUnitDcGain();

    // Nothing is designed yet, which a status of Ok would misstate.
    FilterStatus status = FilterStatus::InvalidParameters;
    int32_t windowKind = 0;
    int32_t filterType = 0;
    int32_t designMethod = 0;
    int32_t kaiserFromAttenuation = 0;
    int32_t order = 0;
    double transitionWidth = 0.0;
    double attenuation = 0.0;
    double cutoff1 = 0.0;
    double cutoff2 = 0.0;
    double sampleRate = 0.0;
    std::vector<float> coefficientCopy;
    std::vector<float> windowValues;
    bool normalise = false;
    AlignedBuffer coefficientBuffer;
    // Length and sample rate of the design held in coefficientBuffer. A rejected design changes
    // order and sampleRate without replacing the buffer, so the buffer's own are kept apart.
    std::size_t designedLength = 0;
    double designedSampleRate = 0.0;
};

}  // namespace Karvel::Tamlib::Dsp::Fir
