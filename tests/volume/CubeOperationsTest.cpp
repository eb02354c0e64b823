#include "volume/CubeOperations.h"

#include "support/TestSupport.h"
#include "util/Errors.h"
#include "util/Progress.h"
#include "volume/PixelCube.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace tarvicon {
namespace {

using test::ErrorOf;
using TSamples = std::vector<std::uint16_t>;

TPixelCube MakeCube(std::uint32_t w, std::uint32_t h, std::uint32_t d, std::int32_t p = 2) {
    TPixelCube cube;
    cube.SetPixelSize(p);
    cube.SetWidth(w);
    cube.SetHeight(h);
    cube.SetDepth(d);
    return cube;
}

// A 16-bit cube holding the samples in store order.
TPixelCube CubeOf(std::uint32_t w, std::uint32_t h, std::uint32_t d, const TSamples& samples) {
    TPixelCube cube = MakeCube(w, h, d);
    cube.EnsureVoxels(2);
    if (!samples.empty()) std::memcpy(cube.Voxels(), samples.data(), samples.size() * 2);
    return cube;
}

TSamples SamplesOf(const TPixelCube& cube) {
    TSamples samples(cube.ByteSize() / 2);
    if (!samples.empty()) std::memcpy(samples.data(), cube.Voxels(), samples.size() * 2);
    return samples;
}

std::vector<std::uint8_t> BytesOf(const TPixelCube& cube) {
    return {cube.Voxels(), cube.Voxels() + cube.ByteSize()};
}

TPixelCube RandomCube(std::mt19937& random, std::uint32_t w, std::uint32_t h, std::uint32_t d,
                      std::int32_t p = 2) {
    TPixelCube cube = MakeCube(w, h, d, p);
    cube.EnsureVoxels(p);
    for (std::uint64_t b = 0; b < cube.ByteSize(); ++b)
        cube.Voxels()[b] = static_cast<std::uint8_t>(random());
    return cube;
}

struct TRecordingSink : IProgressSink {
    struct TShown {
        int Bar;
        std::string Text;
        friend bool operator==(const TShown&, const TShown&) = default;
    };
    std::vector<TShown> shown;
    void Started() override {}
    void Show(int bar, const std::string&, const std::string& text, const std::string&) override {
        shown.push_back({bar, text});
    }
    bool CancelRequested() override { return false; }
    void Ended() override {}
};

// Opens a progress run with a recording sink; what the run itself shows first is dropped.
class TRecordedRun {
public:
    TRecordedRun() {
        SetProgressSink(&sink_);
        StartProgress("Cube");
        sink_.shown.clear();
    }
    ~TRecordedRun() {
        EndProgress();
        SetProgressSink(nullptr);
    }
    TRecordedRun(const TRecordedRun&) = delete;
    TRecordedRun& operator=(const TRecordedRun&) = delete;
    const std::vector<TRecordingSink::TShown>& Shown() const { return sink_.shown; }

private:
    TRecordingSink sink_;
};

// The bars of reports (position, total) with one text.
std::vector<TRecordingSink::TShown> Reports(std::vector<int> positions, int total, const std::string& text) {
    std::vector<TRecordingSink::TShown> reports;
    for (const int p : positions) reports.push_back({p * 100 / total, text});
    return reports;
}

// ---------------------------------------------------------------------------------------------
// Plain forms of the operations, written straight from their rules.

std::int64_t Signed(std::uint16_t v) {
    return static_cast<std::int16_t>(v);
}

std::uint16_t MidpointFirstRule(std::uint16_t p, std::uint16_t q) { // Y and Z
    return p > 32767 ? q : static_cast<std::uint16_t>((Signed(q) + p) >> 1);
}

std::uint16_t MidpointSecondRule(std::uint16_t p, std::uint16_t q) { // X
    return q > 32767 ? p : static_cast<std::uint16_t>((Signed(p) + q) >> 1);
}

TSamples PlainUpscale(const TPixelCube& cube, int axis) {
    const std::int64_t w = cube.Width(), h = cube.Height(), d = cube.Depth();
    const TSamples in = SamplesOf(cube);
    const std::int64_t nw = axis == 0 ? 2 * w - 1 : w, nh = axis == 1 ? 2 * h - 1 : h,
                       nd = axis == 2 ? 2 * d - 1 : d;
    TSamples out(std::size_t(nw * nh * nd));
    const auto at = [&](std::int64_t x, std::int64_t y, std::int64_t z) {
        return in[std::size_t((z * h + y) * w + x)];
    };
    for (std::int64_t z = 0; z < nd; ++z)
        for (std::int64_t y = 0; y < nh; ++y)
            for (std::int64_t x = 0; x < nw; ++x) {
                std::uint16_t v = 0;
                if (axis == 0)
                    v = x % 2 == 0 ? at(x / 2, y, z)
                                   : MidpointSecondRule(at(x / 2, y, z), at(x / 2 + 1, y, z));
                else if (axis == 1)
                    v = y % 2 == 0 ? at(x, y / 2, z)
                                   : MidpointFirstRule(at(x, y / 2, z), at(x, y / 2 + 1, z));
                else
                    v = z % 2 == 0 ? at(x, y, z / 2)
                                   : MidpointFirstRule(at(x, y, z / 2), at(x, y, z / 2 + 1));
                out[std::size_t((z * nh + y) * nw + x)] = v;
            }
    return out;
}

// Slices 2 .. D − 3 filtered with every neighbour clamped into the store; the others copied.
TSamples PlainFilter(const TPixelCube& cube, const std::array<std::int8_t, 125>& kernel) {
    const std::int64_t w = cube.Width(), h = cube.Height(), d = cube.Depth(), n = w * h * d;
    const TSamples in = SamplesOf(cube);
    TSamples out = in;
    std::int64_t sum = 0;
    for (const std::int8_t k : kernel) sum += k;
    if (sum == 0) sum = 1;
    for (std::int64_t g = 2 * w * h; g < (d - 2) * w * h; ++g) {
        std::int64_t total = 0;
        for (int i = -2; i <= 2; ++i)
            for (int j = -2; j <= 2; ++j)
                for (int k = -2; k <= 2; ++k) {
                    const std::int64_t weight =
                        kernel[std::size_t(((i + 2) * 5 + j + 2) * 5 + k + 2)] * 65536 / sum;
                    const std::int64_t at = std::clamp<std::int64_t>(g + (k * h + j) * w + i, 0, n - 1);
                    total += weight * Signed(in[std::size_t(at)]);
                }
        out[std::size_t(g)] = static_cast<std::uint16_t>(total >> 16);
    }
    return out;
}

TSamples PlainRotate(const TPixelCube& cube, const std::string& path, double angle) {
    const TSamples in = SamplesOf(cube);
    TSamples out(in.size());
    const auto step = [&](char letter) -> std::int64_t {
        const char l = static_cast<char>(std::toupper(letter));
        return l == 'R' || l == 'L'   ? 1
               : l == 'B' || l == 'T' ? cube.Width()
                                      : std::int64_t(cube.Width()) * cube.Height();
    };
    const std::int64_t e1 = cube.ExtentAlong(path[0]), e2 = cube.ExtentAlong(path[1]),
                       e3 = cube.ExtentAlong(path[2]);
    const std::int64_t m1 = cube.MetricAlong(path[0]), m2 = cube.MetricAlong(path[1]);
    const std::int64_t b1 = step(path[0]), b2 = step(path[1]), b3 = step(path[2]);
    const double theta = -angle * std::numbers::pi / 180;
    const auto c = static_cast<std::int64_t>(std::trunc(std::cos(theta) * 32768));
    const auto s = static_cast<std::int64_t>(std::trunc(std::sin(theta) * 32768));
    for (std::int64_t k = 0; k < e3; ++k)
        for (std::int64_t j = 0; j < e2; ++j)
            for (std::int64_t i = 0; i < e1; ++i) {
                const std::int64_t u = ((i - e1 / 2) * m1) / 256, v = ((j - e2 / 2) * m2) / 256;
                const std::int64_t x = ((u * c - v * s) / m1) * 256 + e1 * 16384;
                const std::int64_t y = ((u * s + v * c) / m2) * 256 + e2 * 16384;
                const std::int64_t fx = x % 32768, fy = y % 32768, ix = x / 32768, iy = y / 32768;
                std::int64_t r = 0;
                if (!(ix < 0 || iy < 0 || ix >= e1 - 1 || iy >= e2 - 1)) {
                    const auto sample = [&](std::int64_t a, std::int64_t b) {
                        return Signed(in[std::size_t(k * b3 + a * b1 + b * b2)]);
                    };
                    const std::int64_t top =
                        (sample(ix, iy) * (32767 - fx) + sample(ix + 1, iy) * fx) / 32768;
                    const std::int64_t bottom =
                        (sample(ix, iy + 1) * (32767 - fx) + sample(ix + 1, iy + 1) * fx) / 32768;
                    r = std::clamp<std::int64_t>((fy * bottom + (32767 - fy) * top) / 32768, 0, 65535);
                }
                out[std::size_t(k * b3 + i * b1 + j * b2)] = static_cast<std::uint16_t>(r);
            }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Mirrors

TEST(CubeOperationMirror, EachReversesItsAxisAndTwiceRestores) {
    std::mt19937 random(11);
    struct TCase {
        std::uint32_t w, h, d;
        std::int32_t p;
    };
    for (const TCase c : {TCase{5, 4, 5, 2}, TCase{4, 3, 2, 4}, TCase{1, 1, 1, 2}, TCase{7, 5, 3, 4}}) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << "x" << c.d << " p" << c.p);
        const TPixelCube original = RandomCube(random, c.w, c.h, c.d, c.p);
        const auto voxel = [&](const TPixelCube& cube, std::int64_t x, std::int64_t y, std::int64_t z) {
            const std::uint8_t* at = cube.Voxels() + ((z * c.h + y) * c.w + x) * c.p;
            return std::vector<std::uint8_t>(at, at + c.p);
        };
        TPixelCube x = original, y = original, z = original;
        MirrorX(x);
        MirrorY(y);
        MirrorZ(z);
        for (std::int64_t k = 0; k < c.d; ++k)
            for (std::int64_t j = 0; j < c.h; ++j)
                for (std::int64_t i = 0; i < c.w; ++i) {
                    ASSERT_EQ(voxel(x, i, j, k), voxel(original, c.w - 1 - i, j, k));
                    ASSERT_EQ(voxel(y, i, j, k), voxel(original, i, c.h - 1 - j, k));
                    ASSERT_EQ(voxel(z, i, j, k), voxel(original, i, j, c.d - 1 - k)); // middle slice stays
                }
        MirrorX(x);
        MirrorY(y);
        MirrorZ(z);
        EXPECT_EQ(BytesOf(x), BytesOf(original));
        EXPECT_EQ(BytesOf(y), BytesOf(original));
        EXPECT_EQ(BytesOf(z), BytesOf(original));
    }
}

