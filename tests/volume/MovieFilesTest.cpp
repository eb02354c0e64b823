// The video writer's files decoded back by FFmpeg's own command-line tools: frame count, size,
// codec, rate and the first frame's colours.

#include "volume/MovieFiles.h"

#include "support/TestSupport.h"

#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>

namespace tarvicon {
namespace {

namespace fs = std::filesystem;
using test::ErrorOf;

// A smooth colour picture: red across, green down, blue with the frame, so a swap of red and
// blue or a wrong colour matrix shows.
TBitmap32 Smooth(int width, int height, int frame) {
    TBitmap32 picture(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint32_t red = std::uint32_t(40 + x * 160 / width);
            const std::uint32_t green = std::uint32_t(200 - y * 150 / height);
            const std::uint32_t blue = std::uint32_t(60 + 8 * frame);
            picture.Bits()[y * width + x] = 0xFF000000 | red << 16 | green << 8 | blue;
        }
    return picture;
}

// ffprobe's "key=value" lines of the video stream.
std::map<std::string, std::string> Probe(const fs::path& path) {
    const test::TProcessResult probe = test::RunProcess(
        {"ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
         "stream=codec_name,width,height,nb_read_frames,r_frame_rate,pix_fmt", "-of",
         "default=noprint_wrappers=1", path.string()});
    EXPECT_EQ(probe.Status, 0) << probe.Err;
    std::map<std::string, std::string> values;
    std::size_t at = 0;
    while (at < probe.Out.size()) {
        std::size_t end = probe.Out.find('\n', at);
        if (end == std::string::npos) end = probe.Out.size();
        const std::string line = probe.Out.substr(at, end - at);
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
        at = end + 1;
    }
    return values;
}

// The first frame as FFmpeg decodes it, 3 bytes R, G, B per pixel, converted with exact
// rounding (the default conversion alone is off by a level or two).
std::string FirstFrameRgb(const fs::path& path) {
    const test::TProcessResult decoded = test::RunProcess(
        {"ffmpeg", "-v", "error", "-i", path.string(), "-sws_flags", "bicubic+accurate_rnd+full_chroma_int",
         "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    EXPECT_EQ(decoded.Status, 0) << decoded.Err;
    return decoded.Out;
}

TEST(MovieWriter, WritesFramesThatFfmpegDecodesBackToThePictures) {
    struct TCase {
        const char* Name;
        int Width, Height;
        const char* Codec;
    };
    const TCase cases[] = {{"even.mp4", 64, 48, "h264"},
                           {"even.webm", 64, 48, "vp9"},
                           {"odd.MP4", 63, 47, "h264"},
                           {"odd.webm", 63, 47, "vp9"}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const test::TTempDir folder;
        const fs::path path = folder.Path() / c.Name;
        {
            TMovieWriter movie(path.string(), c.Width, c.Height, 10);
            for (int f = 0; f < 12; ++f) movie.AddFrame(Smooth(c.Width, c.Height, f));
            EXPECT_EQ(movie.FrameCount(), 12);
            movie.Finish();
        }
        ASSERT_TRUE(fs::exists(path));
        EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()), 1)
            << "a temporary file stayed";

        // Odd sizes grow by the black padding.
        const int width = c.Width + c.Width % 2, height = c.Height + c.Height % 2;
        const std::map<std::string, std::string> probe = Probe(path);
        EXPECT_EQ(probe.count("codec_name") ? probe.at("codec_name") : "", c.Codec);
        EXPECT_EQ(probe.count("width") ? probe.at("width") : "", std::to_string(width));
        EXPECT_EQ(probe.count("height") ? probe.at("height") : "", std::to_string(height));
        EXPECT_EQ(probe.count("nb_read_frames") ? probe.at("nb_read_frames") : "", "12");
        EXPECT_EQ(probe.count("r_frame_rate") ? probe.at("r_frame_rate") : "", "10/1");
        EXPECT_EQ(probe.count("pix_fmt") ? probe.at("pix_fmt") : "", "yuv420p");

        const std::string rgb = FirstFrameRgb(path);
        ASSERT_EQ(rgb.size(), std::size_t(width * height * 3));
        const TBitmap32 picture = Smooth(c.Width, c.Height, 0);
        double difference = 0;
        for (int y = 0; y < c.Height; ++y)
            for (int x = 0; x < c.Width; ++x) {
                const std::uint32_t colour = picture.Pixel(x, y);
                const auto* decoded =
                    reinterpret_cast<const unsigned char*>(rgb.data()) + (y * width + x) * 3;
                difference += std::abs(int(decoded[0]) - int(colour >> 16 & 0xFF)) +
                              std::abs(int(decoded[1]) - int(colour >> 8 & 0xFF)) +
                              std::abs(int(decoded[2]) - int(colour & 0xFF));
            }
        EXPECT_LT(difference / (3.0 * c.Width * c.Height), 3.0) << "mean difference in levels";
        if (width != c.Width) {
            // The padding column is dark (chroma is shared with the picture's last column).
            double luma = 0;
            for (int y = 0; y < c.Height; ++y) {
                const auto* pad =
                    reinterpret_cast<const unsigned char*>(rgb.data()) + (y * width + c.Width) * 3;
                luma += 0.2126 * pad[0] + 0.7152 * pad[1] + 0.0722 * pad[2];
            }
            EXPECT_LT(luma / c.Height, 16.0);
        }
    }
}

TEST(MovieWriter, LeavesNoFileWhenNotFinished) {
    for (const char* name : {"cancelled.mp4", "cancelled.webm"}) {
        const test::TTempDir folder;
        const fs::path path = folder.Path() / name;
        const fs::path older = folder.Path() / ("older-" + std::string(name));
        test::WriteFile(older, "the older file");
        {
            TMovieWriter fresh(path.string(), 32, 32, 10);
            TMovieWriter replacing(older.string(), 32, 32, 10);
            for (int f = 0; f < 5; ++f) {
                fresh.AddFrame(Smooth(32, 32, f));
                replacing.AddFrame(Smooth(32, 32, f));
            }
        }
        EXPECT_FALSE(fs::exists(path)) << name;
        EXPECT_EQ(test::ReadFile(older), "the older file") << name;
        EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()), 1)
            << "a temporary file stayed";
    }
}

TEST(MovieWriter, KnowsItsNamesAndRefusesOthers) {
    for (const char* name : {"a.mp4", "A.MP4", "b.WebM", "c/d.e/f.webm"})
        EXPECT_TRUE(IsMovieName(name)) << name;
    for (const char* name : {"a.gif", "mp4", "a.mp4.bak", "a.mp4/b", "a.webm ", ""})
        EXPECT_FALSE(IsMovieName(name)) << name;

    const test::TTempDir folder;
    const std::string gif = (folder.Path() / "turn.gif").string();
    EXPECT_EQ(ErrorOf([&] { TMovieWriter(gif, 32, 32, 10); }), "Unknown movie file extension: " + gif);
    EXPECT_TRUE(fs::is_empty(folder.Path()));

    TMovieWriter movie((folder.Path() / "turn.mp4").string(), 32, 32, 10);
    movie.AddFrame(Smooth(32, 32, 0));
    EXPECT_EQ(ErrorOf([&] { movie.AddFrame(Smooth(32, 30, 0)); }), "Movie frames differ in size");
    EXPECT_EQ(movie.FrameCount(), 1);
}

} // namespace
} // namespace tarvicon
