#include "app/ParamRules.h"

#include <climits>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace tarvicon {
namespace {

const TSliderRange kGamma{0.25, 4, 40, false};
const TSliderRange kThickness{1, 255, 255, false};
const TSliderRange kAngle{-180, 180, 721, true};
const TSliderRange kZoom{20, -20, 100, false};

// --- slider arithmetic ---

TEST(SliderValues, IndexToValueAndText) {
    struct TCase {
        TSliderRange range;
        int index;
        double value;
        const char* pattern;
        const char* text;
    };
    const TCase cases[] = {
        {kGamma, 8, 0.25 + 8 * 3.75 / 39, "0.0", "1.0"},
        {kGamma, 9, 0.25 + 9 * 3.75 / 39, "0.0", "1.1"},
        {kGamma, 39, 4, "0.0", "4.0"},
        {kThickness, 0, 1, "0", "1"},
        {kThickness, 254, 255, "0", "255"},
        {kAngle, 0, -180, "0.0", "-180.0"},
        {kAngle, 721, 180, "0.0", "180.0"}, // beyond the top: limited to the range
        {kZoom, 0, 20, "0", "20"},          // a falling range: Min at the bottom
        {kZoom, 99, -20, "0", "-20"},
        {kZoom, -3, 20, "0", "20"},                 // limited by the larger bound
        {kZoom, 50, 20 - 50 * 40.0 / 99, "0", "0"}, // -0.2 shows no sign
        {{3, 9, 1, false}, 5, 3, "0", "3"},         // one step: always Min
        {{3, 9, 0, false}, 5, 3, "0", "3"},
        {{0, 4, 5, false}, 2, 2, "", "2"}, // the empty pattern writes the general format
        {{0, 1, 5, false}, 1, 0.25, "", "0.25"},
    };
    for (const TCase& c : cases) {
        const double value = ValueOfIndex(c.range, c.index);
        EXPECT_DOUBLE_EQ(value, c.value) << c.text;
        EXPECT_EQ(PatternText(value, c.pattern), c.text);
    }
}

TEST(SliderValues, ValueToIndexRoundsHalvesToEven) {
    const TSliderRange eighths{0, 8, 5, false}; // a value step of 2: odd values are halves
    struct TCase {
        TSliderRange range;
        double value;
        std::optional<int> index;
    };
    const TCase cases[] = {
        {kGamma, 1.0, 8},
        {kGamma, 1.1, 9},
        {kThickness, 255, 254},
        {kAngle, -180, 0},
        {kZoom, 20, 0},
        {kZoom, -20, 99},
        {eighths, 1, 0},
        {eighths, 3, 2},
        {eighths, 5, 2},
        {eighths, 7, 4},
        {eighths, -1, 0},
        {eighths, -3, -2},
        {kThickness, 1000, 999}, // out of range: the slider limits it
        {kThickness, 1e300, 1000000000},
        {kThickness, -1e300, -1000000000},
        {{5, 5, 10, false}, 5, std::nullopt}, // an empty range moves nothing
        {{0, 1e-21, 10, false}, 0, std::nullopt},
        {kGamma, std::nan(""), std::nullopt},
        {kGamma, std::numeric_limits<double>::infinity(), std::nullopt},
        {{-std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(), 0, false},
         1,
         std::nullopt}, // a node without a range
    };
    for (const TCase& c : cases) EXPECT_EQ(IndexOfValue(c.range, c.value), c.index) << c.value;
}

TEST(SliderPositions, IndexAndPositionRunOppositeWays) {
    EXPECT_EQ(SliderMaximum(40), 39);
    EXPECT_EQ(SliderMaximum(2), 1);
    EXPECT_EQ(SliderMaximum(1), 1);
    EXPECT_EQ(SliderMaximum(0), 1);
    EXPECT_EQ(IndexOfPosition(40, 0), 39);
    EXPECT_EQ(IndexOfPosition(40, 39), 0);
    EXPECT_EQ(IndexOfPosition(INT_MIN, 5), INT_MIN); // kept in range instead of overflowing
    EXPECT_EQ(LargeStep(40), 1);
    EXPECT_EQ(LargeStep(721), 22);
    EXPECT_EQ(LargeStep(31), 0);
    EXPECT_EQ(LargeStep(32765), 1023);

    struct TCase {
        TSliderRange range;
        int index;
        int position;
    };
    const TCase cases[] = {
        {kAngle, 720, 0},
        {kAngle, 721, 720}, // wraps to index 0
        {kAngle, -1, 0},    // wraps to index 720
        {kAngle, -722, 0},
        {kAngle, 1447, 715},
        {kAngle, INT_MIN, 720 - 432}, // -2147483648 mod 721 = 432
        {kThickness, 254, 0},
        {kThickness, 255, 0},  // the top stops
        {kThickness, -3, 254}, // the bottom stops
        {kThickness, INT_MIN, 254},
        {kThickness, INT_MAX, 0},
        {{0, 1, 1, true}, 0, 0},
        {{0, 1, 0, true}, -5, 1}, // no steps: nothing wraps
    };
    for (const TCase& c : cases) EXPECT_EQ(PositionOfIndex(c.range, c.index), c.position) << c.index;
}

// --- texts ---

TEST(SliderTexts, PatternsAndTypedValues) {
    EXPECT_EQ(PatternText(2.5, "0"), "3");
    EXPECT_EQ(PatternText(-2.5, "0"), "-3");
    EXPECT_EQ(PatternText(0.25, "0.0"), "0.3");
    EXPECT_EQ(PatternText(0.05, "0.00"), "0.05");
    EXPECT_EQ(PatternText(1.5, "0.##"), "1.5");
    EXPECT_EQ(PatternText(1.25, "0.0#"), "1.25");
    EXPECT_EQ(PatternText(2, "0.##"), "2");
    EXPECT_EQ(PatternText(12345.678, "0"), "12346");

    EXPECT_EQ(NodeValueText(1.0192, "0.0", false), "1.0");
    EXPECT_EQ(NodeValueText(2.9899, "", false), "2.9899");
    EXPECT_EQ(NodeValueText(2.9899, "", true), "3");
    EXPECT_EQ(NodeValueText(2.5, "0.0", true), "3");

    EXPECT_EQ(TypedValue("25"), 25);
    EXPECT_EQ(TypedValue(" -1.5 "), -1.5);
    EXPECT_EQ(TypedValue("1,5"), 0);
    EXPECT_EQ(TypedValue("abc"), 0);
    EXPECT_EQ(TypedValue(""), 0);
}

TEST(SliderTexts, CaptionLetterAndValueField) {
    struct TCase {
        const char* caption;
        const char* shown;
        const char* letter;
    };
    const TCase cases[] = {
        {"&Gamma", "Gamma", "G"},    {"Gri&d", "Grid", "d"}, {"A&ngle", "Angle", "n"},
        {"Animate", "Animate", "A"}, {"...", "...", "."},    {"", "", ""},
        {"End&", "End", ""},         {"R&&D", "R&D", "&"},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(CaptionWithoutAccelerator(c.caption), c.shown) << c.caption;
        EXPECT_EQ(AcceleratorLetter(c.caption), c.letter) << c.caption;
    }
    EXPECT_EQ(LabelShown("&Thickn", 39, 40), "Thickn");
    EXPECT_EQ(LabelShown("&Thickn", 40, 40), "T");

    EXPECT_EQ(ValueWithUnits("1.0", "y"), "1.0 y");
    EXPECT_EQ(ValueWithUnits("3", ""), "3");
    EXPECT_EQ(ValueFieldShown("1.0", "1.0 y", 29, 30), "1.0 y");
    EXPECT_EQ(ValueFieldShown("1.0", "1.0 y", 30, 30), "1.0");
    EXPECT_EQ(ParamStatusText("&Gamma", "1.1 y"), "&Gamma = 1.1 y");
}

// --- the gauge ---

TEST(GaugeGeometry, HandlePlacesAndDragsBack) {
    EXPECT_EQ(GaugeHandleOf(300, 39, 0).Top, 0);
    EXPECT_EQ(GaugeHandleOf(300, 39, 0).Size, 30);
    EXPECT_EQ(GaugeHandleOf(300, 39, 39).Top, 270);
    EXPECT_EQ(GaugeHandleOf(300, 39, 20).Top, 138); // 138.46
    EXPECT_EQ(GaugeHandleOf(300, 39, 99).Top, 270);
    EXPECT_EQ(GaugeHandleOf(20, 39, 10).Top, 0); // shorter than a handle: the handle fills it
    EXPECT_EQ(GaugeHandleOf(20, 39, 10).Size, 20);
    EXPECT_EQ(GaugeHandleOf(300, 0, 0).Top, 0);

    // Dropping the handle where a position put it gives that position back.
    for (int position = 0; position <= 39; ++position)
        EXPECT_EQ(GaugePositionAt(300, 39, GaugeHandleOf(300, 39, position).Top), position);
    EXPECT_EQ(GaugePositionAt(300, 720, -40), 0);
    EXPECT_EQ(GaugePositionAt(300, 720, 4000), 720);
    EXPECT_EQ(GaugePositionAt(25, 720, 3), 0);
}

TEST(GaugeGeometry, TrackPressMovesALargeStepTowardsThePress) {
    // Position 20 of 39 on 300 pixels: the handle covers 138..167.
    EXPECT_EQ(GaugeTrackPress(300, 39, 20, 3, 10), 17);
    EXPECT_EQ(GaugeTrackPress(300, 39, 20, 3, 168), 23);
    EXPECT_EQ(GaugeTrackPress(300, 39, 20, 3, 138), 20);
    EXPECT_EQ(GaugeTrackPress(300, 39, 20, 0, 10), 19); // small ranges still move
    EXPECT_EQ(GaugeTrackPress(300, 39, 38, 5, 299), 39);
}

// --- the colour bar ---

TEST(ColorBarRows, RawValuesFromTheBottomUp) {
    struct TCase {
        TColorBarScale scale;
        int row;
        int raw;
    };
    const TCase cases[] = {
        {{0, 1024}, 0, 0},
        {{0, 1024}, 255, 1020},
        {{10, 2000}, 100, 787},
        {{10, 2000}, 255, 1992}, // 10 + 255 × 1990 div 256
        {{500, 500}, 0, 500},
        {{500, 500}, 255, 500},  // an empty scale widens to one value
        {{65535, 100}, 128, 50}, // 65535 counts as 0
        {{1000, 0}, 128, 500},   // a falling scale
        {{65535, 65535}, 255, 65279},
    };
    for (const TCase& c : cases) EXPECT_EQ(ColorBarRowRaw(c.scale, c.row, 256), c.raw) << c.row;
}

TEST(ColorBarRows, DottedLinesAtTheWindowAndPhase) {
    EXPECT_EQ(ColorBarLineRows({0, 1024, 256, 768, 512}, 256), (std::vector<int>{191, 127, 63}));
    EXPECT_EQ(ColorBarLineRows({0, 1024, 256, 768, 256}, 256), (std::vector<int>{191, 63}));
    EXPECT_EQ(ColorBarLineRows({500, 500, 500, 501, 500}, 256), (std::vector<int>{255, -1}));
    EXPECT_EQ(ColorBarLineRows({0, 1024, 0, 1024, 0}, 256), (std::vector<int>{255, -1}));
}

TEST(ColorBarHits, ModesByPlace) {
    const TColorBarScale scale{0, 1024, 256, 768, 512}; // lines at y 192, 64 and 128 of 256
    struct TCase {
        TColorBarScale scale;
        int x, y, mode;
    };
    const TCase cases[] = {
        {scale, 0, 160, -1},
        {scale, 5, 160, -1},
        {scale, 6, 160, 0},
        {scale, 24, 160, 0},
        {scale, 25, 160, -1},
        {scale, 29, 160, -1}, // the 5 last pixels of 30
        {scale, 15, 192, 1},
        {scale, 15, 186, 1},
        {scale, 15, 198, 1},
        {scale, 15, 185, 0},
        {scale, 15, 199, -1},
        {scale, 15, 250, -1}, // at or below the lower end
        {scale, 15, 64, 2},
        {scale, 15, 58, 2},
        {scale, 15, 57, -1},
        {scale, 15, 10, -1},
        {scale, 15, 128, 3},
        {scale, 15, 122, 3},
        {scale, 15, 121, 0},
        {scale, 15, 100, 0},
        {{0, 1024, 512, 512, 512}, 15, 128, 1}, // the low end comes first
        {{0, 1024, 768, 256, 512}, 15, 100, 0}, // a turned window
        {{500, 500, 500, 500, 500}, 15, 3, 1},  // an empty scale puts every line at 0
        {{500, 500, 500, 500, 500}, 15, 100, -1},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(ColorBarHitTest(c.scale, c.x, c.y, 30, 256), c.mode) << c.x << "," << c.y;
}

TEST(ColorBarDrags, PercentsTheDragSets) {
    EXPECT_EQ(ColorBarPercent(0, 256), 100);
    EXPECT_EQ(ColorBarPercent(64, 256), 75);
    EXPECT_EQ(ColorBarPercent(256, 256), 0);
    EXPECT_EQ(ColorBarPercent(10, 0), 0);
    const TColorBarOffsets offsets = ColorBarOffsetsAt(37.5, 25, 75);
    EXPECT_EQ(offsets.Low, -12.5);
    EXPECT_EQ(offsets.High, 37.5);

    const double nan = std::nan("");
    struct TCase {
        int mode;
        double percent, low, high;
        TColorBarOffsets offsets;
        std::optional<double> newLow, newHigh, newPhase;
    };
    const TCase cases[] = {
        {0, 45, 25, 75, {-12.5, 37.5}, 32.5, 82.5, std::nullopt},
        {1, 31.25, 25, 75, {}, 31.25, std::nullopt, std::nullopt},
        {2, 81.25, 25, 75, {}, std::nullopt, 81.25, std::nullopt},
        {3, 56.25, 25, 75, {}, std::nullopt, std::nullopt, 62.5},
        {3, 56.25, 50, 50, {}, std::nullopt, std::nullopt, std::nullopt}, // equal ends: nothing
        {3, 56.25, nan, 50, {}, std::nullopt, std::nullopt, std::nullopt},
        {0, 45, 25, 75, {nan, 37.5}, std::nullopt, 82.5, std::nullopt},
        {-1, 45, 25, 75, {}, std::nullopt, std::nullopt, std::nullopt},
    };
    for (const TCase& c : cases) {
        const TColorBarDrag drag = ColorBarDragTo(c.mode, c.percent, c.low, c.high, c.offsets);
        EXPECT_EQ(drag.Low, c.newLow) << c.mode;
        EXPECT_EQ(drag.High, c.newHigh) << c.mode;
        EXPECT_EQ(drag.Phase, c.newPhase) << c.mode;
    }
}

} // namespace
} // namespace tarvicon
