#pragma once

#include <vector>

#include "InputChannel.h"

namespace Karvel::Tamlib::Cli {

// A made-up test-bench recording that the program resamples when no input file is given:
// - "vibration", 2500 Hz synchronous: 50 Hz and 320 Hz tones, and a 730 Hz tone that lies
//   above the Nyquist frequency of a 1000 Hz grid (the alias-free method removes it; hold and
//   linear fold it to 270 Hz), plus a little noise;
// - "temperature", 100 Hz synchronous with its total sample count declared: a slow ramp;
// - "pressure", timestamped at a nominal 50 Hz: the stamps jitter by up to a twentieth of a period
//   and about one sample in thirty is missing, as from a logger on a busy bus.
// The same seed gives the same recording on every platform: the signals use only additions
// and multiplications, never the C library's sin.
class ExampleRecording {
public:
    static std::vector<InputChannel> generate(double durationSeconds);
};

}  // namespace Karvel::Tamlib::Cli
