#include "volume/PixelCube.h"

#include "support/Cubes.h"
#include "support/TestSupport.h"
#include "util/Errors.h"
#include "volume/PictureRules.h"

#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <sstream>

namespace tarvicon {
namespace {

using test::ErrorOf;
using test::MakeCube;

std::string Header(std::vector<std::int64_t> fields) {
    std::string bytes;
    for (const std::int64_t f : fields)
        for (int k = 0; k < 4; ++k) bytes += char((std::uint64_t(f) >> (8 * k)) & 0xFF);
    return bytes;
}

TEST(PixelCube, StoreLayoutAndItsLife) {
    TPixelCube cube = MakeCube(2, 3, 4);
    EXPECT_EQ(cube.ByteSize(), 48u);
    EXPECT_EQ(cube.VoxelPtr(1, 2, 3) - cube.Voxels(), 46);
    EXPECT_EQ(cube.RowPtr(2, 3) - cube.Voxels(), 44);
    EXPECT_EQ(cube.SlicePtr(3) - cube.Voxels(), 36);
    EXPECT_EQ(cube.Voxel(1, 2, 3), 0); // stores start zero-filled
    EXPECT_THROW(cube.VoxelPtr(2, 0, 0), WRangeError);
    EXPECT_THROW(cube.SlicePtr(-1), WRangeError);

    const std::uint8_t* store = cube.Voxels();
    cube.SetWidth(2);
    EXPECT_EQ(cube.Voxels(), store); // same width keeps the store
    cube.SetWidth(5);
    EXPECT_FALSE(cube.HasVoxels());
    EXPECT_EQ(ErrorOf([&] { cube.EnsureVoxels(4); }), "Invalid pixel size");
    cube.VoxelPtr(0, 0, 0);
    EXPECT_EQ(cube.ByteSize(), 120u);
    EXPECT_NO_THROW(cube.EnsureVoxels(4)); // with a store: no check

    TPixelCube fresh;
    EXPECT_EQ(fresh.Metrics(), (TCubePoint{1000, 1000, 1000}));
    fresh.SetMetrics({0, -5, 250});
    EXPECT_EQ(fresh.Metrics(), (TCubePoint{1000, 1000, 250}));
    EXPECT_EQ(MakeCube(512, 512, 100).Describe(), "512 x 512 x 100 = 50.0 MB");
    // Exact halves of the last decimal round away from zero, as the "0.0" pattern does.
    EXPECT_EQ(MakeCube(512, 256, 1).Describe(), "512 x 256 x 1 = 0.3 MB");
    EXPECT_EQ(MakeCube(640, 1024, 1).Describe(), "640 x 1024 x 1 = 1.3 MB");
    EXPECT_EQ(MakeCube(3, 2, 5).Describe(), "3 x 2 x 5 = 0.0 MB");
}

TEST(PixelCube, LoadSlicesOfTheThreeKinds) {
    TPixelCube grey = MakeCube(2, 1, 3, 1);
    const std::uint8_t bytes[] = {1, 2, 3, 4};
    grey.LoadSlices(TFrameKind::Bytes, 1, bytes, 2);
    EXPECT_EQ(std::memcmp(grey.Voxels(), "\0\0\1\2\3\4", 6), 0);
    // Past the last slice, and before the first.
    EXPECT_THROW(grey.LoadSlices(TFrameKind::Bytes, 2, bytes, 2), WRangeError);
    EXPECT_THROW(grey.LoadSlices(TFrameKind::Bytes, -1, bytes, 1), WRangeError);
    grey.LoadSlices(TFrameKind::None, 0, bytes, 1);
    grey.LoadSlices(static_cast<TFrameKind>(7), 0, bytes, 1); // unknown kind: nothing
    grey.LoadSlices(TFrameKind::Bytes, 0, nullptr, 1);
    EXPECT_EQ(std::memcmp(grey.Voxels(), "\0\0\1\2\3\4", 6), 0) << "none of these loads wrote";

    TPixelCube colour;
    colour.SetWidth(1);
    colour.SetHeight(1);
    colour.SetDepth(1);
    colour.SetPixelSize(4);
    const std::uint8_t rgb[] = {10, 20, 30};
    colour.LoadSlices(TFrameKind::Rgb, 0, rgb, 1);
    EXPECT_EQ(std::memcmp(colour.Voxels(), "\x1E\x14\x0A\xFF", 4), 0);

    TPixelCube mismatch = MakeCube(1, 1, 1, 2);
    mismatch.FreeVoxels();
    EXPECT_EQ(ErrorOf([&] { mismatch.LoadSlices(TFrameKind::Rgb, 0, rgb, 1); }), "Invalid pixel size");
}

TEST(PixelCube, LettersCoordinatesAndOrigins) {
    TPixelCube cube = MakeCube(10, 6, 5);
    cube.SetMetrics({300, 400, 2500});
    struct {
        char letter;
        std::int32_t extent, stride, metric, coordOfPoint;
    } rows[] = {
        {'R', 10, 1, 300, 2},  {'l', 10, -1, 300, 7}, {'B', 6, 10, 400, 3},
        {'t', 6, -10, 400, 2}, {'F', 5, 60, 2500, 4}, {'n', 5, -60, 2500, 0},
    };
    const TCubePoint point{2, 3, 4};
    for (const auto& r : rows) {
        EXPECT_EQ(cube.ExtentAlong(r.letter), r.extent) << r.letter;
        EXPECT_EQ(cube.StrideAlong(r.letter), r.stride) << r.letter;
        EXPECT_EQ(cube.MetricAlong(r.letter), r.metric) << r.letter;
        EXPECT_EQ(cube.CoordAlong(point, r.letter), r.coordOfPoint) << r.letter;
        TCubePoint back{9, 9, 9};
        cube.SetCoordAlong(back, r.letter, r.coordOfPoint);
        EXPECT_EQ(cube.CoordAlong(back, r.letter), r.coordOfPoint) << r.letter;
    }
    EXPECT_EQ(cube.CoordAlong({0, 0, 0}, 'L'), 9);
    TCubePoint p{};
    cube.SetCoordAlong(p, 'N', 0);
    EXPECT_EQ(p.Z, 4);
    EXPECT_EQ(cube.ExtentAlong("RFT", 1), 5);

    for (const char* bad : {"", "RB", "RBX", "QBF", "R F"})
        EXPECT_EQ(ErrorOf([&] { cube.ExtentAlong(bad, 0); }), "bad view path") << bad;
    EXPECT_EQ(ErrorOf([&] { cube.MetricAlong('x'); }), "bad view path");

    TPixelCube unset;
    unset.SetMetrics({1, 0, 1});
    std::stringstream zeroY(Header({1, 1, 1, 2, 5, 0, 5, 0, 0, 0, 2}) + std::string(2, '\0'));
    unset.LoadFromStream(zeroY);
    EXPECT_EQ(unset.Metrics().Y, 0);
    EXPECT_EQ(unset.MetricAlong('t'), 1000);

    cube.SetOrigin({100, 200, 300});
    EXPECT_EQ(cube.GetScreenOrigin("RBF"), (std::pair<std::int32_t, std::int32_t>{100, -200}));
    EXPECT_EQ(cube.GetScreenOrigin("LTN"), (std::pair<std::int32_t, std::int32_t>{-100, 200}));
    EXPECT_EQ(cube.GetScreenOrigin("FNR"), (std::pair<std::int32_t, std::int32_t>{300, -300}));
    for (const char* path : {"RBF", "LTN", "TFR", "NLB"}) {
        const auto [a, b] = cube.GetScreenOrigin(path);
        cube.SetScreenOrigin(path, a + 7, b - 3);
        EXPECT_EQ(cube.GetScreenOrigin(path), (std::pair<std::int32_t, std::int32_t>{a + 7, b - 3})) << path;
    }
}

TEST(PixelCube, WorldCoordinatesRoundTrip) {
    TPixelCube cube = MakeCube(7, 5, 9);
    cube.SetMetrics({488, 2001, 3});
    cube.SetOrigin({-125000, 33, 7});
    for (std::int32_t z = 0; z < 9; ++z)
        for (std::int32_t y = 0; y < 5; ++y)
            for (std::int32_t x = 0; x < 7; ++x) {
                const TCubePoint p{x, y, z};
                ASSERT_EQ(cube.WorldToIndex(cube.IndexToWorld(p)), p);
            }
    EXPECT_EQ(cube.IndexToWorld({1, 2, 3}), (TCubePoint{-124512, 4035, 16}));
    // halves go to the even index
    EXPECT_EQ(cube.WorldToIndex({-125000 + 244, 33 + 3001, 7 + 4}), (TCubePoint{0, 1, 1}));
    EXPECT_EQ(cube.WorldToIndex({-125000 + 732, 33 + 3002, 7 - 4}), (TCubePoint{2, 2, -1}));
    EXPECT_THROW(cube.IndexToWorld({0, 0, 2147483647}), WRangeError);
}

TEST(PixelCube, CumulativeHistogramStartsAtTheVoxelCount) {
    TPixelCube cube = MakeCube(2, 2, 1);
    const std::uint16_t values[] = {0, 0, 5, 65535};
    std::memcpy(cube.Voxels(), values, sizeof values);
    auto counts = std::make_unique<THistogram>();
    cube.Histogram(*counts, 0, 0, 0, 0);
    EXPECT_EQ((*counts)[0], 6u);
    EXPECT_EQ((*counts)[4], 6u);
    EXPECT_EQ((*counts)[5], 7u);
    EXPECT_EQ((*counts)[65534], 7u);
    EXPECT_EQ((*counts)[65535], 8u);

    TPixelCube box = MakeCube(4, 4, 4);
    for (int i = 0; i < 64; ++i) reinterpret_cast<std::uint16_t*>(box.Voxels())[i] = std::uint16_t(i);
    box.Histogram(*counts, 1, 0, 0, 0); // the box clipped at the corner: 2 × 2 × 2 voxels
    EXPECT_EQ((*counts)[65535], 16u);
    EXPECT_EQ((*counts)[0], 9u);
    EXPECT_EQ((*counts)[21], 16u); // 21 = the far corner (1, 1, 1)
    EXPECT_EQ((*counts)[20], 15u);

    TPixelCube colour = MakeCube(1, 1, 1, 4);
    colour.Histogram(*counts, 0, 0, 0, 0);
    EXPECT_EQ((*counts)[65535], 0u);
}

TEST(PixelCube, CuboidStreamsAndFiles) {
    TPixelCube cube = MakeCube(3, 2, 2);
    cube.SetMetrics({500, 600, 2500});
    cube.SetOrigin({-10, 20, -30});
    for (int i = 0; i < 12; ++i) reinterpret_cast<std::uint16_t*>(cube.Voxels())[i] = std::uint16_t(i * 5000);
    std::stringstream stream;
    cube.SaveToStream(stream);
    EXPECT_EQ(stream.str().substr(0, 44), Header({3, 2, 2, 2, 500, 600, 2500, -10, 20, -30, 24}));

    TPixelCube back;
    back.LoadFromStream(stream);
    EXPECT_EQ(back.Width(), 3u);
    EXPECT_EQ(back.Metrics(), cube.Metrics());
    EXPECT_EQ(back.Origin(), cube.Origin());
    EXPECT_EQ(std::memcmp(back.Voxels(), cube.Voxels(), 24), 0);

    test::TTempDir folder;
    const std::string path = (folder.Path() / "head.cub").string();
    cube.SaveToFile(path);
    TPixelCube fromFile;
    fromFile.LoadFromFile(path);
    EXPECT_EQ(std::memcmp(fromFile.Voxels(), cube.Voxels(), 24), 0);
    EXPECT_EQ(ErrorOf([&] { fromFile.LoadFromFile(path + ".missing"); }),
              "Cannot open file \"" + path + ".missing\". No such file or directory");
}

TEST(PixelCube, BadCuboidStreamsKeepTheCube) {
    const std::string voxels(24, '\x11');
    const struct {
        const char* what;
        std::string bytes;
        const char* message;
    } cases[] = {
        {"same extents, short count", Header({1, 1, 1, 2, 1, 1, 1, 0, 0, 0, 1}) + "x",
         "Cannot load pixelcube from stream"},
        {"same extents, voxels cut short", Header({1, 1, 1, 2, 1, 1, 1, 0, 0, 0, 2}) + "x",
         "Cannot load pixelcube from stream"},
        {"count one short", Header({3, 2, 2, 2, 1, 1, 1, 0, 0, 0, 23}) + voxels,
         "Cannot load pixelcube from stream"},
        {"count too large", Header({3, 2, 2, 2, 1, 1, 1, 0, 0, 0, 25}) + voxels,
         "Cannot load pixelcube from stream"},
        {"voxels cut short", Header({3, 2, 2, 2, 1, 1, 1, 0, 0, 0, 24}) + voxels.substr(0, 20),
         "Cannot load pixelcube from stream"},
        {"negative metric", Header({3, 2, 2, 2, 1, -1, 1, 0, 0, 0, 24}) + voxels, "Range check error"},
        {"pixel size 3", Header({3, 2, 2, 3, 1, 1, 1, 0, 0, 0, 36}) + voxels + voxels,
         "Cannot load pixelcube from stream"},
        {"negative pixel size", Header({3, 2, 2, -2, 1, 1, 1, 0, 0, 0, 0}),
         "Cannot load pixelcube from stream"},
        {"header cut short", Header({3, 2, 2}), "Stream read error"},
        {"4 GiB of voxels claimed", Header({65536, 65536, 1, 1, 1, 1, 1, 0, 0, 0, 0}),
         "Cannot load pixelcube from stream"},
    };
    for (const auto& c : cases) {
        TPixelCube cube = MakeCube(1, 1, 1);
        cube.SetMetrics({500, 600, 700});
        reinterpret_cast<std::uint16_t*>(cube.Voxels())[0] = 777;
        std::stringstream stream(c.bytes);
        EXPECT_EQ(ErrorOf([&] { cube.LoadFromStream(stream); }), c.message) << c.what;
        ASSERT_TRUE(cube.HasVoxels()) << c.what;
        EXPECT_EQ(cube.ByteSize(), 2u) << c.what;
        EXPECT_EQ(cube.Metrics(), (TCubePoint{500, 600, 700})) << c.what;
        EXPECT_EQ(cube.Voxel(0, 0, 0), 777) << c.what;
    }

    TPixelCube empty; // zero extents load as the empty cube they describe
    std::stringstream zero(Header({0, 0, 0, 2, 1, 1, 1, 0, 0, 0, 0}));
    empty.LoadFromStream(zero);
    EXPECT_EQ(empty.ByteSize(), 0u);
}

TEST(PictureRules, ModeThicknessAndThreshold) {
    using enum TRenderMode;
    const struct {
        const char* what;
        TPictureInputs in;
        TPictureRequest out;
    } cases[] = {
        {"plain slice", {512, 512, 100, 1, true, false, false, false, 0, 0}, {Average, 1, 65535}},
        {"phase split above the window",
         {512, 512, 100, 3, true, false, false, true, 400, 900},
         {Average, 3, 900}},
        {"no phase", {512, 512, 100, 3, true, false, false, true, 400, 400}, {Average, 3, 0}},
        {"detail projection", {512, 512, 32, 1, true, true, false, false, 0, 0}, {Maximum, 0, 65535}},
        {"detail slab kept", {512, 512, 32, 9, true, true, false, false, 0, 0}, {Maximum, 9, 65535}},
        {"deep cube: budget 32", {512, 512, 100, 1, true, true, false, false, 0, 0}, {Maximum, 32, 65535}},
        {"deep cube: thick slab capped",
         {512, 512, 100, 50, true, true, false, false, 0, 0},
         {Maximum, 32, 65535}},
        {"deep cube: thin slab kept",
         {512, 512, 100, 9, true, true, false, false, 0, 0},
         {Maximum, 9, 65535}},
        {"navigation projection", {512, 512, 32, 5, false, true, true, false, 0, 0}, {Maximum, 0, 65535}},
        {"navigation deep", {512, 512, 100, 5, false, false, true, false, 0, 0}, {Maximum, 32, 65535}},
        {"navigation without flag", {512, 512, 100, 5, false, true, false, false, 0, 0}, {Average, 5, 65535}},
    };
    for (const auto& c : cases) {
        const TPictureRequest r = ChoosePictureRequest(c.in);
        EXPECT_EQ(r.Mode, c.out.Mode) << c.what;
        EXPECT_EQ(r.Thickness, c.out.Thickness) << c.what;
        EXPECT_EQ(r.Threshold, c.out.Threshold) << c.what;
    }
}

} // namespace
} // namespace tarvicon
