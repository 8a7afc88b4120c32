#include "dsp/fir/Filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstddef>
#include <limits>
#include <memory>
#include <numeric>
#include <vector>

#include "support/BesselI0.h"

namespace {

using Karvel::Tamlib::Dsp::Fir::Filter;
using Karvel::Tamlib::Dsp::Fir::FilterStatus;
using TamlibTest::besselI0;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

struct Design {
    double transitionWidthHz;
    double sampleRateHz;
    double cutoffHz;
    double attenuationDb;
};

// The 1000 Hz from 2500 Hz group of the alias-free set-up: P = 2, so the design runs at 5000 Hz.
constexpr Design downTo1000From2500{160.0, 5000.0, 500.0, 60.0};

std::unique_ptr<Filter> designLowpass(const Design& design) {
    auto filter = std::make_unique<Filter>();
    filter->configure(design.transitionWidthHz, design.sampleRateHz, design.cutoffHz,
                      design.attenuationDb);
    return filter;
}

TEST(FilterTest, CountAndWindowFollowTheAttenuationWithUnitDcGain) {
    struct Row {
        const char* name;
        Design design;
        std::size_t expectedCount;
        double expectedBeta;
    };
    // N = ceil((max(8, |A|) - 7.95) * fs / (tw * 2 pi * 2.285)) + 1; beta by Kaiser's three rules,
    // 0 (a rectangular window) at 21 dB and below.
    const Row rows[] = {
        // 52.05 * 5000 / 2297.13 = 113.29
        {"60 dB", downTo1000From2500, 115, 0.1102 * (60.0 - 8.7)},
        // 42.05 * 5000 / 2297.13 = 91.53
        {"50 dB takes the middle rule",
         {160.0, 5000.0, 500.0, 50.0},
         93,
         0.5842 * std::pow(29.0, 0.4) + 0.07886 * 29.0},
        // 22.05 * 5000 / 2297.13 = 47.99
        {"30 dB", {160.0, 5000.0, 500.0, 30.0}, 49, 0.5842 * std::pow(9.0, 0.4) + 0.07886 * 9.0},
        // 13.05 * 5000 / 2297.13 = 28.41
        {"21 dB is rectangular", {160.0, 5000.0, 500.0, 21.0}, 30, 0.0},
        // 0.05 * 5000 / 2297.13 = 0.109: the shortest filter, two coefficients
        {"3 dB counts as 8 dB", {160.0, 5000.0, 500.0, 3.0}, 2, 0.0},
        // 0.05 * 5000 / 14.357 = 17.41
        {"8 dB, narrow transition", {1.0, 5000.0, 500.0, 8.0}, 19, 0.0},
        {"-60 dB has the length of 60 dB, and a rectangular window",
         {160.0, 5000.0, 500.0, -60.0},
         115,
         0.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto filter = designLowpass(row.design);
        ASSERT_EQ(filter->getStatus(), FilterStatus::Ok);
        const std::vector<float>& h = filter->getCoefficients();
        EXPECT_EQ(h.size(), row.expectedCount);
        EXPECT_NEAR(std::accumulate(h.begin(), h.end(), 0.0), 1.0, 1e-6);
        EXPECT_NEAR(std::abs(filter->frequencyResponse(0.0)), 1.0, 1e-6);
        const std::vector<float>& window = filter->getWindowValues();
        ASSERT_EQ(window.size(), row.expectedCount);
        const float expectedEnd = static_cast<float>(1.0 / besselI0(row.expectedBeta));
        EXPECT_FLOAT_EQ(window.front(), expectedEnd);
        EXPECT_FLOAT_EQ(window.back(), expectedEnd);
    }
}

TEST(FilterTest, MeetsTheAttenuationOutsideTheTransitionBand) {
    // Kaiser's rule aims at ripple 10^(-A/20) in both bands; allow 1 dB for the estimate.
    const Design& design = downTo1000From2500;
    const double ripple = std::pow(10.0, -(design.attenuationDb - 1.0) / 20.0);
    const double passEdge = design.cutoffHz - design.transitionWidthHz / 2.0;
    const double stopEdge = design.cutoffHz + design.transitionWidthHz / 2.0;
    const auto filter = designLowpass(design);
    for (double f = 0.0; f <= design.sampleRateHz / 2.0; f += 5.0) {
        SCOPED_TRACE(f);
        const double gain = std::abs(filter->frequencyResponse(f));
        if (f <= passEdge) {
            EXPECT_NEAR(gain, 1.0, ripple);
        } else if (f >= stopEdge) {
            EXPECT_LE(gain, ripple);
        }
    }
    EXPECT_NEAR(std::abs(filter->frequencyResponse(design.cutoffHz)), 0.5, 0.01);
}

// Each refused after a valid design: nothing of the earlier design is left to mistake for it.
TEST(FilterTest, RejectedDesignLeavesNoCoefficients) {
    struct Row {
        const char* name;
        Design design;
        bool orderRejected;
    };
    const Row rows[] = {
        {"cut-off at Nyquist", {160.0, 5000.0, 2500.0, 60.0}, false},
        {"cut-off above Nyquist", {160.0, 5000.0, 3000.0, 60.0}, false},
        {"zero cut-off", {160.0, 5000.0, 0.0, 60.0}, false},
        {"zero transition width", {0.0, 5000.0, 500.0, 60.0}, true},
        {"NaN sample rate", {160.0, nan, 500.0, 60.0}, true},
        {"infinite attenuation", {160.0, 5000.0, 500.0, infinity}, true},
        // 52.05 * 5000 / 1.4e-5 = 1.8e10: fits 64 bits, not 32
        {"order beyond 32 bits", {1e-6, 5000.0, 500.0, 60.0}, true},
        // 1.8e24 fits neither
        {"order beyond 64 bits", {1e-20, 5000.0, 500.0, 60.0}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto filter = designLowpass(downTo1000From2500);
        ASSERT_EQ(filter->getStatus(), FilterStatus::Ok);
        const Design& d = row.design;
        filter->configure(d.transitionWidthHz, d.sampleRateHz, d.cutoffHz, d.attenuationDb);
        EXPECT_EQ(filter->getStatus(), FilterStatus::InvalidParameters);
        if (row.orderRejected) {
            EXPECT_LE(filter->getOrder(), 0);
        }
        EXPECT_TRUE(filter->getCoefficients().empty());
        EXPECT_TRUE(filter->getWindowValues().empty());
        EXPECT_EQ(filter->frequencyResponse(0.0), std::complex<double>(0.0, 0.0));
    }
}

}  // namespace
