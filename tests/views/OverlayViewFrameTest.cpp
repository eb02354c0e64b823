#include "views/Fusions.h"
#include "views/OverlayViewFrames.h"

#include <gtest/gtest.h>

namespace tarvicon {
namespace {

// Colours that name their pixel, alpha bytes included (0 among them: a colour table may carry any).
std::uint32_t MainColour(int x, int y) {
    return std::uint32_t((x * 11) & 0xFF) << 16 | std::uint32_t((y * 13) & 0xFF) << 8 |
           std::uint32_t(0x40 + x) | std::uint32_t(x % 2 ? 0xFF : 0x30) << 24;
}

std::uint32_t OverlayColour(int x, int y) {
    return std::uint32_t(200 - x * 9) << 16 | std::uint32_t(y * 17) << 8 | std::uint32_t(90 + x * y) |
           std::uint32_t(y % 3 == 0 ? 0x00 : 0xC8) << 24;
}

TBitmap32 Painted(int width, int height, std::uint32_t (*colour)(int, int)) {
    TBitmap32 picture(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.Bits()[std::size_t(y) * std::size_t(width) + std::size_t(x)] = colour(x, y);
    return picture;
}

// An overlay view whose build shows a known picture and whose overlay is a known one, placed
// by the transformation at an offset.
class TKnownOverlayView : public TOverlayViewFrame {
public:
    TBitmap32 Main = Painted(24, 16, MainColour);
    TBitmap32 Overlay = Painted(12, 10, OverlayColour);
    bool HasOverlay = true;
    // The overlay lands at Offset, stretched by Stretch across.
    QPointF Offset{5, 3};
    double Stretch = 1;

    void Build() override {
        Picture() = Main;
        TOverlayViewFrame::Build();
    }

protected:
    bool CreateOverlayBitmap(TOverlayPicture& overlay) override {
        overlay.Bitmap = Overlay;
        return HasOverlay;
    }
    void UpdateOverlayTransform() override {
        const double w = Overlay.Width() * Stretch, h = Overlay.Height();
        OverlayTransform().BeginUpdate();
        OverlayTransform().SetSourceRect(QRectF(0, 0, Overlay.Width(), Overlay.Height()));
        OverlayTransform().SetCorners(
            {Offset, Offset + QPointF(w, 0), Offset + QPointF(w, h), Offset + QPointF(0, h)});
        OverlayTransform().EndUpdate();
    }
};

std::uint32_t Linear(std::uint32_t b, std::uint32_t o, int a) {
    std::uint32_t result = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const std::uint32_t bb = (b >> shift) & 0xFF, ob = (o >> shift) & 0xFF;
        result |= ((bb * std::uint32_t(255 - a) + ob * std::uint32_t(a)) / 256) << shift;
    }
    return result;
}

// Hue and saturation of the overlay with the lightness of the base, then blended linearly.
std::uint32_t Colour(std::uint32_t b, std::uint32_t o, int a) {
    const THsl tint = RgbToHsl(o);
    return Linear(b, HslToRgb({tint.H, tint.S, RgbToHsl(b).L}), a);
}

TEST(OverlayViewFrame, FusesTheTransformedOverlayIntoThePicture) {
    struct TCase {
        int Mode;
        int Alpha;
        int Weight;  // the S-curve's
        int Stretch; // 2: drawn through the transformation proper, not copied as a block
    };
    for (const TCase c : {TCase{kFusionLinear, 255, 255, 1}, TCase{kFusionLinear, 128, 128, 1},
                          TCase{kFusionColour, 255, 255, 1}, TCase{kFusionColour, 64, 37, 1},
                          TCase{kFusionLinear, 255, 255, 2}}) {
        TKnownOverlayView view;
        view.Stretch = c.Stretch;
        view.SetFusionMode(c.Mode);
        view.SetOverlayAlpha(c.Alpha);
        ASSERT_EQ(view.MasterAlpha(), c.Weight);
        view.Build();
        int wrong = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 24; ++x) {
                // Where the overlay does not reach, the layer is transparent black.
                const bool covered = x >= 5 && x < 5 + 12 * c.Stretch && y >= 3 && y < 13;
                const std::uint32_t o = covered ? OverlayColour((x - 5) / c.Stretch, y - 3) : 0;
                const std::uint32_t b = MainColour(x, y);
                const std::uint32_t expected =
                    c.Mode == kFusionLinear ? Linear(b, o, c.Weight) : Colour(b, o, c.Weight);
                if (view.Picture().Pixel(x, y) != expected && ++wrong <= 3)
                    ADD_FAILURE() << "mode " << c.Mode << " alpha " << c.Alpha << " at " << x << "," << y
                                  << ": " << std::hex << view.Picture().Pixel(x, y) << " not " << expected;
            }
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(view.OverlayLayer().Pixel(5, 3), OverlayColour(0, 0)); // alpha 0 kept with its colour
    }
}

TEST(OverlayViewFrame, WithoutOverlayOrWhileUpdatingThePictureStays) {
    TKnownOverlayView view;
    view.SetOverlayAlpha(255);
    view.HasOverlay = false;
    view.Build();
    EXPECT_EQ(view.Picture().Pixel(6, 4), MainColour(6, 4));
    view.HasOverlay = true;
    view.BeginUpdate();
    view.Build();
    EXPECT_EQ(view.Picture().Pixel(6, 4), MainColour(6, 4));
}

TEST(OverlayViewFrame, ExtraRotationTurnsTheFinishedPictureAboutThePoint) {
    TKnownOverlayView view;
    view.HasOverlay = false;
    view.SetExtraRotation(true, 90, QPointF(12, 8));
    view.Build();
    // A quarter turn counter-clockwise on the screen about (12, 8): pixel (x, y) shows the one
    // at (19 − y, x − 4); where the turned picture does not reach, the picture stays.
    int wrong = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 24; ++x) {
            const int sx = 19 - y, sy = x - 4;
            const bool reached = sx >= 0 && sx < 24 && sy >= 0 && sy < 16;
            const std::uint32_t expected = reached ? MainColour(sx, sy) : MainColour(x, y);
            if (view.Picture().Pixel(x, y) != expected && ++wrong <= 3)
                ADD_FAILURE() << x << "," << y << ": " << std::hex << view.Picture().Pixel(x, y) << " not "
                              << expected;
        }
    EXPECT_EQ(wrong, 0);
    view.SetExtraRotation(false, 90, QPointF(12, 8));
    view.Build();
    EXPECT_EQ(view.Picture().Pixel(0, 0), MainColour(0, 0));
}

} // namespace
} // namespace tarvicon
