// Reads a fuzz input as a sequence of calls through the exported C interface on up to two
// resamplers. Every std::exception a call throws is an accepted answer; anything else (a crash,
// a sanitizer report, a hang, a huge allocation) is a finding.
//
// Input layout: each call is an opcode byte followed by the bytes its arguments take. Arguments
// come mostly from palettes of troublesome values (NaN, the infinities, -0.0, 1e300, 2^63, sizes
// near 2^64); a reader past the end of the input yields zeros, so every byte string is a valid
// program.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <tuple>
#include <type_traits>
#include <vector>

#include "tamlib/resampler.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The harness's own buffers stay small whatever the input asks for.
constexpr uint64_t kMaxCount = 4096;
constexpr uint64_t kMaxHostBuffer = uint64_t{1} << 20;
// The smallest ring size a std::vector<double> cannot hold: every size the palette passes is
// either small or at least this, so a refusal is always the library's own check, never a failed
// allocation (which the address sanitizer turns into an abort rather than std::bad_alloc).
constexpr uint64_t kImpossibleRing = uint64_t{1} << 60;

// Inputs select entries by index: order and length are part of the input format.
// clang-format off
const double kDoubles[] = {
    0.0, -0.0, 1.0, -1.0, 0.5, 2.0, 3.0, 10.0, 100.0, 333.3, 500.0,
    999.9999999, 1000.0, 1000.0000001, 2000.0, 2500.0, 44100.0, 1e6, 1e9,
    0.001, 0.0004, 1e-9, 1e-300, 5e-324, 2.2250738585072014e-308, 1e300, -1e300,
    std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(),
    kInf, -kInf, kNaN, -kNaN,
    9223372036854775808.0, -9223372036854775808.0, 18446744073709551616.0,  // 2^63, -2^63, 2^64
    2147483647.0, 2147483648.0, 4294967296.0, 0.9999, 1e15, -0.5, 2147483647000.0, 1.0 / 3.0};

const uint64_t kSizes[] = {
    0, 1, 2, 3, 4, 5, 7, 8, 16, 17, 60, 64, 100, 255, 1000, 1024, 4095, 4096,
    kImpossibleRing, kImpossibleRing + 1, uint64_t{1} << 61, uint64_t{1} << 62,
    (uint64_t{1} << 63) - 1, uint64_t{1} << 63, (uint64_t{1} << 63) + 1,
    std::numeric_limits<uint64_t>::max() - 1000, std::numeric_limits<uint64_t>::max() - 3,
    std::numeric_limits<uint64_t>::max() - 2, std::numeric_limits<uint64_t>::max() - 1,
    std::numeric_limits<uint64_t>::max()};

const int32_t kInt32s[] = {
    0, 1, -1, 2, 3, 5, 9, 10, 16, 50, 99, 100, 101, 1000, 400, 4096, 65536, -100,
    std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()};

const int64_t kInt64s[] = {
    0, 1, -1, 10, 1000, 100000, int64_t{1} << 53,
    std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::min()};
// clang-format on

// Plausible steps between time stamps of a streamed block, in seconds.
const double kSteps[] = {0.001, 0.0004, 0.002, 0.01, 0.00025, 1.0 / 3000.0, 0.0, 0.1};

