#pragma once

#include <cstdint>
#include <vector>

namespace Karvel::Tamlib::Dsp::Window {

// Kaiser window w[n] = I0(beta * sqrt(1 - r^2)) / I0(beta), r running from -1 to +1 over the
// symmetric positions n = 0 ... length - 1 (a length of 1 sits at r = -1). Throws
// std::length_error "vector too long" for a length no vector holds.
std::vector<float> kaiserWindow(uint64_t length, double beta);

}  // namespace Karvel::Tamlib::Dsp::Window
