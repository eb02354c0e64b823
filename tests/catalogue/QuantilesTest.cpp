#include "catalogue/Quantiles.h"

#include "config/Schema.h"
#include "support/Cubes.h"

#include <cstring>
#include <gtest/gtest.h>
#include <limits>

namespace tarvicon {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// 1000 voxels holding 0..999 once each.
TPixelCube Ramp() {
    TPixelCube cube = test::MakeCube(10, 10, 10);
    for (std::uint16_t v = 0; v < 1000; ++v) {
        std::uint8_t* voxel = cube.Voxels() + 2 * v;
        voxel[0] = static_cast<std::uint8_t>(v & 0xFF);
        voxel[1] = static_cast<std::uint8_t>(v >> 8);
    }
    return cube;
}

// Every voxel holds value.
TPixelCube Flat(std::uint16_t value) {
    TPixelCube cube = test::MakeCube(4, 4, 4);
    for (std::uint32_t i = 0; i < 64; ++i) std::memcpy(cube.Voxels() + 2 * i, &value, 2);
    return cube;
}

TEST(Quantiles, PercentAndFactorOnARamp) {
    TPixelCube ramp = Ramp();
    const struct {
        double percent, factor;
        std::int32_t value;
    } cases[] = {
        // clang-format off
        // 50 + p/2 percent gives the value below which p percent lie: 99 -> 98 % -> 979
        {99, 100, 979},
        {75, 100, 499},
        {100, 100, 999},     // the highest value present
        {50, 100, 0},        // at or below 50: 0
        {40, 100, 0},
        {0, 100, 0},
        {100.5, 100, 65535}, // no entry reaches more than the whole
        {300, 100, 65535},
        {99, 200, 7832},     // 979 × 2³
        {99, 50, 122},       // 979 ÷ 8 = 122.375, truncated
        {99, 1000, 65535},   // capped
        {100, 1e9, 65535},
        {-5, 100, 0},        // percent counts as 0
        {kNaN, 100, 0},
        {99, -1, 0},         // factor counts as 0
        {99, kNaN, 0},
        // clang-format on
    };
    for (const auto& c : cases)
        EXPECT_EQ(DoOnQuantilValue(&ramp, c.percent, c.factor), c.value)
            << c.percent << "Q, factor " << c.factor;
}

TEST(Quantiles, NoCubeOrNoSixteenBitVoxels) {
    EXPECT_EQ(DoOnQuantilValue(nullptr, 99, 100), 65535);
    EXPECT_EQ(DoOnQuantilValue(nullptr, 0, 0), 65535);
    TPixelCube bytes = test::MakeCube(4, 4, 4, 1); // no 16-bit histogram: everything reaches 0
    EXPECT_EQ(DoOnQuantilValue(&bytes, 99, 100), 0);
}

TEST(Quantiles, OneValueCube) {
    TPixelCube flat = Flat(1000);
    EXPECT_EQ(DoOnQuantilValue(&flat, 50, 100), 0);
    EXPECT_EQ(DoOnQuantilValue(&flat, 51, 100), 1000);
    EXPECT_EQ(DoOnQuantilValue(&flat, 100, 200), 8000);
    TPixelCube top = Flat(65535);
    EXPECT_EQ(DoOnQuantilValue(&top, 100, 100), 65535);
    EXPECT_EQ(DoOnQuantilValue(&top, 100, 99), 63588); // 65535 × 0.99³ = 63588.54, truncated
}

// The "Q" notation of a scaling reaches the provider as (factor, percent) and stores its answer.
TEST(Quantiles, ScalingNotationAsksTheCube) {
    TPixelCube ramp = Ramp();
    const auto root = CreateParameterTree();
    auto* scaling = dynamic_cast<TScalingNode*>(root->FindNode("detail/colormapping/level/scaling"));
    ASSERT_NE(scaling, nullptr);
    scaling->SetOnQuantilValue([&ramp](TScalingNode&, double factor, double percent) {
        return DoOnQuantilValue(&ramp, percent, factor);
    });
    TConfigNode& low = *scaling->FindChild("low");
    TConfigNode& high = *scaling->FindChild("high");
    const struct {
        TConfigNode& node;
        const char* text;
        const char* stored;
    } cases[] = {
        {high, "100Q99", "979"}, {low, "100q40", "0"},       {high, "200Q99", "7832"}, {high, "Q", "999"},
        {low, " 50Q99 ", "122"}, {high, "100Q250", "65535"}, {high, "12", "12"},
    };
    for (const auto& c : cases) {
        c.node.SetText(c.text);
        EXPECT_EQ(c.node.GetText(), c.stored) << c.text;
    }
}

} // namespace
} // namespace tarvicon
