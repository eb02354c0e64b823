#include "util/NumberTexts.h"

#include <gtest/gtest.h>
#include <limits>
#include <string>

namespace tarvicon {
namespace {

struct TCase {
    double value;
    int decimals;
    const char* text;
};

void ExpectTexts(std::initializer_list<TCase> cases) {
    for (const TCase& c : cases)
        EXPECT_EQ(FormatFixed(c.value, c.decimals), c.text) << c.value << " with " << c.decimals;
}

TEST(FormatFixed, HalvesRoundAwayFromZero) {
    ExpectTexts({
        {2.5, 0, "3"},
        {-2.5, 0, "-3"},
        {0.5, 0, "1"},
        {-0.5, 0, "-1"},
        {1.5, 0, "2"},
        {0.25, 1, "0.3"},
        {-0.25, 1, "-0.3"},
        {0.05, 1, "0.1"},
        {-0.05, 1, "-0.1"},
        {1.25, 1, "1.3"},
        {2.4999, 0, "2"},
        {-2.4999, 0, "-2"},
        {0.0005, 3, "0.001"},
    });
}

// The value rounds as the shortest text that reads back as it, i.e. as typed: these are all
// just below the half in binary (0.15 is 0.1499999999999999944...), yet round up.
TEST(FormatFixed, RoundsTheShortestDecimalNotTheBinaryExpansion) {
    ExpectTexts({
        {0.15, 1, "0.2"},
        {1.45, 1, "1.5"},
        {-1.45, 1, "-1.5"},
        {2.675, 2, "2.68"},
        {1.005, 2, "1.01"},
    });
}

TEST(FormatFixed, CarriesThroughNinesAndPadsDecimals) {
    ExpectTexts({
        {9.96, 1, "10.0"},
        {0.95, 1, "1.0"},
        {-999.5, 0, "-1000"},
        {99999.99, 1, "100000.0"},
        {7, 1, "7.0"},
        {7, 0, "7"},
        {1.1, 1, "1.1"},
        {0.25 + 8 * 3.75 / 39, 1, "1.0"}, // the gamma slider's positions 8 and 9
        {0.25 + 9 * 3.75 / 39, 1, "1.1"},
        {3.14159, 3, "3.142"},
        {1e-7, 8, "0.00000010"},
        {0.00049, 3, "0.000"},
        {65535, 0, "65535"},
    });
}

TEST(FormatFixed, ZeroNeverCarriesASign) {
    ExpectTexts({
        {0.0, 0, "0"},
        {-0.0, 0, "0"},
        {-0.0, 1, "0.0"},
        {-0.04, 1, "0.0"},
        {-0.4, 0, "0"},
        {-5e-324, 1, "0.0"},
        {5e-324, 0, "0"},
    });
}

TEST(FormatFixed, LargeValuesInFullWithoutExponent) {
    ExpectTexts({
        {1e20, 0, "100000000000000000000"},
        {-1.5e15, 1, "-1500000000000000.0"},
        {123456789012345678.0, 0, "123456789012345680"}, // the double's shortest digits, then zeros
        {4294967296.5, 0, "4294967297"},
    });
    const std::string huge = FormatFixed(1e300, 1);
    EXPECT_EQ(huge, "1" + std::string(300, '0') + ".0");
    EXPECT_EQ(FormatFixed(-std::numeric_limits<double>::max(), 0).size(), 310u);
}

TEST(FormatFixed, NonFiniteValuesAndOutOfRangeDecimals) {
    ExpectTexts({
        {std::numeric_limits<double>::quiet_NaN(), 1, "NAN"},
        {std::numeric_limits<double>::infinity(), 0, "INF"},
        {-std::numeric_limits<double>::infinity(), 1, "-INF"},
        {2.5, -3, "3"},                   // below 0: whole numbers
        {0.1, 40, "0.10000000000000000"}, // above 17: 17 decimals
    });
}

} // namespace
} // namespace tarvicon
