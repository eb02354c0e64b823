#include "support/StudyFiles.h"
#include "support/TestSupport.h"
#include "volume/PixelCube.h"

#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <jpeglib.h>

namespace tarvicon {
namespace {

test::TProcessResult Cli(std::vector<std::string> args) {
    args.insert(args.begin(), (test::BinDir() / "tarvicon-cli").string());
    return test::RunProcess(args);
}

// A 6 × 4 × 5 cube whose voxel (x, y, z) holds 1000 + 100z + 10y + x.
class RenderCommand : public ::testing::Test {
protected:
    void SetUp() override {
        TPixelCube cube;
        cube.SetWidth(6);
        cube.SetHeight(4);
        cube.SetDepth(5);
        cube.SetPixelSize(2);
        cube.SetMetrics({500, 500, 2000});
        for (int z = 0; z < 5; ++z)
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 6; ++x) {
                    const auto v = std::uint16_t(Value(x, y, z));
                    std::memcpy(cube.VoxelPtr(x, y, z), &v, 2);
                }
        cube.SaveToFile(cuboid);
    }
    static int Value(int x, int y, int z) { return 1000 + 100 * z + 10 * y + x; }
    std::vector<std::uint16_t> Raw(const std::string& path) {
        const std::string bytes = test::ReadFile(path);
        std::vector<std::uint16_t> values(bytes.size() / 2);
        std::memcpy(values.data(), bytes.data(), values.size() * 2);
        return values;
    }

    test::TTempDir folder;
    std::string cuboid = (folder.Path() / "phantom.cub").string();
    std::string raw = (folder.Path() / "picture.raw").string();
};

TEST_F(RenderCommand, ViewsPositionsAndOperations) {
    const struct {
        const char* what;
        std::vector<std::string> options;
        int width, height;
        std::function<int(int i, int j)> expected; // row i, column j
    } cases[] = {
        {"detail at the centre", {}, 6, 4, [](int i, int j) { return Value(j, i, 2); }},
        {"detail at a position", {"--position", "0,0,4"}, 6, 4, [](int i, int j) { return Value(j, i, 4); }},
        {"position clamped", {"--position", "-3,99,99"}, 6, 4, [](int i, int j) { return Value(j, i, 4); }},
        {"coronar: slice 0 along T is the last row",
         {"--view", "coronar", "--position", "0,3,0"},
         6,
         5,
         [](int i, int j) { return Value(j, 3, i); }},
        {"sagital",
         {"--view", "sagital", "--position", "1,0,0"},
         4,
         5,
         [](int i, int j) { return Value(1, j, i); }},
        {"path parameter",
         {"--set", "detail/path=LTN", "--position", "0,0,0"},
         6,
         4,
         [](int i, int j) { return Value(5 - j, 3 - i, 0); }},
        {"world position", {"--world", "0,0,-4000"}, 6, 4, [](int i, int j) { return Value(j, i, 0); }},
        {"mirror x", {"--op", "mirror-x"}, 6, 4, [](int i, int j) { return Value(5 - j, i, 2); }},
        {"mirror twice, then revert",
         {"--op", "mirror-z", "--op", "mirror-y", "--op", "revert"},
         6,
         4,
         [](int i, int j) { return Value(j, i, 2); }},
        // rays step by the spacing across (500), six steps each way: 1.5 slices deep here
        {"projection", {"--set", "detail/mip-detail=1"}, 6, 4, [](int i, int j) { return Value(j, i, 3); }},
        // spacing 2000 along Z over 500 across: nine ray steps that fall on slices 1 to 3
        {"slab of 3, average",
         {"--set", "detail/thickness=3"},
         6,
         4,
         [](int i, int j) { return Value(j, i, 2); }},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"render", "--cuboid", cuboid, "--raw", raw};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto result = Cli(args);
        ASSERT_EQ(result.Status, 0) << c.what << ": " << result.Err;
        const auto values = Raw(raw);
        ASSERT_EQ(values.size(), std::size_t(c.width * c.height)) << c.what;
        for (int i = 0; i < c.height; ++i)
            for (int j = 0; j < c.width; ++j)
                ASSERT_EQ(values[std::size_t(i * c.width + j)], c.expected(i, j))
                    << c.what << " row " << i << " col " << j;
    }
}

