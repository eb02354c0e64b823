#include "support/TestSupport.h"
#include "views/Resamplers.h"

#include <QImage>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <string>

namespace tarvicon {
namespace {

constexpr std::uint32_t Untouched = 0x12345678;

// Every pixel a colour of its own; alpha half, so that a drawing that keeps alpha shows.
TBitmap32 Numbered(int width, int height) {
    TBitmap32 picture(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.Bits()[y * width + x] = 0x80000000u | std::uint32_t(x * 16 + 3) << 16 |
                                            std::uint32_t(y * 16 + 5) << 8 | std::uint32_t(x * 5 + y * 11);
    return picture;
}

QImage Target(int width, int height) {
    QImage target(width, height, QImage::Format_ARGB32);
    target.fill(Untouched);
    return target;
}

std::uint32_t Opaque(std::uint32_t colour) {
    return 0xFF000000u | colour;
}

// The target as the nearest source pixel of each covered pixel centre gives it.
QImage ExpectedNearest(const TBitmap32& picture, QSize size, const QRect& clip, const TPlacement& p) {
    QImage expected = Target(size.width(), size.height());
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const double sx = (x + 0.5 - p.OffsetX) / p.ScaleX;
            const double sy = (y + 0.5 - p.OffsetY) / p.ScaleY;
            if (!clip.contains(x, y) || sx < 0 || sy < 0 || sx >= picture.Width() || sy >= picture.Height())
                continue;
            expected.setPixel(x, y, Opaque(picture.Pixel(int(sx), int(sy))));
        }
    return expected;
}

// How many pixels differ.
int Differences(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return -1;
    int count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) count += a.pixel(x, y) != b.pixel(x, y);
    return count;
}

// Bounding box of the pixels that differ from Untouched.
QRect ChangedArea(const QImage& image) {
    QRect area;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != Untouched) area |= QRect(x, y, 1, 1);
    return area;
}

TEST(Resampler, NearestTakesTheSourcePixelUnderEachPixelCentre) {
    struct Case {
        TPlacement Placement;
        QRect Clip;
    };
    const Case cases[] = {
        {{1, 1, 0, 0}, QRect(0, 0, 40, 40)},        {{1, 1, 3, 2}, QRect(0, 0, 40, 40)},
        {{2, 2, 3, 2}, QRect(0, 0, 40, 40)},        {{2, 3, 1, 0}, QRect(0, 0, 40, 40)},
        {{3, 1, 0, 4}, QRect(0, 0, 40, 40)},        {{0.5, 0.5, 0.25, 0.25}, QRect(0, 0, 40, 40)},
        {{2, 2, -5.25, -3.25}, QRect(1, 1, 10, 8)}, {{2.5, 1.5, 30.25, 35.25}, QRect(-5, -5, 100, 100)},
    };
    const TBitmap32 picture = Numbered(7, 5);
    for (const Case& c : cases) {
        const TPlacement& p = c.Placement;
        SCOPED_TRACE(testing::Message() << "scale " << p.ScaleX << " x " << p.ScaleY << ", offset "
                                        << p.OffsetX << ", " << p.OffsetY);
        QImage target = Target(40, 40);
        const QRect drawn = DrawResampled(target, c.Clip, picture, p, TResampler::Nearest);
        const QImage expected = ExpectedNearest(picture, target.size(), c.Clip, p);
        EXPECT_EQ(drawn, ChangedArea(expected));
        EXPECT_EQ(Differences(target, expected), 0);
    }
}

TEST(Resampler, InterpolatingModesAreExactAtScaleOne) {
    const TBitmap32 picture = Numbered(7, 5);
    const TPlacement placement{1, 1, 2, 3};
    for (TResampler resampler : {TResampler::Nearest, TResampler::Linear, TResampler::Draft}) {
        SCOPED_TRACE(ResamplerClassName(resampler));
        QImage target = Target(12, 10);
        EXPECT_EQ(DrawResampled(target, target.rect(), picture, placement, resampler), QRect(2, 3, 7, 5));
        EXPECT_EQ(Differences(target, ExpectedNearest(picture, target.size(), target.rect(), placement)), 0);
    }
}

TEST(Resampler, AFlatPictureStaysFlatUpToItsBorder) {
    struct Case {
        TResampler Resampler;
        double ScaleX;
        double ScaleY;
    };
    const Case cases[] = {
        {TResampler::Kernel, 2.5, 2.5}, {TResampler::Kernel, 0.4, 0.4}, {TResampler::Kernel, 3, 0.5},
        {TResampler::Draft, 0.5, 0.3},  {TResampler::Draft, 0.5, 2},    {TResampler::Draft, 1.5, 1.5},
        {TResampler::Linear, 1.7, 1.7}, {TResampler::Linear, 0.3, 0.3},
    };
    TBitmap32 picture(40, 30);
    std::fill(picture.Bits(), picture.Bits() + 40 * 30, 0x40123456u);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << ResamplerClassName(c.Resampler) << " " << c.ScaleX << " x " << c.ScaleY);
        QImage target = Target(130, 130);
        const QRect drawn =
            DrawResampled(target, target.rect(), picture, {c.ScaleX, c.ScaleY, 0.3, 0.7}, c.Resampler);
        EXPECT_EQ(drawn.size(), QSize(int(std::lround(40 * c.ScaleX)), int(std::lround(30 * c.ScaleY))));
        EXPECT_EQ(ChangedArea(target), drawn);
        int off = 0;
        for (int y = drawn.top(); y <= drawn.bottom(); ++y)
            for (int x = drawn.left(); x <= drawn.right(); ++x) off += target.pixel(x, y) != 0xFF123456u;
        EXPECT_EQ(off, 0);
    }
}

