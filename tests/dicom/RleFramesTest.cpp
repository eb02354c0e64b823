#include "dicom/FrameCodecs.h"
#include "support/TestSupport.h"
#include "util/Errors.h"

#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sstream>

namespace tarvicon {
namespace {

namespace fs = std::filesystem;

fs::path RleFixtures() {
    return test::Fixtures() / "codecs" / "rle";
}

struct TFixtureFrame {
    std::string Name;
    TFrameLayout Layout;
    std::string Codestream, Expected; // file names
};

// manifest.tsv of codec_fixtures_rle.py, past its heading line.
std::vector<TFixtureFrame> ReadManifest() {
    std::ifstream in(RleFixtures() / "manifest.tsv");
    std::vector<TFixtureFrame> frames;
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        TFixtureFrame f;
        int isSigned = 0;
        fields >> f.Name >> f.Layout.Columns >> f.Layout.Rows >> f.Layout.Samples >>
            f.Layout.BytesPerSample >> f.Layout.BitsStored >> isSigned >> f.Layout.Photometric >>
            f.Codestream >> f.Expected;
        f.Layout.Signed = isSigned != 0;
        frames.push_back(f);
    }
    return frames;
}

std::span<const std::uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// Decodes into a buffer with guard bytes behind the frame, which must stay as they were.
std::string Decode(const std::string& stream, const TFrameLayout& layout) {
    constexpr std::size_t kGuard = 32;
    std::vector<std::uint8_t> out(layout.FrameBytes() + kGuard, 0xEE);
    DecodeRleFrame(Bytes(stream), layout, std::span(out).first(layout.FrameBytes()));
    EXPECT_TRUE(std::all_of(out.end() - kGuard, out.end(), [](std::uint8_t b) { return b == 0xEE; }))
        << "written past the frame";
    return {out.begin(), out.end() - kGuard};
}

TFrameLayout Layout(int columns, int rows, int samples = 1, int bytesPerSample = 1) {
    return {columns,
            rows,
            samples,
            bytesPerSample,
            bytesPerSample * 8,
            false,
            samples == 3 ? "RGB" : "MONOCHROME2"};
}

// Bytes written as numbers and characters.
std::string Codes(std::initializer_list<int> bytes) {
    std::string s;
    for (const int b : bytes) s += char(b);
    return s;
}

std::string Le32(std::uint32_t v) {
    return {char(v & 0xFF), char(v >> 8 & 0xFF), char(v >> 16 & 0xFF), char(v >> 24)};
}

// A frame of the given segments, their offsets in order after the 64-byte header.
std::string RleFrame(const std::vector<std::string>& segments) {
    std::string header = Le32(std::uint32_t(segments.size())), body;
    for (const std::string& segment : segments) {
        header += Le32(std::uint32_t(64 + body.size()));
        body += segment;
    }
    header.resize(64, '\0');
    return header + body;
}

std::string Overwrite32(std::string frame, std::size_t at, std::uint32_t value) {
    frame.replace(at, 4, Le32(value));
    return frame;
}

// dcmcrle's encodings of numpy images (8 and 16-bit grey, signed, RGB, a multi-frame file) and
// pydicom's own RLE files (also a 32-bit dose grid), against the source pixels and dcmdrle's
// decoding.
TEST(RleFrames, DecodesDcmtkAndPydicomFrames) {
    const std::vector<TFixtureFrame> frames = ReadManifest();
    ASSERT_GE(frames.size(), 15u) << "fixtures missing in " << RleFixtures();
    for (const TFixtureFrame& f : frames) {
        SCOPED_TRACE(f.Name);
        const std::string expected = test::ReadFile(RleFixtures() / f.Expected);
        ASSERT_EQ(expected.size(), f.Layout.FrameBytes());
        const std::string decoded = Decode(test::ReadFile(RleFixtures() / f.Codestream), f.Layout);
        const auto [a, b] = std::mismatch(decoded.begin(), decoded.end(), expected.begin());
        EXPECT_EQ(a, decoded.end()) << "first difference at byte " << (a - decoded.begin());
    }
}

// The PackBits codes one by one on a 6-byte plane, including the no-op code dcmcrle never writes.
TEST(RleFrames, PackBitsCodes) {
    const struct {
        const char* Name;
        std::string Segment;
        std::string Plane;
    } cases[] = {
        {"literals", Codes({0x05, 'a', 'b', 'c', 'd', 'e', 'f'}), "abcdef"},
        {"one run", Codes({0xFB, 'x'}), "xxxxxx"},
        {"run of two, literal of one", Codes({0xFF, 'a', 0x00, 'b', 0xFD, 'c'}), "aabccc"},
        {"no-op codes are skipped", Codes({0x80, 0x02, 'a', 'b', 'c', 0x80, 0xFE, 'd'}), "abcddd"},
        {"a run past the plane is cut", Codes({0x01, 'a', 'b', 0x81, 'z'}), "abzzzz"},
        {"a literal past the plane is cut", Codes({0x07, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'}), "abcdef"},
        {"bytes after a full plane are ignored", Codes({0xFB, 'x', 0x00}), "xxxxxx"},
    };
    for (const auto& c : cases) EXPECT_EQ(Decode(RleFrame({c.Segment}), Layout(3, 2)), c.Plane) << c.Name;
}

// Segment order: per sample, most significant byte first; the output is interleaved, 16-bit
// samples little endian. A segment that runs past its plane writes nothing into the others'.
TEST(RleFrames, PlanesGoToTheirSampleAndByte) {
    const std::string red = Codes({0x81, 'R'}), green = Codes({0x01, 'g', 'G'}), blue = Codes({0xFF, 'B'});
    EXPECT_EQ(Decode(RleFrame({red, green, blue}), Layout(2, 1, 3)), "RgBRGB");
    EXPECT_EQ(Decode(RleFrame({red, green, Codes({0x80, 0xF0, 'B'})}), Layout(2, 1, 3)), "RgBRGB");

    const std::string high = Codes({0x01, 0x12, 0x34}), low = Codes({0x01, 0x56, 0x78});
    EXPECT_EQ(Decode(RleFrame({high, low}), Layout(2, 1, 1, 2)), Codes({0x56, 0x12, 0x78, 0x34}));
    const std::string ones = Codes({0xFF, 0x01}), twos = Codes({0xFF, 0x02});
    EXPECT_EQ(Decode(RleFrame({ones, twos, twos, ones, ones, ones}), Layout(2, 1, 3, 2)),
              Codes({0x02, 0x01, 0x01, 0x02, 0x01, 0x01, 0x02, 0x01, 0x01, 0x02, 0x01, 0x01}));
}

TEST(RleFrames, RefusesBrokenFrames) {
    const std::string grey = RleFrame({Codes({0xFB, 'x'})}); // 6 bytes, one segment
    const std::string rgb =
        RleFrame({Codes({0xFB, 'r'}), Codes({0xFB, 'g'}), Codes({0xFB, 'b'})}); // segments at 64, 66, 68
    const struct {
        const char* Name;
        std::string Frame;
        TFrameLayout Layout;
        const char* Message;
    } cases[] = {
        {"shorter than the header", grey.substr(0, 40), Layout(3, 2), "shorter than its 64-byte header"},
        {"no segments", Overwrite32(grey, 0, 0), Layout(3, 2), "RLE frame has 0 segments; the image needs 1"},
        {"grey frame for a colour image", grey, Layout(3, 2, 3), "has 1 segments; the image needs 3"},
        {"8-bit frame for a 16-bit image", rgb, Layout(3, 2, 1, 2), "has 3 segments; the image needs 2"},
        {"segment count beyond fifteen", Overwrite32(grey, 0, 0xFFFFFFFF), Layout(3, 2),
         "has 4294967295 segments"},
        {"offset past the fragment", Overwrite32(rgb, 8, 71), Layout(3, 2, 3),
         "RLE segment 2 starts outside its fragment"},
        {"offset into the header", Overwrite32(grey, 4, 12), Layout(3, 2),
         "RLE segment 1 starts outside its fragment"},
        {"offsets out of order", Overwrite32(rgb, 12, 65), Layout(3, 2, 3),
         "RLE segment 3 starts before RLE segment 2"},
        {"run without its value", grey.substr(0, 65), Layout(3, 2),
         "RLE segment 1 ends after 0 of its 6 bytes"},
        {"segment short of its plane", grey, Layout(4, 2), "RLE segment 1 ends after 6 of its 8 bytes"},
        {"last segment truncated", rgb.substr(0, 69), Layout(3, 2, 3),
         "RLE segment 3 ends after 0 of its 6 bytes"},
        {"empty middle segment", Overwrite32(rgb, 8, 68), Layout(3, 2, 3),
         "RLE segment 2 ends after 0 of its 6 bytes"},
        {"literal cut by the segment's end", RleFrame({Codes({0x05, 'a', 'b', 'c'})}), Layout(3, 2),
         "ends after 3 of its 6 bytes"},
        {"24-bit samples", RleFrame({"", "", ""}), Layout(3, 2, 1, 3),
         "RLE frames of 24-bit samples are not supported"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string message = test::ErrorOf([&] { Decode(c.Frame, c.Layout); });
        EXPECT_NE(message.find(c.Message), std::string::npos) << message;
    }
}

// Frames cut anywhere and random segment bytes behind a valid header: a decoded frame or an
// error, never a read or write outside the buffers (the sanitizer build watches).
TEST(RleFrames, CutAndRandomFramesNeverOverrun) {
    const std::string whole = test::ReadFile(RleFixtures() / "rgb8.rle");
    ASSERT_GT(whole.size(), 64u);
    const TFrameLayout rgb = Layout(53, 41, 3);
    for (std::size_t length = 0; length < whole.size(); length += 7) {
        std::string cut(whole.substr(0, length));
        cut.shrink_to_fit();
        EXPECT_THROW(Decode(cut, rgb), WException) << length;
    }

    std::mt19937 random(7);
    const TFrameLayout grey16 = Layout(9, 7, 1, 2);
    for (int round = 0; round < 500; ++round) {
        std::vector<std::string> segments(2);
        for (std::string& segment : segments) {
            segment.resize(random() % 80);
            for (char& c : segment) c = char(random());
        }
        std::string frame = RleFrame(segments);
        frame.shrink_to_fit();
        try {
            EXPECT_EQ(Decode(frame, grey16).size(), grey16.FrameBytes());
        } catch (const WException&) {
        }
    }
}

} // namespace
} // namespace tarvicon
