#pragma once

namespace Karvel::Tamlib::Dsp::DspObject {

// Base of every processing object: a setter stores its value and calls update(), which carries
// the change into the derived state through recompute(). Objects are single-threaded: a host
// drives one resampler from one thread at a time, so no lock is taken.
class DspObject {
public:
    DspObject() = default;
    DspObject(const DspObject&) = default;
    DspObject& operator=(const DspObject&) = delete;
    virtual ~DspObject() = default;

protected:
    virtual void recompute() = 0;
    void update() { recompute(); }
};

}  // namespace Karvel::Tamlib::Dsp::DspObject
