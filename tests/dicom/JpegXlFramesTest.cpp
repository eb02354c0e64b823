#include "dicom/FrameCodecs.h"
#include "support/TestSupport.h"
#include "util/Errors.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace tarvicon {
namespace {

namespace fs = std::filesystem;

fs::path JxlFixtures() {
    return test::Fixtures() / "codecs" / "jxl";
}

struct TFixtureFrame {
    std::string Name;
    TFrameLayout Layout;
    std::string Codestream, Expected; // file names
    int MaxError = 0;
};

// manifest.tsv of codec_fixtures_jxl.py, past its heading line.
std::vector<TFixtureFrame> ReadManifest() {
    std::ifstream in(JxlFixtures() / "manifest.tsv");
    std::vector<TFixtureFrame> frames;
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        TFixtureFrame f;
        int isSigned = 0;
        fields >> f.Name >> f.Layout.Columns >> f.Layout.Rows >> f.Layout.Samples >>
            f.Layout.BytesPerSample >> f.Layout.BitsStored >> isSigned >> f.Layout.Photometric >>
            f.Codestream >> f.Expected >> f.MaxError;
        f.Layout.Signed = isSigned != 0;
        frames.push_back(f);
    }
    return frames;
}

TFixtureFrame Fixture(const std::string& name) {
    for (const TFixtureFrame& f : ReadManifest())
        if (f.Name == name) return f;
    ADD_FAILURE() << "no fixture " << name << " in " << JxlFixtures();
    return {};
}

// Decodes into a buffer with guard bytes behind the frame, which must stay as they were.
std::vector<std::uint8_t> Decode(const std::string& stream, const TFrameLayout& layout) {
    constexpr std::size_t kGuard = 32;
    std::vector<std::uint8_t> out(layout.FrameBytes() + kGuard, 0xEE);
    DecodeJpegXlFrame({reinterpret_cast<const std::uint8_t*>(stream.data()), stream.size()}, layout,
                      std::span(out).first(layout.FrameBytes()));
    EXPECT_TRUE(std::all_of(out.end() - kGuard, out.end(), [](std::uint8_t b) { return b == 0xEE; }))
        << "written past the frame";
    out.resize(layout.FrameBytes());
    return out;
}

// Samples of 1 or 2 bytes (little endian) as numbers.
std::vector<int> Samples(std::span<const std::uint8_t> bytes, int bytesPerSample) {
    std::vector<int> samples;
    for (std::size_t i = 0; i + bytesPerSample <= bytes.size(); i += bytesPerSample)
        samples.push_back(bytesPerSample == 1 ? bytes[i] : bytes[i] | bytes[i + 1] << 8);
    return samples;
}

void ExpectSamplesNear(const std::vector<int>& decoded, const std::vector<int>& expected, int maxError) {
    ASSERT_EQ(decoded.size(), expected.size());
    for (std::size_t i = 0; i < decoded.size(); ++i)
        ASSERT_LE(std::abs(decoded[i] - expected[i]), maxError)
            << "sample " << i << ": " << decoded[i] << " instead of " << expected[i];
}

// cjxl's lossless frames (8, 12 and 16-bit grey, 8-bit RGB) against the source pixels, and a
// lossy one against djxl's decoding.
TEST(JpegXlFrames, DecodesCjxlFrames) {
    const std::vector<TFixtureFrame> frames = ReadManifest();
    ASSERT_EQ(frames.size(), 5u) << "fixtures missing in " << JxlFixtures();
    for (const TFixtureFrame& f : frames) {
        SCOPED_TRACE(f.Name);
        const std::string expected = test::ReadFile(JxlFixtures() / f.Expected);
        ASSERT_EQ(expected.size(), f.Layout.FrameBytes());
        const int bytes = f.Layout.BytesPerSample;
        ExpectSamplesNear(
            Samples(Decode(test::ReadFile(JxlFixtures() / f.Codestream), f.Layout), bytes),
            Samples({reinterpret_cast<const std::uint8_t*>(expected.data()), expected.size()}, bytes),
            f.MaxError);
    }
}

