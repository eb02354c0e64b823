#include "support/TestSupport.h"
#include "views/Fusions.h"

#include <algorithm>
#include <cstdlib>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace tarvicon {
namespace {

using test::ErrorOf;

using TPixels = std::vector<std::uint32_t>;

// Mode 0 byte by byte, as the blend is defined.
std::uint32_t ByteBlend(std::uint32_t b, std::uint32_t o, std::uint32_t a) {
    std::uint32_t result = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const std::uint32_t bb = (b >> shift) & 0xFF, ob = (o >> shift) & 0xFF;
        result |= ((bb * (255 - a) + ob * a) / 256) << shift;
    }
    return result;
}

// Extremes first, then arbitrary colours with arbitrary alpha bytes.
TPixels SomePixels(std::uint32_t seed, std::size_t count) {
    TPixels pixels = {0x00000000, 0xFFFFFFFF, 0xFF000000, 0x00FFFFFF, 0xFF808080, 0x7F00FF01};
    std::mt19937 random(seed);
    while (pixels.size() < count) pixels.push_back(std::uint32_t(random()));
    return pixels;
}

int MaxChannelError(std::uint32_t x, std::uint32_t y) {
    int worst = 0;
    for (int shift = 0; shift < 24; shift += 8)
        worst = std::max(worst, std::abs(int((x >> shift) & 0xFF) - int((y >> shift) & 0xFF)));
    return worst;
}

TEST(OverlayMasterAlpha, FollowsTheCosineCurveOfAlphaAndPhase) {
    const struct {
        int Alpha, Phase, Weight;
    } cases[] = {
        {0, 0, 0},     {64, 0, 37},   {128, 0, 128},
        {255, 0, 255}, {255, 180, 0}, // a full circle: the sweep has faded the overlay out again
        {0, 90, 127},  {0, 180, 255}, {0, 360, 0},
        {300, 0, 255}, {-20, 0, 0}, // the alpha is limited to 0..255 before the curve
    };
    for (const auto& c : cases)
        EXPECT_EQ(OverlayMasterAlpha(c.Alpha, c.Phase), c.Weight) << c.Alpha << " " << c.Phase;
}

TEST(BlendPictures, LinearBlendOfEveryByteAlphaIncluded) {
    const TPixels overlay = SomePixels(1, 200);
    for (const int a : {0, 1, 37, 128, 254, 255}) {
        TPixels base = SomePixels(2, 200);
        const TPixels before = base;
        BlendPictures(base, overlay, kFusionLinear, a);
        for (std::size_t i = 0; i < base.size(); ++i)
            ASSERT_EQ(base[i], ByteBlend(before[i], overlay[i], std::uint32_t(a))) << "a " << a << " i " << i;
    }

    TPixels base = {0xFFFFFFFF, 0x00000000, 0xFFFFFFFF};
    BlendPictures(base, TPixels{0x12345678, 0x9ABCDEF0, 0xFFFFFFFF}, kFusionLinear, 0);
    EXPECT_EQ(base, (TPixels{0xFEFEFEFE, 0, 0xFEFEFEFE})); // weight 0 still divides by 256
    base = {0x00000000, 0xFFFFFFFF, 0x80808080};
    BlendPictures(base, TPixels{0xFFFFFFFF, 0x00000000, 0x80808080}, kFusionLinear, 255);
    EXPECT_EQ(base, (TPixels{0xFEFEFEFE, 0, 0x7F7F7F7F})); // o × 255 div 256: the base is gone

    // Weights outside 0..255 are limited.
    base = {0xFF204060};
    BlendPictures(base, TPixels{0x00C0A080}, kFusionLinear, 999);
    EXPECT_EQ(base[0], ByteBlend(0xFF204060, 0x00C0A080, 255));
    base = {0xFF204060};
    BlendPictures(base, TPixels{0x00C0A080}, kFusionLinear, -5);
    EXPECT_EQ(base[0], ByteBlend(0xFF204060, 0x00C0A080, 0));
}

TEST(HueSaturationLightness, KnownColoursAndTheirWayBack) {
    const struct {
        std::uint32_t Color;
        THsl Hsl;
    } cases[] = {
        {0xFFFF0000, {0, 255, 127}},  {0x0000FF00, {85, 255, 127}}, {0x000000FF, {171, 255, 127}},
        {0x00FFFF00, {43, 255, 127}}, {0x00808080, {0, 0, 128}},    {0x00FFFFFF, {0, 0, 255}},
        {0x00000000, {0, 0, 0}},      {0x00800000, {0, 255, 64}},   {0x00FF8080, {0, 255, 191}},
        {0x00C04040, {0, 128, 128}},
    };
    for (const auto& c : cases) {
        const THsl hsl = RgbToHsl(c.Color);
        EXPECT_EQ(int(hsl.H), int(c.Hsl.H)) << std::hex << c.Color;
        EXPECT_EQ(int(hsl.S), int(c.Hsl.S)) << std::hex << c.Color;
        EXPECT_EQ(int(hsl.L), int(c.Hsl.L)) << std::hex << c.Color;
        const std::uint32_t back = HslToRgb(hsl);
        EXPECT_EQ(back >> 24, 0u);
        // Greys come back exactly; colours within the steps of an 8-bit hue and lightness.
        EXPECT_LE(MaxChannelError(back, c.Color), c.Hsl.S == 0 ? 0 : 3) << std::hex << c.Color << " " << back;
    }

    // Every sector of the hue circle comes back to its own colour.
    for (std::uint32_t r = 0; r < 256; r += 15)
        for (std::uint32_t g = 0; g < 256; g += 15)
            for (std::uint32_t b = 0; b < 256; b += 15) {
                const std::uint32_t color = r << 16 | g << 8 | b;
                ASSERT_LE(MaxChannelError(HslToRgb(RgbToHsl(color)), color), 4) << std::hex << color;
            }
}

