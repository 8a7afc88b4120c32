#include <gtest/gtest.h>

#include <algorithm>
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

// A registration call as a table row makes it: the channel handle goes to the second argument.
using Register = std::function<void(void* resampler, void** channel)>;

Register sync(double rate, double offset) {
    return [=](void* r, void** c) { addSyncChannel(r, c, rate, offset, 10); };
}
Register async2(double rate, double offset) {
    return [=](void* r, void** c) { addAsyncChannel2(r, c, rate, offset, 10); };
}
Register async3(double rate, double offset) {
    return [=](void* r, void** c) { addAsyncChannel3(r, c, rate, offset, 1.0, 2.0); };
}
const Register async = [](void* r, void** c) { addAsyncChannel(r, c); };

// Each row registers a sequence of channels; the expected group index of each channel follows
// from the rule "same rate and same offset within 2.2e-16, whatever the timing".
TEST(RegistrationTest, ChannelsShareAGroupExactlyWhenRateAndOffsetMatch) {
    struct Row {
        const char* name;
        std::vector<Register> registrations;
        std::vector<size_t> expectedGroups;
    };
    const std::vector<Row> rows = {
        {"same rate and offset, then another offset",
         {sync(100.0, 0.0), sync(100.0, 0.0), sync(100.0, 0.5)},
         {0, 0, 1}},
        {"rate-less registrations always open a group", {async, async}, {0, 1}},
        {"rated async joins a default async group", {async, async3(1000.0, 0.0)}, {0, 0}},
        {"sync joins a timestamped group", {async2(100.0, 0.0), sync(100.0, 0.0)}, {0, 0}},
        {"async joins a rate-defined group", {sync(100.0, 0.25), async2(100.0, 0.25)}, {0, 0}},
        // The tolerance is absolute: 1e-17 is within it, 3e-16 is not.
        {"offset within machine epsilon", {sync(100.0, 0.0), sync(100.0, 1e-17)}, {0, 0}},
        {"offset beyond machine epsilon", {sync(100.0, 0.0), sync(100.0, 3e-16)}, {0, 1}},
        {"rate one ulp apart", {sync(100.0, 0.0), sync(100.00000000000001, 0.0)}, {0, 1}},
        {"first of two matching groups wins", {async, async, sync(1000.0, 0.0)}, {0, 1, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
        std::vector<void*> channels;
        for (const Register& registration : row.registrations) {
            channels.push_back(nullptr);
            registration(fixture.resampler(), &channels.back());
            ASSERT_NE(channels.back(), nullptr);
        }
        const size_t groupCount =
            *std::max_element(row.expectedGroups.begin(), row.expectedGroups.end()) + 1;
        EXPECT_EQ(StateProbe::groupCount(fixture.resampler()), groupCount);
        for (size_t c = 0; c < channels.size(); ++c) {
            EXPECT_EQ(StateProbe::group(fixture.resampler(), channels[c]).index,
                      row.expectedGroups[c])
                << "channel " << c;
        }
    }
}

// Only the registration that opens a group declares its count or range; a joining channel's
// declaration is ignored. sync2 takes the resampler's offset, whatever it is given.
TEST(RegistrationTest, DeclarationsAndOffsetsOfNewAndJoinedGroups) {
    ResamplerFixture fixture(TAMLIB_METHOD_LINEAR);
    void* r = fixture.resampler();
    setSamplerate(r, 10.0);
    setInitialOffset(r, 0.25);
    void* counted = fixture.syncChannel(100.0, 0.5, 42);
    void* ranged = nullptr;
    addAsyncChannel3(r, &ranged, 200.0, 0.0, 1.5, 2.5);
    void* joined = nullptr;
    addAsyncChannel3(r, &joined, 200.0, 0.0, 7.0, 9.0);
    std::vector<void*> sync2;
    for (double ignored : {0.0, 7.0, -3.0, kNaN, kInf}) {
        sync2.push_back(nullptr);
        addSyncChannel2(r, &sync2.back(), 100.0, ignored, 0.0, 1.0);
    }
    // At the new resampler offset sync2 joins the counted group, declaring nothing.
    setInitialOffset(r, 0.5);
    void* later = nullptr;
    addSyncChannel2(r, &later, 100.0, 0.25, 0.0, 2.0);
    EXPECT_EQ(StateProbe::group(r, joined).index, StateProbe::group(r, ranged).index);
    EXPECT_EQ(StateProbe::group(r, later).index, StateProbe::group(r, counted).index);
    EXPECT_EQ(StateProbe::group(r, sync2.front()).channelCount, sync2.size());
    EXPECT_EQ(StateProbe::groupCount(r), 3u);

    initialize(r);
    EXPECT_EQ(fixture.expectedCount(counted), 4u);  // 42 x 10 / 100, rounded
    EXPECT_EQ(fixture.expectedCount(ranged), 11u);  // 1.5 .. 2.5 s at 10 Hz
    EXPECT_EQ(fixture.expectedCount(joined), 11u);
    EXPECT_EQ(fixture.expectedCount(sync2.front()), 11u);
    EXPECT_EQ(fixture.expectedCount(later), 4u);
}

// A refused registration leaves no group, no channel and no handle, and does not clear the rings
// of the channels already there.
TEST(RegistrationTest, RefusedRegistrationLeavesNothingBehind) {
    struct Row {
        const char* name;
        Register call;
        const char* message;
    };
    const char* rateMessage = "Samplerate must be more than 0.";
    const char* offsetMessage = "Initial offset must be a finite number.";
    const std::vector<Row> rows = {
        {"sync rate 0", sync(0.0, 0.0), rateMessage},
        {"sync rate -1", sync(-1.0, 0.0), rateMessage},
        {"sync rate NaN", sync(kNaN, 0.0), rateMessage},
        {"sync rate inf", sync(kInf, 0.0), rateMessage},
        {"sync offset NaN", sync(100.0, kNaN), offsetMessage},
        {"async2 offset -inf", async2(100.0, -kInf), offsetMessage},
        {"async2 rate -0", async2(-0.0, 0.0), rateMessage},
        {"async3 rate NaN", async3(kNaN, 0.0), rateMessage},
        {"sync2 rate 0", [](void* r, void** c) { addSyncChannel2(r, c, 0.0, 0.0, 0.0, 1.0); },
         rateMessage},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
        void* r = fixture.resampler();
        void* existing = fixture.asyncChannel();
        fixture.addSamples(existing, {0.5}, {3.0});
        void* sentinel = &fixture;
        void* channel = sentinel;
        EXPECT_EQ(invalidArgumentMessage([&] { row.call(r, &channel); }), row.message);
        EXPECT_EQ(channel, sentinel);
        ASSERT_EQ(StateProbe::groupCount(r), 1u);
        EXPECT_EQ(StateProbe::group(r, existing).channelCount, 1u);
        EXPECT_EQ(StateProbe::channel(existing).values[0], 3.0);
        EXPECT_EQ(StateProbe::group(r, existing).stamps[0], 0.5);

        // A later registration at the default rate and offset finds the existing default group.
        void* next = fixture.syncChannel(1000.0, 0.0);
        EXPECT_EQ(StateProbe::group(r, next).index, 0u);
    }
}

TEST(RegistrationTest, ArrayChannelSizeRefusals) {
    struct Row {
        const char* name;
        uint64_t outputBufferSize;
        int32_t arraySize;
        const char* message;  // "" when accepted
    };
    const Row rows[] = {
        {"half the input ring", 1000, 500, ""},
        {"more than half the input ring", 1000, 501, "Input buffer to small."},
        {"negative size", 1000, -1, "Output buffer to small."},
        {"larger than the output ring", 4, 5, "Output buffer to small."},
        {"as large as the output ring", 4, 4, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
        void* r = fixture.resampler();
        setOutputBufferSize(r, row.outputBufferSize);
        void* sentinel = &fixture;
        void* channel = sentinel;
        EXPECT_EQ(invalidArgumentMessage(
                      [&] { addAsyncArrayChannel(r, &channel, 1, row.arraySize, 0.0, 2.0); }),
                  row.message);
        // Accepted or refused, the group and the channel are registered.
        ASSERT_EQ(StateProbe::groupCount(r), 1u);
        void* registered = StateProbe::channelAt(r, 0, 0);
        const bool accepted = std::string(row.message).empty();
        EXPECT_EQ(channel, accepted ? registered : sentinel);
        if (accepted) {
            // The declared range of 0 .. 2 s at 1000 Hz.
            initialize(r);
            EXPECT_EQ(fixture.expectedCount(channel), 2001u);
            continue;
        }
        // A refused channel must take part in nothing: a host that found it anyway gets nothing
        // stored and nothing out of it, and the hold method goes on serving the other channels.
        void* other = fixture.asyncChannel();
        initialize(r);
        const std::vector<double> values(8, 1.0);
        addData(r, registered, values.data(), values.size());
        addTime(r, registered, 0.0);
        EXPECT_EQ(StateProbe::channel(registered).samplesAdded, 0u);
        EXPECT_EQ(StateProbe::group(r, registered).pending, 0u);
        fixture.addSamples(other, {0.0, 0.001, 0.002}, {1.0, 2.0, 3.0});
        EXPECT_EQ(fixture.calculateAndRead(other).values, (std::vector<double>{1.0, 2.0}));
        EXPECT_EQ(fixture.count(registered), 0u);
    }
}

// A registration rebuilds the rings: what they held is dropped, the cursors stay. Rings that held
// nothing may be kept as they are, but never ones that were written.
TEST(RegistrationTest, RegistrationZeroFillsRingsAndKeepsPositions) {
    ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
    void* r = fixture.resampler();
    setSamplerate(r, 4.0);
    initialize(r);
    void* first = fixture.asyncChannel();
    fixture.addSamples(first, {0.0, 0.25, 0.5, 0.75}, {1.0, 2.0, 3.0, 4.0});
    ASSERT_EQ(fixture.calculateAndRead(first).size(), 3u);  // 0.75 waits for a successor
    ASSERT_FALSE(StateProbe::grid(r).startPending);

    fixture.syncChannel(100.0, 0.0);
    const auto zeros = [](size_t count) { return std::vector<double>(count, 0.0); };
    EXPECT_EQ(StateProbe::channel(first).values, zeros(1000));
    EXPECT_EQ(StateProbe::group(r, first).stamps, zeros(1000));
    EXPECT_EQ(StateProbe::channel(first).writeSlot, 4u);
    EXPECT_EQ(StateProbe::group(r, first).writeSlot, 4u);
    EXPECT_EQ(StateProbe::group(r, first).pending, 1u);
    EXPECT_EQ(StateProbe::grid(r).times, zeros(0));
    EXPECT_TRUE(StateProbe::grid(r).startPending);
}

}  // namespace
