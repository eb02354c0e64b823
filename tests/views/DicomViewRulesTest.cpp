#include "views/DicomViewRules.h"

#include "support/Cubes.h"
#include "support/TestSupport.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace tarvicon {
namespace {

using test::ErrorOf;
using test::MakeCube;

// A clock far from zero, so the rules only ever see differences of ticks.
constexpr std::uint64_t kStart = 5'000'000'000;

TEST(DicomViewAnimations, OffsetsAtGivenTimes) {
    const struct {
        std::uint64_t Elapsed;
        int Swing, Rotate;
    } cases[] = {
        {0, 0, 0},        {16, 0, 0},       {17, 0, 1},     {750, 24, 45},  {1500, 35, 90}, {3000, 0, 180},
        {4500, -35, 270}, {5250, -24, 315}, {6000, 0, 360}, {9000, 0, 540}, // the rotation keeps growing
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SwingOffset(kStart + c.Elapsed, kStart), c.Swing) << c.Elapsed;
        EXPECT_EQ(RotateOffset(kStart + c.Elapsed, kStart), c.Rotate) << c.Elapsed;
    }
}

TEST(DicomViewAnimations, SweepComesFullCircleAfterThreeSeconds) {
    const struct {
        std::uint64_t Elapsed;
        int Phase;
        bool Finished;
    } cases[] = {{0, 0, false}, {1500, 180, false}, {2999, 359, false}, {3000, 360, true}, {3500, 420, true}};
    for (const auto& c : cases) {
        const TSweepStep step = SweepStep(kStart + c.Elapsed, kStart);
        EXPECT_EQ(step.Phase, c.Phase) << c.Elapsed;
        EXPECT_EQ(step.Finished, c.Finished) << c.Elapsed;
    }
}

TEST(DicomViewAnimations, SliceLoopBouncesAtTheEnds) {
    std::vector<int> visited;
    TSliceStep state{2, -3};
    for (int tick = 0; tick < 5; ++tick) {
        state = AnimateSlice(state.Slice, 40, state.Step);
        visited.push_back(state.Slice);
    }
    EXPECT_EQ(visited, (std::vector<int>{1, 0, 1, 2, 3}));
    EXPECT_EQ(state.Step, 3); // the magnitude stays, only the sign turned

    const struct {
        int Current, Count, Step;
        TSliceStep Next;
    } cases[] = {
        {39, 40, 2, {38, -2}}, // the top end turns a forward step
        {20, 40, 5, {21, 5}},  // one slice per tick, whatever the step
        {0, 1, -1, {0, 1}},    // a single slice stays
        {7, 40, 0, {7, 0}},    // no animation
        {0, 0, 1, {0, 1}},     // no slices
    };
    for (const auto& c : cases) {
        const TSliceStep next = AnimateSlice(c.Current, c.Count, c.Step);
        EXPECT_EQ(next.Slice, c.Next.Slice) << c.Current << " of " << c.Count << " step " << c.Step;
        EXPECT_EQ(next.Step, c.Next.Step) << c.Current << " of " << c.Count << " step " << c.Step;
    }
}