TEST(BlendPictures, ColourFusionTintsTheBaseWithTheOverlaysHue) {
    TPixels base = {0xFF808080};
    BlendPictures(base, TPixels{0xFFFF0000}, kFusionColour, 255);
    const THsl fused = RgbToHsl(base[0]);
    EXPECT_EQ(base[0] >> 24, 0u); // the fused colour has alpha 0, weighted almost fully
    EXPECT_GT((base[0] >> 16) & 0xFF, 250u);
    EXPECT_EQ(int(fused.H), 0);
    EXPECT_GT(int(fused.S), 250);
    EXPECT_NEAR(int(fused.L), 128, 1); // the base's lightness, weighted 255/256

    // In general: the colour of the overlay's hue and saturation and the base's lightness,
    // blended linearly.
    const TPixels overlay = SomePixels(3, 300);
    for (const int a : {0, 100, 255}) {
        base = SomePixels(4, 300);
        const TPixels before = base;
        BlendPictures(base, overlay, kFusionColour, a);
        for (std::size_t i = 0; i < base.size(); ++i) {
            const THsl tint = RgbToHsl(overlay[i]);
            const std::uint32_t fusedColour = HslToRgb({tint.H, tint.S, RgbToHsl(before[i]).L});
            ASSERT_EQ(base[i], ByteBlend(before[i], fusedColour, std::uint32_t(a)))
                << "a " << a << " i " << i;
        }
    }
}

TFusionSource TestLibrary() {
    return {TARVICON_TEST_LUMAFUSE};
}

bool LibraryLoaded(const char* path) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
}

TEST(BlendPictures, ExternalRoutineFusesEveryPixelAndIsReleasedAfterwards) {
    const TPixels overlay = SomePixels(5, 1000);
    for (const auto& [a, passed] : {std::pair{77, 77u}, std::pair{0, 0u}, std::pair{300, 255u}}) {
        TPixels base = SomePixels(6, 1000);
        const TPixels before = base;
        BlendPictures(base, overlay, kFusionExternal, a, TestLibrary());
        for (std::size_t i = 0; i < base.size(); ++i)
            ASSERT_EQ(base[i], before[i] ^ overlay[i] ^ (passed * 0x01010101u)) << "a " << a << " i " << i;
    }
    EXPECT_FALSE(LibraryLoaded(TARVICON_TEST_LUMAFUSE));
}

// A large uniform picture of 0xFF111111 after the external fusion with one of 0xFF222222.
TPixels Fused(const TFusionSource& source, int a) {
    TPixels base(1 << 18, 0xFF111111);
    BlendPictures(base, TPixels(base.size(), 0xFF222222), kFusionExternal, a, source);
    return base;
}

std::size_t OverlayShown(const TPixels& pixels) {
    return std::size_t(std::count(pixels.begin(), pixels.end(), 0xFF222222u));
}

TEST(BlendPictures, DitherStandsInForAMissingRoutine) {
    const TFusionSource missing{"/nonexistent/liblumafuse.so"};
    const std::size_t n = 1 << 18;
    EXPECT_EQ(OverlayShown(Fused(missing, 0)), n); // no draw is below 0
    const std::size_t fewest = OverlayShown(Fused(missing, 255));
    EXPECT_GT(fewest, n / 512); // only draws of 255 show the overlay: about one in 256
    EXPECT_LT(fewest, n / 128);
    const TPixels halves = Fused(missing, 128);
    const std::size_t half = OverlayShown(halves);
    EXPECT_GT(half, n * 45 / 100);
    EXPECT_LT(half, n * 55 / 100);
    EXPECT_EQ(std::size_t(std::count(halves.begin(), halves.end(), 0xFF111111u)) + half, n); // b or o

    // A library without the export dithers too; the same seed draws the same pattern.
    const TPixels withoutLibrary = Fused(missing, 100);
    EXPECT_EQ(Fused({"libm.so.6"}, 100), withoutLibrary);
    EXPECT_NE(Fused({"/nonexistent/liblumafuse.so", 12345}, 100), withoutLibrary);
}

TEST(BlendPictures, RefusesBuffersOfDifferentOrNoSizeAndLeavesTheBase) {
    for (const int mode : {kFusionLinear, kFusionColour, kFusionExternal, 7}) {
        TPixels base = {1, 2, 3};
        EXPECT_EQ(ErrorOf([&] { BlendPictures(base, TPixels{4, 5}, mode, 128); }), "Invalid bitmap size");
        EXPECT_EQ(ErrorOf([&] {
                      BlendPictures(base, TPixels{4, 5, 6, 7}, mode, 128);
                  }),
                  "Invalid bitmap size");
        EXPECT_EQ(base, (TPixels{1, 2, 3}));
        TPixels empty;
        EXPECT_EQ(ErrorOf([&] { BlendPictures(empty, TPixels{}, mode, 128); }), "Invalid bitmap size");
    }

    TPixels base = {0xFF102030, 0x00405060};
    for (const int mode : {-1, 3, 99}) {
        BlendPictures(base, TPixels{0xFFFFFFFF, 0xFFFFFFFF}, mode, 200);
        EXPECT_EQ(base, (TPixels{0xFF102030, 0x00405060})) << mode;
    }
}

} // namespace
} // namespace tarvicon
