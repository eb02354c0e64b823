#include "volume/Slices.h"

#include "support/Cubes.h"
#include "support/TestSupport.h"
#include "util/Errors.h"
#include "volume/Bitmap32.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <numbers>
#include <random>

namespace tarvicon {
namespace {

using test::ErrorOf;
using test::MakeCube;
using enum TRenderMode;

void Put(TPixelCube& cube, int x, int y, int z, std::uint16_t v) {
    std::uint8_t* at = cube.VoxelPtr(x, y, z);
    at[0] = std::uint8_t(v & 0xFF);
    at[1] = std::uint8_t(v >> 8);
}

// Voxel (x, y, z) holds a value that names it.
TPixelCube NamedCube(std::uint32_t w, std::uint32_t h, std::uint32_t d) {
    TPixelCube cube = MakeCube(w, h, d);
    for (std::uint32_t z = 0; z < d; ++z)
        for (std::uint32_t y = 0; y < h; ++y)
            for (std::uint32_t x = 0; x < w; ++x)
                Put(cube, int(x), int(y), int(z), std::uint16_t(100 * z + 10 * y + x));
    return cube;
}

// A table that shows the raw value itself, and one that tells it apart.
std::unique_ptr<std::array<std::uint32_t, 65536>> Table(std::uint32_t tag = 0) {
    auto table = std::make_unique<std::array<std::uint32_t, 65536>>();
    for (std::uint32_t v = 0; v < 65536; ++v) (*table)[v] = v | tag;
    return table;
}

struct TRequest {
    std::string Path = "RBF";
    TCubePoint Position{};
    TRenderMode Mode = Average;
    std::int32_t Thickness = 1;
    std::int32_t Angle = 0;
    std::int32_t DepthWeight = 0;
    std::uint16_t Threshold = 0;
};

// Renders and returns the raw picture (the table maps each value to itself).
std::vector<std::uint32_t> Render(TPixelCube& cube, const TRequest& r, TSliceCache& cache, TBitmap32& picture,
                                  std::uint32_t tag = 0) {
    const auto table = Table(tag);
    cube.RenderSlice({r.Position, r.Path, r.Mode, *table, r.Thickness, r.Angle, r.DepthWeight, r.Threshold},
                     picture, cache);
    return {picture.Bits(), picture.Bits() + picture.Width() * picture.Height()};
}

std::vector<std::uint32_t> Render(TPixelCube& cube, const TRequest& r) {
    TSliceCache cache;
    TBitmap32 picture;
    return Render(cube, r, cache, picture);
}

// ---- the picture geometry and the pixel rules, case by case ----

TEST(SliceGeometry, PathsAndAngles) {
    TPixelCube cube = NamedCube(4, 3, 5);
    struct TCase {
        const char* Name;
        TRequest Request;
        int Width, Height;
        std::function<int(int i, int j)> Expected;
    };
    const TCase cases[] = {
        {"thin RBF shows slice c3", {"RBF", {1, 1, 2}}, 4, 3, [](int i, int j) { return 200 + 10 * i + j; }},
        {"lower-case path", {"rbf", {1, 1, 2}}, 4, 3, [](int i, int j) { return 200 + 10 * i + j; }},
        {"RFT at c3 0 shows the last row",
         {"RFT", {0, 2, 0}},
         4,
         5,
         [](int i, int j) { return 100 * i + 20 + j; }},
        {"BFR looks along X", {"BFR", {3, 0, 0}}, 3, 5, [](int i, int j) { return 100 * i + 10 * j + 3; }},
        {"LTN mirrors all three",
         {"LTN", {0, 0, 4}},
         4,
         3,
         [](int i, int j) { return 400 + 10 * (2 - i) + 3 - j; }},
        // S = 1024, C = 0: every column samples letter-1 coordinate c1 at slice c3 + (j − c1).
        {"angle 90 turns columns into depth",
         {"RBF", {1, 0, 2}, Average, 1, 90},
         4,
         3,
         [](int i, int j) { return 2 + j - 1 >= 0 && 2 + j - 1 < 5 ? 100 * (2 + j - 1) + 10 * i + 1 : 0; }},
        // S = 0, C = −1024: the picture is mirrored about column c1; columns beyond the cube are 0.
        {"angle 180 mirrors about c1",
         {"RBF", {1, 0, 2}, Average, 1, 180},
         4,
         3,
         [](int i, int j) { return 2 - j >= 0 ? 200 + 10 * i + (2 - j) : 0; }},
        {"position outside the slices gives a black picture",
         {"RBF", {0, 0, 7}},
         4,
         3,
         [](int, int) { return 0; }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TSliceCache cache;
        TBitmap32 picture;
        const auto pixels = Render(cube, c.Request, cache, picture);
        ASSERT_EQ(picture.Width(), c.Width);
        ASSERT_EQ(picture.Height(), c.Height);
        for (int i = 0; i < c.Height; ++i)
            for (int j = 0; j < c.Width; ++j)
                EXPECT_EQ(pixels[std::size_t(i * c.Width + j)], std::uint32_t(c.Expected(i, j)))
                    << i << "," << j;
    }
}

TEST(SliceGeometry, ResizeIsReported) {
    TPixelCube cube = NamedCube(4, 3, 5);
    const auto table = Table();
    TSliceCache cache;
    TBitmap32 picture;
    EXPECT_TRUE(cube.RenderSlice({.Path = "RBF", .Table = *table}, picture, cache));
    EXPECT_FALSE(cube.RenderSlice({.Path = "RBF", .Table = *table}, picture, cache));
    EXPECT_TRUE(cube.RenderSlice({.Path = "RFB", .Table = *table}, picture, cache));
    EXPECT_EQ(picture.Width(), 4);
    EXPECT_EQ(picture.Height(), 5);
}

// A column of nine voxels along Z seen through "RBF" at z = 4: far samples z = 5..8 are list
// positions 0..3, near samples z = 3..0 likewise.
TEST(SliceRays, AverageAndMaximumRules) {
    struct TCase {
        const char* Name;
        std::array<std::uint16_t, 9> Column;
        TRenderMode Mode;
        std::int32_t Thickness, DepthWeight;
        std::uint16_t Threshold;
        std::uint32_t Expected;
    };
    const TCase cases[] = {
        {"thickness 3 mean of three, truncated", {0, 0, 0, 10, 20, 31, 0, 0, 0}, Average, 3, 0, 0, 20},
        {"threshold drops low ray samples only", {0, 0, 0, 10, 20, 31, 0, 0, 0}, Average, 3, 0, 15, 25},
        {"threshold never drops the centre", {0, 0, 0, 10, 5, 31, 0, 0, 0}, Average, 3, 0, 15, 18},
        {"threshold 65535 keeps the plain slice", {0, 0, 0, 10, 20, 31, 0, 0, 0}, Average, 9, 0, 65535, 20},
        {"threshold 65535 takes samples of 65535",
         {0, 0, 0, 0, 1, 65535, 0, 0, 0},
         Average,
         9,
         0,
         65535,
         32768},
        {"thickness 0 averages the whole ray", {9, 9, 9, 9, 0, 9, 9, 9, 9}, Average, 0, 0, 0, 8},
        {"far winner at position 3 with weight 10", {0, 0, 0, 0, 100, 0, 0, 0, 500}, Maximum, 9, 10, 0, 530},
        {"near winner at position 3 with weight 10", {500, 0, 0, 0, 100, 0, 0, 0, 0}, Maximum, 9, 10, 0, 470},
        {"centre largest keeps its value", {90, 0, 0, 0, 100, 0, 0, 0, 99}, Maximum, 9, 10, 0, 100},
        {"far ties go to the farther sample", {0, 0, 0, 0, 100, 500, 0, 500, 0}, Maximum, 9, 10, 0, 520},
        {"far beats an equal near sample", {0, 0, 0, 500, 100, 0, 500, 0, 0}, Maximum, 9, 10, 0, 510},
        {"samples of 32768 and more never win", {0, 0, 0, 0, 100, 0, 40000, 0, 0}, Maximum, 9, 10, 0, 100},
        {"a high centre beats every ray", {0, 0, 0, 0, 40000, 0, 32767, 0, 0}, Maximum, 0, 10, 0, 40000},
        {"negative weight on a near winner clamps at 65535",
         {30000, 0, 0, 0, 100, 0, 0, 0, 0},
         Maximum,
         9,
         -20000,
         0,
         65535},
        {"weighted result clamps at 65535", {0, 0, 0, 0, 100, 0, 0, 0, 30000}, Maximum, 9, 20000, 0, 65535},
        {"weighted near result clamps at 0", {30000, 0, 0, 0, 100, 0, 0, 0, 0}, Maximum, 9, 20000, 0, 0},
        {"thickness 0 is a full projection", {7, 3, 0, 0, 1, 2, 32767, 0, 4}, Maximum, 0, 0, 0, 32767},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TPixelCube cube = MakeCube(1, 1, 9);
        for (int z = 0; z < 9; ++z) Put(cube, 0, 0, z, c.Column[std::size_t(z)]);
        TRequest request{"RBF", {0, 0, 4}, c.Mode, c.Thickness, 0, c.DepthWeight, c.Threshold};
        EXPECT_EQ(Render(cube, request)[0], c.Expected);
    }
}

TEST(SliceRays, SlabEndsCountOnlyTheirNeighbour) {
    TPixelCube cube = NamedCube(2, 2, 4);
    for (const int z : {0, 3}) {
        SCOPED_TRACE(z);
        const auto pixels = Render(cube, {"RBF", {0, 0, z}, Average, 3});
        const int other = z == 0 ? 1 : 2;
        for (int i = 0; i < 2; ++i)
            for (int j = 0; j < 2; ++j)
                EXPECT_EQ(pixels[std::size_t(2 * i + j)],
                          std::uint32_t((100 * z + 100 * other) / 2 + 10 * i + j));
    }
}

// ---- the cache ----

TEST(SliceCache, ServesOnlyWholeCubeProjections) {
    TPixelCube cube = NamedCube(3, 2, 4);
    TSliceCache cache;
    TBitmap32 picture;
    const TRequest projection{"RBF", {0, 0, 1}, Maximum, 0};
    Render(cube, projection, cache, picture);
    ASSERT_EQ(cache.Count(), 6u);
    EXPECT_EQ(cache.Values()[4], 311);
    EXPECT_EQ(cache.Cube, &cube);
    EXPECT_EQ(cache.Path, "RBF");

    Put(cube, 1, 1, 3, 7); // the cube changes behind the cache's back
    TRequest elsewhere = projection;
    elsewhere.Position = {2, 1, 3};
    EXPECT_EQ(Render(cube, elsewhere, cache, picture, 0xFF000000)[4], 0xFF000000u | 311) << "served";

    struct TCase {
        const char* Name;
        TRequest Request;
    };
    const TCase afresh[] = {
        {"thickness 2", {"RBF", {0, 0, 1}, Maximum, 2}},
        {"another angle", {"RBF", {0, 0, 1}, Maximum, 0, 1}},
        {"another path text", {"rbf", {0, 0, 1}, Maximum, 0}},
    };
    for (const TCase& c : afresh) {
        SCOPED_TRACE(c.Name);
        Put(cube, 1, 1, 3, 311);
        cache.Clear();
        Render(cube, projection, cache, picture);
        Put(cube, 1, 1, 3, 7);
        Render(cube, c.Request, cache, picture);
        ASSERT_EQ(cache.Count(), 6u);
        EXPECT_EQ(cache.Values()[4], 211) << "rendered afresh";
        EXPECT_EQ(Render(cube, projection, cache, picture)[4], 211u) << "the projection after it too";
    }

    cache.Clear();
    EXPECT_EQ(cache.Count(), 0u);
    EXPECT_EQ(cache.AngleKey, 0);
}

TEST(SliceCache, AllocateAndApply) {
    TSliceCache cache;
    cache.AngleKey = 5;
    cache.Allocate(3);
    EXPECT_EQ(cache.Count(), 3u);
    EXPECT_EQ(cache.AngleKey, 0);
    cache.Values()[0] = 2;
    cache.Values()[1] = 65535;
    const auto table = Table(0x80000000);
    std::array<std::uint32_t, 3> target{1, 1, 1};
    cache.Apply(*table, target.data(), 2);
    EXPECT_EQ(target, (std::array<std::uint32_t, 3>{0x80000002, 0x8000FFFF, 1}));
}

// ---- other pixel sizes and bad requests ----

TEST(SliceKinds, ColourCubesCopyAndByteCubesDrawNothing) {
    TPixelCube colour = MakeCube(2, 2, 2, 4);
    for (int z = 0; z < 2; ++z)
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 2; ++x) {
                const std::uint32_t argb = 0xFF000000u | std::uint32_t(z << 16 | y << 8 | x);
                std::memcpy(colour.VoxelPtr(x, y, z), &argb, 4);
            }
    TSliceCache cache;
    TBitmap32 picture;
    auto pixels = Render(colour, {"RBF", {0, 0, 1}, Maximum, 5, 0, 10}, cache, picture);
    EXPECT_EQ(pixels, (std::vector<std::uint32_t>{0xFF010000, 0xFF010001, 0xFF010100, 0xFF010101}));
    EXPECT_EQ(cache.Count(), 0u);
    pixels = Render(colour, {"RBF", {0, 0, 1}, Average, 1, 180}, cache, picture);
    EXPECT_EQ(pixels, (std::vector<std::uint32_t>{0xFF010000, 0, 0xFF010100, 0}));

    TPixelCube bytes = MakeCube(2, 2, 2, 1);
    std::memset(bytes.Voxels(), 200, 8);
    TBitmap32 fresh;
    EXPECT_EQ(Render(bytes, {"RBF"}, cache, fresh), std::vector<std::uint32_t>(4, 0));
    EXPECT_EQ(cache.Count(), 0u);
}

TEST(SliceErrors, BadPathsAndSizes) {
    TPixelCube cube = NamedCube(3, 2, 4);
    const auto table = Table();
    TSliceCache cache;
    TBitmap32 picture;
    for (const char* path : {"RXF", "RB", ""}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(ErrorOf([&] { cube.RenderSlice({.Path = path, .Table = *table}, picture, cache); }),
                  "bad view path");
    }
    // One axis named twice: no picture, no crash, nothing cached.
    for (const char* path : {"RLF", "RBB", "FBN", "TBR"}) {
        SCOPED_TRACE(path);
        for (const std::int32_t thickness : {0, 1, 3})
            for (const std::int32_t angle : {0, 30, 90}) {
                picture.SetSize(0, 0);
                cube.RenderSlice({{1, 1, 1}, path, Maximum, *table, thickness, angle}, picture, cache);
                EXPECT_EQ(cache.Count(), 0u);
                EXPECT_TRUE(std::all_of(picture.Bits(), picture.Bits() + picture.Width() * picture.Height(),
                                        [](std::uint32_t v) { return v == 0; }));
            }
    }
    // Extract refuses a size that does not match, and memory too small for the picture.
    TSlice slice;
    slice.SetCube(&cube);
    std::vector<std::uint32_t> target(6, 9);
    for (const auto& [pixels, size] :
         {std::pair{6, 11}, std::pair{6, 24}, std::pair{2, 12}, std::pair{6, -12}}) {
        std::fill(target.begin(), target.end(), 9u);
        slice.Extract(std::span(target).first(std::size_t(pixels)), size, {.Path = "RBF", .Table = *table},
                      cache);
        EXPECT_EQ(cache.Count(), 0u);
        EXPECT_EQ(target, std::vector<std::uint32_t>(6, 9));
    }
    slice.Extract(std::span(target), 12, {.Path = "RBF", .Table = *table}, cache);
    EXPECT_EQ(target[5], 12u);
}

// Spacings that no 32-bit product survives still give the right picture.
TEST(SliceRays, LargeSpacingsDoNotOverflow) {
    TPixelCube cube = NamedCube(3, 1, 5);
    cube.SetMetrics({2'000'000'000, 1000, 2'000'000'000});
    const auto pixels = Render(cube, {"RBF", {1, 0, 2}, Average, 3, 10});
    // S = 178, C = 1008: u = 0, 0, 1 and v = ((j − 1) × 178 × m) div (m × 1024) = 0; the ray
    // steps du = ∓178 div 1024 = 0, dv = ±(1008 × m) div (m × 1024) = 0 land on the centre again.
    EXPECT_EQ(pixels, (std::vector<std::uint32_t>{201, 201, 202}));
}

// ---- every geometry against the text's own per-ray rule ----

struct TLetterInfo {
    int Axis;
    bool Reverse;
};

TLetterInfo InfoOf(char letter) {
    switch (std::toupper(letter)) {
    case 'R':
        return {0, false};
    case 'L':
        return {0, true};
    case 'B':
        return {1, false};
    case 'T':
        return {1, true};
    case 'F':
        return {2, false};
    default:
        return {2, true};
    }
}

// The raw value of picture pixel (i, j), computed from coordinates as the text states it.
std::uint16_t ReferencePixel(TPixelCube& cube, const TRequest& r, std::int64_t i, std::int64_t j) {
    const std::string& path = r.Path;
    const std::array<std::int64_t, 3> extents{cube.Width(), cube.Height(), cube.Depth()};
    const auto extent = [&](int which) {
        return extents[std::size_t(InfoOf(path[std::size_t(which)]).Axis)];
    };
    const std::int64_t e1 = extent(0), e3 = extent(2);
    const std::int64_t m1 = cube.MetricAlong(path[0]), m3 = cube.MetricAlong(path[2]);
    const std::int64_t c1 = cube.CoordAlong(r.Position, path[0]), c3 = cube.CoordAlong(r.Position, path[2]);
    const double theta = r.Angle * 2 * std::numbers::pi / 360;
    const auto S = std::int64_t(std::nearbyint(std::sin(theta) * 1024));
    const auto C = std::int64_t(std::nearbyint(std::cos(theta) * 1024));
    const std::int64_t N =
        r.Thickness > 0 ? (r.Thickness - 1) * m3 / m1 : 2 * std::max({extents[0], extents[1], extents[2]});
    const std::int64_t nearLength = N / 2, farLength = N - N / 2;
    const auto voxel = [&](std::int64_t a, std::int64_t b) {
        std::array<std::int64_t, 3> xyz{};
        const std::array<std::int64_t, 3> coords{a, i, b};
        for (int which = 0; which < 3; ++which) {
            const TLetterInfo info = InfoOf(path[std::size_t(which)]);
            const std::int64_t e = extent(which);
            xyz[std::size_t(info.Axis)] =
                info.Reverse ? e - 1 - coords[std::size_t(which)] : coords[std::size_t(which)];
        }
        return cube.Voxel(xyz[0], xyz[1], xyz[2]);
    };
    const std::int64_t u = (j * C) / 1024 - (c1 * C) / 1024;
    const std::int64_t v = ((j - c1) * S * m1) / (m3 * 1024);
    if (!(-c1 <= u && c1 + u < e1 && -c3 <= v && c3 + v < e3)) return 0;
    const auto ray = [&](std::int64_t length, int sense) {
        std::vector<std::uint16_t> samples;
        for (std::int64_t k = 1; k <= length; ++k) {
            const std::int64_t du = (-sense * S * k) / 1024, dv = (sense * k * C * m1) / (m3 * 1024);
            const std::int64_t a = c1 + u + du, b = c3 + v + dv;
            if (a < 0 || a >= e1 || b < 0 || b >= e3) break;
            samples.push_back(voxel(a, b));
        }
        return samples;
    };
    const std::uint16_t centre = voxel(c1 + u, c3 + v);
    const std::vector<std::uint16_t> far = ray(farLength, 1), near = ray(nearLength, -1);
    if (r.Mode == Average) {
        std::uint64_t sum = centre, n = 1;
        for (const auto* list : {&far, &near})
            for (const std::uint16_t s : *list)
                if (s >= r.Threshold) sum += s, ++n;
        return std::uint16_t(std::min<std::uint64_t>(sum / n, 65535));
    }
    std::int64_t best = centre, d = 0;
    for (const int side : {1, -1}) {
        const auto& list = side == 1 ? far : near;
        std::int64_t m = 0, p = 0;
        for (std::int64_t k = std::int64_t(list.size()) - 1; k >= 0; --k)
            if (std::int16_t(list[std::size_t(k)]) > m) m = std::int16_t(list[std::size_t(k)]), p = k;
        if (m > best) best = m, d = side * p;
    }
    return std::uint16_t(std::clamp<std::int64_t>(best + d * r.DepthWeight, 0, 65535));
}

TEST(SliceProperty, RawValuesMatchThePerRayRule) {
    std::mt19937 random(20240611);
    const auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    const std::array<std::uint16_t, 8> special{0, 1, 2, 5, 32767, 32768, 65534, 65535};
    const char letters[] = "RLBTFNrl";
    int compared = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        TPixelCube cube =
            MakeCube(std::uint32_t(pick(1, 9)), std::uint32_t(pick(1, 9)), std::uint32_t(pick(1, 9)));
        const bool ties = pick(0, 1) == 1;
        for (std::uint32_t z = 0; z < cube.Depth(); ++z)
            for (std::uint32_t y = 0; y < cube.Height(); ++y)
                for (std::uint32_t x = 0; x < cube.Width(); ++x)
                    Put(cube, int(x), int(y), int(z),
                        ties ? special[std::size_t(pick(0, 7))] : std::uint16_t(pick(0, 65535)));
        const int spacingKind = pick(0, 3);
        const auto spacing = [&] { return spacingKind == 0 ? 1000 : pick(200, 3000); };
        cube.SetMetrics({spacing(), spacing(), spacing()});
        TRequest r;
        r.Path = {letters[pick(0, 7)], letters[pick(0, 7)], letters[pick(0, 7)]};
        r.Position = {pick(-2, int(cube.Width()) + 1), pick(-2, int(cube.Height()) + 1),
                      pick(-2, int(cube.Depth()) + 1)};
        if (pick(0, 3) > 0)
            r.Position = {pick(0, int(cube.Width()) - 1), pick(0, int(cube.Height()) - 1),
                          pick(0, int(cube.Depth()) - 1)};
        r.Mode = pick(0, 1) == 0 ? Average : Maximum;
        r.Thickness = pick(0, 5);
        r.Angle = pick(0, 2) == 0 ? 180 * pick(-1, 1) : pick(-180, 180);
        r.DepthWeight = pick(0, 1) == 0 ? 0 : pick(-3000, 3000);
        r.Threshold = std::uint16_t(pick(0, 2) == 0 ? 0 : pick(0, 65535));

        SCOPED_TRACE(::testing::Message()
                     << "trial " << trial << " path " << r.Path << " at " << r.Position.X << ","
                     << r.Position.Y << "," << r.Position.Z << " angle " << r.Angle << " thickness "
                     << r.Thickness << " mode " << int(r.Mode));
        TSliceCache cache;
        TBitmap32 picture;
        Render(cube, r, cache, picture);
        const TLetterInfo a = InfoOf(r.Path[0]), b = InfoOf(r.Path[1]), c = InfoOf(r.Path[2]);
        if (a.Axis == b.Axis || a.Axis == c.Axis || b.Axis == c.Axis) {
            EXPECT_EQ(cache.Count(), 0u);
            continue;
        }
        const auto width = std::size_t(picture.Width()), height = std::size_t(picture.Height());
        ASSERT_EQ(cache.Count(), width * height);
        for (std::size_t i = 0; i < height; ++i)
            for (std::size_t j = 0; j < width; ++j)
                ASSERT_EQ(cache.Values()[i * width + j],
                          ReferencePixel(cube, r, std::int64_t(i), std::int64_t(j)))
                    << "pixel " << i << "," << j;
        ++compared;
    }
    EXPECT_GT(compared, 300);
}

// Pictures large enough to be cut on several threads, through each way of walking the cube.
TEST(SliceProperty, LargePicturesMatchThePerRayRule) {
    std::mt19937 random(7);
    TPixelCube cube = MakeCube(70, 60, 50);
    for (std::uint32_t z = 0; z < 50; ++z)
        for (std::uint32_t y = 0; y < 60; ++y)
            for (std::uint32_t x = 0; x < 70; ++x)
                Put(cube, int(x), int(y), int(z),
                    std::uint16_t(random() % 3 == 0 ? random() : random() % 40));
    cube.SetMetrics({1000, 1000, 1000});
    const TRequest requests[] = {
        {"RBF", {30, 20, 25}, Maximum, 0, 0, 0, 0},      {"RBF", {30, 20, 25}, Maximum, 0, 0, 7, 0},
        {"RFT", {30, 20, 25}, Average, 9, 0, 0, 20},     {"BFR", {30, 20, 25}, Maximum, 0, 0, 0, 0},
        {"BFR", {30, 20, 25}, Average, 5, 180, 0, 10},   {"FRB", {30, 20, 25}, Maximum, 32, 0, -5, 0},
        {"LTN", {30, 20, 25}, Average, 0, -180, 0, 100}, {"RBF", {30, 20, 25}, Average, 9, 30, 0, 0},
        {"TRN", {30, 20, 25}, Maximum, 0, 0, 0, 0},
    };
    for (const TRequest& r : requests) {
        SCOPED_TRACE(r.Path + " thickness " + std::to_string(r.Thickness) + " angle " +
                     std::to_string(r.Angle));
        TSliceCache cache;
        TBitmap32 picture;
        Render(cube, r, cache, picture);
        const auto width = std::size_t(picture.Width());
        ASSERT_EQ(cache.Count(), width * std::size_t(picture.Height()));
        for (std::size_t n = 0; n < cache.Count(); ++n)
            ASSERT_EQ(cache.Values()[n],
                      ReferencePixel(cube, r, std::int64_t(n / width), std::int64_t(n % width)))
                << "pixel " << n / width << "," << n % width;
    }
    // Anisotropic spacings: several ray steps land in one slice, or skip slices.
    for (const TCubePoint metrics : {TCubePoint{500, 500, 1600}, TCubePoint{2000, 2000, 700}}) {
        cube.SetMetrics(metrics);
        for (const TRenderMode mode : {Average, Maximum}) {
            const TRequest r{"RBF", {30, 20, 25}, mode, 6, 0, mode == Maximum ? 3 : 0, 15};
            TSliceCache cache;
            TBitmap32 picture;
            Render(cube, r, cache, picture);
            for (std::size_t n = 0; n < cache.Count(); ++n)
                ASSERT_EQ(cache.Values()[n],
                          ReferencePixel(cube, r, std::int64_t(n / 70), std::int64_t(n % 70)));
        }
    }
}

} // namespace
} // namespace tarvicon