TEST(DicomViewSlices, PrevAndNextWrapAround) {
    const struct {
        int Current, Count, Delta, Slice;
    } cases[] = {
        {0, 40, -1, 39}, {39, 40, 1, 0}, {5, 40, 1, 6}, {5, 40, -1, 4},
        {0, 1, -1, 0},   {0, 1, 1, 0},   {3, 0, 1, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WrapSlice(c.Current, c.Count, c.Delta), c.Slice) << c.Current << " of " << c.Count;
}

TEST(DicomViewLevels, CentreAndWidthAgainstLowAndHigh) {
    const struct {
        double Center, Width, Low, High;
    } cases[] = {
        {40, 400, -160, 240},
        {1064, 400, 864, 1264},
        {10, 5, 7.5, 12.5}, // halves stay: the nodes hold fractions
        {0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const TLevelRange range = LevelRangeOf(c.Center, c.Width);
        EXPECT_DOUBLE_EQ(range.Low, c.Low);
        EXPECT_DOUBLE_EQ(range.High, c.High);
        const TLevelWindow window = LevelWindowOf(c.Low, c.High);
        EXPECT_DOUBLE_EQ(window.Center, c.Center);
        EXPECT_DOUBLE_EQ(window.Width, c.Width);
    }
}

TEST(DicomViewZoom, ExponentOfTheZoomNode) {
    const struct {
        double Zoom, Exponent;
    } cases[] = {
        {1, 0},
        {1.12, 1},
        {1 / (1.12 * 1.12 * 1.12), -3},
        {3, std::log(3.0) / std::log(1.12)}, // 9.69: just below the cap
        {4, 10},                             // 12.2 is capped
        {100, 10},
        {0.01, std::log(0.01) / std::log(1.12)},
        {0, std::log(0.01) / std::log(1.12)}, // never set; counts as the smallest zoom
    };
    for (const auto& c : cases) EXPECT_NEAR(ZoomExponent(c.Zoom), c.Exponent, 1e-9) << c.Zoom;
    for (const double zoom : {0.05, 0.5, 2.0, 3.0})
        EXPECT_NEAR(ZoomFromExponent(ZoomExponent(zoom)), zoom, 1e-12) << zoom;
    EXPECT_NEAR(ZoomFromExponent(10), 3.1058482, 1e-6);
}

// Shown cube: 100 × 80 × 50 voxels of 0.5 × 0.5 × 2 mm from (−10, 5, 0) mm. Overlay cube:
// 50 × 40 × 25 voxels of 1 × 1.25 × 4 mm from the world's zero.
class OverlayCornersTest : public testing::Test {
protected:
    OverlayCornersTest() : shown_(MakeCube(100, 80, 50)), overlay_(MakeCube(50, 40, 25)) {
        shown_.SetMetrics({500, 500, 2000});
        shown_.SetOrigin({-10000, 5000, 0});
        overlay_.SetMetrics({1000, 1250, 4000});
    }
    TPixelCube shown_;
    TPixelCube overlay_;
};

TEST_F(OverlayCornersTest, CornersThroughTheWorldIntoTheShownCube) {
    const struct {
        const char* Path;
        TOverlayCorners Corners;
    } cases[] = {
        // Overlay voxel (0, 0) is world (0, 0) mm: shown column (0 + 10) / 0.5 = 20, row
        // (0 − 5) / 0.5 = −10. Voxel (50, 40) is world (50, 50) mm: column 120, row 90.
        {"RBF", {0, 0, 50, 40, 20, -10, 120, -10, 120, 90, 20, 90}},
        // Down the slices: overlay slice 25 is world 100 mm, shown slice 100 / 2 = 50.
        {"RFB", {0, 0, 50, 25, 20, 0, 120, 0, 120, 50, 20, 50}},
        // Seen from the left: overlay column 0 is voxel 49, world 49 mm, shown voxel 118 and
        // shown column 99 − 118 = −19; overlay column 50 is voxel −1, world −1 mm, shown
        // voxel 18, column 81.
        {"LBF", {0, 0, 50, 40, -19, -10, 81, -10, 81, 90, -19, 90}},
    };
    for (const auto& c : cases) {
        const TOverlayCorners corners = OverlayCorners(shown_, overlay_, c.Path);
        EXPECT_EQ(corners, c.Corners)
            << c.Path << ": " << corners.X0 << "," << corners.Y0 << " " << corners.X2 << "," << corners.Y2;
    }
}

TEST_F(OverlayCornersTest, SameCubeMapsOntoItselfAndABadPathIsRefused) {
    EXPECT_EQ(OverlayCorners(shown_, shown_, "rbf"),
              (TOverlayCorners{0, 0, 100, 80, 0, 0, 100, 0, 100, 80, 0, 80}));
    EXPECT_EQ(ErrorOf([&] { OverlayCorners(shown_, overlay_, "RXF"); }), "bad view path");
}

} // namespace
} // namespace tarvicon