TEST(Resampler, ShrinkingModesAverageFineStripes) {
    // Columns alternate 0 and 200: halved in width, an averaging mode gives about 100 everywhere.
    // The quarter pixel offset puts each target pixel's centre on a source pixel's centre, where
    // the nearest pixel and bilinear interpolation give 0 or 200.
    TBitmap32 picture(64, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 64; ++x) picture.Bits()[y * 64 + x] = x % 2 ? 0xFFC8C8C8u : 0xFF000000u;
    for (TResampler resampler : {TResampler::Draft, TResampler::Kernel}) {
        SCOPED_TRACE(ResamplerClassName(resampler));
        QImage target = Target(32, 8);
        ASSERT_EQ(DrawResampled(target, target.rect(), picture, {0.5, 1, 0.25, 0}, resampler), target.rect());
        // Away from the border, where the repeated edge column weighs in.
        for (int y = 0; y < 8; ++y)
            for (int x = 3; x < 29; ++x) EXPECT_NEAR(qGreen(target.pixel(x, y)), 100, 8) << x << ", " << y;
    }
}

TEST(Resampler, AQImagePictureDrawsLikeItsBitmap) {
    const TBitmap32 picture = Numbered(7, 5);
    const QImage argb(reinterpret_cast<const uchar*>(picture.Bits()), 7, 5, 7 * 4, QImage::Format_ARGB32);
    const TPlacement placement{2, 3, 1, 2};
    QImage expected = Target(20, 20);
    DrawResampled(expected, expected.rect(), picture, placement, TResampler::Nearest);
    for (const QImage& source : {argb, argb.convertToFormat(QImage::Format_RGB888)}) {
        SCOPED_TRACE(source.format());
        QImage target = Target(20, 20);
        DrawResampled(target, target.rect(), source, placement, TResampler::Nearest);
        EXPECT_EQ(Differences(target, expected), 0);
    }
}

TEST(Resampler, ClassNames) {
    for (const char* name : {"TNearestResampler", "TLinearResampler", "TDraftResampler", "TKernelResampler"})
        EXPECT_EQ(ResamplerClassName(ResamplerByName(name)), name);
    EXPECT_EQ(ResamplerByName("TKernelResampler"), TResampler::Kernel);
    EXPECT_EQ(test::ErrorOf([] { ResamplerByName("TCubicResampler"); }),
              "Cannot find resampler TCubicResampler");
    EXPECT_EQ(test::ErrorOf([] { ResamplerByName("tnearestresampler"); }),
              "Cannot find resampler tnearestresampler");
}

TEST(Resampler, RefusesWhatPixmanCannotDrawAndLeavesTheTargetAlone) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    struct Case {
        TPlacement Placement;
        QImage::Format Format;
        int PictureWidth;
        const char* Message;
    };
    const Case cases[] = {
        {{0, 1, 0, 0}, QImage::Format_ARGB32, 4, "Invalid resampling scale"},
        {{1, -2, 0, 0}, QImage::Format_ARGB32, 4, "Invalid resampling scale"},
        {{nan, 1, 0, 0}, QImage::Format_ARGB32, 4, "Invalid resampling scale"},
        {{1e5, 1, 0, 0}, QImage::Format_ARGB32, 4, "Invalid resampling scale"},
        {{1, 1e-5, 0, 0}, QImage::Format_ARGB32, 4, "Invalid resampling scale"},
        {{1, 1, infinity, 0}, QImage::Format_ARGB32, 4, "Invalid resampling offset"},
        {{1, 1, 0, nan}, QImage::Format_ARGB32, 4, "Invalid resampling offset"},
        {{1, 1, 0, 0}, QImage::Format_RGB888, 4, "Cannot resample into this picture format"},
        {{1, 1, 0, 0}, QImage::Format_ARGB32, 40000, "Picture too large to resample"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Message);
        const TBitmap32 picture(c.PictureWidth, 1);
        QImage target = Target(8, 8).convertToFormat(c.Format);
        const QImage before = target;
        EXPECT_EQ(test::ErrorOf([&] {
                      DrawResampled(target, target.rect(), picture, c.Placement, TResampler::Linear);
                  }),
                  c.Message);
        EXPECT_TRUE(target == before);
    }
}

TEST(Resampler, AnEmptyPictureOrClipDrawsNothing) {
    QImage target = Target(8, 8);
    EXPECT_TRUE(DrawResampled(target, target.rect(), TBitmap32(), {}, TResampler::Nearest).isEmpty());
    EXPECT_TRUE(DrawResampled(target, QRect(), Numbered(4, 4), {}, TResampler::Nearest).isEmpty());
    EXPECT_TRUE(
        DrawResampled(target, target.rect(), Numbered(4, 4), {1, 1, 20, 0}, TResampler::Nearest).isEmpty());
    EXPECT_TRUE(ChangedArea(target).isEmpty());
}

} // namespace
} // namespace tarvicon