TEST(CubeOperationMirror, ByteCubesAndTheirErrors) {
    TPixelCube bytes = MakeCube(3, 3, 2, 1);
    EXPECT_EQ(ErrorOf([&] { MirrorX(bytes); }), "Invalid pixel size");
    EXPECT_EQ(ErrorOf([&] { MirrorZ(bytes); }), "Odd to swap"); // 9 bytes a slice
    EXPECT_EQ(ErrorOf([&] { MirrorY(bytes); }), "Odd to swap"); // 3 bytes a row

    // Even blocks of bytes are exchanged; one slice or one row exchanges nothing.
    TPixelCube even = MakeCube(2, 2, 2, 1);
    even.EnsureVoxels(1);
    for (int b = 0; b < 8; ++b) even.Voxels()[b] = std::uint8_t(b);
    MirrorZ(even);
    MirrorY(even);
    EXPECT_EQ(BytesOf(even), (std::vector<std::uint8_t>{6, 7, 4, 5, 2, 3, 0, 1}));
    TPixelCube single = MakeCube(3, 1, 1, 1);
    MirrorZ(single);
    MirrorY(single);
    EXPECT_TRUE(single.HasVoxels());
}

// ---------------------------------------------------------------------------------------------
// Upscales

TEST(CubeOperationUpscale, MidpointRulesAndTheTopBit) {
    const TRecordedRun run;
    TPixelCube column = CubeOf(1, 1, 3, {100, 201, 50});
    const TPixelCube z = UpscaleCubeZ(column);
    EXPECT_EQ(SamplesOf(z), (TSamples{100, 150, 201, 125, 50}));
    EXPECT_EQ(z.Metrics().Z, 500);
    EXPECT_EQ(z.Metrics().X, 1000);

    const TPixelCube x = UpscaleCubeX(CubeOf(3, 1, 1, {10, 20, 40000}));
    EXPECT_EQ(SamplesOf(x), (TSamples{10, 15, 20, 20, 40000}));
    EXPECT_EQ(x.Metrics().X, 500);

    // A first sample with the top bit set yields the second; a second one is averaged as signed.
    EXPECT_EQ(SamplesOf(UpscaleCubeZ(CubeOf(1, 1, 2, {40000, 10}))), (TSamples{40000, 10, 10}));
    EXPECT_EQ(SamplesOf(UpscaleCubeZ(CubeOf(1, 1, 2, {10, 40000}))), (TSamples{10, 52773, 40000}));
    EXPECT_EQ(SamplesOf(UpscaleCubeY(CubeOf(1, 2, 1, {10, 40000}))), (TSamples{10, 52773, 40000}));
    EXPECT_EQ(SamplesOf(UpscaleCubeX(CubeOf(2, 1, 1, {40000, 10}))), (TSamples{40000, 52773, 10}));
}

