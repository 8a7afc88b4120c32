#include "dsp/window/Kaiser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

#include "support/BesselI0.h"

namespace {

using Karvel::Tamlib::Dsp::Window::Kaiser;
using Karvel::Tamlib::Dsp::Window::SymmetricWindow;
using Karvel::Tamlib::Dsp::Window::Window;
using TamlibTest::besselI0;

// A window of another family, to exercise equals across the hierarchy.
class PlainWindow : public Window<float> {
public:
    PlainWindow() : Window<float>(3) { coefficients.assign(3, 1.0f); }
    std::unique_ptr<Window<float>> clone() const override {
        return std::make_unique<PlainWindow>();
    }
    bool equals(const Window<float>&) const override { return false; }

protected:
    void recompute() override {}
};

class PeriodicWindow : public SymmetricWindow<float> {
public:
    PeriodicWindow() : SymmetricWindow<float>(4, 1) { coefficients.assign(4, 1.0f); }
    std::unique_ptr<Window<float>> clone() const override {
        return std::make_unique<PeriodicWindow>();
    }

protected:
    void recompute() override {}
};

TEST(KaiserTest, ValuesMatchBesselRatioAtKnownPoints) {
    struct Row {
        const char* name;
        uint64_t length;
        double beta;
        uint64_t index;
        double expected;
    };
    // Position r = (n - D/2) / (D/2) with D = length - 1, raised to 1 for length 1.
    const Row rows[] = {
        {"odd length, middle", 9, 6.0, 4, 1.0},
        {"odd length, first", 9, 6.0, 0, 1.0 / besselI0(6.0)},
        {"odd length, last", 9, 6.0, 8, 1.0 / besselI0(6.0)},
        {"r = -1/2", 5, 6.0, 1, besselI0(6.0 * std::sqrt(0.75)) / besselI0(6.0)},
        {"even length, r = -1/3", 4, 6.0, 1, besselI0(6.0 * std::sqrt(8.0 / 9.0)) / besselI0(6.0)},
        {"even length, r = +1/3", 4, 6.0, 2, besselI0(6.0 * std::sqrt(8.0 / 9.0)) / besselI0(6.0)},
        {"length 1 sits at r = -1", 1, 6.0, 0, 1.0 / besselI0(6.0)},
        {"large beta, end", 33, 20.0, 0, 1.0 / besselI0(20.0)},
        {"beta 0, end", 6, 0.0, 0, 1.0},
        {"beta 0, inside", 6, 0.0, 2, 1.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Kaiser<float> window(row.length, row.beta);
        ASSERT_EQ(window.getCoefficients().size(), row.length);
        EXPECT_FLOAT_EQ(window.getCoefficients()[row.index], static_cast<float>(row.expected));
    }
}

TEST(KaiserTest, ValuesRiseToTheMiddleAndMirror) {
    for (const uint64_t length : {10u, 11u, 115u}) {
        SCOPED_TRACE("length " + std::to_string(length));
        const std::vector<float> values = Kaiser<float>(length, 8.6).getCoefficients();
        for (uint64_t n = 0; n < length; ++n) {
            EXPECT_FLOAT_EQ(values[n], values[length - 1 - n]) << "n = " << n;
        }
        for (uint64_t n = 1; n < (length + 1) / 2; ++n) {
            EXPECT_LT(values[n - 1], values[n]) << "n = " << n;
        }
    }
}

TEST(KaiserTest, CloneKeepsValuesAndStandsAlone) {
    auto original = std::make_unique<Kaiser<float>>(11, 7.0);
    const std::vector<float> originalValues = original->getCoefficients();

    const std::unique_ptr<Window<float>> copy = original->clone();
    original.reset();

    const auto& kaiserCopy = dynamic_cast<const Kaiser<float>&>(*copy);
    EXPECT_EQ(kaiserCopy.getBeta(), 7.0);
    EXPECT_EQ(kaiserCopy.getLength(), 11u);
    EXPECT_EQ(kaiserCopy.getPeriodic(), 0);
    EXPECT_EQ(kaiserCopy.getAmplitudeCorrection(), 0.0f);
    EXPECT_EQ(kaiserCopy.getCoefficients(), originalValues);
}

TEST(KaiserTest, EqualsComparesOnlyThePeriodicFlag) {
    const Kaiser<float> window(11, 7.0);
    EXPECT_TRUE(window.equals(Kaiser<float>(4, 0.5)));
    EXPECT_FALSE(window.equals(PeriodicWindow()));
    EXPECT_THROW(static_cast<void>(window.equals(PlainWindow())), std::bad_cast);
}

TEST(KaiserTest, LengthZeroIsEmptyAndAnOversizedLengthFails) {
    EXPECT_TRUE(Kaiser<float>(0, 6.0).getCoefficients().empty());
    try {
        Kaiser<float> window(std::numeric_limits<uint64_t>::max(), 1.0);
        FAIL() << "no exception";
    } catch (const std::length_error& error) {
        EXPECT_STREQ(error.what(), "vector too long");
    }
}

}  // namespace
