#include "views/ImageViewRules.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

namespace tarvicon {
namespace {

TEST(ImageViewZoomModel, ZoomIsLimitedAndAUserZoomChoosesTheFitMode) {
    EXPECT_EQ(LimitZoom(500), 100);
    EXPECT_EQ(LimitZoom(0.001), 0.01);
    EXPECT_EQ(LimitZoom(0.5), 0.5);
    EXPECT_EQ(FitModeAfterZoom(2, 1, false), 3);
    EXPECT_EQ(FitModeAfterZoom(2, 1.0000001, false), 4);
    EXPECT_EQ(FitModeAfterZoom(0, 3, false), 4);
    // A refit sets the zoom of its own mode and keeps it.
    EXPECT_EQ(FitModeAfterZoom(1, 1, true), 1);
    EXPECT_EQ(FitModeAfterZoom(2, 3, true), 2);
}

TEST(ImageViewZoomModel, ScalesFollowPhysicalSize) {
    const TZoomMetrics metrics{500, 500, 4, 4};
    const TScale real = ScaleOfZoom(metrics, 1);
    EXPECT_DOUBLE_EQ(real.X, 2);
    EXPECT_DOUBLE_EQ(real.Y, 2);
    const TScale pixels = ScaleOfZoom(metrics, FitZoom(0, metrics, 100, 100, 800, 600, 1));
    EXPECT_DOUBLE_EQ(pixels.X, 1);
    EXPECT_DOUBLE_EQ(pixels.Y, 1);

    // Unequal pixel spacing: the picture keeps its proportions, the zoom is the mean of both.
    const TZoomMetrics oblong{500, 1000, 4, 4};
    const TScale scale = ScaleOfZoom(oblong, 1.5);
    EXPECT_DOUBLE_EQ(scale.X, 3);
    EXPECT_DOUBLE_EQ(scale.Y, 6);
    EXPECT_DOUBLE_EQ(ZoomOfScale(oblong, scale), 1.5);
    EXPECT_DOUBLE_EQ(ZoomOfScale(oblong, {2, 8}), (1.0 + 2.0) / 2);
    EXPECT_EQ(ZoomOfScale({0, 500, 4, 4}, {3, 3}), 1);
}

TEST(ImageViewZoomModel, FitModes) {
    const TZoomMetrics metrics{1000, 1000, 1, 1};
    // 512 × 256 in 800 × 600: both sides fit at 800/512, one side fills at 600/256.
    EXPECT_DOUBLE_EQ(FitZoom(1, metrics, 512, 256, 800, 600, 7), 800.0 / 512);
    EXPECT_DOUBLE_EQ(FitZoom(2, metrics, 512, 256, 800, 600, 7), 600.0 / 256);
    EXPECT_DOUBLE_EQ(FitZoom(0, metrics, 512, 256, 800, 600, 7), 1);
    EXPECT_DOUBLE_EQ(FitZoom(3, metrics, 512, 256, 800, 600, 7), 1);
    EXPECT_DOUBLE_EQ(FitZoom(4, metrics, 512, 256, 800, 600, 7), 7);
    EXPECT_DOUBLE_EQ(FitZoom(9, metrics, 512, 256, 800, 600, 7), 1);
    EXPECT_DOUBLE_EQ(FitZoom(1, metrics, 0, 256, 800, 600, 7), 7);
    EXPECT_DOUBLE_EQ(FitZoom(0, {0, 1000, 1, 1}, 512, 256, 800, 600, 7), 7);
    EXPECT_DOUBLE_EQ(FitZoom(2, {1000, 1000, 0, 1}, 512, 256, 800, 600, 7), 7);

    // Physical sizes count, not pixel counts: 0.5 mm pixels at 4 px/mm are 2 screen pixels.
    const TZoomMetrics fine{500, 500, 4, 4};
    const double fit = FitZoom(1, fine, 512, 256, 800, 600, 1);
    const TScale scale = ScaleOfZoom(fine, fit);
    EXPECT_DOUBLE_EQ(512 * scale.X, 800);
    EXPECT_LE(256 * scale.Y, 600);
}

TEST(ImageViewZoomModel, ZoomKeepsThePointInPlace) {
    struct TCase {
        double At, OldScale, NewScale;
        int OldScroll, ScrollMax, Expected;
    };
    const TCase cases[] = {
        {100, 1, 2, 0, 1000, 100},  // shown at 100, stays at 100
        {100, 1, 2, 30, 1000, 130}, // shown at 70
        {300, 2, 1, 200, 1000, 0},  // shown at 400: would need −100
        {400, 1, 4, 0, 500, 500},   // beyond the range
        {50, 2, 3, 40, 1000, 90},
    };
    for (const TCase& c : cases) {
        const int scroll = ZoomScroll(c.At, c.OldScale, c.NewScale, c.OldScroll, c.ScrollMax);
        EXPECT_EQ(scroll, c.Expected) << c.At << " " << c.OldScale << "->" << c.NewScale;
        if (c.Expected > 0 && c.Expected < c.ScrollMax) {
            EXPECT_DOUBLE_EQ(c.At * c.NewScale - scroll, c.At * c.OldScale - c.OldScroll);
        }
    }
    EXPECT_EQ(ScrollMax(1200, 800), 400);
    EXPECT_EQ(ScrollMax(500, 800), 0);
}

TEST(ImageViewSelectionFrame, HitTestFlagsAndCursors) {
    const TRectD frame{100, 100, 300, 200}; // middle lines at x 200 and y 150
    struct TCase {
        double X, Y;
        int Flags;
        TFrameCursor Cursor;
    };
    const TCase cases[] = {
        {100, 20, 1, TFrameCursor::SizeWE},    {300, 20, 4, TFrameCursor::SizeWE},
        {20, 100, 2, TFrameCursor::SizeNS},    {20, 200, 8, TFrameCursor::SizeNS},
        {110, 110, 3, TFrameCursor::SizeNWSE}, {290, 190, 12, TFrameCursor::SizeNWSE},
        {290, 110, 6, TFrameCursor::SizeNESW}, {110, 190, 9, TFrameCursor::SizeNESW},
        {200, 20, 5, TFrameCursor::HSplit},    {20, 150, 10, TFrameCursor::VSplit},
        {200, 150, 15, TFrameCursor::SizeAll}, {500, 500, 0, TFrameCursor::None},
        {123.9, 20, 1, TFrameCursor::SizeWE},  {124, 20, 0, TFrameCursor::None},
        {76.1, 20, 1, TFrameCursor::SizeWE},   {200, 100, 7, TFrameCursor::None},
    };
    for (const TCase& c : cases) {
        const std::uint8_t flags = FrameHitTest(frame, c.X, c.Y);
        EXPECT_EQ(int(flags), c.Flags) << c.X << "," << c.Y;
        EXPECT_EQ(FrameCursor(flags), c.Cursor) << c.X << "," << c.Y;
    }
    for (const int none : {0, 7, 11, 13, 14}) EXPECT_EQ(FrameCursor(std::uint8_t(none)), TFrameCursor::None);
}

TEST(ImageViewSelectionFrame, DragMovesGrabbedEdgesAndKeepsTenPixels) {
    const TRectD frame{100, 100, 300, 200};
    struct TCase {
        std::uint8_t Flags;
        double Dx, Dy;
        TRectD Expected;
        int Width, Height;
    };
    const TCase cases[] = {
        {FrameLeft, 250, 0, {290, 100, 300, 200}, 10, 100},  // left past right: stops 10 before
        {FrameTop, 0, 500, {100, 190, 300, 200}, 200, 10},   // top past bottom
        {FrameLeft, -30, 40, {70, 100, 300, 200}, 230, 100}, // dy leaves the left edge alone
        {FrameRight, -250, 0, {40, 100, 50, 200}, 10, 100},  // right past left pushes the left
        {5, 30, 10, {130, 100, 330, 200}, 200, 100},         // middle line: moves sideways
        {15, -5, 7, {95, 107, 295, 207}, 200, 100},          // centre: moves the whole frame
        {12, 0.4, 0.6, {100, 100, 300.4, 200.6}, 200, 101},  // sizes rounded
    };
    for (const TCase& c : cases) {
        const TFrameDrag d = DragFrame(frame, c.Flags, c.Dx, c.Dy);
        EXPECT_DOUBLE_EQ(d.Rect.Left, c.Expected.Left) << int(c.Flags);
        EXPECT_DOUBLE_EQ(d.Rect.Top, c.Expected.Top) << int(c.Flags);
        EXPECT_DOUBLE_EQ(d.Rect.Right, c.Expected.Right) << int(c.Flags);
        EXPECT_DOUBLE_EQ(d.Rect.Bottom, c.Expected.Bottom) << int(c.Flags);
        EXPECT_EQ(d.Width, c.Width) << int(c.Flags);
        EXPECT_EQ(d.Height, c.Height) << int(c.Flags);
    }
    const TRectD centred = CentredFrame({0, 0, 801, 600}, 200, 100);
    EXPECT_EQ(centred.Left, 300);
    EXPECT_EQ(centred.Top, 250);
    EXPECT_EQ(centred.Right, 500);
    EXPECT_EQ(centred.Bottom, 350);
}

TEST(ImageViewMouseAndTimer, PressModesHoldAndFade) {
    EXPECT_EQ(PressDragMode(LeftButton), DragModePan);
    EXPECT_EQ(PressDragMode(LeftButton | ShiftKey), DragModeHold);
    EXPECT_EQ(PressDragMode(LeftButton | ShiftKey | CtrlKey), DragModeHold);
    EXPECT_EQ(PressDragMode(LeftButton | CtrlKey), DragModeNone);
    EXPECT_EQ(PressDragMode(LeftButton | AltKey), DragModeNone);
    EXPECT_EQ(PressDragMode(LeftButton | RightButton), DragModeNone);
    EXPECT_EQ(PressDragMode(LeftButton | DoubleClick), DragModeNone);

    EXPECT_FALSE(HoldDue(1000, 1499));
    EXPECT_TRUE(HoldDue(1000, 1500));
    EXPECT_TRUE(HoldDue(1000, 1600));
    EXPECT_FALSE(HoldDue(0, 100000));

    int fade = 255;
    for (int tick = 0; tick < 12; ++tick) fade = CrossFadeStep(fade);
    EXPECT_EQ(fade, 15);
    EXPECT_EQ(CrossFadeStep(fade), 0);
    EXPECT_EQ(CrossFadeStep(0), 0);
}

TEST(ImageViewAutoScroll, GlidesAThirdOfTheWayPerStep) {
    const int expected[] = {34, 23, 15, 10, 7, 4, 3, 2, 1, 1};
    int pending = 100;
    int position = 500;
    for (const int step : expected) {
        const TScrollStep s = AutoScrollStep(pending, position, 1000);
        EXPECT_EQ(position - s.Position, step);
        EXPECT_EQ(pending - s.Pending, step);
        position = s.Position;
        pending = s.Pending;
    }
    EXPECT_EQ(pending, 0);
    EXPECT_EQ(position, 400);

    const TScrollStep back = AutoScrollStep(-100, 500, 1000);
    EXPECT_EQ(back.Position, 534);
    EXPECT_EQ(back.Pending, -66);
    // The range stops the view; the pending distance still shrinks by the step.
    const TScrollStep edge = AutoScrollStep(100, 20, 1000);
    EXPECT_EQ(edge.Position, 0);
    EXPECT_EQ(edge.Pending, 66);
    EXPECT_EQ(AutoScrollStep(-100, 990, 1000).Position, 1000);
}

TEST(ImageViewAutoScroll, PendingDistanceKeepsTheMarginFree) {
    // View 400 wide with 25 % margin: the point must lie in 100..300 of the view.
    EXPECT_EQ(PendingScroll(50, 0, 400, 25), 50);
    EXPECT_EQ(PendingScroll(350, 0, 400, 25), -50);
    EXPECT_EQ(PendingScroll(200, 0, 400, 25), 0);
    EXPECT_EQ(PendingScroll(300, 0, 400, 25), 0);
    EXPECT_EQ(PendingScroll(650, 500, 400, 25), 0);
    EXPECT_EQ(PendingScroll(10, 0, 400, 0), 0);

    // The point 100 pixels left of the free area: computed afresh each step, the view moves
    // 34, 23, 15 … pixels.
    int position = 200;
    const int point = 200;
    const int expected[] = {34, 23, 15, 10};
    for (const int step : expected) {
        const TScrollStep s = AutoScrollStep(PendingScroll(point, position, 400, 25), position, 1000);
        EXPECT_EQ(position - s.Position, step);
        position = s.Position;
    }
}

// True when q lies on the line through p with slope s (horizontal arms) or −s (vertical arms).
void ExpectOnArm(const TPointD& p, const TPointD& q, double s, bool horizontal) {
    if (horizontal)
        EXPECT_NEAR(q.Y - p.Y, s * (q.X - p.X), 1e-9);
    else
        EXPECT_NEAR(q.X - p.X, -s * (q.Y - p.Y), 1e-9);
}

TEST(ImageViewOverlay, CrossArmsLeaveAGapAndFollowTheAngle) {
    const TPointD p{100, 80};
    const TRectD clip{0, 0, 400, 300};
    const auto straight = CrossSegments(p, clip, 0);
    const TSegment expected[] = {
        {{0, 80}, {80, 80}}, {{120, 80}, {400, 80}}, {{100, 0}, {100, 60}}, {{100, 100}, {100, 300}}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_DOUBLE_EQ(straight[i].A.X, expected[i].A.X) << i;
        EXPECT_DOUBLE_EQ(straight[i].A.Y, expected[i].A.Y) << i;
        EXPECT_DOUBLE_EQ(straight[i].B.X, expected[i].B.X) << i;
        EXPECT_DOUBLE_EQ(straight[i].B.Y, expected[i].B.Y) << i;
    }

    const auto sheared = CrossSegments(p, clip, 30);
    const double s = 0.5;
    for (int i = 0; i < 4; ++i) {
        ExpectOnArm(p, sheared[i].A, s, i < 2);
        ExpectOnArm(p, sheared[i].B, s, i < 2);
    }
    EXPECT_NEAR(sheared[0].A.X, clip.Left, 1e-9);
    EXPECT_NEAR(sheared[0].A.Y, 30, 1e-9);
    EXPECT_NEAR(sheared[0].B.X, 80, 1e-9);
    EXPECT_NEAR(sheared[1].B.X, clip.Right, 1e-9);
    EXPECT_NEAR(sheared[2].A.Y, clip.Top, 1e-9);
    EXPECT_NEAR(sheared[2].B.Y, 60, 1e-9);
    EXPECT_NEAR(sheared[3].B.Y, clip.Bottom, 1e-9);
}

TEST(ImageViewOverlay, AngleMarkerPointsFromItsTip) {
    EXPECT_TRUE(MarkerSegments({100, 100}, -1, 800, 400).empty());
    const double five = 5 * std::numbers::pi / 180;
    const auto up = MarkerSegments({100, 100}, 0, 800, 400);
    ASSERT_EQ(up.size(), 2u);
    EXPECT_DOUBLE_EQ(up[0].A.X, 100);
    EXPECT_DOUBLE_EQ(up[0].A.Y, -100);
    EXPECT_DOUBLE_EQ(up[0].B.X, 100 - std::sin(five) * 200);
    EXPECT_DOUBLE_EQ(up[0].B.Y, 100 - std::cos(five) * 100);
    EXPECT_DOUBLE_EQ(up[1].B.X, 100 + std::sin(five) * 200);
    const auto right = MarkerSegments({100, 100}, 90, 800, 400);
    EXPECT_DOUBLE_EQ(right[1].A.X, 500);
    EXPECT_NEAR(right[1].A.Y, 100, 1e-9);
}

TEST(ImageViewOverlay, PenAlphasLegendPlacesAndTexts) {
    struct TCase {
        double Grid;
        int Fade;
        bool Permanent;
        int Shadow, Light;
    };
    const TCase cases[] = {
        {0.25, 255, false, 63, 63},  {0.25, 10, false, 63, 10}, {0.25, 10, true, 63, 63},
        {1.0, 100, false, 255, 100}, {1.0, 0, true, 255, 255},  {0, 255, true, 0, 0},
    };
    for (const TCase& c : cases) {
        const TCrossAlphas a = CrossAlphas(c.Grid, c.Fade, c.Permanent);
        EXPECT_EQ(a.Shadow, c.Shadow);
        EXPECT_EQ(a.Light, c.Light);
    }

    EXPECT_DOUBLE_EQ(LegendLineOrigin(0, 0).X, 5);
    EXPECT_DOUBLE_EQ(LegendLineOrigin(0, 0).Y, 5);
    EXPECT_DOUBLE_EQ(LegendLineOrigin(1, 2).X, 4);
    EXPECT_DOUBLE_EQ(LegendLineOrigin(1, 2).Y, 44);

    EXPECT_EQ(LegendLines("a\r\nb\nc\rd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(LegendLines("one\n"), std::vector<std::string>{"one"});
    EXPECT_EQ(LegendLines("\nx"), (std::vector<std::string>{"", "x"}));
    EXPECT_TRUE(LegendLines("").empty());
    EXPECT_EQ(FrameSizeText(800, 600), "800 x 600");
}

TEST(ImageViewPaint, ResamplerOfQualityPasses) {
    struct TCase {
        const char* Current;
        int Passes;
        const char* Resampler;
        const char* Status;
    };
    const TCase cases[] = {
        {"TNearestResampler", 2, "TKernelResampler", "painting with LanczosKernel resampler 2"},
        {"TKernelResampler", 1, "TKernelResampler", ""},
        {"TKernelResampler", 0, "TLinearResampler", "painting with TLinearResampler 0"},
        {"TLinearResampler", 0, "TLinearResampler", ""},
    };
    for (const TCase& c : cases) {
        const TResamplerChoice choice = ChooseResampler(c.Current, "TLinearResampler", c.Passes);
        EXPECT_EQ(choice.Resampler, c.Resampler) << c.Current << " " << c.Passes;
        EXPECT_EQ(choice.Status, c.Status) << c.Current << " " << c.Passes;
    }
}

TEST(ImageViewExport, FileKindsAndCopiedRectangle) {
    EXPECT_EQ(ViewFileKind("/tmp/a.bmp"), TViewFileKind::Bmp);
    EXPECT_EQ(ViewFileKind("A.BMP"), TViewFileKind::Bmp);
    EXPECT_EQ(ViewFileKind("x.Jpg"), TViewFileKind::Jpeg);
    EXPECT_EQ(ViewFileKind("x.png"), TViewFileKind::None);
    EXPECT_EQ(ViewFileKind("x.jpeg"), TViewFileKind::None);
    EXPECT_EQ(ViewFileKind("dir.jpg/picture"), TViewFileKind::None);
    EXPECT_EQ(ViewFileKind("jpg"), TViewFileKind::None);

    struct TCase {
        bool Shown;
        TRectD Frame, Picture;
        int Width, Height;
        TRectI Expected;
    };
    const TCase cases[] = {
        {true, {10.4, 20.6, 110.5, 220}, {0, 0, 50, 50}, 100, 200, {10, 21, 100, 200}},
        {false, {10, 10, 20, 20}, {-50, -20, 300, 400}, 200, 150, {0, 0, 200, 150}},
        {false, {}, {30, 40, 130, 90}, 200, 150, {30, 40, 130, 90}},
        {true, {-30, -5, 40, 60}, {}, 200, 150, {0, 0, 40, 60}},
        {false, {}, {250, 40, 300, 90}, 200, 150, {250, 40, 250, 90}},
    };
    for (const TCase& c : cases) {
        const TRectI r = ExportRect(c.Shown, c.Frame, c.Picture, c.Width, c.Height);
        EXPECT_EQ(r.Left, c.Expected.Left);
        EXPECT_EQ(r.Top, c.Expected.Top);
        EXPECT_EQ(r.Right, c.Expected.Right);
        EXPECT_EQ(r.Bottom, c.Expected.Bottom);
        EXPECT_GE(r.Width(), 0);
    }
}

} // namespace
} // namespace tarvicon