TEST_F(RenderCommand, PicturesAndCuboidsAreWritten) {
    const std::string bmp = (folder.Path() / "p.bmp").string(), jpg = (folder.Path() / "p.JPG").string(),
                      saved = (folder.Path() / "up.cub").string();
    const auto result = Cli({"render", "--cuboid", cuboid, "--set", "detail/colormapping/level/low=0",
                             "--set", "detail/colormapping/level/high=100", "-o", bmp, "--op", "upscale-z",
                             "--save-cuboid", saved, "--repeat", "3"});
    ASSERT_EQ(result.Status, 0) << result.Err;
    EXPECT_EQ(result.Out.rfind("median_ms=", 0), 0u) << result.Out;

    const std::string picture = test::ReadFile(bmp);
    ASSERT_EQ(picture.size(), 54u + 6 * 4 * 4);
    EXPECT_EQ(picture.substr(0, 2), "BM");
    EXPECT_EQ(picture[28], 32);                    // bits per pixel
    EXPECT_EQ(std::uint8_t(picture[54 + 3]), 254); // opaque ramp colour (alpha 254 of the ramp)

    TPixelCube upscaled;
    upscaled.LoadFromFile(saved);
    EXPECT_EQ(upscaled.Depth(), 9u);
    EXPECT_EQ(upscaled.Metrics().Z, 1000);

    ASSERT_EQ(Cli({"render", "--cuboid", cuboid, "-o", jpg}).Status, 0);
    std::FILE* file = std::fopen(jpg.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    ASSERT_EQ(jpeg_read_header(&info, TRUE), JPEG_HEADER_OK);
    EXPECT_EQ(info.image_width, 6u);
    EXPECT_EQ(info.image_height, 4u);
    jpeg_destroy_decompress(&info);
    std::fclose(file);
}

TEST_F(RenderCommand, BadInputGivesTheMessage) {
    test::WriteFile(folder.Path() / "short.cub", test::ReadFile(cuboid).substr(0, 60));
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{"--cuboid", (folder.Path() / "short.cub").string()}, 1, "Cannot load pixelcube from stream\n"},
        {{"--cuboid", cuboid, "--set", "detail/path=RBX"}, 1, "bad view path\n"},
        {{"--cuboid", cuboid, "--op", "twist"}, 1, "Invalid operation twist\n"},
        {{"--cuboid", cuboid, "--set", "detail/metrics=x"}, 1, "Cannot find parameter detail/metrics\n"},
        {{"--cuboid", cuboid, "--op", "rotate:RBF"}, 1, "Invalid operation rotate:RBF\n"},
        {{"--cuboid", cuboid, "-o", (folder.Path() / "p.png").string()},
         1,
         "Unknown picture file extension: " + (folder.Path() / "p.png").string() + "\n"},
        {{"--cuboid", cuboid, "--position", "1,2"}, 2, ""},
        {{"--cuboid", cuboid, "--view", "oblique"}, 2, ""},
        {{"--position", "1,2,3"}, 2, ""},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"render"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto result = Cli(args);
        EXPECT_EQ(result.Status, c.status) << args.back();
        if (c.status == 1) {
            EXPECT_EQ(result.Err, c.err);
        }
    }
}

} // namespace
} // namespace tarvicon

