#include "dicom/ColourSpaces.h"

#include "support/TestSupport.h"
#include "util/Errors.h"

#include <array>
#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace tarvicon {
namespace {

using TPixel = std::array<int, 3>;

// The YBR_FULL equations in double precision, rounded and clamped.
TPixel ExactRgb(int y, int cb, int cr) {
    const auto round = [](double v) { return std::clamp(int(std::floor(v + 0.5)), 0, 255); };
    return {round(y + 1.402 * (cr - 128)), round(y - 0.344136 * (cb - 128) - 0.714136 * (cr - 128)),
            round(y + 1.772 * (cb - 128))};
}

TPixel Converted(int y, int cb, int cr) {
    std::array<std::uint8_t, 3> pixel = {std::uint8_t(y), std::uint8_t(cb), std::uint8_t(cr)};
    YbrFullToRgb(pixel);
    return {pixel[0], pixel[1], pixel[2]};
}

std::span<const std::uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// Greys, the primaries' corners and clamping at both ends.
TEST(ColourSpaces, YbrFullPixels) {
    const struct {
        TPixel Ybr, Rgb;
    } cases[] = {
        {{0, 128, 128}, {0, 0, 0}},         {{255, 128, 128}, {255, 255, 255}},
        {{128, 128, 128}, {128, 128, 128}}, {{76, 85, 255}, {254, 0, 0}},
        {{150, 44, 21}, {0, 255, 1}},       {{29, 255, 107}, {0, 0, 254}},
        {{255, 255, 255}, {255, 121, 255}}, {{0, 0, 0}, {0, 135, 0}},
    };
    for (const auto& c : cases) EXPECT_EQ(Converted(c.Ybr[0], c.Ybr[1], c.Ybr[2]), c.Rgb);
}

// Every chroma pair at lumas from black to white: R and B exact, G within one of the equations
// and seldom off (its two fixed-point shares may fall on the other side of a half).
TEST(ColourSpaces, YbrFullAgainstTheEquations) {
    int greensOff = 0;
    for (const int y : {0, 1, 37, 128, 200, 254, 255}) {
        std::vector<std::uint8_t> pixels;
        for (int cb = 0; cb < 256; ++cb)
            for (int cr = 0; cr < 256; ++cr)
                pixels.insert(pixels.end(), {std::uint8_t(y), std::uint8_t(cb), std::uint8_t(cr)});
        YbrFullToRgb(pixels);
        for (int cb = 0, i = 0; cb < 256; ++cb)
            for (int cr = 0; cr < 256; ++cr, i += 3) {
                const TPixel exact = ExactRgb(y, cb, cr);
                ASSERT_EQ(pixels[i], exact[0]) << y << " " << cb << " " << cr;
                ASSERT_LE(std::abs(pixels[i + 1] - exact[1]), 1) << y << " " << cb << " " << cr;
                ASSERT_EQ(pixels[i + 2], exact[2]) << y << " " << cb << " " << cr;
                greensOff += pixels[i + 1] != exact[1];
            }
    }
    EXPECT_LT(greensOff, 7 * 65536 / 10000);
}

// Rows of odd width: three pixels take two groups, the second with an unused Y.
TEST(ColourSpaces, Ybr422RowsOfOddWidth) {
    ASSERT_EQ(Ybr422FrameBytes(3, 2), 16u);
    const std::uint8_t packed[16] = {
        76, 150, 85,  255, 29,  0xEE, 255, 107, // row 0: pair, then one pixel and its unused Y
        0,  255, 128, 128, 150, 0xEE, 44,  21,  // row 1
    };
    std::array<std::uint8_t, 18> rgb{};
    Ybr422ToRgb(packed, 3, 2, rgb);
    std::vector<TPixel> pixels;
    for (std::size_t i = 0; i < rgb.size(); i += 3) pixels.push_back({rgb[i], rgb[i + 1], rgb[i + 2]});
    const std::vector<TPixel> expected = {ExactRgb(76, 85, 255),   ExactRgb(150, 85, 255),
                                          ExactRgb(29, 255, 107),  ExactRgb(0, 128, 128),
                                          ExactRgb(255, 128, 128), ExactRgb(150, 44, 21)};
    EXPECT_EQ(pixels, expected);

    std::array<std::uint8_t, 18> tooSmall{};
    EXPECT_THROW(Ybr422ToRgb(std::span(packed).first(12), 3, 2, rgb), WException);
    EXPECT_THROW(Ybr422ToRgb(packed, 3, 2, std::span(tooSmall).first(15)), WException);
}

TEST(ColourSpaces, PlanarToInterleaved) {
    const std::vector<std::uint8_t> planar8 = {1, 2, 3, 4, 11, 12, 13, 14, 21, 22, 23, 24};
    std::vector<std::uint8_t> out(12);
    PlanarToInterleaved(planar8, 1, out);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{1, 11, 21, 2, 12, 22, 3, 13, 23, 4, 14, 24}));

    // Two 16-bit pixels: each sample's two bytes stay together and in their order.
    std::vector<std::uint8_t> frame16 = {0x01, 0xA1, 0x02, 0xA2, 0x11, 0xB1,
                                         0x12, 0xB2, 0x21, 0xC1, 0x22, 0xC2};
    PlanarToInterleaved(frame16, 2);
    EXPECT_EQ(frame16, (std::vector<std::uint8_t>{0x01, 0xA1, 0x11, 0xB1, 0x21, 0xC1, 0x02, 0xA2, 0x12, 0xB2,
                                                  0x22, 0xC2}));

    std::vector<std::uint8_t> odd(10);
    EXPECT_THROW(PlanarToInterleaved(odd, 2), WException);
    EXPECT_THROW(PlanarToInterleaved(planar8, 1, std::span(out).first(9)), WException);
}

// pydicom's reading of a real YBR_FULL_422 file (its chroma spread over both pixels of a pair, then
// its own YBR_FULL converter) against ours, from the native bytes and from the spread pixels.
TEST(ColourSpaces, AgreesWithPydicomOnARealFile) {
    const std::filesystem::path folder = test::Fixtures() / "codecs" / "rle";
    std::ifstream manifest(folder / "colour.tsv");
    std::string line;
    std::getline(manifest, line);
    ASSERT_TRUE(std::getline(manifest, line)) << "fixtures missing in " << folder;
    std::istringstream fields(line);
    std::string name, ybr422, ybr, rgb;
    int columns = 0, rows = 0;
    fields >> name >> columns >> rows >> ybr422 >> ybr >> rgb;
    const std::string packed = test::ReadFile(folder / ybr422), expected = test::ReadFile(folder / rgb);
    std::string spread = test::ReadFile(folder / ybr);
    ASSERT_EQ(expected.size(), std::size_t(columns) * std::size_t(rows) * 3);

    std::vector<std::uint8_t> fromPacked(expected.size());
    Ybr422ToRgb(Bytes(packed), columns, rows, fromPacked);
    std::span<std::uint8_t> fromSpread(reinterpret_cast<std::uint8_t*>(spread.data()), spread.size());
    YbrFullToRgb(fromSpread);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const int reference = std::uint8_t(expected[i]);
        ASSERT_LE(std::abs(fromPacked[i] - reference), 1) << "byte " << i;
        ASSERT_LE(std::abs(fromSpread[i] - reference), 1) << "byte " << i;
    }
}

} // namespace
} // namespace tarvicon