TEST(CubeOperationUpscale, MatchesThePlainRuleOnRandomCubes) {
    std::mt19937 random(5);
    const TRecordedRun run;
    struct TSize {
        std::uint32_t w, h, d;
    };
    for (const TSize s :
         {TSize{1, 1, 1}, TSize{37, 5, 4}, TSize{2, 33, 3}, TSize{64, 9, 7}, TSize{3, 1, 17}}) {
        SCOPED_TRACE(testing::Message() << s.w << "x" << s.h << "x" << s.d);
        TPixelCube cube = RandomCube(random, s.w, s.h, s.d);
        cube.SetMetrics({801, 9, 1});
        cube.SetOrigin({-5, 6, 7});
        const TSamples before = SamplesOf(cube);
        const TPixelCube x = UpscaleCubeX(cube), y = UpscaleCubeY(cube), z = UpscaleCubeZ(cube);
        EXPECT_EQ(SamplesOf(x), PlainUpscale(cube, 0));
        EXPECT_EQ(SamplesOf(y), PlainUpscale(cube, 1));
        EXPECT_EQ(SamplesOf(z), PlainUpscale(cube, 2));
        EXPECT_EQ(SamplesOf(cube), before);
        EXPECT_EQ(x.Width(), 2 * s.w - 1);
        EXPECT_EQ(y.Height(), 2 * s.h - 1);
        EXPECT_EQ(z.Depth(), 2 * s.d - 1);
        EXPECT_EQ(x.Metrics(), (TCubePoint{400, 9, 1}));
        EXPECT_EQ(y.Metrics(), (TCubePoint{801, 4, 1}));
        EXPECT_EQ(z.Metrics(), (TCubePoint{801, 9, 1000})); // 1 div 2 is 0, which the setter makes 1000
        EXPECT_EQ(z.Origin(), (TCubePoint{-5, 6, 7}));
    }
}