namespace tarvicon {
namespace {

// A CT series of a study folder and an MR image in a second folder.
class RenderStudy : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(first);
        std::filesystem::create_directories(second);
        test::TImage ct;
        ct.Thickness = "1";
        ct.Size = 20;
        test::WriteSeries(first, "", 4, ct);
        test::TImage mr;
        mr.Series = "1.2.3.8";
        mr.Modality = "MR";
        test::WriteFile(second / "mr", test::ImageFile(mr));
    }
    test::TTempDir folder;
    std::filesystem::path first = folder.Path() / "first", second = folder.Path() / "second";
    std::string raw = (folder.Path() / "picture.raw").string(),
                bmp = (folder.Path() / "picture.bmp").string();
};

TEST_F(RenderStudy, ConfigurationShowsTheSeriesAsAtFirstSight) {
    const std::string document = std::string(TARVICON_SOURCE) + "/config/tarvicon.cfg";
    const auto result =
        Cli({"render", first.string(), "--config", document, "--get", "detail/colormapping/level/high",
             "--get", "detail/colormapping/level/scaling/units", "-o", bmp});
    ASSERT_EQ(result.Status, 0) << result.Err;
    // The CT series gets the automatic preset of its modality: the brain window in HU.
    EXPECT_EQ(result.Out, "detail/colormapping/level/high=80\ndetail/colormapping/level/scaling/units=HU\n");
    // Options after the configuration act on the shown series, as a user's changes do.
    const auto changed =
        Cli({"render", first.string(), "--config", document, "--set", "detail/colormapping/level/high=200",
             "--get", "detail/colormapping/level/high"});
    EXPECT_EQ(changed.Out, "detail/colormapping/level/high=200\n") << changed.Err;
}

TEST_F(RenderStudy, AddedFoldersLeaveTheFirstStudysPictures) {
    const std::vector<std::string> picture = {"--series", "0", "--op", "upscale-z", "--raw", raw, "-o", bmp};
    std::vector<std::string> args{"render", first.string()};
    args.insert(args.end(), picture.begin(), picture.end());
    ASSERT_EQ(Cli(args).Status, 0);
    const std::string rawBefore = test::ReadFile(raw), bmpBefore = test::ReadFile(bmp);
    args = {"render", first.string(), "--add", second.string(), first.string()};
    args.insert(args.end(), picture.begin(), picture.end());
    const auto added = Cli(args);
    ASSERT_EQ(added.Status, 0) << added.Err;
    EXPECT_EQ(test::ReadFile(raw), rawBefore);
    EXPECT_EQ(test::ReadFile(bmp), bmpBefore);

    const auto tree = Cli({"tree", first.string(), "--add", second.string()});
    ASSERT_EQ(tree.Status, 0) << tree.Err;
    EXPECT_NE(tree.Out.find("(CT[4])"), std::string::npos) << tree.Out;
    EXPECT_NE(tree.Out.find("(MR)"), std::string::npos) << tree.Out;
}

} // namespace
} // namespace tarvicon

namespace tarvicon {
namespace {

TEST_F(RenderStudy, AStudyWithoutThePictureAskedForNamesWhatItFound) {
    const std::string none = (folder.Path() / "none").string();
    const std::filesystem::path empty = folder.Path() / "empty", broken = folder.Path() / "broken";
    std::filesystem::create_directories(empty);
    std::filesystem::create_directories(broken);
    test::WriteFile(broken / "a.dcm", "no DICOM here");
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{none}, "No such file or folder: " + none + "\n"},
        {{empty.string()}, "No DICOM files found in " + empty.string() + "\n"},
        {{second.string(), "--series", "1"}, "There is no series 1: the study holds: 0 Head (MR)\n"},
        {{broken.string()},
         "The series holds no picture: the study holds: 0 dummy Error: Invalid DICOM file format 1  Tag:\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"render"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.insert(args.end(), {"-o", bmp});
        const auto result = Cli(args);
        EXPECT_EQ(result.Status, 1) << c.args.front();
        EXPECT_EQ(result.Err, c.err);
        EXPECT_FALSE(std::filesystem::exists(bmp));
    }
}

} // namespace
} // namespace tarvicon
