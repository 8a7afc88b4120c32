#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>

namespace Karvel::Tamlib::Resampler {

// A buffer of size() slots that wraps at its end, with the slot where writing goes on and how
// many values were written since the count was last restarted. Channel values, group stamps,
// master times and the output rings are all rings; read cursors stay with their owners, since
// one read slot of a group serves the rings of all its channels. Slots passed in lie below the
// size.
class Ring {
public:
    Ring() = default;
    // The slots start at zero.
    explicit Ring(uint64_t size) : storage(allocate(size)), slotCount(size) {}
    Ring(Ring&& other) noexcept { swap(other); }
    Ring& operator=(Ring&& other) noexcept {
        swap(other);
        return *this;
    }

    uint64_t size() const { return slotCount; }
    bool empty() const { return slotCount == 0; }
    double* data() { return storage.get(); }
    const double* data() const { return storage.get(); }
    double& operator[](uint64_t slot) { return storage[slot]; }
    double operator[](uint64_t slot) const { return storage[slot]; }

    void swap(Ring& other) noexcept {
        takeSlots(other);
        std::swap(writeAt, other.writeAt);
        std::swap(total, other.total);
    }
    // Takes over another ring's slots (handing this one's back); the cursor and count stay.
    void takeSlots(Ring& other) noexcept {
        storage.swap(other.storage);
        std::swap(slotCount, other.slotCount);
    }

    // Writes every page once, keeping its values, so that the system maps the ring now, at
    // set-up, rather than while the first blocks are written.
    void touch();

    uint64_t writeSlot() const { return writeAt; }
    void setWriteSlot(uint64_t slot) { writeAt = slot; }
    // The write cursor of a ring that shrank, folded back into it.
    void foldWriteSlot() { writeAt %= slotCount == 0 ? 1 : slotCount; }
    uint64_t written() const { return total; }
    void restartCount() { total = 0; }
    // The slot before the write cursor: the newest value.
    uint64_t newestSlot() const { return writeAt == 0 ? slotCount - 1 : writeAt - 1; }

    // The slot `count` places after `slot`.
    uint64_t advance(uint64_t slot, uint64_t count) const {
        return (slot + count % slotCount) % slotCount;
    }
    // The slot `count` places before `slot`.
    uint64_t back(uint64_t slot, uint64_t count) const {
        return (slot + slotCount - count % slotCount) % slotCount;
    }

    // Calls run(slot, done, length) for the contiguous pieces of `count` slots from `slot`: up to
    // the end of the ring, then from its start. Returns the slot after the last.
    template <typename Run>
    uint64_t forEachRun(uint64_t slot, uint64_t count, Run run) const {
        const uint64_t size = slotCount;
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
            std::memcpy(data() + at, values + done, length * sizeof(double));
        });
    }

    // count values out of the ring from `slot`; returns the slot after them.
    uint64_t copyOut(uint64_t slot, double* values, uint64_t count) const {
        return forEachRun(slot, count, [&](uint64_t at, uint64_t done, uint64_t length) {
            std::memcpy(values + done, data() + at, length * sizeof(double));
        });
    }

    // count values into another ring, each side from its own slot and wrapping at its own size.
    void copyTo(uint64_t slot, Ring& target, uint64_t targetSlot, uint64_t count) const {
        const uint64_t size = slotCount;
        const uint64_t targetSize = target.size();
        while (count > 0) {
            const uint64_t run = std::min({count, size - slot, targetSize - targetSlot});
            std::memcpy(target.data() + targetSlot, data() + slot, run * sizeof(double));
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
        const uint64_t first = count > slotCount ? count - slotCount : 0;
        writeAt = forEachRun(first == 0 ? writeAt : advance(writeAt, first), count - first,
                             [&](uint64_t at, uint64_t done, uint64_t length) {
                                 writeRun(data() + at, first + done, length);
                             });
    }

    void append(const double* values, uint64_t count) {
        append(count, [values](double* at, uint64_t first, uint64_t length) {
            std::memcpy(at, values + first, length * sizeof(double));
        });
    }

    void push(double value) { append(&value, 1); }

private:
    struct Free {
        Free() noexcept : mappedBytes(0), shiftBytes(0) {}
        // The length of the ring's own mapping, or 0 for a block from the heap.
        size_t mappedBytes;
        // How far the slots start past the start of the block or mapping.
        size_t shiftBytes;
        void operator()(double* slots) const;
    };
    // Zeroed slots: small rings cache-line aligned, large ones as fresh pages, rings of a few
    // pages on starting at a different cache line of their page each (see Ring.cpp).
    static std::unique_ptr<double[], Free> allocate(uint64_t size);

    std::unique_ptr<double[], Free> storage;
    uint64_t slotCount = 0;
    uint64_t writeAt = 0;
    uint64_t total = 0;
};

}  // namespace Karvel::Tamlib::Resampler