template <typename T, size_t N>
constexpr size_t countOf(const T (&)[N]) {
    return N;
}

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data(data), size(size) {}

    bool done() const { return position >= size; }

    uint8_t byte() { return position < size ? data[position++] : 0; }

    uint64_t raw(size_t bytes) {
        uint64_t value = 0;
        for (size_t k = 0; k < bytes; ++k) {
            value |= static_cast<uint64_t>(byte()) << (8 * k);
        }
        return value;
    }

    double rawDouble() {
        const uint64_t bits = raw(8);
        double value = 0.0;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    // Palette entries mostly, small whole and fractional values, and now and then any bits.
    double anyDouble() {
        const uint8_t selector = byte();
        if (selector < countOf(kDoubles)) {
            return kDoubles[selector];
        }
        if (selector < 0xC0) {
            return static_cast<double>(selector - countOf(kDoubles));
        }
        if (selector < 0xF0) {
            return static_cast<double>(selector - 0xC0) * 0.125 - 1.0;
        }
        return rawDouble();
    }

    uint64_t anySize() {
        const uint8_t selector = byte();
        if (selector < countOf(kSizes)) {
            return kSizes[selector];
        }
        return selector - countOf(kSizes);
    }

    int32_t anyInt32() {
        const uint8_t selector = byte();
        if (selector < countOf(kInt32s)) {
            return kInt32s[selector];
        }
        if (selector < 0xF0) {
            return static_cast<int32_t>(selector) - 100;
        }
        return static_cast<int32_t>(static_cast<uint32_t>(raw(4)));
    }

    int64_t anyInt64() {
        const uint8_t selector = byte();
        if (selector < countOf(kInt64s)) {
            return kInt64s[selector];
        }
        return static_cast<int64_t>(selector) - 64;
    }

    // The palette read for an argument of this type.
    template <typename T>
    T any() {
        if constexpr (std::is_same_v<T, double>) {
            return anyDouble();
        } else if constexpr (std::is_same_v<T, uint64_t>) {
            return anySize();
        } else if constexpr (std::is_same_v<T, int32_t>) {
            return anyInt32();
        } else {
            static_assert(std::is_same_v<T, int64_t>);
            return anyInt64();
        }
    }

    // A count for a host array the harness fills itself: never more than kMaxCount.
    uint64_t hostCount() {
        const uint8_t selector = byte();
        if (selector < 0xF0) {
            return selector % 70;
        }
        const uint64_t larger[] = {0, 1, 255, 999, 1000, 1001, 1002, 2048, 4095, 4096};
        return larger[(selector - 0xF0) % countOf(larger)];
    }

    // A count handed to an output call: small, the palette's sizes, or a raw 64-bit value.
    uint64_t outputCount() {
        const uint8_t selector = byte();
        if (selector < 0x80) {
            return selector;
        }
        if (selector < 0xF0) {
            return kSizes[(selector - 0x80) % countOf(kSizes)];
        }
        return raw(8);
    }

private:
    const uint8_t* data;
    size_t size;
    size_t position = 0;
};

enum class ChannelKind { Sync, Async, Array };

struct Channel {
    void* handle;
    ChannelKind kind;
    int32_t arraySize;
};

struct Slot {
    void* resampler = nullptr;
    std::vector<Channel> channels;
    // The output ring size the library holds, as far as the harness's calls succeeded.
    uint64_t outputBufferSize = 1000;
    double clock = 0.0;
};

// Runs one call; an exception from the library is one of its documented answers.
template <typename Call>
void attempt(Call call) {
    try {
        call();
    } catch (const std::exception&) {
    }
}

class Session {
public:
    explicit Session(Reader& in) : in(in) {}
    ~Session() {
        for (Slot& slot : slots) {
            deleteResampler(slot.resampler);
        }
    }

    void run() {
        int calls = 0;
        while (!in.done() && calls++ < 4000) {
            step();
        }
    }

private:
    Reader& in;
    Slot slots[2];

    // Any channel of either resampler, or null: the lookup-based calls must cope with a handle
    // their resampler does not know.
    void* anyChannel() {
        const uint8_t selector = in.byte();
        const size_t total = slots[0].channels.size() + slots[1].channels.size();
        if (total == 0 || selector == 0xFF) {
            return nullptr;
        }
        const size_t index = selector % total;
        return index < slots[0].channels.size()
                   ? slots[0].channels[index].handle
                   : slots[1].channels[index - slots[0].channels.size()].handle;
    }

