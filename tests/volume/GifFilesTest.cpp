// The GIF writer read back with giflib's own decoder; the nearest-colour mapping against a plain
// search; whole-or-nothing writes of every picture writer, down to a full disk.

#include "volume/GifFiles.h"

#include "support/GifReading.h"
#include "support/TestSupport.h"
#include "volume/MovieFiles.h"
#include "volume/PictureFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <random>
#include <sys/mount.h>

namespace tarvicon {
namespace {

using test::LoopCount;
using test::ReadGif;
using test::TGif;

namespace fs = std::filesystem;
using test::ErrorOf;

// A palette of few colours: the rest of the entries repeat black.
TGifPalette FewColours() {
    TGifPalette palette{};
    palette[1] = 0xFF0000;
    palette[2] = 0x00FF00;
    palette[3] = 0x0000FF;
    palette[4] = 0xFF0000; // repeats 1
    palette[5] = 0x808080;
    palette[6] = 0xFFFFFF;
    return palette;
}

// The colour mapping's kind of palette: a ramp from black to orange, flat at both ends.
TGifPalette OrangeRamp() {
    TGifPalette palette{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        const std::uint32_t level = i < 40 ? 0 : i > 200 ? 255 : (i - 40) * 255 / 160;
        palette[i] = level << 16 | (level / 2) << 8;
    }
    return palette;
}

TGifPalette GreyRamp() {
    TGifPalette palette{};
    for (std::uint32_t i = 0; i < 256; ++i) palette[i] = i * 0x010101;
    return palette;
}

TGifPalette RandomPalette(std::uint32_t seed) {
    std::mt19937 random(seed);
    TGifPalette palette{};
    for (std::uint32_t& entry : palette) entry = random() & 0xFFFFFF;
    return palette;
}

// The plain search the mapper must agree with.
std::uint8_t NearestByScan(const TGifPalette& palette, std::uint32_t colour) {
    int best = 0, bestDistance = 1 << 30;
    for (int i = 0; i < 256; ++i) {
        const std::uint32_t e = palette[std::size_t(i)];
        const int dr = int(colour >> 16 & 0xFF) - int(e >> 16 & 0xFF);
        const int dg = int(colour >> 8 & 0xFF) - int(e >> 8 & 0xFF);
        const int db = int(colour & 0xFF) - int(e & 0xFF);
        if (dr * dr + dg * dg + db * db < bestDistance) {
            bestDistance = dr * dr + dg * dg + db * db;
            best = i;
        }
    }
    return std::uint8_t(best);
}

TEST(PaletteMapper, FindsTheNearestEntryAndTheLowestIndexOnATie) {
    struct TCase {
        std::uint32_t Colour;
        std::uint8_t Index;
    };
    const TCase cases[] = {
        {0x000000, 0},                                                // exact, repeated by every unused entry
        {0xFF0000, 1},                                                // exact, repeated by entry 4
        {0x00FF00, 2}, {0x808080, 5}, {0xFFFFFF, 6}, {0xAB00FF00, 2}, // alpha plays no part
        {0x404040, 0},                                                // halfway between black and grey
        {0x414141, 5},                                                // a step nearer to grey
        {0x7F0000, 0},                                                // between black and red, nearer black
        {0x810000, 1},                                                // nearer red
        {0xC0C0C0, 6}, // nearer white (3 × 63²) than grey (3 × 64²)
    };
    TPaletteMapper mapper(FewColours());
    for (const TCase& c : cases) {
        EXPECT_EQ(mapper.IndexOf(c.Colour), c.Index) << std::hex << c.Colour;
        EXPECT_EQ(mapper.IndexOf(c.Colour), c.Index) << "remembered " << std::hex << c.Colour;
    }
}

TEST(PaletteMapper, AgreesWithAPlainSearchOnEveryKindOfPalette) {
    const std::pair<const char*, TGifPalette> palettes[] = {{"few colours", FewColours()},
                                                            {"orange ramp", OrangeRamp()},
                                                            {"grey ramp", GreyRamp()},
                                                            {"random", RandomPalette(7)}};
    std::mt19937 random(11);
    for (const auto& [name, palette] : palettes) {
        TPaletteMapper mapper(palette);
        // Enough colours for the memo to grow several times.
        for (int i = 0; i < 60000; ++i) {
            const std::uint32_t colour = random();
            ASSERT_EQ(mapper.IndexOf(colour), NearestByScan(palette, colour & 0xFFFFFF))
                << name << " " << std::hex << colour;
        }
        for (std::uint32_t grey = 0; grey < 256; ++grey)
            ASSERT_EQ(mapper.IndexOf(grey * 0x010101), NearestByScan(palette, grey * 0x010101))
                << name << " grey " << grey;
    }
}

TEST(PaletteMapper, MapsPicturesOfMoreColoursThanItRemembers) {
    // 655360 colours, all different: the memo fills and starts over.
    const TGifPalette palette = RandomPalette(5);
    TBitmap32 picture(1024, 640);
    for (std::uint32_t i = 0; i < 1024 * 640; ++i)
        picture.Bits()[i] = 0xFF000000 | (i * 0x9E3779u & 0xFFFFFF);
    TPaletteMapper mapper(palette);
    std::vector<std::uint8_t> indices;
    for (int pass = 0; pass < 2; ++pass) {
        mapper.Map(picture, indices);
        for (std::uint32_t i = 0; i < 1024 * 640; ++i)
            ASSERT_EQ(indices[i], NearestByScan(palette, picture.Bits()[i] & 0xFFFFFF)) << "pixel " << i;
    }
}

TEST(PaletteMapper, MapsEveryPixelRowsTopFirst) {
    TBitmap32 picture(3, 2);
    const std::uint32_t pixels[] = {0xFF000000, 0xFFFF0000, 0xFFFF0000, 0xFF0000FF, 0xFFFFFFFF, 0xFF7F0000};
    std::memcpy(picture.Bits(), pixels, sizeof pixels);
    TPaletteMapper mapper(FewColours());
    std::vector<std::uint8_t> indices;
    mapper.Map(picture, indices);
    EXPECT_EQ(indices, (std::vector<std::uint8_t>{0, 1, 1, 3, 6, 0}));
}

// Frame f of a turning picture: every frame differs, and the orange ramp meets colours between
// its entries.
TBitmap32 Turning(int width, int height, int f) {
    TBitmap32 picture(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint32_t level = std::uint32_t((x * 7 + y * 3 + f * 5) % 256);
            picture.Bits()[y * width + x] = 0xFF000000 | level << 16 | (level * 3 / 5) << 8 | (f & 0x1F);
        }
    return picture;
}

TEST(GifObject, WritesAnEndlessGif89aOfAllFramesReadBackByGiflib) {
    struct TCase {
        int Frames, Width, Height, Delay;
    };
    for (const TCase c : {TCase{72, 48, 32, 10}, TCase{3, 17, 5, 25}}) {
        SCOPED_TRACE(std::to_string(c.Frames) + " frames");
        const TGifPalette palette = OrangeRamp();
        TGifObject gif(palette, c.Delay);
        TPaletteMapper mapper(palette);
        std::vector<std::vector<std::uint8_t>> expected(std::size_t(c.Frames));
        for (int f = 0; f < c.Frames; ++f) {
            EXPECT_EQ(gif.AddFrame(Turning(c.Width, c.Height, f)), f);
            mapper.Map(Turning(c.Width, c.Height, f), expected[std::size_t(f)]);
        }
        EXPECT_EQ(gif.FrameCount(), c.Frames);
        const test::TTempDir folder;
        const fs::path path = folder.Path() / "turn.gif";
        gif.SaveToFile(path.string());

        EXPECT_EQ(test::ReadFile(path).substr(0, 6), "GIF89a");
        const TGif read = ReadGif(path);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->SWidth, c.Width);
        EXPECT_EQ(read->SHeight, c.Height);
        ASSERT_NE(read->SColorMap, nullptr);
        ASSERT_EQ(read->SColorMap->ColorCount, 256);
        for (std::size_t i = 0; i < 256; ++i) {
            const GifColorType& colour = read->SColorMap->Colors[i];
            EXPECT_EQ(std::uint32_t(colour.Red) << 16 | std::uint32_t(colour.Green) << 8 | colour.Blue,
                      palette[i])
                << "entry " << i;
        }
        ASSERT_EQ(read->ImageCount, c.Frames);
        for (int f = 0; f < c.Frames; ++f) {
            const SavedImage& image = read->SavedImages[f];
            EXPECT_EQ(image.ImageDesc.Left, 0);
            EXPECT_EQ(image.ImageDesc.Top, 0);
            EXPECT_EQ(image.ImageDesc.Width, c.Width);
            EXPECT_EQ(image.ImageDesc.Height, c.Height);
            EXPECT_EQ(image.ImageDesc.ColorMap, nullptr) << "frame " << f << " has its own colours";
            GraphicsControlBlock control{};
            ASSERT_EQ(DGifSavedExtensionToGCB(read.get(), f, &control), GIF_OK) << "frame " << f;
            EXPECT_EQ(control.DelayTime, c.Delay) << "frame " << f;
            EXPECT_EQ(control.TransparentColor, NO_TRANSPARENT_COLOR);
            EXPECT_EQ(LoopCount(image), f == 0 ? std::optional<int>(0) : std::nullopt) << "frame " << f;
            const std::vector<std::uint8_t> pixels(image.RasterBits, image.RasterBits + c.Width * c.Height);
            EXPECT_EQ(pixels, expected[std::size_t(f)]) << "frame " << f;
        }
    }
}

TEST(GifObject, RefusesFramesOfAnotherSizeAndEmptyOnes) {
    TGifObject gif(GreyRamp());
    EXPECT_EQ(ErrorOf([&] { gif.AddFrame(TBitmap32()); }), "The picture is empty");
    EXPECT_EQ(ErrorOf([&] { gif.SaveToFile("never.gif"); }), "The picture is empty");
    gif.AddFrame(TBitmap32(8, 6));
    EXPECT_EQ(ErrorOf([&] { gif.AddFrame(TBitmap32(6, 8)); }), "GIF frames differ in size");
    EXPECT_EQ(ErrorOf([&] { gif.AddFrame(TBitmap32(8, 7)); }), "GIF frames differ in size");
    EXPECT_EQ(gif.FrameCount(), 1);
    EXPECT_FALSE(fs::exists("never.gif"));
}

// Noise compresses badly: every writer needs well over 64 KiB for it.
TBitmap32 Noise(int width, int height, std::uint32_t seed) {
    std::mt19937 random(seed);
    TBitmap32 picture(width, height);
    for (int i = 0; i < width * height; ++i) picture.Bits()[i] = 0xFF000000 | (random() & 0xFFFFFF);
    return picture;
}

struct TWriter {
    const char* Name;
    std::function<void(const std::string& path)> Write;
};

std::vector<TWriter> Writers() {
    return {
        {"picture.gif",
         [](const std::string& path) {
             TGifObject gif(RandomPalette(3));
             for (std::uint32_t f = 0; f < 3; ++f) gif.AddFrame(Noise(256, 256, f));
             gif.SaveToFile(path);
         }},
        {"picture.jpg", [](const std::string& path) { SaveJpeg(Noise(512, 512, 1), path); }},
        {"picture.bmp", [](const std::string& path) { SaveBmp(Noise(256, 256, 1), path); }},
        {"movie.mp4",
         [](const std::string& path) {
             TMovieWriter movie(path, 256, 256, 10);
             for (std::uint32_t f = 0; f < 12; ++f) movie.AddFrame(Noise(256, 256, f));
             movie.Finish();
         }},
        {"movie.webm",
         [](const std::string& path) {
             TMovieWriter movie(path, 256, 256, 10);
             for (std::uint32_t f = 0; f < 12; ++f) movie.AddFrame(Noise(256, 256, f));
             movie.Finish();
         }},
    };
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(WholeFileWrite, EveryWriterWritesItsFileAndNothingElse) {
    for (const TWriter& writer : Writers()) {
        const test::TTempDir folder;
        const fs::path path = folder.Path() / writer.Name;
        test::WriteFile(path, "the older file");
        writer.Write(path.string());
        EXPECT_EQ(Names(folder.Path()), std::vector<std::string>{writer.Name});
        EXPECT_GT(fs::file_size(path), 65536u) << writer.Name;
    }
}

TEST(WholeFileWrite, AMissingFolderIsReportedWithTheDestinationsName) {
    const test::TTempDir folder;
    for (const TWriter& writer : Writers()) {
        const std::string path = (folder.Path() / "missing" / writer.Name).string();
        EXPECT_EQ(ErrorOf([&] { writer.Write(path); }),
                  "Cannot create file \"" + path + "\". No such file or directory");
    }
    EXPECT_TRUE(fs::is_empty(folder.Path()));
}

// A file system of 64 KiB of its own, mounted where the system lets the tests mount (as root).
class FullDisk : public ::testing::Test {
protected:
    void SetUp() override {
        if (::mount("tmpfs", folder_.Path().c_str(), "tmpfs", 0, "size=64k") != 0)
            GTEST_SKIP() << "cannot mount a small tmpfs: " << std::strerror(errno);
        mounted_ = true;
    }
    void TearDown() override {
        if (mounted_) ::umount2(folder_.Path().c_str(), MNT_DETACH);
    }
    const fs::path& Folder() const { return folder_.Path(); }

private:
    test::TTempDir folder_;
    bool mounted_ = false;
};

TEST_F(FullDisk, AFailedWriteLeavesNoFileAndTheOlderOneAsItWas) {
    for (const TWriter& writer : Writers()) {
        SCOPED_TRACE(writer.Name);
        const fs::path fresh = Folder() / ("fresh-" + std::string(writer.Name));
        const std::string freshError = ErrorOf([&] { writer.Write(fresh.string()); });
        EXPECT_EQ(freshError.rfind("Cannot write file \"" + fresh.string() + "\". ", 0), 0u) << freshError;
        EXPECT_NE(freshError.find("No space left on device"), std::string::npos) << freshError;
        EXPECT_TRUE(fs::is_empty(Folder()));

        const fs::path older = Folder() / writer.Name;
        test::WriteFile(older, "the older file");
        EXPECT_NE(ErrorOf([&] { writer.Write(older.string()); }), "");
        EXPECT_EQ(test::ReadFile(older), "the older file");
        EXPECT_EQ(Names(Folder()), std::vector<std::string>{writer.Name});
        fs::remove(older);
    }
}

} // namespace
} // namespace tarvicon