// An 8-bit codestream in an image of 16-bit words keeps its values (libjxl would spread them
// over the words' range).
TEST(JpegXlFrames, NarrowSamplesInWideWords) {
    const TFixtureFrame grey = Fixture("gray8");
    TFrameLayout wide = grey.Layout;
    wide.BytesPerSample = 2;
    const std::string expected = test::ReadFile(JxlFixtures() / grey.Expected);
    ExpectSamplesNear(Samples(Decode(test::ReadFile(JxlFixtures() / grey.Codestream), wide), 2),
                      Samples({reinterpret_cast<const std::uint8_t*>(expected.data()), expected.size()}, 1),
                      0);
}

TEST(JpegXlFrames, RefusesFramesThatDisagreeWithTheLayout) {
    const TFixtureFrame grey = Fixture("gray8"), grey16 = Fixture("gray16"), rgb = Fixture("rgb8");
    const auto with = [](TFrameLayout layout, auto change) {
        change(layout);
        return layout;
    };
    const struct {
        const char* Name;
        const TFixtureFrame& Frame;
        TFrameLayout Layout;
        const char* Message;
    } cases[] = {
        {"wider image", grey, with(grey.Layout, [](auto& l) { ++l.Columns; }),
         "JPEG XL frame is 67 x 45 pixels; the image is 68 x 45"},
        {"shorter image", grey, with(grey.Layout, [](auto& l) { --l.Rows; }), "the image is 67 x 44"},
        {"grey frame, colour image", grey, with(grey.Layout, [](auto& l) { l.Samples = 3; }),
         "JPEG XL frame has 1 colour channels; the image has 3 samples per pixel"},
        {"colour frame, grey image", rgb, with(rgb.Layout, [](auto& l) { l.Samples = 1; }),
         "JPEG XL frame has 3 colour channels; the image has 1 samples per pixel"},
        {"16-bit frame, 8-bit image", grey16, with(grey16.Layout, [](auto& l) { l.BytesPerSample = 1; }),
         "JPEG XL frame holds 16-bit samples; the image stores 8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string stream = test::ReadFile(JxlFixtures() / c.Frame.Codestream);
        const std::string message = test::ErrorOf([&] { Decode(stream, c.Layout); });
        EXPECT_NE(message.find(c.Message), std::string::npos) << message;
    }
}

// Cut streams, foreign bytes and damage: an error, never a read or write outside the buffers (the
// sanitizer build watches).
TEST(JpegXlFrames, RefusesBrokenStreams) {
    const TFixtureFrame rgb = Fixture("rgb8");
    const std::string whole = test::ReadFile(JxlFixtures() / rgb.Codestream);
    const auto errorOf = [&](std::string stream) {
        stream.shrink_to_fit();
        return test::ErrorOf([&] { Decode(stream, rgb.Layout); });
    };
    EXPECT_EQ(errorOf(""), "JPEG XL frame is empty");
    EXPECT_EQ(errorOf(whole.substr(0, whole.size() / 2)), "JPEG XL frame ends before its image is complete");
    EXPECT_NE(errorOf(std::string(200, 'x')).find("JPEG XL frame cannot be decoded"), std::string::npos);
    for (std::size_t length = 1; length < whole.size(); length += 37)
        EXPECT_THROW(Decode(whole.substr(0, length), rgb.Layout), WException) << length;

    // Bits flipped inside the entropy-coded data: decoded, or refused, but nothing else.
    for (std::size_t at = whole.size() / 4; at < whole.size(); at += whole.size() / 7) {
        std::string damaged = whole;
        damaged[at] = char(damaged[at] ^ 0x5A);
        try {
            Decode(damaged, rgb.Layout);
        } catch (const WException&) {
        }
    }
}

} // namespace
} // namespace tarvicon