TEST(CubeOperationUpscale, ReportsEveryPassStep) {
    std::mt19937 random(3);
    const TPixelCube cube = RandomCube(random, 3, 2, 3);
    {
        const TRecordedRun run;
        const TPixelCube z = UpscaleCubeZ(cube); // D copy steps, D − 1 midpoint steps, out of 2D
        EXPECT_EQ(run.Shown(), Reports({0, 1, 2, 3, 4}, 6, "3 x 2 x 5 = 0.0 MB"));
    }
    {
        const TRecordedRun run;
        const TPixelCube y = UpscaleCubeY(cube); // D steps in each pass
        EXPECT_EQ(run.Shown(), Reports({0, 1, 2, 3, 4, 5}, 6, "3 x 3 x 3 = 0.0 MB"));
    }
    {
        const TRecordedRun run;
        const TPixelCube x = UpscaleCubeX(cube);
        EXPECT_EQ(run.Shown(), Reports({0, 1, 2}, 3, "5 x 2 x 3 = 0.0 MB"));
    }
}

TEST(CubeOperationUpscale, EmptyAndStorelessCubes) {
    const TRecordedRun run;
    // A cube without a store reads as zeros.
    const TPixelCube blank = MakeCube(2, 2, 2);
    EXPECT_EQ(SamplesOf(UpscaleCubeZ(blank)), TSamples(12, 0));
    EXPECT_EQ(SamplesOf(UpscaleCubeX(blank)), TSamples(12, 0));
    // An empty axis stays empty instead of wrapping round.
    const TPixelCube empty = MakeCube(0, 2, 0);
    EXPECT_EQ(UpscaleCubeX(empty).Width(), 0u);
    EXPECT_EQ(UpscaleCubeZ(empty).Depth(), 0u);
    EXPECT_EQ(UpscaleCubeY(MakeCube(3, 0, 2)).Height(), 0u);
}