    // A channel of this resampler, for the calls that use the handle directly.
    Channel* ownChannel(Slot& slot) {
        const uint8_t selector = in.byte();
        if (slot.channels.empty()) {
            return nullptr;
        }
        return &slot.channels[selector % slot.channels.size()];
    }

    std::vector<double> values(uint64_t count) {
        std::vector<double> result(count);
        const uint8_t mode = in.byte() % 3;
        const double base = in.anyDouble();
        for (uint64_t k = 0; k < count; ++k) {
            result[k] = mode == 0   ? base
                        : mode == 1 ? base + static_cast<double>(k)
                                    : in.anyDouble();
        }
        return result;
    }

    std::vector<double> times(Slot& slot, uint64_t count) {
        std::vector<double> result(count);
        const uint8_t mode = in.byte() % 4;
        if (mode == 0 || mode == 1) {
            // Increasing from the slot's clock, the way a host streams.
            const double step = mode == 0 ? kSteps[in.byte() % countOf(kSteps)] : in.anyDouble();
            for (uint64_t k = 0; k < count; ++k) {
                result[k] = slot.clock + static_cast<double>(k + 1) * step;
            }
            if (count > 0 && std::isfinite(result[count - 1])) {
                slot.clock = result[count - 1];
            }
        } else if (mode == 2) {
            const double start = in.anyDouble();
            for (uint64_t k = 0; k < count; ++k) {
                result[k] = start + static_cast<double>(k) * 0.001;
            }
        } else {
            for (uint64_t k = 0; k < count; ++k) {
                result[k] = in.anyDouble();
            }
        }
        return result;
    }

    void remember(Slot& slot, void* handle, ChannelKind kind, int32_t arraySize) {
        if (handle != nullptr) {
            slot.channels.push_back({handle, kind, arraySize});
        }
    }

    void create(Slot& slot, uint8_t method) {
        deleteResampler(slot.resampler);
        slot = Slot{};
        int (*const creators[])(void**) = {createResamplerHold, createResamplerLinear,
                                           createResamplerAliasFree};
        creators[method % 3](&slot.resampler);
    }

    // Copies output the way a host does: a buffer sized to what the count says. A count the
    // harness cannot afford is passed only when the library must refuse it, with a token
    // buffer; an overrun then shows up as a sanitizer report.
    template <typename Read>
    void readInto(const Slot& slot, uint64_t count, uint64_t width, Read read) {
        if (width == 0 || count <= kMaxHostBuffer / width) {
            std::vector<double> buffer(count * width + 1);
            attempt([&] { read(buffer.data()); });
        } else if (count >= slot.outputBufferSize) {
            std::vector<double> token(1);
            attempt([&] { read(token.data()); });
        }
    }

    void readData(Slot& slot, const Channel& channel, uint64_t count) {
        const uint64_t width = channel.arraySize > 0 ? static_cast<uint64_t>(channel.arraySize) : 0;
        readInto(slot, count, width, [&](double* buffer) {
            getResampledData2(slot.resampler, channel.handle, buffer, count);
        });
    }

    void readTimes(Slot& slot, void* channel, uint64_t count) {
        readInto(slot, count, 1, [&](double* buffer) {
            getResampledTimes2(slot.resampler, channel, buffer, count);
        });
    }

    // A host's read after calculate: the count, then exactly that many times and values.
    void readAll(Slot& slot) {
        for (const Channel& channel : slot.channels) {
            uint64_t count = 0;
            attempt([&] { getResampledDataCount(slot.resampler, channel.handle, &count); });
            readTimes(slot, channel.handle, count);
            readData(slot, channel, count);
        }
    }

