// tarvicon-cli render --movie and --legend: the files read back with giflib and decoded with
// FFmpeg's own tools, frame by frame against the single pictures of render.

#include "catalogue/ParameterSessions.h"
#include "support/GifReading.h"
#include "support/StudyFiles.h"
#include "support/TestSupport.h"
#include "volume/GifFiles.h"
#include "volume/PixelCube.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <set>

#ifdef TARVICON_TEST_LEGEND
#include "views/Legends.h"

#include <QGuiApplication>
#endif

namespace tarvicon {
namespace {

using test::FrameIndices;
using test::LoopCount;
using test::ReadGif;
using test::TGif;

namespace fs = std::filesystem;

test::TProcessResult Cli(std::vector<std::string> args) {
    args.insert(args.begin(), (test::BinDir() / "tarvicon-cli").string());
    return test::RunProcess(args);
}

// A 32-bit BMP as SaveBmp writes it: a 54-byte header, rows bottom first.
TBitmap32 ReadBmp(const fs::path& path) {
    const std::string bytes = test::ReadFile(path);
    TBitmap32 picture;
    if (bytes.size() < 54 || bytes.compare(0, 2, "BM") != 0 || bytes[28] != 32) {
        ADD_FAILURE() << "not a 32-bit BMP: " << path;
        return picture;
    }
    std::int32_t width = 0, height = 0;
    std::uint32_t offset = 0;
    std::memcpy(&offset, bytes.data() + 10, 4);
    std::memcpy(&width, bytes.data() + 18, 4);
    std::memcpy(&height, bytes.data() + 22, 4);
    if (bytes.size() < offset + std::size_t(width) * std::size_t(height) * 4) {
        ADD_FAILURE() << "short BMP: " << path;
        return picture;
    }
    picture.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        std::memcpy(picture.Bits() + std::size_t(y) * std::size_t(width),
                    bytes.data() + offset + std::size_t(height - 1 - y) * std::size_t(width) * 4,
                    std::size_t(width) * 4);
    return picture;
}

// An orange ramp, so a swap of red and blue shows.
const std::vector<std::string> kColouring = {
    "--set", "detail/colormapping/level/low=0",         "--set", "detail/colormapping/level/high=100",
    "--set", "detail/colormapping/coloring/high/R=255", "--set", "detail/colormapping/coloring/high/G=128",
    "--set", "detail/colormapping/coloring/high/B=0"};

TGifPalette ExpectedPalette() {
    TParameterSession session;
    for (std::size_t i = 0; i + 1 < kColouring.size(); i += 2) {
        std::string assignment = kColouring[i + 1];
        const auto equals = assignment.find('=');
        session.Existing(assignment.substr(0, equals)).SetText(assignment.substr(equals + 1));
    }
    const auto palette = session.DetailMapping().CreatePalette(true);
    TGifPalette colours{};
    for (std::size_t i = 0; i < colours.size(); ++i)
        colours[i] = std::uint32_t((*palette)[i].Red) << 16 | std::uint32_t((*palette)[i].Green) << 8 |
                     (*palette)[i].Blue;
    return colours;
}

std::vector<std::uint8_t> Mapped(const TBitmap32& picture, const TGifPalette& palette) {
    TPaletteMapper mapper(palette);
    std::vector<std::uint8_t> indices;
    mapper.Map(picture, indices);
    return indices;
}

std::set<fs::path> FilesIn(const fs::path& folder) {
    std::set<fs::path> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
    return names;
}

// A 64 × 64 × 40 cube whose voxels grow along x and z (and a little with y), so every angle of
// the oblique cut and every slice shows another picture.
class RenderMovie : public ::testing::Test {
protected:
    void SetUp() override {
        TPixelCube cube;
        cube.SetWidth(64);
        cube.SetHeight(64);
        cube.SetDepth(40);
        cube.SetPixelSize(2);
        cube.SetMetrics({500, 500, 1000});
        for (int z = 0; z < 40; ++z)
            for (int y = 0; y < 64; ++y)
                for (int x = 0; x < 64; ++x) {
                    const auto v = std::uint16_t(100 + 20 * x + 15 * z + 5 * (y % 8));
                    std::memcpy(cube.VoxelPtr(x, y, z), &v, 2);
                }
        cube.SaveToFile(cuboid);
    }
    // render on the cube with the colouring, then the options given.
    test::TProcessResult Render(const std::vector<std::string>& options) const {
        std::vector<std::string> args{"render", "--cuboid", cuboid};
        args.insert(args.end(), kColouring.begin(), kColouring.end());
        args.insert(args.end(), options.begin(), options.end());
        return Cli(args);
    }
    // The single picture of render with the options given.
    TBitmap32 Still(const std::vector<std::string>& options) const {
        const std::string bmp = (folder.Path() / "still.bmp").string();
        std::vector<std::string> args = options;
        args.insert(args.end(), {"-o", bmp});
        const auto result = Render(args);
        EXPECT_EQ(result.Status, 0) << result.Err;
        TBitmap32 picture = ReadBmp(bmp);
        fs::remove(bmp);
        return picture;
    }
    std::string Path(const char* name) const { return (folder.Path() / name).string(); }

