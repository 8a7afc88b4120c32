#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace Karvel::Tamlib::Dsp::DspObject {

// Base of every processing object: a setter stores its value and calls update(), which carries
// the change into the derived state by running recompute() under the object's own lock.
class DspObject {
public:
    DspObject() = default;
    // A lock is never copied: the copy gets a fresh one and the source's validity flag.
    DspObject(const DspObject& other) : valid(other.valid.load(std::memory_order_acquire)) {}
    DspObject& operator=(const DspObject&) = delete;
    virtual ~DspObject() = default;

    int32_t isValid() const { return valid.load(std::memory_order_acquire); }

protected:
    virtual void recompute() = 0;
    void update();

private:
    std::mutex mutex;
    std::atomic<int32_t> valid{0};
};

}  // namespace Karvel::Tamlib::Dsp::DspObject