    // A plausible set-up: output rate, a few channels of plausible kinds, initialize.
    void setUp(Slot& slot) {
        const double rates[] = {1000.0, 2500.0, 500.0, 2000.0, 100.0, 333.3, 48000.0};
        attempt([&] { setSamplerate(slot.resampler, rates[in.byte() % 4]); });
        const int channelCount = in.byte() % 4 + 1;
        for (int c = 0; c < channelCount; ++c) {
            const uint8_t kind = in.byte() % 5;
            const double rate = rates[in.byte() % countOf(rates)];
            void* handle = nullptr;
            attempt([&] {
                switch (kind) {
                    case 0:
                        addSyncChannel(slot.resampler, &handle, rate, 0.0, 1000);
                        remember(slot, handle, ChannelKind::Sync, 1);
                        break;
                    case 1:
                        addSyncChannel2(slot.resampler, &handle, rate, 0.0, 0.0, 1.0);
                        remember(slot, handle, ChannelKind::Sync, 1);
                        break;
                    case 2:
                        addAsyncChannel(slot.resampler, &handle);
                        remember(slot, handle, ChannelKind::Async, 1);
                        break;
                    case 3:
                        addAsyncChannel2(slot.resampler, &handle, rate, 0.0, 1000);
                        remember(slot, handle, ChannelKind::Async, 1);
                        break;
                    default:
                        addAsyncArrayChannel(slot.resampler, &handle, 1, 3, 0.0, 1.0);
                        remember(slot, handle, ChannelKind::Array, 3);
                        break;
                }
            });
        }
        attempt([&] { initialize(slot.resampler); });
    }

    // Blocks of samples with increasing times, each followed by calculate and a full read.
    void stream(Slot& slot) {
        const int blocks = in.byte() % 8 + 1;
        const uint64_t blockSize = in.byte() % 64 + 1;
        const double step = kSteps[in.byte() % countOf(kSteps)];
        const bool finish = (in.byte() & 1) != 0;
        std::vector<double> blockTimes(blockSize);
        std::vector<double> blockValues(blockSize);
        for (int b = 0; b < blocks; ++b) {
            for (uint64_t k = 0; k < blockSize; ++k) {
                blockTimes[k] = slot.clock + static_cast<double>(k + 1) * step;
                blockValues[k] = std::sin(blockTimes[k] * 7.0);
            }
            slot.clock = blockTimes[blockSize - 1];
            for (const Channel& channel : slot.channels) {
                if (channel.kind == ChannelKind::Array) {
                    const uint64_t width =
                        channel.arraySize > 0 ? static_cast<uint64_t>(channel.arraySize) : 1;
                    if (width > kMaxCount) {
                        continue;
                    }
                    std::vector<double> sample(width, 0.25);
                    for (uint64_t k = 0; k < blockSize; ++k) {
                        attempt(
                            [&] { addData(slot.resampler, channel.handle, sample.data(), width); });
                    }
                } else {
                    attempt([&] {
                        addData(slot.resampler, channel.handle, blockValues.data(), blockSize);
                    });
                }
                if (channel.kind != ChannelKind::Sync) {
                    attempt([&] {
                        addTimes(slot.resampler, channel.handle, blockTimes.data(), blockSize);
                    });
                }
            }
            if (finish && b == blocks - 1) {
                attempt([&] { noMoreDataToAdd(slot.resampler, slot.clock * 1000.0); });
            }
            attempt([&] { calculate(slot.resampler); });
            readAll(slot);
        }
    }

