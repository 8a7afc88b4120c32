#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace Karvel::Tamlib::Resampler {

// A buffer of size() slots that wraps at its end, with the slot where writing goes on and how
// many values were written since the count was last restarted. Channel values, group stamps,
// master times and the output rings are all rings; read cursors stay with their owners, since
// one read slot of a group serves the rings of all its channels. Slots passed in lie below the
// size.
class Ring {
public:
    Ring() = default;
    explicit Ring(uint64_t size) : slots(size, 0.0) {}

    uint64_t size() const { return slots.size(); }
    bool empty() const { return slots.empty(); }
    double* data() { return slots.data(); }
    const double* data() const { return slots.data(); }
    double& operator[](uint64_t slot) { return slots[slot]; }
    double operator[](uint64_t slot) const { return slots[slot]; }

    // Takes over another ring's slots (handing this one's back); the cursor and count stay.
    void takeSlots(Ring& other) { slots.swap(other.slots); }

    uint64_t writeSlot() const { return writeAt; }
    void setWriteSlot(uint64_t slot) { writeAt = slot; }
    // The write cursor of a ring that shrank, folded back into it.
    void foldWriteSlot() { writeAt %= slots.empty() ? 1 : slots.size(); }
    uint64_t written() const { return total; }
    void restartCount() { total = 0; }
    // The slot before the write cursor: the newest value.
    uint64_t newestSlot() const { return writeAt == 0 ? slots.size() - 1 : writeAt - 1; }

    // The slot `count` places after `slot`.
    uint64_t advance(uint64_t slot, uint64_t count) const {
        return (slot + count % slots.size()) % slots.size();
    }
    // The slot `count` places before `slot`.
    uint64_t back(uint64_t slot, uint64_t count) const {
        return (slot + slots.size() - count % slots.size()) % slots.size();
    }

    // Calls run(slot, done, length) for the contiguous pieces of `count` slots from `slot`: up to
    // the end of the ring, then from its start. Returns the slot after the last.
    template <typename Run>
    uint64_t forEachRun(uint64_t slot, uint64_t count, Run run) const {
        const uint64_t size = slots.size();
        for (uint64_t done = 0; done < count;) {
            const uint64_t length = std::min(count - done, size - slot);
            run(slot, done, length);
            done += length;
            slot = slot + length >= size ? 0 : slot + length;
        }
        return slot;
    }

    // count values into the ring from `slot`; returns the slot after them.
    uint64_t copyIn(uint64_t slot, const double* values, uint64_t count) {
        return forEachRun(slot, count, [&](uint64_t at, uint64_t done, uint64_t length) {
            std::memcpy(slots.data() + at, values + done, length * sizeof(double));
        });
    }

    // count values out of the ring from `slot`; returns the slot after them.
    uint64_t copyOut(uint64_t slot, double* values, uint64_t count) const {
        return forEachRun(slot, count, [&](uint64_t at, uint64_t done, uint64_t length) {
            std::memcpy(values + done, slots.data() + at, length * sizeof(double));
        });
    }

    // count values into another ring, each side from its own slot and wrapping at its own size.
    void copyTo(uint64_t slot, Ring& target, uint64_t targetSlot, uint64_t count) const {
        const uint64_t size = slots.size();
        const uint64_t targetSize = target.size();
        while (count > 0) {
            const uint64_t run = std::min({count, size - slot, targetSize - targetSlot});
            std::memcpy(target.data() + targetSlot, slots.data() + slot, run * sizeof(double));
            count -= run;
            slot = slot + run >= size ? 0 : slot + run;
            targetSlot = targetSlot + run >= targetSize ? 0 : targetSlot + run;
        }
    }

    // count values at the write cursor, counted. Only the newest size() can survive, so the
    // older ones are skipped, leaving the cursor where writing them would have.
    // writeRun(at, first, length) writes values first.. of the block into slots at...
    template <typename WriteRun>
    void append(uint64_t count, WriteRun writeRun) {
        total = total > std::numeric_limits<uint64_t>::max() - count
                    ? std::numeric_limits<uint64_t>::max()
                    : total + count;
        const uint64_t first = count > slots.size() ? count - slots.size() : 0;
        writeAt = forEachRun(first == 0 ? writeAt : advance(writeAt, first), count - first,
                             [&](uint64_t at, uint64_t done, uint64_t length) {
                                 writeRun(slots.data() + at, first + done, length);
                             });
    }

    void append(const double* values, uint64_t count) {
        append(count, [values](double* at, uint64_t first, uint64_t length) {
            std::memcpy(at, values + first, length * sizeof(double));
        });
    }

    void push(double value) { append(&value, 1); }

private:
    std::vector<double> slots;
    uint64_t writeAt = 0;
    uint64_t total = 0;
};

}  // namespace Karvel::Tamlib::Resampler