// ---------------------------------------------------------------------------------------------
// Filter

std::array<std::int8_t, 125> RandomKernel(std::mt19937& random, int spread) {
    std::array<std::int8_t, 125> kernel{};
    std::uniform_int_distribution<int> entry(-spread, spread);
    for (auto& k : kernel) k = static_cast<std::int8_t>(entry(random));
    return kernel;
}

TEST(CubeOperationFilter, MatchesThePlainRuleOnRandomCubesAndKernels) {
    std::mt19937 random(17);
    const TRecordedRun run;
    struct TSize {
        std::uint32_t w, h, d;
    };
    std::vector<std::array<std::int8_t, 125>> kernels;
    std::array<std::int8_t, 125> ones;
    ones.fill(1);
    kernels.push_back(ones);
    for (int t = 0; t < 3; ++t) kernels.push_back(RandomKernel(random, 128)); // full range, any sum
    for (int t = 0; t < 2; ++t) {
        auto kernel = RandomKernel(random, 3); // small sums: weights far above 16 bits
        std::int32_t sum = 0;
        for (const auto k : kernel) sum += k;
        kernel[62] = static_cast<std::int8_t>(kernel[62] - sum + (t == 0 ? 1 : -1));
        kernels.push_back(kernel);
    }
    for (const TSize s :
         {TSize{1, 1, 9}, TSize{7, 5, 6}, TSize{19, 3, 7}, TSize{40, 9, 6}, TSize{33, 17, 8}}) {
        const TPixelCube cube = RandomCube(random, s.w, s.h, s.d);
        for (std::size_t t = 0; t < kernels.size(); ++t) {
            SCOPED_TRACE(testing::Message() << s.w << "x" << s.h << "x" << s.d << " kernel " << t);
            EXPECT_EQ(SamplesOf(FilterCube(cube, 1, kernels[t])), PlainFilter(cube, kernels[t]));
        }
    }
}

TEST(CubeOperationFilter, SlicesTwoToDMinusThreeAndTheirReports) {
    std::mt19937 random(23);
    std::array<std::int8_t, 125> ones;
    ones.fill(1);
    {
        // Four slices: nothing computed, the source comes through, nothing reported.
        const TPixelCube cube = RandomCube(random, 6, 6, 4);
        const TRecordedRun run;
        EXPECT_EQ(SamplesOf(FilterCube(cube, 1, ones)), SamplesOf(cube));
        EXPECT_TRUE(run.Shown().empty());
    }
    {
        // Five slices: slice 2 only.
        const TPixelCube cube = RandomCube(random, 6, 6, 5);
        const TRecordedRun run;
        const TSamples out = SamplesOf(FilterCube(cube, 4, ones)), in = SamplesOf(cube);
        EXPECT_EQ(out, PlainFilter(cube, ones));
        EXPECT_FALSE(std::equal(out.begin() + 72, out.begin() + 108, in.begin() + 72));
        EXPECT_EQ(run.Shown(), Reports({2}, 5, "Filtering #4"));
    }
    {
        const TPixelCube cube = RandomCube(random, 2, 2, 7);
        const TRecordedRun run;
        const TPixelCube out = FilterCube(cube, 12, ones);
        EXPECT_EQ(run.Shown(), Reports({2, 3, 4}, 7, "Filtering #12"));
    }
}