    // A linear resampler of its own on data whose values are their time stamps. Values run
    // ahead of the stamps by random amounts, on small rings. A stamp's slot still holds that
    // stamp only while fewer than a ring of later stamps came, so a value slot that lost its
    // value to a later sample pairs a stored stamp with a sample that has no stamp yet. Every
    // correct output (interpolated, extended or held) lies within the stamped samples' values,
    // so a value above the newest stamp is a mispairing, and ends the run.
    void pairingOracle() {
        void* r = nullptr;
        createResamplerLinear(&r);
        const uint64_t rings[] = {1, 2, 3, 5, 8, 16, 40, 100, 416};
        const double rate = in.byte() % 2 == 0 ? 100.0 : 1000.0;
        const double step = kSteps[in.byte() % (countOf(kSteps) - 2)];  // no 0 or 0.1 steps
        const double start = static_cast<double>(in.byte() % 8);
        const size_t channels = in.byte() % 2 + 1;
        const bool oneGroup = (in.byte() & 1) != 0;
        attempt([&] { setSamplerate(r, rate); });
        attempt([&] { setInputBufferSize(r, rings[in.byte() % countOf(rings)]); });
        attempt([&] { setOutputBufferSize(r, uint64_t{1} << 15); });
        std::vector<void*> handles(channels, nullptr);
        for (void*& handle : handles) {
            attempt([&] {
                if (oneGroup) {
                    addAsyncChannel2(r, &handle, rate, 0.0, 0);
                } else {
                    addAsyncChannel(r, &handle);
                }
            });
        }
        attempt([&] { initialize(r); });
        const auto timeOf = [&](uint64_t k) { return start + static_cast<double>(k + 1) * step; };
        uint64_t valuesAdded = 0;
        uint64_t stampsAdded = 0;
        const int blocks = in.byte() % 12 + 1;
        std::vector<double> buffer;
        for (int b = 0; b < blocks; ++b) {
            const uint64_t newValues = in.byte() % 128;
            for (uint64_t k = 0; k < newValues; ++k) {
                buffer.push_back(timeOf(valuesAdded + k));
            }
            for (void* handle : handles) {
                attempt([&] { addData(r, handle, buffer.data(), newValues); });
            }
            buffer.clear();
            valuesAdded += newValues;
            // Stamps only for samples whose values are in: the values may run ahead, never
            // behind, so a slot that lost its value holds a later one.
            const uint64_t newStamps =
                std::min<uint64_t>(in.byte() % 128, valuesAdded - stampsAdded);
            for (uint64_t k = 0; k < newStamps; ++k) {
                buffer.push_back(timeOf(stampsAdded + k));
            }
            attempt([&] { addTimes(r, handles.front(), buffer.data(), newStamps); });
            buffer.clear();
            stampsAdded += newStamps;
            if (b + 1 == blocks && (in.byte() & 1) != 0) {
                attempt([&] { noMoreDataToAdd(r, 1000.0 * (timeOf(stampsAdded) + 0.5)); });
            }
            attempt([&] { calculate(r); });
            const double newest = stampsAdded == 0 ? -kInf : timeOf(stampsAdded - 1);
            if (oneGroup) {
                // A group's output times are read once, with its first channel.
                const std::vector<double> times = readTimes(r, handles.front());
                for (void* handle : handles) {
                    checkIdentityOutputs(r, handle, times.size(), newest);
                }
            } else {
                for (void* handle : handles) {
                    checkIdentityOutputs(r, handle, readTimes(r, handle).size(), newest);
                }
            }
        }
        deleteResampler(r);
    }

    static std::vector<double> readTimes(void* r, void* channel) {
        uint64_t count = 0;
        attempt([&] { getResampledDataCount(r, channel, &count); });
        std::vector<double> times(count);
        for (uint64_t done = 0; done < count; done += 4096) {
            const uint64_t n = std::min<uint64_t>(count - done, 4096);
            attempt([&] { getResampledTimes2(r, channel, times.data() + done, n); });
        }
        return times;
    }

    static void checkIdentityOutputs(void* r, void* channel, size_t count, double newest) {
        std::vector<double> values(count);
        for (uint64_t done = 0; done < count; done += 4096) {
            const uint64_t n = std::min<uint64_t>(count - done, 4096);
            attempt([&] { getResampledData2(r, channel, values.data() + done, n); });
        }
        for (double value : values) {
            // Rounding of the interpolation stays far below the smallest step, 0.25 ms.
            if (value > newest + 1e-9 * (1.0 + std::fabs(newest))) {
                std::abort();
            }
        }
    }

