#include "app/LayoutRules.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>

namespace tarvicon {
namespace {

// --- Navigation column ---

TEST(NaviPanelSizes, FollowsThePhysicalExtents) {
    constexpr std::int64_t kHuge = INT64_MAX;
    struct TCase {
        int available;
        TNaviExtents extents;
        TNaviSizes sizes;
        const char* what;
    };
    const TCase cases[] = {
        {400, {0, 0, 0, 0}, {200, 200, 200, 200}, "no object: all extents 10000"},
        {400, {-5, -1, 0, -10000}, {200, 200, 200, 200}, "negative extents count as 10000"},
        {450, {250000, 150000, 200000, 200000}, {250, 150, 250, 200}, "a head series"},
        {100, {10000, 25000, 20000, 100}, {33, 82, 33, 50}, "quotients truncated, middle at least 50"},
        {200, {100000, 1000, 100000, 1000}, {100, 20, 100, 50}, "a flat picture: the minimums"},
        {1000, {4000000, 4000000, 4000000, 4000000}, {500, 500, 500, 500}, "products beyond 32 bits"},
        {900,
         {6000000000, 3000000000, 3000000000, 12000000000},
         {600, 300, 600, 1200},
         "extents beyond 32 bits"},
        {1000, {kHuge, kHuge, kHuge, kHuge}, {500, 500, 500, 500}, "sums beyond 64 bits"},
        {-8, {0, 0, 0, 0}, {0, 20, 0, 50}, "a panel narrower than its splitter"},
    };
    for (const TCase& c : cases) {
        const TNaviSizes sizes = NaviPanelSizes(c.available, c.extents);
        EXPECT_EQ(sizes.CoronalWidth, c.sizes.CoronalWidth) << c.what;
        EXPECT_EQ(sizes.UpperHeight, c.sizes.UpperHeight) << c.what;
        EXPECT_EQ(sizes.TransaxialWidth, c.sizes.TransaxialWidth) << c.what;
        EXPECT_EQ(sizes.MiddleHeight, c.sizes.MiddleHeight) << c.what;
    }
}

TEST(NaviPanelSizes, AnAbsurdAspectStaysWithinInt) {
    const TNaviSizes sizes = NaviPanelSizes(1000, {1, INT64_MAX, 1, INT64_MAX});
    EXPECT_EQ(sizes.UpperHeight, INT_MAX);
    EXPECT_EQ(sizes.MiddleHeight, INT_MAX);
}

TEST(NaviPanelWidth, TwoFifthsOfTheHeightAtLeast200) {
    EXPECT_EQ(NaviPanelWidth(1000), 400);
    EXPECT_EQ(NaviPanelWidth(1003), 401);
    EXPECT_EQ(NaviPanelWidth(499), 200);
    EXPECT_EQ(NaviPanelWidth(0), 200);
    EXPECT_EQ(NaviPanelWidth(INT_MAX), static_cast<int>(INT_MAX * 2LL / 5));
}

TEST(Screensplit, ZeroTogglesAndTheSignDecides) {
    bool visible = true;
    visible = ScreensplitShows(0, visible);
    EXPECT_FALSE(visible) << "first 0 hides";
    visible = ScreensplitShows(0, visible);
    EXPECT_TRUE(visible) << "second 0 shows again";

    EXPECT_TRUE(ScreensplitShows(1, false));
    EXPECT_TRUE(ScreensplitShows(300, true)) << "a positive value only shows";
    EXPECT_FALSE(ScreensplitShows(-1, true));
    EXPECT_FALSE(ScreensplitShows(-300, false));
}

TEST(Screensplit, TheWrittenValueKeepsTheStateItWasWrittenIn) {
    EXPECT_EQ(ScreensplitValue(320, true), 320);
    EXPECT_EQ(ScreensplitValue(320, false), -320);
    for (const bool visible : {true, false})
        EXPECT_EQ(ScreensplitShows(ScreensplitValue(320, visible), visible), visible);
}

// --- Angle marker ---

TEST(MarkerAngle, BroughtIntoZeroTo360) {
    const int cases[][2] = {{-180, 0},   {0, 180},  {190, 10},  {360, 180}, {180, 360},
                            {-200, 340}, {-540, 0}, {540, 360}, {-360, 180}};
    for (const auto& c : cases) EXPECT_EQ(MarkerAngle(c[0]), c[1]) << c[0];
    for (const int extreme : {INT_MIN, INT_MAX}) {
        const int a = MarkerAngle(extreme);
        EXPECT_TRUE(a >= 0 && a <= 360) << extreme << " gave " << a;
    }
}

TEST(ViewShowsMarker, ThirdLetterOfTheViewAgainstSecondOfTheDetail) {
    // Detail on the coronal path: only the transaxial planes (looking along F) show the marker.
    EXPECT_TRUE(ViewShowsMarker("RFT", "RBF"));
    EXPECT_FALSE(ViewShowsMarker("RFT", "RFT"));
    EXPECT_FALSE(ViewShowsMarker("RFT", "BFR"));
    // Detail on the transaxial path: the sagittal looks along R, the coronal along T; B is nobody's.
    EXPECT_FALSE(ViewShowsMarker("RBF", "RFT"));
    EXPECT_FALSE(ViewShowsMarker("RBF", "BFR"));
    EXPECT_TRUE(ViewShowsMarker("BTF", "RFT"));
    EXPECT_TRUE(ViewShowsMarker("rft", "RBF"));
    EXPECT_FALSE(ViewShowsMarker("R", "RBF"));
    EXPECT_FALSE(ViewShowsMarker("RFT", "RB"));
}

// --- Wheel ---

TEST(WheelTarget, ModifiersBeforeZones) {
    TWheelInput in{.InsideDetail = true, .X = 50, .Y = 50, .Width = 100, .Height = 100};
    EXPECT_EQ(WheelTarget(in), kWheelSlice);

    TWheelInput outside = in;
    outside.InsideDetail = false;
    outside.LeftButton = outside.Alt = true;
    EXPECT_EQ(WheelTarget(outside), kWheelOutside);

    TWheelInput button = in;
    button.LeftButton = button.Alt = button.Ctrl = true;
    EXPECT_EQ(WheelTarget(button), kWheelNone);

    // Modifiers ignore the zones and whether their parameter is enabled.
    TWheelInput keys = in;
    keys.X = 95;
    keys.CenterEnabled = keys.WidthEnabled = false;
    keys.Alt = true;
    EXPECT_EQ(WheelTarget(keys), kWheelCenter);
    keys.Ctrl = true;
    EXPECT_EQ(WheelTarget(keys), kWheelWidth);
    keys.Alt = false;
    EXPECT_EQ(WheelTarget(keys), kWheelZoom);
}

TEST(WheelTarget, EdgeStripsAndDisabledNodesFallThrough) {
    struct TCase {
        int x, y, width, height;
        bool center, widthEnabled, angle;
        int target;
    };
    const TCase cases[] = {
        {9, 50, 100, 100, true, true, true, kWheelCenter},
        {10, 50, 100, 100, true, true, true, kWheelSlice},
        {91, 50, 100, 100, true, true, true, kWheelParameter},
        {90, 50, 100, 100, true, true, true, kWheelSlice},
        {50, 9, 100, 100, true, true, true, kWheelWidth},
        {50, 10, 100, 100, true, true, true, kWheelSlice},
        {50, 91, 100, 100, true, true, true, kWheelAngle},
        {50, 90, 100, 100, true, true, true, kWheelSlice},
        // W ÷ 10 truncates: 109 gives strips of 10, so the right one starts after 99.
        {9, 50, 109, 109, true, true, true, kWheelCenter},
        {100, 50, 109, 109, true, true, true, kWheelParameter},
        {99, 50, 109, 109, true, true, true, kWheelSlice},
        {50, 100, 109, 109, true, true, true, kWheelAngle},
        // Corners: the left strip wins, then the right, then the top.
        {5, 5, 100, 100, true, true, true, kWheelCenter},
        {95, 95, 100, 100, true, true, true, kWheelParameter},
        {50, 5, 100, 100, true, true, true, kWheelWidth},
        // Disabled nodes fall through to the next strip, and finally to 8.
        {5, 50, 100, 100, false, true, true, kWheelSlice},
        {5, 5, 100, 100, false, true, true, kWheelWidth},
        {5, 95, 100, 100, false, true, true, kWheelAngle},
        {95, 50, 100, 100, true, true, false, kWheelSlice},
        {95, 5, 100, 100, true, true, false, kWheelWidth},
        {95, 95, 100, 100, true, true, false, kWheelSlice},
        {50, 5, 100, 100, true, false, true, kWheelSlice},
        {50, 95, 100, 100, true, true, false, kWheelSlice},
        // A view narrower than 10 has no strips.
        {0, 0, 5, 5, true, true, true, kWheelSlice},
    };
    for (const TCase& c : cases) {
        const TWheelInput in{.InsideDetail = true,
                             .X = c.x,
                             .Y = c.y,
                             .Width = c.width,
                             .Height = c.height,
                             .CenterEnabled = c.center,
                             .WidthEnabled = c.widthEnabled,
                             .AngleEnabled = c.angle};
        EXPECT_EQ(WheelTarget(in), c.target)
            << "(" << c.x << ", " << c.y << ") in " << c.width << " x " << c.height << " center " << c.center
            << " width " << c.widthEnabled << " angle " << c.angle;
    }
}

TEST(WheelSteps, ShiftSwapsSmallAndLarge) {
    EXPECT_EQ(WheelSteps(false).Small, 1);
    EXPECT_EQ(WheelSteps(false).Large, 10);
    EXPECT_EQ(WheelSteps(true).Small, 10);
    EXPECT_EQ(WheelSteps(true).Large, 1);
    EXPECT_EQ(NaviWheelSlices(1, false), -1);
    EXPECT_EQ(NaviWheelSlices(-1, false), 1);
    EXPECT_EQ(NaviWheelSlices(1, true), -8);
    EXPECT_EQ(NaviWheelSlices(-1, true), 8);
}

// --- Status bar and label ---

TEST(StatusTexts, VoxelWorldAndOffset) {
    EXPECT_EQ(VoxelText(1, 2, 3, -1024, -1024.25), "1 : 2 : 3 = -1024 = (-1024.3)");
    EXPECT_EQ(VoxelText(0, 0, 0, 0, 0.0), "0 : 0 : 0 = 0 = (0.0)");
    EXPECT_EQ(VoxelText(-1, 511, 40, 65535, 0.05), "-1 : 511 : 40 = 65535 = (0.1)");

    // Truncated towards zero, never "-0".
    EXPECT_EQ(WorldText(-1500, -999, 123456), "-1mm : 0mm : 123mm");
    EXPECT_EQ(WorldText(INT64_MIN, 0, INT64_MAX), "-9223372036854775mm : 0mm : 9223372036854775mm");

    const struct {
        double dx, dy;
        const char* text;
    } offsets[] = {
        {3000, 4000, "3mm : 4mm = 5mm"},
        {2500, -2500, "3mm : -3mm = 4mm"},
        {-500, 0, "-1mm : 0mm = 1mm"},
        {499.9, -499.9, "0mm : 0mm = 0mm"},
        {1400, 1400, "1mm : 1mm = 1mm"}, // d from the rounded dx, dy, not from 1.98 mm
        {NAN, INFINITY, "0mm : 1000000000000000mm = 1000000000000000mm"},
    };
    for (const auto& o : offsets) EXPECT_EQ(OffsetText(o.dx, o.dy), o.text) << o.dx << ", " << o.dy;
}

TEST(LabelText, CaptionWithoutAmpersandsAndALineBreak) {
    EXPECT_EQ(LabelText("&Zoom"), "Zoom\r\n");
    EXPECT_EQ(LabelText("Level &center"), "Level center\r\n");
    EXPECT_EQ(LabelText(""), "\r\n");
}

// --- Caps Lock ---

TEST(CapsLockStep, SwitchesToTheOverlayAndBack) {
    struct TCase {
        bool toggled;
        std::int32_t overlay, caps, selected;
        TCapsStep step;
        const char* what;
    };
    const TCase cases[] = {
        {true, 7, 0, 3, {7, 3}, "on: remember 3, show the overlay"},
        {true, 7, 3, 7, {0, 3}, "on again: already switched"},
        {false, 7, 3, 7, {3, 0}, "off: back to 3"},
        {false, 7, 0, 3, {0, 0}, "off again: nothing"},
        {true, 0, 0, 3, {0, 0}, "on without an overlay series: nothing"},
        {false, 0, 3, 7, {3, 0}, "off after the overlay went away: still back"},
    };
    for (const TCase& c : cases) {
        const TCapsStep step = CapsLockStep(c.toggled, c.overlay, c.caps, c.selected);
        EXPECT_EQ(step.SelectSerial, c.step.SelectSerial) << c.what;
        EXPECT_EQ(step.CapsSeries, c.step.CapsSeries) << c.what;
    }
}

} // namespace
} // namespace tarvicon
