#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "support/ResamplerFixture.h"

namespace {

using TamlibTest::ChannelOutput;
using TamlibTest::ramp;
using TamlibTest::ResamplerFixture;

// The host adds more values than time stamps between two passes, far enough that the values
// overwrite stamped samples. Worked through on a ring of 418 entries (416 asked, plus 2):
//
//   addData   494 values, sample k's value is 1000 + k: samples 0..417 fill slots 0..417, then
//             samples 418..493 overwrite slots 0..75.
//   addTimes   98 stamps, sample k at k / 4 s: slots 0..97.
//
// Slot 0 holds the stamp of sample 0 and the value of sample 418: pairing them by slot is wrong.
// A sample is whole only where its stamp and its value are both still stored: samples 76..97
// (494 - 98 = 396 values ahead of the stamps, 418 - 396 = 22 samples left). The group goes on
// from sample 76, at 19 s, with value 1076.
TEST(OverrunTest, ValuesAheadOfTheirStampsResumeFromTheOldestWholeSample) {
    for (int32_t method : {TAMLIB_METHOD_HOLD, TAMLIB_METHOD_LINEAR}) {
        SCOPED_TRACE(method == TAMLIB_METHOD_HOLD ? "hold" : "linear");
        ResamplerFixture fixture(method);
        void* r = fixture.resampler();
        setSamplerate(r, 4.0);
        setInputBufferSize(r, 416);
        void* channel = fixture.asyncChannel();
        initialize(r);
        fixture.addValues(channel, ramp(494, 1000.0, 1.0));
        const std::vector<double> stamps = ramp(98, 0.0, 0.25);
        addTimes(r, channel, stamps.data(), stamps.size());
        const ChannelOutput output = fixture.calculateAndRead(channel);

        // The grid starts at 0; before sample 76 hold gives its value, and linear extends the
        // line through samples 76 and 77 backwards, which here is the line of every sample.
        ASSERT_EQ(output.size(), 97u);
        for (size_t j = 0; j < output.size(); ++j) {
            ASSERT_EQ(output.times[j], 0.25 * double(j)) << j;
            const double sample = double(j);
            const double expected =
                1000.0 + (method == TAMLIB_METHOD_HOLD ? std::max(sample, 76.0) : sample);
            EXPECT_EQ(output.values[j], expected) << "output " << j;
        }
    }
}

// When the values ran a whole ring past the newest stamp, no sample is whole: the group produces
// nothing, not even at the end of data, and goes on once stamps catch up with stored values.
TEST(OverrunTest, NoWholeSampleMeansWaitingForTheStampsToCatchUp) {
    ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
    void* r = fixture.resampler();
    setSamplerate(r, 4.0);
    setInputBufferSize(r, 8);  // a ring of 10
    void* channel = fixture.asyncChannel();
    initialize(r);
    fixture.addValues(channel, ramp(30, 1000.0, 1.0));  // samples 20..29 stored
    std::vector<double> stamps = ramp(15, 0.0, 0.25);   // samples 0..14
    addTimes(r, channel, stamps.data(), stamps.size());
    EXPECT_EQ(fixture.calculateAndRead(channel).size(), 0u);

    // Stamps of samples 15..24: samples 20..24 are whole now, from 5 s on.
    stamps = ramp(10, 3.75, 0.25);
    addTimes(r, channel, stamps.data(), stamps.size());
    noMoreDataToAdd(r, 6250.0);
    const ChannelOutput output = fixture.calculateAndRead(channel);
    // The whole samples 20..24 from the grid's start, the first held before its time and the
    // last held to the end of data at 6.25 s.
    ASSERT_EQ(output.size(), 26u);
    for (size_t j = 0; j < output.size(); ++j) {
        const double sample = std::clamp(output.times[j] * 4.0, 20.0, 24.0);
        EXPECT_EQ(output.values[j], 1000.0 + sample) << "output " << j;
    }
}

// An array channel holds fewer samples than entries: with 4 values per sample a ring of 418
// entries holds 104 samples. 150 calls of 4 values (samples 0..149, sample k's values
// 4k..4k+3) against 60 stamps leave 90 samples of values ahead, so 104 - 90 = 14 stamped
// samples are whole: 46..59, and hold gives 46 before its time.
TEST(OverrunTest, ArrayChannelCountsItsRingInSamples) {
    ResamplerFixture fixture(TAMLIB_METHOD_HOLD);
    void* r = fixture.resampler();
    setSamplerate(r, 4.0);
    setInputBufferSize(r, 416);
    void* channel = fixture.arrayChannel(4);
    initialize(r);
    for (int k = 0; k < 150; ++k) {
        fixture.addValues(channel, ramp(4, 4.0 * k, 1.0));
    }
    const std::vector<double> stamps = ramp(60, 0.0, 0.25);
    addTimes(r, channel, stamps.data(), stamps.size());
    const ChannelOutput output = fixture.calculateAndRead(channel, 4);
    ASSERT_EQ(output.size(), 59u);
    for (size_t j = 0; j < output.size(); ++j) {
        const double sample = std::max(output.times[j] * 4.0, 46.0);
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(output.values[4 * j + i], 4.0 * sample + double(i)) << j << "," << i;
        }
    }
}

}  // namespace
