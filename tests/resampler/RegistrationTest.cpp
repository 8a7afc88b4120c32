#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "support/ResamplerFixture.h"

namespace {

using Karvel::Tamlib::Resampler::ResamplerChannel;
using Karvel::Tamlib::Resampler::ResamplerChannelGroup;
using TamlibTest::invalidArgumentMessage;
using TamlibTest::ResamplerFixture;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Index in the resampler's group list of the group that holds the channel.
size_t groupIndexOf(const ResamplerFixture& fixture, void* channel) {
    const auto& groups = fixture.core().groups;
    for (size_t g = 0; g < groups.size(); ++g) {
        for (const auto& held : groups[g]->channels) {
            if (held.get() == channel) {
                return g;
            }
        }
    }
    return groups.size();
}

// Each row registers a sequence of channels; the expected group index of each channel follows
// from the rule "same rate and same offset within 2.2e-16, whatever the timing".
TEST(RegistrationTest, ChannelsShareAGroupExactlyWhenRateAndOffsetMatch) {
    using Register = std::function<void*(ResamplerFixture&)>;
    const auto sync = [](double rate, double offset) {
        return [=](ResamplerFixture& f) { return f.syncChannel(rate, offset); };
    };
    const auto async2 = [](double rate, double offset) {
        return [=](ResamplerFixture& f) { return f.asyncChannel(rate, offset); };
    };
    const auto async3 = [](double rate, double offset) {
        return [=](ResamplerFixture& f) {
            void* channel = nullptr;
            addAsyncChannel3(f.resampler(), &channel, rate, offset, 1.0, 2.0);
            return channel;
        };
    };
    const Register async = [](ResamplerFixture& f) { return f.asyncChannel(); };
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
        for (const auto& registration : row.registrations) {
            channels.push_back(registration(fixture));
            ASSERT_NE(channels.back(), nullptr);
        }
        const size_t groupCount =
            *std::max_element(row.expectedGroups.begin(), row.expectedGroups.end()) + 1;
        EXPECT_EQ(fixture.core().groups.size(), groupCount);
        for (size_t c = 0; c < channels.size(); ++c) {
            EXPECT_EQ(groupIndexOf(fixture, channels[c]), row.expectedGroups[c]) << "channel " << c;
            // The lookup the input and output calls use agrees with the list.
            EXPECT_EQ(&fixture.groupOf(channels[c]),
                      fixture.core().groups[row.expectedGroups[c]].get());
        }
    }
}

TEST(RegistrationTest, NewGroupStoresTimingAndDeclarationsJoinedOnesDoNot) {
    ResamplerFixture fixture(TAMLIB_METHOD_LINEAR);
    void* r = fixture.resampler();
    void* sync = fixture.syncChannel(100.0, 0.5, 42);
    void* ranged = nullptr;
    addAsyncChannel3(r, &ranged, 200.0, 0.0, 1.5, 2.5);
    void* joined = nullptr;
    addAsyncChannel3(r, &joined, 200.0, 0.0, 7.0, 9.0);

    const ResamplerChannelGroup& syncGroup = fixture.groupOf(sync);
    EXPECT_EQ(syncGroup.timing, Karvel::Tamlib::Resampler::RateDefined);
    EXPECT_EQ(syncGroup.samplerate, 100.0);
    EXPECT_EQ(syncGroup.initialOffset, 0.5);
    EXPECT_EQ(syncGroup.sampleCount, 42);

    const ResamplerChannelGroup& rangedGroup = fixture.groupOf(joined);
    EXPECT_EQ(&rangedGroup, &fixture.groupOf(ranged));
    EXPECT_EQ(rangedGroup.timing, Karvel::Tamlib::Resampler::Timestamped);
    EXPECT_EQ(rangedGroup.startTime, 1.5);
    EXPECT_EQ(rangedGroup.endTime, 2.5);
}

