#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "support/ResamplerFixture.h"

namespace {

using TamlibTest::ChannelOutput;
using TamlibTest::ramp;
using TamlibTest::ResamplerFixture;

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