    // Which slot a call acts on. Live calls read a slot byte and do nothing when that slot holds
    // no resampler; None calls read no slot byte and ignore the slot they are handed.
    enum Target { None, Any, Live };

    struct Op {
        Target target;
        void (*run)(Session& s, Slot& slot);
    };

    // Reads Args in order (a braced list fixes the order) and makes one call with them.
    template <typename... Args, typename Call>
    void withArgs(Call call) {
        const std::tuple<Args...> args{in.any<Args>()...};
        attempt([&] { std::apply(call, args); });
    }

    // A call on the resampler alone, its other arguments read by their types.
    template <typename... Args>
    void callOn(Slot& slot, int (*export_)(void*, Args...)) {
        withArgs<Args...>([&](Args... args) { export_(slot.resampler, args...); });
    }

    template <auto Export>
    static void call(Session& s, Slot& slot) {
        s.callOn(slot, Export);
    }

    // Count queries on any channel, null and foreign ones included.
    template <auto... Queries>
    static void count(Session& s, Slot& slot) {
        void* channel = s.anyChannel();
        uint64_t count = 0;
        (attempt([&] { Queries(slot.resampler, channel, &count); }), ...);
    }

    // A channel registration with its arguments from the input; an array channel's width is
    // its second argument.
    template <ChannelKind kind, typename... Args>
    void addChannel(Slot& slot, int (*add)(void*, void**, Args...)) {
        withArgs<Args...>([&](Args... args) {
            void* handle = nullptr;
            add(slot.resampler, &handle, args...);
            const std::tuple<Args...> given{args...};
            if constexpr (kind == ChannelKind::Array) {
                remember(slot, handle, kind, std::get<1>(given));
            } else {
                remember(slot, handle, kind, 1);
            }
        });
    }

    template <auto Add, ChannelKind kind>
    static void add(Session& s, Slot& slot) {
        s.addChannel<kind>(slot, Add);
    }