TEST(RegistrationTest, SyncChannel2TakesTheResamplerOffsetAndIgnoresItsOwn) {
    ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
    void* r = fixture.resampler();
    setInitialOffset(r, 0.25);
    std::vector<void*> channels;
    for (double ignored : {0.0, 7.0, -3.0, kNaN, kInf}) {
        void* channel = nullptr;
        addSyncChannel2(r, &channel, 100.0, ignored, -1.0, -1.0);
        channels.push_back(channel);
    }
    ASSERT_EQ(fixture.core().groups.size(), 1u);
    EXPECT_EQ(fixture.core().groups[0]->channels.size(), channels.size());
    EXPECT_EQ(fixture.core().groups[0]->initialOffset, 0.25);

    // A new resampler offset opens a new group at the same rate.
    setInitialOffset(r, 0.5);
    void* later = nullptr;
    addSyncChannel2(r, &later, 100.0, 0.25, 0.0, 1.0);
    ASSERT_EQ(fixture.core().groups.size(), 2u);
    EXPECT_EQ(fixture.groupOf(later).initialOffset, 0.5);
    EXPECT_EQ(fixture.groupOf(later).endTime, 1.0);
}

// A refused registration leaves no group, no channel and no handle, and does not clear the rings
// of the channels already there.
TEST(RegistrationTest, RefusedRegistrationLeavesNothingBehind) {
    using Register = std::function<void(void*, void**)>;
    struct Row {
        const char* name;
        Register call;
        const char* message;
    };
    const char* rateMessage = "Samplerate must be more than 0.";
    const char* offsetMessage = "Initial offset must be a finite number.";
    const auto sync = [](double rate, double offset) -> Register {
        return [=](void* r, void** c) { addSyncChannel(r, c, rate, offset, 10); };
    };
    const auto async2 = [](double rate, double offset) -> Register {
        return [=](void* r, void** c) { addAsyncChannel2(r, c, rate, offset, 10); };
    };
    const std::vector<Row> rows = {
        {"sync rate 0", sync(0.0, 0.0), rateMessage},
        {"sync rate -1", sync(-1.0, 0.0), rateMessage},
        {"sync rate NaN", sync(kNaN, 0.0), rateMessage},
        {"sync rate inf", sync(kInf, 0.0), rateMessage},
        {"sync offset NaN", sync(100.0, kNaN), offsetMessage},
        {"async2 offset -inf", async2(100.0, -kInf), offsetMessage},
        {"async2 rate -0", async2(-0.0, 0.0), rateMessage},
        {"async3 rate NaN", [](void* r, void** c) { addAsyncChannel3(r, c, kNaN, 0.0, 0.0, 1.0); },
         rateMessage},
        {"sync2 rate 0", [](void* r, void** c) { addSyncChannel2(r, c, 0.0, 0.0, 0.0, 1.0); },
         rateMessage},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
        void* existing = fixture.asyncChannel();
        fixture.addSamples(existing, {0.5}, {3.0});
        void* sentinel = &fixture;
        void* channel = sentinel;
        EXPECT_EQ(invalidArgumentMessage([&] { row.call(fixture.resampler(), &channel); }),
                  row.message);
        EXPECT_EQ(channel, sentinel);
        ASSERT_EQ(fixture.core().groups.size(), 1u);
        EXPECT_EQ(fixture.core().groups[0]->channels.size(), 1u);
        EXPECT_EQ(ResamplerFixture::channelAt(existing).inputBuffer[0], 3.0);
        EXPECT_EQ(fixture.groupOf(existing).inputTimes[0], 0.5);

        // A later registration at the default rate and offset finds the existing default group.
        void* next = fixture.syncChannel(1000.0, 0.0);
        EXPECT_EQ(&fixture.groupOf(next), &fixture.groupOf(existing));
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
        {"the whole input ring", 1000, 1000, "Input buffer to small."},
        {"negative size", 1000, -1, "Output buffer to small."},
        {"larger than the output ring", 4, 5, "Output buffer to small."},
        {"as large as the output ring", 4, 4, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
        setOutputBufferSize(fixture.resampler(), row.outputBufferSize);
        void* sentinel = &fixture;
        void* channel = sentinel;
        EXPECT_EQ(invalidArgumentMessage([&] {
                      addAsyncArrayChannel(fixture.resampler(), &channel, 1, row.arraySize, 0.0,
                                           2.0);
                  }),
                  row.message);
        // Accepted or refused, the group and the channel are registered.
        ASSERT_EQ(fixture.core().groups.size(), 1u);
        ASSERT_EQ(fixture.core().groups[0]->channels.size(), 1u);
        const ResamplerChannel& registered = *fixture.core().groups[0]->channels[0];
        EXPECT_EQ(registered.arraySize, row.arraySize);
        if (std::string(row.message).empty()) {
            EXPECT_EQ(channel, &registered);
            EXPECT_EQ(fixture.core().groups[0]->endTime, 2.0);
        } else {
            EXPECT_EQ(channel, sentinel);
        }
    }
}

// A refused array channel stays registered but must take part in nothing: the hold method goes
// on serving the other channels.
TEST(RegistrationTest, RefusedArrayChannelIsInert) {
    ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
    void* r = fixture.resampler();
    void* refusedHandle = nullptr;
    EXPECT_THROW(addAsyncArrayChannel(r, &refusedHandle, 1, 800, -1.0, -1.0),
                 std::invalid_argument);
    void* channel = fixture.asyncChannel();
    setSamplerate(r, 4.0);
    initialize(r);

    // A host that found the channel anyway gets nothing stored and nothing out of it.
    void* refused = fixture.core().groups[0]->channels[0].get();
    const std::vector<double> values(800, 1.0);
    addData(r, refused, values.data(), values.size());
    addTime(r, refused, 0.0);
    EXPECT_EQ(ResamplerFixture::channelAt(refused).samplesAdded, 0u);
    EXPECT_EQ(fixture.core().groups[0]->pendingCount, 0u);

    fixture.addSamples(channel, {0.0, 0.25, 0.5}, {1.0, 2.0, 3.0});
    const auto output = fixture.calculateAndRead(channel);
    EXPECT_EQ(output.values, (std::vector<double>{1.0, 2.0}));
    EXPECT_EQ(fixture.count(refused), 0u);
}

// Every registration rebuilds the rings: contents go, positions and counters stay.
TEST(RegistrationTest, RegistrationZeroFillsRingsAndKeepsPositions) {
    ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
    void* r = fixture.resampler();
    setSamplerate(r, 4.0);
    initialize(r);
    void* first = fixture.asyncChannel();
    fixture.addSamples(first, {0.0, 0.25, 0.5, 0.75}, {1.0, 2.0, 3.0, 4.0});
    calculate(r);
    const ResamplerChannelGroup& group = fixture.groupOf(first);
    const ResamplerChannel& channel = ResamplerFixture::channelAt(first);
    const uint64_t readIndex = group.inputReadIndex;
    const uint64_t pending = group.pendingCount;
    const uint64_t masterRead = group.masterTimesReadIndex;
    const uint64_t outputWrite = group.outputWriteIndex;
    ASSERT_EQ(outputWrite, 3u);  // 0.0, 0.25 and 0.5 produced
    ASSERT_EQ(fixture.core().masterTimesWriteIndex, 4u);
    ASSERT_FALSE(fixture.core().masterTimesStartPending);

    fixture.syncChannel(100.0, 0.0);

    const auto allZero = [](const std::vector<double>& ring) {
        return std::all_of(ring.begin(), ring.end(), [](double v) { return v == 0.0; });
    };
    EXPECT_TRUE(allZero(channel.inputBuffer));
    EXPECT_TRUE(allZero(channel.outputBuffer));
    EXPECT_TRUE(allZero(group.inputTimes));
    EXPECT_TRUE(allZero(group.outputTimes));
    EXPECT_TRUE(allZero(fixture.core().masterTimes));
    EXPECT_EQ(channel.inputWriteIndex, 4u);
    EXPECT_EQ(group.inputWriteIndex, 4u);
    EXPECT_EQ(group.inputReadIndex, readIndex);
    EXPECT_EQ(group.pendingCount, pending);
    EXPECT_EQ(group.masterTimesReadIndex, masterRead);
    EXPECT_EQ(group.outputWriteIndex, outputWrite);
    // The master times start afresh.
    EXPECT_EQ(fixture.core().masterTimesWriteIndex, 0u);
    EXPECT_TRUE(fixture.core().masterTimesStartPending);
}

}  // namespace
