#include "dsp/DspObject.h"

namespace Karvel::Tamlib::Dsp::DspObject {

void DspObject::update() {
    if (valid.load(std::memory_order_acquire) != 0) {
        return;
    }
    // The guard releases the lock when recompute throws, so a later update is not blocked.
    std::lock_guard<std::mutex> lock(mutex);
    if (valid.load(std::memory_order_acquire) == 0) {
        recompute();
    }
}

}  // namespace Karvel::Tamlib::Dsp::DspObject