TEST(CubeOperationFilter, KernelSummingToZeroIsDividedByOne) {
    // Centre 1 and the right neighbour −1: the result is the difference of the two.
    std::array<std::int8_t, 125> kernel{};
    kernel[62] = 1;
    kernel[87] = -1; // i = +1
    TSamples samples(4 * 3 * 5);
    for (std::size_t v = 0; v < samples.size(); ++v) samples[v] = static_cast<std::uint16_t>(v * v * 7);
    const TPixelCube cube = CubeOf(4, 3, 5, samples);
    const TRecordedRun run;
    const TSamples out = SamplesOf(FilterCube(cube, 1, kernel));
    for (std::size_t g = 24; g < 36; ++g)
        EXPECT_EQ(out[g], static_cast<std::uint16_t>(samples[g] - samples[g + 1])) << g;
}

// ---------------------------------------------------------------------------------------------
// Rotation

TEST(CubeOperationRotate, ByZeroWithSpacing256KeepsPositions) {
    const TRecordedRun run;
    TPixelCube cube = CubeOf(4, 6, 2, TSamples(48, 1000));
    cube.SetMetrics({256, 256, 1000});
    const TSamples out = SamplesOf(RotateCube(cube, "RBF", 0));
    for (std::size_t z = 0; z < 2; ++z)
        for (std::size_t y = 0; y < 6; ++y)
            for (std::size_t x = 0; x < 4; ++x)
                EXPECT_EQ(out[(z * 6 + y) * 4 + x], x == 3 || y == 5 ? 0 : 998) << x << "," << y << "," << z;

    // Spacing 1000: one voxel right of the centre is sampled 0.766 voxel right of it.
    TSamples ramp(16);
    for (std::size_t v = 0; v < 16; ++v) ramp[v] = static_cast<std::uint16_t>(1000 * (v % 4));
    const TSamples turned = SamplesOf(RotateCube(CubeOf(4, 4, 1, ramp), "RBF", 0));
    EXPECT_EQ(turned[2 * 4 + 3 - 1], 1998); // the centre itself: 2000 less the weights' loss
    EXPECT_EQ(turned[2 * 4 + 3], 2764);
}

TEST(CubeOperationRotate, MatchesThePlainRuleForAnyPathAndAngle) {
    std::mt19937 random(29);
    const TRecordedRun run;
    const std::string letters[3] = {"RL", "BT", "FN"};
    std::uniform_real_distribution<double> angle(-400, 400);
    std::uniform_int_distribution<int> metric(1, 3000);
    int axes[3] = {0, 1, 2};
    do {
        for (int sense = 0; sense < 8; ++sense) {
            std::string path;
            for (int a = 0; a < 3; ++a) path += letters[axes[a]][(sense >> a) & 1];
            TPixelCube cube = RandomCube(random, 9, 6, 5);
            // Non-negative samples too, so that results are not mostly clipped to 0.
            for (std::uint64_t b = 1; b < cube.ByteSize(); b += 2)
                cube.Voxels()[b] &= sense % 2 ? 0x7F : 0xFF;
            cube.SetMetrics({metric(random), metric(random), metric(random)});
            const double degrees = sense == 0 ? 90 : angle(random);
            SCOPED_TRACE(path + " " + std::to_string(degrees));
            EXPECT_EQ(SamplesOf(RotateCube(cube, path, degrees)), PlainRotate(cube, path, degrees));
        }
    } while (std::next_permutation(axes, axes + 3));
}

TEST(CubeOperationRotate, HugeSpacingsStayExact) {
    std::mt19937 random(31);
    const TRecordedRun run;
    TPixelCube cube = RandomCube(random, 1 << 17, 2, 1);
    for (std::uint64_t b = 1; b < cube.ByteSize(); b += 2) cube.Voxels()[b] &= 0x7F;
    cube.SetMetrics({2147483647, 3, 1000});
    EXPECT_EQ(SamplesOf(RotateCube(cube, "RBF", 30)), PlainRotate(cube, "RBF", 30));
    EXPECT_EQ(SamplesOf(RotateCube(cube, "BRF", -1e-4)), PlainRotate(cube, "BRF", -1e-4));
    // Spacings far apart: the row terms outgrow 32 bits.
    TPixelCube flat = RandomCube(random, 9, 7, 2);
    flat.SetMetrics({1, 2147483647, 5});
    for (const double degrees : {0.0, 30.0, -0.01, 179.99})
        EXPECT_EQ(SamplesOf(RotateCube(flat, "RBF", degrees)), PlainRotate(flat, "RBF", degrees)) << degrees;
}