    test::TTempDir folder;
    std::string cuboid = (folder.Path() / "cube.cub").string();
};

TEST_F(RenderMovie, RotationIsAnEndlessGifOf72FramesInTheMappingsPalette) {
    const auto result = Render({"--movie", "rotate", Path("turn.gif")});
    ASSERT_EQ(result.Status, 0) << result.Err;
    EXPECT_EQ(result.Out, "");
    EXPECT_EQ(result.Err, "");
    const TGif gif = ReadGif(Path("turn.gif"));
    ASSERT_TRUE(gif);
    ASSERT_EQ(gif->ImageCount, 72);
    EXPECT_EQ(gif->SWidth, 64);
    EXPECT_EQ(gif->SHeight, 64);
    EXPECT_EQ(LoopCount(gif->SavedImages[0]), 0);

    const TGifPalette palette = ExpectedPalette();
    ASSERT_NE(gif->SColorMap, nullptr);
    ASSERT_EQ(gif->SColorMap->ColorCount, 256);
    for (int i = 0; i < 256; ++i) {
        const GifColorType& c = gif->SColorMap->Colors[i];
        ASSERT_EQ(std::uint32_t(c.Red) << 16 | std::uint32_t(c.Green) << 8 | c.Blue, palette[std::size_t(i)])
            << "entry " << i;
    }
    for (int i = 0; i < 72; ++i) {
        GraphicsControlBlock control{};
        ASSERT_EQ(DGifSavedExtensionToGCB(gif.get(), i, &control), GIF_OK) << "frame " << i;
        EXPECT_EQ(control.DelayTime, 10) << "frame " << i;
        EXPECT_EQ(gif->SavedImages[i].ImageDesc.Width, 64) << "frame " << i;
        EXPECT_EQ(gif->SavedImages[i].ImageDesc.Height, 64) << "frame " << i;
        if (i > 0) {
            EXPECT_NE(FrameIndices(*gif, i), FrameIndices(*gif, i - 1)) << "frame " << i;
        }
    }
    // Frame n is the single picture at -180 + 5n degrees through the palette.
    for (const auto& [frame, angle] : {std::pair{0, "-180"}, {1, "-175"}, {36, "0"}, {71, "175"}}) {
        const TBitmap32 still = Still({"--set", std::string("detail/angle=") + angle});
        EXPECT_EQ(FrameIndices(*gif, frame), Mapped(still, palette)) << "frame " << frame;
    }
}

TEST_F(RenderMovie, SliceLoopHasAFramePerSliceAlongThePath) {
    const struct {
        const char* path;
        int frames;
        std::function<std::string(int slice)> position; // of the single picture
    } cases[] = {
        {"RBF", 40, [](int slice) { return "0,0," + std::to_string(slice); }},
        {"BFR", 64, [](int slice) { return std::to_string(slice) + ",0,0"; }},
    };
    for (const auto& c : cases) {
        const std::string gifPath = Path("loop.gif");
        const std::vector<std::string> view{"--set", std::string("detail/path=") + c.path};
        std::vector<std::string> args = view;
        args.insert(args.end(), {"--movie", "slices", gifPath});
        const auto result = Render(args);
        ASSERT_EQ(result.Status, 0) << c.path << ": " << result.Err;
        const TGif gif = ReadGif(gifPath);
        ASSERT_TRUE(gif);
        ASSERT_EQ(gif->ImageCount, c.frames) << c.path;
        const TGifPalette palette = ExpectedPalette();
        for (const int slice : {0, c.frames - 1}) {
            std::vector<std::string> still = view;
            still.insert(still.end(), {"--position", c.position(slice)});
            EXPECT_EQ(FrameIndices(*gif, slice), Mapped(Still(still), palette))
                << c.path << " slice " << slice;
        }
    }
}

TEST_F(RenderMovie, VideosDecodeToTheRenderedPictures) {
    const struct {
        const char* name;
        std::vector<std::string> options;
        const char* codec;
        const char* rate;
    } cases[] = {
        {"turn.mp4", {}, "h264", "10/1"},
        {"turn.webm", {"--fps", "25"}, "vp9", "25/1"},
        {"TURN.MP4", {}, "h264", "10/1"},
    };
    const TBitmap32 first = Still({"--set", "detail/angle=-180"});
    for (const auto& c : cases) {
        std::vector<std::string> args{"--movie", "rotate", Path(c.name)};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto result = Render(args);
        ASSERT_EQ(result.Status, 0) << c.name << ": " << result.Err;
        EXPECT_EQ(result.Out + result.Err, "") << c.name;

        const auto probe =
            test::RunProcess({"ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
                              "-show_entries", "stream=codec_name,width,height,r_frame_rate,nb_read_frames",
                              "-of", "default=noprint_wrappers=1", Path(c.name)});
        ASSERT_EQ(probe.Status, 0) << "ffprobe (Debian package ffmpeg): " << probe.Err;
        EXPECT_EQ(probe.Out, std::string("codec_name=") + c.codec +
                                 "\nwidth=64\nheight=64\nr_frame_rate=" + c.rate + "\nnb_read_frames=72\n")
            << c.name;

        // The first frame decoded by FFmpeg against the single picture: close, not equal (the
        // encoders' colour subsampling and quantisation).
        const std::string rgb = Path("first.rgb");
        const auto decode = test::RunProcess({"ffmpeg", "-v", "error", "-y", "-i", Path(c.name), "-frames:v",
                                              "1", "-f", "rawvideo", "-pix_fmt", "rgb24", rgb});
        ASSERT_EQ(decode.Status, 0) << decode.Err;
        const std::string pixels = test::ReadFile(rgb);
        ASSERT_EQ(pixels.size(), 64u * 64 * 3) << c.name;
        double difference = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                const std::uint32_t colour = first.Pixel(x, y);
                const auto* decoded = reinterpret_cast<const std::uint8_t*>(pixels.data()) + (y * 64 + x) * 3;
                for (int channel = 0; channel < 3; ++channel)
                    difference += std::abs(int(decoded[channel]) - int(colour >> (16 - 8 * channel) & 0xFF));
            }
        EXPECT_LT(difference / (64 * 64 * 3), 3.0) << c.name;
        fs::remove(rgb);
    }
}

TEST_F(RenderMovie, BadUsageAndFailedWritesLeaveNothing) {
    fs::create_directory(folder.Path() / "taken.gif");
    fs::create_directory(folder.Path() / "taken.mp4");
    const std::set<fs::path> before = FilesIn(folder.Path());
    const struct {
        std::vector<std::string> options;
        int status;
    } cases[] = {
        {{"--movie", "spin", Path("out.gif")}, 2},
        {{"--movie", "rotate"}, 2},
        {{"--movie", "rotate", Path("out.avi")}, 2},
        {{"--movie", "rotate", "-o", Path("out.bmp")}, 2},
        {{"--movie", "slices", Path("out.mp4"), "--fps", "0"}, 2},
        {{"--movie", "rotate", Path("missing/out.gif")}, 1},
        {{"--movie", "rotate", Path("missing/out.webm")}, 1},
        {{"--movie", "rotate", Path("taken.gif")}, 1},
        {{"--movie", "slices", Path("taken.mp4"), "-o", Path("out.bmp")}, 1},
    };
    for (const auto& c : cases) {
        const auto result = Render(c.options);
        const std::string what = c.options[1] + " " + (c.options.size() > 2 ? c.options[2] : "");
        EXPECT_EQ(result.Status, c.status) << what << ": " << result.Err;
        if (c.status == 2) {
            EXPECT_EQ(result.Err.rfind("usage: tarvicon-cli render ", 0), 0u) << what << ": " << result.Err;
        } else {
            EXPECT_NE(result.Err, "") << what;
        }
        EXPECT_EQ(FilesIn(folder.Path()), before) << what;
    }
}

#ifdef TARVICON_TEST_LEGEND

// The test's own fonts, as tarvicon-cli takes them: Qt's GUI part on the offscreen platform.
void OpenFonts() {
    static int argc = 3;
    static char program[] = "volume_tests", option[] = "-platform", platform[] = "offscreen";
    static char* argv[] = {program, option, platform, nullptr};
    static QGuiApplication application(argc, argv);
}

TEST(RenderLegend, PicturesAndFramesCarryTheWindowsLegend) {
    OpenFonts();
    test::TTempDir folder;
    test::TImage image;
    image.BirthDate = "19650412";
    image.Sex = "F";
    image.Size = 256;
    fs::create_directory(folder.Path() / "series");
    test::WriteSeries(folder.Path() / "series", "a", 3, image);
    const std::string legend = " 15.3.2007: Doe^P1, 12.4.1965, F, P1 ";
    const auto render = [&](std::vector<std::string> options) {
        options.insert(options.begin(), {"render", (folder.Path() / "series").string()});
        const auto result = Cli(options);
        EXPECT_EQ(result.Status, 0) << result.Err;
        EXPECT_EQ(result.Out + result.Err, "");
    };
    const fs::path plain = folder.Path() / "plain.bmp", marked = folder.Path() / "marked.bmp",
                   gif = folder.Path() / "marked.gif";
    render({"-o", plain.string()});
    render({"--legend", "-o", marked.string(), "--movie", "rotate", gif.string()});

    TBitmap32 expected = ReadBmp(plain);
    const TBitmap32 withLegend = ReadBmp(marked);
    ASSERT_EQ(withLegend.Width(), 256);
    EXPECT_EQ(withLegend.Pixel(0, 0), 0xFF000000u); // the box's black corner
    int white = 0;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 256; ++x) white += withLegend.Pixel(x, y) == 0xFFFFFFFFu;
    EXPECT_GT(white, 20);
    EXPECT_EQ(withLegend.Pixel(128, 200), expected.Pixel(128, 200)); // the picture below it
    DrawLegend(expected, legend);
    EXPECT_TRUE(std::equal(expected.Bits(), expected.Bits() + 256 * 256, withLegend.Bits()));

    // Every frame carries it too: frame 36 is the picture at 0 degrees.
    const TGif frames = ReadGif(gif);
    ASSERT_TRUE(frames);
    TParameterSession session;
    const auto palette = session.DetailMapping().CreatePalette(true);
    TGifPalette colours{};
    for (std::size_t i = 0; i < colours.size(); ++i)
        colours[i] = std::uint32_t((*palette)[i].Red) << 16 | std::uint32_t((*palette)[i].Green) << 8 |
                     (*palette)[i].Blue;
    EXPECT_EQ(FrameIndices(*frames, 36), Mapped(withLegend, colours));
}

#else

TEST(RenderLegend, NeedsTheWindowSystemsFonts) {
    test::TTempDir folder;
    test::TImage image;
    test::WriteSeries(folder.Path(), "a", 2, image);
    const fs::path out = folder.Path() / "out.bmp";
    const auto result = Cli({"render", folder.Path().string(), "--legend", "-o", out.string()});
    EXPECT_EQ(result.Status, 2);
    EXPECT_EQ(result.Err, "--legend needs the fonts of the window system, which this build leaves out\n");
    EXPECT_FALSE(fs::exists(out));
}

#endif

} // namespace
} // namespace tarvicon
