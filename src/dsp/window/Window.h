#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "dsp/DspObject.h"

namespace Karvel::Tamlib::Dsp::Window {

// A tapering sequence of a fixed length. Derived classes generate the values in recompute().
template <typename T>
class Window : public DspObject::DspObject {
public:
    ~Window() override = default;

    virtual std::unique_ptr<Window<T>> clone() const = 0;
    virtual bool equals(const Window<T>& other) const = 0;

    const std::vector<T>& getCoefficients() const { return coefficients; }
    uint64_t getLength() const { return length; }
    T getAmplitudeCorrection() const { return amplitudeCorrection; }

protected:
    explicit Window(uint64_t length) : length(length) {}
    Window(const Window&) = default;

    std::vector<T> coefficients;
    uint64_t length;
    T amplitudeCorrection = 0;
};

}  // namespace Karvel::Tamlib::Dsp::Window