TEST(CubeOperationRotate, ErrorsReportsAndStorelessSource) {
    std::mt19937 random(37);
    TPixelCube cube = RandomCube(random, 2, 3, 4);
    {
        const TRecordedRun run;
        const TPixelCube out = RotateCube(cube, "rbf", 10);
        EXPECT_EQ(run.Shown(), Reports({0, 1, 2, 3}, 4, "")); // no step text
    }
    const TRecordedRun run;
    EXPECT_EQ(ErrorOf([&] { RotateCube(cube, "RBX", 10); }), "bad view path");
    EXPECT_EQ(ErrorOf([&] { RotateCube(cube, "RB", 10); }), "bad view path");
    // Two letters of one axis would address voxels outside the store.
    EXPECT_EQ(ErrorOf([&] { RotateCube(cube, "RLF", 10); }), "bad view path");
    EXPECT_EQ(ErrorOf([&] { RotateCube(cube, "FBN", 10); }), "bad view path");
    EXPECT_EQ(SamplesOf(RotateCube(MakeCube(3, 3, 2), "BFR", 10)), TSamples(18, 0));
}

// ---------------------------------------------------------------------------------------------
// Errors shared by the operations that build a new cube

TEST(CubeOperationErrors, IllegalPixelSizesAndNoProgressRun) {
    std::array<std::int8_t, 125> ones;
    ones.fill(1);
    for (const std::int32_t p : {1, 4}) {
        SCOPED_TRACE(p);
        const TPixelCube cube = MakeCube(2, 2, 5, p);
        EXPECT_EQ(ErrorOf([&] { UpscaleCubeX(cube); }), "Illegal pixel size to upscaleX");
        EXPECT_EQ(ErrorOf([&] { UpscaleCubeY(cube); }), "Illegal pixel size to upscaleY");
        EXPECT_EQ(ErrorOf([&] { UpscaleCubeZ(cube); }), "Illegal pixel size to upscaleZ");
        EXPECT_EQ(ErrorOf([&] { FilterCube(cube, 1, ones); }), "Invalid pixel size");
        EXPECT_EQ(ErrorOf([&] { RotateCube(cube, "RBF", 1); }), "Illegal pixel size to rotate");
    }
    std::mt19937 random(41);
    const TPixelCube cube = RandomCube(random, 3, 3, 5);
    const TSamples before = SamplesOf(cube);
    ASSERT_FALSE(ProgressActive());
    EXPECT_EQ(ErrorOf([&] { UpscaleCubeX(cube); }), "Progress dialog not active");
    EXPECT_EQ(ErrorOf([&] { UpscaleCubeY(cube); }), "Progress dialog not active");
    EXPECT_EQ(ErrorOf([&] { UpscaleCubeZ(cube); }), "Progress dialog not active");
    EXPECT_EQ(ErrorOf([&] { FilterCube(cube, 1, ones); }), "Progress dialog not active");
    EXPECT_EQ(ErrorOf([&] { RotateCube(cube, "RBF", 1); }), "Progress dialog not active");
    EXPECT_EQ(SamplesOf(cube), before);
}

TEST(CubeOperationErrors, AFailingReportStopsTheWorkAndPassesThrough) {
    // The third report fails while the slices are being worked on.
    struct TFailingSink : TRecordingSink {
        void Show(int bar, const std::string& title, const std::string& text,
                  const std::string& detail) override {
            TRecordingSink::Show(bar, title, text, detail);
            if (shown.size() == 4) throw WException("sink gone"); // the run's own first report counts
        }
    } sink;
    SetProgressSink(&sink);
    std::mt19937 random(43);
    const TPixelCube cube = RandomCube(random, 40, 30, 12);
    std::array<std::int8_t, 125> ones;
    ones.fill(1);
    {
        const TProgressRun run("Cube");
        EXPECT_EQ(ErrorOf([&] { FilterCube(cube, 1, ones); }), "sink gone");
    }
    sink.shown.clear();
    {
        const TProgressRun run("Cube");
        EXPECT_EQ(ErrorOf([&] { RotateCube(cube, "RBF", 5); }), "sink gone");
    }
    SetProgressSink(nullptr);
}

} // namespace
} // namespace tarvicon
