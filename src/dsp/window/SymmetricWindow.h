#pragma once

#include <cstdint>
#include <typeinfo>

#include "dsp/window/Window.h"

namespace Karvel::Tamlib::Dsp::Window {

// A window whose values are mirrored about the middle (periodic == 0) or that repeats with
// period length (periodic != 0), which only changes the divisor of the sample positions.
template <typename T>
class SymmetricWindow : public Window<T> {
public:
    // Only the symmetry kind is compared. Throws std::bad_cast for a window of another family.
    bool equals(const Window<T>& other) const override {
        const auto& symmetric = dynamic_cast<const SymmetricWindow<T>&>(other);
        return periodic == symmetric.periodic;
    }

    int32_t getPeriodic() const { return periodic; }

protected:
    SymmetricWindow(uint64_t length, int32_t periodic) : Window<T>(length), periodic(periodic) {}
    SymmetricWindow(const SymmetricWindow&) = default;

    // Raised to 1 so that lengths 0 and 1 do not divide by zero.
    double divisor() const {
        const uint64_t shortest = periodic != 0 ? 1 : 2;
        if (this->length < shortest) {
            return 1.0;
        }
        return static_cast<double>(periodic != 0 ? this->length : this->length - 1);
    }

    int32_t periodic;
};

}  // namespace Karvel::Tamlib::Dsp::Window