    void step() {
        // One entry per opcode, in opcode order: the opcode byte modulo the table's length picks
        // the entry, and each entry reads the bytes of its arguments after it.
        static const Op ops[] = {
            {Any, [](Session& s, Slot& slot) { s.create(slot, s.in.byte()); }},
            {Any,
             [](Session&, Slot& slot) {
                 deleteResampler(slot.resampler);
                 slot = Slot{};
             }},
            {Live, call<setSamplerate>},
            {Live, call<setInputBufferSize>},
            {Live,
             [](Session& s, Slot& slot) {
                 s.withArgs<uint64_t>([&](uint64_t size) {
                     setOutputBufferSize(slot.resampler, size);
                     slot.outputBufferSize = size;
                 });
             }},
            {Live, call<setMaxWaitTimeInMs>},
            {Live, call<setCustomEpsilon>},
            {Live, call<setInitialOffset>},
            {Live, call<setTimeBase>},
            {Live, call<setSidelobeAttenuationInDB>},
            {Live, call<setTransitionBandwithPercent>},
            {Live, add<addSyncChannel, ChannelKind::Sync>},
            {Live, add<addSyncChannel2, ChannelKind::Sync>},
            {Live, add<addAsyncChannel, ChannelKind::Async>},
            {Live, add<addAsyncChannel2, ChannelKind::Async>},
            {Live, add<addAsyncChannel3, ChannelKind::Async>},
            {Live, add<addAsyncArrayChannel, ChannelKind::Array>},
            {Live,
             [](Session& s, Slot& slot) {
                 Channel* channel = s.ownChannel(slot);
                 const uint64_t count = s.in.hostCount();
                 const std::vector<double> data = s.values(count);
                 if (channel != nullptr) {
                     attempt([&] { addData(slot.resampler, channel->handle, data.data(), count); });
                 }
             }},
            {Live,
             [](Session& s, Slot& slot) {
                 Channel* channel = s.ownChannel(slot);
                 const double value = s.in.anyDouble();
                 if (channel != nullptr) {
                     attempt([&] { addValue(slot.resampler, channel->handle, value); });
                 }
             }},
            {Live,
             [](Session& s, Slot& slot) {
                 void* channel = s.anyChannel();
                 const uint64_t count = s.in.hostCount();
                 const std::vector<double> stamps = s.times(slot, count);
                 if (channel != nullptr) {
                     attempt([&] { addTimes(slot.resampler, channel, stamps.data(), count); });
                 }
             }},
            {Live,
             [](Session& s, Slot& slot) {
                 void* channel = s.anyChannel();
                 const std::vector<double> stamps = s.times(slot, 1);
                 if (channel != nullptr) {
                     attempt([&] { addTime(slot.resampler, channel, stamps[0]); });
                 }
             }},
            {Live,
             [](Session& s, Slot& slot) {
                 const uint64_t count = s.in.hostCount();
                 const std::vector<double> stamps = s.times(slot, count);
                 attempt([&] { addMasterTimes(slot.resampler, stamps.data(), count); });
             }},
            {Live,
             [](Session& s, Slot& slot) {
                 Channel* channel = s.ownChannel(slot);
                 const double value = s.in.anyDouble();
                 if (channel != nullptr) {
                     attempt([&] { addBlockEndTimeInMiliseconds(channel->handle, value); });
                 }
             }},
            {Live, call<noMoreDataToAdd>},
            {Live, call<initialize>},
            {Live, call<calculate>},
            {Live,
             [](Session& s, Slot& slot) {
                 Channel* channel = s.ownChannel(slot);
                 const uint64_t count = s.in.outputCount();
                 if (channel != nullptr) {
                     s.readData(slot, *channel, count);
                 }
             }},
            {Live,
             [](Session& s, Slot& slot) {
                 void* channel = s.anyChannel();
                 s.readTimes(slot, channel, s.in.outputCount());
             }},
            {Live, count<getResampledDataCount, getResampledTimesCount>},
            {Live, count<calculateDataCountOfChannel>},
            {Live,
             [](Session&, Slot& slot) {
                 uint64_t count = 0;
                 attempt([&] { getAllDataCount(slot.resampler, &count); });
             }},
            {Live,
             [](Session& s, Slot& slot) {
                 void* channel = s.anyChannel();
                 double scratch[1] = {0.0};
                 attempt([&] {
                     getResampledData(slot.resampler, channel, scratch, s.in.outputCount());
                 });
                 attempt([&] {
                     getResampledTimes(slot.resampler, channel, scratch, s.in.outputCount());
                 });
             }},
            {None,
             [](Session& s, Slot&) {
                 s.withArgs<double, double, int32_t, double>([](auto... args) {
                     uint32_t length = 0;
                     getAliasFreeFilterLength(args..., &length);
                 });
             }},
            {None,
             [](Session& s, Slot&) {
                 s.withArgs<int32_t, int32_t, uint64_t, double, double, int32_t, double>(
                     [](auto... args) {
                         uint32_t result = 0;
                         canResamplerAcceptChannel(args..., &result);
                     });
             }},
            {Live, [](Session& s, Slot& slot) { s.stream(slot); }},
            {Live, [](Session& s, Slot& slot) { s.stream(slot); }},
            {Live, [](Session& s, Slot& slot) { s.stream(slot); }},
            {Live, [](Session& s, Slot& slot) { s.readAll(slot); }},
            {Live, [](Session& s, Slot& slot) { s.setUp(slot); }},
            {None, [](Session& s, Slot&) { s.pairingOracle(); }},
        };
        static_assert(countOf(ops) == 40, "corpus files are written for 40 opcodes");
        const Op& op = ops[in.byte() % countOf(ops)];
        Slot& slot = op.target == None ? slots[0] : slots[in.byte() & 1];
        if (op.target != Live || slot.resampler != nullptr) {
            op.run(*this, slot);
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    Session session(in);
    session.run();
    return 0;
}
