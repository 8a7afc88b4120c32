#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "support/ResamplerFixture.h"

namespace {

using TamlibTest::expectNear;
using TamlibTest::invalidArgumentMessage;
using TamlibTest::ramp;
using TamlibTest::ResamplerFixture;
using TamlibTest::StateProbe;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(InputTest, ValueRingKeepsTheNewestValuesAndCountsSamples) {
    ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
    void* channel = fixture.asyncChannel();
    fixture.addValues(channel, ramp(1500, 0.0, 1.0));
    EXPECT_EQ(StateProbe::channel(channel).samplesAdded, 1500u);
    // Value v was written at slot v mod 1000; the newest thousand are 500..1499.
    std::vector<double> expected = ramp(1000, 0.0, 1.0);
    for (size_t slot = 0; slot < 500; ++slot) {
        expected[slot] += 1000.0;
    }
    EXPECT_EQ(StateProbe::channel(channel).values, expected);
    addValue(fixture.resampler(), channel, -1.0);
    EXPECT_EQ(StateProbe::channel(channel).values[500], -1.0);
    EXPECT_EQ(StateProbe::channel(channel).samplesAdded, 1501u);

    // An array channel counts one sample per call, whatever the values.
    void* array = fixture.arrayChannel(4);
    fixture.addValues(array, {1.0, 2.0, 3.0, 4.0});
    fixture.addValues(array, {5.0, 6.0, 7.0, 8.0});
    EXPECT_EQ(StateProbe::channel(array).samplesAdded, 2u);
    EXPECT_EQ(StateProbe::channel(array).values[7], 8.0);
}

// A host that hands over one array block after block is expected to go on where it stopped;
// any other block, and any array channel, leaves nothing to expect.
TEST(InputTest, NextBlockIsExpectedWhereAContinuedBlockEnded) {
    ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
    void* channel = fixture.asyncChannel();
    const std::vector<double> recording = ramp(300, 0.0, 1.0);
    const std::vector<double> elsewhere(100, 2.0);
    auto nextBlock = [&]() { return StateProbe::channel(channel).nextBlock; };
    auto at = [&](size_t sample) { return reinterpret_cast<uintptr_t>(recording.data() + sample); };
    addData(fixture.resampler(), channel, recording.data(), 100);
    EXPECT_EQ(nextBlock(), 0u);
    addData(fixture.resampler(), channel, recording.data() + 100, 100);
    EXPECT_EQ(nextBlock(), at(200));
    addData(fixture.resampler(), channel, elsewhere.data(), 100);
    EXPECT_EQ(nextBlock(), 0u);
    addData(fixture.resampler(), channel, recording.data() + 200, 50);
    EXPECT_EQ(nextBlock(), 0u);
    addData(fixture.resampler(), channel, recording.data() + 250, 50);
    EXPECT_EQ(nextBlock(), at(300));

    void* array = fixture.arrayChannel(4);
    addData(fixture.resampler(), array, recording.data(), 4);
    addData(fixture.resampler(), array, recording.data() + 4, 4);
    EXPECT_EQ(StateProbe::channel(array).nextBlock, 0u);
}

// The first channel of a group to give stamps becomes its time master; the others must repeat
// each block, except its first stamp, within 2.2e-16.
TEST(InputTest, TimeMasterStoresAndOthersMustRepeatTheBlock) {
    struct Row {
        const char* name;
        std::vector<double> repeat;
        const char* message;
    };
    const std::vector<double> block = {0.5, 0.6, 0.7};
    const std::vector<Row> rows = {
        {"same block", block, ""},
        {"last stamp off by 1e-12", {0.5, 0.6, 0.7 + 1e-12}, "Timestamps do not match."},
        {"first stamp off only", {0.4, 0.6, 0.7}, ""},
        {"single stamp never compared", {9.0}, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
        void* r = fixture.resampler();
        void* a = fixture.asyncChannel(100.0, 0.0);
        void* b = fixture.asyncChannel(100.0, 0.0);
        ASSERT_EQ(StateProbe::group(r, a).index, StateProbe::group(r, b).index);
        // b gives its stamps first, so b is the time master although a registered first.
        addTimes(r, b, block.data(), block.size());
        EXPECT_EQ(StateProbe::group(r, a).timeMaster, b);
        EXPECT_EQ(
            invalidArgumentMessage([&] { addTimes(r, a, row.repeat.data(), row.repeat.size()); }),
            row.message);
        // A follower never stores.
        const StateProbe::GroupView group = StateProbe::group(r, a);
        EXPECT_EQ(group.pending, 3u);
        EXPECT_EQ(group.writeSlot, 3u);
        EXPECT_EQ(group.stamps[2], 0.7);
    }
}

// A rate-defined group makes its own stamps, so it does not check the host's either.
TEST(InputTest, BlockStartingBeforeTheNewestStampIsRefusedExceptForAliasFree) {
    struct Row {
        const char* name;
        int32_t method;
        bool rateDefined;
        bool refused;
    };
    const Row rows[] = {
        {"hold", TAMLIB_METHOD_HOLD, false, true},
        {"linear", TAMLIB_METHOD_LINEAR, false, true},
        {"alias-free", TAMLIB_METHOD_ALIAS_FREE, false, false},
        {"rate-defined hold", TAMLIB_METHOD_HOLD, true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ResamplerFixture fixture(row.method);
        void* r = fixture.resampler();
        void* channel =
            row.rateDefined ? fixture.syncChannel(100.0, 0.0) : fixture.asyncChannel(1000.0, 0.0);
        const std::vector<double> start = {0.0, 0.001};
        addTimes(r, channel, start.data(), start.size());

        const std::vector<double> early = {0.0005, 0.002};
        const std::string message =
            invalidArgumentMessage([&] { addTimes(r, channel, early.data(), early.size()); });
        EXPECT_EQ(message, row.refused ? "Invalid timestamps." : "");
        const uint64_t stored = row.refused ? 2 : 4;
        EXPECT_EQ(StateProbe::group(r, channel).pending, stored);

        // Equal to the newest passes, and stamps inside one block are not compared.
        const double newest = StateProbe::group(r, channel).newestStamp;
        const std::vector<double> equal = {newest, newest - 0.0005};
        EXPECT_NO_THROW(addTimes(r, channel, equal.data(), equal.size()));
        EXPECT_EQ(StateProbe::group(r, channel).pending, stored + 2);
    }
}

TEST(InputTest, NonFiniteStampsAreRefusedAndNothingIsStored) {
    enum class Call { Block, Single, Follower, MasterTimes };
    struct Row {
        const char* name;
        double bad;
        Call call;
        size_t at;  // of a block of 1100, which the check takes in more than one chunk
    };
    const Row rows[] = {
        {"NaN in a block", kNaN, Call::Block, 1},
        {"+inf past the first 1024", kInf, Call::Block, 1030},
        {"-inf alone", -kInf, Call::Single, 0},
        {"NaN from a follower", kNaN, Call::Follower, 1},
        {"NaN master time", kNaN, Call::MasterTimes, 1},
        {"+inf as the last master time", kInf, Call::MasterTimes, 1099},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
        void* r = fixture.resampler();
        void* leader = fixture.asyncChannel(100.0, 0.0);
        void* follower = fixture.asyncChannel(100.0, 0.0);
        const bool hasLeader = row.call == Call::Follower;
        if (hasLeader) {
            addTime(r, leader, 0.25);
        }
        std::vector<double> block(1100);
        for (size_t k = 0; k < block.size(); ++k) {
            block[k] = 0.5 + 0.001 * static_cast<double>(k);
        }
        block[row.at] = row.bad;
        const std::string message = invalidArgumentMessage([&] {
            switch (row.call) {
                case Call::Block:
                    addTimes(r, leader, block.data(), block.size());
                    break;
                case Call::Single:
                    addTime(r, leader, row.bad);
                    break;
                case Call::Follower:
                    addTimes(r, follower, block.data(), block.size());
                    break;
                case Call::MasterTimes:
                    addMasterTimes(r, block.data(), block.size());
                    break;
            }
        });
        EXPECT_EQ(message, "Invalid timestamps.");
        EXPECT_TRUE(StateProbe::grid(r).times.empty());
        const StateProbe::GroupView group = StateProbe::group(r, leader);
        EXPECT_EQ(group.pending, hasLeader ? 1u : 0u);
        EXPECT_EQ(group.writeSlot, hasLeader ? 1u : 0u);
        EXPECT_EQ(group.timeMaster, hasLeader ? leader : nullptr);
    }
}

TEST(InputTest, EmptyBlocksChangeNothing) {
    ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
    void* r = fixture.resampler();
    void* scalar = fixture.asyncChannel();
    void* array = fixture.arrayChannel(4);
    // A count of 0 must not even read the pointer.
    addData(r, scalar, nullptr, 0);
    addData(r, array, nullptr, 0);
    addTimes(r, scalar, nullptr, 0);
    addTimes(r, array, nullptr, 0);
    addMasterTimes(r, nullptr, 0);
    for (void* channel : {scalar, array}) {
        EXPECT_EQ(StateProbe::channel(channel).samplesAdded, 0u);
        EXPECT_EQ(StateProbe::channel(channel).writeSlot, 0u);
        EXPECT_EQ(StateProbe::group(r, channel).timeMaster, nullptr);
        EXPECT_EQ(StateProbe::group(r, channel).pending, 0u);
    }
    EXPECT_TRUE(StateProbe::grid(r).times.empty());
}

// Sample k of a rate-defined group lies at offset + k / rate; the time master's block is stored
// once however many channels the group has. Explicit time base without master times keeps the
// driver from consuming anything, so the stored stamps stay visible.
TEST(InputTest, RateDefinedGroupGeneratesItsStamps) {
    ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
    void* r = fixture.resampler();
    setTimeBase(r, TAMLIB_TIMEBASE_EXPLICIT);
    void* a = fixture.syncChannel(100.0, 2.0);
    void* b = fixture.syncChannel(100.0, 2.0);

    for (const auto& [first, count] : {std::pair{0.0, size_t{5}}, std::pair{5.0, size_t{3}}}) {
        fixture.addValues(a, ramp(count, first, 1.0));
        fixture.addValues(b, ramp(count, first, 1.0));
        calculate(r);
    }
    const StateProbe::GroupView group = StateProbe::group(r, a);
    EXPECT_EQ(group.stamps[0], 2.0);
    expectNear({group.stamps.begin(), group.stamps.begin() + 8}, ramp(8, 2.0, 0.01), 1e-12);
    EXPECT_EQ(group.writeSlot, 8u);
    EXPECT_EQ(group.pending, 8u);
    EXPECT_EQ(StateProbe::channel(a).samplesAdded, 0u);
}

// A refused block end or end time keeps what was given before: the grid still ends at 1.5 s.
TEST(InputTest, BlockEndAndEndOfDataValidation) {
    ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
    void* r = fixture.resampler();
    setSamplerate(r, 4.0);
    void* channel = fixture.asyncChannel();
    initialize(r);
    fixture.addSamples(channel, {0.0, 3.0}, {1.0, 2.0});
    addBlockEndTimeInMiliseconds(channel, 1500.0);
    const char* blockMessage = "Block end time must be a number or positive infinity.";
    for (double bad : {kNaN, -kInf}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(invalidArgumentMessage([&] { addBlockEndTimeInMiliseconds(channel, bad); }),
                  blockMessage);
    }
    for (double bad : {kNaN, kInf, -kInf}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(invalidArgumentMessage([&] { noMoreDataToAdd(r, bad); }),
                  "End time must be a finite number.");
        EXPECT_FALSE(StateProbe::settings(r).endOfDataPending);
    }
    calculate(r);
    EXPECT_EQ(StateProbe::grid(r).times, ramp(7, 0.0, 0.25));
    addBlockEndTimeInMiliseconds(channel, kInf);  // none given again: on to the newest stamp
    calculate(r);
    EXPECT_EQ(StateProbe::grid(r).times, ramp(13, 0.0, 0.25));
    noMoreDataToAdd(r, -20.0);
    EXPECT_TRUE(StateProbe::settings(r).endOfDataPending);
}

}  // namespace
