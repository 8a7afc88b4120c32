#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "support/ResamplerFixture.h"

namespace {

using TamlibTest::invalidArgumentMessage;
using TamlibTest::ResamplerFixture;
using TamlibTest::StateProbe;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr uint64_t kMaxU64 = std::numeric_limits<uint64_t>::max();
const uint64_t kMaxRing = std::vector<double>().max_size();

// Every setter's refusal: the exact message, and the value set before stays. The values set
// before are the accepted boundaries where there is one.
TEST(ParametersTest, RejectedSetterKeepsOldValue) {
    using Apply = std::function<void(void*)>;
    using Read = std::function<double(const StateProbe::Settings&)>;
    struct Row {
        const char* name;
        Apply accepted;
        Apply rejected;
        Read read;
        double keptValue;
        const char* message;
    };
    const Read rate = [](const StateProbe::Settings& s) { return s.samplerate; };
    const Read input = [](const StateProbe::Settings& s) { return double(s.inputBufferSize); };
    const Read output = [](const StateProbe::Settings& s) { return double(s.outputBufferSize); };
    const Read sidelobe = [](const StateProbe::Settings& s) { return s.sidelobeAttenuationInDB; };
    const Read band = [](const StateProbe::Settings& s) {
        return double(s.transitionBandwithPercent);
    };
    const auto setRate = [](double v) { return [v](void* h) { setSamplerate(h, v); }; };
    const auto setInput = [](uint64_t v) { return [v](void* h) { setInputBufferSize(h, v); }; };
    const auto setOutput = [](uint64_t v) { return [v](void* h) { setOutputBufferSize(h, v); }; };
    const auto setSidelobe = [](double v) {
        return [v](void* h) { setSidelobeAttenuationInDB(h, v); };
    };
    const auto setBand = [](int32_t v) {
        return [v](void* h) { setTransitionBandwithPercent(h, v); };
    };
    const char* rateMessage = "Samplerate must be a positive number.";
    const char* tooLarge = "Buffer size too large.";
    const char* sidelobeMessage = "Sidelobe attenuation must be more than 0Db and less than 400dB.";
    const char* bandMessage = "Transition bandwith must be more than 10% and less than 100%.";
    const std::vector<Row> rows = {
        {"rate 0", setRate(250.0), setRate(0.0), rate, 250.0, rateMessage},
        {"rate -inf", setRate(250.0), setRate(-kInf), rate, 250.0, rateMessage},
        {"input 0", setInput(1), setInput(0), input, 3.0,  // two spare entries
         "Input buffer size must be more than 0."},
        // size + 2 wraps past 2^64, or lands beyond what a vector can hold.
        {"input max", setInput(10), setInput(kMaxU64), input, 12.0, tooLarge},
        {"input max-2", setInput(10), setInput(kMaxU64 - 2), input, 12.0, tooLarge},
        {"input ring max", setInput(10), setInput(kMaxRing - 1), input, 12.0, tooLarge},
        {"output 0", setOutput(1), setOutput(0), output, 1.0,
         "Output buffer size must be more than 0."},
        {"output max", setOutput(20), setOutput(kMaxU64), output, 20.0, tooLarge},
        {"output ring max", setOutput(20), setOutput(kMaxRing + 1), output, 20.0, tooLarge},
        {"sidelobe -0.1", setSidelobe(0.0), setSidelobe(-0.1), sidelobe, 0.0, sidelobeMessage},
        {"sidelobe 400.1", setSidelobe(400.0), setSidelobe(400.1), sidelobe, 400.0,
         sidelobeMessage},
        {"band 9", setBand(10), setBand(9), band, 10.0, bandMessage},
        {"band 101", setBand(100), setBand(101), band, 100.0, bandMessage},
        {"band int min", setBand(20), setBand(std::numeric_limits<int32_t>::min()), band, 20.0,
         bandMessage},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
        row.accepted(fixture.resampler());
        ASSERT_EQ(row.read(StateProbe::settings(fixture.resampler())), row.keptValue);
        EXPECT_EQ(invalidArgumentMessage([&] { row.rejected(fixture.resampler()); }), row.message);
        EXPECT_EQ(row.read(StateProbe::settings(fixture.resampler())), row.keptValue);
    }
}

// Initialize sets the tolerance from the custom epsilon, or from the output rate when that is
// negative, and takes the pending end of data. A rate or offset that cannot make a grid is
// refused by initialize and calculate before anything changes.
TEST(ParametersTest, InitializeSetsToleranceOrRefusesNonFiniteOutputSettings) {
    struct Row {
        const char* name;
        int32_t method;
        double rate;
        double offset;
        double customEpsilon;
        double epsilon;
        const char* message;
    };
    const char* rateMessage = "Samplerate must be a finite positive number.";
    const char* offsetMessage = "Initial offset must be a finite number.";
    const Row rows[] = {
        {"a thousandth of the output period", TAMLIB_METHOD_HOLD, 1000.0, 0.0, -1.0, 1e-6, ""},
        {"at 2000 Hz", TAMLIB_METHOD_LINEAR, 2000.0, 0.0, -1.0, 5e-7, ""},
        {"any negative epsilon", TAMLIB_METHOD_LINEAR, 1000.0, 0.0, -0.5, 1e-6, ""},
        {"exact comparisons", TAMLIB_METHOD_HOLD, 1000.0, 0.0, 0.0, 0.0, ""},
        {"custom epsilon", TAMLIB_METHOD_HOLD, 50.0, 0.0, 0.25, 0.25, ""},
        // The default epsilon stays.
        {"rate NaN", TAMLIB_METHOD_LINEAR, kNaN, 0.0, 0.25, 1e-7, rateMessage},
        {"rate +inf", TAMLIB_METHOD_LINEAR, kInf, 0.0, 0.25, 1e-7, rateMessage},
        {"offset NaN", TAMLIB_METHOD_LINEAR, 1000.0, kNaN, 0.25, 1e-7, offsetMessage},
        {"offset +inf", TAMLIB_METHOD_LINEAR, 1000.0, kInf, 0.25, 1e-7, offsetMessage},
        {"offset -inf", TAMLIB_METHOD_LINEAR, 1000.0, -kInf, 0.25, 1e-7, offsetMessage},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ResamplerFixture fixture(row.method);
        void* r = fixture.resampler();
        void* channel = fixture.asyncChannel();
        fixture.addSamples(channel, {0.0, 0.001, 0.002}, {1.0, 2.0, 3.0});
        setCustomEpsilon(r, row.customEpsilon);
        noMoreDataToAdd(r, 5.0);
        setSamplerate(r, row.rate);
        setInitialOffset(r, row.offset);

        const bool refused = std::string(row.message) != "";
        EXPECT_EQ(invalidArgumentMessage([&] { initialize(r); }), row.message);
        EXPECT_DOUBLE_EQ(StateProbe::settings(r).epsilon, row.epsilon);
        EXPECT_EQ(StateProbe::settings(r).endOfDataPending, refused);
        if (!refused) {
            continue;
        }
        EXPECT_EQ(invalidArgumentMessage([&] { calculate(r); }), row.message);
        EXPECT_TRUE(StateProbe::grid(r).times.empty());
        EXPECT_TRUE(StateProbe::grid(r).startPending);
        EXPECT_EQ(StateProbe::channel(channel).samplesAdded, 3u);
    }
}

}  // namespace
